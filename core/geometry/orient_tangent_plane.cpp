#include "core/geometry/orient_tangent_plane.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "core/kdtree.h"
#include "core/parallel.h"

namespace ombrix {

DisjointSet::DisjointSet(size_t n) : parent_(n), size_(n, 1) {
    for (size_t i = 0; i < n; ++i) parent_[i] = i;
}

size_t DisjointSet::find(size_t x) {
    while (parent_[x] != x) {
        parent_[x] = parent_[parent_[x]];
        x = parent_[x];
    }
    return x;
}

bool DisjointSet::union_(size_t a, size_t b) {
    size_t ra = find(a), rb = find(b);
    if (ra == rb) return false;
    if (size_[ra] < size_[rb]) {
        parent_[ra] = rb;
        size_[rb] += size_[ra];
    } else {
        parent_[rb] = ra;
        size_[ra] += size_[rb];
    }
    return true;
}

std::vector<Edge> kruskal(std::vector<Edge> edges, size_t n) {
    stdsort::sort_edges(edges);
    DisjointSet ds(n);
    size_t keep = 0;  // kept edges are compacted in place, in sorted order
    for (size_t i = 0; i < edges.size(); ++i)
        if (ds.union_(edges[i].u, edges[i].v)) edges[keep++] = edges[i];
    edges.resize(keep);
    return edges;
}

namespace {

double dot3(const Vec3& a, const Vec3& b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }
double sq3(const Vec3& a) { return (a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]; }

// Nearest-neighbour lists of every point, gathered by point index with a fixed
// stride; count[i] entries of row i are valid (fewer than the stride only for
// points the search cannot place, such as NaN coordinates).
struct NeighbourLists {
    size_t stride = 0;
    std::vector<uint32_t> index;
    std::vector<uint32_t> count;
    const uint32_t* row(size_t i) const { return index.data() + i * stride; }
};

NeighbourLists knn_lists(const KdTreeFlann& tree, const std::vector<Vec3>& points, uint64_t kk) {
    NeighbourLists lists;
    const size_t n = points.size();
    lists.count.assign(n, 0);
    if (kk > static_cast<uint64_t>(INT32_MAX)) return lists;  // the search cannot run: empty lists
    lists.stride = static_cast<size_t>(std::min<uint64_t>(kk, n));
    lists.index.assign(n * lists.stride, 0);
    const int knn = static_cast<int>(kk);
    // Queries in the tree's leaf order keep consecutive searches local; each
    // still fills only its own row.
    const uint32_t* order = tree.has_tree() ? tree.tree()->perm().data() : nullptr;
    parallel_for_chunks(
        n,
        [&](size_t b, size_t e) {
            std::vector<size_t> idx;
            std::vector<double> dist;
            for (size_t slot = b; slot < e; ++slot) {
                const size_t i = order ? order[slot] : slot;
                int m = tree.search_knn(points[i].data(), 3, knn, idx, dist);
                if (m <= 0) continue;
                size_t c = std::min<size_t>(static_cast<size_t>(m), lists.stride);
                uint32_t* out = lists.index.data() + i * lists.stride;
                for (size_t j = 0; j < c; ++j) out[j] = static_cast<uint32_t>(idx[j]);
                lists.count[i] = static_cast<uint32_t>(c);
            }
        },
        64);
    return lists;
}

// True when the segment s->t leaves the tangent plane of normal ns by more
// than the tolerance (|cos| of the angle between ns and the segment). Also
// returns the squared length and the absolute normal component.
bool outside_cone(const Vec3& ps, const Vec3& pt, const Vec3& ns, double cos_alpha_tol, double* q, double* a) {
    Vec3 d = {pt[0] - ps[0], pt[1] - ps[1], pt[2] - ps[2]};
    *q = sq3(d);
    *a = std::fabs(dot3(ns, d));
    return *a / std::sqrt(*q) > cos_alpha_tol;
}

// Members of each disjoint set as singly linked lists, so a set's members can
// be listed without scanning all points and two lists join in O(1).
struct SetLists {
    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> next, head, tail;  // head/tail valid at roots

