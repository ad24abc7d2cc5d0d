#include "core/registration/estimation.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/parallel.h"

namespace ombrix {
namespace {

bool usable_normals(std::span<const Vec3> points, std::span<const Vec3> normals) {
    return !points.empty() && normals.size() == points.size();
}

double det3(const Mat3& m) {
    return (m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6])) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

// Hamilton product a ⊗ b of quaternions written (w, x, y, z).
Vec4 quat_mul(const Vec4& a, const Vec4& b) {
    return {
        a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
        a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
        a[0] * b[2] + a[2] * b[0] + a[3] * b[1] - a[1] * b[3],
        a[0] * b[3] + a[3] * b[0] + a[1] * b[2] - a[2] * b[1],
    };
}

// Point-to-plane rows below this many pairs are built on the calling thread;
// the result is the same either way.
constexpr size_t kRowGrain = 2048;

struct PlaneRow {
    double j[6];
    double r;
};

}  // namespace

Status validate_correspondences(size_t source_count, size_t target_count, const CorrespondenceSet& corres) {
    for (size_t k = 0; k < corres.size(); ++k) {
        int32_t s = corres[k][0], t = corres[k][1];
        std::string pos = "correspondence " + std::to_string(k);
        if (s < 0) return fail(pos + " has negative source index " + std::to_string(s));
        if (t < 0) return fail(pos + " has negative target index " + std::to_string(t));
        if (static_cast<uint64_t>(s) >= source_count)
            return fail(pos + " source index " + std::to_string(s) + " is out of bounds for " +
                        std::to_string(source_count) + " points");
        if (static_cast<uint64_t>(t) >= target_count)
            return fail(pos + " target index " + std::to_string(t) + " is out of bounds for " +
                        std::to_string(target_count) + " points");
    }
    return {};
}

Mat4 finish_umeyama(const Mat3& sigma, const Vec3& ms, const Vec3& mt, bool with_scaling, double variance_source) {
    Svd3 svd;
    if (!jacobi_svd3(sigma, &svd)) return mat4_identity();
    const Mat3& u = svd.u;
    const Mat3& v = svd.v;
    const Vec3& s = svd.sigma;

    double d = det3(mul3(u, transpose3(v))) < 0.0 ? -1.0 : 1.0;

    // R = U·diag(1, 1, d)·Vᵀ; row 2 sums in the opposite order.
    Mat3 r;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            r[i * 3 + j] = (u[i * 3 + 0] * v[j * 3 + 0] + u[i * 3 + 1] * v[j * 3 + 1]) + (u[i * 3 + 2] * d) * v[j * 3 + 2];
    for (int j = 0; j < 3; ++j)
        r[6 + j] = ((u[8] * d) * v[j * 3 + 2] + u[7] * v[j * 3 + 1]) + u[6] * v[j * 3 + 0];

    double c = 1.0;
    if (with_scaling) c = ((s[0] + s[1]) + d * s[2]) / variance_source;
    if (!(variance_source > 0.0)) c = 1.0;

    Mat4 t = mat4_identity();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) t[i * 4 + j] = r[i * 3 + j] * c;
    for (int i = 0; i < 2; ++i)
        t[i * 4 + 3] = mt[i] - ((t[i * 4 + 0] * ms[0] + t[i * 4 + 1] * ms[1]) + t[i * 4 + 2] * ms[2]);
    t[11] = mt[2] - ((t[10] * ms[2] + t[9] * ms[1]) + t[8] * ms[0]);
    return t;
}

Mat4 solve_jacobian_system(const Mat6& jtj, const Vec6& jtr) {
    Vec6 b;
    for (int i = 0; i < 6; ++i) b[i] = -jtr[i];
    Vec6 x = ldlt6_solve(ldlt6_factor(jtj), b);

    auto half_angle = [](double angle, int axis) {
        double h = angle * 0.5;
        Vec4 q = {std::cos(h), 0.0, 0.0, 0.0};
        q[1 + axis] = std::sin(h);
        return q;
    };
    Vec4 q = quat_mul(quat_mul(half_angle(x[2], 2), half_angle(x[1], 1)), half_angle(x[0], 0));
    double w = q[0], qx = q[1], qy = q[2], qz = q[3];
    double X = 2.0 * qx, Y = 2.0 * qy, Z = 2.0 * qz;
    Mat4 t = mat4_identity();
    t[0] = 1.0 - (Y * qy + Z * qz);
    t[1] = X * qy - Z * w;
    t[2] = X * qz + Y * w;
    t[4] = X * qy + Z * w;
    t[5] = 1.0 - (X * qx + Z * qz);
    t[6] = Y * qz - X * w;
    t[8] = X * qz - Y * w;
    t[9] = Y * qz + X * w;
    t[10] = 1.0 - (X * qx + Y * qy);
    t[3] = x[3];
    t[7] = x[4];
    t[11] = x[5];
    return t;
}

