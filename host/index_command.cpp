#include "index_command.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "command_context.h"
#include "data_items.h"
#include "database_option.h"
#include "index_writing.h"
#include "molecule_input.h"
#include "molecule_loop.h"
#include "parallel_writer.h"
#include "rdcore.h"
#include "sbi_text_writer.h"
#include "substructure_check.h"
#include "zolv/zolvexformat.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv index";

// Rows go to the database in transactions of this many.
constexpr std::size_t kBatchSize = 1000;
// Tests name a number of stored rows after which the run stops abruptly,
// as a power cut would stop it: "KILL" dies at once, "STOP" halts holding
// its locks until killed.
constexpr char kStopAfterVariable[] = "ZOLV_TEST_INDEX_STOP_AFTER";
constexpr char kStopSignalVariable[] = "ZOLV_TEST_INDEX_STOP_SIGNAL";

const char kDetails[] =
    "Database:\n"
    "  DB is a SQLite file, created when missing. With --postgres the texts "
    "go\n"
    "  to a PostgreSQL server instead and every positional argument is a "
    "FILE.\n"
    "  Table targets (id, name, smiles, raw, ascii, bits, name_bytes, data,\n"
    "  screens, molecule) holds one row per molecule: raw and ascii are the\n"
    "  raw and alphabet \"SBI\" target texts as bytes (SQLite BLOB, "
    "PostgreSQL\n"
    "  bytea), bits the bit string. name is always UTF-8 (a byte of the\n"
    "  input's name that is not UTF-8 written as U+FFFD); name_bytes then\n"
    "  holds the name's exact bytes, and is NULL otherwise. data holds an SD\n"
    "  record's data items as a JSON object, NULL when there are none.\n"
    "  screens holds the numbers of the screens the molecule has (PostgreSQL\n"
    "  integer[] with a GIN index; SQLite '3 17 52', indexed by the FTS5\n"
    "  table target_screens), molecule RDKit's binary form of the SMILES,\n"
    "  which zolv search confirms candidates with. Table index_settings\n"
    "  records the dictionary (its absolute path and digest), the lengths and\n"
    "  how many targets hold each screen; zolv search finds the dictionary\n"
    "  there, or one of that digest beside the driver, and refuses any other.\n"
    "  Tables that zolv index did not make are never written or dropped.\n"
    "\n"
    "Shards (PostgreSQL):\n"
    "  With --shard CONNINFO, once per shard server, a new index (or one\n"
    "  made by --replace) keeps its targets on those servers: each gets a\n"
    "  table zolv_targets_<8 hex digits> with its own key and GIN index, and\n"
    "  the --postgres database, the coordinator, a table targets partitioned\n"
    "  by a hash of the id whose partitions targets_shard_<k> are\n"
    "  postgres_fdw foreign tables (servers zolv_shard_*, async_capable).\n"
    "  zolv index --append, a rerun that finishes an index, and zolv search\n"
    "  then use the coordinator as they use any database; each shard scans\n"
    "  its part at the same time. Each CONNINFO must reach its server from "
    "here\n"
    "  and from the coordinator's server; the user mapping gets its user and\n"
    "  the password it used (postgres_fdw lets only superusers connect "
    "without\n"
    "  one). A batch is committed on the shards one after the other, not in\n"
    "  two phases: a coordinator that dies between them leaves an index that\n"
    "  zolv search reports damaged until zolv index --replace.\n"
    "\n"
    "Interruptions:\n"
    "  Rows are committed in batches; the index is marked complete, with its\n"
    "  row count and checksum, only at the end, and zolv search refuses it\n"
    "  before that. Run zolv index again with the same dictionary, options\n"
    "  and files to finish an interrupted index: it skips the molecules "
    "already\n"
    "  stored. --replace builds the new index beside the old one and swaps "
    "it\n"
    "  in at the end, so the old one stays whole until then. A second zolv\n"
    "  index on the same database fails at once while one runs.\n"
    "\n"
    "Length:\n"
    "  By default every text is written whole: the \"length\" starts large\n"
    "  enough for the dictionary and grows for a molecule that needs more.\n"
    "  With --length N the texts are written with exactly N; a text that N\n"
    "  cuts short loses screens or formula symbols, so that queries needing\n"
    "  them miss the molecule: each such molecule is reported on stderr.\n"
    "\n"
    "Exit status:\n"
    "  0  every molecule was stored\n"
    "  1  usage or fatal error; nothing usable was stored\n"
    "  2  some molecules could not be read or written and were left out\n"
    "\n"
    "Examples:\n"
    "  zolv index targets.db molecules.smi.gz\n"
    "  zolv index --postgres 'host=/tmp dbname=screens' molecules.sdf\n"
    "  zolv index --postgres 'dbname=screens' --shard 'host=db1 dbname=s' \\\n"
    "      --shard 'host=db2 dbname=s' molecules.smi.gz\n";

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv index";
    s.arguments = "DB FILE...";
    s.summary =
        "Stores each molecule's raw and alphabet \"SBI\" target texts, its bit "
        "string and its SMILES in a database, for zolv search.";
    s.options = {
        {"postgres", '\0', "CONNINFO",
         "Store in PostgreSQL (a libpq connection string) instead of a "
         "SQLite file DB."},
        {"shard", '\0', "CONNINFO",
         "With --postgres: keep the targets of a new index on this PostgreSQL "
         "server (repeat for each shard); the --postgres database "
         "coordinates them.",
         true},
        {"replace", '\0', "", "Replace an index the database already holds."},
        {"append", '\0', "",
         "Add the molecules to a complete index (ids continue)."},
        {"batch", '\0', "N",
         "Commit the rows in transactions of N (default: 1000)."},
        {"dictionary", '\0', "FILE",
         "Screen dictionary (default: default.vetorb beside the driver)."},
        DriverOption(),
        {"length", '\0', "N",
         "Write the \"SBI\" texts with exactly this \"length\" and report "
         "every text it cuts (default: whatever each text needs)."},
        {"bits-length", '\0', "N",
         "Length of the bit string (default: the dictionary's highest screen "
         "number, so that no screens share a position)."},
        InputFormatOption(),
        MaxAtomsOption(),
        JobsOption(),
    };
    s.details = kDetails;
    s.minPositional = 1;
    return s;
  }();
  return command;
}

