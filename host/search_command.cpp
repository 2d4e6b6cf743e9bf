#include "search_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "command_context.h"
#include "database_option.h"
#include "driver_library.h"
#include "index_writing.h"
#include "molecule_input.h"
#include "query_input.h"
#include "rdcore.h"
#include "record_stream.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv search";

const char kDetails[] =
    "Database:\n"
    "  DB is a SQLite file that zolv index wrote; with --postgres the index "
    "is\n"
    "  read from a PostgreSQL server and DB is not given.\n"
    "\n"
    "How it searches:\n"
    "  The driver writes the query as a pattern in the chosen dialect and\n"
    "  variant, and the screens it holds. The database preselects in two\n"
    "  steps: its index gives the targets that hold the query's rarest\n"
    "  screens (by how many targets hold each, as the index recorded; in\n"
    "  PostgreSQL the four rarest with @> on the GIN-indexed screens column,\n"
    "  in SQLite the three rarest from the FTS5 table target_screens), then\n"
    "  the pattern tests their stored texts of that variant: in SQLite with\n"
    "  the function zolv_match, which this program registers and which\n"
    "  follows GLOB (access: *, ?, [...]) or LIKE (odbc: %, _, no escape,\n"
    "  case-sensitive) byte for byte; in PostgreSQL with LIKE ... ESCAPE ''\n"
    "  on bytea. --scan, and a query with no screen, test every stored text\n"
    "  instead. RDKit's substructure match then confirms each candidate on\n"
    "  --jobs threads, reading the molecule the index stores. The screen\n"
    "  dictionary must be the one the index was written with (by default it\n"
    "  is). An index from a zolv before the screens index is refused: write\n"
    "  it again with zolv index --replace. Against a PostgreSQL coordinator\n"
    "  (zolv index --shard) the same statements run on every shard at once.\n"
    "\n"
    "Output:\n"
    "  Each hit as a line: its SMILES, a tab, its name (a backslash, tab or\n"
    "  line break in it written \\\\, \\t, \\n, \\r). Lines starting with\n"
    "  '#' carry the rest: with --queries a header per query; per query the\n"
    "  summary 'candidates N, hits N, precision P, screen-out S, time T s'\n"
    "  (precision = hits / candidates; screen-out = share of the targets\n"
    "  without the query that the preselection removed); with --verify also\n"
    "  'true hits N, false negatives N' and a '# missed:' line for each\n"
    "  target the preselection lost. Several queries end with a total.\n"
    "  --format csv prints a header 'id,name,smiles,data' and a row per hit\n"
    "  (RFC 4180 quoting, CRLF); --format json prints JSON Lines, an object\n"
    "  {\"id\":..,\"name\":..,\"smiles\":..,\"data\":{..}} a line, where a\n"
    "  byte of a name that is not UTF-8 is the lone surrogate \\udcXX (XX the\n"
    "  byte; Python reads it back with errors='surrogateescape'); --format\n"
    "  sdf prints an SD record per hit: a molfile with the name as its title\n"
    "  and 2D coordinates, the data item zolv_id (and zolv_query), then the\n"
    "  data items of the SD record the target was indexed from. data holds\n"
    "  those items as a JSON object (empty, or no \"data\" key, for SMILES\n"
    "  input). The id is the target's row id in the index. With several\n"
    "  queries the rows start with the query's number ('query'). In csv,\n"
    "  json and sdf the '#' lines go to standard error. --count prints only a\n"
    "  number of hits per query ('-' for a query that was skipped), the '#'\n"
    "  lines going to standard error.\n"
    "  --max-hits N stops confirming candidates at N hits; the summary then\n"
    "  says 'stopped after N hits, K candidates unchecked' (its precision\n"
    "  counts the unchecked ones).\n"
    "\n"
    "Exit status:\n"
    "  0  every query was searched\n"
    "  1  usage or fatal error, among them an incomplete index (run zolv\n"
    "     index again to finish it), a damaged one (its structure, row\n"
    "     count or checksum not what the index recorded) or one in an older\n"
    "     format (write it again with zolv index --replace)\n"
    "  2  some queries could not be read and were left out (or, rarely, a\n"
    "     hit could not be written as an SD record)\n"
    "  3  --verify found targets that the preselection missed\n"
    "\n"
    "Examples:\n"
    "  zolv search targets.db --smiles 'c1ccccc1Cl'\n"
    "  zolv search targets.db --smarts '[#6]C(=O)[OH]' --dialect odbc\n"
    "  zolv search targets.db --queries q.smi --variant alphabet --verify "
    "--no-hits\n"
    "  zolv search targets.db --queries q.smi --format csv --max-hits 100\n"
    "  zolv search --postgres 'dbname=screens' --queries q.smi --jobs 4\n";

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv search";
    s.arguments = "DB";
    s.summary =
        "Finds the stored molecules that contain a query: preselects with the "
        "database's text matching on the query's \"SBI\" pattern, then "
        "confirms each candidate with RDKit.";
    s.options = {
        {"smiles", '\0', "QUERY", "A query given as SMILES.", true},
        {"smarts", '\0', "QUERY", "A query given as SMARTS.", true},
        {"queries", '\0', "FILE",
         "Queries from a file, one a line: the query, then a name.", true},
        {"query-format", '\0', "FORMAT",
         "How --queries files are read: smiles (default) or smarts."},
        {"postgres", '\0', "CONNINFO",
         "Search an index in PostgreSQL (a libpq connection string)."},
        {"dialect", '\0', "DIALECT",
         "Wildcards of the pattern: access (default) or odbc."},
        {"variant", '\0', "VARIANT",
         "Texts to match: raw (default) or alphabet."},
        {"verify", '\0', "",
         "Also check every target with RDKit and report the hits the "
         "preselection missed (false negatives); keeps every target's "
         "stored row, and the molecules of the first 20,000, in memory."},
        {"scan", '\0', "",
         "Preselect by the pattern alone, testing every stored text, without "
         "the screens index (slower; for comparison)."},
        {"jobs", 'j', "N",
         "Write each query and confirm its candidates on N threads (default: "
         "the number of cores); the output is the same for every N."},
        {"no-hits", '\0', "", "Print only the summaries, not the hits."},
        {"format", '\0', "FORMAT",
         "How hits are printed: smi (default), csv, json (JSON Lines) or "
         "sdf."},
        {"max-hits", '\0', "N",
         "Stop each query after N confirmed hits (not with --verify)."},
        {"count", '\0', "",
         "Print only the number of hits of each query, one a line."},
        {"show-pattern", '\0', "",
         "Print each query's pattern ('# pattern', bytes escaped)."},
        {"length", '\0', "N",
         "Write the patterns with this \"length\" (default: whole patterns). "
         "A cut pattern matches more, never less."},
        {"dictionary", '\0', "FILE",
         "Screen dictionary (default: the one the index was written with)."},
        DriverOption(),
        {"builtin", '\0', "",
         "SQLite only, and unsound: match with SQLite's built-in GLOB and "
         "LIKE on the texts read as TEXT, which lose targets whose raw texts "
         "hold a NUL byte or bytes read as UTF-8. For demonstration."},
        MaxAtomsOption(),
    };
    s.details = kDetails;
    s.maxPositional = 1;
    return s;
  }();
  return command;
}

