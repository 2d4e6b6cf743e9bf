// Reading molecule records from SMILES and SD files, gzipped or not, or
// from standard input.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "data_items.h"

namespace zolv::host {

enum class InputFormat {
  kSmiles,  // one molecule per line: SMILES, then the name
  kSdf,     // molfile records ended by "$$$$"; a .mol file is one record
};

/// The format a file name's extension stands for (.smi, .smiles, .sdf, .sd,
/// .mol, each also with .gz), or none.
std::optional<InputFormat> FormatFromFileName(const std::string& path);

/// The format named on the command line: "smi", "smiles", "sdf" or "mol".
std::optional<InputFormat> ParseInputFormat(const std::string& name);

/// Why path cannot be read as an input file (missing, a directory, empty,
/// not a regular file), or none when it looks readable. "-" is standard
/// input and always passes.
std::optional<std::string> CheckInputFile(const std::string& path);

/// Lines of a file, gzipped or plain (zlib reads both), or of standard input
/// for "-".
class LineReader {
 public:
  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  /// False with a message when the file cannot be opened.
  bool Open(const std::string& path, std::string* error);
  /// The next line without its "\n" or "\r\n"; false at the end of the input
  /// or on a read error (see error()).
  bool Next(std::string* line);
  /// Number of the line last returned, from 1.
  std::size_t lineNumber() const { return lineNumber_; }
  /// After Next returned false: empty at a clean end, else what went wrong.
  const std::string& error() const { return error_; }

 private:
  bool Fill();

  gzFile file_ = nullptr;
  std::string path_;
  std::vector<char> buffer_;
  std::size_t start_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last valid byte in buffer_
  bool atEnd_ = false;
  std::size_t lineNumber_ = 0;
  std::string error_;
};

/// Atoms a molecule may have unless --max-atoms says otherwise: far above
/// the largest molecule of the benchmark sets (65), far below the sizes
/// whose perception takes seconds.
inline constexpr std::size_t kDefaultMaxAtoms = 1000;

/// One molecule as read, before any chemistry.
struct InputRecord {
  std::string text;      // a SMILES, or a molfile record's lines
  std::string name;      // the SMILES line's name, or the molfile's title
  std::size_t line = 0;  // the record's first line in its file
  /// Why the record must be skipped (damaged, or too many atoms), with the
  /// line it concerns; empty for a record to read. The record still takes
  /// its place in the input's order.
  std::string problem;
};

/// Molecule records of one input, in file order.
class MoleculeReader {
 public:
  bool Open(const std::string& path, InputFormat format, std::string* error);
  /// Records with more atoms are returned with a problem, unparsed; 0 is no
  /// limit.
  void SetMaxAtoms(std::size_t maxAtoms) { maxAtoms_ = maxAtoms; }
  /// The next record; false at the end or on a read error (see error()).
  bool Next(InputRecord* record);
  const std::string& error() const { return lines_.error(); }

 private:
  bool NextSmiles(InputRecord* record);
  bool NextMolfile(InputRecord* record);

  LineReader lines_;
  InputFormat format_ = InputFormat::kSmiles;
  std::size_t maxAtoms_ = kDefaultMaxAtoms;
};

/// Atoms of a SMILES or SMARTS as written, without reading its chemistry:
/// a bracket atom is one, so is each element symbol or "*" outside
/// brackets. Cheap enough to run before a parser meets a huge line.
std::size_t CountSmilesAtoms(const std::string& text);

/// The atom count a molfile record declares (V2000 counts line or V3000
/// COUNTS line), or none when it declares none readable.
std::optional<std::size_t> MolfileAtomCount(const std::string& record);

/// Why a molecule's text must not be read: a NUL byte, or more atoms than
/// maxAtoms (0: no limit); none when it may be read.
std::optional<std::string> CheckMoleculeText(const std::string& text,
                                             bool molfile,
                                             std::size_t maxAtoms);

/// The data items of an SD record: every "> ..." header line after the
/// molecule block's "M  END", named by the text between its "<" and ">"
/// (the rest of the line when it has none), with the lines that follow up to
/// a blank one as its value.
std::vector<search::DataItem> ReadSdDataItems(const std::string& record);

/// A SMILES line's two parts: the first whitespace-separated field and the
/// rest of the line, trimmed. Blank lines and lines whose first non-blank
/// character is "#" hold no record: false.
bool SplitSmilesLine(const std::string& line, std::string* smiles,
                     std::string* name);

}  // namespace zolv::host
