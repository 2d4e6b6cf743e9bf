// The format driver as the host meets it on Windows: zolvexformat11v6.dll
// loaded at run time, its entry points found by their decorated names, its
// core functions taken from revirideviv6.dll (here the fake core built as that
// DLL), and the host's own COM-style objects called back across the DLL
// boundary. A caller and callee that disagreed on __stdcall would leave the
// stack unbalanced and these calls would not come back intact.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/core_api.h"

namespace zolv {
namespace {

using PreWriteEntry = std::int32_t(__stdcall*)(HostObject* object,
                                               std::int32_t second,
                                               std::int32_t third);
using WriteEntry = std::int32_t(__stdcall*)(HostObject* object, Stream* stream,
                                            const char* options,
                                            std::int32_t fourth);

constexpr char kPreWriteName[] = "_ZolvPreWrite@12";
constexpr char kWriteName[] = "_ZolvWrite@16";

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
  static constexpr Case kCases[] = {
      {kPreWriteName, true},      {kWriteName, true},
      {"ZolvPreWrite@12", false}, {"ZolvWrite@16", false},
      {"ZolvPreWrite", false},    {"ZolvWrite", false},
  };
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

}  // namespace
}  // namespace zolv
