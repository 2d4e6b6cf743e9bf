#include "data_items.h"

#include "utf8_text.h"

namespace zolv::search {
namespace {

void SkipSpace(std::string_view text, std::size_t* at) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t' ||
                               text[*at] == '\n' || text[*at] == '\r')) {
    ++*at;
  }
}

}  // namespace

std::string EncodeDataItems(const std::vector<DataItem>& items) {
  std::vector<DataItem> merged;
  for (const DataItem& item : items) {
    bool seen = false;
    for (DataItem& earlier : merged) {
      if (earlier.name == item.name) {
        earlier.value += "\n" + item.value;
        seen = true;
        break;
      }
    }
    if (!seen) merged.push_back(item);
  }
  if (merged.empty()) return {};
  std::string json = "{";
  for (const DataItem& item : merged) {
    if (json.size() > 1) json += ",";
    json += JsonString(item.name) + ":" + JsonString(item.value);
  }
  return json + "}";
}

bool DecodeDataItems(std::string_view text, std::vector<DataItem>* items) {
  items->clear();
  std::size_t at = 0;
  SkipSpace(text, &at);
  if (at >= text.size() || text[at] != '{') return false;
  ++at;
  SkipSpace(text, &at);
  if (at < text.size() && text[at] == '}') {
    ++at;
  } else {
    for (;;) {
      DataItem item;
      SkipSpace(text, &at);
      if (!ReadJsonString(text, &at, &item.name)) break;
      SkipSpace(text, &at);
      if (at >= text.size() || text[at] != ':') break;
      ++at;
      SkipSpace(text, &at);
      if (!ReadJsonString(text, &at, &item.value)) break;
      items->push_back(std::move(item));
      SkipSpace(text, &at);
      if (at < text.size() && text[at] == ',') {
        ++at;
        continue;
      }
      if (at < text.size() && text[at] == '}') {
        ++at;
        SkipSpace(text, &at);
        if (at == text.size()) return true;
      }
      break;
    }
    items->clear();
    return false;
  }
  SkipSpace(text, &at);
  return at == text.size();
}

}  // namespace zolv::search
