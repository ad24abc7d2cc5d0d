// Introsort with a fixed, reproducible permutation of equal keys.
//
// The sort is unstable, and the order it leaves equal keys in is visible in
// results (radius-search neighbour order, the edge order fed to Kruskal), so
// every step here -- the median-of-three, the unguarded partition, the heap
// fallback and the final insertion passes -- is written out and must not be
// replaced by std::sort or any "equivalent" sort.
//
// Usage:
//   ombrix::stdsort::sort(v.data(), v.size(), [](const R& a, const R& b) { return a.key < b.key; });
//   ombrix::stdsort::sort_by_key(v, [](const R& r) { return r.key; });
//
// `less` must be a strict "<" on the key; keys that compare false both ways
// (equal, or NaN) are only reordered by the partition's swaps. No allocation.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ombrix::stdsort {

// Records of the two sorted lists in the library.
struct Neighbour {
    uint64_t index;
    double dist2;
};
struct Edge {
    uint64_t u;
    uint64_t v;
    double weight;
};

inline constexpr std::ptrdiff_t kInsertionThreshold = 16;

// Sift `value` down from `hole` in the heap [first, first + length), then push
// it back up no higher than `hole`.
template <class T, class Less>
void adjust_heap(T* first, std::ptrdiff_t hole, std::ptrdiff_t length, T value, Less& less) {
    const std::ptrdiff_t top = hole;
    std::ptrdiff_t child = hole;
    while (child < (length - 1) / 2) {
        child = 2 * (child + 1);
        if (less(first[child], first[child - 1])) --child;
        first[hole] = std::move(first[child]);
        hole = child;
    }
    if ((length & 1) == 0 && child == (length - 2) / 2) {
        child = 2 * (child + 1);
        first[hole] = std::move(first[child - 1]);
        hole = child - 1;
    }
    std::ptrdiff_t parent = (hole - 1) / 2;
    while (hole > top && less(first[parent], value)) {
        first[hole] = std::move(first[parent]);
        hole = parent;
        parent = (hole - 1) / 2;
    }
    first[hole] = std::move(value);
}

template <class T, class Less>
void heap_sort(T* first, T* last, Less& less) {
    std::ptrdiff_t len = last - first;
    if (len >= 2) {
        for (std::ptrdiff_t parent = (len - 2) / 2;; --parent) {
            T v = std::move(first[parent]);
            adjust_heap(first, parent, len, std::move(v), less);
            if (parent == 0) break;
        }
    }
    while (len > 1) {
        --len;
        T v = std::move(first[len]);
        first[len] = std::move(first[0]);
        adjust_heap(first, std::ptrdiff_t(0), len, std::move(v), less);
    }
}

namespace detail {

template <class T, class Less>
void move_median_to_first(T* result, T* a, T* b, T* c, Less& less) {
    using std::swap;
    if (less(*a, *b)) {
        if (less(*b, *c))
            swap(*result, *b);
        else if (less(*a, *c))
            swap(*result, *c);
        else
            swap(*result, *a);
    } else if (less(*a, *c)) {
        swap(*result, *a);
    } else if (less(*b, *c)) {
        swap(*result, *c);
    } else {
        swap(*result, *b);
    }
}

// Partition [first, last) around *pivot (which lies just before first).
template <class T, class Less>
T* unguarded_partition(T* first, T* last, T* pivot, Less& less) {
    using std::swap;
    for (;;) {
        while (less(*first, *pivot)) ++first;
        --last;
        while (less(*pivot, *last)) --last;
        if (!(first < last)) return first;
        swap(*first, *last);
        ++first;
    }
}

template <class T, class Less>
void unguarded_linear_insert(T* i, Less& less) {
    T v = std::move(*i);
    T* prev = i - 1;
    while (less(v, *prev)) {
        *i = std::move(*prev);
        i = prev;
        --prev;
    }
    *i = std::move(v);
}

template <class T, class Less>
void insertion_sort(T* first, T* last, Less& less) {
    if (first == last) return;
    for (T* i = first + 1; i != last; ++i) {
        if (less(*i, *first)) {
            T v = std::move(*i);
            for (T* p = i; p != first; --p) *p = std::move(*(p - 1));
            *first = std::move(v);
        } else {
            unguarded_linear_insert(i, less);
        }
    }
}

}  // namespace detail

// Partitioning phase on [first, last); ranges of 16 or fewer are left to the
// final insertion sort.
template <class T, class Less>
void introsort_loop(T* first, T* last, std::ptrdiff_t depth_limit, Less& less) {
    while (last - first > kInsertionThreshold) {
        if (depth_limit == 0) {
            heap_sort(first, last, less);
            return;
        }
        --depth_limit;
        T* mid = first + (last - first) / 2;
        detail::move_median_to_first(first, first + 1, mid, last - 1, less);
        T* cut = detail::unguarded_partition(first + 1, last, first, less);
        introsort_loop(cut, last, depth_limit, less);
        last = cut;
    }
}

// Sorts data[0, n) ascending under `less`.
template <class T, class Less>
void sort(T* data, std::size_t n, Less less) {
    if (n == 0) return;
    T* first = data;
    T* last = data + n;
    const std::ptrdiff_t depth_limit = 2 * (static_cast<std::ptrdiff_t>(std::bit_width(n)) - 1);
    introsort_loop(first, last, depth_limit, less);
    if (last - first > kInsertionThreshold) {
        detail::insertion_sort(first, first + kInsertionThreshold, less);
        for (T* i = first + kInsertionThreshold; i != last; ++i) detail::unguarded_linear_insert(i, less);
    } else {
        detail::insertion_sort(first, last, less);
    }
}

template <class T, class Less>
void sort(std::vector<T>& v, Less less) {
    sort(v.data(), v.size(), less);
}

// Sorts by key(record) with "<" on the key.
template <class T, class Key>
void sort_by_key(T* data, std::size_t n, Key key) {
    sort(data, n, [&key](const T& a, const T& b) { return key(a) < key(b); });
}

template <class T, class Key>
void sort_by_key(std::vector<T>& v, Key key) {
    sort_by_key(v.data(), v.size(), key);
}

inline void sort_neighbours(std::vector<Neighbour>& v) {
    sort(v.data(), v.size(), [](const Neighbour& a, const Neighbour& b) { return a.dist2 < b.dist2; });
}

inline void sort_edges(std::vector<Edge>& v) {
    sort(v.data(), v.size(), [](const Edge& a, const Edge& b) { return a.weight < b.weight; });
}

}  // namespace ombrix::stdsort
