// Shared transform rules: projective points, normal transform, stable normalisation.
#include <cmath>
#include <limits>
#include <vector>

#include "check.h"
#include "core/geometry/geometry3d.h"

using namespace ombrix;

static bool same(const Vec3& a, const Vec3& b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

int main() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Stable normalisation: scale-free, zero stays zero, NaN falls back.
    Vec3 n = stable_normalize({3e-200, 4e-200, 0}, kUnitZFallback);
    CHECK(n[0] == 0.6 && std::fabs(n[1] - 0.8) < 1e-16 && n[2] == 0);
    n = stable_normalize({3e200, 4e200, 0}, kUnitZFallback);
    CHECK(std::fabs(n[0] - 0.6) < 1e-15 && std::fabs(n[1] - 0.8) < 1e-15);
    CHECK(same(stable_normalize({0, 0, 0}, kUnitZFallback), {0, 0, 0}));
    CHECK(same(stable_normalize({nan, 1, 0}, kUnitZFallback), kUnitZFallback));
    CHECK(same(stable_normalize({nan, nan, nan}, kZeroFallback), kZeroFallback));
    CHECK(same(stable_normalize({0, 0, -2}, kUnitZFallback), {0, 0, -1}));
    // inf/inf is NaN, so s is NaN and the vector is left as it is.
    CHECK(same(stable_normalize({INFINITY, 0, 0}, kZeroFallback), {INFINITY, 0, 0}));

    // Projective transform: a zero last row sends every point to NaN.
    std::vector<Vec3> pts{{1, 2, 3}, {0, 0, 0}};
    Mat4 t = mat4_identity();
    t[15] = 0;
    transform_points(pts, t);
    for (const Vec3& p : pts) CHECK(std::isnan(p[0]) && std::isnan(p[1]) && std::isnan(p[2]));
    // w scaling divides.
    pts = {{2, 4, 6}};
    t = mat4_identity();
    t[15] = 2;
    transform_points(pts, t);
    CHECK(same(pts[0], {1, 2, 3}));

    // Singular upper-left block: normals are only renormalised.
    std::vector<Vec3> normals{{0, 0, 5}, {nan, 0, 0}};
    t = mat4_identity();
    t[0] = 0;
    transform_normals(normals, t);
    CHECK(same(normals[0], {0, 0, 1}));
    CHECK(same(normals[1], {0, 0, 0}));
    // Non-uniform scale: normals use the inverse transpose.
    normals = {{1, 1, 0}};
    t = mat4_identity();
    t[0] = 2;
    transform_normals(normals, t);
    CHECK(std::fabs(normals[0][0] - 1 / std::sqrt(5.0)) < 1e-15 && std::fabs(normals[0][1] - 2 / std::sqrt(5.0)) < 1e-15);

    // Translate with relative=false moves the centroid to the target.
    pts = {{0, 0, 0}, {2, 4, 6}};
    translate_points(pts, {10, 10, 10}, false);
    CHECK(same(mean_of(pts), {10, 10, 10}));
    // Bounds ignore NaN components; empty sets are NaN.
    Vec3 lo = min_bound_of({{nan, 1, 2}, {3, nan, -1}});
    CHECK(same(lo, {3, 1, -1}));
    CHECK(std::isnan(min_bound_of({})[0]) && std::isnan(max_bound_of({})[2]));
    CHECK(same(mean_of({}), {0, 0, 0}));
    return check_report();
}
