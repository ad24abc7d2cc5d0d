// RANSAC global registration from putative correspondences.
//
// Each iteration samples k correspondences from the process-wide random
// engine, estimates a transformation, rejects it cheaply (finite check,
// checkers, a sub-sampled evaluation) and otherwise scores it over all source
// points; the best hypothesis by fitness, then inlier RMSE, wins. The
// iteration bound shrinks with the inlier ratio of the best hypothesis
// (confidence-based early stop).
//
// The sequential loop is the definition. With more than one pool thread the
// iterations run in growing batches: all draws of a batch happen on the
// calling thread in iteration order, the hypotheses are evaluated in
// parallel, and every decision is taken in iteration order afterwards. When
// the loop stops inside a batch, the engine is rewound and the consumed draws
// replayed, so results and the final engine state equal the sequential run.
#pragma once
#include <cstdint>

#include "core/geometry/point_cloud.h"
#include "core/kdtree.h"
#include "core/linalg.h"
#include "core/registration/checker.h"
#include "core/registration/estimation.h"
#include "core/registration/records.h"
#include "core/result.h"

namespace ombrix {

enum class RansacExecution {
    Auto,        // batched when the pool has more than one thread
    Sequential,  // the reference loop
    Batched,     // batched parallel evaluation, whatever the thread count
};

// Fails only for a correspondence with a negative or out-of-range index (the
// message of validate_correspondences). Unusable parameters (ransac_n < 3 or
// larger than the number of pairs, a distance <= 0, an empty cloud) give the
// default result.
Result<RegistrationResult> registration_ransac_based_on_correspondence(
    const PointCloud& source, const PointCloud& target, const CorrespondenceSet& corres,
    double max_correspondence_distance, TransformationEstimationKind estimation, int32_t ransac_n,
    const CorrespondenceCheckerList& checkers, int32_t max_iteration, double confidence,
    RansacExecution execution = RansacExecution::Auto);

// Fitness and RMSE of T over every max(1, n / 2048)-th source point (no
// correspondence set); 0 and 0 when the distance is not positive.
RegistrationResult get_registration_result_sampled(const PointCloud& source, const KdTreeFlann& target_tree,
                                                   const Mat4& transformation, double max_correspondence_distance);

// Fraction of every max(1, n / 5000)-th input pair whose aligned source point
// lies strictly within the distance of its target point. The pairs must be valid.
double evaluate_inlier_correspondence_ratio(const PointCloud& source, const PointCloud& target,
                                            const CorrespondenceSet& corres, const Mat4& transformation,
                                            double max_correspondence_distance);

}  // namespace ombrix
