// Calling convention and symbol visibility of the two libraries' exports.
#pragma once

#if defined(_WIN32)
// The toolkit is a 32-bit Windows process: its core library and its format
// drivers speak __stdcall, and the core's objects are COM-style.
#define ZOLV_STDCALL __stdcall
#if defined(ZOLV_BUILDING_CORE)
#define ZOLV_CORE_API __declspec(dllexport)
#else
#define ZOLV_CORE_API __declspec(dllimport)
#endif
#else
#define ZOLV_STDCALL
#define ZOLV_CORE_API __attribute__((visibility("default")))
#endif
