#include "core/registration/checker.h"

#include <cmath>

namespace ombrix {
namespace {

Mat3 upper_left(const Mat4& t) { return {t[0], t[1], t[2], t[4], t[5], t[6], t[8], t[9], t[10]}; }

double squared_distance(const Vec3& a, const Vec3& b) {
    double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return (dx * dx + dy * dy) + dz * dz;
}

bool check_distance(double threshold, const PointCloud& source, const PointCloud& target,
                    const CorrespondenceSet& corres, const Mat4& t) {
    const double limit = threshold * threshold;
    const Mat3 a = upper_left(t);
    for (const Vec2i& c : corres) {
        Vec3 p = apply3(a, source.points[c[0]]);
        Vec3 aligned = {p[0] + t[3], p[1] + t[7], p[2] + t[11]};
        const Vec3& q = target.points[c[1]];
        Vec3 e = {q[0] - aligned[0], q[1] - aligned[1], q[2] - aligned[2]};
        double d2 = (e[0] * e[0] + e[1] * e[1]) + e[2] * e[2];
        if (d2 > limit) return false;  // NaN does not fail
    }
    return true;
}

bool check_edge_length(double threshold, const PointCloud& source, const PointCloud& target,
                       const CorrespondenceSet& corres) {
    const double s = threshold * threshold;
    for (size_t i = 0; i < corres.size(); ++i) {
        for (size_t j = i + 1; j < corres.size(); ++j) {
            double a = squared_distance(source.points[corres[i][0]], source.points[corres[j][0]]);
            double b = squared_distance(target.points[corres[i][1]], target.points[corres[j][1]]);
            if (s * a > b || b * s > a) return false;
        }
    }
    return true;
}

bool check_normal(double threshold, const PointCloud& source, const PointCloud& target,
                  const CorrespondenceSet& corres, const Mat4& t) {
    if (!source.has_normals() || !target.has_normals()) return true;
    const double c = std::cos(threshold);
    const Mat3 a = upper_left(t);
    for (const Vec2i& p : corres) {
        Vec3 n = apply3(a, source.normals[p[0]]);
        const Vec3& m = target.normals[p[1]];
        double dot = (n[0] * m[0] + n[1] * m[1]) + n[2] * m[2];
        if (c > dot) return false;  // NaN does not fail
    }
    return true;
}

}  // namespace

bool check_unchecked(const CorrespondenceChecker& checker, const PointCloud& source, const PointCloud& target,
                     const CorrespondenceSet& corres, const Mat4& transformation) {
    switch (checker.kind) {
        case CorrespondenceCheckerKind::Distance:
            return check_distance(checker.threshold, source, target, corres, transformation);
        case CorrespondenceCheckerKind::Normal:
            return check_normal(checker.threshold, source, target, corres, transformation);
        case CorrespondenceCheckerKind::EdgeLength:
        default:
            return check_edge_length(checker.threshold, source, target, corres);
    }
}

}  // namespace ombrix
