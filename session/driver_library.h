// The format driver, loaded at run time as the toolkit's I/O framework loads
// it: by path, with its two entry points resolved by name.
#pragma once

#include <cstdint>
#include <string>

#include "core_api.h"
#include "zolv/zolvexformat.h"

namespace zolv::host {

class DriverLibrary {
 public:
  using PreWriteFunction = std::int32_t(ZOLV_DRIVER_CALL*)(ZolvHostObject*,
                                                           std::int32_t,
                                                           std::int32_t);
  using WriteFunction = std::int32_t(ZOLV_DRIVER_CALL*)(ZolvHostObject*,
                                                        ZolvStream*,
                                                        const char*,
                                                        std::int32_t);

  DriverLibrary() = default;
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;
  DriverLibrary(DriverLibrary&& other) noexcept;
  DriverLibrary& operator=(DriverLibrary&& other) noexcept;
  ~DriverLibrary();

  /// Loads the library at path; false with a message when it cannot be
  /// loaded or lacks an entry point.
  bool Load(const std::string& path, std::string* error);

  bool loaded() const { return handle_ != nullptr; }
  /// The library file, as an absolute path.
  const std::string& path() const { return path_; }
  /// The directory the driver looks for its dictionary in, ending in "/".
  std::string Directory() const;

  /// ZolvPreWrite(object, 0, 0); only on a loaded library.
  std::int32_t PreWrite(HostObject* object) const;
  /// ZolvWrite(object, stream, options, 0); only on a loaded library. The
  /// object and stream stay the caller's.
  std::int32_t Write(HostObject* object, Stream* stream,
                     const char* options) const;
  /// The same, for callers that already hold the C boundary's handles.
  std::int32_t PreWrite(ZolvHostObject* object) const;
  std::int32_t Write(ZolvHostObject* object, ZolvStream* stream,
                     const char* options) const;

 private:
  void Close();

  void* handle_ = nullptr;
  std::string path_;
  PreWriteFunction preWrite_ = nullptr;
  WriteFunction write_ = nullptr;
};

/// The driver built beside the running program.
std::string DefaultDriverPath();

/// The driver beside the shared library that holds code: where a library
/// loaded into another program (a database's extension) finds it. Empty
/// when the library's file cannot be told.
std::string DriverPathBeside(const void* code);

/// Directory of the running program, ending in "/".
std::string ProgramDirectory();

}  // namespace zolv::host
