// Static k-d tree over points of any fixed dimension, and the search facade
// every nearest-neighbour lookup in the library goes through.
//
// Results, including the order among points at equal distance, are a pure
// function of the points and the query: the build (middle split, leaves of at
// most 15 points) and the traversal order are fixed, and squared distances are
// summed in a fixed grouping (dim 3: (d0 + d1) + d2; otherwise groups of four
// ((dj + dj+1) + dj+2) + dj+3 added to a running sum, then the remainder).
//
// All reported distances are squared Euclidean distances. Indices are
// positions in the input point order.
//
// Thread safety: a built tree is read-only. Any number of threads may search
// the same const tree (or const KdTreeFlann) concurrently, e.g. from
// parallel_for; each thread reuses its own scratch buffers.
//
//   KdTreeFlann kd;
//   kd.set_points(cloud.points);
//   std::vector<size_t> idx; std::vector<double> d2;
//   int n = kd.search(cloud.points[i], param, idx, d2);   // -1: no tree / bad args
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/linalg.h"

namespace ombrix {

// Core form of a search request.
struct KdTreeSearchParam {
    enum class Kind : int32_t { Knn = 0, Radius = 1, Hybrid = 2 };
    Kind kind = Kind::Knn;
    int32_t knn = 30;      // Knn
    double radius = 0.0;   // Radius, Hybrid
    int32_t max_nn = 0;    // Hybrid

    static KdTreeSearchParam Knn(int32_t k) {
        KdTreeSearchParam p;
        p.kind = Kind::Knn;
        p.knn = k;
        return p;
    }
    static KdTreeSearchParam Radius(double r) {
        KdTreeSearchParam p;
        p.kind = Kind::Radius;
        p.radius = r;
        return p;
    }
    static KdTreeSearchParam Hybrid(double r, int32_t max_nn) {
        KdTreeSearchParam p;
        p.kind = Kind::Hybrid;
        p.radius = r;
        p.max_nn = max_nn;
        return p;
    }
};

class KdTree {
public:
    static constexpr size_t kLeafSize = 15;
    static constexpr uint32_t kLeaf = 0xffffffffu;

    // Leaf: split_dim == kLeaf, [a, b) is its range of perm.
    // Branch: split_dim, split_low/high, a = first child, b = second child.
    struct Node {
        double split_low = 0.0;
        double split_high = 0.0;
        uint32_t a = 0;
        uint32_t b = 0;
        uint32_t split_dim = kLeaf;
        bool is_leaf() const { return split_dim == kLeaf; }
    };
    struct Bound {
        double low;
        double high;
    };

    // Builds from `data` (dim x count doubles, row-major: coordinate j of point
    // i at i*dim + j; taken over). No tree when dim == 0, count == 0, or
    // count does not fit the 32-bit permutation.
    static std::optional<KdTree> build(size_t dim, size_t count, std::vector<double> data);

    size_t dim() const { return dim_; }
    size_t size() const { return count_; }

    // k nearest neighbours of query[0, dim): clears both lists and fills them
    // nearest first; returns their length (min(k, size()) for finite data;
    // points at +inf or NaN distance are never reported). Among equal
    // distances the point met first in the traversal comes first.
    size_t knn_search(const double* query, size_t k, std::vector<size_t>& indices,
                      std::vector<double>& dist2) const;
    // All points with squared distance < radius * radius, ascending by
    // distance (the introsort of stdsort.h fixes the order of ties).
    size_t radius_search(const double* query, double radius, std::vector<size_t>& indices,
                         std::vector<double>& dist2) const;
    // The leading entries of a max_nn-nearest search whose squared distance is
    // < radius * radius.
    size_t hybrid_search(const double* query, double radius, size_t max_nn, std::vector<size_t>& indices,
                         std::vector<double>& dist2) const;

    // Introspection (tests, diagnostics).
    const std::vector<Node>& nodes() const { return nodes_; }
    const std::vector<uint32_t>& perm() const { return perm_; }
    const std::vector<Bound>& bounds() const { return bounds_; }
    // Coordinates of the point stored at permutation slot i.
    const double* point_at_slot(size_t i) const { return pdata_.data() + i * dim_; }

private:
    friend class KdTreeBuilder;
    friend struct KdTreeSearch;
    size_t dim_ = 0;
    size_t count_ = 0;
    // Points stored in permutation order, so a leaf scan reads memory
    // sequentially: slot i holds input point perm_[i].
    std::vector<double> pdata_;
    std::vector<uint32_t> perm_;
    std::vector<Node> nodes_;
    std::vector<Bound> bounds_;
};

// Search facade: holds an optional tree. Every search returns -1 (outputs
// untouched) when there is no tree, a count is negative, or the query length
// differs from the tree's dimension; otherwise the number of results.
class KdTreeFlann {
public:
    KdTreeFlann() = default;
    explicit KdTreeFlann(const std::vector<Vec3>& points) { set_points(points); }

    // Copies the points into a fresh tree (dim 3); an empty list clears the
    // tree. True when a tree was built.
    bool set_points(const std::vector<Vec3>& points) { return set_points(points.data(), points.size()); }
    bool set_points(const Vec3* points, size_t n);
    // dim x n doubles, point j at [j*dim, j*dim + dim) (taken over); dim*n == 0
    // clears the tree. True when a tree was built.
    bool set_matrix_data(size_t dim, size_t n, std::vector<double> data);
    void clear() { tree_.reset(); }

    bool has_tree() const { return tree_.has_value(); }
    const KdTree* tree() const { return tree_ ? &*tree_ : nullptr; }
    size_t dimension() const { return tree_ ? tree_->dim() : 0; }
    size_t size() const { return tree_ ? tree_->size() : 0; }

    int32_t search_knn(const double* query, size_t query_len, int32_t knn, std::vector<size_t>& indices,
                       std::vector<double>& dist2) const;
    int32_t search_radius(const double* query, size_t query_len, double radius, std::vector<size_t>& indices,
                          std::vector<double>& dist2) const;
    int32_t search_hybrid(const double* query, size_t query_len, double radius, int32_t max_nn,
                          std::vector<size_t>& indices, std::vector<double>& dist2) const;
    int32_t search(const double* query, size_t query_len, const KdTreeSearchParam& param,
                   std::vector<size_t>& indices, std::vector<double>& dist2) const;

    // 3-D queries.
    int32_t search_knn(const Vec3& q, int32_t knn, std::vector<size_t>& indices, std::vector<double>& dist2) const {
        return search_knn(q.data(), 3, knn, indices, dist2);
    }
    int32_t search_radius(const Vec3& q, double radius, std::vector<size_t>& indices,
                          std::vector<double>& dist2) const {
        return search_radius(q.data(), 3, radius, indices, dist2);
    }
    int32_t search_hybrid(const Vec3& q, double radius, int32_t max_nn, std::vector<size_t>& indices,
                          std::vector<double>& dist2) const {
        return search_hybrid(q.data(), 3, radius, max_nn, indices, dist2);
    }
    int32_t search(const Vec3& q, const KdTreeSearchParam& param, std::vector<size_t>& indices,
                   std::vector<double>& dist2) const {
        return search(q.data(), 3, param, indices, dist2);
    }

private:
    std::optional<KdTree> tree_;
};

}  // namespace ombrix
