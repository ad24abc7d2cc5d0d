// Voxel index conversion: saturating floor to int32, checked against the
// libm floor with the saturation written out, over edge values and random
// doubles of every magnitude.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "check.h"
#include "core/geometry/voxel_down_sample.h"

using namespace ombrix;

static int32_t reference(double q) {
    double f = std::floor(q);
    if (std::isnan(f)) return 0;
    if (f < -2147483648.0) return INT32_MIN;
    if (f > 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(f);
}

int main() {
    const double inf = std::numeric_limits<double>::infinity();
    const double edges[] = {0.0, -0.0, 1e-300, -1e-300, 0.5, -0.5, 1.0, -1.0, 2.999999999, -2.000000001,
                            2147483647.0, 2147483647.5, 2147483647.9999998, 2147483648.0, 2147483648.5,
                            -2147483648.0, -2147483647.5, -2147483648.0000005, -2147483649.0, 4503599627370495.5,
                            -4503599627370495.5, 9007199254740993.0, 1e300, -1e300, inf, -inf,
                            std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (double q : edges) CHECK(floor_to_index(q) == reference(q));
    CHECK(floor_to_index(-0.5) == -1 && floor_to_index(2147483647.5) == INT32_MAX);
    CHECK(floor_to_index(-2147483647.5) == INT32_MIN && floor_to_index(-inf) == INT32_MIN);

    std::mt19937_64 rng(3);
    bool same = true;
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng();
        double q;
        std::memcpy(&q, &bits, sizeof q);  // every exponent, NaNs included
        double near = std::ldexp(static_cast<double>(static_cast<int64_t>(rng())) / 9.2e18, static_cast<int>(rng() % 40));
        if (floor_to_index(q) != reference(q) || floor_to_index(near) != reference(near)) same = false;
    }
    CHECK(same);
    return check_report();
}