constexpr CommandContext kContext(kProgram);
void Report(const std::string& message) { kContext.Report(message); }

bool CollectQueries(const ParsedCommandLine& line, std::size_t maxAtoms,
                    std::vector<QueryInput>* queries, std::string* error) {
  search::QueryKind fileKind = search::QueryKind::kSmiles;
  if (const auto format = line.Value("query-format")) {
    if (*format == "smarts") {
      fileKind = search::QueryKind::kSmarts;
    } else if (*format != "smiles" && *format != "smi") {
      *error = "unknown query format '" + *format + "' (use smiles or smarts)";
      return false;
    }
  }
  for (const Argument& argument : line.arguments()) {
    if (argument.option == "smiles" || argument.option == "smarts") {
      queries->push_back(
          QueryOfOption(argument.option, argument.value, maxAtoms));
    } else if (argument.option == "queries" &&
               !ReadQueryFile(argument.value, fileKind, maxAtoms, queries,
                              error)) {
      return false;
    }
  }
  if (queries->empty()) {
    *error = "no query: give --smiles, --smarts or --queries";
    return false;
  }
  return true;
}

// The dictionary to write patterns with: the one named, or else the one the
// index records, at its path while that still holds it, or else a
// dictionary with its digest beside the driver. False with a message that
// names the missing dictionary by path and digest.
bool ChooseDictionary(const std::optional<std::string>& named,
                      const std::string& driverPath, search::TextStore& store,
                      std::string* path, std::optional<std::string>* digest,
                      std::string* error) {
  std::optional<std::string> recorded;
  if (!store.GetSetting(search::kSettingDictionary, &recorded, error) ||
      !store.GetSetting(search::kSettingDictionaryDigest, digest, error)) {
    return false;
  }
  if (named) {
    *path = *named;
    return true;
  }
  if (!*digest) return true;  // nothing to look for: the default
  if (recorded && DictionaryDigestOf(*recorded) == **digest) {
    *path = *recorded;
    return true;
  }
  const std::string driver =
      driverPath.empty() ? DefaultDriverPath() : driverPath;
  const std::string directory =
      std::filesystem::path(driver).parent_path().string();
  *path =
      FindDictionaryWithDigest(directory.empty() ? "." : directory, **digest);
  const std::string place = recorded ? *recorded : "(no path recorded)";
  if (!path->empty()) {
    kContext.Warn("the index's dictionary " + place +
                  (DictionaryProblem(place).empty()
                       ? " is now another dictionary"
                       : " is gone") +
                  "; using " + *path + ", which has its digest");
    return true;
  }
  const std::string now = recorded ? DictionaryDigestOf(*recorded) : "";
  *error = "the index was written with the dictionary " + place + " (digest " +
           **digest + "), which " +
           (now.empty() ? "is no longer there"
                        : "now holds another dictionary (digest " + now + ")") +
           ", and no dictionary beside the driver in " + directory +
           " has that digest; give the dictionary with --dictionary FILE";
  return false;
}

