// Normal estimation: the direction of least variance of each point's
// neighbourhood, from its 3x3 covariance matrix.
#pragma once

#include "core/geometry/point_cloud.h"
#include "core/kdtree.h"

namespace ombrix {

// Gives every point a unit normal from its neighbours as chosen by `param`
// (the point itself counts). Fewer than three neighbours, or a direction that
// cannot be determined, give (0, 0, 1). When the cloud already has one normal
// per point, each new normal takes the sign that agrees with the old one and
// is written in place; otherwise the normal array is replaced. An empty cloud
// is left untouched. `fast_normal_computation` selects the closed-form solver,
// otherwise the iterative one. Runs the per-point work on the parallel pool;
// the result does not depend on the number of threads.
void estimate_normals(PointCloud& cloud, const KdTreeSearchParam& param, bool fast_normal_computation);

}  // namespace ombrix
