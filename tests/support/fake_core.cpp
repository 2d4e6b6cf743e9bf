#include "fake_core.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>

#include "element_table.h"
#include "screen_set.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZOLV_FAKE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOLV_FAKE_ASAN 1
#endif
#endif

#if defined(ZOLV_FAKE_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace zolv::testing {
namespace {

// Deleted blocks are kept until Reset so that a second delete is recognised
// even when the allocator would have handed the address out again; under
// AddressSanitizer they are poisoned so that a read after delete still fails.
void PoisonBlock(void* block, std::size_t bytes) {
#if defined(ZOLV_FAKE_ASAN)
  ASAN_POISON_MEMORY_REGION(block, bytes);
#else
  std::memset(block, 0xDD, bytes);
#endif
}

void UnpoisonBlock([[maybe_unused]] void* block,
                   [[maybe_unused]] std::size_t bytes) {
#if defined(ZOLV_FAKE_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(block, bytes);
#endif
}

// Fresh blocks hold garbage, as real allocators do, so that code relying on
// zeroed storage fails.
constexpr unsigned char kFreshByte = 0xCD;

// Display names of the object kinds, by ObjectKind.
constexpr std::array<const char*, kObjectKindCount> kKindNames = {
    "StringObject", "Matcher", "MatchMap", "Chemistry", "Index", "Stream"};
static_assert(kKindNames.size() == kObjectKindCount);

const char* KindName(ObjectKind kind) {
  return kKindNames[static_cast<std::size_t>(kind)];
}

std::size_t KindIndex(ObjectKind kind) {
  return static_cast<std::size_t>(kind);
}

using PairKey = std::pair<std::string, std::string>;

}  // namespace

class FakeObject;

struct FakeCore::State {
  struct Block {
    std::size_t bytes = 0;
    bool deleted = false;
  };

  // Scripts.
  std::map<PairKey, std::vector<AtomMapping>> matches;
  std::map<PairKey, bool> mayOccur;
  std::map<std::string, std::vector<AtomProperties>> atoms;
  std::map<std::string, std::string> formulas;
  std::map<std::string, std::string> files;

  // Injected faults.
  std::uint64_t refuseMemoryCall = 0;  // absolute call number; 0 = none
  bool refuseAllMemory = false;
  std::array<std::uint64_t, kObjectKindCount> failCreation{};
  std::array<std::uint64_t, kObjectKindCount> attempts{};

  // Records.
  std::array<std::uint64_t, kObjectKindCount> created{};
  std::array<std::uint64_t, kObjectKindCount> released{};
  std::uint64_t memoryCalls = 0;
  std::uint64_t nextId = 1;
  std::map<void*, Block> blocks;
  std::vector<std::unique_ptr<FakeObject>> objects;
  std::vector<std::string> matchCalls;
  std::vector<std::string> prescreenCalls;
  std::vector<std::int32_t> matcherOptions;
  std::vector<std::string> faults;

  void Fault(std::string text) { faults.push_back(std::move(text)); }

  // True when this creation of kind is to fail; counts the attempt.
  bool CreationFails(ObjectKind kind) {
    const std::size_t k = KindIndex(kind);
    ++attempts[k];
    return failCreation[k] != 0 && attempts[k] == failCreation[k];
  }

  template <typename T, typename... Args>
  T* Adopt(Args&&... args);

  void FreeEverything();
};

// Common bookkeeping of every fake core object.
class FakeObject {
 public:
  FakeObject(ObjectKind kind, bool hostOwned)
      : kind_(kind), hostOwned_(hostOwned) {}
  virtual ~FakeObject() = default;
  FakeObject(const FakeObject&) = delete;
  FakeObject& operator=(const FakeObject&) = delete;

  ObjectKind kind() const { return kind_; }
  std::uint64_t id() const { return id_; }
  void set_id(std::uint64_t id) { id_ = id; }
  bool released() const { return released_; }
  bool hostOwned() const { return hostOwned_; }

