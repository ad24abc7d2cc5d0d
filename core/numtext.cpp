#include "core/numtext.h"

#include <charconv>
#include <cmath>
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

void append_format_g(std::string& out, double x) {
    if (std::isnan(x)) {
        out += std::signbit(x) ? "-nan" : "nan";
        return;
    }
    if (std::isinf(x)) {
        out += x > 0 ? "inf" : "-inf";
        return;
    }
    if (x == 0.0) {
        out += std::signbit(x) ? "-0" : "0";
        return;
    }
    // Six significant digits and the exponent from one scientific conversion;
    // the fixed form rounds at the same decimal position, so it has the same
    // digits and only the point moves.
    char sci[40];
    const char* end = std::to_chars(sci, sci + sizeof(sci), x, std::chars_format::scientific, 5).ptr;  // [-]d.ddddde[+-]XX
    const char* p = sci;
    char buf[48];
    char* o = buf;
    if (*p == '-') {
        *o++ = '-';
        ++p;
    }
    char d[6] = {p[0], p[2], p[3], p[4], p[5], p[6]};
    const char* e = p + 8;  // exponent sign
    int X = 0;
    for (const char* q = e + 1; q < end; ++q) X = X * 10 + (*q - '0');
    if (*e == '-') X = -X;
    int nd = 6;
    while (nd > 1 && d[nd - 1] == '0') --nd;
    if (X >= -4 && X <= 5) {
        if (X >= 0) {
            for (int i = 0; i <= X; ++i) *o++ = i < nd ? d[i] : '0';
            if (nd > X + 1) {
                *o++ = '.';
                for (int i = X + 1; i < nd; ++i) *o++ = d[i];
            }
        } else {
            *o++ = '0';
            *o++ = '.';
            for (int i = 0; i < -X - 1; ++i) *o++ = '0';
            for (int i = 0; i < nd; ++i) *o++ = d[i];
        }
    } else {
        *o++ = d[0];
        if (nd > 1) {
            *o++ = '.';
            for (int i = 1; i < nd; ++i) *o++ = d[i];
        }
        *o++ = 'e';
        *o++ = X < 0 ? '-' : '+';
        int ax = X < 0 ? -X : X;
        if (ax >= 100) *o++ = static_cast<char>('0' + ax / 100);
        *o++ = static_cast<char>('0' + ax / 10 % 10);
        *o++ = static_cast<char>('0' + ax % 10);
    }
    out.append(buf, o);
}

std::string format_g(double x) {
    std::string out;
    append_format_g(out, x);
    return out;
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