constexpr CommandContext kContext(kProgram);
void Report(const std::string& message) { kContext.Report(message); }

// path made absolute, so that a search from any directory finds it.
std::string AbsolutePath(const std::string& path) {
  std::error_code code;
  const std::filesystem::path absolute =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path), code);
  return code ? path : absolute.string();
}

// The files after the first positional argument (all of them with
// --postgres), checked before anything is stored. False after a report.
bool CollectFiles(const ParsedCommandLine& line,
                  std::vector<InputFile>* files) {
  std::optional<InputFormat> forced;
  if (!kContext.ReadInputFormat(line, &forced)) return false;
  const std::vector<std::string> positional = line.Positional();
  for (std::size_t i = line.Has("postgres") ? 0 : 1; i < positional.size();
       ++i) {
    InputFile file;
    file.path = positional[i];
    if (!kContext.CheckInput(file.path, forced, &file.format)) return false;
    files->push_back(std::move(file));
  }
  if (files->empty()) {
    Report("no input: give the files to index after the database");
    return false;
  }
  return true;
}

// A molecule's row, or why it was left out; filled on a worker.
struct IndexResult {
  bool stored = false;
  search::TargetRow row;
  std::string message;  // reported in input order
  bool cut = false;
};

// Reads the molecules, writes their texts on the pool's threads and stores
// them in batches, in input order.
class Indexer {
 public:
  Indexer(const SbiTextWriter& writer, search::TextStore& store,
          std::uint32_t length, std::uint32_t bitsLength,
          const search::IndexStart& start, std::size_t batchSize,
          std::size_t maxAtoms, WorkerPool& pool)
      : writer_(writer),
        store_(store),
        length_(length),
        bitsLength_(bitsLength),
        start_(start),
        batchSize_(batchSize),
        loop_(pool, maxAtoms),
        counts_(start.screenCounts) {
    loop_.SkipFirst(start.inputToSkip);
    if (const char* after = std::getenv(kStopAfterVariable)) {
      stopAfter_ = std::strtoll(after, nullptr, 10);
      const char* signal = std::getenv(kStopSignalVariable);
      stopSignal_ = signal != nullptr && std::string(signal) == "STOP"
                        ? SIGSTOP
                        : SIGKILL;
      StopIfDue();
    }
  }

