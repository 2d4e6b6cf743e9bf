// A read-only file stream whose 16- and 32-bit fields are little-endian.
// The driver reads its dictionary afresh in every write, a few bytes per
// call, so the file is read whole when the stream opens and the fields come
// from memory. Each thread also keeps the last few files it read: a file
// whose device, inode, size and change times are those it was read with,
// and changed at least two seconds ago, is not read again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core_api.h"

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
  using Bytes = std::vector<unsigned char>;

  explicit FileStream(std::shared_ptr<const Bytes> bytes)
      : bytes_(std::move(bytes)),
        data_(bytes_->data()),
        size_(bytes_->size()) {}
  ~FileStream() = default;

  std::size_t size() const { return size_; }
  /// Reads exactly count bytes; false at the end, which a short read
  /// reaches.
  bool ReadExactly(unsigned char* buffer, std::size_t count);

  std::shared_ptr<const Bytes> bytes_;  // shared with the thread's files
  const unsigned char* data_;           // bytes_'s
  std::size_t size_;
  std::size_t next_ = 0;  // the first byte not yet read
};

}  // namespace zolv::rdcore
