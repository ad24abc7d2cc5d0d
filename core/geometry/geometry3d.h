// Rotation-matrix helpers and the transform rules shared by every 3-D geometry.
// Evaluation orders are fixed (see apply3 in linalg.h); results are bit-exact.
#pragma once
#include <vector>

#include "core/linalg.h"
#include "core/result.h"

namespace ombrix {

Mat3 rotation_x(double t);
Mat3 rotation_y(double t);
Mat3 rotation_z(double t);
// Euler helpers: (R_a(r0) · R_b(r1)) · R_c(r2) for the axis letters of `axes`, e.g. "xyz".
Mat3 rotation_from_euler(const char* axes, const Vec3& r);
// Rodrigues rotation of the axis scaled by the angle; identity for |r| <= 1e-12 or NaN.
Mat3 rotation_from_axis_angle(const Vec3& r);
// (w, x, y, z); fails with "quaternion must be finite and have non-zero norm".
Result<Mat3> rotation_from_quaternion(const Vec4& q);

// Mean of the points summed in index order; (0, 0, 0) for none.
Vec3 mean_of(const std::vector<Vec3>& pts);
// NaN-ignoring component-wise bounds; (NaN, NaN, NaN) for none.
Vec3 min_bound_of(const std::vector<Vec3>& pts);
Vec3 max_bound_of(const std::vector<Vec3>& pts);

void translate_points(std::vector<Vec3>& pts, const Vec3& t, bool relative);
void scale_points(std::vector<Vec3>& pts, double scale, const Vec3& center);
// p <- M·(p - c) + c.
void rotate_points(std::vector<Vec3>& pts, const Mat3& m, const Vec3& center);
// n <- M·n (no renormalisation).
void rotate_vectors(std::vector<Vec3>& vs, const Mat3& m);
// Projective point transform; points with |w| <= 1e-9 (or NaN) become NaN.
void transform_points(std::vector<Vec3>& pts, const Mat4& t);
// Inverse-transpose of the upper-left block (identity when singular), then
// stable normalisation with the zero fallback.
void transform_normals(std::vector<Vec3>& normals, const Mat4& t);

// Normalisation after division by the largest absolute component; F when
// the result is not a number (see the .cpp for the exact rule).
Vec3 stable_normalize(const Vec3& v, const Vec3& fallback);
inline constexpr Vec3 kZeroFallback{0.0, 0.0, 0.0};
inline constexpr Vec3 kUnitZFallback{0.0, 0.0, 1.0};

}  // namespace ombrix
