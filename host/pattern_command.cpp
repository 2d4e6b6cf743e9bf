#include "pattern_command.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "command_context.h"
#include "database_option.h"
#include "molecule_input.h"
#include "pattern_match.h"
#include "query_input.h"
#include "rdcore.h"
#include "record_stream.h"
#include "sbi_text_writer.h"
#include "text_store.h"
#include "whole_text.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv pattern";

const char kDetails[] =
    "Output:\n"
    "  One line per query, in command-line order, then the queries of each\n"
    "  FILE (SMILES, one a line). The pattern is the one zolv search writes\n"
    "  with the same --dialect, --variant and --dictionary; the driver gets\n"
    "  \"format=SBI object=query\", the dialect and variant, then the -o\n"
    "  options, so -o can set \"length\" but not change the format. Without\n"
    "  a \"length\" the whole pattern is written. As zolv search does, a\n"
    "  damaged line (a NUL byte) and a query of more than --max-atoms atoms\n"
    "  are reported and left out unread.\n"
    "  --as sqlite    X'...'          (default; for zolv_match in SQLite)\n"
    "  --as postgres  '\\x...'::bytea  (for LIKE ... ESCAPE '' on bytea: an\n"
    "                 Access pattern comes translated into LIKE's % and _)\n"
    "  --as hex       the bytes as lowercase hexadecimal digits\n"
    "  --as escaped   as zolv write --encoding escaped\n"
    "\n"
    "Exit status:\n"
    "  0  every query was written\n"
    "  1  usage or fatal error\n"
    "  2  some queries could not be read or written and were left out\n"
    "\n"
    "Examples:\n"
    "  zolv pattern --smiles 'c1ccccc1Cl'\n"
    "  zolv pattern --smarts '[#6]C(=O)[OH]' --dialect odbc --as postgres\n"
    "  zolv pattern queries.smi --variant alphabet --as hex\n";

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = kProgram;
    s.arguments = "[FILE...]";
    s.summary =
        "Writes each query's \"SBI\" pattern with the driver and prints it as "
        "a SQL literal.";
    s.options = {
        {"smiles", '\0', "QUERY", "A query given as SMILES.", true},
        {"smarts", '\0', "QUERY", "A query given as SMARTS.", true},
        {"options", 'o', "STRING",
         "More driver options, after the ones zolv pattern sets."},
        {"dialect", '\0', "DIALECT",
         "Wildcards of the pattern: access (default) or odbc."},
        {"variant", '\0', "VARIANT",
         "Texts the pattern is for: raw (default) or alphabet."},
        {"as", '\0', "FORM",
         "sqlite (default), postgres, hex or escaped; see below."},
        {"dictionary", '\0', "FILE",
         "Screen dictionary (default: default.vetorb beside the driver)."},
        DriverOption(),
        MaxAtomsOption(),
    };
    s.details = kDetails;
    return s;
  }();
  return command;
}

constexpr CommandContext kContext(kProgram);
void Report(const std::string& message) { kContext.Report(message); }

bool CollectQueries(const ParsedCommandLine& line, std::size_t maxAtoms,
                    std::vector<QueryInput>* queries, std::string* error) {
  for (const Argument& argument : line.arguments()) {
    if (argument.option == "smiles" || argument.option == "smarts") {
      queries->push_back(
          QueryOfOption(argument.option, argument.value, maxAtoms));
    }
  }
  for (const std::string& file : line.Positional()) {
    if (!ReadQueryFile(file, search::QueryKind::kSmiles, maxAtoms, queries,
                       error)) {
      return false;
    }
  }
  if (queries->empty()) {
    *error = "no query: give --smiles, --smarts or a FILE";
    return false;
  }
  return true;
}

}  // namespace

std::optional<PatternForm> ParsePatternForm(const std::string& name) {
  if (name == "sqlite") return PatternForm::kSqlite;
  if (name == "postgres") return PatternForm::kPostgres;
  if (name == "hex") return PatternForm::kHex;
  if (name == "escaped") return PatternForm::kEscaped;
  return std::nullopt;
}

