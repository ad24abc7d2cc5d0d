#include "core/kdtree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "core/stdsort.h"

namespace ombrix {

namespace {

using Bound = KdTree::Bound;
using Node = KdTree::Node;

// Trees over data with NaN or infinite coordinates stop splitting at this depth
// (the middle split assumes finite cells); finite data is never limited.
constexpr size_t kMaxDepthNonFinite = 1024;

inline double sq(double x) { return x * x; }

// Smaller / larger of two bounds; a NaN on one side yields the other side.
inline double lower_of(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return b < a ? b : a;
}
inline double upper_of(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return b > a ? b : a;
}

// Per-thread buffers reused by every search on the thread; they carry nothing
// from one query to the next.
struct Scratch {
    std::vector<uint32_t> index;
    std::vector<double> dist;
    std::vector<double> axis;
    std::vector<stdsort::Neighbour> hits;
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

template <class T>
T* grow(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

}  // namespace

// ---------------------------------------------------------------- build

class KdTreeBuilder {
public:
    KdTreeBuilder(KdTree& t, const std::vector<double>& data, bool finite)
        : t_(t), data_(data), dim_(t.dim_), finite_(finite) {}

    double coord(size_t slot, size_t d) const { return data_[size_t(t_.perm_[slot]) * dim_ + d]; }

    void min_max(size_t left, size_t right, size_t d, double& mn, double& mx) const {
        mn = mx = coord(left, d);
        for (size_t i = left + 1; i < right; ++i) {
            const double v = coord(i, d);
            if (v < mn) mn = v;
            if (v > mx) mx = v;
        }
    }

    // Tight box of the points in perm[left, right).
    void tight_box(size_t left, size_t right, std::vector<Bound>& box) const {
        for (size_t d = 0; d < dim_; ++d) box[d].low = box[d].high = coord(left, d);
        for (size_t i = left + 1; i < right; ++i) {
            for (size_t d = 0; d < dim_; ++d) {
                const double v = coord(i, d);
                if (v < box[d].low) box[d].low = v;
                if (v > box[d].high) box[d].high = v;
            }
        }
    }

    // Builds the node for perm[left, right) and refines `box` to its children's.
    uint32_t divide(size_t left, size_t right, std::vector<Bound>& box, size_t depth) {
        const uint32_t node = static_cast<uint32_t>(t_.nodes_.size());
        t_.nodes_.emplace_back();
        const size_t n = right - left;
        if (n <= KdTree::kLeafSize || (!finite_ && depth >= kMaxDepthNonFinite)) {
            Node& leaf = t_.nodes_[node];
            leaf.split_dim = KdTree::kLeaf;
            leaf.a = static_cast<uint32_t>(left);
            leaf.b = static_cast<uint32_t>(right);
            tight_box(left, right, box);
            return node;
        }

        // Middle split: among the dimensions whose cell side is within
        // 0.99999 of the widest, cut the one with the largest point spread.
        double max_span = box[0].high - box[0].low;
        for (size_t d = 1; d < dim_; ++d) {
            const double span = box[d].high - box[d].low;
            if (span > max_span) max_span = span;
        }
        double max_spread = -1.0;
        size_t cut_dim = 0;
        for (size_t d = 0; d < dim_; ++d) {
            const double span = box[d].high - box[d].low;
            if (span > 0.99999 * max_span) {
                double mn, mx;
                min_max(left, right, d, mn, mx);
                const double spread = mx - mn;
                if (spread > max_spread) {
                    cut_dim = d;
                    max_spread = spread;
                }
            }
        }
        const double mid = (box[cut_dim].low + box[cut_dim].high) * 0.5;
        double mn, mx;
        min_max(left, right, cut_dim, mn, mx);
        double cut_value;
        if (mid < mn)
            cut_value = mn;
        else if (mx < mid)
            cut_value = mx;
        else
            cut_value = mid;

        size_t idx = plane_split(left, n, cut_dim, cut_value);
        // With finite coordinates idx is always in [1, n-1]; a NaN cut or NaN
        // coordinates can put everything on one side, which would never shrink.
        if (!finite_ && (idx == 0 || idx >= n)) idx = n / 2;

        std::vector<Bound> left_box(box);
        left_box[cut_dim].high = cut_value;
        const uint32_t first = divide(left, left + idx, left_box, depth + 1);
        std::vector<Bound> right_box(box);
        right_box[cut_dim].low = cut_value;
        const uint32_t second = divide(left + idx, right, right_box, depth + 1);

        Node& br = t_.nodes_[node];
        br.split_dim = static_cast<uint32_t>(cut_dim);
        br.split_low = left_box[cut_dim].high;
        br.split_high = right_box[cut_dim].low;
        br.a = first;
        br.b = second;
        for (size_t d = 0; d < dim_; ++d) {
            box[d].low = lower_of(left_box[d].low, right_box[d].low);
            box[d].high = upper_of(left_box[d].high, right_box[d].high);
        }
        return node;
    }

private:
    // Two-pass partition of perm[left, left + n) around cut_value: first the
    // points strictly below, then those equal; returns the split position.
    size_t plane_split(size_t left, size_t n, size_t cut_dim, double cut_value) {
        uint32_t* p = t_.perm_.data() + left;
        auto v = [&](size_t i) { return data_[size_t(p[i]) * dim_ + cut_dim]; };
        size_t lo = 0, hi = n - 1;
        for (;;) {
            while (lo <= hi && v(lo) < cut_value) ++lo;
            while (hi != 0 && lo <= hi && v(hi) >= cut_value) --hi;
            if (lo > hi || hi == 0) break;
            std::swap(p[lo], p[hi]);
            ++lo;
            --hi;
        }
        const size_t below = lo;
        hi = n - 1;
        for (;;) {
            while (lo <= hi && v(lo) <= cut_value) ++lo;
            while (hi != 0 && lo <= hi && v(hi) > cut_value) --hi;
            if (lo > hi || hi == 0) break;
            std::swap(p[lo], p[hi]);
            ++lo;
            --hi;
        }
        const size_t not_above = lo;
        if (below > n / 2) return below;
        if (not_above < n / 2) return not_above;
        return n / 2;
    }

