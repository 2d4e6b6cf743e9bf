#include "write_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_context.h"
#include "driver_session.h"
#include "hit_format.h"
#include "molecule_input.h"
#include "molecule_loop.h"
#include "option_parser.h"
#include "parallel_writer.h"
#include "progress_meter.h"
#include "rdcore.h"
#include "record_stream.h"

namespace zolv::host {
namespace {

constexpr char kProgram[] = "zolv";

const char kDetails[] =
    "Input:\n"
    "  FILE is a SMILES file (.smi, .smiles: the SMILES, then the name; blank\n"
    "  lines and lines starting with '#' are skipped) or an SD file (.sdf,\n"
    "  .sd, .mol), each also gzipped (.gz). '-' reads SMILES from standard\n"
    "  input. Files, --smiles and --smarts are read in the order given.\n"
    "\n"
    "Output:\n"
    "  One line per molecule, in input order. A molecule that cannot be read\n"
    "  or written is reported on stderr and written as an empty line, so\n"
    "  that line N of the output belongs to molecule N of the input.\n"
    "\n"
    "Dictionary:\n"
    "  The driver reads the screen dictionary named by the option\n"
    "  \"screenfile\", relative to its own directory. --dictionary FILE puts\n"
    "  screenfile=\"...\" (FILE relative to the driver) before the options.\n"
    "  Without --dictionary and without \"screenfile\" in the options,\n"
    "  default.vetorb beside the driver is used.\n"
    "\n"
    "Exit status:\n"
    "  0  every molecule was written\n"
    "  1  usage or fatal error: bad option, unreadable input, driver not\n"
    "     loadable, dictionary missing or damaged, \"length\" zero (driver\n"
    "     result 12) or above 1000000\n"
    "  2  some molecules were skipped (unreadable; damaged input such as a\n"
    "     NUL byte or an SD record without its \"$$$$\"; more atoms than\n"
    "     --max-atoms; or the driver failed); all others were written\n"
    "\n"
    "Examples:\n"
    "  zolv write molecules.smi --name\n"
    "  zolv write --smarts 'c1ccccc1[Cl,Br]' -o 'object=query'\n"
    "  zolv write big.sdf.gz -o 'format=SBI length=64' --encoding hex\n"
    "  zolv write in.smi --dictionary screens.vetorb -o 'length=256'\n";

// One input in command-line order.
struct Input {
  enum class Kind { kFile, kSmiles, kSmarts } kind = Kind::kFile;
  std::string text;  // the file name, or the molecule's text
  InputFormat format = InputFormat::kSmiles;
};

// Everything a write of one molecule needs.
struct WriteSettings {
  std::string options;   // as the driver gets them, once the session is open
  bool queries = false;  // molecules are made as queries
  RecordEncoding encoding = RecordEncoding::kText;
  bool withName = false;
  bool progress = false;
  std::size_t maxAtoms = kDefaultMaxAtoms;
};

constexpr CommandContext kContext(kProgram);
void Report(const std::string& message) { kContext.Report(message); }

const CommandSpec& Definition() {
  static const CommandSpec command = [] {
    CommandSpec s;
    s.name = "zolv write";
    s.arguments = "[FILE...]";
    s.summary =
        "Writes the screen record of each molecule with the format driver, as "
        "the toolkit's host would: the driver is loaded at run time, and "
        "ZolvPreWrite and ZolvWrite are called for every molecule with the "
        "option string.";
    s.options = {
        {"options", 'o', "STRING",
         "Option string for the driver, passed unchanged (for example "
         "\"format=SBI object=query length=64\"). With object=query the "
         "molecules are read as queries. Keys and values the driver would "
         "skip or read otherwise than written are warned about; a "
         "\"length\" above 1000000 is refused."},
        {"dictionary", '\0', "FILE",
         "Screen dictionary to use; any path. It must exist."},
        DriverOption(),
        {"smiles", '\0', "TEXT", "Write one molecule given as SMILES.", true},
        {"smarts", '\0', "TEXT",
         "Write one query given as SMARTS; always read as a query.", true},
        InputFormatOption(),
        {"encoding", '\0', "ENCODING",
         "How records are printed: text (the bytes as they are, default), "
         "hex (two lowercase hex digits per byte) or escaped (printable "
         "ASCII as is, \\\\ for a backslash, \\xHH for every other byte)."},
        {"name", '\0', "",
         "Append a tab and the molecule's name to each line (a backslash, "
         "tab or line break in it written \\\\, \\t, \\n, \\r)."},
        {"output", '\0', "FILE", "Write the records to FILE, not stdout."},
        {"no-progress", '\0', "",
         "Never show progress (shown on a terminal for long inputs)."},
        MaxAtomsOption(),
        JobsOption(),
    };
    s.details = kDetails;
    return s;
  }();
  return command;
}

// Opens the driver and the dictionary the command line names, and makes the
// option string the driver gets: the user's, with the dictionary put first
// when zolv chooses it. False with a message when no dictionary can be given
// to the driver.
bool OpenSession(const std::string& driverPath, const std::string& user,
                 const std::optional<std::string>& dictionary,
                 DriverSession* session, std::string* options,
                 std::string* error) {
  if (!session->OpenDriver(driverPath, error)) return false;
  if (!NamesScreenFile(user)) {
    if (!session->UseDictionary(dictionary.value_or(""), error)) return false;
    *options = session->Options(user);
    return true;
  }
  if (dictionary) {
    *error =
        "--dictionary and a \"screenfile\" option both name a dictionary; "
        "give one";
    return false;
  }
  // The user's own name stays as it is; the driver would just find nothing.
  WriteOptions parsed;
  ParseOptions(user.c_str(), &parsed);
  const std::string file =
      session->driver().Directory() + parsed.screenFile.text();
  const std::string problem = DictionaryProblem(file);
  if (!problem.empty()) {
    kContext.Warn("the driver will find no screens: " + file + ": " + problem);
  }
  *options = user;
  return true;
}

// Sorts the command line's inputs and checks files before anything is
// written. False after a report on the first bad one.
bool CollectInputs(const ParsedCommandLine& line, std::vector<Input>* inputs) {
  std::optional<InputFormat> forced;
  if (!kContext.ReadInputFormat(line, &forced)) return false;
  for (const Argument& argument : line.arguments()) {
    Input input;
    input.text = argument.value;
    if (argument.option == "smiles") {
      input.kind = Input::Kind::kSmiles;
    } else if (argument.option == "smarts") {
      input.kind = Input::Kind::kSmarts;
    } else if (argument.option.empty()) {
      input.kind = Input::Kind::kFile;
      if (!kContext.CheckInput(input.text, forced, &input.format)) {
        return false;
      }
    } else {
      continue;
    }
    inputs->push_back(std::move(input));
  }
  if (inputs->empty()) {
    Report("no input: give FILE, '-', --smiles or --smarts");
    return false;
  }
  return true;
}

// What writing one molecule gave: its line and its messages, printed in
// input order by the thread that reads.
struct WriteResult {
  enum class Outcome { kWritten, kSkipped, kFatal } outcome = Outcome::kWritten;
  std::string line;     // the encoded record
  std::string message;  // reported before the line, if any
  bool lineBreak = false;
};

const char* NotationName(rdcore::Notation notation) {
  switch (notation) {
    case rdcore::Notation::kSmiles:
      return "SMILES";
    case rdcore::Notation::kSmarts:
      return "SMARTS";
    case rdcore::Notation::kMolBlock:
      break;
  }
  return "molfile record";
}

// Writes one molecule on a worker; stream is the worker's own.
void ComputeRecord(const DriverSession& session, const WriteSettings& settings,
                   const MoleculeItem& item, RecordStream* stream,
                   WriteResult* result) {
  const InputRecord& record = item.record;
  const auto skip = [result](std::string message) {
    result->outcome = WriteResult::Outcome::kSkipped;
    result->message = std::move(message);
  };
  if (!record.problem.empty()) {
    return skip(item.where + ": skipped: " + record.problem);
  }
  if (item.notation != rdcore::Notation::kMolBlock) {
    if (const auto problem =
            CheckMoleculeText(record.text, false, settings.maxAtoms)) {
      return skip(item.where + ": skipped: " + *problem);
    }
  }
  const bool query =
      settings.queries || item.notation == rdcore::Notation::kSmarts;
  rdcore::ParsedMolecule parsed = rdcore::ParseMolecule(
      record.text, item.notation,
      query ? rdcore::MoleculeRole::kQuery : rdcore::MoleculeRole::kTarget);
  HostObject* object = parsed.molecule.get();
  if (object == nullptr) {
    // A molfile is shown by its title, a SMILES or SMARTS whole.
    const std::string shown = item.notation == rdcore::Notation::kMolBlock
                                  ? record.name
                                  : record.text;
    return skip(item.where + ": cannot read " + NotationName(item.notation) +
                " '" + shown + "': " + parsed.reason);
  }
  if (!session.Accepts(object)) {
    return skip(item.where +
                ": the driver does not accept this object "
                "(ZolvPreWrite refused it)");
  }
  const std::int32_t code = session.Write(object, settings.options, stream);
  if (code == ZOLV_WRITE_BAD_LENGTH) {
    result->outcome = WriteResult::Outcome::kFatal;
    result->message =
        "the driver refused the options: \"length\" is zero or not a "
        "number (ZolvWrite result 12)";
    return;
  }
  if (code == ZOLV_WRITE_FAILED) {
    return skip(item.where +
                ": the driver could not compute the screens (ZolvWrite "
                "result 0)");
  }
  if (code != ZOLV_WRITE_DONE) {
    return skip(item.where + ": unexpected ZolvWrite result " +
                std::to_string(code));
  }
  result->lineBreak =
      stream->record().find_first_of("\r\n") != std::string::npos;
  result->line = EncodeRecord(stream->record(), settings.encoding);
}

// Writes the records of a run on the pool's threads and keeps its counts.
class Writer {
 public:
  Writer(const DriverSession& session, const WriteSettings& settings,
         std::FILE* out, WorkerPool& pool)
      : session_(session),
        settings_(settings),
        out_(out),
        loop_(pool, settings.maxAtoms),
        streams_(pool.size()),
        progress_(ProgressMeter::Count(kProgram, settings.progress)) {}