std::string FormatPattern(const std::string& pattern, WildcardDialect dialect,
                          PatternForm form) {
  switch (form) {
    case PatternForm::kSqlite:
      return "X'" + EncodeRecord(pattern, RecordEncoding::kHex) + "'";
    case PatternForm::kPostgres:
      return "'\\x" +
             EncodeRecord(search::LikePatternOf(pattern, dialect),
                          RecordEncoding::kHex) +
             "'::bytea";
    case PatternForm::kHex:
      return EncodeRecord(pattern, RecordEncoding::kHex);
    case PatternForm::kEscaped:
      return EncodeRecord(pattern, RecordEncoding::kEscaped);
  }
  return {};
}

namespace {

// What zolv pattern is asked to do.
struct PatternParameters {
  search::TextVariant variant = search::TextVariant::kRaw;  // texts matched
  WildcardDialect dialect = WildcardDialect::kAccess;       // its wildcards
  PatternForm form = PatternForm::kSqlite;  // how each pattern is printed
  std::string user;                         // -o, after the fixed options
  std::size_t maxAtoms = kDefaultMaxAtoms;  // larger queries are skipped
  std::vector<QueryInput> queries;          // in command-line order
  std::string driverPath;                   // empty: the driver beside zolv
  std::string dictionaryPath;               // empty: default.vetorb beside it
};

// Reads and checks the command line; false after a report.
bool ReadParameters(const ParsedCommandLine& line, PatternParameters* p) {
  if (!ReadPatternForm(kContext, line, &p->dialect, &p->variant)) {
    return false;
  }
  if (const auto name = line.Value("as")) {
    const auto parsed = ParsePatternForm(*name);
    if (!parsed) {
      Report("unknown form '" + *name +
             "' (use sqlite, postgres, hex or escaped)");
      return false;
    }
    p->form = *parsed;
  }
  p->user = line.Value("options").value_or("");
  p->driverPath = line.Value("driver").value_or("");
  p->dictionaryPath = line.Value("dictionary").value_or("");
  if (NamesScreenFile(p->user)) {
    Report("give the dictionary with --dictionary, not \"screenfile\"");
    return false;
  }
  std::string error;
  if (!kContext.ReadMaxAtoms(line, &p->maxAtoms)) return false;
  if (!CollectQueries(line, p->maxAtoms, &p->queries, &error)) {
    Report(error);
    return false;
  }
  return true;
}

}  // namespace

const CommandSpec& PatternCommandSpec() { return Definition(); }

namespace {

// The command once its parameters are read; the exit code.
int RunWithParameters(const PatternParameters& p) {
  // Opened as zolv search opens it, so that a bad dictionary is refused the
  // same way.
  SbiTextWriter writer;
  if (!OpenWriter(kContext, p.driverPath, p.dictionaryPath, &writer)) {
    return kExitFailure;
  }

  std::size_t skipped = 0;
  for (const QueryInput& query : p.queries) {
    if (!query.problem.empty()) {
      Report(query.where + ": skipped: " + query.problem);
      ++skipped;
      continue;
    }
    rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
        query.text,
        query.kind == search::QueryKind::kSmiles ? rdcore::Notation::kSmiles
                                                 : rdcore::Notation::kSmarts,
        rdcore::MoleculeRole::kQuery);
    std::string failure = parsed.error;
    search::BudgetedText pattern;
    if (parsed.molecule && !writer.Accepts(parsed.molecule.get())) {
      failure = "the driver does not accept this query";
    } else if (parsed.molecule) {
      // The driver takes the first value of a key: the fixed options come
      // first so that -o cannot turn the pattern into something else, and
      // the budget comes last so that a "length" in -o wins over it.
      if (writer.WriteBudgeted(parsed.molecule.get(), ScreenMode::kQuery,
                               p.variant, p.dialect, 0, &pattern, &failure,
                               p.user)) {
        const std::string out =
            FormatPattern(pattern.text, p.dialect, p.form) + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        continue;
      }
    }
    Report(query.where + ": cannot write '" + query.text + "': " + failure);
    ++skipped;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    Report("cannot write the output");
    return kExitFailure;
  }
  return skipped > 0 ? kExitPartial : kExitSuccess;
}

}  // namespace

int RunPattern(int argc, char** argv) {
  return RunCommand<PatternParameters>(kContext, Definition(), argc, argv,
                                       ReadParameters, RunWithParameters);
}

}  // namespace zolv::host
