#include "core/io/numparse.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace ombrix::io {

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool iequal(std::string_view s, const char* word) {
    size_t n = std::strlen(word);
    if (s.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(s[i]) != word[i]) return false;
    return true;
}

// Whether the (already validated) decimal text is at least 1 in magnitude:
// decides between infinity and zero when the value is out of range.
bool magnitude_at_least_one(std::string_view s) {
    size_t i = 0;
    long long lead = 0;  // decimal exponent of the leading non-zero digit
    bool found = false;
    long long int_digits = 0;
    while (i < s.size() && is_digit(s[i])) {
        if (!found && s[i] != '0') {
            found = true;
            lead = -int_digits;  // fixed up below once the integer part is counted
        }
        ++int_digits;
        ++i;
    }
    if (found) lead += int_digits - 1;
    if (i < s.size() && s[i] == '.') {
        ++i;
        long long f = 0;
        while (i < s.size() && is_digit(s[i])) {
            ++f;
            if (!found && s[i] != '0') {
                found = true;
                lead = -f;
            }
            ++i;
        }
    }
    if (!found) return false;
    long long e = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool neg = false;
        if (s[i] == '+' || s[i] == '-') neg = s[i++] == '-';
        for (; i < s.size(); ++i) {
            if (e < 1000000000000LL) e = e * 10 + (s[i] - '0');  // saturates far beyond any double
        }
        if (neg) e = -e;
    }
    return lead + e >= 0;
}

}  // namespace

bool parse_standard_number(std::string_view s, double* out) {
    size_t i = 0;
    bool neg = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        neg = s[0] == '-';
        i = 1;
    }
    std::string_view body = s.substr(i);
    if (body.empty()) return false;
    double v;
    if (is_digit(body[0]) || body[0] == '.') {
        size_t k = 0, digits = 0;
        while (k < body.size() && is_digit(body[k])) ++k, ++digits;
        if (k < body.size() && body[k] == '.') {
            ++k;
            while (k < body.size() && is_digit(body[k])) ++k, ++digits;
        }
        if (digits == 0) return false;
        if (k < body.size() && (body[k] == 'e' || body[k] == 'E')) {
            ++k;
            if (k < body.size() && (body[k] == '+' || body[k] == '-')) ++k;
            size_t e0 = k;
            while (k < body.size() && is_digit(body[k])) ++k;
            if (k == e0) return false;
        }
        if (k != body.size()) return false;
        auto r = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range) {
            v = magnitude_at_least_one(body) ? std::numeric_limits<double>::infinity() : 0.0;
        } else if (r.ec != std::errc() || r.ptr != body.data() + body.size()) {
            return false;
        }
    } else if (iequal(body, "inf") || iequal(body, "infinity")) {
        v = std::numeric_limits<double>::infinity();
    } else if (iequal(body, "nan")) {
        v = std::numeric_limits<double>::quiet_NaN();
    } else {
        return false;
    }
    *out = neg ? -v : v;
    return true;
}

size_t longest_number_prefix(std::string_view s) {
    size_t i = 0, best = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= s.size()) return 0;
    char c = lower(s[i]);
    if (c == 'i' || c == 'n') {
        const char* word = c == 'i' ? "infinity" : "nan";
        size_t k = 0;
        while (word[k] && i + k < s.size() && lower(s[i + k]) == word[k]) {
            ++k;
            if (k == 3 || k == 8) best = i + k;
        }
        return best;
    }
    size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) {
        ++i;
        best = i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (digits) best = i;
        while (i < s.size() && is_digit(s[i])) {
            ++i;
            best = i;
            ++digits;
        }
    }
    if (!digits) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        while (i < s.size() && is_digit(s[i])) best = ++i;
    }
    return best;
}

bool is_valid_utf8(std::string_view sv) {
    const auto* s = reinterpret_cast<const unsigned char*>(sv.data());
    size_t n = sv.size(), i = 0;
    while (i < n) {
        // ASCII runs eight bytes at a time.
        while (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, s + i, 8);
            if (w & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (n - i < len) return false;
        if (s[i + 1] < lo || s[i + 1] > hi) return false;
        for (size_t k = 2; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

}  // namespace ombrix::io
