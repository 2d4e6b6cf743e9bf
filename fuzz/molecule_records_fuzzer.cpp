// The host's record reader on arbitrary files: the input's first byte picks
// SMILES or SD reading and an atom limit, the rest is the file. Every record
// is compared with a plain reading of the same rules written here: lines
// split at "\n" (a "\r" before it dropped), SMILES records from lines whose
// first non-blank byte is no "#", SD records between "$$$$" lines, and a
// problem exactly where a record holds a NUL byte, a second "M  END" or too
// many atoms. An SD record's data items must also survive the index's JSON
// form: well-formed UTF-8 that reads back to the same items.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "data_items.h"
#include "fuzz_support.h"
#include "molecule_input.h"
#include "utf8_text.h"

namespace zolv::fuzz {
namespace {

struct Line {
  std::string text;
  std::size_t number;
};

std::vector<Line> SplitLines(const std::string& file) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < file.size()) {
    std::size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    std::string text = file.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines.push_back({text, lines.size() + 1});
    start = end + 1;
  }
  return lines;
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' ||
         c == '\f';
}

struct Expected {
  std::string text;
  std::size_t line;
  bool problem;
};

std::vector<Expected> ExpectedSmiles(const std::vector<Line>& lines,
                                     std::size_t maxAtoms) {
  std::vector<Expected> records;
  for (const Line& line : lines) {
    std::size_t first = 0;
    while (first < line.text.size() && Blank(line.text[first])) ++first;
    if (first == line.text.size() || line.text[first] == '#') continue;
    std::size_t end = first;
    while (end < line.text.size() && !Blank(line.text[end])) ++end;
    const std::string smiles = line.text.substr(first, end - first);
    const bool nul = line.text.find('\0') != std::string::npos;
    const bool large =
        maxAtoms != 0 && host::CountSmilesAtoms(smiles) > maxAtoms;
    records.push_back({smiles, line.number, nul || large});
  }
  return records;
}

std::vector<Expected> ExpectedSd(const std::vector<Line>& lines,
                                 std::size_t maxAtoms) {
  std::vector<Expected> records;
  Expected current{"", 0, false};
  bool blank = true;
  int blockEnds = 0;
  const auto finish = [&]() {
    if (!blank) {
      const bool large =
          maxAtoms != 0 &&
          host::MolfileAtomCount(current.text).value_or(0) > maxAtoms;
      current.problem = current.problem || blockEnds > 1 || large;
      records.push_back(current);
    }
    current = {"", 0, false};
    blank = true;
    blockEnds = 0;
  };
  for (const Line& line : lines) {
    if (line.text.compare(0, 4, "$$$$") == 0) {
      finish();
      continue;
    }
    if (current.line == 0) current.line = line.number;
    for (char c : line.text) blank = blank && Blank(c);
    if (line.text.find('\0') != std::string::npos) current.problem = true;
    if (line.text.compare(0, 6, "M  END") == 0) ++blockEnds;
    current.text += line.text + "\n";
  }
  finish();
  return records;
}

// The items of a record through the index's JSON form and back: every name
// once, in order, its values joined by "\n".
void CheckDataItems(const std::string& record) {
  const std::vector<search::DataItem> items = host::ReadSdDataItems(record);
  std::vector<search::DataItem> joined;
  for (const search::DataItem& item : items) {
    bool seen = false;
    for (search::DataItem& earlier : joined) {
      if (earlier.name == item.name) {
        earlier.value += "\n" + item.value;
        seen = true;
      }
    }
    if (!seen) joined.push_back(item);
  }
  const std::string json = search::EncodeDataItems(items);
  if (!search::IsWellFormedUtf8(json)) Fail("data items JSON is not UTF-8");
  std::vector<search::DataItem> back;
  if (!json.empty() && !search::DecodeDataItems(json, &back)) {
    Fail("data items JSON does not read back");
  }
  if (back.size() != joined.size()) Fail("data items read back differ");
  for (std::size_t i = 0; i < back.size(); ++i) {
    if (back[i].name != joined[i].name || back[i].value != joined[i].value) {
      Fail("data item read back differs");
    }
  }
}

}  // namespace
}  // namespace zolv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zolv;
  using namespace zolv::fuzz;
  if (size == 0) return 0;
  const bool sd = (data[0] & 1) != 0;
  const std::size_t maxAtoms = data[0] >> 1;  // 0: no limit
  const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);

  char path[] = "/tmp/zolv_fuzz_records_XXXXXX";
  const int descriptor = mkstemp(path);
  if (descriptor < 0) Fail("cannot make a temporary file");
  const bool written = write(descriptor, file.data(), file.size()) ==
                       static_cast<ssize_t>(file.size());
  close(descriptor);
  if (!written) Fail("cannot write the temporary file");

  host::MoleculeReader reader;
  std::string error;
  const bool opened = reader.Open(
      path, sd ? host::InputFormat::kSdf : host::InputFormat::kSmiles, &error);
  std::vector<host::InputRecord> records;
  if (opened) {
    reader.SetMaxAtoms(maxAtoms);
    host::InputRecord record;
    while (reader.Next(&record)) {
      records.push_back(record);
      if (records.size() > file.size() + 1) Fail("more records than bytes");
    }
  }
  unlink(path);
  if (!opened) Fail("cannot open the temporary file: " + error);
  if (!reader.error().empty()) Fail("read error: " + reader.error());

  const std::vector<Line> lines = SplitLines(file);
  const std::vector<Expected> expected =
      sd ? ExpectedSd(lines, maxAtoms) : ExpectedSmiles(lines, maxAtoms);
  if (records.size() != expected.size()) Fail("record count differs");
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].text != expected[i].text) Fail("record text differs");
    if (records[i].line != expected[i].line) Fail("record line differs");
    if (records[i].problem.empty() == expected[i].problem) {
      Fail("record problem differs: '" + records[i].problem + "'");
    }
    if (sd) CheckDataItems(records[i].text);
  }
  return 0;
}
