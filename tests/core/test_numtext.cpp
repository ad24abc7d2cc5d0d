// %e / %g / shortest / fixed texts against hand-worked values.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <limits>
#include <string>

#include "check.h"
#include "core/numtext.h"

using namespace ombrix;

int main() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double x;
        const char* text;
    };
    for (Case c : {Case{1.0, "1.000000e+00"}, {123.456789, "1.234568e+02"}, {1e-7, "1.000000e-07"},
                   {-0.0, "-0.000000e+00"}, {1e100, "1.000000e+100"}, {1e-300, "1.000000e-300"}, {nan, "nan"},
                   {-nan, "nan"}, {inf, "inf"}, {-inf, "-inf"}, {0.5, "5.000000e-01"},
                   // ties round to even on the exact binary value: 0.125 -> 1.25e-01 exactly
                   {1.0000005, "1.000001e+00"}, {2.5e-5, "2.500000e-05"}})
        CHECK(c_format_e(c.x) == c.text);

    for (Case c : {Case{1.0, "1"}, {0.5, "0.5"}, {100000.0, "100000"}, {1e6, "1e+06"}, {123456.7, "123457"},
                   {0.0001, "0.0001"}, {0.00001, "1e-05"}, {1.5e-7, "1.5e-07"}, {-2.25, "-2.25"},
                   {1.0 / 3.0, "0.333333"}, {999999.7, "1e+06"}, {0.000123456789, "0.000123457"}, {0.0, "0"},
                   {-0.0, "-0"}, {nan, "nan"}, {-nan, "-nan"}, {inf, "inf"}, {-inf, "-inf"}, {1e100, "1e+100"},
                   {-1.5e-300, "-1.5e-300"}, {12345.65, "12345.6"}, {0.1, "0.1"}})
        CHECK(format_g(c.x) == c.text);

    for (Case c : {Case{1.0, "1"}, {2.5, "2.5"}, {0.1, "0.1"}, {1e-7, "0.0000001"},
                   {1e21, "1000000000000000000000"}, {1e23, "100000000000000000000000"}, {-0.0, "-0"},
                   {0.0, "0"}, {nan, "NaN"}, {inf, "inf"}, {-inf, "-inf"}, {123.456, "123.456"},
                   {-1.25e-3, "-0.00125"}})
        CHECK(shortest_text(c.x) == c.text);
    CHECK(shortest_text(5e-324) == "0." + std::string(323, '0') + "5");
    // Round trip on awkward values.
    for (double x : {0.1 + 0.2, 1.0 / 3.0, 6.02214076e23, 1.7976931348623157e308, 2.2250738585072014e-308})
        CHECK(std::stod(shortest_text(x)) == x);

    // %g against the C library's printf on random bit patterns and decimal values.
    std::mt19937_64 rng(7);
    int mismatches = 0;
    for (int i = 0; i < 200000; ++i) {
        double x;
        if (i % 2) {
            uint64_t u = rng();
            std::memcpy(&x, &u, 8);
        } else {
            x = static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000) *
                std::pow(10.0, static_cast<int>(rng() % 30) - 15);
        }
        char ref[64];
        std::snprintf(ref, sizeof(ref), "%g", x);
        if (format_g(x) != ref) ++mismatches;
    }
    for (double x : {0.1, 1234567.0, 0.0001, 100000.0, 999999.5, 9.999995e-5, 1e-5, 1e100, -2.5e-300, 5e-324}) {
        char ref[64];
        std::snprintf(ref, sizeof(ref), "%g", x);
        if (format_g(x) != ref) ++mismatches;
    }
    CHECK(mismatches == 0);
    std::string appended = "x ";
    append_format_g(appended, 1234567.0);
    CHECK(appended == "x 1.23457e+06");

    CHECK(fixed_text(1.0, 10) == "1.0000000000");
    CHECK(fixed_text(-1e-12, 10) == "-0.0000000000");
    CHECK(fixed_text(2.5, 0) == "2");
    return check_report();
}
