#include "dictionary_format.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>

namespace zolv {
namespace {

constexpr std::size_t kCountLimit = kDictionaryCountLimit;
static_assert(kCountLimit == std::numeric_limits<std::uint16_t>::max(),
              "counts are 16-bit");

bool AppendList(std::string* bytes, const std::vector<std::uint16_t>& list) {
  if (list.size() > kCountLimit) return false;
  AppendU16(bytes, static_cast<std::uint16_t>(list.size()));
  for (std::uint16_t number : list) AppendU16(bytes, number);
  return true;
}

// Little-endian fields, as the driver's core stream reads them; every read
// is checked against what is left.
class ByteReader {
 public:
  explicit ByteReader(const std::string& bytes) : bytes_(bytes) {}

  std::size_t offset() const { return offset_; }
  std::size_t left() const { return bytes_.size() - offset_; }

  bool U16(std::uint16_t* value) {
    if (left() < 2) return false;
    *value = static_cast<std::uint16_t>(Byte(0) | (Byte(1) << 8));
    offset_ += 2;
    return true;
  }

  bool U32(std::uint32_t* value) {
    if (left() < 4) return false;
    *value = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) |
             (static_cast<std::uint32_t>(Byte(3)) << 24);
    offset_ += 4;
    return true;
  }

  bool Bytes(std::size_t count, std::string* out) {
    if (left() < count) return false;
    out->assign(bytes_, offset_, count);
    offset_ += count;
    return true;
  }

 private:
  std::uint32_t Byte(std::size_t at) const {
    return static_cast<unsigned char>(bytes_[offset_ + at]);
  }

  const std::string& bytes_;
  std::size_t offset_ = 0;
};

std::string RecordName(std::size_t position, std::uint16_t number) {
  return "record " + std::to_string(position + 1) + " (screen " +
         std::to_string(number) + ")";
}

// Reads one record; the message says where it ends when it is cut short.
std::optional<std::string> ReadRecord(ByteReader* reader,
                                      DictionaryScreen* screen) {
  if (!reader->U16(&screen->number)) return "the file ends inside it";
  const auto readList = [reader](std::vector<std::uint16_t>* list) {
    std::uint16_t count = 0;
    if (!reader->U16(&count)) return false;
    if (reader->left() / 2 < count) return false;
    list->resize(count);
    for (std::uint16_t& entry : *list) reader->U16(&entry);
    return true;
  };
  if (!readList(&screen->implied)) {
    return "the file ends inside its implied list";
  }
  if (!readList(&screen->dependent)) {
    return "the file ends inside its dependent list";
  }
  std::uint32_t length = 0;
  if (!reader->U32(&length)) {
    return "the file ends before the length of its stored structure";
  }
  if (!reader->Bytes(length, &screen->stored)) {
    return "its stored structure of " + std::to_string(length) +
           " bytes runs past the end of the file";
  }
  return std::nullopt;
}

// The sorted, distinct entries of a list: the driver holds lists as sets.
std::vector<std::uint16_t> AsSet(std::vector<std::uint16_t> list) {
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  return list;
}

bool Holds(const std::vector<std::uint16_t>& set, std::uint16_t number) {
  return std::binary_search(set.begin(), set.end(), number);
}

constexpr int kNoRecord = -1;

// Screen number -> position in the file of the first record carrying it.
std::vector<int> PositionsOf(const DictionaryContent& content) {
  std::vector<int> positionOf(
      std::numeric_limits<std::uint16_t>::max() + std::size_t{1}, kNoRecord);
  for (std::size_t i = 0; i < content.screens.size(); ++i) {
    int& position = positionOf[content.screens[i].number];
    if (position == kNoRecord) position = static_cast<int>(i);
  }
  return positionOf;
}

}  // namespace

void AppendU16(std::string* bytes, std::uint16_t value) {
  bytes->push_back(static_cast<char>(value & 0xFF));
  bytes->push_back(static_cast<char>(value >> 8));
}

