// Text files the program reads and writes (scripts, parameter presets): byte-order
// marks, line breaks, and numbers written the same way on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lq {

enum class TextEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE };

struct DecodedText {
  std::string utf8;  // always valid UTF-8
  TextEncoding encoding = TextEncoding::Utf8;
};

// Honours a UTF-8 or UTF-16 byte-order mark. Without one the bytes are read as
// UTF-8; a byte that starts no valid UTF-8 sequence is taken as Windows-1252,
// the code page older files were written in. Broken UTF-16 becomes U+FFFD.
DecodedText DecodeText(std::string_view bytes);

// The text in the given encoding, with its byte-order mark when it has one.
std::string EncodeText(std::string_view utf8, TextEncoding encoding);

// Splits at CR LF, LF or CR. A break at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// Whole file into memory. False with a reason (strerror text) on failure.
bool ReadWholeFile(const std::string& fileName, std::string& bytes, std::string* error = nullptr);

// Removes characters 0..32 (spaces, tabs, CR, other controls) at both ends.
std::string_view TrimControl(std::string_view s);

// Integers: optional sign, then decimal digits or hexadecimal after "$" or "0x".
// The value must fit in 32 bits; anything else fails. Surrounding controls and
// spaces are ignored.
bool TryParseInt32(std::string_view s, int32_t& out);

// Decimal numbers: optional sign, digits with "." or "," as the decimal
// separator, optional exponent. Both separators are read everywhere so a file
// means the same on every machine. The value must be finite as a 32-bit float.
bool TryParseDecimal(std::string_view s, float& out);

// At most maxDecimals decimals, no trailing zeros, "." as separator, no
// separator for whole numbers ("0.##" with maxDecimals = 2).
std::string FormatDecimal(double value, int maxDecimals);

}  // namespace lq
