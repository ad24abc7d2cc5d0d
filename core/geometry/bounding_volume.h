// Axis-aligned bounding box: two corners and a display colour. No ordering of
// the corners is enforced (setters store what they are given); the members
// below define what an inverted box yields.
#pragma once
#include <string>
#include <vector>

#include "core/linalg.h"

namespace ombrix {

// min/max that return the other operand when exactly one is NaN.
inline double nan_min(double a, double b);
inline double nan_max(double a, double b);

struct AxisAlignedBoundingBox {
    Vec3 min_bound{0.0, 0.0, 0.0};
    Vec3 max_bound{0.0, 0.0, 0.0};
    Vec3 color{1.0, 1.0, 1.0};

    // Two-bound construction: reordered (NaN-ignoring, all three axes) when a
    // exceeds b on any axis, otherwise stored as given; colour white.
    static AxisAlignedBoundingBox from_bounds(const Vec3& a, const Vec3& b);
    // NaN-ignoring fold over the points; (0,0,0)-(0,0,0) for none.
    static AxisAlignedBoundingBox from_points(const Vec3* pts, size_t n);

    void clear() { *this = AxisAlignedBoundingBox(); }
    // Inverted on some axis, or volume product <= 1e-12 (a NaN product is not empty).
    bool is_empty() const;
    Vec3 center() const;
    Vec3 extent() const;
    Vec3 half_extent() const;
    double max_extent() const;
    double volume() const;
    std::vector<Vec3> box_points() const;
    // Indices of the points inside the box grown by 1e-9 on every side.
    std::vector<size_t> indices_within(const Vec3* pts, size_t n) const;
    void translate(const Vec3& t, bool relative);
    void scale(double s, const Vec3& center);
    // self += other.
    void merge(const AxisAlignedBoundingBox& other);

    std::string repr() const;
    std::string print_info() const;
};

inline double nan_min(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    return b < a ? b : a;
}
inline double nan_max(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    return b > a ? b : a;
}

}  // namespace ombrix
