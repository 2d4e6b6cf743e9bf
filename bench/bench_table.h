// Result tables, printed as Markdown so that a run's output can be pasted
// into BENCHMARKS.md as it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zolv::bench {

class Table {
 public:
  explicit Table(std::vector<std::string> header);

  void AddRow(std::vector<std::string> cells);
  /// Columns right-aligned (numbers) from this one on; default 1.
  void AlignRightFrom(std::size_t column) { rightFrom_ = column; }
  void Print(std::FILE* out) const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
  std::size_t rightFrom_ = 1;
};

/// 12,345
std::string Count(std::int64_t value);
/// value with the given decimals, "-" when there is none.
std::string Fixed(std::optional<double> value, int decimals);

}  // namespace zolv::bench
