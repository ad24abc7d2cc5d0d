// Prime-bucket chained hash map keyed by voxel index triples.
//
// The order in which entries are visited is part of every result built on
// this map (voxel down-sampling emits points in it, voxel grids list voxels in
// it), so the bucket counts, the growth points, where a node is linked and how
// nodes are relinked on growth are all fixed here rather than left to a
// standard library. Iteration walks one singly linked list:
//
//   - a new node goes to the front of its bucket; a node starting a bucket
//     that was empty becomes the list head;
//   - each bucket slot holds the predecessor of the bucket's first node (a
//     node index, or kBeforeBegin for the head), so the nodes of one bucket
//     are consecutive in the list;
//   - growth relinks the list front to back into the new buckets with the
//     same two rules, reusing the cached full hashes.
//
// Nodes live in contiguous arrays in insertion order (links and values kept
// apart) and refer to each other by index; entries are never removed
// individually.
#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "core/linalg.h"

namespace ombrix {

// Hash of a voxel index: wrapping 64-bit arithmetic on the sign-extended
// components, mixed in the order k0, k1, k2.
inline uint64_t voxel_index_hash(const Vec3i& k) {
    constexpr uint64_t C = 0x9E3779B9ull;
    uint64_t s = static_cast<uint64_t>(static_cast<int64_t>(k[0])) + C;
    s ^= static_cast<uint64_t>(static_cast<int64_t>(k[1])) + C + (s << 6) + (s >> 2);
    s ^= static_cast<uint64_t>(static_cast<int64_t>(k[2])) + C + (s << 6) + (s >> 2);
    return s;
}

namespace stdhash_detail {

inline constexpr std::array<uint64_t, 188> kPrimes = {
    2,        3,        5,        7,        11,       13,       17,       19,       23,       29,       31,
    37,       41,       43,       47,       53,       59,       61,       67,       71,       73,       79,
    83,       89,       97,       103,      109,      113,      127,      137,      139,      149,      157,
    167,      179,      193,      199,      211,      227,      241,      257,      277,      293,      313,
    337,      359,      383,      409,      439,      467,      503,      541,      577,      619,      661,
    709,      761,      823,      887,      953,      1031,     1109,     1193,     1289,     1381,     1493,
    1613,     1741,     1879,     2029,     2179,     2357,     2549,     2753,     2971,     3209,     3469,
    3739,     4027,     4349,     4703,     5087,     5503,     5953,     6427,     6949,     7517,     8123,
    8783,     9497,     10273,    11113,    12011,    12983,    14033,    15173,    16411,    17749,    19183,
    20753,    22447,    24281,    26267,    28411,    30727,    33223,    35933,    38873,    42043,    45481,
    49201,    53201,    57557,    62233,    67307,    72817,    78779,    85229,    92203,    99733,    107897,
    116731,   126271,   136607,   147793,   159871,   172933,   187091,   202409,   218971,   236897,   256279,
    277261,   299951,   324503,   351061,   379787,   410857,   444487,   480881,   520241,   562841,   608903,
    658753,   712697,   771049,   834181,   902483,   976369,   1056323,  1142821,  1236397,  1337629,  1447153,
    1565659,  1693859,  1832561,  1982627,  2144977,  2320627,  2510653,  2716249,  2938679,  3179303,  3439651,
    3721303,  4026031,  4355707,  4712381,  5098259,  5515729,  5967347,  6456007,  6984629,  7556579,  8175383,
    8844859,  9569143,  10352717, 11200489, 12117689, 13109983, 14183539, 15345007, 16601593, 17961079, 19431899,
    21023161,
};

inline constexpr std::array<uint8_t, 13> kSmall = {1, 2, 2, 3, 5, 5, 7, 7, 11, 11, 11, 11, 13};

inline bool is_odd_prime(uint64_t c) {
    for (uint64_t d = 3; d <= c / d; d += 2)
        if (c % d == 0) return false;
    return true;
}

}  // namespace stdhash_detail

// x % d by multiplication (Lemire, Kaser, Kurz: "Faster remainder by direct
// computation"): exact for every 64-bit x and d >= 1, and several times
// cheaper than a 64-bit division. Bucket indices are taken on every lookup.
class Remainder {
public:
    explicit Remainder(uint64_t d = 1) : d_(d), m_(~static_cast<unsigned __int128>(0) / d + 1) {}
    uint64_t divisor() const { return d_; }
    uint64_t of(uint64_t x) const {
        const unsigned __int128 low = m_ * x;  // wraps modulo 2^128
        const unsigned __int128 bottom = (static_cast<unsigned __int128>(static_cast<uint64_t>(low)) * d_) >> 64;
        const unsigned __int128 top = static_cast<unsigned __int128>(static_cast<uint64_t>(low >> 64)) * d_;
        return static_cast<uint64_t>((bottom + top) >> 64);
    }

private:
    uint64_t d_;
    unsigned __int128 m_;
};

// Bucket count for a request of n buckets.
inline uint64_t next_bkt(uint64_t n) {
    using namespace stdhash_detail;
    if (n < kSmall.size()) return kSmall[n];
    if (n <= kPrimes.back()) return *std::lower_bound(kPrimes.begin(), kPrimes.end(), n);
    uint64_t c = n | 1;
    while (!is_odd_prime(c)) c += 2;
    return c;
}

template <class V>
class StdUnorderedMap {
public:
    using Key = Vec3i;
    using Index = size_t;
    static constexpr Index kNone = std::numeric_limits<Index>::max();
    // Slot contents: kEmpty, kBeforeBegin (the bucket starts at the head) or
    // the index of the node preceding the bucket's first node.
    static constexpr Index kEmpty = kNone;
    static constexpr Index kBeforeBegin = kNone - 1;

