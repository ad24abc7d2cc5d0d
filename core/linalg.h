// Small fixed-size vectors and matrices stored as plain arrays. Matrices are
// row-major. Products that the library applies to data are written out with
// their fixed evaluation order (see apply3); nothing here vectorises or
// reassociates, and the build disables FMA contraction.
#pragma once
#include <array>
#include <cstdint>

namespace ombrix {

using Vec2 = std::array<double, 2>;
using Vec3 = std::array<double, 3>;
using Vec4 = std::array<double, 4>;
using Vec2i = std::array<int32_t, 2>;
using Vec3i = std::array<int32_t, 3>;
using Vec4i = std::array<int32_t, 4>;
using Mat3 = std::array<double, 9>;   // row-major: m[r * 3 + c]
using Mat4 = std::array<double, 16>;  // row-major: m[r * 4 + c]

static_assert(sizeof(Vec3) == 24 && sizeof(Vec3i) == 12 && sizeof(Mat4) == 128);

inline constexpr Mat3 mat3_identity() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }
inline constexpr Mat4 mat4_identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

// M·d in the library's fixed order: rows 0 and 1 sum left to right, row 2
// groups its last two products first.
inline Vec3 apply3(const Mat3& m, const Vec3& d) {
    Vec3 e;
    e[0] = (m[0] * d[0] + m[1] * d[1]) + m[2] * d[2];
    e[1] = (m[3] * d[0] + m[4] * d[1]) + m[5] * d[2];
    e[2] = m[6] * d[0] + (m[7] * d[1] + m[8] * d[2]);
    return e;
}

// Ordinary 3x3 product a·b, each entry summed left to right.
inline Mat3 mul3(const Mat3& a, const Mat3& b) {
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i * 3 + j] = (a[i * 3 + 0] * b[0 * 3 + j] + a[i * 3 + 1] * b[1 * 3 + j]) + a[i * 3 + 2] * b[2 * 3 + j];
    return r;
}

inline Mat3 transpose3(const Mat3& a) { return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]}; }

}  // namespace ombrix
