// DisjointSet and Kruskal: union by size with its tie rule, and spanning
// forests whose edge order follows the library's introsort.
#include <cmath>
#include <cstdint>
#include <vector>

#include "check.h"
#include "core/geometry/orient_tangent_plane.h"

using namespace ombrix;

namespace {

void disjoint_set() {
    DisjointSet ds(5);
    CHECK(ds.union_(0, 1));
    CHECK(ds.find(1) == 0);  // equal sizes: b's root goes under a's
    CHECK(ds.union_(2, 0));  // the smaller set {2} goes under root 0
    CHECK(ds.find(2) == 0);
    CHECK(!ds.union_(1, 2));
    CHECK(ds.union_(3, 4));
    CHECK(ds.find(4) == 3);
    CHECK(ds.union_(4, 0));  // {3, 4} is smaller than {0, 1, 2}
    CHECK(ds.find(3) == 0 && ds.find(4) == 0);
    CHECK(ds.size_of_root(0) == 5);
}

bool same_edges(const std::vector<Edge>& a, const std::vector<std::vector<double>>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].u != b[i][0] || a[i].v != b[i][1] || a[i].weight != b[i][2]) return false;
    return true;
}

void spanning_forest() {
    // Square 0-1-2-3 with a diagonal; equal weights keep input order (short input).
    std::vector<Edge> e = {{0, 1, 1.0}, {1, 2, 2.0}, {2, 3, 1.0}, {3, 0, 3.0}, {0, 2, 1.5}};
    CHECK(same_edges(kruskal(e, 4), {{0, 1, 1.0}, {2, 3, 1.0}, {0, 2, 1.5}}));

    // Two components stay two trees; a self-loop and a repeated edge are dropped.
    e = {{0, 1, 0.5}, {1, 1, 0.0}, {2, 3, 0.25}, {1, 0, 0.1}};
    CHECK(same_edges(kruskal(e, 4), {{1, 0, 0.1}, {2, 3, 0.25}}));

    CHECK(kruskal({}, 3).empty());

    // A path of 17 edges with equal weights: every edge is kept, in the order
    // the introsort leaves 17 equal keys (8, 16, 15, ..., 9, 0, 7, ..., 1).
    e.clear();
    for (uint64_t i = 0; i < 17; ++i) e.push_back({i, i + 1, 0.0});
    std::vector<Edge> f = kruskal(e, 18);
    const uint64_t order[17] = {8, 16, 15, 14, 13, 12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1};
    CHECK(f.size() == 17);
    for (size_t i = 0; i < f.size() && i < 17; ++i) CHECK(f[i].u == order[i]);
}

struct Rng {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    double next() {  // [0, 1)
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return static_cast<double>((s * 2685821657736338717ull) >> 11) / 9007199254740992.0;
    }
};

// The bounded connection rounds pick the same links, in the same order, as
// searching from every member on every round; checked on clouds full of
// equal distances (lattice points, duplicates) and on separated clusters.
void connection_rounds_agree() {
    Rng rng;
    for (int trial = 0; trial < 60; ++trial) {
        size_t n = 2 + static_cast<size_t>(rng.next() * 400);
        std::vector<Vec3> pts(n);
        for (Vec3& p : pts) {
            if (trial % 3 == 0) {  // coarse lattice: many ties and duplicates
                p = {std::floor(rng.next() * 6), std::floor(rng.next() * 6), std::floor(rng.next() * 2)};
            } else if (trial % 3 == 1) {  // flat lattice
                p = {std::floor(rng.next() * 20) * 0.5, std::floor(rng.next() * 20) * 0.5, 0.0};
            } else {  // clusters far apart
                double c = std::floor(rng.next() * 4) * 10.0;
                p = {c + rng.next(), rng.next(), c * 0.5 + rng.next()};
            }
        }
        KdTreeFlann tree(pts);
        uint64_t kk = 2 + static_cast<uint64_t>(rng.next() * 6);
        // A partial forest to start from: links between index neighbours that
        // happen to be close.
        std::vector<Edge> start;
        for (size_t i = 1; i < n; ++i)
            if (rng.next() < 0.3) start.push_back({i - 1, i, 0.0});
        std::vector<Edge> a = start, b = start;
        connect_components(tree, pts, kk, a, true);
        connect_components(tree, pts, kk, b, false);
        CHECK(a.size() == b.size());
        bool same = a.size() == b.size();
        for (size_t i = 0; same && i < a.size(); ++i)
            same = a[i].u == b[i].u && a[i].v == b[i].v && a[i].weight == b[i].weight;
        CHECK(same);
        CHECK(a.size() == n - 1);  // finite points: everything ends up connected
    }
}

}  // namespace

int main() {
    disjoint_set();
    spanning_forest();
    connection_rounds_agree();
    return check_report();
}
