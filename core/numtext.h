// Locale-independent number texts, exact (std::to_chars digit generation).
#pragma once
#include <string>

namespace ombrix {

// printf "%e": "1.000000e+00", "nan", "inf", "-inf" (NaN of either sign is "nan").
std::string c_format_e(double x);
// printf "%g" with six significant digits: "1", "1e+06", "0.000123457", "-0", "-nan".
std::string format_g(double x);
// The same text appended to `out`, without a temporary string (file writers).
void append_format_g(std::string& out, double x);
// Shortest text that reads back as the same double, positional (no exponent),
// no trailing ".0": "1", "0.1", "0.0000001", "1000000000000000000000", "-0",
// "NaN", "inf", "-inf".
std::string shortest_text(double x);
// Fixed notation with `decimals` digits after the point (correctly rounded).
std::string fixed_text(double x, int decimals);

}  // namespace ombrix
