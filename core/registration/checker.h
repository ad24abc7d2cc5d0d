// Correspondence checkers: cheap tests that reject a RANSAC hypothesis (a few
// pairs and the transformation estimated from them) before it is evaluated.
#pragma once
#include <cstdint>
#include <vector>

#include "core/geometry/point_cloud.h"
#include "core/linalg.h"
#include "core/registration/records.h"

namespace ombrix {

enum class CorrespondenceCheckerKind : int32_t {
    EdgeLength = 0,  // threshold: similarity in [0, 1] of corresponding edge lengths
    Distance = 1,    // threshold: largest distance between aligned source and target
    Normal = 2,      // threshold: largest angle (radians) between aligned normals
};

struct CorrespondenceChecker {
    CorrespondenceCheckerKind kind = CorrespondenceCheckerKind::EdgeLength;
    double threshold = 0.9;
};

using CorrespondenceCheckerList = std::vector<CorrespondenceChecker>;

// The test of the checker's kind. Every index of `corres` must be in range
// (see validate_correspondences). The last row of `transformation` is ignored.
bool check_unchecked(const CorrespondenceChecker& checker, const PointCloud& source, const PointCloud& target,
                     const CorrespondenceSet& corres, const Mat4& transformation);

}  // namespace ombrix
