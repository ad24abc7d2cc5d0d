// Introsort: the permutation of equal keys is part of the contract, so the
// expected orders below were worked through the partition steps by hand.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "check.h"
#include "core/stdsort.h"

using ombrix::stdsort::Edge;
using ombrix::stdsort::Neighbour;

static std::vector<uint64_t> sorted_payloads(const std::vector<double>& keys) {
    std::vector<Neighbour> v;
    for (size_t i = 0; i < keys.size(); ++i) v.push_back({i, keys[i]});
    ombrix::stdsort::sort_neighbours(v);
    std::vector<uint64_t> out;
    for (auto& r : v) out.push_back(r.index);
    return out;
}

int main() {
    // 17 equal keys: median-of-three moves record 8 to the front, the
    // partition then swaps the rest pairwise.
    CHECK(sorted_payloads(std::vector<double>(17, 1.0)) ==
          (std::vector<uint64_t>{8, 16, 15, 14, 13, 12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1}));
    CHECK(sorted_payloads(std::vector<double>(20, 1.0)) ==
          (std::vector<uint64_t>{10, 19, 18, 17, 16, 15, 14, 13, 12, 11, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    CHECK(sorted_payloads({2, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2}) ==
          (std::vector<uint64_t>{15, 3, 12, 6, 9, 1, 16, 13, 10, 7, 4, 8, 11, 5, 14, 2, 0, 17}));
    // Up to 16 records: insertion only, equal keys keep their input order.
    CHECK(sorted_payloads({3, 1, 3, 1, 2, 0, 2, 0, 1, 3, 2, 0, 1, 3, 2, 0}) ==
          (std::vector<uint64_t>{5, 7, 11, 15, 1, 3, 8, 12, 4, 6, 10, 14, 0, 2, 9, 13}));
    CHECK(sorted_payloads({}).empty());
    CHECK(sorted_payloads({7.0}) == (std::vector<uint64_t>{0}));

    // Edge lists sort by weight with the same permutation of equal keys.
    {
        std::vector<Edge> e;
        for (uint64_t i = 0; i < 17; ++i) e.push_back({i, i + 100, 0.5});
        ombrix::stdsort::sort_edges(e);
        std::vector<uint64_t> u;
        for (auto& r : e) u.push_back(r.u);
        CHECK(u == (std::vector<uint64_t>{8, 16, 15, 14, 13, 12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1}));
        CHECK(e[0].v == 108);
    }

    // Random keys with many duplicates: ascending, a permutation, and the
    // heap-sort fallback (forced by a zero depth limit) sorts as well.
    std::mt19937_64 rng(7);
    for (size_t n : {17u, 100u, 1000u, 20000u}) {
        std::vector<double> keys(n);
        for (auto& k : keys) k = double(rng() % 50);
        std::vector<Neighbour> v;
        for (size_t i = 0; i < n; ++i) v.push_back({i, keys[i]});
        ombrix::stdsort::sort_neighbours(v);
        bool ascending = true;
        for (size_t i = 1; i < n; ++i) ascending = ascending && !(v[i].dist2 < v[i - 1].dist2);
        CHECK(ascending);
        std::vector<uint64_t> idx;
        for (auto& r : v) idx.push_back(r.index);
        std::sort(idx.begin(), idx.end());
        bool perm = true;
        for (size_t i = 0; i < n; ++i) perm = perm && idx[i] == i && v[i].dist2 == keys[v[i].index];
        CHECK(perm);

        std::vector<double> h = keys;
        auto less = [](double a, double b) { return a < b; };
        ombrix::stdsort::introsort_loop(h.data(), h.data() + n, 0, less);
        CHECK(std::is_sorted(h.begin(), h.end()));
    }

    // An adversarial pattern for median-of-three still finishes sorted
    // (the depth limit hands over to heap sort).
    {
        std::vector<double> keys;
        for (int i = 0; i < 4096; ++i) keys.push_back(double(i % 2 ? i : 4096 - i));
        auto out = sorted_payloads(keys);
        bool ok = true;
        for (size_t i = 1; i < out.size(); ++i) ok = ok && keys[out[i - 1]] <= keys[out[i]];
        CHECK(ok);
    }

    // NaN keys never take part in a comparison result; the sort terminates
    // and keeps every record.
    {
        std::vector<double> keys;
        for (int i = 0; i < 300; ++i) keys.push_back(i % 7 == 0 ? NAN : double(i % 13));
        auto out = sorted_payloads(keys);
        std::sort(out.begin(), out.end());
        bool ok = true;
        for (size_t i = 0; i < out.size(); ++i) ok = ok && out[i] == i;
        CHECK(ok && out.size() == 300);
    }
    return check_report();
}
