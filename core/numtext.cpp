#include "core/numtext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ombrix {

namespace {

std::string to_chars_text(double x, std::chars_format fmt, int precision) {
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof(buf), x, fmt, precision);
    return std::string(buf, r.ptr);
}

}  // namespace

std::string c_format_e(double x) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    return to_chars_text(x, std::chars_format::scientific, 6);
}

std::string format_g(double x) {
    if (std::isnan(x)) return std::signbit(x) ? "-nan" : "nan";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    if (x == 0.0) return std::signbit(x) ? "-0" : "0";
    // Exponent after rounding to six significant digits picks the notation.
    std::string s = to_chars_text(x, std::chars_format::scientific, 5);
    size_t e = s.find('e');
    int X = std::atoi(s.c_str() + e + 1);
    auto trim = [](std::string t) {
        if (t.find('.') != std::string::npos) {
            while (!t.empty() && t.back() == '0') t.pop_back();
            if (!t.empty() && t.back() == '.') t.pop_back();
        }
        return t;
    };
    if (X >= -4 && X <= 5) return trim(to_chars_text(x, std::chars_format::fixed, 5 - X > 0 ? 5 - X : 0));
    std::string mant = trim(s.substr(0, e));
    char buf[16];
    int ax = X < 0 ? -X : X;
    std::snprintf(buf, sizeof(buf), "e%c%02d", X < 0 ? '-' : '+', ax);
    return mant + buf;
}

std::string shortest_text(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    if (x == 0.0) return std::signbit(x) ? "-0" : "0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof(buf), x, std::chars_format::scientific);
    std::string s(buf, r.ptr);
    std::string out;
    size_t i = 0;
    if (s[0] == '-') {
        out.push_back('-');
        i = 1;
    }
    size_t e = s.find('e');
    std::string digits;
    for (size_t k = i; k < e; ++k)
        if (s[k] != '.') digits.push_back(s[k]);
    int exp = std::atoi(s.c_str() + e + 1);
    // Value = 0.d1d2d3... x 10^(exp+1); place the point after exp+1 digits.
    int point = exp + 1;
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-point), '0');
        out += digits;
    } else if (static_cast<size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<size_t>(point));
        out.push_back('.');
        out += digits.substr(static_cast<size_t>(point));
    }
    return out;
}

std::string fixed_text(double x, int decimals) { return to_chars_text(x, std::chars_format::fixed, decimals); }

}  // namespace ombrix