    KdTree& t_;
    const std::vector<double>& data_;
    size_t dim_;
    bool finite_;
};

std::optional<KdTree> KdTree::build(size_t dim, size_t count, std::vector<double> data) {
    if (dim == 0 || count == 0) return std::nullopt;
    if (count > 0xfffffffeull || data.size() != dim * count) return std::nullopt;
    KdTree t;
    t.dim_ = dim;
    t.count_ = count;
    t.perm_.resize(count);
    for (size_t i = 0; i < count; ++i) t.perm_[i] = static_cast<uint32_t>(i);
    bool finite = true;
    for (double v : data) finite = finite && std::isfinite(v);

    std::vector<Bound> box(dim);
    for (size_t d = 0; d < dim; ++d) box[d].low = box[d].high = data[d];
    for (size_t i = 1; i < count; ++i) {
        for (size_t d = 0; d < dim; ++d) {
            const double v = data[i * dim + d];
            if (v < box[d].low) box[d].low = v;
            if (v > box[d].high) box[d].high = v;
        }
    }
    t.nodes_.reserve(2 * (count / KdTree::kLeafSize) + 1);
    KdTreeBuilder b(t, data, finite);
    b.divide(0, count, box, 0);
    t.bounds_ = std::move(box);

    // Store the points in permutation order for sequential leaf scans.
    t.pdata_.resize(dim * count);
    for (size_t i = 0; i < count; ++i) {
        const double* src = data.data() + size_t(t.perm_[i]) * dim;
        std::copy(src, src + dim, t.pdata_.data() + i * dim);
    }
    return t;
}

// ---------------------------------------------------------------- search

namespace {

// Capacity-k list, nearest first; a new point goes after every stored point at
// the same distance, and a point at exactly the k-th distance is not admitted.
struct KnnSet {
    uint32_t* index;
    double* dist;
    size_t cap;
    size_t count = 0;

