#include "bit_string_encoder.h"

namespace zolv {

void FoldScreens(const ScreenSet& source, ScreenSet* destination,
                 std::uint32_t width) {
  if (width == 0) return;
  // The window start only moves forward, in whole widths, because members
  // arrive in ascending order. Jumping it by a quotient instead of one width
  // at a time keeps a narrow fold of a high member cheap.
  std::uint32_t windowStart = 0;
  std::uint32_t member = 0;
  for (bool found = source.NextFrom(1, &member); found;
       found = source.NextFrom(member + 1, &member)) {
    std::uint32_t position = member - windowStart;
    if (position > width) {
      const std::uint32_t skipped = (position - 1) / width * width;
      windowStart += skipped;
      position -= skipped;
    }
    destination->Add(position);
  }
}

void WriteBitString(const ScreenSet& set, std::uint32_t length,
                    Stream* stream) {
  // 64-bit counter: a length of 2^32 - 1 must still end.
  for (std::uint64_t p = 1; p <= length; ++p) {
    const bool member = set.Contains(static_cast<std::uint32_t>(p));
    stream->PutChar(member ? '1' : '0');
  }
}

void WriteBitStringEncoding(const ScreenSet& perceived, ScreenSet* folded,
                            std::uint32_t length, Stream* stream) {
  std::uint32_t largest = 0;
  if (perceived.Last(&largest) && largest > length) {
    FoldScreens(perceived, folded, length);
    WriteBitString(*folded, length, stream);
    return;
  }
  WriteBitString(perceived, length, stream);
}

}  // namespace zolv
