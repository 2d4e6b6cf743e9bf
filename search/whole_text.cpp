#include "whole_text.h"

#include <algorithm>

#include "pattern_encoder.h"

namespace zolv::search {
namespace {

std::uint32_t Grown(std::uint32_t length) {
  return length >= kMaxTextLength / 2 ? kMaxTextLength
                                      : std::max<std::uint32_t>(2 * length, 8);
}

}  // namespace

bool MayBeCut(const std::string& text, std::uint32_t length) {
  return text.size() + kMostUnusedByCut >= length;
}

bool WriteWholeText(const BudgetedWriter& write, std::uint32_t length,
                    BudgetedText* result) {
  length = std::max<std::uint32_t>(length, 1);
  std::string text;
  for (;;) {
    if (!write(length, &text)) return false;
    if (!MayBeCut(text, length)) break;
    if (length >= kMaxTextLength) {
      result->text = std::move(text);
      result->length = length;
      result->cut = true;
      return true;
    }
    length = Grown(length);
  }
  result->text = std::move(text);
  result->length = length;
  result->cut = false;
  return true;
}

bool WriteWithLength(const BudgetedWriter& write, std::uint32_t length,
                     BudgetedText* result) {
  std::string text;
  if (!write(length, &text)) return false;
  bool cut = false;
  if (MayBeCut(text, length)) {
    BudgetedText whole;
    if (!WriteWholeText(write, Grown(length), &whole)) return false;
    cut = whole.text != text;
  }
  result->text = std::move(text);
  result->length = length;
  result->cut = cut;
  return true;
}

}  // namespace zolv::search
