#include "driver_library.h"

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
  namespace fs = std::filesystem;
  Close();
  std::error_code code;
  const fs::path absolute = fs::absolute(path, code);
  if (code) {
    *error = path + ": " + code.message();
    return false;
  }
  if (!fs::is_regular_file(absolute, code)) {
    *error = path + ": no such driver library";
    return false;
  }
  // The driver looks for its dictionary beside the name it was loaded by, so
  // it is loaded by exactly the name that Directory() reports: its real
  // directory (links and ".." resolved) and its own file name. An absolute
  // name also keeps dlopen from searching the library path.
  const fs::path directory = fs::canonical(absolute.parent_path(), code);
  if (code) {
    *error = path + ": " + code.message();
    return false;
  }
  const std::string file = (directory / absolute.filename()).string();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
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
  path_ = file;
  preWrite_ = preWrite;
  write_ = write;
  return true;
}

std::string DriverLibrary::Directory() const {
  return std::filesystem::path(path_).parent_path().string() + "/";
}

// The C entry points see the host's objects as opaque handles; the driver
// turns them back into the same interfaces.
std::int32_t DriverLibrary::PreWrite(HostObject* object) const {
  return PreWrite(reinterpret_cast<ZolvHostObject*>(object));
}

std::int32_t DriverLibrary::Write(HostObject* object, Stream* stream,
                                  const char* options) const {
  return Write(reinterpret_cast<ZolvHostObject*>(object),
               reinterpret_cast<ZolvStream*>(stream), options);
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

std::string DriverPathBeside(const void* code) {
  Dl_info info;
  if (dladdr(code, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ignored;
  const std::filesystem::path file =
      std::filesystem::absolute(info.dli_fname, ignored);
  return (file.parent_path() / kDriverFileName).string();
}

}  // namespace zolv::host
