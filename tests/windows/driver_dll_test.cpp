// The format driver as the host meets it on Windows: zolvexformat11v6.dll
// loaded at run time, its entry points found by their decorated names, its
// core functions taken from revirideviv6.dll (here the fake core built as that
// DLL), and the host's own COM-style objects called back across the DLL
// boundary. A caller and callee that disagreed on __stdcall would leave the
// stack unbalanced and these calls would not come back intact.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core_api.h"
#include "dictionary_format.h"

namespace zolv {
namespace {

using PreWriteEntry = std::int32_t(__stdcall*)(HostObject* object,
                                               std::int32_t second,
                                               std::int32_t third);
using WriteEntry = std::int32_t(__stdcall*)(HostObject* object, Stream* stream,
                                            const char* options,
                                            std::int32_t fourth);

#if defined(_WIN64)
// x64 knows one calling convention and decorates no name.
constexpr char kPreWriteName[] = "ZolvPreWrite";
constexpr char kWriteName[] = "ZolvWrite";
#else
constexpr char kPreWriteName[] = "_ZolvPreWrite@12";
constexpr char kWriteName[] = "_ZolvWrite@16";
#endif

// The build puts both DLLs beside the test program.
std::string ProgramDirectory() {
  char name[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
  const std::string path(name, length);
  return path.substr(0, path.find_last_of('\\') + 1);
}

// The host's molecule; the driver only copies it into its own Chemistry.
class HostMolecule final : public Chemistry {
 public:
  void ZOLV_STDCALL LoadStored(std::uint32_t, const std::uint8_t*) override {}
  void ZOLV_STDCALL Release() override { ++releases; }
  Atom* ZOLV_STDCALL AtomAt(std::uint32_t) override { return nullptr; }
  void ZOLV_STDCALL CopyFrom(Chemistry*) override {}
  void ZOLV_STDCALL CollectAtoms(ScreenSet*, std::int32_t) override {}

  int releases = 0;
};

class HostRecord final : public HostObject {
 public:
  explicit HostRecord(Status typeAnswer) : typeAnswer_(typeAnswer) {}

  Status ZOLV_STDCALL IsOfType(std::int32_t typeCode) override {
    askedType = typeCode;
    return typeAnswer_;
  }
  Chemistry* ZOLV_STDCALL GetChemistry() override { return &molecule; }

  HostMolecule molecule;
  std::int32_t askedType = -1;

 private:
  Status typeAnswer_;
};

class HostOutput final : public Stream {
 public:
  void ZOLV_STDCALL Release() override { ++releases; }
  CoreBool ZOLV_STDCALL ReadShort(std::int16_t*) override { return 0; }
  CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t*) override { return 0; }
  CoreBool ZOLV_STDCALL ReadULong(std::uint32_t*) override { return 0; }
  CoreBool ZOLV_STDCALL ReadBytes(void*, std::uint32_t) override { return 0; }
  std::int32_t ZOLV_STDCALL PutChar(char character) override {
    text.push_back(character);
    return 1;
  }

  std::string text;
  int releases = 0;
};

class DriverDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string path = ProgramDirectory() + "zolvexformat11v6.dll";
    driver_ = LoadLibraryA(path.c_str());
    if (driver_ == nullptr) loadError_ = GetLastError();
  }

  static void TearDownTestSuite() {
    if (driver_ != nullptr) FreeLibrary(driver_);
    driver_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(driver_, nullptr)
        << "LoadLibrary of zolvexformat11v6.dll failed with error "
        << loadError_;
  }

  static FARPROC Lookup(const char* name) {
    return GetProcAddress(driver_, name);
  }

  // Through void (*)(), the cast that says the type change is meant.
  template <typename Entry>
  static Entry Find(const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(Lookup(name)));
  }

  static HMODULE driver_;
  static DWORD loadError_;
};

HMODULE DriverDll::driver_ = nullptr;
DWORD DriverDll::loadError_ = 0;

TEST_F(DriverDll, ExportsTheEntryPointsOnlyUnderTheirDecoratedNames) {
  struct Case {
    const char* name;
    bool found;
  };
#if defined(_WIN64)
  static constexpr Case kCases[] = {
      {"ZolvPreWrite", true},      {"ZolvWrite", true},
      {"_ZolvPreWrite@12", false}, {"_ZolvWrite@16", false},
      {"ZolvPreWrite@12", false},  {"ZolvWrite@16", false},
  };
#else
  static constexpr Case kCases[] = {
      {"_ZolvPreWrite@12", true}, {"_ZolvWrite@16", true},
      {"ZolvPreWrite@12", false}, {"ZolvWrite@16", false},
      {"ZolvPreWrite", false},    {"ZolvWrite", false},
  };
#endif
  for (const Case& test : kCases) {
    EXPECT_EQ(Lookup(test.name) != nullptr, test.found) << test.name;
  }
}

