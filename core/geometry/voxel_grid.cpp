#include "core/geometry/voxel_grid.h"

#include <cmath>

#include "core/geometry/geometry3d.h"
#include "core/geometry/voxel_down_sample.h"

namespace ombrix {

namespace {

// Finite and within 1e-12 of `want`.
bool near(double v, double want) { return std::isfinite(v) && std::fabs(v - want) <= 1e-12; }

struct Occupied {};

}  // namespace

Vec3 VoxelGrid::min_bound() const {
    if (voxels.is_empty()) return origin;
    Vec3i m = voxels.key(voxels.head());
    voxels.for_each([&](const Vec3i& k, const Voxel&) {
        for (int a = 0; a < 3; ++a)
            if (k[a] < m[a]) m[a] = k[a];
    });
    return {voxel_size * static_cast<double>(m[0]) + origin[0], voxel_size * static_cast<double>(m[1]) + origin[1],
            voxel_size * static_cast<double>(m[2]) + origin[2]};
}

Vec3 VoxelGrid::max_bound() const {
    if (voxels.is_empty()) return origin;
    Vec3i m = voxels.key(voxels.head());
    voxels.for_each([&](const Vec3i& k, const Voxel&) {
        for (int a = 0; a < 3; ++a)
            if (k[a] > m[a]) m[a] = k[a];
    });
    return {voxel_size * (static_cast<double>(m[0]) + 1.0) + origin[0],
            voxel_size * (static_cast<double>(m[1]) + 1.0) + origin[1],
            voxel_size * (static_cast<double>(m[2]) + 1.0) + origin[2]};
}

Vec3 VoxelGrid::center() const {
    if (voxels.is_empty()) return {0.0, 0.0, 0.0};
    Vec3 sum{0.0, 0.0, 0.0};
    voxels.for_each([&](const Vec3i& k, const Voxel&) {
        for (int a = 0; a < 3; ++a) sum[a] += (static_cast<double>(k[a]) * voxel_size + origin[a]) + 0.5 * voxel_size;
    });
    const double n = static_cast<double>(voxels.len());
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

AxisAlignedBoundingBox VoxelGrid::axis_aligned_bounding_box() const {
    return AxisAlignedBoundingBox::from_bounds(min_bound(), max_bound());
}

void VoxelGrid::translate(const Vec3& t, bool relative) {
    if (relative) {
        for (int a = 0; a < 3; ++a) origin[a] += t[a];
    } else {
        origin = t;
    }
}

void VoxelGrid::scale(double s, const Vec3& c) {
    for (int a = 0; a < 3; ++a) origin[a] = (origin[a] - c[a]) * s + c[a];
    voxel_size *= s;
}

Status VoxelGrid::rotate(const Mat3& r) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (!near(r[i * 3 + j], i == j ? 1.0 : 0.0))
                return fail("VoxelGrid rotation is unsupported; revoxelize the geometry instead");
    return {};
}

Status VoxelGrid::transform(const Mat4& t) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const double v = t[i * 4 + j];
            const bool ok = (j == 3 && i < 3) ? std::isfinite(v) : near(v, i == j ? 1.0 : 0.0);
            if (!ok) return fail("VoxelGrid only supports identity or pure translation transforms");
        }
    const Vec3 o = origin;
    for (int i = 0; i < 3; ++i)
        origin[i] = t[i * 4 + 3] + ((t[i * 4 + 0] * o[0] + t[i * 4 + 1] * o[1]) + t[i * 4 + 2] * o[2]);
    return {};
}

Result<VoxelGrid> create_voxel_grid_within_bounds(const std::vector<Vec3>& points, double voxel_size,
                                                  const Vec3& min_bound, const Vec3& max_bound) {
    // A NaN size passes here and fails the extent test.
    if (voxel_size <= 0.0) return fail("voxel_size must be positive.");
    // A NaN in either bound makes the extent NaN and is refused with it.
    double extent = max_bound[0] - min_bound[0];
    for (int a = 1; a < 3; ++a) {
        const double e = max_bound[a] - min_bound[a];
        if (std::isnan(e) || e > extent) extent = e;
    }
    if (!(extent / voxel_size <= 2147483647.0))
        return fail("voxel_size is potentially too small for the given bounds, may lead to integer overflow in indices.");

    StdUnorderedMap<Occupied> occupied;
    for (const Vec3& p : points) {
        bool inside = true;
        for (int a = 0; a < 3; ++a) inside = inside && min_bound[a] <= p[a] && p[a] < max_bound[a];
        if (!inside) continue;
        const Vec3i key{floor_to_index((p[0] - min_bound[0]) / voxel_size),
                        floor_to_index((p[1] - min_bound[1]) / voxel_size),
                        floor_to_index((p[2] - min_bound[2]) / voxel_size)};
        occupied.find_or_insert(key, [] { return Occupied{}; });
    }

    VoxelGrid grid;
    grid.voxels = StdUnorderedMap<Voxel>::with_bucket_hint(occupied.len());
    occupied.for_each([&](const Vec3i& k, const Occupied&) { grid.voxels.insert_unique(k, Voxel{k, {0.5, 0.5, 0.5}}); });
    grid.voxel_size = voxel_size;
    grid.origin = min_bound;
    return grid;
}

Result<VoxelGrid> create_voxel_grid(const std::vector<Vec3>& points, double voxel_size) {
    if (points.empty()) return VoxelGrid();
    if (voxel_size <= 0.0) return fail("voxel_size must be positive for VoxelGrid creation.");
    const Vec3 lo = min_bound_of(points);
    const Vec3 hi = max_bound_of(points);
    const double h = voxel_size * 0.5;
    return create_voxel_grid_within_bounds(points, voxel_size, {lo[0] - h, lo[1] - h, lo[2] - h},
                                           {h + hi[0], h + hi[1], h + hi[2]});
}

}  // namespace ombrix
