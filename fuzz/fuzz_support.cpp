#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dictionary_format.h"
#include "module_directory.h"

namespace zolv::fuzz {
namespace {

using testing::AtomMapping;
using testing::AtomProperties;
using testing::FakeCore;
using testing::ObjectKind;

// The driver reads stored structures in pieces of this many bytes; a piece
// that the stream can still deliver is consumed even when a later one fails.
constexpr std::uint32_t kReadPiece = 64 * 1024;

// Object kinds by the low bits of the fault byte, 1-based.
constexpr ObjectKind kKinds[] = {ObjectKind::kString,   ObjectKind::kMatcher,
                                 ObjectKind::kMatchMap, ObjectKind::kChemistry,
                                 ObjectKind::kIndex,    ObjectKind::kStream};
static_assert(sizeof(kKinds) / sizeof(kKinds[0]) == testing::kObjectKindCount);

// A stream over bytes whose failed reads consume nothing, as the fake's.
class ModelStream {
 public:
  explicit ModelStream(const std::string& bytes) : bytes_(bytes) {}

  bool U16(std::uint16_t* value) {
    if (Left() < 2) return false;
    *value = static_cast<std::uint16_t>(Byte(0) | (Byte(1) << 8));
    position_ += 2;
    return true;
  }
  bool U32(std::uint32_t* value) {
    if (Left() < 4) return false;
    *value = 0;
    for (int i = 3; i >= 0; --i) *value = (*value << 8) | Byte(i);
    position_ += 4;
    return true;
  }
  bool Raw(std::size_t n, std::string* out) {
    if (Left() < n) return false;
    out->assign(bytes_, position_, n);
    position_ += n;
    return true;
  }
  void Skip(std::size_t n) { position_ += n; }
  std::size_t Left() const { return bytes_.size() - position_; }