  // False after a fatal error, already reported.
  bool WriteInput(const Input& input) {
    if (input.kind != Input::Kind::kFile) {
      const bool smiles = input.kind == Input::Kind::kSmiles;
      MoleculeItem item;
      item.notation =
          smiles ? rdcore::Notation::kSmiles : rdcore::Notation::kSmarts;
      item.record.text = input.text;
      item.where = smiles ? "--smiles" : "--smarts";
      WriteResult result;
      ComputeRecord(session_, settings_, item, &streams_[0], &result);
      return Emit(item, result);
    }
    std::string error;
    const MoleculeLoop::End end = loop_.Run<WriteResult>(
        {input.text, input.format},
        [&](std::size_t worker, const MoleculeItem& item, WriteResult* result) {
          ComputeRecord(session_, settings_, item, &streams_[worker], result);
        },
        [&](MoleculeItem& item, WriteResult& result) {
          return Emit(item, result);
        },
        &error);
    if (end == MoleculeLoop::End::kFailed) Message(error);
    return end == MoleculeLoop::End::kDone;
  }

  void Finish() {
    progress_.Finish();
    if (skipped_ > 0) {
      Report(std::to_string(skipped_) + " of " + std::to_string(count_) +
             " molecules skipped");
    }
  }

  std::size_t skipped() const { return skipped_; }