// What zolv search is asked to do.
struct SearchParameters {
  SearchSettings settings;             // how each query is searched
  HitFormat format = HitFormat::kSmi;  // how hits are printed
  bool countOnly = false;              // print only each query's hit count
  bool printHits = true;               // false with --no-hits or --count
  bool showPattern = false;            // print each query's pattern
  std::size_t maxAtoms = kDefaultMaxAtoms;
  std::size_t jobs = 1;                       // threads
  std::vector<QueryInput> queries;            // in command-line order
  DatabaseName database;                      // where the index is
  bool builtin = false;                       // SQLite's own GLOB and LIKE
  std::optional<std::string> dictionaryPath;  // none: the index's
  std::string driverPath;                     // empty: the driver beside zolv
};

// Reads and checks the command line; false after a report.
bool ReadParameters(const ParsedCommandLine& line, SearchParameters* p) {
  SearchSettings& settings = p->settings;
  if (!ReadPatternForm(kContext, line, &settings.dialect, &settings.variant) ||
      !kContext.ReadNumber(line, "length", 1, kLargestLength,
                           &settings.length)) {
    return false;
  }
  settings.verify = line.Has("verify");
  settings.scan = line.Has("scan");
  if (!kContext.ReadJobs(line, &p->jobs)) return false;
  if (!kContext.ReadNumber(line, "max-hits", 1, kLargestLength,
                           &settings.maxHits)) {
    return false;
  }
  if (line.Has("max-hits") && settings.verify) {
    Report(
        "--max-hits and --verify do not go together: a search cut short "
        "would count the hits it left as missed");
    return false;
  }
  if (const auto name = line.Value("format")) {
    const auto parsed = ParseHitFormat(*name);
    if (!parsed) {
      Report("unknown format '" + *name + "' (use smi, csv, json or sdf)");
      return false;
    }
    p->format = *parsed;
  }
  p->countOnly = line.Has("count");
  p->printHits = !line.Has("no-hits") && !p->countOnly;
  p->showPattern = line.Has("show-pattern");
  p->database = ReadDatabaseName(line);
  p->builtin = line.Has("builtin");
  p->dictionaryPath = line.Value("dictionary");
  p->driverPath = line.Value("driver").value_or("");
  if (line.Has("postgres") && !line.Positional().empty()) {
    Report("give either a SQLite file DB or --postgres, not both");
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

// Opens the index for reading, checks it, learns what every query needs of
// it, and opens the writer of its patterns with the dictionary the index
// was written with. False after a report.
bool OpenIndex(const SearchParameters& p,
               std::unique_ptr<search::TextStore>* store, SbiTextWriter* writer,
               IndexFacts* facts) {
  std::string error;
  *store = OpenDatabase(p.database, search::OpenMode::kRead, &error,
                        p.builtin ? search::SqliteMatching::kBuiltin
                                  : search::SqliteMatching::kExact);
  if (!*store ||
      !search::CheckIndexForSearch(**store, &error, &facts->targets) ||
      !ReadIndexFacts(**store, facts, &error)) {
    Report(error);
    return false;
  }
  std::string dictionaryPath;
  std::optional<std::string> digest;
  if (!ChooseDictionary(p.dictionaryPath, p.driverPath, **store,
                        &dictionaryPath, &digest, &error) ||
      !writer->Open(p.driverPath, dictionaryPath, &error)) {
    Report(error);
    return false;
  }
  if (!digest) {
    kContext.Warn(
        "the index does not record its dictionary; patterns are written "
        "with " +
        writer->dictionaryPath());
  } else if (*digest != writer->dictionaryDigest()) {
    Report(writer->dictionaryPath() +
           " is not the dictionary the index was written with; patterns "
           "from it would miss targets (give that one with --dictionary)");
    return false;
  }
  if (p.builtin) {
    kContext.Warn(
        "--builtin matches with SQLite's GLOB and LIKE on TEXT, which lose "
        "targets; the figures show how many");
  }
  return true;
}

void Print(std::FILE* to, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), to);
}

