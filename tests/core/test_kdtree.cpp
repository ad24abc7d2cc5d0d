// k-d tree internals and searches against a brute-force scan.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "check.h"
#include "core/kdtree.h"
#include "core/parallel.h"

using namespace ombrix;

static double sq(double x) { return x * x; }

// Squared distance with the library's grouping, written independently.
static double brute_dist(const double* q, const double* p, size_t dim) {
    if (dim == 3) return (sq(q[0] - p[0]) + sq(q[1] - p[1])) + sq(q[2] - p[2]);
    double acc = 0;
    size_t j = 0;
    while (j + 3 < dim) {
        acc += ((sq(q[j] - p[j]) + sq(q[j + 1] - p[j + 1])) + sq(q[j + 2] - p[j + 2])) + sq(q[j + 3] - p[j + 3]);
        j += 4;
    }
    for (; j < dim; ++j) acc += sq(q[j] - p[j]);
    return acc;
}

static bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Leaves cover perm exactly once, in order; every branch's children respect
// its split values; nodes are in pre-order.
static void check_structure(const KdTree& t) {
    const auto& nodes = t.nodes();
    size_t next_slot = 0;
    bool ok = true;
    std::vector<uint32_t> stack{0};
    uint32_t expect_node = 0;
    while (!stack.empty()) {
        uint32_t ni = stack.back();
        stack.pop_back();
        ok = ok && ni == expect_node;
        ++expect_node;
        const auto& n = nodes[ni];
        if (n.is_leaf()) {
            ok = ok && n.a == next_slot && n.b > n.a && n.b - n.a <= KdTree::kLeafSize;
            next_slot = n.b;
        } else {
            ok = ok && n.a == ni + 1;
            stack.push_back(n.b);
            stack.push_back(n.a);
        }
    }
    CHECK(ok);
    CHECK(next_slot == t.size());
    CHECK(expect_node == nodes.size());
    std::vector<uint32_t> p = t.perm();
    std::sort(p.begin(), p.end());
    bool perm_ok = true;
    for (size_t i = 0; i < p.size(); ++i) perm_ok = perm_ok && p[i] == i;
    CHECK(perm_ok);
}

static void check_against_brute(size_t dim, size_t n, uint64_t seed, bool grid) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> data(dim * n);
    for (auto& v : data) v = grid ? double(int64_t(rng() % 5)) * 0.25 : u(rng);
    KdTreeFlann kd;
    CHECK(kd.set_matrix_data(dim, n, data));
    check_structure(*kd.tree());
    std::vector<size_t> idx;
    std::vector<double> d2;
    for (int qi = 0; qi < 20; ++qi) {
        std::vector<double> q(dim);
        for (auto& v : q) v = grid ? double(int64_t(rng() % 5)) * 0.25 : u(rng) * 1.2;
        std::vector<double> all(n);
        for (size_t i = 0; i < n; ++i) all[i] = brute_dist(q.data(), data.data() + i * dim, dim);
        std::vector<double> sorted = all;
        std::sort(sorted.begin(), sorted.end());
        for (int k : {1, 7, 30}) {
            int m = kd.search_knn(q.data(), dim, k, idx, d2);
            size_t want = std::min<size_t>(k, n);
            CHECK(size_t(m) == want && idx.size() == want && d2.size() == want);
            bool ok = true;
            for (size_t i = 0; i < want && i < idx.size(); ++i)
                ok = ok && same_bits(d2[i], sorted[i]) && same_bits(all[idx[i]], d2[i]);
            CHECK(ok);
        }
        double r = grid ? 0.5 : 0.6;
        int m = kd.search_radius(q.data(), dim, r, idx, d2);
        size_t want = size_t(std::count_if(all.begin(), all.end(), [&](double d) { return d < r * r; }));
        CHECK(size_t(m) == want);
        bool ok = idx.size() == want;
        for (size_t i = 0; ok && i < want; ++i) ok = same_bits(d2[i], sorted[i]) && same_bits(all[idx[i]], d2[i]);
        CHECK(ok);
        // Hybrid = the leading knn entries inside the radius.
        std::vector<size_t> hidx, kidx;
        std::vector<double> hd2, kd2;
        int hm = kd.search_hybrid(q.data(), dim, r, 10, hidx, hd2);
        int km = kd.search_knn(q.data(), dim, 10, kidx, kd2);
        int inside = 0;
        while (inside < km && kd2[inside] < r * r) ++inside;
        CHECK(hm == inside);
        CHECK(std::equal(hidx.begin(), hidx.end(), kidx.begin()));
    }
}