  std::string Name() const {
    if (hostOwned_) return std::string("host's ") + KindName(kind_);
    return std::string(KindName(kind_)) + " #" + std::to_string(id_);
  }

  /// Records a fault when the object is used after its Release.
  void Use(const char* operation) const {
    if (!released_) return;
    FakeCore::Get().state().Fault(Name() + ": " + operation + " after Release");
  }

  void DoRelease() {
    FakeCore::State& state = FakeCore::Get().state();
    if (hostOwned_) {
      state.Fault("Release of the " + Name() + ", which the driver borrows");
      return;
    }
    if (released_) {
      state.Fault(Name() + " released twice");
      return;
    }
    released_ = true;
    ++state.released[KindIndex(kind_)];
  }

 private:
  ObjectKind kind_;
  bool hostOwned_;
  std::uint64_t id_ = 0;
  bool released_ = false;
};

template <typename T, typename... Args>
T* FakeCore::State::Adopt(Args&&... args) {
  auto object = std::make_unique<T>(std::forward<Args>(args)...);
  T* raw = object.get();
  raw->set_id(nextId++);
  ++created[KindIndex(raw->kind())];
  objects.push_back(std::move(object));
  return raw;
}

namespace {

FakeCore::State& CoreState() { return FakeCore::Get().state(); }

class FakeChemistry;

class FakeAtom final : public Atom {
 public:
  FakeAtom(const FakeChemistry* owner, AtomProperties properties)
      : owner_(owner), properties_(properties) {}
  std::int32_t ZOLV_STDCALL Property(std::int32_t code) override;

  void set_properties(AtomProperties properties) { properties_ = properties; }

 private:
  const FakeChemistry* owner_;
  AtomProperties properties_;
};

class FakeChemistry final : public Chemistry, public FakeObject {
 public:
  FakeChemistry(std::string key, bool hostOwned)
      : FakeObject(ObjectKind::kChemistry, hostOwned), key_(std::move(key)) {}

  void ZOLV_STDCALL LoadStored(std::uint32_t length,
                               const std::uint8_t* bytes) override {
    Use("LoadStored");
    if (hostOwned()) CoreState().Fault("LoadStored on the host's molecule");
    if (bytes == nullptr && length != 0) {
      CoreState().Fault(Name() + ": LoadStored without bytes");
      return;
    }
    key_.assign(reinterpret_cast<const char*>(bytes), length);
  }

  void ZOLV_STDCALL Release() override { DoRelease(); }

  Atom* ZOLV_STDCALL AtomAt(std::uint32_t atomNumber) override {
    Use("AtomAt");
    const std::vector<AtomProperties>* atoms = ScriptedAtoms();
    if (atoms == nullptr || atomNumber >= atoms->size()) return nullptr;
    std::unique_ptr<FakeAtom>& atom = atoms_[atomNumber];
    if (atom == nullptr) {
      atom = std::make_unique<FakeAtom>(this, (*atoms)[atomNumber]);
    } else {
      atom->set_properties((*atoms)[atomNumber]);
    }
    return atom.get();
  }

  void ZOLV_STDCALL CopyFrom(Chemistry* molecule) override;

  void ZOLV_STDCALL CollectAtoms(ScreenSet* atoms,
                                 std::int32_t flags) override {
    Use("CollectAtoms");
    if (flags != 0) CoreState().Fault(Name() + ": CollectAtoms flags not 0");
    if (atoms == nullptr) {
      CoreState().Fault(Name() + ": CollectAtoms without a set");
      return;
    }
    if (!atoms->IsEmpty()) {
      CoreState().Fault(Name() + ": CollectAtoms into a set that is not empty");
    }
    const std::vector<AtomProperties>* scripted = ScriptedAtoms();
    if (scripted == nullptr) return;
    for (std::uint32_t n = 0; n < scripted->size(); ++n) atoms->Add(n);
  }

  const std::string& key() const { return key_; }