TEST_F(DriverDll, PreWriteAcceptsMoleculesByTheHostsTypeAnswer) {
  const auto preWrite = Find<PreWriteEntry>(kPreWriteName);
  ASSERT_NE(preWrite, nullptr);
  EXPECT_EQ(preWrite(nullptr, 0, 0), 1);

  struct Case {
    Status typeAnswer;
    std::int32_t result;
  };
  static constexpr Case kCases[] = {{1, 1}, {3, 1}, {0, 5}, {2, 5}};
  for (const Case& test : kCases) {
    HostRecord object(test.typeAnswer);
    EXPECT_EQ(preWrite(&object, 7, 9), test.result) << test.typeAnswer;
    EXPECT_EQ(object.askedType, kMoleculeType);
  }
}

TEST_F(DriverDll, WriteSendsEachCharacterThroughTheHostsStream) {
  const auto write = Find<WriteEntry>(kWriteName);
  ASSERT_NE(write, nullptr);

  // No dictionary lies beside the DLL under these names, so no screen is
  // found and the bit string is all "0".
  struct Case {
    const char* options;
    std::int32_t result;
    std::string text;
  };
  const Case cases[] = {
      {"length=16", 1, std::string(16, '0')},
      {nullptr, 1, std::string(128, '0')},
      {"length=3,screenfile=\"absent.vob\"", 1, "000"},
      {"length=0", 12, ""},
  };
  for (const Case& test : cases) {
    const char* options = test.options != nullptr ? test.options : "(none)";
    HostRecord object(1);
    HostOutput stream;
    EXPECT_EQ(write(&object, &stream, test.options, 0), test.result) << options;
    EXPECT_EQ(stream.text, test.text) << options;
    EXPECT_EQ(stream.releases, 0) << options;
    EXPECT_EQ(object.molecule.releases, 0) << options;
  }
}

// The fake core's controls (fake_core_controls.cpp), taken from the
// revirideviv6.dll that the driver loaded.
struct FakeControls {
  void (*reset)() = nullptr;
  void (*setPresent)(const char* pattern, const char* target) = nullptr;
  HostObject* (*newMolecule)(const char* key) = nullptr;
  void (*deleteMolecule)(HostObject* molecule) = nullptr;
  const char* (*problems)() = nullptr;
};