 private:
  std::uint32_t Byte(std::size_t i) const {
    return static_cast<unsigned char>(bytes_[position_ + i]);
  }
  const std::string& bytes_;
  std::size_t position_ = 0;
};

void ReadList(ModelStream* stream, std::vector<std::uint16_t>* list) {
  std::uint16_t count = 0;
  if (!stream->U16(&count)) return;
  for (std::uint32_t k = 0; k < count; ++k) {
    std::uint16_t value = 0;
    if (!stream->U16(&value)) return;
    list->push_back(value);
  }
}

std::int32_t Property(std::uint8_t byte) {
  if (byte == 0x7F) return std::numeric_limits<std::int32_t>::max();
  if (byte == 0x80) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int8_t>(byte);
}

std::vector<AtomProperties> ReadAtoms(ByteReader* input, std::uint32_t count) {
  std::vector<AtomProperties> atoms(count);
  for (AtomProperties& atom : atoms) {
    atom.p65 = Property(input->Byte());
    atom.p74 = Property(input->Byte());
    atom.p77 = Property(input->Byte());
    atom.p78 = Property(input->Byte());
  }
  return atoms;
}

template <typename Map>
const typename Map::mapped_type* Find(const Map& map,
                                      const typename Map::key_type& key) {
  auto found = map.find(key);
  return found == map.end() ? nullptr : &found->second;
}

std::string KeyOf(const ScreenRecord& record) {
  if (!record.storedBytes) return std::string();
  return std::string(reinterpret_cast<const char*>(record.storedBytes.get()),
                     record.storedLength);
}

// Whether one match passes the per-atom check against the molecule.
bool Compatible(const std::vector<AtomProperties>* pattern,
                const std::vector<AtomProperties>* molecule,
                const AtomMapping& match) {
  if (pattern == nullptr) return true;  // no atoms: nothing to check
  std::set<std::uint32_t> mapped;
  for (const auto& pair : match) mapped.insert(pair.first);
  for (std::uint32_t a : mapped) {
    if (a >= pattern->size()) continue;
    std::uint32_t t = 0;
    for (const auto& pair : match) {
      if (pair.first == a) {
        t = pair.second;
        break;
      }
    }
    if (molecule == nullptr || t >= molecule->size()) return false;
    const AtomProperties& p = (*pattern)[a];
    const AtomProperties& q = (*molecule)[t];
    const std::int64_t demand = std::int64_t{p.p65} + p.p74 + p.p77 + p.p78;
    const std::int64_t offer = std::int64_t{q.p65} + q.p74 + q.p77 + q.p78;
    if (demand > offer || p.p74 > q.p74 || p.p77 > q.p77 || p.p78 > q.p78) {
      return false;
    }
  }
  return true;
}

// Longest formula text with 16-bit lengths; longer ones give no entries.
constexpr std::size_t kLongestFormula = 65535;
constexpr std::int32_t kLargestCount = 32767;

bool Upper(char c) { return c >= 'A' && c <= 'Z'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

bool KnownSymbol(const std::string& symbol) {
  if (static_cast<std::uint32_t>(ZolvAtomicSymbolToNumber(symbol.c_str())) >=
      2) {
    return true;
  }
  return symbol == "H" || symbol == "D" || symbol == "T" || symbol == ":";
}

// One token into entries; false when it cannot be read.
bool Token(const std::string& token, bool commaSeen,
           FormulaEntryList* entries) {
  const std::size_t digit = token.find_first_of("0123456789");
  if (digit == std::string::npos) {
    if (KnownSymbol(token) || token == "M" || token == "X" || token == "Q" ||
        token == "A") {
      entries->emplace_back(token, 1);
      return true;
    }
    return false;
  }
  if (commaSeen) return false;
  std::int32_t count = 0;
  for (std::size_t i = digit; i < token.size(); ++i) {
    if (!Digit(token[i])) return false;
    count = count * 10 + (token[i] - '0');
    if (count > kLargestCount) count = kLargestCount;
  }
  const std::string symbol = token.substr(0, digit);
  if (!KnownSymbol(symbol)) return false;
  entries->emplace_back(symbol, count);
  return true;
}

void SubtractMembers(std::set<std::uint32_t>* from, const ScreenSet& set) {
  for (std::uint32_t n : Members(set)) from->erase(n);
}

}  // namespace

void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

void CheckCore() {
  const std::vector<std::string> problems = FakeCore::Get().Problems();
  if (problems.empty()) return;
  std::string report = "fake core problems:";
  for (const std::string& problem : problems) report += "\n  " + problem;
  Fail(report);
}

void RunOnCleanCore(void (*run)(const std::uint8_t*, std::size_t),
                    const std::uint8_t* data, std::size_t size) {
  FakeCore::Get().Reset();
  run(data, size);
  CheckCore();
  FakeCore::Get().Reset();
}

std::string DictionaryPath(const char* screenFileName) {
  static const std::string directory = [] {
    const TextBuffer found = ModuleDirectory();
    return std::string(found.HasText() ? found.text() : "");
  }();
  return directory + (screenFileName == nullptr ? "" : screenFileName);
}

std::vector<std::uint32_t> Members(const ScreenSet& set) {
  std::vector<std::uint32_t> members;
  std::uint32_t n = 0;
  for (std::uint32_t from = 0; set.NextFrom(from, &n); from = n + 1) {
    members.push_back(n);
  }
  return members;
}

bool ArmFaults(ByteReader* input) {
  FakeCore& core = FakeCore::Get();
  const std::uint8_t refuse = input->Byte();
  const std::uint8_t fail = input->Byte();
  bool armed = false;
  if (refuse != 0) {
    core.RefuseMemoryCall(refuse);
    armed = true;
  }
  const std::uint8_t kind = fail & 0x07;
  if (kind >= 1 && kind <= testing::kObjectKindCount) {
    core.FailCreation(kKinds[kind - 1], (fail >> 3) + 1u);
    armed = true;
  }
  return armed;
}

std::string CapRecordCount(std::string bytes) {
  constexpr std::size_t kCountAt = kDictionaryMagicLength + 2;
  constexpr std::size_t kHeaderSize = kDictionaryHeaderLength;
  constexpr std::size_t kMissingRecords = 8;
  if (bytes.size() < kHeaderSize) return bytes;
  const std::size_t count =
      static_cast<unsigned char>(bytes[kCountAt]) |
      (static_cast<std::size_t>(static_cast<unsigned char>(bytes[kCountAt + 1]))
       << 8);
  const std::size_t limit = (bytes.size() - kHeaderSize) / 2 + kMissingRecords;
  if (count > limit) {
    bytes[kCountAt] = static_cast<char>(limit & 0xFF);
    bytes[kCountAt + 1] = static_cast<char>(limit >> 8);
  }
  return bytes;
}

DictionaryModel ReadDictionaryModel(const std::string& bytes) {
  DictionaryModel model;
  ModelStream stream(bytes);
  std::string magic;
  if (!stream.Raw(kDictionaryMagicLength, &magic) ||
      std::memcmp(magic.data(), kDictionaryMagic, kDictionaryMagicLength) !=
          0) {
    return model;
  }
  std::uint16_t flag = 0;
  std::uint16_t count = 0;
  if (!stream.U16(&flag) || !stream.U16(&count)) return model;
  model.loaded = true;
  model.orderFlag = static_cast<std::int16_t>(flag);
  model.records.resize(count);
  for (ModelRecord& record : model.records) {
    stream.U16(&record.number);
    ReadList(&stream, &record.implied);
    ReadList(&stream, &record.dependent);
    std::uint32_t length = 0;
    if (!stream.U32(&length)) continue;
    if (!stream.Raw(length, &record.stored)) {
      // The pieces that fit were consumed before the one that did not.
      std::size_t pieces = 0;
      while ((pieces + 1) * std::size_t{kReadPiece} <= length &&
             kReadPiece <= stream.Left()) {
        stream.Skip(kReadPiece);
        ++pieces;
      }
    }
  }
  return model;
}

Script InstallScript(const DictionaryModel& model, ByteReader* input) {
  FakeCore& core = FakeCore::Get();
  Script script;
  for (const ModelRecord& record : model.records) {
    const std::uint8_t flags = input->Byte();
    std::vector<AtomMapping> matches(flags & 0x03);
    for (AtomMapping& match : matches) {
      const std::uint32_t pairs = input->Byte() & 0x03;
      for (std::uint32_t k = 0; k < pairs; ++k) {
        const std::uint8_t pair = input->Byte();
        match.emplace_back(pair & 0x0F, pair >> 4);
      }
    }
    const bool mayOccur = (flags & 0x04) == 0;
    std::vector<AtomProperties> atoms = ReadAtoms(input, (flags >> 3) & 0x07);
    core.SetMatches(record.stored, kMoleculeKey, matches);
    core.SetMayOccur(record.stored, kMoleculeKey, mayOccur);
    core.SetAtoms(record.stored, atoms);
    script.matches[record.stored] = std::move(matches);
    script.mayOccur[record.stored] = mayOccur;
    script.atoms[record.stored] = std::move(atoms);
  }
  std::vector<AtomProperties> molecule = ReadAtoms(input, input->Byte() & 0x0F);
  core.SetAtoms(kMoleculeKey, molecule);
  script.atoms[kMoleculeKey] = std::move(molecule);
  return script;
}

std::set<std::uint32_t> ExpectedScreens(const ScreenDictionary& dictionary,
                                        const Script& script, bool query) {
  std::set<std::uint32_t> candidates;
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    candidates.insert(dictionary.RecordAt(i).number);
  }
  std::set<std::uint32_t> found;
  const auto* molecule = Find(script.atoms, std::string(kMoleculeKey));
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    const ScreenRecord& record = dictionary.RecordAt(i);
    if (candidates.count(record.number) == 0) {
      SubtractMembers(&candidates, record.dependent);
      continue;
    }
    const std::string key = KeyOf(record);
    const auto* matches = Find(script.matches, key);
    bool present = false;
    if (query) {
      const auto* pattern = Find(script.atoms, key);
      if (matches != nullptr) {
        for (const AtomMapping& match : *matches) {
          if (Compatible(pattern, molecule, match)) {
            present = true;
            break;
          }
        }
      }
    } else {
      const bool* mayOccur = Find(script.mayOccur, key);
      if (mayOccur != nullptr && !*mayOccur) {
        SubtractMembers(&candidates, record.dependent);
        continue;
      }
      present = matches != nullptr && !matches->empty();
    }
    if (present) {
      found.insert(record.number);
      for (std::uint32_t n : Members(record.implied)) found.insert(n);
      SubtractMembers(&candidates, record.implied);
    } else {
      SubtractMembers(&candidates, record.dependent);
    }
  }

