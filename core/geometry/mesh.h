// TriangleMesh record and its normal computations and transforms.
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

    bool has_vertices() const { return !vertices.empty(); }
    bool has_triangles() const { return !triangles.empty(); }
    bool has_vertex_normals() const { return !vertices.empty() && vertex_normals.size() == vertices.size(); }
    bool has_vertex_colors() const { return !vertices.empty() && vertex_colors.size() == vertices.size(); }
    bool has_triangle_normals() const { return !triangles.empty() && triangle_normals.size() == triangles.size(); }
};

// Empties all five arrays (buffers are kept).
void clear(TriangleMesh& mesh);

// Stable normalisation with the unit-z fallback of every vertex normal, then
// every triangle normal.
void normalize_normals(TriangleMesh& mesh);

// Exactly vertex-count copies of `color` (not clamped).
void paint_uniform_color(TriangleMesh& mesh, const Vec3& color);

// One area vector per triangle ((v1 - v0) x (v2 - v0)); (0, 0, 0) for a
// triangle with an index out of range. Without vertices or triangles nothing
// changes.
void compute_triangle_normals(TriangleMesh& mesh, bool normalized);

// Sum of the adjacent triangle normals per vertex (area-weighted unless the
// caller supplied other triangle normals).
void compute_vertex_normals(TriangleMesh& mesh, bool normalized);

// The shared transform rules applied to a mesh: vertices move; vertex normals
// turn when there is one per vertex, triangle normals when there is one per
// triangle.
void translate(TriangleMesh& mesh, const Vec3& translation, bool relative);
void scale(TriangleMesh& mesh, double scale, const Vec3& center);
void rotate(TriangleMesh& mesh, const Mat3& r, const Vec3& center);
void transform(TriangleMesh& mesh, const Mat4& t);

}  // namespace ombrix
