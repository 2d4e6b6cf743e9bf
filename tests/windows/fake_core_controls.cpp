// The fake core's controls, exported by revirideviv6.dll beside the core
// library's functions. A test program that loads the driver DLL holds its own
// copy of every static library, so the fake core that the driver calls, and
// its scripts and records, are reached only through exports of the DLL.
#include <cstdint>
#include <string>
#include <vector>

#include "core_api.h"
#include "fake_core.h"

using zolv::testing::FakeCore;
using zolv::testing::FakeHostObject;

extern "C" {

void ZolvFakeReset() { FakeCore::Get().Reset(); }

void ZolvFakeSetPresent(const char* pattern, const char* target) {
  FakeCore::Get().SetPresent(pattern, target);
}

// A host molecule of this core, whose structure the driver can copy; the test
// gives it back to ZolvFakeDeleteMolecule.
zolv::HostObject* ZolvFakeNewMolecule(const char* key) {
  return new FakeHostObject(key);
}

void ZolvFakeDeleteMolecule(zolv::HostObject* molecule) {
  delete static_cast<FakeHostObject*>(molecule);
}

// Misuse and leaks so far, one a line; empty when all was well. The text
// stays valid until the next call.
const char* ZolvFakeProblems() {
  static std::string text;
  text.clear();
  for (const std::string& problem : FakeCore::Get().Problems()) {
    text += problem;
    text += '\n';
  }
  return text.c_str();
}

}  // extern "C"