 private:
  const std::vector<AtomProperties>* ScriptedAtoms() const {
    auto found = CoreState().atoms.find(key_);
    return found == CoreState().atoms.end() ? nullptr : &found->second;
  }

  std::string key_;
  std::map<std::uint32_t, std::unique_ptr<FakeAtom>> atoms_;
};

std::int32_t FakeAtom::Property(std::int32_t code) {
  owner_->Use("Atom::Property");
  switch (code) {
    case kPropertyHydrogenCount:
      return properties_.p65;
    case kPropertyBondsAndNeighbourhood:
      return properties_.p74;
    case kPropertyRingsAndAromaticity:
      return properties_.p77;
    case kPropertyChargeAndIsotope:
      return properties_.p78;
    default:
      return 0;
  }
}

/// The fake behind a chemistry pointer the driver passes in; null (and a
/// fault) when it is not one of this core's, and a fault when released.
FakeChemistry* BorrowedChemistry(Chemistry* chemistry, const std::string& user,
                                 const char* role) {
  if (chemistry == nullptr) return nullptr;
  auto* fake = dynamic_cast<FakeChemistry*>(chemistry);
  if (fake == nullptr) {
    CoreState().Fault(user + ": " + role + " is not a chemistry of this core");
    return nullptr;
  }
  if (fake->released()) {
    CoreState().Fault(user + ": " + role + " " + fake->Name() +
                      " used after Release");
  }
  return fake;
}

void FakeChemistry::CopyFrom(Chemistry* molecule) {
  Use("CopyFrom");
  if (hostOwned()) CoreState().Fault("CopyFrom into the host's molecule");
  FakeChemistry* source =
      BorrowedChemistry(molecule, Name(), "CopyFrom source");
  if (source == nullptr) {
    if (molecule == nullptr) CoreState().Fault(Name() + ": CopyFrom of null");
    return;
  }
  key_ = source->key();
}

class FakeString final : public StringObject, public FakeObject {
 public:
  FakeString() : FakeObject(ObjectKind::kString, false) {}

  void ZOLV_STDCALL Release() override { DoRelease(); }
  void ZOLV_STDCALL PutText(const char* text) override {
    Use("PutText");
    if (text == nullptr) {
      CoreState().Fault(Name() + ": PutText of null");
      return;
    }
    text_ = text;
  }
  const char* ZOLV_STDCALL GetText() override {
    Use("GetText");
    return text_.c_str();
  }
  std::uint32_t ZOLV_STDCALL TextLength() override {
    Use("TextLength");
    return static_cast<std::uint32_t>(text_.size());
  }

 private:
  std::string text_;
};

class FakeMatchMap final : public MatchMap, public FakeObject {
 public:
  FakeMatchMap() : FakeObject(ObjectKind::kMatchMap, false) {}

  void ZOLV_STDCALL Release() override { DoRelease(); }

  CoreBool ZOLV_STDCALL MappedAtom(std::uint32_t patternAtom,
                                   std::uint32_t* targetAtom) override {
    Use("MappedAtom");
    for (const auto& [pattern, target] : mapping_) {
      if (pattern != patternAtom) continue;
      if (targetAtom == nullptr) {
        CoreState().Fault(Name() + ": MappedAtom without an out pointer");
      } else {
        *targetAtom = target;
      }
      return 1;
    }
    return 0;
  }

  void ZOLV_STDCALL MappedAtoms(ScreenSet* atoms) override {
    Use("MappedAtoms");
    if (atoms == nullptr) {
      CoreState().Fault(Name() + ": MappedAtoms without a set");
      return;
    }
    if (!atoms->IsEmpty()) {
      CoreState().Fault(Name() + ": MappedAtoms into a set that is not empty");
    }
    for (const auto& pair : mapping_) atoms->Add(pair.first);
  }

  void set_mapping(const AtomMapping& mapping) { mapping_ = mapping; }

 private:
  AtomMapping mapping_;
};

class FakeMatcher final : public Matcher, public FakeObject {
 public:
  FakeMatcher() : FakeObject(ObjectKind::kMatcher, false) {}