    // The list part of a node. Links and values live in two parallel arrays:
    // lookups, growth and iteration order touch only the compact links.
    struct Link {
        Index next;
        uint64_t hash;  // full hash, cached at insertion
        Key key;
    };

    StdUnorderedMap() : buckets_(1, kEmpty) {}

    // Sized for n entries up front: bucket_count = next_bkt(n), and the map
    // grows only when that many entries are exceeded.
    static StdUnorderedMap with_bucket_hint(uint64_t n) {
        StdUnorderedMap m;
        uint64_t count = next_bkt(n);
        if (count >= 2) m.do_rehash(count);
        m.next_resize_ = count;
        return m;
    }

    Index find(const Key& key) const { return find_hashed(key, voxel_index_hash(key)); }

    // The node holding `key`, inserting one with value make_value() if absent.
    template <class Make>
    Index find_or_insert(const Key& key, Make&& make_value) {
        uint64_t h = voxel_index_hash(key);
        Index i = find_hashed(key, h);
        if (i != kNone) return i;
        return insert_new(key, h, make_value());
    }

    // Inserts when absent; a present key keeps its entry and `value` is dropped.
    // Returns the node holding the key and whether it was inserted.
    std::pair<Index, bool> insert_unique(const Key& key, V value) {
        uint64_t h = voxel_index_hash(key);
        Index i = find_hashed(key, h);
        if (i != kNone) return {i, false};
        return {insert_new(key, h, std::move(value)), true};
    }

    size_t len() const { return element_count_; }
    size_t size() const { return element_count_; }
    bool is_empty() const { return element_count_ == 0; }
    uint64_t bucket_count() const { return buckets_.size(); }
    uint64_t next_resize() const { return next_resize_; }
    uint64_t bucket_of(const Key& key) const { return rem_.of(voxel_index_hash(key)); }
    // Content of bucket b's slot: kEmpty, kBeforeBegin or a node index.
    Index slot(uint64_t b) const { return buckets_[b]; }

    void clear() {
        links_.clear();
        values_.clear();
        buckets_.assign(1, kEmpty);
        rem_ = Remainder(1);
        head_ = kNone;
        element_count_ = 0;
        next_resize_ = 0;
    }

    // Node i (nodes are numbered in insertion order).
    const Key& key(Index i) const { return links_[i].key; }
    uint64_t hash(Index i) const { return links_[i].hash; }
    V& value(Index i) { return values_[i]; }
    const V& value(Index i) const { return values_[i]; }