  // False after a fatal error, already reported.
  bool IndexFile(const InputFile& file) {
    std::string error;
    const MoleculeLoop::End end = loop_.Run<IndexResult>(
        file,
        [&](std::size_t, const MoleculeItem& item, IndexResult* result) {
          Compute(item, result);
        },
        [&](MoleculeItem&, IndexResult& result) { return Emit(&result); },
        &error);
    if (end == MoleculeLoop::End::kFailed) Report(error);
    return end == MoleculeLoop::End::kDone;
  }

  bool Flush() {
    if (batch_.empty()) return true;
    std::string error;
    search::BatchProgress progress;
    progress.inputDone = Consumed();
    progress.cutTotal = start_.cutSoFar + static_cast<std::int64_t>(cut_);
    progress.screenCounts = &counts_;
    if (!search::StoreBatch(store_, batch_, progress, &error)) {
      Report(error);
      return false;
    }
    stored_ += batch_.size();
    batch_.clear();
    StopIfDue();
    return true;
  }

  std::size_t stored() const { return stored_; }
  std::size_t skipped() const { return skipped_; }
  std::size_t cut() const { return cut_; }

 private:
  void StopIfDue() const {
    if (stopAfter_ >= 0 && static_cast<std::int64_t>(stored_) >= stopAfter_) {
      std::raise(stopSignal_);
    }
  }

  // Input records stored or left out, in input order: what a batch commits
  // as done, so that a resumed run starts after the last committed batch.
  // Those an interrupted run stored already come first.
  std::int64_t Consumed() const { return loop_.skipped() + emitted_; }

  // Runs on a worker: touches nothing but item and result.
  void Compute(const MoleculeItem& item, IndexResult* result) const {
    const rdcore::Notation notation = item.notation;
    const InputRecord& record = item.record;
    if (!record.problem.empty()) {
      result->message = item.where + ": skipped: " + record.problem;
      return;
    }
    rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
        record.text, notation, rdcore::MoleculeRole::kTarget);
    HostObject* object = parsed.molecule.get();
    const std::string where =
        item.where + (record.name.empty() ? "" : " (" + record.name + ")");
    if (object == nullptr) {
      result->message = where + ": cannot read the molecule: " + parsed.error;
      return;
    }
    if (!writer_.Accepts(object)) {
      result->message = where + ": the driver does not accept this molecule";
      return;
    }

    search::TargetRow& row = result->row;
    row.name = record.name;
    std::string error;
    if (notation == rdcore::Notation::kSmiles) {
      row.smiles = record.text;
    } else {
      row.smiles = search::MolfileToSmiles(record.text, &error);
      if (row.smiles.empty()) {
        result->message = where + ": no SMILES for the molecule: " + error;
        return;
      }
      row.data = search::EncodeDataItems(ReadSdDataItems(record.text));
    }

