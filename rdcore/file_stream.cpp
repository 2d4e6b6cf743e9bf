#include "rdcore/file_stream.h"

#include <sys/stat.h>

#include <new>

namespace zolv::rdcore {

FileStream* FileStream::Open(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  // fopen accepts a directory on POSIX and only the reads fail, so the kind of
  // file is checked first.
  struct stat info {};
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  auto* stream = new (std::nothrow) FileStream(file);
  if (stream == nullptr) std::fclose(file);
  return stream;
}

FileStream::~FileStream() { std::fclose(file_); }

void FileStream::Release() { delete this; }

bool FileStream::ReadExactly(unsigned char* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, file_) == count;
}

CoreBool FileStream::ReadShort(std::int16_t* value) {
  std::uint16_t raw = 0;
  if (!ReadUShort(&raw)) return 0;
  if (value != nullptr) *value = static_cast<std::int16_t>(raw);
  return 1;
}

CoreBool FileStream::ReadUShort(std::uint16_t* value) {
  unsigned char bytes[2];
  if (!ReadExactly(bytes, sizeof bytes)) return 0;
  if (value != nullptr) {
    *value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
  }
  return 1;
}

CoreBool FileStream::ReadULong(std::uint32_t* value) {
  unsigned char bytes[4];
  if (!ReadExactly(bytes, sizeof bytes)) return 0;
  if (value != nullptr) {
    *value = static_cast<std::uint32_t>(bytes[0]) |
             static_cast<std::uint32_t>(bytes[1]) << 8 |
             static_cast<std::uint32_t>(bytes[2]) << 16 |
             static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  return 1;
}

CoreBool FileStream::ReadBytes(void* buffer, std::uint32_t count) {
  if (count == 0) return 1;
  if (buffer == nullptr) return 0;
  return ReadExactly(static_cast<unsigned char*>(buffer), count) ? 1 : 0;
}

std::int32_t FileStream::PutChar(char) { return 0; }

}  // namespace zolv::rdcore