 private:
  void Message(const std::string& message) {
    progress_.Clear();
    Report(message);
  }

  // Prints one molecule's messages and line; false after a fatal error.
  bool Emit(const MoleculeItem& item, const WriteResult& result) {
    ++count_;
    progress_.Step(count_);
    if (!result.message.empty()) Message(result.message);
    switch (result.outcome) {
      case WriteResult::Outcome::kFatal:
        return false;
      case WriteResult::Outcome::kSkipped:
        ++skipped_;
        PutLine("", item.record.name);
        return true;
      case WriteResult::Outcome::kWritten:
        break;
    }
    if (settings_.encoding == RecordEncoding::kText && !warnedLineBreak_ &&
        result.lineBreak) {
      Message(
          "warning: a record holds line-break bytes, so lines no longer match "
          "molecules; use --encoding hex or escaped");
      warnedLineBreak_ = true;
    }
    PutLine(result.line, item.record.name);
    return true;
  }

  void PutLine(const std::string& record, const std::string& name) {
    std::fwrite(record.data(), 1, record.size(), out_);
    if (settings_.withName) {
      // Escaped, so that a tab or line break in a name cannot move the
      // fields or records after it.
      const std::string field = EscapeTabbedField(name);
      std::fputc('\t', out_);
      std::fwrite(field.data(), 1, field.size(), out_);
    }
    std::fputc('\n', out_);
  }

