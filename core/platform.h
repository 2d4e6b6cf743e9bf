// Calling convention and symbol visibility of the two libraries' exports.
#pragma once

#if defined(_WIN32)
// The toolkit is a 32-bit Windows process: its core library and its format
// drivers speak __stdcall, and the core's objects are COM-style. A method
// then takes `this` as its first stack argument and pops its own arguments,
// and an interface's table holds one slot per method in declaration order (no
// virtual destructor), which MSVC and GCC lay out alike.
#define ZOLV_STDCALL __stdcall
#if defined(ZOLV_BUILDING_CORE)
#define ZOLV_CORE_API __declspec(dllexport)
#elif defined(ZOLV_CORE_STATIC)
// Linked into the same program (the fake core of the tests): no import.
#define ZOLV_CORE_API
#else
#define ZOLV_CORE_API __declspec(dllimport)
#endif
#else
#define ZOLV_STDCALL
#define ZOLV_CORE_API __attribute__((visibility("default")))
#endif