    search::BudgetedText raw;
    search::BudgetedText ascii;
    if (!writer_.WriteBudgeted(
            object, ScreenMode::kTarget, search::TextVariant::kRaw,
            WildcardDialect::kAccess, length_, &raw, &error) ||
        !writer_.WriteBudgeted(
            object, ScreenMode::kTarget, search::TextVariant::kAlphabet,
            WildcardDialect::kAccess, length_, &ascii, &error) ||
        !writer_.WriteBits(object, bitsLength_, &row.bits, &error)) {
      result->message = where + ": " + error;
      return;
    }
    if (raw.cut || ascii.cut) {
      result->cut = true;
      const std::string which = raw.cut && ascii.cut ? "raw and alphabet texts"
                                : raw.cut            ? "raw text"
                                                     : "alphabet text";
      result->message = where + ": " + which + " cut at length " +
                        std::to_string(raw.cut ? raw.length : ascii.length) +
                        "; queries that need the rest miss this molecule";
    }
    row.raw = std::move(raw.text);
    row.ascii = std::move(ascii.text);
    if (!Screens(object, row, &error)) {
      result->message = where + ": " + error;
      return;
    }
    row.molecule = search::StoredMolecule(row.smiles, &error);
    if (row.molecule.empty()) {
      // Stored all the same, as the texts are sound; confirmation will try
      // the SMILES again and not find the query in it.
      result->message +=
          (result->message.empty() ? where + ": " : std::string("; ")) +
          "RDKit cannot read its SMILES for the confirmation of searches (" +
          error + "); no query will find it";
    }
    result->stored = true;
  }

  // The screens the target holds: those the bits column marks when it
  // folds none.
  bool Screens(HostObject* object, search::TargetRow& row,
               std::string* error) const {
    if (bitsLength_ >= writer_.highestScreen()) {
      row.screens = ScreensOfBits(row.bits);
      return true;
    }
    return writer_.WriteScreens(object, ScreenMode::kTarget, &row.screens,
                                error);
  }

  bool Emit(IndexResult* result) {
    ++emitted_;
    if (!result->message.empty()) Report(result->message);
    if (!result->stored) {
      ++skipped_;
      return true;
    }
    if (result->cut) ++cut_;
    counts_.Add(result->row.screens);
    result->row.id =
        start_.nextId + static_cast<std::int64_t>(stored_ + batch_.size());
    batch_.push_back(std::move(result->row));
    return batch_.size() < batchSize_ || Flush();
  }

  const SbiTextWriter& writer_;
  search::TextStore& store_;
  std::uint32_t length_;  // 0: whatever each text needs
  std::uint32_t bitsLength_;
  search::IndexStart start_;
  std::size_t batchSize_;
  std::int64_t stopAfter_ = -1;
  int stopSignal_ = SIGKILL;
  MoleculeLoop loop_;
  std::vector<search::TargetRow> batch_;
  std::int64_t emitted_ = 0;  // records handed back by the loop, in order
  std::size_t stored_ = 0;
  std::size_t skipped_ = 0;
  std::size_t cut_ = 0;
  search::ScreenCounts counts_;  // over every stored row, this run's too
};

// What zolv index is asked to do.
struct IndexParameters {
  std::vector<InputFile> files;  // in command-line order
  std::uint32_t length = 0;      // "SBI" length; 0: whatever each needs
  std::optional<std::uint32_t> bitsLength;  // none: the highest screen
  std::size_t batchSize = kBatchSize;       // rows per transaction
  std::size_t maxAtoms = kDefaultMaxAtoms;
  std::size_t jobs = 1;
  bool replace = false;             // replace an index the database holds
  bool append = false;              // add to a complete index
  std::vector<std::string> shards;  // servers a new index is spread over
  DatabaseName database;            // where the index is
  std::string driverPath;           // empty: the driver beside zolv
  std::string dictionaryPath;       // empty: default.vetorb beside it
};

// Reads and checks the command line; false after a report.
bool ReadParameters(const ParsedCommandLine& line, IndexParameters* p) {
  if (!kContext.ReadMaxAtoms(line, &p->maxAtoms) ||
      !kContext.ReadNumber(line, "length", 1, kLargestLength, &p->length) ||
      !kContext.ReadJobs(line, &p->jobs) || !CollectFiles(line, &p->files)) {
    return false;
  }
  std::uint32_t bitsLength = 0;
  if (!kContext.ReadNumber(line, "bits-length", 1, kLargestLength,
                           &bitsLength) ||
      !kContext.ReadNumber(line, "batch", 1, kLargestLength, &p->batchSize)) {
    return false;
  }
  if (line.Has("bits-length")) p->bitsLength = bitsLength;
  p->replace = line.Has("replace");
  p->append = line.Has("append");
  p->shards = line.Values("shard");
  p->database = ReadDatabaseName(line);
  p->driverPath = line.Value("driver").value_or("");
  p->dictionaryPath = line.Value("dictionary").value_or("");
  return true;
}

// The values that must go together; false after a report.
bool CheckParameters(const IndexParameters& p) {
  if (!p.shards.empty() && !p.database.postgres) {
    Report("--shard spreads a PostgreSQL index: give --postgres CONNINFO too");
    return false;
  }
  if (p.replace && p.append) {
    Report("give --replace or --append, not both");
    return false;
  }
  return true;
}

}  // namespace

const CommandSpec& IndexCommandSpec() { return Definition(); }