template <typename Function>
void Take(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string ModuleFileName(HMODULE module) {
  char name[MAX_PATH + 1] = {};
  return std::string(name, GetModuleFileNameA(module, name, MAX_PATH));
}

// A dictionary whose screen numbers[k] is stored as the structure keys[k].
DictionaryContent Dictionary(
    std::initializer_list<std::pair<std::uint16_t, const char*>> screens) {
  DictionaryContent content;
  for (const auto& [number, key] : screens) {
    DictionaryScreen screen;
    screen.number = number;
    screen.stored = key;
    content.screens.push_back(screen);
  }
  return content;
}

// A 16-bit string with the bits of these screens set (screen n at n - 1).
std::string Bits(std::initializer_list<int> screens) {
  std::string bits(16, '0');
  for (int n : screens) bits[static_cast<std::size_t>(n - 1)] = '1';
  return bits;
}

constexpr char kMolecule[] = "anisole";

// Both DLLs copied into a directory of their own, away from the test program
// and the current directory, with dictionaries beside them and elsewhere.
// Only the module handle kept at process attach and GetModuleFileNameA's
// backslash path lead the driver to the dictionaries beside its own file.
class DriverDllElsewhere : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH + 1] = {};
    const std::string tempDirectory(temp, GetTempPathA(MAX_PATH, temp));
    directory_ = tempDirectory + "zolv-driver-" +
                 std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(directory_.c_str(), nullptr);
    CreateDirectoryA((directory_ + "nested").c_str(), nullptr);
    for (const char* dll : {"zolvexformat11v6.dll", "revirideviv6.dll"}) {
      if (!CopyFileA((ProgramDirectory() + dll).c_str(),
                     (directory_ + dll).c_str(), FALSE)) {
        setupError_ = std::string("cannot copy ") + dll + " to " + directory_;
        return;
      }
    }
    char current[MAX_PATH + 1] = {};
    const std::string currentDirectory(current,
                                       GetCurrentDirectoryA(MAX_PATH, current));
    strayFiles_ = {ProgramDirectory() + "program-only.vob",
                   currentDirectory + "\\current-only.vob"};
    const std::pair<std::string, DictionaryContent> files[] = {
        {directory_ + "beside.vob", Dictionary({{2, "a"}, {5, "b"}, {7, "c"}})},
        {directory_ + "nested\\inner.vob", Dictionary({{3, "a"}, {6, "b"}})},
        {strayFiles_[0], Dictionary({{1, "a"}})},
        {strayFiles_[1], Dictionary({{4, "a"}})},
    };
    for (const auto& [path, content] : files) {
      if (!WriteDictionaryFile(path, content)) {
        setupError_ = "cannot write " + path;
        return;
      }
    }
    // The altered search order takes revirideviv6.dll from beside the driver.
    driver_ = LoadLibraryExA((directory_ + "zolvexformat11v6.dll").c_str(),
                             nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (driver_ == nullptr) {
      setupError_ =
          "LoadLibraryEx failed with error " + std::to_string(GetLastError());
      return;
    }
    const HMODULE core = GetModuleHandleA("revirideviv6.dll");
    if (core == nullptr ||
        ModuleFileName(core) != directory_ + "revirideviv6.dll") {
      setupError_ = "revirideviv6.dll not taken from " + directory_;
      return;
    }
    Take(core, "ZolvFakeReset", &controls_.reset);
    Take(core, "ZolvFakeSetPresent", &controls_.setPresent);
    Take(core, "ZolvFakeNewMolecule", &controls_.newMolecule);
    Take(core, "ZolvFakeDeleteMolecule", &controls_.deleteMolecule);
    Take(core, "ZolvFakeProblems", &controls_.problems);
    Take(driver_, kWriteName, &write_);
  }

  static void TearDownTestSuite() {
    if (driver_ != nullptr) FreeLibrary(driver_);
    driver_ = nullptr;
    std::error_code ignored;
    for (const std::string& path : strayFiles_) {
      std::filesystem::remove(path, ignored);
    }
    std::filesystem::remove_all(directory_, ignored);
  }

  void SetUp() override {
    ASSERT_EQ(setupError_, "");
    ASSERT_NE(write_, nullptr);
    ASSERT_TRUE(controls_.reset && controls_.setPresent &&
                controls_.newMolecule && controls_.deleteMolecule &&
                controls_.problems);
  }

  // Writes the fake molecule, which holds structures "a" and "b", as a
  // 16-bit string under the screen file name.
  static std::string Write(const std::string& screenFile) {
    controls_.reset();
    controls_.setPresent("a", kMolecule);
    controls_.setPresent("b", kMolecule);
    const std::unique_ptr<HostObject, void (*)(HostObject*)> molecule(
        controls_.newMolecule(kMolecule), controls_.deleteMolecule);
    HostOutput stream;
    const std::string options = "length=16 screenfile=\"" + screenFile + "\"";
    EXPECT_EQ(write_(molecule.get(), &stream, options.c_str(), 0), 1)
        << screenFile;
    EXPECT_EQ(stream.releases, 0) << screenFile;
    return stream.text;
  }

  static std::string directory_;
  static std::vector<std::string> strayFiles_;
  static std::string setupError_;
  static HMODULE driver_;
  static FakeControls controls_;
  static WriteEntry write_;
};

std::string DriverDllElsewhere::directory_;
std::vector<std::string> DriverDllElsewhere::strayFiles_;
std::string DriverDllElsewhere::setupError_;
HMODULE DriverDllElsewhere::driver_ = nullptr;
FakeControls DriverDllElsewhere::controls_;
WriteEntry DriverDllElsewhere::write_ = nullptr;

TEST_F(DriverDllElsewhere, FindsItsDictionaryBesideItsOwnFile) {
  struct Case {
    const char* screenFile;
    std::string bits;
  };
  const Case cases[] = {
      {"beside.vob", Bits({2, 5})},
      // The name is appended to the directory as it is, backslash and all.
      {"nested\\inner.vob", Bits({3, 6})},
      // Not the program's directory, nor the current one.
      {"program-only.vob", Bits({})},
      {"current-only.vob", Bits({})},
      {"absent.vob", Bits({})},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(Write(test.screenFile), test.bits) << test.screenFile;
    EXPECT_STREQ(controls_.problems(), "") << test.screenFile;
  }
}

}  // namespace
}  // namespace zolv