  void ZOLV_STDCALL Release() override { DoRelease(); }
  void ZOLV_STDCALL SetOption(std::int32_t option) override {
    Use("SetOption");
    CoreState().matcherOptions.push_back(option);
  }
  void ZOLV_STDCALL SetPattern(Chemistry* pattern) override {
    Use("SetPattern");
    pattern_ = pattern;
  }
  void ZOLV_STDCALL SetTarget(Chemistry* target) override {
    Use("SetTarget");
    target_ = target;
    next_ = 0;
  }

  CoreBool ZOLV_STDCALL NextMatch(MatchMap* map) override {
    Use("NextMatch");
    FakeChemistry* pattern = BorrowedChemistry(pattern_, Name(), "pattern");
    FakeChemistry* target = BorrowedChemistry(target_, Name(), "target");
    if (pattern == nullptr || target == nullptr) return 0;
    FakeCore::State& state = CoreState();
    state.matchCalls.push_back(pattern->key());
    auto found = state.matches.find({pattern->key(), target->key()});
    const std::size_t count =
        found == state.matches.end() ? 0 : found->second.size();
    if (map == nullptr) return count != 0 ? 1 : 0;
    auto* fakeMap = dynamic_cast<FakeMatchMap*>(map);
    if (fakeMap == nullptr) {
      state.Fault(Name() + ": NextMatch into a map not of this core");
      return 0;
    }
    if (fakeMap->released()) {
      state.Fault(Name() + ": NextMatch into " + fakeMap->Name() +
                  " after its Release");
    }
    if (next_ >= count) return 0;
    fakeMap->set_mapping(found->second[next_++]);
    return 1;
  }

 private:
  Chemistry* pattern_ = nullptr;
  Chemistry* target_ = nullptr;
  std::size_t next_ = 0;
};

class FakeIndex final : public Index, public FakeObject {
 public:
  FakeIndex() : FakeObject(ObjectKind::kIndex, false) {}

  void ZOLV_STDCALL Release() override { DoRelease(); }
  void ZOLV_STDCALL Build(Chemistry* chemistry) override {
    Use("Build");
    FakeChemistry* source = BorrowedChemistry(chemistry, Name(), "Build");
    if (source == nullptr) {
      if (chemistry == nullptr) CoreState().Fault(Name() + ": Build of null");
      return;
    }
    key_ = source->key();
    built_ = true;
  }
  CoreBool ZOLV_STDCALL MayOccurIn(Index* other) override {
    Use("MayOccurIn");
    FakeCore::State& state = CoreState();
    state.prescreenCalls.push_back(key_);
    auto* fakeOther = dynamic_cast<FakeIndex*>(other);
    if (fakeOther == nullptr) {
      state.Fault(Name() + ": MayOccurIn of an index not of this core");
      return 1;
    }
    fakeOther->Use("MayOccurIn (as the other index)");
    if (!built_ || !fakeOther->built_) {
      state.Fault(Name() + ": MayOccurIn with an index never built");
    }
    auto found = state.mayOccur.find({key_, fakeOther->key_});
    return found == state.mayOccur.end() || found->second ? 1 : 0;
  }

 private:
  std::string key_;
  bool built_ = false;
};

class FakeFileStream final : public Stream, public FakeObject {
 public:
  explicit FakeFileStream(std::string bytes)
      : FakeObject(ObjectKind::kStream, false), bytes_(std::move(bytes)) {}