Mat4 compute_transformation_point_to_point_unchecked(std::span<const Vec3> source, std::span<const Vec3> target,
                                                     const CorrespondenceSet& corres, bool with_scaling) {
    const size_t n = corres.size();
    if (n == 0) return mat4_identity();
    double inv = 1.0 / static_cast<double>(n);

    Vec3 ss = {0.0, 0.0, 0.0}, st = {0.0, 0.0, 0.0};
    for (const Vec2i& c : corres) {
        const Vec3& p = source[c[0]];
        const Vec3& q = target[c[1]];
        for (int k = 0; k < 3; ++k) {
            ss[k] += p[k];
            st[k] += q[k];
        }
    }
    Vec3 ms, mt;
    for (int k = 0; k < 3; ++k) {
        ms[k] = ss[k] * inv;
        mt[k] = st[k] * inv;
    }

    Mat3 sigma = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    double var = 0.0;
    for (const Vec2i& c : corres) {
        const Vec3& p = source[c[0]];
        const Vec3& q = target[c[1]];
        Vec3 ds = {p[0] - ms[0], p[1] - ms[1], p[2] - ms[2]};
        Vec3 dt = {q[0] - mt[0], q[1] - mt[1], q[2] - mt[2]};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) sigma[i * 3 + j] += dt[i] * ds[j];
        var += (ds[0] * ds[0] + ds[1] * ds[1]) + ds[2] * ds[2];
    }
    for (double& e : sigma) e = e * inv;
    return finish_umeyama(sigma, ms, mt, with_scaling, var * inv);
}

Mat4 compute_transformation_point_to_plane_unchecked(std::span<const Vec3> source, std::span<const Vec3> target,
                                                     std::span<const Vec3> target_normals,
                                                     const CorrespondenceSet& corres) {
    if (corres.empty() || !usable_normals(target, target_normals)) return mat4_identity();

    std::vector<PlaneRow> rows(corres.size());
    parallel_for(
        corres.size(),
        [&](size_t i) {
            const Vec3& s = source[corres[i][0]];
            const Vec3& q = target[corres[i][1]];
            const Vec3& n = target_normals[corres[i][1]];
            PlaneRow& row = rows[i];
            row.j[0] = s[1] * n[2] - s[2] * n[1];
            row.j[1] = s[2] * n[0] - s[0] * n[2];
            row.j[2] = s[0] * n[1] - s[1] * n[0];
            row.j[3] = n[0];
            row.j[4] = n[1];
            row.j[5] = n[2];
            row.r = ((s[0] - q[0]) * n[0] + (s[1] - q[1]) * n[1]) + (s[2] - q[2]) * n[2];
        },
        kRowGrain);

    // Only the lower triangle is read by the solver; J_a·J_b = J_b·J_a exactly.
    Mat6 jtj{};
    Vec6 jtr{};
    for (const PlaneRow& row : rows) {
        for (int a = 0; a < 6; ++a) {
            for (int b = 0; b <= a; ++b) jtj[a * 6 + b] += row.j[a] * row.j[b];
            jtr[a] += row.j[a] * row.r;
        }
    }
    for (int a = 0; a < 6; ++a)
        for (int b = a + 1; b < 6; ++b) jtj[a * 6 + b] = jtj[b * 6 + a];
    return solve_jacobian_system(jtj, jtr);
}

Mat4 compute_transformation_unchecked(TransformationEstimationKind kind, const PointCloud& source,
                                      const PointCloud& target, const CorrespondenceSet& corres) {
    switch (kind) {
        case TransformationEstimationKind::PointToPlane:
            return compute_transformation_point_to_plane_unchecked(source.points, target.points, target.normals,
                                                                   corres);
        case TransformationEstimationKind::PointToPointWithScaling:
            return compute_transformation_point_to_point_unchecked(source.points, target.points, corres, true);
        case TransformationEstimationKind::PointToPoint:
        default:
            return compute_transformation_point_to_point_unchecked(source.points, target.points, corres, false);
    }
}

double compute_rmse_unchecked(TransformationEstimationKind kind, std::span<const Vec3> source,
                              std::span<const Vec3> target, std::span<const Vec3> target_normals,
                              const CorrespondenceSet& corres) {
    if (corres.empty()) return 0.0;
    double sum = 0.0;
    if (kind == TransformationEstimationKind::PointToPlane) {
        if (!usable_normals(target, target_normals)) return 0.0;
        for (const Vec2i& c : corres) {
            const Vec3& s = source[c[0]];
            const Vec3& q = target[c[1]];
            const Vec3& n = target_normals[c[1]];
            double r = ((s[0] - q[0]) * n[0] + (s[1] - q[1]) * n[1]) + (s[2] - q[2]) * n[2];
            sum += r * r;
        }
    } else {
        for (const Vec2i& c : corres) {
            const Vec3& s = source[c[0]];
            const Vec3& q = target[c[1]];
            double dx = s[0] - q[0], dy = s[1] - q[1], dz = s[2] - q[2];
            sum += (dx * dx + dy * dy) + dz * dz;
        }
    }
    return std::sqrt(sum / static_cast<double>(corres.size()));
}

double compute_rmse_unchecked(TransformationEstimationKind kind, const PointCloud& source, const PointCloud& target,
                              const CorrespondenceSet& corres) {
    return compute_rmse_unchecked(kind, source.points, target.points, target.normals, corres);
}

Result<Mat4> compute_transformation(TransformationEstimationKind kind, const PointCloud& source,
                                    const PointCloud& target, const CorrespondenceSet& corres) {
    Status st = validate_correspondences(source.points.size(), target.points.size(), corres);
    if (!st) return fail(st.error());
    return compute_transformation_unchecked(kind, source, target, corres);
}

Result<double> compute_rmse(TransformationEstimationKind kind, const PointCloud& source, const PointCloud& target,
                            const CorrespondenceSet& corres) {
    Status st = validate_correspondences(source.points.size(), target.points.size(), corres);
    if (!st) return fail(st.error());
    return compute_rmse_unchecked(kind, source, target, corres);
}

}  // namespace ombrix
