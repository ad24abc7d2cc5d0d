// Number text as the file formats read it: the standard syntax (optional sign,
// decimal digits with an optional point, optional exponent; "inf", "infinity"
// and "nan" in any case) and the text helpers shared by the readers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ombrix::io {

// True when all of `s` is standard number text; the value is the nearest
// double (ties to even), saturating to a signed infinity or zero out of range.
// "-nan" has its sign bit set.
bool parse_standard_number(std::string_view s, double* out);

// Length of the longest prefix of `s` that is standard number text (0: none).
size_t longest_number_prefix(std::string_view s);

// Separators of the text formats: space, tab, line feed, form feed, carriage
// return (not vertical tab).
inline bool is_separator(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view s);

}  // namespace ombrix::io