  void ZOLV_STDCALL Release() override { DoRelease(); }
  CoreBool ZOLV_STDCALL ReadShort(std::int16_t* value) override {
    Use("ReadShort");
    std::uint16_t raw = 0;
    if (!ReadLittleEndian(&raw, "ReadShort")) return 0;
    *value = static_cast<std::int16_t>(raw);
    return 1;
  }
  CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t* value) override {
    Use("ReadUShort");
    std::uint16_t raw = 0;
    if (!ReadLittleEndian(&raw, "ReadUShort")) return 0;
    *value = raw;
    return 1;
  }
  CoreBool ZOLV_STDCALL ReadULong(std::uint32_t* value) override {
    Use("ReadULong");
    std::uint32_t raw = 0;
    if (!ReadLittleEndian(&raw, "ReadULong")) return 0;
    *value = raw;
    return 1;
  }
  CoreBool ZOLV_STDCALL ReadBytes(void* buffer, std::uint32_t count) override {
    Use("ReadBytes");
    if (count > bytes_.size() - position_) return 0;
    if (count == 0) return 1;
    if (buffer == nullptr) {
      CoreState().Fault(Name() + ": ReadBytes into null");
      return 0;
    }
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return 1;
  }
  std::int32_t ZOLV_STDCALL PutChar(char) override {
    Use("PutChar");
    return 0;
  }

 private:
  // Reads sizeof(T) bytes, least significant first; false (nothing consumed)
  // when too few are left.
  template <typename T>
  bool ReadLittleEndian(T* out, const char* operation) {
    if (out == nullptr) {
      CoreState().Fault(Name() + ": " + operation + " into null");
      return false;
    }
    if (sizeof(T) > bytes_.size() - position_) return false;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      const auto byte = static_cast<unsigned char>(bytes_[position_ + i]);
      value = static_cast<T>(value | (T{byte} << (8 * i)));
    }
    position_ += sizeof(T);
    *out = value;
    return true;
  }

  std::string bytes_;
  std::size_t position_ = 0;
};

// Whole content of a regular file, or false.
bool ReadDiskFile(const char* path, std::string* bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file),
                std::istreambuf_iterator<char>());
  return !file.bad();
}

template <typename Interface, typename Fake>
Status CreateObject(Interface** out, ObjectKind kind) {
  FakeCore::State& state = CoreState();
  if (out == nullptr) {
    state.Fault(std::string("creation of a ") + KindName(kind) +
                " without an out pointer");
    return 0;
  }
  *out = nullptr;
  if (state.CreationFails(kind)) return 0;
  *out = state.Adopt<Fake>();
  return 1;
}

}  // namespace

void FakeCore::State::FreeEverything() {
  objects.clear();
  for (auto& [block, info] : blocks) {
    UnpoisonBlock(block, info.bytes);
    std::free(block);
  }
  blocks.clear();
}

// --- FakeCore ----------------------------------------------------------------

FakeCore::FakeCore() : state_(new State) {}

FakeCore& FakeCore::Get() {
  // Never destroyed: objects may still be released during static teardown.
  static FakeCore* core = new FakeCore;
  return *core;
}

FakeCore::State& FakeCore::state() { return *state_; }

void FakeCore::Reset() {
  state_->FreeEverything();
  delete state_;
  state_ = new State;
}

void FakeCore::SetMatches(const std::string& pattern, const std::string& target,
                          std::vector<AtomMapping> matches) {
  state_->matches[{pattern, target}] = std::move(matches);
}

void FakeCore::SetPresent(const std::string& pattern,
                          const std::string& target) {
  SetMatches(pattern, target, {AtomMapping{}});
}

void FakeCore::SetMayOccur(const std::string& pattern,
                           const std::string& target, bool answer) {
  state_->mayOccur[{pattern, target}] = answer;
}

void FakeCore::SetAtoms(const std::string& key,
                        std::vector<AtomProperties> atoms) {
  state_->atoms[key] = std::move(atoms);
}

void FakeCore::SetFormula(const std::string& molecule,
                          const std::string& text) {
  state_->formulas[molecule] = text;
}

void FakeCore::AddFile(const std::string& path, std::string bytes) {
  state_->files[path] = std::move(bytes);
}

void FakeCore::RefuseMemoryCall(std::uint64_t n) {
  state_->refuseMemoryCall = n == 0 ? 0 : state_->memoryCalls + n;
}

void FakeCore::RefuseAllMemory(bool refuse) {
  state_->refuseAllMemory = refuse;
}

