#include "core/geometry/mesh.h"

#include "core/geometry/geometry3d.h"

namespace ombrix {

namespace {

bool valid_triangle(const Vec3i& t, size_t nv) {
    for (int k = 0; k < 3; ++k)
        if (t[k] < 0 || static_cast<size_t>(t[k]) >= nv) return false;
    return true;
}

void fill_triangle_normals(TriangleMesh& mesh) {
    const size_t nv = mesh.vertices.size();
    mesh.triangle_normals.resize(mesh.triangles.size());
    for (size_t i = 0; i < mesh.triangles.size(); ++i) {
        const Vec3i& t = mesh.triangles[i];
        if (!valid_triangle(t, nv)) {
            mesh.triangle_normals[i] = {0.0, 0.0, 0.0};
            continue;
        }
        const Vec3& v0 = mesh.vertices[t[0]];
        const Vec3& v1 = mesh.vertices[t[1]];
        const Vec3& v2 = mesh.vertices[t[2]];
        Vec3 a{v1[0] - v0[0], v1[1] - v0[1], v1[2] - v0[2]};
        Vec3 b{v2[0] - v0[0], v2[1] - v0[1], v2[2] - v0[2]};
        mesh.triangle_normals[i] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    }
}

}  // namespace

void clear(TriangleMesh& mesh) {
    mesh.vertices.clear();
    mesh.vertex_normals.clear();
    mesh.vertex_colors.clear();
    mesh.triangles.clear();
    mesh.triangle_normals.clear();
}

void normalize_normals(TriangleMesh& mesh) {
    for (Vec3& n : mesh.vertex_normals) n = stable_normalize(n, kUnitZFallback);
    for (Vec3& n : mesh.triangle_normals) n = stable_normalize(n, kUnitZFallback);
}

void paint_uniform_color(TriangleMesh& mesh, const Vec3& color) {
    mesh.vertex_colors.assign(mesh.vertices.size(), color);
}

void compute_triangle_normals(TriangleMesh& mesh, bool normalized) {
    if (mesh.vertices.empty() || mesh.triangles.empty()) return;
    fill_triangle_normals(mesh);
    if (normalized) normalize_normals(mesh);
}

void compute_vertex_normals(TriangleMesh& mesh, bool normalized) {
    if (mesh.vertices.empty() || mesh.triangles.empty()) return;
    if (mesh.triangle_normals.size() != mesh.triangles.size()) fill_triangle_normals(mesh);
    const size_t nv = mesh.vertices.size();
    mesh.vertex_normals.assign(nv, Vec3{0.0, 0.0, 0.0});
    for (size_t i = 0; i < mesh.triangles.size(); ++i) {
        const Vec3i& t = mesh.triangles[i];
        if (!valid_triangle(t, nv)) continue;
        const Vec3& n = mesh.triangle_normals[i];
        for (int k = 0; k < 3; ++k) {
            Vec3& v = mesh.vertex_normals[t[k]];
            v[0] += n[0];
            v[1] += n[1];
            v[2] += n[2];
        }
    }
    if (normalized) normalize_normals(mesh);
}

void translate(TriangleMesh& mesh, const Vec3& translation, bool relative) {
    translate_points(mesh.vertices, translation, relative);
}

void scale(TriangleMesh& mesh, double s, const Vec3& center) { scale_points(mesh.vertices, s, center); }

void rotate(TriangleMesh& mesh, const Mat3& r, const Vec3& center) {
    if (!mesh.vertices.empty()) {
        rotate_points(mesh.vertices, r, center);
        if (mesh.vertex_normals.size() == mesh.vertices.size()) rotate_vectors(mesh.vertex_normals, r);
    }
    if (mesh.has_triangle_normals()) rotate_vectors(mesh.triangle_normals, r);
}

void transform(TriangleMesh& mesh, const Mat4& t) {
    if (!mesh.vertices.empty()) {
        transform_points(mesh.vertices, t);
        if (mesh.vertex_normals.size() == mesh.vertices.size()) transform_normals(mesh.vertex_normals, t);
    }
    if (mesh.has_triangle_normals()) transform_normals(mesh.triangle_normals, t);
}

}  // namespace ombrix
