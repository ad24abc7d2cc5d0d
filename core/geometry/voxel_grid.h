// Voxel grid: the occupied cells of a regular cubic grid, kept in the
// prime-bucket map keyed by grid index. Every operation that visits voxels
// does so in the map's iteration order.
#pragma once
#include <vector>

#include "core/geometry/bounding_volume.h"
#include "core/linalg.h"
#include "core/result.h"
#include "core/stdhash.h"

namespace ombrix {

struct Voxel {
    Vec3i grid_index{0, 0, 0};
    Vec3 color{0.0, 0.0, 0.0};
};

struct VoxelGrid {
    StdUnorderedMap<Voxel> voxels;
    double voxel_size = 0.0;
    Vec3 origin{0.0, 0.0, 0.0};

    void clear() { *this = VoxelGrid(); }

    // Over the voxel keys; the origin when there are no voxels.
    Vec3 min_bound() const;
    Vec3 max_bound() const;
    // Mean of the cell centres; (0, 0, 0) when there are no voxels.
    Vec3 center() const;
    AxisAlignedBoundingBox axis_aligned_bounding_box() const;

    void translate(const Vec3& t, bool relative);
    void scale(double s, const Vec3& center);
    // Only the identity is accepted (the grid stays axis-aligned); fails with
    // "VoxelGrid rotation is unsupported; revoxelize the geometry instead".
    Status rotate(const Mat3& r);
    // Only pure translations; fails with
    // "VoxelGrid only supports identity or pure translation transforms".
    Status transform(const Mat4& t);
};

// Cells of the points with min_bound <= p < max_bound; origin = min_bound.
// Fails with "voxel_size must be positive." or "voxel_size is potentially too
// small for the given bounds, may lead to integer overflow in indices.".
Result<VoxelGrid> create_voxel_grid_within_bounds(const std::vector<Vec3>& points, double voxel_size,
                                                  const Vec3& min_bound, const Vec3& max_bound);
// Grid over the points' bounds widened by half a voxel; an empty grid for no
// points. Fails with "voxel_size must be positive for VoxelGrid creation.".
Result<VoxelGrid> create_voxel_grid(const std::vector<Vec3>& points, double voxel_size);

}  // namespace ombrix
