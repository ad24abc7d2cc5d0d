// Voxel down-sampling: one averaged point (with averaged normal and colour
// where the cloud has them) per occupied voxel of a grid anchored at the
// cloud's minimum bound. Output order is the prime-bucket map's iteration
// order, so the result is reproducible bit for bit.
#pragma once
#include <cstdint>

#include "core/geometry/point_cloud.h"
#include "core/linalg.h"
#include "core/result.h"

namespace ombrix {

// Per-voxel sums; all zero and false when a voxel is first reached.
struct VoxelAccumulator {
    Vec3 point_sum{0.0, 0.0, 0.0};
    Vec3 normal_sum{0.0, 0.0, 0.0};
    Vec3 color_sum{0.0, 0.0, 0.0};
    int32_t count = 0;
    bool has_normal = false;
    bool has_color = false;
};

// floor(q) as int32, saturating; NaN gives 0.
int32_t floor_to_index(double q);

// Fails with "[VoxelDownSample] voxel_size must be positive." or
// "[VoxelDownSample] voxel_size is too small relative to the cloud extent.".
Result<PointCloud> voxel_down_sample(const PointCloud& cloud, double voxel_size);

}  // namespace ombrix
