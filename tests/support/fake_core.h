// A scripted stand-in for the core library, for the driver's tests only.
//
// Linking zolv_fake_core gives a test every exported Zolv... function. The
// fake records each object it creates and each Release, so that a test fails
// on a leak, a double release or a release of the host's objects; it can be
// told to refuse ZolvNewMemory or a creation; and it lets a test script which
// screens match, what the prescreen answers, formula texts and atom
// properties.
//
// Structures are named by keys: a screen's key is its stored-structure bytes
// (what LoadStored receives), a molecule's key is the name given to its
// FakeHostObject. CopyFrom copies the key.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core_api.h"

namespace zolv::testing {

/// The kinds of object the driver creates through the core library.
enum class ObjectKind {
  kString,
  kMatcher,
  kMatchMap,
  kChemistry,
  kIndex,
  kStream
};
inline constexpr int kObjectKindCount = 6;

/// The four compared properties of one atom, by code.
struct AtomProperties {
  std::int32_t p65 = 0;
  std::int32_t p74 = 0;
  std::int32_t p77 = 0;
  std::int32_t p78 = 0;
};

/// One match: (pattern atom, target atom) pairs.
using AtomMapping = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

class FakeCore {
 public:
  /// The one fake of this process; tests Reset it between cases.
  static FakeCore& Get();

  /// Forgets every script, file, fault and count, and frees what the driver
  /// leaked (after it has been reported by Faults()).
  void Reset();

  // --- Scripts -------------------------------------------------------------

  /// pattern occurs in target, with one match per mapping (in order). A
  /// pattern with no script never matches. An empty list means no match.
  void SetMatches(const std::string& pattern, const std::string& target,
                  std::vector<AtomMapping> matches);
  /// Shortcut: pattern occurs once in target, mapping nothing.
  void SetPresent(const std::string& pattern, const std::string& target);
  /// What MayOccurIn answers for pattern in target; true when unscripted.
  void SetMayOccur(const std::string& pattern, const std::string& target,
                   bool answer);
  /// The atoms of a structure (pattern or molecule), numbered from 0.
  void SetAtoms(const std::string& key, std::vector<AtomProperties> atoms);
  /// ZolvFormula's text for a molecule; without one ZolvFormula fails.
  void SetFormula(const std::string& molecule, const std::string& text);
  /// A file that ZolvCreateStream opens by its full path instead of the disk.
  void AddFile(const std::string& path, std::string bytes);

  // --- Faults to inject ------------------------------------------------------

  /// Refuse the n-th ZolvNewMemory call from now on (1-based); 0 disables.
  void RefuseMemoryCall(std::uint64_t n);
  /// Refuse every ZolvNewMemory call while set.
  void RefuseAllMemory(bool refuse);
  /// Make the n-th creation of kind (1-based, counted from Reset) fail with a
  /// clear status bit 0 and no object; 0 disables.
  void FailCreation(ObjectKind kind, std::uint64_t n);

  // --- What happened ---------------------------------------------------------

  std::uint64_t Created(ObjectKind kind) const;
  std::uint64_t Released(ObjectKind kind) const;
  /// Objects created and not yet released, over all kinds.
  std::uint64_t Live() const;
  /// ZolvNewMemory calls so far (refused ones included).
  std::uint64_t MemoryCalls() const;
  /// Blocks from ZolvNewMemory not yet deleted.
  std::uint64_t LiveBlocks() const;
  /// Every NextMatch call, as the pattern key its matcher was given.
  const std::vector<std::string>& MatchCalls() const;
  /// Every MayOccurIn call, as the pattern key of the index asked.
  const std::vector<std::string>& PrescreenCalls() const;
  /// Option values given to SetOption, in order.
  const std::vector<std::int32_t>& MatcherOptions() const;
  /// Misuse seen so far: double or foreign releases, deletes of blocks that
  /// ZolvNewMemory did not give. Empty when all was well.
  const std::vector<std::string>& Faults() const;
  /// Faults() plus one line per leaked object or block; empty when clean.
  std::vector<std::string> Problems() const;

  // Used by the fake objects; not for tests.
  struct State;
  State& state();

 private:
  FakeCore();
  State* state_;
};

/// A host molecule: IsOfType answers typeAnswer for every code; GetChemistry
/// gives a host-owned structure with the given key, which the driver must
/// never release.
class FakeHostObject final : public HostObject {
 public:
  explicit FakeHostObject(std::string key, Status typeAnswer = 1);
  ~FakeHostObject();
  FakeHostObject(const FakeHostObject&) = delete;
  FakeHostObject& operator=(const FakeHostObject&) = delete;

  Status ZOLV_STDCALL IsOfType(std::int32_t typeCode) override;
  Chemistry* ZOLV_STDCALL GetChemistry() override;

  const std::string& key() const { return key_; }
  /// Type codes asked so far.
  const std::vector<std::int32_t>& askedTypes() const { return askedTypes_; }

 private:
  std::string key_;
  Status typeAnswer_;
  Chemistry* chemistry_;
  std::vector<std::int32_t> askedTypes_;
};

/// The host's output stream: collects every PutChar; a Release is a fault.
class FakeOutputStream final : public Stream {
 public:
  void ZOLV_STDCALL Release() override;
  CoreBool ZOLV_STDCALL ReadShort(std::int16_t* value) override;
  CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t* value) override;
  CoreBool ZOLV_STDCALL ReadULong(std::uint32_t* value) override;
  CoreBool ZOLV_STDCALL ReadBytes(void* buffer, std::uint32_t count) override;
  std::int32_t ZOLV_STDCALL PutChar(char character) override;

  const std::string& text() const { return text_; }
  std::uint64_t putCalls() const { return putCalls_; }

 private:
  std::string text_;
  std::uint64_t putCalls_ = 0;
};

}  // namespace zolv::testing
