#include "module_directory.h"

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace zolv {
namespace {

// The directory part of a module file name: everything up to and including
// the last separator. A name without a separator says nothing about where
// the module lies, so it gives no text.
TextBuffer DirectoryOf(const char* fileName, char separator) {
  TextBuffer directory;
  const char* last = std::strrchr(fileName, separator);
  if (last == nullptr) return directory;
  directory.AssignPrefix(fileName,
                         static_cast<std::uint32_t>(last - fileName + 1));
  return directory;
}

#if defined(_WIN32)

// Written once at process attach, read-only afterwards.
HMODULE moduleHandle = nullptr;

// The size of the buffer GetModuleFileNameA fills, terminator included.
constexpr DWORD kModuleNameCapacity = 261;

#else

// An address inside this library, whatever binary it is linked into.
void AddressInsideModule() {}

#endif

}  // namespace

#if defined(_WIN32)

void KeepModuleHandle(void* module) {
  moduleHandle = static_cast<HMODULE>(module);
}

TextBuffer ModuleDirectory() {
  char fileName[kModuleNameCapacity] = {};
  const DWORD length =
      GetModuleFileNameA(moduleHandle, fileName, kModuleNameCapacity);
  if (length == 0) return TextBuffer();
  // A name cut at the buffer's end is not terminated on every Windows version.
  fileName[kModuleNameCapacity - 1] = '\0';
  return DirectoryOf(fileName, '\\');
}

#else

TextBuffer ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&AddressInsideModule), &info) != 0 &&
      info.dli_fname != nullptr &&
      std::strchr(info.dli_fname, '/') != nullptr) {
    return DirectoryOf(info.dli_fname, '/');
  }
#if defined(__linux__)
  // Linked into a program, dladdr reports the program by the name it was
  // started with, which holds no directory when it was found on the PATH.
  char fileName[PATH_MAX + 1] = {};
  const ssize_t length = readlink("/proc/self/exe", fileName, PATH_MAX);
  if (length > 0) {
    fileName[length] = '\0';
    return DirectoryOf(fileName, '/');
  }
#endif
  return TextBuffer();
}

#endif

}  // namespace zolv
