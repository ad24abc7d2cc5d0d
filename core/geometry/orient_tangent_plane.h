// Sign choice for point-cloud normals: towards a direction, towards a camera
// position, and consistently across the surface by propagating orientation
// along a minimum spanning forest of a k-nearest-neighbour graph. Only signs
// change (the first two also fill in zero normals); points never move.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/geometry/point_cloud.h"
#include "core/kdtree.h"
#include "core/linalg.h"
#include "core/result.h"
#include "core/stdsort.h"

namespace ombrix {

// Graph edge between two point indices (u, v, weight): the edge-list record
// of the introsort.
using Edge = stdsort::Edge;

// Union-find with path halving and union by size.
class DisjointSet {
public:
    explicit DisjointSet(size_t n);
    size_t find(size_t x);
    // Joins the sets of a and b; false when they were already one set. On
    // equal sizes the root of b goes under the root of a.
    bool union_(size_t a, size_t b);
    size_t size_of_root(size_t root) const { return size_[root]; }

private:
    std::vector<size_t> parent_;
    std::vector<size_t> size_;
};

// Minimum spanning forest over n vertices: the edges sorted ascending by
// weight (with the library's introsort, so ties resolve in its fixed order),
// each kept when it joins two different trees. Kept edges in that order.
std::vector<Edge> kruskal(std::vector<Edge> edges, size_t n);

// Joins the spanning forest `t` over `points` into one tree where possible,
// appending the links to `t`. Repeatedly takes the set J of the smallest
// vertex outside vertex 0's set; every member m of J searches its r nearest
// neighbours in `tree` (r = kk + 1, doubled until a point outside J turns up
// or r reaches the point count) and the first outside point found is m's
// candidate. The candidate with the smallest squared distance (the smallest
// member among equals) is linked to J. Stops when everything is connected or
// no member of J has a candidate. With `allow_bounds` (the normal case) the
// same links are found without searching every member on every round, when
// the searches are known to be exact; false runs every search (tests compare
// the two).
void connect_components(const KdTreeFlann& tree, const std::vector<Vec3>& points, uint64_t kk, std::vector<Edge>& t,
                        bool allow_bounds = true);

// Message of the shared precondition of the three orientation functions.
inline constexpr const char* kNoNormalsMessage = "No normals in the PointCloud. Call EstimateNormals() first.";

// Each normal takes the sign that agrees with `reference`; zero normals become
// the reference itself.
Status orient_normals_to_align_with_direction(PointCloud& cloud, const Vec3& reference);

// Each normal takes the sign that points towards `camera`; zero normals become
// the unit vector towards it (or (0, 0, 1) at the camera itself).
Status orient_normals_towards_camera_location(PointCloud& cloud, const Vec3& camera);

// Consistent orientation over the k-nearest-neighbour graph: the normal of the
// lowest point is turned downwards and its sign propagated breadth-first along
// a minimum spanning forest weighted by how far neighbouring normals are from
// parallel. Vertices the propagation does not reach keep their signs.
Status orient_normals_consistent_tangent_plane(PointCloud& cloud, uint64_t k, double lambda, double cos_alpha_tol);

}  // namespace ombrix
