// XYZ text: one point per line, three numbers separated by white space.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/geometry/point_cloud.h"

namespace ombrix::io {

// Converts one token: standard number text, else the lenient fallbacks
// ("nan..." / "-nan..." / "inf..." spellings, then the longest numeric prefix).
bool convert_xyz_token(std::string_view token, double* out);

// Empties the cloud, then appends one point per line whose first three tokens
// convert; other lines are skipped.
void read_from_lines(std::string_view text, PointCloud& cloud);

// "x y z\n" per point, ten decimals (or nan, -nan, inf, -inf).
std::string write_to_string(const std::vector<Vec3>& points);

// Appends the ten-decimal text of one coordinate.
void append_fixed10(std::string& out, double x);

}  // namespace ombrix::io
