#include "file_stream.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace zolv::rdcore {

namespace {

// What tells one version of a file from another without reading it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  explicit FileIdentity(const struct stat& info)
      : device(info.st_dev),
        inode(info.st_ino),
        size(info.st_size),
        modified(info.st_mtim),
        changed(info.st_ctim) {}

  /// Whether the file changed so recently that a change within the same
  /// tick of the file system's clock (a second on some) could still leave
  /// these fields as they are.
  bool Recent() const {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return true;
    constexpr time_t kSettled = 2;  // seconds
    return now.tv_sec - modified.tv_sec < kSettled ||
           now.tv_sec - changed.tv_sec < kSettled;
  }

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

// The files this thread read last, most recent first.
class RecentFiles {
 public:
  using Bytes = std::vector<unsigned char>;

  std::shared_ptr<const Bytes> Find(const char* path,
                                    const FileIdentity& identity) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (files_[i].identity == identity && files_[i].path == path) {
        std::rotate(files_.begin(), files_.begin() + i, files_.begin() + i + 1);
        return files_.front().bytes;
      }
    }
    return nullptr;
  }

  void Keep(const char* path, const FileIdentity& identity,
            std::shared_ptr<const Bytes> bytes) {
    if (files_.size() == kKept) files_.pop_back();
    files_.insert(files_.begin(), File{path, identity, std::move(bytes)});
  }

 private:
  static constexpr std::size_t kKept = 4;
  struct File {
    std::string path;
    FileIdentity identity;
    std::shared_ptr<const Bytes> bytes;
  };
  std::vector<File> files_;
};

// The whole file, or null when it cannot be read.
std::shared_ptr<const std::vector<unsigned char>> ReadWhole(
    const char* path, std::size_t expectedSize) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  // One read into memory: no stdio buffer is needed.
  std::setvbuf(file, nullptr, _IONBF, 0);
  auto bytes = std::make_shared<std::vector<unsigned char>>();
  bool read = true;
  try {
    bytes->resize(expectedSize);
    // The file may have changed size since stat: read what is there.
    std::size_t size = std::fread(bytes->data(), 1, bytes->size(), file);
    unsigned char more[4096];
    for (std::size_t got; (got = std::fread(more, 1, sizeof more, file)) > 0;) {
      bytes->insert(bytes->end(), more, more + got);
      size = bytes->size();
    }
    read = std::ferror(file) == 0;
    bytes->resize(size);
  } catch (...) {
    read = false;
  }
  std::fclose(file);
  if (!read) return nullptr;
  return bytes;
}

}  // namespace

FileStream* FileStream::Open(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  // fopen accepts a directory on POSIX and only the reads fail, so the kind of
  // file is checked first.
  struct stat info {};
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  try {
    thread_local RecentFiles recent;
    const FileIdentity identity(info);
    const bool settled = !identity.Recent();
    std::shared_ptr<const Bytes> bytes =
        settled ? recent.Find(path, identity) : nullptr;
    if (bytes == nullptr) {
      bytes = ReadWhole(path, static_cast<std::size_t>(info.st_size));
      if (bytes == nullptr) return nullptr;
      // A file that changed while it was read is not kept: its identity
      // may be that of another version.
      struct stat after {};
      if (settled && ::stat(path, &after) == 0 &&
          FileIdentity(after) == identity &&
          bytes->size() == static_cast<std::size_t>(info.st_size)) {
        recent.Keep(path, identity, bytes);
      }
    }
    return new (std::nothrow) FileStream(std::move(bytes));
  } catch (...) {
    return nullptr;
  }
}

void FileStream::Release() { delete this; }

bool FileStream::ReadExactly(unsigned char* buffer, std::size_t count) {
  if (count > size() - next_) {
    // A short read uses up the rest, as a file read would.
    next_ = size();
    return false;
  }
  std::memcpy(buffer, data_ + next_, count);
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
  // The driver reads about a thousand of these per write.
  if (size() - next_ < 2) {
    next_ = size();
    return 0;
  }
  const unsigned char* bytes = data_ + next_;
  next_ += 2;
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
