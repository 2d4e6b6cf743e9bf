#include "hit_format.h"

#include <vector>

#include "data_items.h"
#include "substructure_check.h"
#include "utf8_text.h"

namespace zolv::host {
namespace {

std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

// One SD data item; an empty value still takes its line, and a value's
// empty lines, which would end the item, become single spaces.
std::string SdItem(const std::string& name, const std::string& value) {
  std::string item = "> <" + name + ">\n";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = value.find('\n', start);
    const std::string line =
        value.substr(start, end == std::string::npos ? end : end - start);
    item += (line.empty() ? " " : line) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return item + "\n";
}

// The stored data items as a JSON value: the object zolv index wrote, or
// whatever else the column holds as a string.
std::string JsonData(const std::string& data) {
  std::vector<search::DataItem> items;
  if (!search::DecodeDataItems(data, &items)) return search::JsonString(data);
  return items.empty() ? "{}" : search::EncodeDataItems(items);
}

std::string SdRecord(const search::Candidate& hit, bool numbered,
                     std::size_t query, std::string* error) {
  std::string problem;
  std::string record = search::SmilesToMolfile(hit.smiles, hit.name, &problem);
  if (record.empty()) {
    if (error != nullptr) {
      *error = "no molfile for target " + std::to_string(hit.id) + " (" +
               hit.smiles + "): " + problem;
    }
    return {};
  }
  record += SdItem("zolv_id", std::to_string(hit.id));
  if (numbered) record += SdItem("zolv_query", std::to_string(query));
  std::vector<search::DataItem> items;
  if (!hit.data.empty() && !search::DecodeDataItems(hit.data, &items)) {
    // Not written by zolv index: passed on whole rather than lost.
    items = {{"zolv_data", hit.data}};
  }
  for (const search::DataItem& item : items) {
    record += SdItem(item.name, item.value);
  }
  return record + "$$$$\n";
}

}  // namespace

std::optional<HitFormat> ParseHitFormat(const std::string& name) {
  if (name == "smi" || name == "smiles") return HitFormat::kSmi;
  if (name == "csv") return HitFormat::kCsv;
  if (name == "json") return HitFormat::kJson;
  if (name == "sdf" || name == "sd") return HitFormat::kSdf;
  return std::nullopt;
}

std::string HitHeader(HitFormat format, bool numbered) {
  if (format != HitFormat::kCsv) return {};
  return numbered ? "query,id,name,smiles,data\r\n" : "id,name,smiles,data\r\n";
}

std::string EscapeTabbedField(const std::string& name) {
  std::string out;
  for (char c : name) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string FormatHit(const search::Candidate& hit, HitFormat format,
                      bool numbered, std::size_t query, std::string* error) {
  const std::string id = std::to_string(hit.id);
  switch (format) {
    case HitFormat::kSmi:
      return hit.smiles + "\t" + EscapeTabbedField(hit.name) + "\n";
    case HitFormat::kCsv:
      return (numbered ? std::to_string(query) + "," : std::string()) + id +
             "," + CsvField(hit.name) + "," + CsvField(hit.smiles) + "," +
             CsvField(hit.data) + "\r\n";
    case HitFormat::kJson:
      return std::string("{") +
             (numbered ? "\"query\":" + std::to_string(query) + "," : "") +
             "\"id\":" + id + ",\"name\":" + search::JsonString(hit.name) +
             ",\"smiles\":" + search::JsonString(hit.smiles) +
             (hit.data.empty() ? "" : ",\"data\":" + JsonData(hit.data)) +
             "}\n";
    case HitFormat::kSdf:
      return SdRecord(hit, numbered, query, error);
  }
  return {};
}

}  // namespace zolv::host