void AppendU32(std::string* bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes->push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

std::string EncodeDictionary(const DictionaryContent& content) {
  if (content.screens.size() > kCountLimit) return std::string();
  std::string bytes(kDictionaryMagic, kDictionaryMagicLength);
  AppendU16(&bytes, static_cast<std::uint16_t>(content.orderFlag));
  AppendU16(&bytes, static_cast<std::uint16_t>(content.screens.size()));
  for (const DictionaryScreen& screen : content.screens) {
    AppendU16(&bytes, screen.number);
    if (!AppendList(&bytes, screen.implied) ||
        !AppendList(&bytes, screen.dependent) ||
        screen.stored.size() > std::numeric_limits<std::uint32_t>::max()) {
      return std::string();
    }
    AppendU32(&bytes, static_cast<std::uint32_t>(screen.stored.size()));
    bytes += screen.stored;
  }
  return bytes;
}

bool WriteDictionaryFile(const std::string& path,
                         const DictionaryContent& content) {
  const std::string bytes = EncodeDictionary(content);
  if (bytes.empty()) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

DictionaryFile DecodeDictionary(const std::string& bytes) {
  DictionaryFile file;
  if (bytes.size() < kDictionaryHeaderLength) {
    file.problems.push_back("the file is " + std::to_string(bytes.size()) +
                            " bytes long; its header alone takes " +
                            std::to_string(kDictionaryHeaderLength));
    return file;
  }
  if (bytes.compare(0, kDictionaryMagicLength, kDictionaryMagic,
                    kDictionaryMagicLength) != 0) {
    file.problems.push_back(
        "not a screen dictionary: the file does not "
        "begin with \"VetOrb\"");
    return file;
  }
  ByteReader reader(bytes);
  std::string magic;
  std::uint16_t flag = 0;
  reader.Bytes(kDictionaryMagicLength, &magic);
  reader.U16(&flag);
  reader.U16(&file.declaredCount);
  file.content.orderFlag = static_cast<std::int16_t>(flag);
  file.headerRead = true;

  for (std::size_t i = 0; i < file.declaredCount; ++i) {
    DictionaryScreen screen;
    if (auto cut = ReadRecord(&reader, &screen)) {
      file.problems.push_back(
          "record " + std::to_string(i + 1) + " of " +
          std::to_string(file.declaredCount) + ": " + *cut +
          (i == 0 ? std::string() : " (the records before it are whole)"));
      return file;
    }
    file.content.screens.push_back(std::move(screen));
  }
  file.trailingBytes = reader.left();
  return file;
}

DictionaryFile ReadDictionaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    DictionaryFile file;
    file.problems.push_back("cannot be opened");
    return file;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  if (in.bad()) {
    DictionaryFile file;
    file.problems.push_back("cannot be read");
    return file;
  }
  return DecodeDictionary(bytes);
}

std::vector<std::string> ValidateDictionary(const DictionaryContent& content) {
  std::vector<std::string> problems;
  const std::vector<DictionaryScreen>& screens = content.screens;
  const std::size_t count = screens.size();
  const std::vector<int> positionOf = PositionsOf(content);

  std::vector<std::vector<std::uint16_t>> implied(count);
  std::vector<std::vector<std::uint16_t>> dependent(count);
  for (std::size_t i = 0; i < count; ++i) {
    implied[i] = AsSet(screens[i].implied);
    dependent[i] = AsSet(screens[i].dependent);
  }

  // Numbers and the records they point at.
  for (std::size_t i = 0; i < count; ++i) {
    const DictionaryScreen& screen = screens[i];
    const std::string name = RecordName(i, screen.number);
    if (screen.number == 0) {
      problems.push_back(name +
                         ": screen number 0 is never written; numbers "
                         "start at 1");
    } else if (screen.number > count) {
      problems.push_back(name + ": screen number exceeds the record count " +
                         std::to_string(count));
    }
    const int first = positionOf[screen.number];
    if (first != static_cast<int>(i)) {
      problems.push_back(name + ": screen number already used by record " +
                         std::to_string(first + 1));
    }
    if (screen.stored.empty()) {
      problems.push_back(name + ": no stored structure");
    }
    const auto checkList = [&](const std::vector<std::uint16_t>& list,
                               const char* what) {
      for (std::uint16_t entry : list) {
        if (entry == screen.number) {
          problems.push_back(name + ": names itself in its " + what + " list");
        } else if (positionOf[entry] == kNoRecord) {
          problems.push_back(name + ": " + what + " screen " +
                             std::to_string(entry) +
                             " is not in the dictionary");
        }
      }
    };
    checkList(implied[i], "implied");
    checkList(dependent[i], "dependent");
  }

  // Agreement and closure, between records whose numbers are unambiguous.
  const auto recordOf = [&](std::uint16_t number) -> int {
    return positionOf[number];
  };
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t s = screens[i].number;
    if (recordOf(s) != static_cast<int>(i)) continue;
    const std::string name = RecordName(i, s);
    for (std::uint16_t t : implied[i]) {
      const int other = recordOf(t);
      if (t == s || other == kNoRecord) continue;
      if (!Holds(dependent[other], s)) {
        problems.push_back(name + ": implies screen " + std::to_string(t) +
                           ", but screen " + std::to_string(t) +
                           " does not list it among its dependents");
      }
      for (std::uint16_t u : implied[other]) {
        if (u == s) {
          problems.push_back(name + ": implies screen " + std::to_string(t) +
                             ", which implies it back");
        } else if (!Holds(implied[i], u) && recordOf(u) != kNoRecord) {
          problems.push_back(name + ": implies screen " + std::to_string(t) +
                             ", which implies screen " + std::to_string(u) +
                             ", but " + std::to_string(u) +
                             " is not in its implied list");
        }
      }
      if (content.orderFlag != 0 && other > static_cast<int>(i)) {
        problems.push_back(name + ": implies screen " + std::to_string(t) +
                           ", which comes later (record " +
                           std::to_string(other + 1) +
                           "), but the order flag says the records are in "
                           "test order");
      }
    }
    for (std::uint16_t d : dependent[i]) {
      const int other = recordOf(d);
      if (d == s || other == kNoRecord) continue;
      if (!Holds(implied[other], s)) {
        problems.push_back(name + ": lists dependent screen " +
                           std::to_string(d) + ", but screen " +
                           std::to_string(d) +
                           " does not list it among its implied screens");
      }
    }
  }
  return problems;
}

bool IsInTestOrder(const DictionaryContent& content) {
  const std::vector<int> positionOf = PositionsOf(content);
  for (std::size_t i = 0; i < content.screens.size(); ++i) {
    for (std::uint16_t t : content.screens[i].implied) {
      if (positionOf[t] == kNoRecord || positionOf[t] >= static_cast<int>(i)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace zolv
