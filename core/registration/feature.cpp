#include "core/registration/feature.h"

#include <cmath>
#include <vector>

#include "core/parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombrix {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

inline double dot(const Vec3& a, const Vec3& b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }

inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

inline double clamp_unit(double a) {
    if (a < -1.0) return -1.0;
    if (a > 1.0) return 1.0;
    return a;  // NaN stays NaN
}

// floor(x) clamped to [0, 10]; NaN gives 0.
inline int bin_of(double x) {
    double f = std::floor(x);
    if (!(f >= 0.0)) return 0;  // also NaN
    if (f > 10.0) return 10;
    return static_cast<int>(f);
}

constexpr std::array<int, 3> kCentreBins = {5, 16, 27};

// value[b] = row[b] / q and h[b] += value[b] for the 33 bins. Element-wise
// IEEE operations, so the packed form gives the same bits as the scalar one.
inline void weigh_row(const double* row, double q, double* value, double* h) {
#if defined(__SSE2__)
    const __m128d qv = _mm_set1_pd(q);
    for (int b = 0; b + 1 < kFpfhDim; b += 2) {
        const __m128d v = _mm_div_pd(_mm_loadu_pd(row + b), qv);
        _mm_storeu_pd(value + b, v);
        _mm_storeu_pd(h + b, _mm_add_pd(_mm_loadu_pd(h + b), v));
    }
    value[kFpfhDim - 1] = row[kFpfhDim - 1] / q;
    h[kFpfhDim - 1] += value[kFpfhDim - 1];
#else
    for (int b = 0; b < kFpfhDim; ++b) {
        value[b] = row[b] / q;
        h[b] += value[b];
    }
#endif
}

// Neighbour lists of every point, kept between the passes. 32-bit indices
// suffice: the k-d tree refuses clouds whose indices do not fit them.
struct Neighbours {
    std::vector<uint32_t> index;
    std::vector<double> dist2;
};

}  // namespace

std::array<int, 3> fpfh_pair_bins(const Vec3& p1, const Vec3& n1, const Vec3& p2, const Vec3& n2) {
    const Vec3 dp = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
    const double s = (dp[0] * dp[0] + dp[1] * dp[1]) + dp[2] * dp[2];
    if (s == 0.0) return kCentreBins;
    const double d = std::sqrt(s);
    const double a1 = clamp_unit(dot(n1, dp) / d);
    const double a2 = clamp_unit(dot(n2, dp) / d);

    // The point whose normal is closer to the connecting line acts as source.
    const Vec3* m1 = &n1;
    const Vec3* m2 = &n2;
    Vec3 e = dp;
    double f3 = a1;
    if (std::fabs(a2) > std::fabs(a1)) {
        m1 = &n2;
        m2 = &n1;
        e = {-dp[0], -dp[1], -dp[2]};
        f3 = -a2;
    }
    Vec3 v = cross(e, *m1);
    const double t = (v[0] * v[0] + v[1] * v[1]) + v[2] * v[2];
    if (t == 0.0) return kCentreBins;
    const double vn = std::sqrt(t);
    v = {v[0] / vn, v[1] / vn, v[2] / vn};
    const Vec3 w = cross(*m1, v);
    const double f2 = dot(v, *m2);
    const double f1 = std::atan2(dot(w, *m2), dot(n1, n2));

    return {bin_of(((f1 + kPi) * 11.0) / kTwoPi), 11 + bin_of(((f2 + 1.0) * 11.0) * 0.5),
            22 + bin_of(((f3 + 1.0) * 11.0) * 0.5)};
}

Result<Feature> compute_fpfh_feature(const PointCloud& cloud, const KdTreeSearchParam& param) {
    const size_t n = cloud.points.size();
    if (n == 0 || cloud.normals.size() != n) return fail("Failed because input point cloud has no normal.");
    const std::vector<Vec3>& pts = cloud.points;
    const std::vector<Vec3>& nrm = cloud.normals;

    KdTreeFlann tree;
    tree.set_points(pts);

    // Pass 1: neighbour lists.
    std::vector<Neighbours> nb(n);
    parallel_for(
        n,
        [&](size_t i) {
            thread_local std::vector<size_t> idx;
            thread_local std::vector<double> d2;
            idx.clear();
            d2.clear();
            int k = tree.search(pts[i], param, idx, d2);
            Neighbours& out = nb[i];
            if (k <= 0) return;
            out.index.assign(idx.begin(), idx.begin() + k);
            out.dist2.assign(d2.begin(), d2.begin() + k);
        },
        16);

    // Pass 2: SPFH of every point.
    std::vector<double> spfh(n * kFpfhDim, 0.0);
    parallel_for(
        n,
        [&](size_t i) {
            const std::vector<uint32_t>& idx = nb[i].index;
            const size_t m = idx.size();
            if (m <= 1) return;
            const double inc = 100.0 / static_cast<double>(m - 1);
            double* h = &spfh[i * kFpfhDim];
            for (size_t k = 1; k < m; ++k) {
                const uint32_t j = idx[k];
                auto b = fpfh_pair_bins(pts[i], nrm[i], pts[j], nrm[j]);
                h[b[0]] += inc;
                h[b[1]] += inc;
                h[b[2]] += inc;
            }
        },
        16);

    // Pass 3: FPFH from the SPFH table.
    Feature out;
    out.resize(kFpfhDim, n);
    parallel_for(
        n,
        [&](size_t i) {
            const std::vector<uint32_t>& idx = nb[i].index;
            const std::vector<double>& dist2 = nb[i].dist2;
            const size_t m = idx.size();
            if (m <= 1) return;
            // Each of h[b] and the three sub-histogram sums accumulates its
            // terms in neighbour order, then bin order; the loops are split
            // only so the element-wise parts vectorise.
            double sum[3] = {0.0, 0.0, 0.0};
            double h[kFpfhDim] = {};
            double value[kFpfhDim];
            for (size_t k = 1; k < m; ++k) {
                const double q = dist2[k];
                if (q == 0.0) continue;
                const double* sj = &spfh[size_t{idx[k]} * kFpfhDim];
                weigh_row(sj, q, value, h);
                double s0 = sum[0], s1 = sum[1], s2 = sum[2];
                for (int b = 0; b < 11; ++b) {
                    s0 += value[b];
                    s1 += value[11 + b];
                    s2 += value[22 + b];
                }
                sum[0] = s0;
                sum[1] = s1;
                sum[2] = s2;
            }
            for (double& s : sum)
                if (s != 0.0) s = 100.0 / s;
            const double* si = &spfh[i * kFpfhDim];
            double* f = &out.data[i * kFpfhDim];
            for (int b = 0; b < kFpfhDim; ++b) f[b] = h[b] * sum[b / 11] + si[b];
        },
        16);
    return out;
}

}  // namespace ombrix
