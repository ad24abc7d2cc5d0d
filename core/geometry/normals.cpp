#include "core/geometry/normals.h"

#include <cmath>
#include <vector>

#include "core/eigen_solvers.h"
#include "core/parallel.h"

namespace ombrix {
namespace {

// Covariance of the neighbours from raw moments: one pass of plain running
// sums in neighbour order, each divided by the count, minus the mean products.
SymMat3 neighbourhood_covariance(const std::vector<Vec3>& points, const std::vector<size_t>& idx, size_t m) {
    double sx = 0, sy = 0, sz = 0, sxx = 0, syy = 0, sxy = 0, syz = 0, sxz = 0, szz = 0;
    for (size_t j = 0; j < m; ++j) {
        const Vec3& p = points[idx[j]];
        const double x = p[0], y = p[1], z = p[2];
        sx += x;
        sy += y;
        sz += z;
        sxx += x * x;
        syy += y * y;
        sxy += y * x;
        syz += y * z;
        sxz += z * x;
        szz += z * z;
    }
    const double dm = static_cast<double>(m);
    const double mx = sx / dm, my = sy / dm, mz = sz / dm;
    SymMat3 c;
    c.xx = sxx / dm - mx * mx;
    c.yy = syy / dm - my * my;
    c.zz = szz / dm - mz * mz;
    c.xy = sxy / dm - my * mx;
    c.yz = syz / dm - my * mz;
    c.xz = sxz / dm - mz * mx;
    return c;
}

}  // namespace

void estimate_normals(PointCloud& cloud, const KdTreeSearchParam& param, bool fast_normal_computation) {
    const size_t n = cloud.points.size();
    if (n == 0) return;
    // With one normal per point the old normal i is read and then overwritten
    // only by task i, so the new normals go straight into the same array.
    const bool had_normals = cloud.normals.size() == n;
    if (!had_normals) cloud.normals.assign(n, Vec3{0.0, 0.0, 0.0});

    KdTreeFlann tree(cloud.points);
    const std::vector<Vec3>& points = cloud.points;
    std::vector<Vec3>& normals = cloud.normals;
    // Visit the points in the tree's leaf order: consecutive queries are then
    // spatial neighbours and find their neighbours' coordinates in cache. Each
    // point still writes only its own slot, so the order does not matter.
    const uint32_t* order = tree.has_tree() ? tree.tree()->perm().data() : nullptr;

    parallel_for_chunks(
        n,
        [&](size_t begin, size_t end) {
            std::vector<size_t> idx;  // reused across the chunk
            std::vector<double> dist;
            for (size_t slot = begin; slot < end; ++slot) {
                const size_t i = order ? order[slot] : slot;
                int32_t m = tree.search(points[i], param, idx, dist);
                if (m < 3) {
                    normals[i] = {0.0, 0.0, 1.0};
                    continue;
                }
                SymMat3 cov = neighbourhood_covariance(points, idx, static_cast<size_t>(m));
                Vec3 v = fast_normal_computation ? smallest_eigenvector_closed_form(cov)
                                                 : smallest_eigenvector_iterative(cov);
                if (std::isnan(v[0]) || std::isnan(v[1]) || std::isnan(v[2]) ||
                    std::sqrt((v[0] * v[0] + v[1] * v[1]) + v[2] * v[2]) < 1e-9)
                    v = {0.0, 0.0, 1.0};
                if (had_normals) {
                    const Vec3& o = normals[i];
                    if ((v[0] * o[0] + v[1] * o[1]) + v[2] * o[2] < 0.0) v = {-v[0], -v[1], -v[2]};
                }
                normals[i] = v;
            }
        },
        32);
}

}  // namespace ombrix
