#include "core/registration/registration.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/parallel.h"

namespace ombrix {
namespace {

// Nearest target point of one moved source point; index < 0 means no match.
struct Match {
    int64_t index;
    double d2;
};

// Per-point searches are cheap; chunks of this size keep the pool overhead small.
constexpr size_t kMatchGrain = 256;

// Below this many points the target tree stays in cache whatever the query
// order, and sorting the queries is not worth its cost.
constexpr size_t kOrderThreshold = 16384;

// Spreads the low 21 bits of v so that bit k lands on bit 3k.
uint64_t spread_bits(uint64_t v) {
    v &= 0x1fffff;
    v = (v | (v << 32)) & 0x1f00000000ffffull;
    v = (v | (v << 16)) & 0x1f0000ff0000ffull;
    v = (v | (v << 8)) & 0x100f00f00f00f00full;
    v = (v | (v << 4)) & 0x10c30c30c30c30c3ull;
    v = (v | (v << 2)) & 0x1249249249249249ull;
    return v;
}

// The source points in the order the matching visits them: `points[k]` is
// source point `order[k]` (or point k when `order` is empty). Visiting in a
// spatial order and reading the points sequentially keeps both the tree and
// the source in cache; each result still lands in its own index's slot.
struct Visit {
    std::span<const uint32_t> order;
    std::span<const Vec3> points;
    std::vector<Vec3> gathered;  // storage behind `points` when reordered

    Visit(std::span<const Vec3> source, std::span<const uint32_t> ord) : order(ord), points(source) {
        if (order.empty()) return;
        gathered.resize(order.size());
        parallel_for(order.size(), [&](size_t k) { gathered[k] = source[order[k]]; }, 4096);
        points = gathered;
    }
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;
};

// Matches the source points moved by t. When `moved` is given it receives the
// moved points in index order (ICP estimates its next step from them).
RegistrationResult match(std::span<const Vec3> source, const Visit& visit, const KdTreeFlann& tree, const Mat4& t,
                         double max_distance, bool collect, std::vector<Vec3>* moved) {
    RegistrationResult result;
    result.transformation = t;
    const size_t n = source.size();
    if (moved) {
        moved->resize(n);
        parallel_for(n, [&](size_t i) { (*moved)[i] = transform_point(t, source[i]); }, 4096);
    }
    if (max_distance <= 0.0) return result;
    const double limit = max_distance * max_distance;
    std::vector<Match> matches(n);
    const bool reordered = !visit.order.empty();
    parallel_for(
        n,
        [&](size_t k) {
            thread_local std::vector<size_t> indices;
            thread_local std::vector<double> dists;
            Vec3 p = transform_point(t, visit.points[k]);
            Match m{-1, 0.0};
            if (tree.search_knn(p, 1, indices, dists) > 0 && dists[0] < limit) {
                m.index = static_cast<int64_t>(indices[0]);
                m.d2 = dists[0];
            }
            matches[reordered ? visit.order[k] : k] = m;
        },
        kMatchGrain);

    double sum = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        if (matches[i].index < 0) continue;
        sum += matches[i].d2;
        ++count;
        if (collect) result.correspondence_set.push_back({static_cast<int32_t>(i), static_cast<int32_t>(matches[i].index)});
    }
    if (count > 0) {
        result.fitness = static_cast<double>(count) / static_cast<double>(n);
        result.inlier_rmse = std::sqrt(sum / static_cast<double>(count));
    }
    return result;
}

bool all_finite(const Mat4& m) {
    for (double e : m)
        if (!std::isfinite(e)) return false;
    return true;
}

// U·T with every entry summed left to right.
Mat4 mul4(const Mat4& u, const Mat4& t) {
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r[i * 4 + j] = ((u[i * 4 + 0] * t[0 * 4 + j] + u[i * 4 + 1] * t[1 * 4 + j]) + u[i * 4 + 2] * t[2 * 4 + j]) +
                           u[i * 4 + 3] * t[3 * 4 + j];
    return r;
}

}  // namespace

RegistrationResult get_registration_result_and_correspondences(std::span<const Vec3> source,
                                                               const KdTreeFlann& target_tree,
                                                               const Mat4& transformation,
                                                               double max_correspondence_distance, bool collect) {
    Visit visit(source, {});
    return match(source, visit, target_tree, transformation, max_correspondence_distance, collect, nullptr);
}

RegistrationResult get_registration_result_and_correspondences(std::span<const Vec3> source,
                                                               const KdTreeFlann& target_tree,
                                                               const Mat4& transformation,
                                                               double max_correspondence_distance, bool collect,
                                                               std::span<const uint32_t> order) {
    Visit visit(source, order);
    return match(source, visit, target_tree, transformation, max_correspondence_distance, collect, nullptr);
}