// Searches every query and prints what it finds; the exit code.
int SearchAll(const SearchParameters& p, QuerySearcher& searcher) {
  const bool many = p.queries.size() > 1;
  // Only smi output keeps its '#' lines among the hits; the others keep
  // standard output to what their readers parse.
  std::FILE* comments =
      p.format == HitFormat::kSmi && !p.countOnly ? stdout : stderr;
  if (p.printHits) Print(stdout, HitHeader(p.format, many));
  search::SearchFigures total;
  std::size_t skipped = 0;
  std::size_t unwritten = 0;  // hits that could not be printed
  std::size_t missedQueries = 0;
  std::size_t number = 0;
  std::string error;
  for (const QueryInput& query : p.queries) {
    ++number;
    if (many) {
      Print(comments, "# query " + std::to_string(number) + ": " + query.text +
                          (query.name.empty() ? "" : " ") + query.name + "\n");
    }
    if (!query.problem.empty()) {
      Report(query.where + ": skipped: " + query.problem);
      Print(comments, "# skipped\n");
      if (p.countOnly) Print(stdout, "-\n");
      ++skipped;
      continue;
    }
    QueryOutcome outcome;
    const SearchStatus status =
        searcher.Search(query.kind, query.text, &outcome, &error);
    if (status == SearchStatus::kFailed) {
      Report(error);
      return kExitFailure;
    }
    if (status == SearchStatus::kBadQuery) {
      Report(query.where + ": cannot search '" + query.text + "': " + error);
      Print(comments, "# skipped\n");
      if (p.countOnly) Print(stdout, "-\n");
      ++skipped;
      continue;
    }
    if (p.showPattern) {
      Print(comments,
            "# pattern " +
                EncodeRecord(outcome.pattern, RecordEncoding::kEscaped) + "\n");
    }
    if (p.printHits) {
      for (const search::Candidate& hit : outcome.hits) {
        std::string failure;
        const std::string printed =
            FormatHit(hit, p.format, many, number, &failure);
        if (printed.empty()) {
          Report(failure);
          ++unwritten;
        }
        Print(stdout, printed);
      }
    }
    for (const search::Candidate& missed : outcome.missed) {
      Print(comments,
            "# missed: " + FormatHit(missed, HitFormat::kSmi, false, number));
    }
    if (!outcome.missed.empty()) ++missedQueries;
    if (p.countOnly) Print(stdout, std::to_string(outcome.hits.size()) + "\n");
    std::string summary = "# " + search::FormatSummary(outcome.figures);
    if (outcome.unchecked > 0) {
      summary += "; stopped after " + std::to_string(p.settings.maxHits) +
                 " hits, " + std::to_string(outcome.unchecked) +
                 " candidates unchecked";
    }
    Print(comments, summary + "\n");
    total += outcome.figures;
  }
  if (many) {
    Print(comments, "# total of " + std::to_string(total.queries) +
                        " queries: " + search::FormatSummary(total) + "\n");
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    Report("cannot write the output");
    return kExitFailure;
  }
  if (missedQueries > 0) {
    Report(std::to_string(missedQueries) +
           (missedQueries == 1 ? " query missed" : " queries missed") +
           " targets that hold it (false negatives)");
    return kExitFalseNegatives;
  }
  return skipped > 0 || unwritten > 0 ? kExitPartial : kExitSuccess;
}

}  // namespace

const CommandSpec& SearchCommandSpec() { return Definition(); }

namespace {

// The command once its parameters are read; the exit code.
int RunWithParameters(const SearchParameters& p) {
  std::unique_ptr<search::TextStore> store;
  SbiTextWriter writer;
  IndexFacts facts;
  if (!OpenIndex(p, &store, &writer, &facts)) return kExitFailure;
  WorkerPool pool(p.jobs);
  QuerySearcher searcher(writer, *store, pool, p.settings, std::move(facts));
  return SearchAll(p, searcher);
}

}  // namespace

int RunSearch(int argc, char** argv) {
  return RunCommand<SearchParameters>(kContext, Definition(), argc, argv,
                                      ReadParameters, RunWithParameters);
}

}  // namespace zolv::host
