// Plain-text helpers that every layer shares, so that white space and
// hexadecimal digits mean the same thing wherever text is read or printed.
// Standard library only, ASCII only: no locale changes what they do.
#pragma once

#include <string>
#include <string_view>

namespace zolv {

/// The white space of the "C" locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

/// text without white space at either end; a view into text.
std::string_view TrimWhiteSpace(std::string_view text);

/// Lowercase hexadecimal digit of each nibble value 0..15.
inline constexpr char kHexDigits[] = "0123456789abcdef";
static_assert(sizeof(kHexDigits) - 1 == 16);

/// Appends the byte's two lowercase hexadecimal digits to out.
void AppendHexByte(std::string* out, unsigned char byte);

/// Two lowercase hexadecimal digits for every byte.
std::string HexOf(std::string_view bytes);

/// The bytes that HexOf wrote as hex; false when hex is not an even number
/// of lowercase hexadecimal digits.
bool BytesOfHex(std::string_view hex, std::string* bytes);

}  // namespace zolv
