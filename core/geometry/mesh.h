// TriangleMesh record.
#pragma once
#include <vector>

#include "core/linalg.h"

namespace ombrix {

struct TriangleMesh {
    std::vector<Vec3> vertices;
    std::vector<Vec3> vertex_normals;
    std::vector<Vec3> vertex_colors;
    std::vector<Vec3i> triangles;
    std::vector<Vec3> triangle_normals;
};

}  // namespace ombrix
