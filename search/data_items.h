// The data items of an SD record (the "> <NAME>" fields after its molecule
// block) as the index keeps them: one JSON object, field name to value, in
// file order. A text column of JSON, because every client reads it and both
// databases query it (SQLite's json_extract, PostgreSQL's ->> on a cast to
// json).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zolv::search {

struct DataItem {
  std::string name;   // the field name, between "<" and ">"
  std::string value;  // its lines, joined with "\n"
};

/// The items as one JSON object; empty for none. A name given again keeps
/// one key, its values joined with "\n" in file order, so that nothing is
/// lost and every JSON reader sees every value. Bytes that are not UTF-8
/// are written as JsonString writes them.
std::string EncodeDataItems(const std::vector<DataItem>& items);

/// The items of such an object, in its order; false (and no items) when
/// text is not an object of strings.
bool DecodeDataItems(std::string_view text, std::vector<DataItem>* items);

}  // namespace zolv::search
