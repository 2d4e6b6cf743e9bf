#include "driver_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "test_files.h"

namespace zolv::host {
namespace {

namespace fs = std::filesystem;

TEST(DriverLibrary, LoadsTheBuiltDriverByPathAndCallsPreWrite) {
  DriverLibrary driver;
  std::string error;
  ASSERT_TRUE(driver.Load(ZOLV_DRIVER_FILE, &error)) << error;
  EXPECT_TRUE(driver.loaded());
  EXPECT_EQ(fs::path(driver.path()), fs::canonical(ZOLV_DRIVER_FILE));
  EXPECT_EQ(driver.Directory(),
            fs::canonical(ZOLV_DRIVER_FILE).parent_path().string() + "/");
  // No object: the driver accepts, as the host framework expects.
  EXPECT_EQ(driver.PreWrite(static_cast<HostObject*>(nullptr)),
            ZOLV_PREWRITE_ACCEPTED);

  DriverLibrary moved = std::move(driver);
  EXPECT_TRUE(moved.loaded());
  EXPECT_FALSE(driver.loaded());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.PreWrite(static_cast<HostObject*>(nullptr)),
            ZOLV_PREWRITE_ACCEPTED);
}

TEST(DriverLibrary, ReportsTheDirectoryByWhichTheDriverWasLoaded) {
  // Reached through a link and "..", the driver still gets a directory from
  // which the dictionary's relative name leads to the right file.
  testing::TempDirectory dir;
  fs::create_directories(dir.path() / "real" / "sub");
  fs::copy_file(ZOLV_DRIVER_FILE, dir.path() / "real" / "driver.so");
  fs::create_directory_symlink(dir.path() / "real", dir.path() / "link");
  DriverLibrary driver;
  std::string error;
  ASSERT_TRUE(driver.Load(
      (dir.path() / "link" / "sub" / ".." / "driver.so").string(), &error))
      << error;
  EXPECT_EQ(driver.Directory(),
            fs::canonical(dir.path() / "real").string() + "/");
}

TEST(DriverLibrary, ExplainsWhyALibraryCannotServeAsDriver) {
  testing::TempDirectory dir;
  testing::WriteFile(dir / "garbage.so", "not a shared library");
  struct Case {
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {dir / "missing.so", "no such driver library"},
      {dir.path().string(), "no such driver library"},
      {dir / "garbage.so", "cannot load"},
      // A real library that lacks the entry points.
      {ZOLV_CORE_FILE, "not a format driver"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    DriverLibrary driver;
    std::string error;
    EXPECT_FALSE(driver.Load(c.path, &error));
    EXPECT_FALSE(driver.loaded());
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(DriverLibrary, DefaultPathIsBesideTheRunningProgram) {
  EXPECT_EQ(fs::path(DefaultDriverPath()).parent_path(),
            fs::read_symlink("/proc/self/exe").parent_path());
  EXPECT_EQ(fs::path(DefaultDriverPath()).filename(),
            fs::path(ZOLV_DRIVER_FILE).filename());
}

}  // namespace
}  // namespace zolv::host
