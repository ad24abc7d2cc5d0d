#include "core/geometry/bounding_volume.h"

#include <cmath>

#include "core/numtext.h"

namespace ombrix {

namespace {

bool inverted(const Vec3& a, const Vec3& b) { return a[0] > b[0] || a[1] > b[1] || a[2] > b[2]; }

// Four decimals, correctly rounded, NaN spelled "NaN".
std::string fixed4(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    return fixed_text(x, 4);
}

template <class F>
std::string layout(const AxisAlignedBoundingBox& b, F num) {
    return "AxisAlignedBoundingBox: min: (" + num(b.min_bound[0]) + ", " + num(b.min_bound[1]) + ", " +
           num(b.min_bound[2]) + "), max: (" + num(b.max_bound[0]) + ", " + num(b.max_bound[1]) + ", " +
           num(b.max_bound[2]) + ")";
}

}  // namespace

AxisAlignedBoundingBox AxisAlignedBoundingBox::from_bounds(const Vec3& a, const Vec3& b) {
    AxisAlignedBoundingBox box;
    if (inverted(a, b)) {
        for (int k = 0; k < 3; ++k) {
            box.min_bound[k] = nan_min(a[k], b[k]);
            box.max_bound[k] = nan_max(a[k], b[k]);
        }
    } else {
        box.min_bound = a;
        box.max_bound = b;
    }
    return box;
}

AxisAlignedBoundingBox AxisAlignedBoundingBox::from_points(const Vec3* pts, size_t n) {
    if (n == 0) return from_bounds({0.0, 0.0, 0.0}, {0.0, 0.0, 0.0});
    Vec3 lo = pts[0], hi = pts[0];
    for (size_t i = 1; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            lo[k] = nan_min(lo[k], pts[i][k]);
            hi[k] = nan_max(hi[k], pts[i][k]);
        }
    return from_bounds(lo, hi);
}

bool AxisAlignedBoundingBox::is_empty() const {
    if (inverted(min_bound, max_bound)) return true;
    const Vec3 d = extent();
    return (d[0] * d[1]) * d[2] <= 1e-12;
}

Vec3 AxisAlignedBoundingBox::center() const {
    if (is_empty()) return {0.0, 0.0, 0.0};
    return {(min_bound[0] + max_bound[0]) * 0.5, (min_bound[1] + max_bound[1]) * 0.5,
            (min_bound[2] + max_bound[2]) * 0.5};
}

Vec3 AxisAlignedBoundingBox::extent() const {
    return {max_bound[0] - min_bound[0], max_bound[1] - min_bound[1], max_bound[2] - min_bound[2]};
}

Vec3 AxisAlignedBoundingBox::half_extent() const {
    const Vec3 d = extent();
    return {d[0] * 0.5, d[1] * 0.5, d[2] * 0.5};
}

double AxisAlignedBoundingBox::max_extent() const {
    const Vec3 d = extent();
    return nan_max(nan_max(d[0], d[1]), d[2]);
}

double AxisAlignedBoundingBox::volume() const {
    if (inverted(min_bound, max_bound)) return 0.0;
    const Vec3 d = extent();
    return (d[0] * d[1]) * d[2];
}

std::vector<Vec3> AxisAlignedBoundingBox::box_points() const {
    const Vec3 d = extent();
    const Vec3& m = min_bound;
    if (nan_min(nan_min(d[0], d[1]), d[2]) < 0.0) return std::vector<Vec3>(8, min_bound);
    return {
        m,
        {m[0] + d[0], m[1] + 0.0, m[2] + 0.0},
        {m[0] + 0.0, m[1] + d[1], m[2] + 0.0},
        {m[0] + 0.0, m[1] + 0.0, m[2] + d[2]},
        {m[0] + d[0], m[1] + d[1], m[2] + 0.0},
        {m[0] + 0.0, m[1] + d[1], m[2] + d[2]},
        {m[0] + d[0], m[1] + 0.0, m[2] + d[2]},
        max_bound,
    };
}

std::vector<size_t> AxisAlignedBoundingBox::indices_within(const Vec3* pts, size_t n) const {
    const Vec3 lo{min_bound[0] + -1e-9, min_bound[1] + -1e-9, min_bound[2] + -1e-9};
    const Vec3 hi{max_bound[0] + 1e-9, max_bound[1] + 1e-9, max_bound[2] + 1e-9};
    std::vector<size_t> out;
    for (size_t i = 0; i < n; ++i) {
        const Vec3& p = pts[i];
        if (p[0] >= lo[0] && p[1] >= lo[1] && p[2] >= lo[2] && hi[0] >= p[0] && hi[1] >= p[1] && hi[2] >= p[2])
            out.push_back(i);
    }
    return out;
}

void AxisAlignedBoundingBox::translate(const Vec3& t, bool relative) {
    Vec3 d = t;
    if (!relative) {
        const Vec3 c = center();
        d = {t[0] - c[0], t[1] - c[1], t[2] - c[2]};
    }
    for (int k = 0; k < 3; ++k) {
        min_bound[k] = min_bound[k] + d[k];
        max_bound[k] = max_bound[k] + d[k];
    }
}

void AxisAlignedBoundingBox::scale(double s, const Vec3& c) {
    Vec3 lo, hi;
    for (int k = 0; k < 3; ++k) {
        lo[k] = (min_bound[k] - c[k]) * s + c[k];
        hi[k] = (max_bound[k] - c[k]) * s + c[k];
    }
    if (s < 0.0) {
        min_bound = hi;
        max_bound = lo;
    } else {
        min_bound = lo;
        max_bound = hi;
    }
}

void AxisAlignedBoundingBox::merge(const AxisAlignedBoundingBox& other) {
    if (is_empty()) {
        *this = other;
    } else if (!other.is_empty()) {
        for (int k = 0; k < 3; ++k) {
            min_bound[k] = nan_min(min_bound[k], other.min_bound[k]);
            max_bound[k] = nan_max(max_bound[k], other.max_bound[k]);
        }
    }
}

std::string AxisAlignedBoundingBox::repr() const { return layout(*this, format_g); }

std::string AxisAlignedBoundingBox::print_info() const { return layout(*this, fixed4); }

}  // namespace ombrix
