// Transformation estimation from a correspondence set: point-to-point
// (Umeyama through the Jacobi SVD, optionally with a uniform scale) and
// point-to-plane (one linearised Gauss-Newton step solved by the 6x6 LDLT),
// plus the RMSE of a correspondence set.
//
// Sums over correspondences start at 0.0 and add terms in pair order. The
// *_unchecked functions require every index to be in range: run
// validate_correspondences first, or build the pairs yourself.
#pragma once
#include <cstdint>
#include <span>

#include "core/dense_solvers.h"
#include "core/geometry/point_cloud.h"
#include "core/linalg.h"
#include "core/registration/records.h"
#include "core/result.h"

namespace ombrix {

enum class TransformationEstimationKind : int32_t {
    PointToPoint = 0,             // rigid
    PointToPointWithScaling = 1,  // rigid plus a uniform scale
    PointToPlane = 2,
};

// Ok, or the message for the first pair with a negative or out-of-range index.
Status validate_correspondences(size_t source_count, size_t target_count, const CorrespondenceSet& corres);

// Rigid (or similarity) transform from the cross-covariance `sigma`
// (Σ(i,j) = mean of dt_i·ds_j), the two means and the source variance.
// Identity when the SVD cannot be formed (NaN or infinite covariance).
Mat4 finish_umeyama(const Mat3& sigma, const Vec3& mean_source, const Vec3& mean_target, bool with_scaling,
                    double variance_source);

// Solves JTJ·x = -JTr (lower triangle of JTJ read) and turns x =
// (α, β, γ, tx, ty, tz) into a rigid transform.
Mat4 solve_jacobian_system(const Mat6& jtj, const Vec6& jtr);

// Umeyama over the pairs; identity for no pairs.
Mat4 compute_transformation_point_to_point_unchecked(std::span<const Vec3> source, std::span<const Vec3> target,
                                                     const CorrespondenceSet& corres, bool with_scaling);

// Point-to-plane step; identity for no pairs or when the target normals are
// not usable (empty target, or a normal count different from the point count).
Mat4 compute_transformation_point_to_plane_unchecked(std::span<const Vec3> source, std::span<const Vec3> target,
                                                     std::span<const Vec3> target_normals,
                                                     const CorrespondenceSet& corres);

// Dispatch on the kind over two clouds (unchecked).
Mat4 compute_transformation_unchecked(TransformationEstimationKind kind, const PointCloud& source,
                                      const PointCloud& target, const CorrespondenceSet& corres);

// RMSE of the pairs with the source points as given (not transformed); 0.0
// for no pairs, and for point-to-plane when the target normals are not usable.
double compute_rmse_unchecked(TransformationEstimationKind kind, std::span<const Vec3> source,
                              std::span<const Vec3> target, std::span<const Vec3> target_normals,
                              const CorrespondenceSet& corres);
double compute_rmse_unchecked(TransformationEstimationKind kind, const PointCloud& source, const PointCloud& target,
                              const CorrespondenceSet& corres);

// Validating forms: the message of validate_correspondences on a bad pair.
Result<Mat4> compute_transformation(TransformationEstimationKind kind, const PointCloud& source,
                                    const PointCloud& target, const CorrespondenceSet& corres);
Result<double> compute_rmse(TransformationEstimationKind kind, const PointCloud& source, const PointCloud& target,
                            const CorrespondenceSet& corres);

}  // namespace ombrix
