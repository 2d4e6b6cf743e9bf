#include "molecule_input.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "plain_text.h"

namespace zolv::host {
namespace {

constexpr char kRecordEnd[] = "$$$$";
constexpr char kBlockEnd[] = "M  END";
// Bytes read from the file at a time.
constexpr std::size_t kReadChunk = 1 << 16;

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::optional<InputFormat> FormatFromFileName(const std::string& path) {
  std::string name = Lower(std::filesystem::path(path).filename().string());
  if (EndsWith(name, ".gz")) name.resize(name.size() - 3);
  const std::string extension =
      std::filesystem::path(name).extension().string();
  if (extension == ".smi" || extension == ".smiles")
    return InputFormat::kSmiles;
  if (extension == ".sdf" || extension == ".sd" || extension == ".mol") {
    return InputFormat::kSdf;
  }
  return std::nullopt;
}

std::optional<InputFormat> ParseInputFormat(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower == "smi" || lower == "smiles") return InputFormat::kSmiles;
  if (lower == "sdf" || lower == "mol") return InputFormat::kSdf;
  return std::nullopt;
}

std::optional<std::string> CheckInputFile(const std::string& path) {
  if (path == "-") return std::nullopt;
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (status.type() == fs::file_type::not_found) return "no such file";
  if (code) return code.message();
  if (fs::is_directory(status)) return "is a directory, not a molecule file";
  // Pipes and devices are read as they come; only a plain file can be
  // known to be empty beforehand.
  if (fs::is_regular_file(status)) {
    const auto size = fs::file_size(path, code);
    if (code) return code.message();
    if (size == 0) return "the file is empty";
  }
  if (access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  return std::nullopt;
}

LineReader::~LineReader() {
  if (file_ != nullptr) gzclose(file_);
}

bool LineReader::Open(const std::string& path, std::string* error) {
  errno = 0;
  if (path == "-") {
    // gzclose closes the descriptor it was given; standard input stays open.
    const int descriptor = dup(STDIN_FILENO);
    file_ = descriptor < 0 ? nullptr : gzdopen(descriptor, "rb");
    if (file_ == nullptr && descriptor >= 0) close(descriptor);
  } else {
    file_ = gzopen(path.c_str(), "rb");
  }
  path_ = path;
  if (file_ == nullptr) {
    *error = errno != 0 ? std::strerror(errno) : "cannot open";
    return false;
  }
  buffer_.resize(kReadChunk);
  return true;
}

bool LineReader::Fill() {
  if (atEnd_ || file_ == nullptr) return false;
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (buffer_.size() - end_ < kReadChunk) buffer_.resize(end_ + kReadChunk);
  const int read =
      gzread(file_, buffer_.data() + end_, static_cast<unsigned>(kReadChunk));
  if (read <= 0) {
    // A compressed stream cut short ends like a file, with an error kept.
    int code = Z_OK;
    const char* message = gzerror(file_, &code);
    if (read < 0 || code != Z_OK) {
      std::string reason = message != nullptr ? message : "";
      // zlib puts the file's name first; the caller shows it already.
      if (reason.compare(0, path_.size() + 2, path_ + ": ") == 0) {
        reason.erase(0, path_.size() + 2);
      }
      error_ = code == Z_ERRNO ? std::strerror(errno)
                               : "corrupt compressed data: " + reason;
    }
    atEnd_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(read);
  return true;
}

bool LineReader::Next(std::string* line) {
  std::size_t searched = start_;
  for (;;) {
    const void* found =
        std::memchr(buffer_.data() + searched, '\n', end_ - searched);
    if (found != nullptr) {
      const std::size_t newline = static_cast<std::size_t>(
          static_cast<const char*>(found) - buffer_.data());
      line->assign(buffer_.data() + start_, newline - start_);
      start_ = newline + 1;
      break;
    }
    const std::size_t unread = end_ - start_;
    if (!Fill()) {
      // A last line without a line end still counts; after a read error the
      // partial line is not trusted.
      if (!error_.empty() || end_ == start_) return false;
      line->assign(buffer_.data() + start_, end_ - start_);
      start_ = end_;
      break;
    }
    searched = start_ + unread;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  ++lineNumber_;
  return true;
}

bool MoleculeReader::Open(const std::string& path, InputFormat format,
                          std::string* error) {
  format_ = format;
  return lines_.Open(path, error);
}

bool MoleculeReader::Next(InputRecord* record) {
  return format_ == InputFormat::kSmiles ? NextSmiles(record)
                                         : NextMolfile(record);
}

bool MoleculeReader::NextSmiles(InputRecord* record) {
  std::string line;
  while (lines_.Next(&line)) {
    if (SplitSmilesLine(line, &record->text, &record->name)) {
      record->line = lines_.lineNumber();
      record->problem.clear();
      // A NUL anywhere on the line would end the SMILES early inside the
      // parser, so the molecule would silently lose its tail.
      if (const auto problem = CheckMoleculeText(line, false, 0)) {
        record->problem = *problem;
      } else if (const auto tooLarge =
                     CheckMoleculeText(record->text, false, maxAtoms_)) {
        record->problem = *tooLarge;
      }
      return true;
    }
  }
  return false;
}

bool MoleculeReader::NextMolfile(InputRecord* record) {
  std::string line;
  for (;;) {
    record->text.clear();
    record->name.clear();
    record->problem.clear();
    record->line = 0;
    bool blank = true;
    bool ended = false;
    std::size_t blockEnd = 0;  // line of the record's "M  END", if seen
    while (lines_.Next(&line)) {
      if (line.compare(0, 4, kRecordEnd) == 0) {
        ended = true;
        break;
      }
      if (record->line == 0) {
        record->line = lines_.lineNumber();
        record->name = std::string(TrimWhiteSpace(line));
      }
      if (line.find_first_not_of(kWhiteSpace) != std::string::npos) {
        blank = false;
      }
      if (record->problem.empty()) {
        if (line.find('\0') != std::string::npos) {
          record->problem =
              "a NUL byte on line " + std::to_string(lines_.lineNumber());
        } else if (line.compare(0, 6, kBlockEnd) == 0) {
          // Only a missing "$$$$" lets a second molecule block into the
          // record; both molecules are skipped rather than one lost unseen.
          if (blockEnd != 0) {
            record->problem =
                "a second \"M  END\" on line " +
                std::to_string(lines_.lineNumber()) + " (the first on line " +
                std::to_string(blockEnd) +
                "): the record lacks its \"$$$$\" and runs into the next";
          }
          blockEnd = lines_.lineNumber();
        }
      }
      record->text += line;
      record->text += '\n';
    }
    if (!blank) {
      if (record->problem.empty()) {
        if (const auto tooLarge =
                CheckMoleculeText(record->text, true, maxAtoms_)) {
          record->problem = *tooLarge;
        }
      }
      return lines_.error().empty() || ended;
    }
    // Blank lines between or after records are no record.
    if (!ended) return false;
  }
}

std::size_t CountSmilesAtoms(const std::string& text) {
  std::size_t atoms = 0;
  std::size_t depth = 0;  // brackets nest in recursive SMARTS
  for (const char c : text) {
    if (c == '[') {
      if (depth == 0) ++atoms;
      ++depth;
    } else if (c == ']') {
      if (depth > 0) --depth;
    } else if (depth == 0) {
      // Outside brackets each atom starts with a capital, an aromatic
      // letter or "*"; the second letter of Cl and Br is neither.
      const bool aromatic = c == 'b' || c == 'c' || c == 'n' || c == 'o' ||
                            c == 'p' || c == 's' || c == 'a';
      if ((c >= 'A' && c <= 'Z') || aromatic || c == '*') ++atoms;
    }
  }
  return atoms;
}

std::optional<std::size_t> MolfileAtomCount(const std::string& record) {
  std::size_t start = 0;
  for (int line = 0; line < 3; ++line) {
    start = record.find('\n', start);
    if (start == std::string::npos) return std::nullopt;
    ++start;
  }
  const std::size_t end = record.find('\n', start);
  const std::string counts = record.substr(
      start, end == std::string::npos ? std::string::npos : end - start);
  if (counts.find("V3000") != std::string::npos) {
    constexpr char kCounts[] = "M  V30 COUNTS ";
    const std::size_t at = record.find(kCounts);
    if (at == std::string::npos) return std::nullopt;
    const char* p = record.c_str() + at + sizeof(kCounts) - 1;
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return std::nullopt;
    std::size_t atoms = 0;
    for (; *p >= '0' && *p <= '9' && atoms < SIZE_MAX / 10; ++p) {
      atoms = atoms * 10 + static_cast<std::size_t>(*p - '0');
    }
    return atoms;
  }
  // V2000: the atom count is the line's first three columns.
  std::size_t atoms = 0;
  bool digits = false;
  for (std::size_t i = 0; i < 3 && i < counts.size(); ++i) {
    const char c = counts[i];
    if (c == ' ' && !digits) continue;
    if (c < '0' || c > '9') return std::nullopt;
    atoms = atoms * 10 + static_cast<std::size_t>(c - '0');
    digits = true;
  }
  if (!digits) return std::nullopt;
  return atoms;
}

std::optional<std::string> CheckMoleculeText(const std::string& text,
                                             bool molfile,
                                             std::size_t maxAtoms) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    return "a NUL byte at column " + std::to_string(nul + 1);
  }
  if (maxAtoms == 0) return std::nullopt;
  const std::size_t atoms =
      molfile ? MolfileAtomCount(text).value_or(0) : CountSmilesAtoms(text);
  if (atoms > maxAtoms) {
    return std::to_string(atoms) + " atoms, more than the limit of " +
           std::to_string(maxAtoms) + " (see --max-atoms)";
  }
  return std::nullopt;
}

std::vector<search::DataItem> ReadSdDataItems(const std::string& record) {
  std::vector<search::DataItem> items;
  bool inData = false;               // past "M  END"
  search::DataItem* item = nullptr;  // the item whose value lines follow
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    const std::string line = record.substr(start, end - start);
    start = end + 1;
    if (!inData) {
      inData = line.compare(0, 6, kBlockEnd) == 0;
      continue;
    }
    if (item != nullptr) {
      if (line.empty()) {
        item = nullptr;
      } else {
        // Value lines are never empty: an empty value has none.
        if (!item->value.empty()) item->value += '\n';
        item->value += line;
      }
      continue;
    }
    if (line.empty() || line[0] != '>') continue;
    search::DataItem found;
    const std::size_t open = line.find('<');
    const std::size_t close =
        open == std::string::npos ? std::string::npos : line.find('>', open);
    found.name = close == std::string::npos
                     ? std::string(TrimWhiteSpace(line.substr(1)))
                     : line.substr(open + 1, close - open - 1);
    items.push_back(std::move(found));
    item = &items.back();
  }
  return items;
}

bool SplitSmilesLine(const std::string& line, std::string* smiles,
                     std::string* name) {
  const std::size_t first = line.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos || line[first] == '#') return false;
  const std::size_t end = line.find_first_of(kWhiteSpace, first);
  *smiles = line.substr(
      first, end == std::string::npos ? std::string::npos : end - first);
  *name = end == std::string::npos
              ? ""
              : std::string(TrimWhiteSpace(line.substr(end)));
  return true;
}

}  // namespace zolv::host
