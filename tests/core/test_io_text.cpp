// Number text of the file formats, XYZ lines, PLY headers and triangulation.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "check.h"
#include "core/numtext.h"
#include "core/io/io.h"
#include "core/io/numparse.h"
#include "core/io/ply.h"
#include "core/io/xyz.h"

using namespace ombrix;
using namespace ombrix::io;

static uint64_t bits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return u;
}

static bool num(const char* s, double want) {
    double v;
    return parse_standard_number(s, &v) && bits(v) == bits(want);
}
static bool bad(const char* s) {
    double v;
    return !parse_standard_number(s, &v);
}
static bool tok(const char* s, double want) {
    double v;
    return convert_xyz_token(s, &v) && bits(v) == bits(want);
}
static bool tok_nan(const char* s, bool neg) {
    double v;
    return convert_xyz_token(s, &v) && std::isnan(v) && std::signbit(v) == neg;
}

int main() {
    const double inf = std::numeric_limits<double>::infinity();
    // Standard syntax.
    CHECK(num("1", 1.0) && num("+1.5", 1.5) && num("-0", -0.0) && num("5.", 5.0) && num(".5", 0.5));
    CHECK(num("1e3", 1000.0) && num("1E+3", 1000.0) && num("2.5e-1", 0.25));
    CHECK(num("inf", inf) && num("-Infinity", -inf) && num("INF", inf));
    CHECK(num("1e400", inf) && num("-1e400", -inf) && num("1e-400", 0.0) && num("-1e-400", -0.0));
    CHECK(num("0.000001e-320", 0.0) && num("12345678901234567890e300", inf));
    CHECK(num("4.9e-324", 4.9e-324) && num("0.1", 0.1));
    double v;
    CHECK(parse_standard_number("-nan", &v) && std::isnan(v) && std::signbit(v));
    CHECK(parse_standard_number("NaN", &v) && std::isnan(v) && !std::signbit(v));
    CHECK(bad("") && bad("+") && bad("-") && bad(".") && bad("e5") && bad("1e") && bad("1e+") && bad("0x10"));
    CHECK(bad(" 1") && bad("1 ") && bad("1,5") && bad("nan(ind)") && bad("infin") && bad("++1") && bad("1.2.3"));
    // Longest prefix.
    CHECK(longest_number_prefix("1.5mm") == 3 && longest_number_prefix("1e+") == 1 && longest_number_prefix("-") == 0);
    CHECK(longest_number_prefix("infinit") == 3 && longest_number_prefix("Infinity!") == 8);
    CHECK(longest_number_prefix(".e1") == 0 && longest_number_prefix("5.e1x") == 4);

    // XYZ token fallbacks.
    CHECK(tok("1.5mm", 1.5) && tok("2.0,", 2.0) && tok("7x", 7.0) && tok("1\v2", 1.0));
    CHECK(!tok("-", 0) && !tok("x", 0) && !tok("ab", 0) && !tok("abc", 0) && !tok(".x", 0));
    CHECK(tok_nan("nan(ind)", false) && tok_nan("-nan(ind)", true) && tok_nan("-NaN(snan)", true));
    CHECK(tok_nan("NANx", false) && tok("Infinite", inf) && tok("-infx", -inf) && tok("+infx", inf));
    CHECK(tok("1e+", 1.0) && tok("3\xc3\xa9", 3.0));
    CHECK(convert_xyz_token("nan(ind)", &v) && bits(v) == 0x7FF8000000000000ULL);
    CHECK(convert_xyz_token("-nan(ind)", &v) && bits(v) == 0xFFF8000000000000ULL);

    // XYZ lines.
    PointCloud c;
    c.normals.push_back({1, 1, 1});
    read_from_lines("1 2 3\r\n1 2 abc\n4 5\n\t7  8 9 junk\n  \n10 11 12", c);
    CHECK(c.points.size() == 3 && c.normals.empty());
    CHECK(c.points[1] == (Vec3{7, 8, 9}) && c.points[2] == (Vec3{10, 11, 12}));
    read_from_lines("1 2 3\r", c);
    CHECK(c.points.size() == 1 && c.points[0] == (Vec3{1, 2, 3}));

    // XYZ writer.
    CHECK(write_to_string({{1, -0.0, 2.5}}) == "1.0000000000 -0.0000000000 2.5000000000\n");
    CHECK(write_to_string({{0.00048828125, -1e-12, 1e20}}) ==
          "0.0004882812 -0.0000000000 100000000000000000000.0000000000\n");
    CHECK(write_to_string({{std::nan(""), -std::nan(""), -inf}}) == "nan -nan -inf\n");
    CHECK(write_to_string({}).empty());

    // Format selection.
    CHECK(format_from_filename("scan.PLY", "auto") == "ply" && format_from_filename(".ply", "auto") == "ply");
    CHECK(format_from_filename("a.", "auto").empty() && format_from_filename("noext", "auto").empty());
    CHECK(format_from_filename("run.1/points", "auto") == "1/points" && format_from_filename("a.ply", "XYZ") == "XYZ");

    // PLY headers.
    auto h = parse_header("ply\r\nformat binary_big_endian 2.0\r\ncomment x\r\nelement vertex +3 extra\r\n"
                          "property float x\r\nproperty list uint8 int32 vertex_indices\r\nend_header\r\nBODY");
    CHECK(h.ok() && !h->ascii && !h->little_endian && h->elements.size() == 1 && h->elements[0].count == 3);
    CHECK(h.ok() && h->elements[0].properties[1].is_list && h->body_offset == std::string("ply\r\nformat binary_big_endian 2.0\r\ncomment x\r\nelement vertex +3 extra\r\nproperty float x\r\nproperty list uint8 int32 vertex_indices\r\nend_header\r\n").size());
    CHECK(parse_header(" ply \nformat ascii\nend_header\n").ok());
    CHECK(parse_header("\xc2\xa0ply\xe2\x80\x83\x0b\r\nformat ascii\nend_header\n").ok());  // NBSP, EM SPACE, VT
    CHECK(!parse_header("\xe2\x80\x8bply\nformat ascii\nend_header\n").ok());  // zero width space is not white space
    CHECK(!parse_header("ply\nformat binary\nend_header\n").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\nelement v -1\nend_header\n").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\nelement v 1.0\nend_header\n").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\nelement v 18446744073709551616\nend_header\n").ok());
    CHECK(parse_header("ply\nformat ascii 1.0\nelement v 18446744073709551615\nend_header\n").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\nproperty float x\nend_header\n").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\nelement v 1\nproperty int64 x\nend_header\n").ok());
    CHECK(!parse_header("ply\nelement v 1\nend_header\n").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\nend_header").ok());
    CHECK(!parse_header("ply\nformat ascii 1.0\ncomment \xff\nend_header\n").ok());
    CHECK(!parse_header("plyx\nformat ascii 1.0\nend_header\n").ok());

    // Triangulation: convex quad, collinear polygon, fewer than three corners.
    std::vector<Vec3> P{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    std::vector<Vec3i> out;
    uint64_t budget = 1000;
    uint32_t quad[4] = {0, 1, 2, 3};
    CHECK(triangulate_polygon(quad, 4, P, out, budget) && out.size() == 2);
    CHECK(out[0] == (Vec3i{0, 1, 2}) && out[1] == (Vec3i{0, 2, 3}));
    std::vector<Vec3> L{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}};
    CHECK(!triangulate_polygon(quad, 4, L, out, budget));
    CHECK(!triangulate_polygon(quad, 2, P, out, budget));
    uint32_t oob[3] = {0, 1, 4};
    CHECK(!triangulate_polygon(oob, 3, P, out, budget));
    uint64_t none = 0;
    CHECK(!triangulate_polygon(quad, 4, P, out, none));

    // A concave "L" (counter-clockwise) needs the ear test to skip corner 1.
    std::vector<Vec3> Lp{{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
    uint32_t hexa[6] = {0, 1, 2, 3, 4, 5};
    out.clear();
    CHECK(triangulate_polygon(hexa, 6, Lp, out, budget) && out.size() == 4);

    // Colour bytes.
    CHECK(ply_color_byte(1.0) == 255 && ply_color_byte(0.5) == 128 && ply_color_byte(-0.2) == 0 &&
          ply_color_byte(std::nan("")) == 0 && ply_color_byte(7.0) == 255);
    // The writer appends %g texts one after another.
    std::string g;
    append_format_g(g, 0.1);
    g += ' ';
    append_format_g(g, 1234567.0);
    g += ' ';
    append_format_g(g, 0.0001);
    CHECK(g == "0.1 1.23457e+06 0.0001");

    // The XYZ writer's fast exact path agrees with to_chars fixed (10 decimals).
    std::mt19937_64 rng(7);
    int fixed_mismatches = 0;
    auto fixed_ref = [](double x) {
        char b[400];
        return std::string(b, std::to_chars(b, b + sizeof(b), x, std::chars_format::fixed, 10).ptr);
    };
    for (int i = 0; i < 300000; ++i) {
        double x;
        switch (i % 4) {
            case 0: {
                uint64_t u = rng();
                std::memcpy(&x, &u, 8);
                if (!std::isfinite(x)) continue;
                break;
            }
            case 1: x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 100); break;
            case 2: x = static_cast<double>(static_cast<int64_t>(rng() % 4000000000001ULL) - 2000000000000LL) * 5e-11; break;
            default: x = std::ldexp(static_cast<double>(rng() % 2048), -static_cast<int>(rng() % 60)); break;
        }
        if (i % 8 == 3) x = -x;
        std::string s;
        append_fixed10(s, x);
        if (s != fixed_ref(x)) ++fixed_mismatches;
    }
    for (double x : {0.0, -0.0, 5e-11, -5e-11, 1.5e-10, 2.5e-10, 4.9e-324, 1.7999999999e9, 1.8e9, 0.00048828125}) {
        std::string s;
        append_fixed10(s, x);
        if (s != fixed_ref(x)) ++fixed_mismatches;
    }
    CHECK(fixed_mismatches == 0);

    // Colour bytes agree with clamp, scale, std::round (half away from zero).
    int colour_mismatches = 0;
    for (int i = 0; i < 100000; ++i) {
        double c = static_cast<double>(rng() % 1000001) / 1000000.0 * 1.2 - 0.1;
        if (i % 3 == 0) c = (static_cast<double>(rng() % 256) + 0.5) / 255.0;  // near ties
        double ref = std::min(std::max(std::round(std::min(std::max(c, 0.0), 1.0) * 255.0), 0.0), 255.0);
        if (ply_color_byte(c) != static_cast<uint8_t>(ref)) ++colour_mismatches;
    }
    CHECK(colour_mismatches == 0);

    // Post-processing: normals and colours follow only when there is one per point.
    PointCloud pp;
    pp.points = {{0, 0, 0}, {std::nan(""), 0, 0}, {1, inf, 0}, {2, 2, 2}};
    pp.normals = {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
    pp.colors = {{1, 1, 1}, {2, 2, 2}};
    postprocess_cloud(pp, true, false);
    CHECK(pp.points.size() == 3 && pp.normals.size() == 3 && pp.normals[1] == (Vec3{3, 0, 0}));
    CHECK(pp.colors.size() == 2 && pp.colors[1] == (Vec3{2, 2, 2}));
    postprocess_cloud(pp, false, true);
    CHECK(pp.points.size() == 2 && pp.normals[1] == (Vec3{4, 0, 0}) && pp.colors.size() == 2);
    return check_report();
}
