// Names and data items as the index keeps them, on arbitrary bytes: any
// bytes come back from their JSON string exactly, a readable form is always
// well-formed UTF-8, and whatever reads as a data items object writes back
// into an object that reads the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "data_items.h"
#include "fuzz_support.h"
#include "utf8_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zolv;
  using namespace zolv::fuzz;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const std::string readable = search::WithReplacementCharacters(bytes);
  if (!search::IsWellFormedUtf8(readable)) Fail("readable form is not UTF-8");
  if (search::IsWellFormedUtf8(bytes) != (readable == bytes)) {
    Fail("a well-formed text was changed, or a malformed one kept");
  }

  const std::string json = search::JsonString(bytes);
  if (!search::IsWellFormedUtf8(json)) Fail("JSON string is not UTF-8");
  std::size_t at = 0;
  std::string back;
  if (!search::ReadJsonString(json, &at, &back) || at != json.size() ||
      back != bytes) {
    Fail("JSON string does not read back");
  }

  std::vector<search::DataItem> items;
  if (!search::DecodeDataItems(bytes, &items)) return 0;
  const std::string encoded = search::EncodeDataItems(items);
  std::vector<search::DataItem> again;
  if (!encoded.empty() && !search::DecodeDataItems(encoded, &again)) {
    Fail("written data items do not read back");
  }
  if (search::EncodeDataItems(again) != encoded) {
    Fail("data items change when written again");
  }
  return 0;
}
