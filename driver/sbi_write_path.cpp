#include "sbi_write_path.h"

#include "bit_string_encoder.h"
#include "formula_fragment.h"
#include "pattern_encoder.h"

namespace zolv {
namespace {

// Positions of the alphabet variant.
constexpr std::uint32_t kAlphabetWidth = 64;
// Raw screen characters span every byte value; moving the formula's letters
// up keeps them apart from the common small screen numbers.
constexpr std::uint8_t kRawFormulaOffset = 10;
constexpr std::uint8_t kAlphabetFormulaOffset = 0;

}  // namespace

void WriteSbiText(HostObject* object, const ScreenSet& perceived,
                  ScreenSet* folded, ScreenMode screenMode,
                  WildcardDialect dialect, bool ascii, std::uint32_t* length,
                  Stream* stream) {
  // Stored target texts always carry the Access escapes, so that one stored
  // text serves queries of either dialect.
  if (screenMode == ScreenMode::kTarget) dialect = WildcardDialect::kAccess;
  if (ascii) {
    FoldScreens(perceived, folded, kAlphabetWidth);
    WriteAlphabetScreens(*folded, screenMode, dialect, length, stream);
    WriteFormulaFragment(object, screenMode, dialect, length, stream,
                         kAlphabetFormulaOffset);
  } else {
    WriteRawScreens(perceived, screenMode, dialect, length, stream);
    WriteFormulaFragment(object, screenMode, dialect, length, stream,
                         kRawFormulaOffset);
  }
}

}  // namespace zolv
