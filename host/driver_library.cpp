#include "host/driver_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <utility>

namespace zolv::host {
namespace {

constexpr char kDriverFileName[] = "libzolvexformat11v6.so";

}  // namespace

DriverLibrary::DriverLibrary(DriverLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      preWrite_(std::exchange(other.preWrite_, nullptr)),
      write_(std::exchange(other.write_, nullptr)) {}

DriverLibrary& DriverLibrary::operator=(DriverLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
    preWrite_ = std::exchange(other.preWrite_, nullptr);
    write_ = std::exchange(other.write_, nullptr);
  }
  return *this;
}

DriverLibrary::~DriverLibrary() { Close(); }

void DriverLibrary::Close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  preWrite_ = nullptr;
  write_ = nullptr;
}

bool DriverLibrary::Load(const std::string& path, std::string* error) {
  Close();
  std::error_code code;
  const std::filesystem::path absolute = std::filesystem::absolute(path, code);
  if (code) {
    *error = path + ": " + code.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(absolute, code)) {
    *error = path + ": no such driver library";
    return false;
  }
  // dlopen searches the library path for a bare name; an absolute path makes
  // it load exactly this file.
  void* handle = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = path + ": cannot load: " + (reason ? reason : "unknown reason");
    return false;
  }
  auto preWrite =
      reinterpret_cast<PreWriteFunction>(dlsym(handle, "ZolvPreWrite"));
  auto write = reinterpret_cast<WriteFunction>(dlsym(handle, "ZolvWrite"));
  if (preWrite == nullptr || write == nullptr) {
    *error = path + ": not a format driver (ZolvPreWrite or ZolvWrite missing)";
    dlclose(handle);
    return false;
  }
  handle_ = handle;
  path_ = absolute.lexically_normal().string();
  preWrite_ = preWrite;
  write_ = write;
  return true;
}

std::string DriverLibrary::Directory() const {
  return std::filesystem::path(path_).parent_path().string() + "/";
}

std::int32_t DriverLibrary::PreWrite(ZolvHostObject* object) const {
  return preWrite_(object, 0, 0);
}

std::int32_t DriverLibrary::Write(ZolvHostObject* object, ZolvStream* stream,
                                  const char* options) const {
  return write_(object, stream, options, 0);
}

std::string ProgramDirectory() {
  std::error_code code;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", code);
  if (code) return "./";
  return self.parent_path().string() + "/";
}

std::string DefaultDriverPath() { return ProgramDirectory() + kDriverFileName; }

}  // namespace zolv::host
