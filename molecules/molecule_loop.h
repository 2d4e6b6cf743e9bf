// The loop of every command that reads molecule files: records read in file
// order, handed to the worker pool's threads, and their results handed back
// in the same order, with the same places and messages for every command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "molecule_input.h"
#include "parallel_writer.h"
#include "rdcore.h"

namespace zolv::host {

/// One input file in command-line order.
struct InputFile {
  std::string path;  // "-": SMILES from standard input
  InputFormat format = InputFormat::kSmiles;
};

/// The name a file goes by in messages: "stdin" for "-".
std::string ShownName(const std::string& path);

/// How the records of a format are written.
rdcore::Notation NotationOf(InputFormat format);

/// One record as a worker gets it.
struct MoleculeItem {
  rdcore::Notation notation = rdcore::Notation::kSmiles;
  /// Its text and name; a problem when it must be skipped unread (damaged,
  /// or more atoms than the loop allows), still in its place in the order.
  InputRecord record;
  std::string where;  // "file:line" for messages
};

class MoleculeLoop {
 public:
  /// How a run over one file ended.
  enum class End {
    kDone,     // every record was handed on
    kStopped,  // emit said stop
    kFailed,   // the file could not be opened or read; see the error
  };

  /// pool stays the caller's. Records of more than maxAtoms atoms (0: no
  /// limit) are handed on with a problem, unparsed.
  MoleculeLoop(WorkerPool& pool, std::size_t maxAtoms)
      : pool_(pool), maxAtoms_(maxAtoms) {}

  /// The first records read, over all files from now on, are passed over
  /// until this many were: what an interrupted run did already.
  void SkipFirst(std::int64_t records) { skip_ = records; }
  /// At most this many records are handed on, over all files.
  void LimitTo(std::size_t records) { limit_ = records; }
  /// Records passed over so far.
  std::int64_t skipped() const { return skipped_; }

  /// Reads file's records, runs compute(worker, const MoleculeItem&,
  /// Result*) on the pool and hands each to emit(MoleculeItem&, Result&) in
  /// file order, until emit returns false. After kFailed, *error says what
  /// went wrong, naming the file.
  template <class Result, class Compute, class Emit>
  End Run(const InputFile& file, Compute compute, Emit emit,
          std::string* error);

 private:
  WorkerPool& pool_;
  std::size_t maxAtoms_;
  std::int64_t skip_ = 0;
  std::int64_t skipped_ = 0;
  std::size_t limit_ = std::numeric_limits<std::size_t>::max();
  std::size_t handed_ = 0;
};

template <class Result, class Compute, class Emit>
MoleculeLoop::End MoleculeLoop::Run(const InputFile& file, Compute compute,
                                    Emit emit, std::string* error) {
  const std::string shown = ShownName(file.path);
  MoleculeReader reader;
  if (!reader.Open(file.path, file.format, error)) {
    *error = shown + ": cannot open: " + *error;
    return End::kFailed;
  }
  reader.SetMaxAtoms(maxAtoms_);
  const rdcore::Notation notation = NotationOf(file.format);
  const bool completed = OrderedParallelMap<MoleculeItem, Result>(
      pool_,
      [&](MoleculeItem* item) {
        for (;;) {
          if (handed_ >= limit_) return false;
          if (!reader.Next(&item->record)) return false;
          if (skipped_ >= skip_) break;
          ++skipped_;
        }
        ++handed_;
        item->notation = notation;
        item->where = shown + ":" + std::to_string(item->record.line);
        return true;
      },
      compute, emit);
  if (!completed) return End::kStopped;
  if (!reader.error().empty()) {
    *error = shown + ": read error: " + reader.error();
    return End::kFailed;
  }
  return End::kDone;
}

}  // namespace zolv::host