    KnnSet(uint32_t* i, double* d, size_t k) : index(i), dist(d), cap(k) { dist[cap - 1] = DBL_MAX; }
    double worst() const { return dist[cap - 1]; }
    void add(uint32_t idx, double d) {
        size_t g = count;
        while (g > 0 && dist[g - 1] > d) {
            if (g < cap) {
                dist[g] = dist[g - 1];
                index[g] = index[g - 1];
            }
            --g;
        }
        if (g < cap) {
            dist[g] = d;
            index[g] = idx;
        }
        if (count < cap) ++count;
    }
};

struct RadiusSet {
    std::vector<stdsort::Neighbour>& hits;
    double r2;
    double worst() const { return r2; }
    void add(uint32_t idx, double d) { hits.push_back({idx, d}); }
};

}  // namespace

struct KdTreeSearch {
    // Squared distance in the library's fixed grouping.
    static inline double metric3(const double* q, const double* p) {
        const double d0 = sq(q[0] - p[0]);
        const double d1 = sq(q[1] - p[1]);
        const double d2 = sq(q[2] - p[2]);
        return (d0 + d1) + d2;
    }
    static inline double metric_n(const double* q, const double* p, size_t dim) {
        double acc = 0.0;
        size_t j = 0;
        for (; j + 3 < dim; j += 4) {
            const double a = sq(q[j] - p[j]);
            const double b = sq(q[j + 1] - p[j + 1]);
            const double c = sq(q[j + 2] - p[j + 2]);
            const double d = sq(q[j + 3] - p[j + 3]);
            acc += ((a + b) + c) + d;
        }
        for (; j < dim; ++j) acc += sq(q[j] - p[j]);
        return acc;
    }

    template <bool kDim3, class Set>
    struct Walker {
        const Node* nodes;
        const double* pdata;
        const uint32_t* perm;
        size_t dim;
        const double* q;
        double* axis;
        Set& set;

        void level(uint32_t ni, double min_dist) {
            const Node& nd = nodes[ni];
            if (nd.is_leaf()) {
                const double worst = set.worst();
                for (uint32_t i = nd.a; i < nd.b; ++i) {
                    const double d = kDim3 ? metric3(q, pdata + size_t(i) * 3) : metric_n(q, pdata + size_t(i) * dim, dim);
                    if (d < worst) set.add(perm[i], d);
                }
                return;
            }
            const uint32_t sd = nd.split_dim;
            const double v = q[sd];
            const double diff1 = v - nd.split_low;
            const double diff2 = v - nd.split_high;
            uint32_t best, other;
            double cut;
            if ((diff1 + diff2) < 0) {
                best = nd.a;
                other = nd.b;
                cut = sq(diff2);
            } else {
                best = nd.b;
                other = nd.a;
                cut = sq(diff1);
            }
            level(best, min_dist);
            const double saved = axis[sd];
            const double next = (min_dist + cut) - saved;
            axis[sd] = cut;
            if (set.worst() >= next) level(other, next);
            axis[sd] = saved;
        }
    };

    static double initial_distances(const KdTree& t, const double* q, double* axis) {
        double sum = 0.0;
        for (size_t i = 0; i < t.dim_; ++i) {
            axis[i] = 0.0;
            if (q[i] < t.bounds_[i].low) {
                axis[i] = sq(q[i] - t.bounds_[i].low);
                sum += axis[i];
            }
            if (q[i] > t.bounds_[i].high) {
                axis[i] = sq(q[i] - t.bounds_[i].high);
                sum += axis[i];
            }
        }
        return sum;
    }

