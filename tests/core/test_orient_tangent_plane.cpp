// DisjointSet and Kruskal: union by size with its tie rule, and spanning
// forests whose edge order follows the library's introsort.
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

}  // namespace

int main() {
    disjoint_set();
    spanning_forest();
    return check_report();
}
