// How hits are printed: as SMILES lines, CSV, JSON Lines or SD records, each
// with the target's row id, its name byte for byte and, for an SD input,
// the record's data items. Nothing here searches; zolv search hands each
// hit over as it is confirmed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "text_store.h"

namespace zolv::host {

/// How zolv search prints its hits.
enum class HitFormat {
  kSmi,   // SMILES, a tab, the name with tab, line breaks and "\\" escaped
  kCsv,   // id,name,smiles,data with RFC 4180 quoting and CRLF line ends
  kJson,  // JSON Lines: {"id":..,"name":..,"smiles":..[,"data":{..}]}
  kSdf,   // SD records: a molfile (title: the name), zolv_id, data items
};

std::optional<HitFormat> ParseHitFormat(const std::string& name);

/// The header line a format starts with; empty when it has none. With
/// several queries the rows carry the query's number first.
std::string HitHeader(HitFormat format, bool numbered);

/// One hit, ending in its line end (an SD record in its "$$$$"). query is
/// the query's number, printed only when numbered. Empty, with the reason in
/// *error, only when an SD record cannot be written (no molfile for the
/// SMILES).
std::string FormatHit(const search::Candidate& hit, HitFormat format,
                      bool numbered, std::size_t query,
                      std::string* error = nullptr);

/// A name as one field of a tab-separated line, escaped so that it reads
/// back: "\\", "\t", "\n", "\r".
std::string EscapeTabbedField(const std::string& name);

}  // namespace zolv::host
