#include "file_stream.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
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
  // One read into memory: no stdio buffer is needed.
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::vector<unsigned char> bytes;
  bool read = true;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
    // The file may have changed size since stat: read what is there.
    std::size_t size = std::fread(bytes.data(), 1, bytes.size(), file);
    unsigned char more[4096];
    for (std::size_t got; (got = std::fread(more, 1, sizeof more, file)) > 0;) {
      bytes.insert(bytes.end(), more, more + got);
      size = bytes.size();
    }
    read = std::ferror(file) == 0;
    bytes.resize(size);
  } catch (...) {
    read = false;
  }
  std::fclose(file);
  if (!read) return nullptr;
  return new (std::nothrow) FileStream(std::move(bytes));
}

void FileStream::Release() { delete this; }

bool FileStream::ReadExactly(unsigned char* buffer, std::size_t count) {
  if (count > bytes_.size() - next_) {
    // A short read uses up the rest, as a file read would.
    next_ = bytes_.size();
    return false;
  }
  std::memcpy(buffer, bytes_.data() + next_, count);
  next_ += count;
  return true;
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
