// ICP refinement, evaluation of a transformation and the information matrix
// of an alignment. All three match every transformed source point to its
// nearest target point (k-d tree over the target) within a distance.
//
// The per-point searches and the point-to-plane rows run on the parallel
// pool; every sum, count and pair list is formed afterwards in index order,
// so the results do not depend on the number of threads.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "core/dense_solvers.h"
#include "core/geometry/point_cloud.h"
#include "core/kdtree.h"
#include "core/linalg.h"
#include "core/registration/estimation.h"
#include "core/registration/records.h"
#include "core/result.h"

namespace ombrix {

// p' = R·p + t with R the upper-left block of T (3x3 product order, the
// translation added last); the last row of T is not used.
inline Vec3 transform_point(const Mat4& t, const Vec3& p) {
    return {((t[0] * p[0] + t[1] * p[1]) + t[2] * p[2]) + t[3], ((t[4] * p[0] + t[5] * p[1]) + t[6] * p[2]) + t[7],
            (t[8] * p[0] + (t[9] * p[1] + t[10] * p[2])) + t[11]};
}

// Matches every source point moved by `transformation` to its nearest target
// point; a match needs d² < d_max² (strictly). The result holds
// `transformation`, the pairs in increasing source order (only when
// `collect`), fitness = matches / source count and inlier_rmse = √(Σd² /
// matches); both 0 without matches or when d_max ≤ 0.
RegistrationResult get_registration_result_and_correspondences(std::span<const Vec3> source,
                                                               const KdTreeFlann& target_tree,
                                                               const Mat4& transformation,
                                                               double max_correspondence_distance, bool collect);

// The same, visiting the source points in `order` (a permutation from
// spatial_order, or empty for index order). The result is identical; a
// spatially coherent order only makes the searches faster on large clouds.
RegistrationResult get_registration_result_and_correspondences(std::span<const Vec3> source,
                                                               const KdTreeFlann& target_tree,
                                                               const Mat4& transformation,
                                                               double max_correspondence_distance, bool collect,
                                                               std::span<const uint32_t> order);

// A cache-friendly visiting order of the points (Morton order over their
// bounding box), or empty when the cloud is small enough not to need one.
std::vector<uint32_t> spatial_order(std::span<const Vec3> points);

// Fails with "Invalid max_correspondence_distance." for d_max ≤ 0 and, for
// point-to-plane, "PointToPlaneICP requires target pointcloud to have
// normals." when the target does not have one normal per point.
Result<RegistrationResult> registration_icp(const PointCloud& source, const PointCloud& target,
                                            double max_correspondence_distance, const Mat4& init,
                                            TransformationEstimationKind estimation,
                                            const ICPConvergenceCriteria& criteria);

RegistrationResult evaluate_registration(const PointCloud& source, const PointCloud& target,
                                         double max_correspondence_distance, const Mat4& transformation);

// Σ over the matched pairs of the outer products of the three rows
// (0, z, -y, 1, 0, 0), (-z, 0, x, 0, 1, 0), (y, -x, 0, 0, 0, 1), with (x, y, z)
// the target point of the pair. Row-major.
Mat6 get_information_matrix_from_point_clouds(const PointCloud& source, const PointCloud& target,
                                              double max_correspondence_distance, const Mat4& transformation);

}  // namespace ombrix