void FakeCore::FailCreation(ObjectKind kind, std::uint64_t n) {
  state_->failCreation[KindIndex(kind)] = n;
}

std::uint64_t FakeCore::Created(ObjectKind kind) const {
  return state_->created[KindIndex(kind)];
}

std::uint64_t FakeCore::Released(ObjectKind kind) const {
  return state_->released[KindIndex(kind)];
}

std::uint64_t FakeCore::Live() const {
  std::uint64_t live = 0;
  for (const auto& object : state_->objects) {
    if (!object->released()) ++live;
  }
  return live;
}

std::uint64_t FakeCore::MemoryCalls() const { return state_->memoryCalls; }

std::uint64_t FakeCore::LiveBlocks() const {
  std::uint64_t live = 0;
  for (const auto& entry : state_->blocks) {
    if (!entry.second.deleted) ++live;
  }
  return live;
}

const std::vector<std::string>& FakeCore::MatchCalls() const {
  return state_->matchCalls;
}

const std::vector<std::string>& FakeCore::PrescreenCalls() const {
  return state_->prescreenCalls;
}

const std::vector<std::int32_t>& FakeCore::MatcherOptions() const {
  return state_->matcherOptions;
}

const std::vector<std::string>& FakeCore::Faults() const {
  return state_->faults;
}

std::vector<std::string> FakeCore::Problems() const {
  std::vector<std::string> problems = state_->faults;
  for (const auto& object : state_->objects) {
    if (!object->released()) problems.push_back("leaked " + object->Name());
  }
  for (const auto& [block, info] : state_->blocks) {
    if (!info.deleted) {
      problems.push_back("leaked memory block of " +
                         std::to_string(info.bytes) + " bytes");
    }
  }
  return problems;
}

// --- FakeHostObject ----------------------------------------------------------

FakeHostObject::FakeHostObject(std::string key, Status typeAnswer)
    : key_(std::move(key)),
      typeAnswer_(typeAnswer),
      chemistry_(new FakeChemistry(key_, /*hostOwned=*/true)) {}

FakeHostObject::~FakeHostObject() {
  delete static_cast<FakeChemistry*>(chemistry_);
}

Status FakeHostObject::IsOfType(std::int32_t typeCode) {
  askedTypes_.push_back(typeCode);
  return typeAnswer_;
}

Chemistry* FakeHostObject::GetChemistry() { return chemistry_; }

// --- FakeOutputStream --------------------------------------------------------

void FakeOutputStream::Release() {
  FakeCore::Get().state().Fault(
      "Release of the host's output stream, which the driver borrows");
}

CoreBool FakeOutputStream::ReadShort(std::int16_t*) { return 0; }
CoreBool FakeOutputStream::ReadUShort(std::uint16_t*) { return 0; }
CoreBool FakeOutputStream::ReadULong(std::uint32_t*) { return 0; }
CoreBool FakeOutputStream::ReadBytes(void*, std::uint32_t) { return 0; }

std::int32_t FakeOutputStream::PutChar(char character) {
  text_.push_back(character);
  ++putCalls_;
  return 1;
}

}  // namespace zolv::testing

// --- The core library's exported functions -----------------------------------

namespace fake = zolv::testing;

