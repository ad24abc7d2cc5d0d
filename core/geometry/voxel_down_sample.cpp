#include "core/geometry/voxel_down_sample.h"

#include <cmath>

#include "core/geometry/geometry3d.h"
#include "core/stdhash.h"

namespace ombrix {

// The same value as saturating floor(q), without a libm call per axis: in
// [-2^31, 2^31) truncation is exact and is corrected down for negative
// non-integers; outside it floor(q) is past the int32 range on the same side.
int32_t floor_to_index(double q) {
    if (!(q >= -2147483648.0)) return std::isnan(q) ? 0 : INT32_MIN;
    if (!(q < 2147483648.0)) return INT32_MAX;
    int64_t t = static_cast<int64_t>(q);
    if (static_cast<double>(t) > q) --t;
    return static_cast<int32_t>(t);
}

Result<PointCloud> voxel_down_sample(const PointCloud& cloud, double voxel_size) {
    // A NaN size passes this test; every index then saturates to 0.
    if (voxel_size <= 0.0) return fail("[VoxelDownSample] voxel_size must be positive.");
    const std::vector<Vec3>& pts = cloud.points;
    if (pts.empty()) return PointCloud();

    const Vec3 lo = min_bound_of(pts);
    const Vec3 hi = max_bound_of(pts);
    const double max_extent = std::fmax(std::fmax(hi[0] - lo[0], hi[1] - lo[1]), hi[2] - lo[2]);
    if (max_extent + 1e-9 > 2147483647.0 * voxel_size)
        return fail("[VoxelDownSample] voxel_size is too small relative to the cloud extent.");

    const bool with_normals = cloud.normals.size() == pts.size();
    const bool with_colors = cloud.colors.size() == pts.size();

    StdUnorderedMap<VoxelAccumulator> voxels;
    for (size_t i = 0; i < pts.size(); ++i) {
        const Vec3& p = pts[i];
        const Vec3i key{floor_to_index((p[0] - lo[0]) / voxel_size), floor_to_index((p[1] - lo[1]) / voxel_size),
                        floor_to_index((p[2] - lo[2]) / voxel_size)};
        VoxelAccumulator& a = voxels.value(voxels.find_or_insert(key, [] { return VoxelAccumulator{}; }));
        for (int k = 0; k < 3; ++k) a.point_sum[k] += p[k];
        if (with_normals) {
            const Vec3& n = cloud.normals[i];
            if (!std::isnan(n[0]) && !std::isnan(n[1]) && !std::isnan(n[2])) {
                for (int k = 0; k < 3; ++k) a.normal_sum[k] += n[k];
                a.has_normal = true;
            }
        }
        if (with_colors) {
            const Vec3& c = cloud.colors[i];
            for (int k = 0; k < 3; ++k) a.color_sum[k] += c[k];
            a.has_color = true;
        }
        a.count += 1;
    }

    PointCloud out;
    out.points.reserve(voxels.len());
    if (with_normals) out.normals.reserve(voxels.len());
    if (with_colors) out.colors.reserve(voxels.len());
    voxels.for_each([&](const Vec3i&, const VoxelAccumulator& a) {
        const double c = static_cast<double>(a.count);
        auto mean = [c](const Vec3& s) { return Vec3{s[0] / c, s[1] / c, s[2] / c}; };
        out.points.push_back(a.count >= 1 ? mean(a.point_sum) : Vec3{0.0, 0.0, 0.0});
        if (with_normals)
            out.normals.push_back(
                stable_normalize(a.has_normal ? mean(a.normal_sum) : Vec3{0.0, 0.0, 0.0}, kUnitZFallback));
        if (with_colors) out.colors.push_back(a.has_color ? mean(a.color_sum) : Vec3{0.5, 0.5, 0.5});
    });
    return out;
}

}  // namespace ombrix