int main() {
    for (size_t dim : {1u, 2u, 3u, 4u, 5u, 33u}) {
        check_against_brute(dim, 500, dim * 11, false);
        check_against_brute(dim, 300, dim * 13, true);
    }

    // Leaf-size boundary: 15 points make a single leaf, 16 split the root.
    for (size_t n : {15u, 16u}) {
        std::vector<double> d;
        for (size_t i = 0; i < n; ++i) d.insert(d.end(), {double(i), 0.0, 0.0});
        auto t = KdTree::build(3, n, d);
        CHECK(t.has_value());
        CHECK(t->nodes()[0].is_leaf() == (n == 15));
        if (n == 16) {
            // Cell [0, 15] in x: cut at 7.5, 8 points each side; the split values
            // are the refined child boxes (7 and 8).
            CHECK(t->nodes()[0].split_dim == 0);
            CHECK(t->nodes()[0].split_low == 7.0 && t->nodes()[0].split_high == 8.0);
            CHECK(t->nodes().size() == 3);
            CHECK(t->nodes()[1].b == 8);
        }
        CHECK(t->bounds()[0].low == 0.0 && t->bounds()[0].high == double(n - 1));
    }

    // 100 identical points: every split falls at n/2; all found at distance 0
    // in input order (the first-found point wins ties).
    {
        std::vector<Vec3> pts(100, Vec3{1.0, 2.0, 3.0});
        KdTreeFlann kd(pts);
        std::vector<size_t> idx;
        std::vector<double> d2;
        CHECK(kd.search_knn(Vec3{1.0, 2.0, 3.0}, 100, idx, d2) == 100);
        bool zero = std::all_of(d2.begin(), d2.end(), [](double d) { return d == 0.0; });
        CHECK(zero);
        std::vector<size_t> s = idx;
        std::sort(s.begin(), s.end());
        CHECK(std::unique(s.begin(), s.end()) == s.end() && s.front() == 0 && s.back() == 99);
        const auto& nodes = kd.tree()->nodes();
        CHECK(!nodes[0].is_leaf() && nodes[nodes[0].a].is_leaf() == false);
        check_structure(*kd.tree());
    }

    // Facade argument checks.
    {
        KdTreeFlann kd;
        std::vector<size_t> idx{7};
        std::vector<double> d2{7.0};
        CHECK(kd.search_knn(Vec3{0, 0, 0}, 1, idx, d2) == -1 && idx.size() == 1);
        CHECK(!kd.set_points(std::vector<Vec3>{}));
        CHECK(!kd.set_matrix_data(33, 0, {}));
        kd.set_points({{0, 0, 0}, {1, 0, 0}, {0, 2, 0}});
        CHECK(kd.search_knn(Vec3{0, 0, 0}, -1, idx, d2) == -1 && idx.size() == 1);
        CHECK(kd.search_hybrid(Vec3{0, 0, 0}, 1.0, -1, idx, d2) == -1);
        double q2[2] = {0, 0};
        CHECK(kd.search_radius(q2, 2, 1.0, idx, d2) == -1);
        CHECK(kd.search_knn(Vec3{0, 0, 0}, 0, idx, d2) == 0 && idx.empty());
        CHECK(kd.search_knn(Vec3{0, 0, 0}, 10, idx, d2) == 3);
        CHECK((idx == std::vector<size_t>{0, 1, 2}) && d2[2] == 4.0);
        CHECK(kd.search_radius(Vec3{0, 0, 0}, 0.0, idx, d2) == 0);
        CHECK(kd.search_radius(Vec3{0, 0, 0}, -1.5, idx, d2) == 2);
        CHECK(kd.search_hybrid(Vec3{0, 0, 0}, 1.5, 5, idx, d2) == 2 && idx[1] == 1);
        CHECK(kd.search_hybrid(Vec3{0, 0, 0}, NAN, 5, idx, d2) == 0);
        CHECK(kd.search(Vec3{0, 0, 0}, KdTreeSearchParam::Hybrid(1.5, 5), idx, d2) == 2);
        CHECK(kd.search(Vec3{0, 0, 0}, KdTreeSearchParam::Knn(2), idx, d2) == 2);
        CHECK(kd.search(Vec3{0, 0, 0}, KdTreeSearchParam::Radius(3.0), idx, d2) == 3);
        double nanq[3] = {NAN, 0, 0};
        CHECK(kd.search_knn(nanq, 3, 3, idx, d2) == 0);
        CHECK(kd.search_radius(nanq, 3, 10.0, idx, d2) == 0);
    }

    // Non-finite coordinates: building and searching terminate.
    {
        const double inf = std::numeric_limits<double>::infinity();
        std::mt19937_64 rng(3);
        for (int variant = 0; variant < 4; ++variant) {
            std::vector<Vec3> pts;
            for (int i = 0; i < 2000; ++i) {
                double x = double(rng() % 1000);
                if (variant == 0 && i % 3 == 0) x = NAN;
                if (variant == 1 && i % 2 == 0) x = (i % 4 == 0) ? inf : -inf;
                if (variant == 2 && i == 0) x = NAN;
                if (variant == 3) x = NAN;
                pts.push_back({x, double(i % 7), 1.0});
            }
            KdTreeFlann kd(pts);
            CHECK(kd.has_tree());
            check_structure(*kd.tree());
            std::vector<size_t> idx;
            std::vector<double> d2;
            for (Vec3 q : {Vec3{1, 2, 1}, Vec3{NAN, 0, 0}, Vec3{inf, 0, 0}, Vec3{-inf, inf, 0}}) {
                kd.search_knn(q, 5, idx, d2);
                kd.search_radius(q, 50.0, idx, d2);
                bool finite = std::all_of(d2.begin(), d2.end(), [](double d) { return std::isfinite(d); });
                CHECK(finite);
            }
        }
    }

    // Concurrent searches on one const tree give the sequential results.
    {
        std::mt19937_64 rng(5);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<Vec3> pts(20000);
        for (auto& p : pts) p = {u(rng), u(rng), u(rng)};
        const KdTreeFlann kd(pts);
        std::vector<std::vector<size_t>> seq(pts.size()), par(pts.size());
        std::vector<double> d2;
        for (size_t i = 0; i < 2000; ++i) kd.search_radius(pts[i], 0.05, seq[i], d2);
        parallel_for(2000, [&](size_t i) {
            std::vector<double> dd;
            kd.search_radius(pts[i], 0.05, par[i], dd);
        });
        bool same = true;
        for (size_t i = 0; i < 2000; ++i) same = same && seq[i] == par[i];
        CHECK(same);
    }
    return check_report();
}
