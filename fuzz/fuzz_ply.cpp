// libFuzzer target: PLY header and body parsing, both readers, and a binary
// write/read round trip of whatever was read.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/io/ply.h"

using namespace ombrix;
using namespace ombrix::io;

namespace {

bool same_bits(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Vec3)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto h = parse_header(bytes);
    if (h) {
        if (h->body_offset > size) std::abort();
    }
    auto cloud = read_point_cloud_from_ply_file(bytes);
    if (cloud) {
        const PointCloud& c = *cloud;
        if (c.points.empty()) std::abort();
        auto again = read_point_cloud_from_ply_file(write_point_cloud_to_ply(c, false));
        if (!again || !same_bits(again->points, c.points)) std::abort();
        if (c.has_normals() && !same_bits(again->normals, c.normals)) std::abort();
        if (!read_point_cloud_from_ply_file(write_point_cloud_to_ply(c, true))) std::abort();
    }
    auto mesh = read_triangle_mesh_from_ply_file(bytes);
    if (mesh) {
        const TriangleMesh& m = *mesh;
        for (const Vec3i& t : m.triangles)
            for (int k = 0; k < 3; ++k)
                if (t[k] < 0 || static_cast<size_t>(t[k]) >= m.vertices.size()) std::abort();
        auto again = read_triangle_mesh_from_ply_file(write_triangle_mesh_to_ply(m, false, true, true));
        if (!again || !same_bits(again->vertices, m.vertices) || again->triangles != m.triangles) std::abort();
    }
    return 0;
}
