// The driver's two exports. Everything a call makes is released before it
// returns; the host's object and stream are borrowed.
#include <cstdint>

#include "bit_string_encoder.h"
#include "core_api.h"
#include "option_parser.h"
#include "perception.h"
#include "sbi_write_path.h"
#include "screen_set.h"
#include "text_buffer.h"
#include "write_options.h"
#include "zolv/zolvexformat.h"

namespace {

using zolv::HostObject;
using zolv::ScreenSet;

std::int32_t PreWrite(HostObject* object) {
  if (object == nullptr) return ZOLV_PREWRITE_ACCEPTED;
  return zolv::Succeeded(object->IsOfType(zolv::kMoleculeType))
             ? ZOLV_PREWRITE_ACCEPTED
             : ZOLV_PREWRITE_REFUSED;
}

std::int32_t Write(HostObject* object, zolv::Stream* stream,
                   const char* options) {
  // Without somewhere to write or something to write there is no record.
  if (object == nullptr || stream == nullptr) return ZOLV_WRITE_FAILED;

  auto screenMode = zolv::ScreenMode::kTarget;
  bool sbi = false;
  auto dialect = zolv::WildcardDialect::kAccess;
  bool ascii = false;
  std::uint32_t length = 128;
  ScreenSet perceived;
  ScreenSet folded;
  zolv::TextBuffer screenFile;
  zolv::ParseOptions(options, &screenMode, &sbi, &dialect, &ascii, &length,
                     &screenFile);

  if (length == 0) return ZOLV_WRITE_BAD_LENGTH;
  // A quoted negative "length" would ask the bit string for some four
  // thousand million characters: refuse it like a zero one.
  if (static_cast<std::int32_t>(length) < 0) return ZOLV_WRITE_BAD_LENGTH;

  if (!zolv::ComputeScreens(object, static_cast<std::uint8_t>(screenMode),
                            &perceived, screenFile.text())) {
    return ZOLV_WRITE_FAILED;
  }
  if (sbi) {
    zolv::WriteSbiText(object, perceived, &folded, screenMode, dialect, ascii,
                       &length, stream);
  } else {
    zolv::WriteBitStringEncoding(perceived, &folded, length, stream);
  }
  return ZOLV_WRITE_DONE;
}

}  // namespace

extern "C" {

ZOLV_DRIVER_API std::int32_t ZOLV_DRIVER_CALL ZolvPreWrite(
    ZolvHostObject* object, std::int32_t /*second*/, std::int32_t /*third*/) {
  try {
    return PreWrite(reinterpret_cast<HostObject*>(object));
  } catch (...) {
    return ZOLV_PREWRITE_REFUSED;
  }
}

ZOLV_DRIVER_API std::int32_t ZOLV_DRIVER_CALL
ZolvWrite(ZolvHostObject* object, ZolvStream* stream, const char* options,
          std::int32_t /*fourth*/) {
  try {
    return Write(reinterpret_cast<HostObject*>(object),
                 reinterpret_cast<zolv::Stream*>(stream), options);
  } catch (...) {
    return ZOLV_WRITE_FAILED;
  }
}

}  // extern "C"
