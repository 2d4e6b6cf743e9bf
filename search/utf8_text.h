// Bytes that should be UTF-8 but need not be: names and data fields of input
// files, which the databases' text columns and JSON take only as
// well-formed UTF-8, and which must still come back byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zolv::search {

/// The length of the well-formed UTF-8 sequence at text[at], or 0 when none
/// starts there (overlong forms, surrogates and code points past U+10FFFF
/// are not well formed).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at);

bool IsWellFormedUtf8(std::string_view text);

/// text with every byte that is not part of a well-formed sequence replaced
/// by U+FFFD, as decoders that replace do it: always well-formed UTF-8.
std::string WithReplacementCharacters(std::string_view text);

/// A JSON string of the bytes. A byte that is not part of well-formed UTF-8
/// becomes the lone surrogate U+DC00 + byte, as Python's "surrogateescape"
/// error handler reads it, so that the bytes can be had back exactly.
std::string JsonString(std::string_view text);

/// Reads the JSON string at json[*at] (its opening quote) into bytes, a
/// lone \udcXX back into byte XX, and moves *at past its closing quote.
/// False when there is no well-formed string there.
bool ReadJsonString(std::string_view json, std::size_t* at, std::string* bytes);

}  // namespace zolv::search
