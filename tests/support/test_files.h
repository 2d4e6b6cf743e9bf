// Temporary directories and files, and bytes written as numbers: what tests
// of several folders share.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace zolv::testing {

/// A fresh directory, removed with everything in it at the end of the test.
class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zolv_host_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  ~TempDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const { return path_; }
  /// path()/name as a string.
  std::string operator/(const std::string& name) const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

/// Bytes given as numbers, so that a test can spell NULs and high bytes.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

inline void WriteGzipFile(const std::string& path, const std::string& bytes) {
  gzFile file = gzopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  ASSERT_EQ(gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size())),
            static_cast<int>(bytes.size()));
  ASSERT_EQ(gzclose(file), Z_OK);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

/// A file name in a fresh directory, removed with it at the end of the
/// test. The file holds bytes when they are given and is not made otherwise.
class TempFile {
 public:
  explicit TempFile(const std::string& name) : path_(directory_ / name) {}
  TempFile(const std::string& name, const std::string& bytes) : TempFile(name) {
    WriteFile(path_, bytes);
  }

  const std::string& path() const { return path_; }

 private:
  TempDirectory directory_;
  std::string path_;
};

}  // namespace zolv::testing