    template <class Set>
    static void run(const KdTree& t, const double* q, Set& set, double* axis) {
        const double min_dist = initial_distances(t, q, axis);
        if (t.dim_ == 3) {
            Walker<true, Set> w{t.nodes_.data(), t.pdata_.data(), t.perm_.data(), 3, q, axis, set};
            w.level(0, min_dist);
        } else {
            Walker<false, Set> w{t.nodes_.data(), t.pdata_.data(), t.perm_.data(), t.dim_, q, axis, set};
            w.level(0, min_dist);
        }
    }
};

size_t KdTree::knn_search(const double* query, size_t k, std::vector<size_t>& indices,
                          std::vector<double>& dist2) const {
    indices.clear();
    dist2.clear();
    if (k == 0) return 0;
    // A capacity above the point count admits exactly the same points.
    const size_t cap = std::min(k, count_);
    Scratch& s = scratch();
    KnnSet set(grow(s.index, cap), grow(s.dist, cap), cap);
    KdTreeSearch::run(*this, query, set, grow(s.axis, dim_));
    indices.resize(set.count);
    dist2.resize(set.count);
    for (size_t i = 0; i < set.count; ++i) {
        indices[i] = set.index[i];
        dist2[i] = set.dist[i];
    }
    return set.count;
}

size_t KdTree::radius_search(const double* query, double radius, std::vector<size_t>& indices,
                             std::vector<double>& dist2) const {
    indices.clear();
    dist2.clear();
    Scratch& s = scratch();
    std::vector<stdsort::Neighbour> hits = std::move(s.hits);
    hits.clear();
    RadiusSet set{hits, radius * radius};
    KdTreeSearch::run(*this, query, set, grow(s.axis, dim_));
    stdsort::sort_neighbours(hits);
    indices.resize(hits.size());
    dist2.resize(hits.size());
    for (size_t i = 0; i < hits.size(); ++i) {
        indices[i] = hits[i].index;
        dist2[i] = hits[i].dist2;
    }
    const size_t m = hits.size();
    s.hits = std::move(hits);
    return m;
}

size_t KdTree::hybrid_search(const double* query, double radius, size_t max_nn, std::vector<size_t>& indices,
                             std::vector<double>& dist2) const {
    const double r2 = radius * radius;
    const size_t m = knn_search(query, max_nn, indices, dist2);
    if (m == 0) return 0;
    const size_t keep = static_cast<size_t>(std::lower_bound(dist2.begin(), dist2.end(), r2) - dist2.begin());
    indices.resize(keep);
    dist2.resize(keep);
    return keep;
}

// ---------------------------------------------------------------- facade

bool KdTreeFlann::set_points(const Vec3* points, size_t n) {
    tree_.reset();
    if (n == 0) return false;
    std::vector<double> data(3 * n);
    for (size_t i = 0; i < n; ++i) {
        data[3 * i] = points[i][0];
        data[3 * i + 1] = points[i][1];
        data[3 * i + 2] = points[i][2];
    }
    tree_ = KdTree::build(3, n, std::move(data));
    return tree_.has_value();
}

bool KdTreeFlann::set_matrix_data(size_t dim, size_t n, std::vector<double> data) {
    tree_.reset();
    if (dim == 0 || n == 0) return false;
    tree_ = KdTree::build(dim, n, std::move(data));
    return tree_.has_value();
}

int32_t KdTreeFlann::search_knn(const double* query, size_t query_len, int32_t knn, std::vector<size_t>& indices,
                                std::vector<double>& dist2) const {
    if (!tree_ || knn < 0 || query_len != tree_->dim()) return -1;
    return static_cast<int32_t>(tree_->knn_search(query, static_cast<size_t>(knn), indices, dist2));
}

int32_t KdTreeFlann::search_radius(const double* query, size_t query_len, double radius,
                                   std::vector<size_t>& indices, std::vector<double>& dist2) const {
    if (!tree_ || query_len != tree_->dim()) return -1;
    return static_cast<int32_t>(tree_->radius_search(query, radius, indices, dist2));
}

int32_t KdTreeFlann::search_hybrid(const double* query, size_t query_len, double radius, int32_t max_nn,
                                   std::vector<size_t>& indices, std::vector<double>& dist2) const {
    if (!tree_ || max_nn < 0 || query_len != tree_->dim()) return -1;
    return static_cast<int32_t>(tree_->hybrid_search(query, radius, static_cast<size_t>(max_nn), indices, dist2));
}

int32_t KdTreeFlann::search(const double* query, size_t query_len, const KdTreeSearchParam& param,
                            std::vector<size_t>& indices, std::vector<double>& dist2) const {
    switch (param.kind) {
        case KdTreeSearchParam::Kind::Knn:
            return search_knn(query, query_len, param.knn, indices, dist2);
        case KdTreeSearchParam::Kind::Radius:
            return search_radius(query, query_len, param.radius, indices, dist2);
        case KdTreeSearchParam::Kind::Hybrid:
            return search_hybrid(query, query_len, param.radius, param.max_nn, indices, dist2);
    }
    return -1;
}

}  // namespace ombrix