namespace {

// The command once its parameters are read; the exit code.
int RunWithParameters(const IndexParameters& p) {
  SbiTextWriter writer;
  if (!OpenWriter(kContext, p.driverPath, p.dictionaryPath, &writer)) {
    return kExitFailure;
  }
  std::string error;
  const std::uint32_t bitsLength =
      p.bitsLength.value_or(std::max<std::uint32_t>(writer.highestScreen(), 1));
  const std::uint32_t length = p.length;

  std::unique_ptr<search::TextStore> store =
      OpenDatabase(p.database, search::OpenMode::kWrite, &error,
                   search::SqliteMatching::kExact, p.shards);
  search::IndexRequest request;
  request.replace = p.replace;
  request.append = p.append;
  request.settings = {
      {search::kSettingDictionary, AbsolutePath(writer.dictionaryPath())},
      {search::kSettingDictionaryDigest, writer.dictionaryDigest()},
      {search::kSettingLength, length == 0 ? "whole" : std::to_string(length)},
      {search::kSettingBitsLength, std::to_string(bitsLength)},
      {search::kSettingHighestScreen, std::to_string(writer.highestScreen())},
      {search::kSettingMoleculeFormat, search::MoleculeFormat()},
  };
  if (!p.shards.empty()) {
    request.settings.emplace_back(search::kSettingShards,
                                  std::to_string(p.shards.size()));
  }
  request.mustMatch = {search::kSettingDictionaryDigest, search::kSettingLength,
                       search::kSettingBitsLength};
  search::IndexStart start;
  const bool started =
      store && search::StartIndex(*store, request, &start, &error);
  if (store) {
    for (const std::string& warning : store->TakeWarnings()) {
      kContext.Warn(warning);
    }
  }
  if (!started) {
    Report(error);
    return kExitFailure;
  }
  if (start.mode == search::IndexMode::kResume) {
    Report("continuing the incomplete index in " + store->Describe() +
           " after its " + std::to_string(start.nextId - 1) + " targets (" +
           std::to_string(start.inputToSkip) + " input molecules done)");
  }
  if (!p.shards.empty() && (start.mode == search::IndexMode::kResume ||
                            start.mode == search::IndexMode::kAppend)) {
    std::optional<std::string> shards;
    if (!store->GetSetting(search::kSettingShards, &shards, &error)) {
      Report(error);
      return kExitFailure;
    }
    if (shards != std::to_string(p.shards.size())) {
      kContext.Warn("the index keeps the " + shards.value_or("0") +
                    " shards it was made with; --shard counts only when "
                    "tables are made (a new index, --replace)");
    }
  }

  const auto start_time = std::chrono::steady_clock::now();
  WorkerPool pool(p.jobs);
  Indexer indexer(writer, *store, length, bitsLength, start, p.batchSize,
                  p.maxAtoms, pool);
  for (const InputFile& file : p.files) {
    if (!indexer.IndexFile(file)) return kExitFailure;
  }
  if (!indexer.Flush()) return kExitFailure;
  if (indexer.stored() == 0 && indexer.skipped() > 0) {
    Report("no molecule could be stored; " + store->Describe() +
           (start.mode == search::IndexMode::kReplace
                ? " keeps its previous index"
                : " is left as it was"));
    return kExitFailure;
  }
  std::int64_t total = 0;
  const bool finished = search::FinishIndex(*store, start, &total, &error);
  for (const std::string& warning : store->TakeWarnings()) {
    kContext.Warn(warning);
  }
  if (!finished) {
    Report(error);
    return kExitFailure;
  }
  const double seconds = std::chrono::duration<double>(
                             std::chrono::steady_clock::now() - start_time)
                             .count();
  char time[32];
  std::snprintf(time, sizeof(time), "%.1f", seconds);
  Report(std::to_string(indexer.stored()) + " molecules stored in " +
         store->Describe() + ", " + std::to_string(indexer.skipped()) +
         " left out, " + std::to_string(indexer.cut()) + " with cut texts, " +
         time + " s" +
         (static_cast<std::int64_t>(indexer.stored()) != total
              ? "; " + std::to_string(total) + " targets in all"
              : ""));
  return indexer.skipped() > 0 ? kExitPartial : kExitSuccess;
}

}  // namespace

int RunIndex(int argc, char** argv) {
  return RunCommand<IndexParameters>(kContext, Definition(), argc, argv,
                                     ReadParameters, CheckParameters,
                                     RunWithParameters);
}

}  // namespace zolv::host