    SetLists(DisjointSet& ds, size_t n) : next(n, kNone), head(n, kNone), tail(n, kNone) {
        for (size_t i = 0; i < n; ++i) {
            size_t r = ds.find(i);
            if (head[r] == kNone)
                head[r] = static_cast<uint32_t>(i);
            else
                next[tail[r]] = static_cast<uint32_t>(i);
            tail[r] = static_cast<uint32_t>(i);
        }
    }
    // Appends the list of root `from` to that of root `to`.
    void join(size_t to, size_t from) {
        next[tail[to]] = head[from];
        tail[to] = tail[from];
    }
    template <class F>
    void for_each(size_t root, F&& f) const {
        for (uint32_t v = head[root]; v != kNone; v = next[v]) f(v);
    }
};

// Searches the r nearest points of p (none when r exceeds the int32 count the
// tree takes: -1) and sets *q to the first result outside the set rooted at
// rj, or to the result count when every result lies in it.
int search_outside_set(const KdTreeFlann& tree, const Vec3& p, size_t r, DisjointSet& ds, size_t rj,
                       std::vector<size_t>& idx, std::vector<double>& dist, int* q) {
    const int got =
        r > static_cast<size_t>(INT32_MAX) ? -1 : tree.search_knn(p.data(), 3, static_cast<int>(r), idx, dist);
    int i = 0;
    while (i < got && ds.find(idx[i]) == rj) ++i;
    *q = i;
    return got;
}

// The next search size: doubled, at most n.
size_t grown(size_t r, size_t n) { return r > n / 2 ? n : 2 * r; }

// Connection rounds that search from every member of J on every round. Used
// when the k-d tree cannot be relied on to return the true
// nearest neighbours (non-finite or huge coordinates), which the bounds of the
// faster version below depend on.
void connect_components_plain(const KdTreeFlann& tree, const std::vector<Vec3>& points, uint64_t kk,
                              DisjointSet& ds, std::vector<Edge>& t) {
    const size_t n = points.size();
    std::vector<size_t> idx;
    std::vector<double> dist;
    const size_t first_r = kk >= n ? n : static_cast<size_t>(kk) + 1;
    size_t j = 1;  // every vertex below j is in vertex 0's set
    for (;;) {
        const size_t r0 = ds.find(0);
        while (j < n && ds.find(j) == r0) ++j;
        if (j >= n) return;
        const size_t rj = ds.find(j);
        bool found = false;
        uint64_t best_m = 0, best_t = 0;
        double best_d = 0.0;
        for (size_t m = j; m < n; ++m) {
            if (ds.find(m) != rj) continue;
            size_t r = first_r;
            for (;;) {
                int q = 0;
                const int got = search_outside_set(tree, points[m], r, ds, rj, idx, dist, &q);
                if (q < got) {
                    if (!found || dist[q] < best_d) {
                        found = true;
                        best_m = m;
                        best_t = idx[q];
                        best_d = dist[q];
                    }
                    break;
                }
                if (r >= n) break;
                r = grown(r, n);
            }
        }
        if (!found) return;
        t.push_back({best_m, best_t, best_d});
        ds.union_(best_m, best_t);
    }
}

// True when every coordinate is finite and small enough that squared
// distances cannot overflow: the k-d tree then returns exact nearest
// neighbours, which the bounds of the connection rounds rely on.
bool searches_are_exact(const std::vector<Vec3>& points) {
    for (const Vec3& p : points)
        for (double c : p)
            if (!(std::fabs(c) <= 1e100)) return false;
    return true;
}

// A member of the set being connected, keyed by a lower bound of the squared
// distance to its candidate (its nearest point outside the set). Ordered by
// (bound, member index): the order in which the best candidate is chosen.
struct Bound {
    double key;
    uint32_t m;
};
inline bool before(const Bound& a, const Bound& b) { return a.key < b.key || (a.key == b.key && a.m < b.m); }
struct HeapOrder {  // std heap functions build a max-heap; invert for the smallest first
    bool operator()(const Bound& a, const Bound& b) const { return before(b, a); }
};

// Searching from every member on every round is quadratic when J grows by
// many small steps (k < 3 leaves many components). The same choice is made
// here with lower bounds: a member's candidate distance never decreases as J
// grows, and a search whose r results all lie in J bounds it below by its
// last distance. Members sit in a heap by (bound, index); the top member is
// searched as in the plain rounds, and wins once its true distance still comes
// before the next bound. Only one set at a time owns the heap: J stays J until
// it is linked to vertex 0's set, and sets it absorbs meanwhile join its heap.
void connect_components_bounded(const KdTreeFlann& tree, const std::vector<Vec3>& points, uint64_t kk,
                                DisjointSet& ds, std::vector<Edge>& t) {
    const size_t n = points.size();
    SetLists lists(ds, n);

    std::vector<Bound> heap;
    const HeapOrder order;
    auto push = [&](double key, uint32_t m) {
        heap.push_back({key, m});
        std::push_heap(heap.begin(), heap.end(), order);
    };
    std::vector<size_t> idx;
    std::vector<double> dist;
    const double inf = std::numeric_limits<double>::infinity();
    const size_t first_r = kk >= n ? n : static_cast<size_t>(kk) + 1;
    size_t heap_owner = SIZE_MAX;  // the j whose set the heap holds
    size_t j = 1;                  // every vertex below j is in vertex 0's set
    for (;;) {
        const size_t r0 = ds.find(0);
        while (j < n && ds.find(j) == r0) ++j;
        if (j >= n) return;
        const size_t rj = ds.find(j);
        if (heap_owner != j) {
            heap.clear();
            lists.for_each(rj, [&](uint32_t v) { heap.push_back({0.0, v}); });
            std::make_heap(heap.begin(), heap.end(), order);
            heap_owner = j;
        }

        // Smallest (candidate distance, member) over J.
        bool found = false;
        uint64_t best_m = 0, best_t = 0;
        double best_d = 0.0;
        while (!heap.empty()) {
            std::pop_heap(heap.begin(), heap.end(), order);
            const Bound top = heap.back();
            heap.pop_back();
            if (top.key == inf) {  // every bound is final and infinite: no candidate anywhere
                heap.push_back(top);
                std::push_heap(heap.begin(), heap.end(), order);
                break;
            }
            const Bound next = heap.empty() ? Bound{inf, UINT32_MAX} : heap.front();
            const uint32_t m = top.m;
            size_t r = first_r;
            for (;;) {
                int q = 0;
                const int got = search_outside_set(tree, points[m], r, ds, rj, idx, dist, &q);
                if (q < got) {
                    if (before({dist[q], m}, next)) {
                        found = true;
                        best_m = m;
                        best_t = idx[q];
                        best_d = dist[q];
                    } else {
                        push(dist[q], m);
                    }
                    break;
                }
                if (r >= n) {
                    push(inf, m);
                    break;
                }
                // Every point outside this result is at least as far as its last entry.
                if (got > 0) {
                    const double bound = std::max(top.key, dist[got - 1]);
                    if (!before({bound, m}, next)) {
                        push(bound, m);
                        break;
                    }
                }
                r = grown(r, n);
            }
            if (found) break;
        }
        if (!found) return;

        t.push_back({best_m, best_t, best_d});
        heap.push_back({best_d, static_cast<uint32_t>(best_m)});  // still a valid bound
        std::push_heap(heap.begin(), heap.end(), order);
        const size_t other = ds.find(best_t);
        ds.union_(best_m, best_t);
        const size_t root = ds.find(best_m);
        if (other == r0) {
            heap_owner = SIZE_MAX;  // J joined vertex 0's set; the next J starts afresh
        } else {
            lists.for_each(other, [&](uint32_t v) { push(0.0, v); });
        }
        lists.join(root, root == rj ? other : rj);
    }
}

}  // namespace

void connect_components(const KdTreeFlann& tree, const std::vector<Vec3>& points, uint64_t kk, std::vector<Edge>& t,
                        bool allow_bounds) {
    DisjointSet ds(points.size());
    for (const Edge& e : t) ds.union_(e.u, e.v);
    if (allow_bounds && searches_are_exact(points))
        connect_components_bounded(tree, points, kk, ds, t);
    else
        connect_components_plain(tree, points, kk, ds, t);
}

Status orient_normals_to_align_with_direction(PointCloud& cloud, const Vec3& reference) {
    const size_t n = cloud.points.size();
    if (n == 0 || cloud.normals.size() != n) return fail(kNoNormalsMessage);
    for (Vec3& nv : cloud.normals) {
        if (sq3(nv) == 0.0)
            nv = reference;
        else if (dot3(nv, reference) < 0.0)
            nv = {-nv[0], -nv[1], -nv[2]};
    }
    return {};
}

Status orient_normals_towards_camera_location(PointCloud& cloud, const Vec3& camera) {
    const size_t n = cloud.points.size();
    if (n == 0 || cloud.normals.size() != n) return fail(kNoNormalsMessage);
    for (size_t i = 0; i < n; ++i) {
        const Vec3& p = cloud.points[i];
        Vec3& nv = cloud.normals[i];
        Vec3 d = {camera[0] - p[0], camera[1] - p[1], camera[2] - p[2]};
        if (sq3(nv) != 0.0) {  // NaN included
            if (dot3(d, nv) < 0.0) nv = {-nv[0], -nv[1], -nv[2]};
        } else {
            double w = sq3(d);
            if (w != 0.0) {
                double len = std::sqrt(w);
                nv = {d[0] / len, d[1] / len, d[2] / len};
            } else {
                nv = {0.0, 0.0, 1.0};
            }
        }
    }
    return {};
}

Status orient_normals_consistent_tangent_plane(PointCloud& cloud, uint64_t k, double lambda, double cos_alpha_tol) {
    const size_t n = cloud.points.size();
    if (n == 0 || cloud.normals.size() != n) return fail(kNoNormalsMessage);
    const std::vector<Vec3>& p = cloud.points;
    std::vector<Vec3>& nrm = cloud.normals;

    KdTreeFlann tree;
    tree.set_points(p);
    const uint64_t kk = k >= 3 ? k : 2;
    const NeighbourLists lists = knn_lists(tree, p, kk);

    // Riemannian graph: neighbours whose connecting segment lies within the
    // tolerance cone of the tangent plane, weighted by squared distance plus a
    // penalty on the distance to the plane.
    std::vector<Edge> graph;
    graph.reserve(n * (lists.stride > 0 ? lists.stride - 1 : 0));
    for (size_t s = 0; s < n; ++s) {
        const uint32_t* row = lists.row(s);
        for (uint32_t c = 0; c < lists.count[s]; ++c) {
            size_t t = row[c];
            if (t == s) continue;
            double q, a;
            if (outside_cone(p[s], p[t], nrm[s], cos_alpha_tol, &q, &a)) continue;
            graph.push_back({s, t, q + a * lambda});
        }
    }
    std::vector<Edge> tree_edges = kruskal(std::move(graph), n);
    connect_components(tree, p, kk, tree_edges);

    // Reweight by normal disagreement, then add the neighbour pairs again with
    // that weight and take the spanning forest of the union.
    for (Edge& e : tree_edges) e.weight = 1.0 - std::fabs(dot3(nrm[e.u], nrm[e.v]));
    if (k > 0) {
        for (size_t s = 0; s < n; ++s) {
            const uint32_t* row = lists.row(s);
            uint64_t c_end = std::min<uint64_t>(k, lists.count[s]);
            for (uint64_t c = 0; c < c_end; ++c) {
                size_t t = row[c];
                if (t == s) continue;
                double q, a;
                if (outside_cone(p[s], p[t], nrm[s], cos_alpha_tol, &q, &a)) continue;
                tree_edges.push_back({s, t, 1.0 - std::fabs(dot3(nrm[s], nrm[t]))});
            }
        }
    }
    std::vector<Edge> forest = kruskal(std::move(tree_edges), n);

    // Adjacency in compressed form; each vertex's neighbours in forest order.
    std::vector<size_t> offset(n + 1, 0);
    for (const Edge& e : forest) {
        ++offset[e.u + 1];
        ++offset[e.v + 1];
    }
    for (size_t i = 0; i < n; ++i) offset[i + 1] += offset[i];
    std::vector<uint32_t> adj(offset[n]);
    {
        std::vector<size_t> fill(offset.begin(), offset.end() - 1);
        for (const Edge& e : forest) {
            adj[fill[e.u]++] = static_cast<uint32_t>(e.v);
            adj[fill[e.v]++] = static_cast<uint32_t>(e.u);
        }
    }

    // Start at the lowest point (the first one among equals) with its normal
    // turned downwards.
    size_t start = 0;
    for (size_t i = 1; i < n; ++i)
        if (p[start][2] > p[i][2]) start = i;
    Vec3& ns = nrm[start];
    if (ns[2] > 0.0 * ns[0] + 0.0 * ns[1]) ns = {-ns[0], -ns[1], -ns[2]};

    std::vector<uint8_t> visited(n, 0);
    std::vector<uint32_t> queue;
    queue.reserve(n);
    visited[start] = 1;
    queue.push_back(static_cast<uint32_t>(start));
    for (size_t head = 0; head < queue.size(); ++head) {
        size_t u = queue[head];
        for (size_t a = offset[u]; a < offset[u + 1]; ++a) {
            size_t v = adj[a];
            if (visited[v]) continue;
            visited[v] = 1;
            if (dot3(nrm[u], nrm[v]) < 0.0) nrm[v] = {-nrm[v][0], -nrm[v][1], -nrm[v][2]};
            queue.push_back(static_cast<uint32_t>(v));
        }
    }
    return {};
}

}  // namespace ombrix
