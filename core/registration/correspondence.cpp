#include "core/registration/correspondence.h"

#include <cmath>
#include <vector>

#include "core/kdtree.h"
#include "core/parallel.h"

namespace ombrix {

namespace {

// match[i] = index of the nearest vector of `ref` to vector i of `query`, or -1.
std::vector<int32_t> nearest_matches(const Feature& query, const Feature& ref) {
    std::vector<int32_t> match(query.n, -1);
    // No index over an empty reference; a query of another dimension never matches.
    if (ref.dim == 0 || ref.n == 0 || query.dim != ref.dim) return match;
    KdTreeFlann tree;
    if (!tree.set_matrix_data(ref.dim, ref.n, std::vector<double>(ref.data))) return match;
    const size_t dim = query.dim;
    parallel_for(
        query.n,
        [&](size_t i) {
            thread_local std::vector<size_t> idx;
            thread_local std::vector<double> d2;
            if (tree.search_knn(query.data.data() + i * dim, dim, 1, idx, d2) > 0) match[i] = static_cast<int32_t>(idx[0]);
        },
        16);
    return match;
}

}  // namespace

int32_t mutual_threshold(float ratio, uint64_t n_source) {
    const float t = ratio * static_cast<float>(n_source);
    if (std::isnan(t)) return 0;
    if (t >= 2147483520.0f) return INT32_MAX;
    if (t <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(t);
}

CorrespondenceSet correspondences_from_features(const Feature& source, const Feature& target, bool mutual_filter,
                                                float mutual_consistency_ratio) {
    CorrespondenceSet out;
    const uint64_t ns = source.n, nt = target.n;
    if (ns == 0 || nt == 0) return out;

    const std::vector<int32_t> forward = nearest_matches(source, target);
    auto valid = [&](int32_t t) { return t >= 0 && static_cast<uint64_t>(t) < nt; };
    auto forward_list = [&] {
        CorrespondenceSet all;
        for (uint64_t j = 0; j < ns; ++j)
            if (valid(forward[j])) all.push_back({static_cast<int32_t>(j), forward[j]});
        return all;
    };
    if (!mutual_filter) return forward_list();

    const std::vector<int32_t> backward = nearest_matches(target, source);
    for (uint64_t j = 0; j < ns; ++j) {
        const int32_t t = forward[j];
        if (valid(t) && backward[static_cast<size_t>(t)] == static_cast<int32_t>(j))
            out.push_back({static_cast<int32_t>(j), t});
    }
    if (static_cast<int64_t>(out.size()) >= mutual_threshold(mutual_consistency_ratio, ns)) return out;
    return forward_list();
}

}  // namespace ombrix
