// ZolvWrite as the host calls it, with arbitrary options, dictionary, formula
// and scripts on the fake core. Without injected faults the text must be
// exactly the one the script's screens and the formula give.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "core_api.h"
#include "fake_core.h"
#include "fuzz_input.h"
#include "fuzz_support.h"
#include "option_parser.h"
#include "screen_dictionary.h"
#include "zolv/zolvexformat.h"

namespace zolv::fuzz {
namespace {

// Longer bit strings are a matter of output volume, not of new paths: a
// write of two thousand million characters is what such a length asks for.
constexpr std::uint32_t kLongestBitString = 1u << 16;

std::string ExpectedBitString(const std::set<std::uint32_t>& screens,
                              std::uint32_t length) {
  std::set<std::uint32_t> shown = screens;
  if (!screens.empty() && *screens.rbegin() > length) {
    shown.clear();
    for (std::uint32_t m : screens) {
      if (m >= 1) shown.insert((m - 1) % length + 1);
    }
  }
  std::string bits(length, '0');
  for (std::uint32_t p : shown) {
    if (p >= 1 && p <= length) bits[p - 1] = '1';
  }
  return bits;
}

// "SBI" text as the rules of its encoders give it, written here without the
// driver's code.
class SbiText {
 public:
  SbiText(bool query, WildcardDialect dialect, std::uint32_t budget)
      : query_(query),
        odbc_(query && dialect == WildcardDialect::kOdbc),
        budget_(budget) {}

  void RawScreens(const std::set<std::uint32_t>& screens) {
    bool aboveWasMember = false;
    const std::uint32_t largest = screens.empty() ? 0 : *screens.rbegin();
    for (std::uint32_t n = largest; n >= 1; --n) {
      if (screens.count(n) == 0) {
        aboveWasMember = false;
        continue;
      }
      if (query_ && !aboveWasMember && budget_ > 0) Separator();
      PatternChar(static_cast<std::uint8_t>(n % 256));
      aboveWasMember = true;
    }
  }

  // The alphabet characters take from the budget without consulting it,
  // but a query keeps the last place for the separator; once the budget is
  // spent the driver writes nothing more.
  void AlphabetScreens(const std::set<std::uint32_t>& screens) {
    static constexpr char kAlphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz{}";
    std::set<std::uint32_t> folded;
    for (std::uint32_t m : screens) {
      if (m >= 1) folded.insert((m - 1) % 64 + 1);
    }
    if (folded.empty() || *folded.begin() >= 64) return;
    bool separatorDue = true;
    for (std::uint32_t b = *folded.begin(); b < 64; ++b) {
      if (folded.count(b) == 0) {
        separatorDue = true;
        continue;
      }
      if (query_ && separatorDue) {
        if (budget_ == 0) return;
        Separator();
      }
      if (budget_ == 0) return;
      if (query_ && budget_ == 1) {
        Separator();
        return;
      }
      Put(kAlphabet[b]);
      separatorDue = false;
    }
  }

  void FormulaFragment(const FormulaEntryList& entries, std::uint8_t offset) {
    std::string previous = "/0";
    std::size_t lastWritten = 0;
    for (const auto& [symbol, entryCount] : entries) {
      if (budget_ == 0) break;
      if (std::string("CHDT").find(symbol) != std::string::npos) continue;
      if (query_ && budget_ > 0) Separator();
      std::uint32_t count = static_cast<std::uint32_t>(entryCount);
      if (count > 5) count = 5;
      const std::size_t written = symbol == previous ? lastWritten : 0;
      for (std::size_t copy = written; copy < count; ++copy) {
        for (char c : symbol) {
          PatternChar(
              static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) + offset));
        }
        lastWritten = symbol.size();
      }
      previous = symbol;
    }
    if (query_ && budget_ > 0) Separator();
  }

  const std::string& text() const { return text_; }

 private:
  char SeparatorChar() const { return odbc_ ? '%' : '*'; }
  void Separator() { Put(SeparatorChar()); }
  void Put(char c) {
    text_.push_back(c);
    --budget_;
  }

  void PatternChar(std::uint8_t c) {
    if (budget_ == 0) return;
    if (budget_ == 1) {
      Separator();
      return;
    }
    const bool special =
        c == '*' || c == '?' || c == '#' || c == '-' || c == '[';
    if (special) {
      if (budget_ < 5) {
        text_.push_back(SeparatorChar());
        budget_ = 0;
        return;
      }
      Put(query_ ? SeparatorChar() : '[');
    }
    if (query_) {
      if (c == '[' || c == '"') {
        c = static_cast<std::uint8_t>(SeparatorChar());
      } else if (c == '\'' || c == '|' || c == '^' || c == 0x07) {
        c = odbc_ ? '_' : '?';
      }
    } else if (c == '|') {
      c = '?';
    }
    Put(static_cast<char>(c));
    if (special) Put(']');
  }