  if (!query) {
    // The result list holds one entry per record.
    std::set<std::uint32_t> kept;
    for (std::uint32_t n : found) {
      if (kept.size() == dictionary.count()) break;
      kept.insert(n);
    }
    return kept;
  }
  std::set<std::uint32_t> reported = found;
  for (std::uint32_t n : found) {
    const ScreenRecord* record = dictionary.RecordNumbered(n);
    if (record != nullptr) SubtractMembers(&reported, record->implied);
  }
  if (reported.empty() && !found.empty()) reported.insert(*found.begin());
  return reported;
}

FormulaEntryList FormulaEntries(const std::string& text) {
  const std::size_t length = text.size();
  if (length == 0 || length > kLongestFormula) return {};
  if (!Upper(text[0]) && text[0] != ':' && text[0] != '~') return {};
  FormulaEntryList entries;
  bool commaSeen = false;
  for (std::size_t s = text[0] == '~' ? 2 : 1; s <= length;) {
    std::size_t k = s;
    bool comma = false;
    for (; k < length && !Upper(text[k]) && text[k] != ':'; ++k) {
      comma = comma || text[k] == ',';
    }
    std::string token = text.substr(s - 1, k - s + 1);
    s = k + 1;
    commaSeen = commaSeen || comma;
    if (comma) token.pop_back();
    if (!Token(token, commaSeen, &entries)) return {};
  }
  return entries;
}

std::string RemoveBrackets(std::string text) {
  std::size_t open = text.find('[');
  while (open != std::string::npos) {
    const std::size_t close = text.find(']', open);
    if (close == std::string::npos) break;
    text.erase(open, close - open + 1);
    open = text.find('[', open);
  }
  return text;
}

}  // namespace zolv::fuzz
