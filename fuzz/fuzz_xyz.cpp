// libFuzzer target: XYZ token conversion and line reading, and a write/read
// round trip (finite values within the ten-decimal rounding, NaN and
// infinities with their signs).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/io/numparse.h"
#include "core/io/xyz.h"

using namespace ombrix;
using namespace ombrix::io;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    double v;
    (void)convert_xyz_token(text, &v);
    if (longest_number_prefix(text) > size) std::abort();
    PointCloud c;
    read_from_lines(text, c);
    PointCloud back;
    read_from_lines(write_to_string(c.points), back);
    if (back.points.size() != c.points.size()) std::abort();
    for (size_t i = 0; i < c.points.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            double a = c.points[i][k], b = back.points[i][k];
            if (std::isnan(a)) {
                if (!std::isnan(b) || std::signbit(a) != std::signbit(b)) std::abort();
            } else if (std::isinf(a)) {
                if (a != b) std::abort();
            } else if (!(std::fabs(a - b) <= 5.0000001e-11 + std::fabs(a) * 4.5e-16)) {
                std::abort();
            }
        }
    }
    return 0;
}
