// FPFH: a 33-bin Fast Point Feature Histogram per point (three 11-bin
// sub-histograms of the Darboux-frame angles), computed in three parallel
// passes over the points: neighbour search, SPFH per point, then FPFH as the
// SPFH of the point plus the inverse-square-distance weighted SPFH of its
// neighbours. Every pass writes only its own point's slot, so the result does
// not depend on the thread count.
#pragma once
#include <array>
#include <cstdint>

#include "core/geometry/point_cloud.h"
#include "core/kdtree.h"
#include "core/linalg.h"
#include "core/registration/records.h"
#include "core/result.h"

namespace ombrix {

inline constexpr int kFpfhDim = 33;

// The three bins (0-10, 11-21, 22-32) of the pair (p1, n1) -> (p2, n2).
std::array<int, 3> fpfh_pair_bins(const Vec3& p1, const Vec3& n1, const Vec3& p2, const Vec3& n2);

// Fails with "Failed because input point cloud has no normal." for an empty
// cloud or one without exactly one normal per point.
Result<Feature> compute_fpfh_feature(const PointCloud& cloud, const KdTreeSearchParam& param);

}  // namespace ombrix