  bool query_;
  bool odbc_;
  std::uint32_t budget_;
  std::string text_;
};

std::string ExpectedSbiText(const std::set<std::uint32_t>& screens,
                            const WriteOptions& options,
                            const FormulaEntryList& entries) {
  const bool query = options.screenMode == ScreenMode::kQuery;
  SbiText text(query, options.dialect, options.length);
  if (options.ascii) {
    text.AlphabetScreens(screens);
    text.FormulaFragment(entries, 0);
  } else {
    text.RawScreens(screens);
    text.FormulaFragment(entries, 10);
  }
  return text.text();
}

void Run(const std::uint8_t* data, std::size_t size) {
  ByteReader input(data, size);
  const bool faults = ArmFaults(&input);
  const std::uint8_t flags = input.Byte();
  const std::string optionBytes = input.Bytes(input.Byte());
  const std::string options = optionBytes.substr(0, optionBytes.find('\0'));
  const std::string formula = input.Bytes(input.Byte());
  const std::string dictionary = CapRecordCount(input.Bytes(input.U16()));
  const DictionaryModel model = ReadDictionaryModel(dictionary);
  const Script script = InstallScript(model, &input);

  const char* optionText =
      (flags & kFlagNoOptions) != 0 ? nullptr : options.c_str();
  WriteOptions parsed;
  ParseOptions(optionText, &parsed);
  const bool refusedLength =
      parsed.length == 0 || static_cast<std::int32_t>(parsed.length) < 0;
  if (!parsed.sbi && !refusedLength && parsed.length > kLongestBitString) {
    return;
  }

  testing::FakeCore& core = testing::FakeCore::Get();
  const bool file = (flags & kFlagNoFile) == 0;
  if (file) {
    core.AddFile(DictionaryPath(parsed.screenFile.text()), dictionary);
  } else {
    core.FailCreation(testing::ObjectKind::kStream, 1);
  }
  FormulaEntryList entries;
  if ((flags & kFlagNoFormula) == 0) {
    const std::string text = formula.substr(0, formula.find('\0'));
    core.SetFormula(kMoleculeKey, text);
    entries = FormulaEntries(RemoveBrackets(text));
  }

  const bool molecule = (flags & kFlagNotMolecule) == 0;
  testing::FakeHostObject host(kMoleculeKey, molecule ? 1 : 0);
  auto* object =
      reinterpret_cast<ZolvHostObject*>(static_cast<HostObject*>(&host));
  if (ZolvPreWrite(object, 0, 0) !=
      (molecule ? ZOLV_PREWRITE_ACCEPTED : ZOLV_PREWRITE_REFUSED)) {
    Fail("ZolvPreWrite");
  }

  // The screens a fault-free write must find, from the order the driver
  // loads the file in.
  const bool checked = !faults && file && !refusedLength;
  std::set<std::uint32_t> expected;
  if (checked) {
    ScreenDictionary loaded;
    loaded.Open(parsed.screenFile.text());
    expected = ExpectedScreens(loaded, script,
                               parsed.screenMode == ScreenMode::kQuery);
  }

  testing::FakeOutputStream stream;
  const std::int32_t result = ZolvWrite(
      object, reinterpret_cast<ZolvStream*>(static_cast<Stream*>(&stream)),
      optionText, 0);
  const std::string& text = stream.text();
  if (refusedLength) {
    if (result != ZOLV_WRITE_BAD_LENGTH || !text.empty()) {
      Fail("a zero or negative length was written");
    }
    return;
  }
  if (result != ZOLV_WRITE_DONE) Fail("result not 1");
  if (stream.putCalls() != text.size()) Fail("PutChar count");
  if (parsed.sbi) {
    if (text.size() > parsed.length) Fail("SBI text over its budget");
    if (checked && text != ExpectedSbiText(expected, parsed, entries)) {
      Fail("SBI text differs from the script's screens and formula");
    }
    return;
  }
  if (text.size() != parsed.length) Fail("bit string of the wrong length");
  if (text.find_first_not_of("01") != std::string::npos) {
    Fail("bit string with other characters");
  }
  if (checked && text != ExpectedBitString(expected, parsed.length)) {
    Fail("bit string differs from the script's screens");
  }
}

}  // namespace
}  // namespace zolv::fuzz

ZOLV_FUZZ_ON_CLEAN_CORE(zolv::fuzz::Run)
