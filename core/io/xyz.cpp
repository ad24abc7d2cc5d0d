#include "core/io/xyz.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/io/numparse.h"

namespace ombrix::io {

namespace {

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool starts_with_ci(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[i]) != prefix[i]) return false;
    return true;
}

double nan_with_sign(bool negative) {
    double v = std::numeric_limits<double>::quiet_NaN();
    return negative ? -v : v;
}

}  // namespace

bool convert_xyz_token(std::string_view t, double* out) {
    if (parse_standard_number(t, out)) return true;
    const size_t n = t.size();
    if (n <= 1) return false;
    if (n == 2) return parse_standard_number(t.substr(0, 1), out);
    if (starts_with_ci(t, "nan")) {
        *out = nan_with_sign(false);
        return true;
    }
    if (n >= 4) {
        if (starts_with_ci(t, "-nan")) {
            *out = nan_with_sign(true);
            return true;
        }
        if (starts_with_ci(t, "inf")) {
            *out = std::numeric_limits<double>::infinity();
            return true;
        }
        if (starts_with_ci(t, "-inf")) {
            *out = -std::numeric_limits<double>::infinity();
            return true;
        }
    }
    // Prefix search from the longest proper prefix down. A valid prefix is
    // ASCII, so it never ends inside a multi-byte character, and since the
    // whole token failed, the longest valid prefix is the one sought: one
    // left-to-right scan finds it.
    size_t k = longest_number_prefix(t);
    if (k == 0 || k >= n) return false;
    return parse_standard_number(t.substr(0, k), out);
}

void read_from_lines(std::string_view text, PointCloud& cloud) {
    cloud.points.clear();
    cloud.normals.clear();
    cloud.colors.clear();
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        // One line: up to the next line feed. A carriage return before it is
        // a separator, so it need not be stripped separately.
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!eol) eol = end;
        std::string_view tok[3];
        int ntok = 0;
        const char* q = p;
        while (ntok < 3) {
            while (q < eol && is_separator(static_cast<unsigned char>(*q))) ++q;
            if (q >= eol) break;
            const char* s = q;
            while (q < eol && !is_separator(static_cast<unsigned char>(*q))) ++q;
            tok[ntok++] = std::string_view(s, static_cast<size_t>(q - s));
        }
        if (ntok == 3) {
            Vec3 v;
            if (convert_xyz_token(tok[0], &v[0]) && convert_xyz_token(tok[1], &v[1]) &&
                convert_xyz_token(tok[2], &v[2]))
                cloud.points.push_back(v);
        }
        p = eol + 1;
    }
}

void append_fixed10(std::string& out, double x) {
    if (std::isnan(x)) {
        out += std::signbit(x) ? "-nan" : "nan";
        return;
    }
    if (std::isinf(x)) {
        out += x > 0 ? "inf" : "-inf";
        return;
    }
    char buf[400];  // 309 integer digits + sign + point + 10 decimals at most
    const double ax = std::fabs(x);
    if (ax < 1.8e9) {
        // Exact: |x| = m * 2^e, so |x| * 10^10 = m * 10^10 * 2^e is an integer
        // shifted right; round the shifted-out bits half to even. m * 10^10
        // stays below 2^87, and the result below 2^64.
        int exp;
        const double f = std::frexp(ax, &exp);  // ax = f * 2^exp, f in [0.5, 1)
        const uint64_t m = static_cast<uint64_t>(std::ldexp(f, 53));
        const int shift = 53 - exp;  // > 0 here since ax < 2^31
        const unsigned __int128 p = static_cast<unsigned __int128>(m) * 10000000000ULL;
        uint64_t q = 0;
        if (ax != 0.0 && shift < 88) {
            const unsigned __int128 one = 1;
            unsigned __int128 qq = p >> shift;
            const unsigned __int128 rem = p & ((one << shift) - 1);
            const unsigned __int128 half = one << (shift - 1);
            if (rem > half || (rem == half && (qq & 1))) ++qq;
            q = static_cast<uint64_t>(qq);
        }
        char* o = buf;
        if (std::signbit(x)) *o++ = '-';
        o = std::to_chars(o, buf + sizeof(buf), q / 10000000000ULL).ptr;
        *o++ = '.';
        uint64_t frac = q % 10000000000ULL;
        for (int i = 9; i >= 0; --i) {
            o[i] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        out.append(buf, o + 10);
        return;
    }
    auto r = std::to_chars(buf, buf + sizeof(buf), x, std::chars_format::fixed, 10);
    out.append(buf, r.ptr);
}

std::string write_to_string(const std::vector<Vec3>& points) {
    std::string out;
    out.reserve(points.size() * 60 + 16);
    for (const Vec3& p : points) {
        append_fixed10(out, p[0]);
        out.push_back(' ');
        append_fixed10(out, p[1]);
        out.push_back(' ');
        append_fixed10(out, p[2]);
        out.push_back('\n');
    }
    return out;
}

}  // namespace ombrix::io