std::vector<uint32_t> spatial_order(std::span<const Vec3> points) {
    const size_t n = points.size();
    if (n < kOrderThreshold || n > UINT32_MAX) return {};
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const Vec3& p : points)
        for (int k = 0; k < 3; ++k)
            if (std::isfinite(p[k])) {
                lo[k] = std::fmin(lo[k], p[k]);
                hi[k] = std::fmax(hi[k], p[k]);
            }
    double extent = 0.0;
    for (int k = 0; k < 3; ++k)
        if (hi[k] > lo[k]) extent = std::fmax(extent, hi[k] - lo[k]);
    if (!(extent > 0.0) || !std::isfinite(extent)) return {};
    const double scale = 2097151.0 / extent;  // 21 bits per axis
    std::vector<std::pair<uint64_t, uint32_t>> keyed(n);
    parallel_for(
        n,
        [&](size_t i) {
            uint64_t code = 0;
            for (int k = 0; k < 3; ++k) {
                double q = (points[i][k] - lo[k]) * scale;
                uint64_t c = q >= 0.0 && q <= 2097151.0 ? static_cast<uint64_t>(q) : 0;  // NaN and inf go first
                code |= spread_bits(c) << k;
            }
            keyed[i] = {code, static_cast<uint32_t>(i)};
        },
        4096);
    std::sort(keyed.begin(), keyed.end());
    std::vector<uint32_t> order(n);
    for (size_t k = 0; k < n; ++k) order[k] = keyed[k].second;
    return order;
}

Result<RegistrationResult> registration_icp(const PointCloud& source, const PointCloud& target,
                                            double max_correspondence_distance, const Mat4& init,
                                            TransformationEstimationKind estimation,
                                            const ICPConvergenceCriteria& criteria) {
    if (max_correspondence_distance <= 0.0) return fail("Invalid max_correspondence_distance.");
    if (source.points.empty() || target.points.empty()) {
        RegistrationResult r;
        r.transformation = init;
        return r;
    }
    const bool plane = estimation == TransformationEstimationKind::PointToPlane;
    if (plane && target.normals.size() != target.points.size())
        return fail("PointToPlaneICP requires target pointcloud to have normals.");

    KdTreeFlann tree;
    tree.set_points(target.points);
    std::vector<Vec3> moved;
    // Moving the source rigidly keeps neighbours together, so one order serves every iteration.
    const std::vector<uint32_t> order = spatial_order(source.points);
    const Visit visit(source.points, order);
    RegistrationResult result = match(source.points, visit, tree, init, max_correspondence_distance, true, &moved);
    for (int32_t it = 0; it < criteria.max_iteration; ++it) {
        // `moved` holds the source under result.transformation.
        Mat4 update =
            plane ? compute_transformation_point_to_plane_unchecked(moved, target.points, target.normals,
                                                                    result.correspondence_set)
                  : compute_transformation_point_to_point_unchecked(
                        moved, target.points, result.correspondence_set,
                        estimation == TransformationEstimationKind::PointToPointWithScaling);
        if (!all_finite(update)) break;
        Mat4 next = mul4(update, result.transformation);
        double prev_fitness = result.fitness, prev_rmse = result.inlier_rmse;
        result = match(source.points, visit, tree, next, max_correspondence_distance, true, &moved);
        if (std::fabs(prev_fitness - result.fitness) < criteria.relative_fitness &&
            std::fabs(prev_rmse - result.inlier_rmse) < criteria.relative_rmse)
            break;
    }
    return result;
}

RegistrationResult evaluate_registration(const PointCloud& source, const PointCloud& target,
                                         double max_correspondence_distance, const Mat4& transformation) {
    KdTreeFlann tree;
    tree.set_points(target.points);
    const std::vector<uint32_t> order = spatial_order(source.points);
    const Visit visit(source.points, order);
    return match(source.points, visit, tree, transformation, max_correspondence_distance, true, nullptr);
}

Mat6 get_information_matrix_from_point_clouds(const PointCloud& source, const PointCloud& target,
                                              double max_correspondence_distance, const Mat4& transformation) {
    KdTreeFlann tree;
    tree.set_points(target.points);
    const std::vector<uint32_t> order = spatial_order(source.points);
    const Visit visit(source.points, order);
    RegistrationResult r = match(source.points, visit, tree, transformation, max_correspondence_distance, true, nullptr);
    Mat6 g{};
    for (const Vec2i& c : r.correspondence_set) {
        const Vec3& q = target.points[c[1]];
        const double x = q[0], y = q[1], z = q[2];
        const double rows[3][6] = {
            {0.0, z, -y, 1.0, 0.0, 0.0},
            {-z, 0.0, x, 0.0, 1.0, 0.0},
            {y, -x, 0.0, 0.0, 0.0, 1.0},
        };
        for (int a = 0; a < 6; ++a)
            for (int b = 0; b < 6; ++b) {
                double v = g[a * 6 + b];
                for (const auto& row : rows) v += row[a] * row[b];
                g[a * 6 + b] = v;
            }
    }
    return g;
}

}  // namespace ombrix