    // Iteration: head(), then next(i) until kNone.
    Index head() const { return head_; }
    Index next(Index i) const { return links_[i].next; }

    // Node indices in iteration order.
    std::vector<Index> order() const {
        std::vector<Index> out;
        out.reserve(element_count_);
        for (Index i = head_; i != kNone; i = links_[i].next) out.push_back(i);
        return out;
    }

    // Calls fn(key, value) for every entry in iteration order.
    template <class F>
    void for_each(F&& fn) const {
        for (Index i = head_; i != kNone; i = links_[i].next) fn(links_[i].key, values_[i]);
    }
    template <class F>
    void for_each(F&& fn) {
        for (Index i = head_; i != kNone; i = links_[i].next) fn(links_[i].key, values_[i]);
    }

    // Relinks every node into n buckets (n >= 1), front of the list first.
    void do_rehash(uint64_t n) {
        std::vector<Index> fresh(n, kEmpty);
        const Remainder rem(n);
        Index p = head_;
        head_ = kNone;
        uint64_t prev_first_bucket = 0;
        while (p != kNone) {
            Link& node = links_[p];
            const Index next = node.next;
            const uint64_t b = rem.of(node.hash);
            if (fresh[b] == kEmpty) {
                node.next = head_;
                head_ = p;
                fresh[b] = kBeforeBegin;
                if (node.next != kNone) fresh[prev_first_bucket] = p;
                prev_first_bucket = b;
            } else {
                Index& after = next_of(fresh[b]);
                node.next = after;
                after = p;
            }
            p = next;
        }
        buckets_ = std::move(fresh);
        rem_ = rem;
    }

private:
    Index& next_of(Index pred) { return pred == kBeforeBegin ? head_ : links_[pred].next; }
    Index next_of(Index pred) const { return pred == kBeforeBegin ? head_ : links_[pred].next; }

    Index find_hashed(const Key& key, uint64_t h) const {
        const uint64_t b = rem_.of(h);
        if (buckets_[b] == kEmpty) return kNone;
        for (Index p = next_of(buckets_[b]); p != kNone; p = links_[p].next) {
            const Link& q = links_[p];
            if (q.hash == h) {
                if (q.key == key) return p;
            } else if (rem_.of(q.hash) != b) {
                return kNone;  // left the bucket
            }
        }
        return kNone;
    }

    Index insert_new(const Key& key, uint64_t h, V&& value) {
        // Growth is decided before the node is linked.
        const uint64_t n = element_count_ + 1;
        if (n > next_resize_) {
            const uint64_t x = next_resize_ != 0 ? n : std::max<uint64_t>(n, 11);
            const double min_buckets = static_cast<double>(x) / 1.0;
            const uint64_t count = buckets_.size();
            if (min_buckets >= static_cast<double>(count)) {
                const uint64_t want = std::max<uint64_t>(static_cast<uint64_t>(min_buckets) + 1, 2 * count);
                const uint64_t fresh = next_bkt(want);
                do_rehash(fresh);
                next_resize_ = fresh;
            } else {
                next_resize_ = count;
            }
        }
        const Index idx = links_.size();
        const uint64_t b = rem_.of(h);
        links_.push_back(Link{kNone, h, key});
        values_.push_back(std::move(value));
        Link& node = links_[idx];
        if (buckets_[b] != kEmpty) {
            Index& after = next_of(buckets_[b]);
            node.next = after;
            after = idx;
        } else {
            node.next = head_;
            head_ = idx;
            if (node.next != kNone) buckets_[rem_.of(links_[node.next].hash)] = idx;
            buckets_[b] = kBeforeBegin;
        }
        ++element_count_;
        return idx;
    }

    std::vector<Link> links_;
    std::vector<V> values_;
    std::vector<Index> buckets_;  // bucket_count == buckets_.size()
    Remainder rem_;               // x % bucket_count
    Index head_ = kNone;
    uint64_t element_count_ = 0;
    uint64_t next_resize_ = 0;
};

}  // namespace ombrix
