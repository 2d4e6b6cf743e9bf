#include "bench_table.h"

#include <algorithm>
#include <utility>

namespace zolv::bench {
namespace {

// Characters as a terminal shows them: UTF-8 continuation bytes take no
// column ("µs").
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

}  // namespace

Table::Table(std::vector<std::string> header) : header_(std::move(header)) {}

void Table::AddRow(std::vector<std::string> cells) {
  cells.resize(header_.size());
  rows_.push_back(std::move(cells));
}

void Table::Print(std::FILE* out) const {
  std::vector<std::size_t> widths(header_.size(), 3);
  for (std::size_t c = 0; c < header_.size(); ++c) {
    widths[c] = std::max(widths[c], Columns(header_[c]));
    for (const auto& row : rows_) {
      widths[c] = std::max(widths[c], Columns(row[c]));
    }
  }
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text = "|";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::string pad(widths[c] - Columns(cells[c]), ' ');
      text += ' ';
      text += c >= rightFrom_ ? pad + cells[c] : cells[c] + pad;
      text += " |";
    }
    text += '\n';
    std::fputs(text.c_str(), out);
  };
  line(header_);
  std::string rule = "|";
  for (std::size_t c = 0; c < header_.size(); ++c) {
    rule += c >= rightFrom_ ? std::string(widths[c] + 1, '-') + ":|"
                            : std::string(widths[c] + 2, '-') + "|";
  }
  rule += '\n';
  std::fputs(rule.c_str(), out);
  for (const auto& row : rows_) line(row);
  std::fflush(out);
}

std::string Count(std::int64_t value) {
  const bool negative = value < 0;
  std::string digits = std::to_string(negative ? -value : value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return negative ? "-" + grouped : grouped;
}

std::string Fixed(std::optional<double> value, int decimals) {
  if (!value) return "-";
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, *value);
  return text;
}

}  // namespace zolv::bench
