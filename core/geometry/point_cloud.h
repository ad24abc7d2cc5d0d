// PointCloud record: three parallel arrays of 3-D vectors. Normals and colours
// count only when their length equals the number of points.
#pragma once
#include <vector>

#include "core/linalg.h"

namespace ombrix {

struct PointCloud {
    std::vector<Vec3> points;
    std::vector<Vec3> normals;
    std::vector<Vec3> colors;

    bool has_points() const { return !points.empty(); }
    bool has_normals() const { return !points.empty() && normals.size() == points.size(); }
    bool has_colors() const { return !points.empty() && colors.size() == points.size(); }
};

}  // namespace ombrix