extern "C" {

zolv::Status ZOLV_STDCALL ZolvCreateString(zolv::StringObject** out) {
  return fake::CreateObject<zolv::StringObject, fake::FakeString>(
      out, fake::ObjectKind::kString);
}

zolv::Status ZOLV_STDCALL ZolvCreateMatcher(zolv::Matcher** out) {
  return fake::CreateObject<zolv::Matcher, fake::FakeMatcher>(
      out, fake::ObjectKind::kMatcher);
}

zolv::Status ZOLV_STDCALL ZolvCreateMatchMap(zolv::MatchMap** out) {
  return fake::CreateObject<zolv::MatchMap, fake::FakeMatchMap>(
      out, fake::ObjectKind::kMatchMap);
}

zolv::Status ZOLV_STDCALL ZolvCreateChemistry(zolv::Chemistry** out) {
  fake::FakeCore::State& state = fake::CoreState();
  if (out == nullptr) {
    state.Fault("creation of a Chemistry without an out pointer");
    return 0;
  }
  *out = nullptr;
  if (state.CreationFails(fake::ObjectKind::kChemistry)) return 0;
  *out = state.Adopt<fake::FakeChemistry>(std::string(), false);
  return 1;
}

zolv::Status ZOLV_STDCALL ZolvCreateIndex(zolv::Index** out) {
  return fake::CreateObject<zolv::Index, fake::FakeIndex>(
      out, fake::ObjectKind::kIndex);
}

zolv::Status ZOLV_STDCALL ZolvCreateStream(zolv::Stream** out, const char* mode,
                                           const char* path,
                                           const char* encoding) {
  fake::FakeCore::State& state = fake::CoreState();
  if (out == nullptr) {
    state.Fault("creation of a Stream without an out pointer");
    return 0;
  }
  *out = nullptr;
  if (state.CreationFails(fake::ObjectKind::kStream)) return 0;
  if (mode == nullptr || encoding == nullptr || path == nullptr ||
      std::strcmp(mode, "READFILE") != 0 ||
      std::strcmp(encoding, "BYTEORDERED") != 0) {
    return 0;
  }
  std::string bytes;
  auto file = state.files.find(path);
  if (file != state.files.end()) {
    bytes = file->second;
  } else if (!fake::ReadDiskFile(path, &bytes)) {
    return 0;
  }
  *out = state.Adopt<fake::FakeFileStream>(std::move(bytes));
  return 1;
}

zolv::Status ZOLV_STDCALL ZolvFormula(zolv::HostObject* object,
                                      std::int32_t flags,
                                      zolv::StringObject* out) {
  fake::FakeCore::State& state = fake::CoreState();
  if (flags != 0) state.Fault("ZolvFormula flags not 0");
  if (object == nullptr || out == nullptr) {
    state.Fault("ZolvFormula without an object or a string");
    return 0;
  }
  auto* molecule = dynamic_cast<fake::FakeChemistry*>(object->GetChemistry());
  if (molecule == nullptr) return 0;
  auto* text = dynamic_cast<fake::FakeString*>(out);
  if (text == nullptr) {
    state.Fault("ZolvFormula into a string not of this core");
    return 0;
  }
  auto formula = state.formulas.find(molecule->key());
  if (formula == state.formulas.end()) return 0;
  text->PutText(formula->second.c_str());
  return 1;
}

std::int32_t ZOLV_STDCALL ZolvAtomicSymbolToNumber(const char* symbol) {
  if (symbol == nullptr) return 0;
  const std::string_view wanted(symbol);
  return zolv::AtomicNumberOf(wanted);
}

void* ZOLV_STDCALL ZolvNewMemory(std::uint32_t bytes) {
  fake::FakeCore::State& state = fake::CoreState();
  const std::uint64_t call = ++state.memoryCalls;
  if (state.refuseAllMemory || call == state.refuseMemoryCall) return nullptr;
  const std::size_t size = bytes == 0 ? 1 : bytes;
  void* block = std::malloc(size);
  if (block == nullptr) return nullptr;
  std::memset(block, fake::kFreshByte, size);
  state.blocks[block] = {size, false};
  return block;
}

void ZOLV_STDCALL ZolvDeleteMemory(void* block) {
  if (block == nullptr) return;
  fake::FakeCore::State& state = fake::CoreState();
  auto found = state.blocks.find(block);
  if (found == state.blocks.end()) {
    state.Fault("ZolvDeleteMemory of a block that ZolvNewMemory did not give");
    return;
  }
  if (found->second.deleted) {
    state.Fault("ZolvDeleteMemory of a block deleted before");
    return;
  }
  found->second.deleted = true;
  fake::PoisonBlock(block, found->second.bytes);
}

}  // extern "C"