  const DriverSession& session_;
  const WriteSettings& settings_;
  std::FILE* out_;
  MoleculeLoop loop_;
  std::vector<RecordStream> streams_;  // one per worker
  ProgressMeter progress_;
  std::size_t count_ = 0;
  std::size_t skipped_ = 0;
  bool warnedLineBreak_ = false;
};

// What zolv write is asked to do.
struct WriteParameters {
  std::vector<Input> inputs;  // files, --smiles and --smarts, in order
  WriteSettings settings;     // all but the options the driver gets
  std::string userOptions;    // -o, as the user gave them
  std::optional<std::string> dictionaryPath;  // none: as the options say
  std::string driverPath;                     // empty: the driver beside zolv
  bool anySmarts = false;  // --smarts given: made as a query in any case
  std::size_t jobs = 1;    // threads writing through the one driver
  std::optional<std::string> outputPath;  // none: standard output
};

// Reads and checks the command line; false after a report.
bool ReadParameters(const ParsedCommandLine& line, WriteParameters* p) {
  const std::string encoding = line.Value("encoding").value_or("text");
  if (const auto parsed = ParseRecordEncoding(encoding)) {
    p->settings.encoding = *parsed;
  } else {
    Report("unknown encoding '" + encoding + "' (use text, hex or escaped)");
    return false;
  }
  p->settings.withName = line.Has("name");
  p->settings.progress = !line.Has("no-progress") && isatty(STDERR_FILENO) != 0;
  if (!kContext.ReadMaxAtoms(line, &p->settings.maxAtoms)) return false;

  p->userOptions = line.Value("options").value_or("");
  p->dictionaryPath = line.Value("dictionary");
  p->driverPath = line.Value("driver").value_or("");
  p->anySmarts = line.Has("smarts");
  const OptionReview review = ReviewOptions(p->userOptions);
  for (const std::string& warning : review.warnings) kContext.Warn(warning);
  if (!review.error.empty()) {
    Report(review.error);
    return false;
  }
  p->outputPath = line.Value("output");
  return kContext.ReadJobs(line, &p->jobs) && CollectInputs(line, &p->inputs);
}

// Writes every input through session; the exit code.
int Write(const DriverSession& session, const WriteParameters& p,
          const WriteSettings& settings, std::FILE* out) {
  WorkerPool pool(p.jobs);
  Writer writer(session, settings, out, pool);
  bool completed = true;
  for (const Input& input : p.inputs) {
    if (!writer.WriteInput(input)) {
      completed = false;
      break;
    }
  }
  writer.Finish();
  return !completed             ? kExitFailure
         : writer.skipped() > 0 ? kExitPartial
                                : kExitSuccess;
}

}  // namespace

const CommandSpec& WriteCommandSpec() { return Definition(); }

namespace {

// The command once its parameters are read; the exit code.
int RunWithParameters(const WriteParameters& p) {
  DriverSession session;
  WriteSettings settings = p.settings;
  std::string error;
  if (!OpenSession(p.driverPath, p.userOptions, p.dictionaryPath, &session,
                   &settings.options, &error)) {
    Report(error);
    return kExitFailure;
  }
  // The driver decides between target and query from the same options, read
  // the same way; the molecules are made to match.
  WriteOptions parsed;
  ParseOptions(settings.options.c_str(), &parsed);
  settings.queries = parsed.screenMode == ScreenMode::kQuery;
  if (!settings.queries && p.anySmarts) {
    kContext.Warn(
        "--smarts makes a query, but the options do not say object=query, so "
        "the driver writes it as a target");
  }

  std::FILE* out = stdout;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> outputFile(nullptr,
                                                             &std::fclose);
  if (p.outputPath) {
    outputFile.reset(std::fopen(p.outputPath->c_str(), "wb"));
    if (!outputFile) {
      Report(*p.outputPath + ": cannot write: " + std::strerror(errno));
      return kExitFailure;
    }
    out = outputFile.get();
  }

  const int written = Write(session, p, settings, out);
  const bool flushed = std::fflush(out) == 0 && std::ferror(out) == 0;
  if (!flushed) {
    Report(std::string("cannot write the output: ") + std::strerror(errno));
    return kExitFailure;
  }
  if (outputFile && std::fclose(outputFile.release()) != 0) {
    Report(std::string("cannot write the output: ") + std::strerror(errno));
    return kExitFailure;
  }
  return written;
}

}  // namespace

int RunWrite(int argc, char** argv) {
  return RunCommand<WriteParameters>(kContext, Definition(), argc, argv,
                                     ReadParameters, RunWithParameters);
}

}  // namespace zolv::host
