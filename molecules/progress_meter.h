// Progress of a long run on standard error, at most every so often: a count
// of molecules redrawn in place on a terminal, or lines for a log that a
// person reads afterwards.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace zolv::host {

/// Seconds on the monotonic clock since start.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

class ProgressMeter {
 public:
  /// Lines "label: done/total", at most one every ten seconds, and the last
  /// one at Finish when any was printed.
  ProgressMeter(std::string label, std::size_t total, bool enabled);

  /// "\rlabel: N molecules" redrawn in place, from a second into the run and
  /// at most four times a second, looked at every 256 molecules.
  static ProgressMeter Count(std::string label, bool enabled);

  /// done items so far.
  void Step(std::size_t done);
  /// Takes a count off its line, so that a message starts on a clean line.
  void Clear();
  /// The end of the run: a count is cleared, lines get their last.
  void Finish();

 private:
  enum class Kind { kLines, kCount };
  ProgressMeter(Kind kind, std::string label, std::size_t total, bool enabled);

  Kind kind_;
  std::string label_;
  std::size_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace zolv::host
