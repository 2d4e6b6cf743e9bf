// A read-only file stream whose 16- and 32-bit fields are little-endian.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/core_api.h"

namespace zolv::rdcore {

class FileStream final : public Stream {
 public:
  /// A new stream over the regular file at path, or null when path names no
  /// readable regular file (a directory, a missing file). Ends with Release.
  static FileStream* Open(const char* path);

  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  void ZOLV_STDCALL Release() override;
  CoreBool ZOLV_STDCALL ReadShort(std::int16_t* value) override;
  CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t* value) override;
  CoreBool ZOLV_STDCALL ReadULong(std::uint32_t* value) override;
  CoreBool ZOLV_STDCALL ReadBytes(void* buffer, std::uint32_t count) override;
  /// A read stream takes no output: always 0.
  std::int32_t ZOLV_STDCALL PutChar(char character) override;

 private:
  explicit FileStream(std::FILE* file) : file_(file) {}
  ~FileStream();

  /// Reads exactly count bytes; false (buffer partly filled) at the end.
  bool ReadExactly(unsigned char* buffer, std::size_t count);

  std::FILE* file_;
};

}  // namespace zolv::rdcore
