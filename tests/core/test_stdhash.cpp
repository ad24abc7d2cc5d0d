// The prime-bucket map: hash values, bucket counts, growth points and the
// iteration order, checked against cases worked out by hand from the linking
// rules, structural invariants after every insertion, and (with libstdc++,
// whose node-based map follows the same rules) a large randomized comparison.
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "check.h"
#include "core/stdhash.h"

using namespace ombrix;
using Map = StdUnorderedMap<int>;

static std::vector<Vec3i> keys_in_order(const Map& m) {
    std::vector<Vec3i> out;
    m.for_each([&](const Vec3i& k, const int&) { out.push_back(k); });
    return out;
}

// Every slot names the true predecessor of its bucket's first node, empty
// slots have no nodes, and the nodes of one bucket are consecutive.
static bool invariants_hold(const Map& m) {
    const uint64_t n = m.bucket_count();
    std::vector<int> seen(n, 0);  // 0 unseen, 1 current run, 2 finished
    uint64_t prev_bucket = n;
    Map::Index pred = Map::kBeforeBegin;
    size_t count = 0;
    for (Map::Index i = m.head(); i != Map::kNone; i = m.next(i)) {
        uint64_t b = m.hash(i) % n;
        if (b != prev_bucket) {
            if (seen[b] != 0) return false;  // bucket split in two runs
            if (m.slot(b) != pred) return false;
            if (prev_bucket != n) seen[prev_bucket] = 2;
            seen[b] = 1;
            prev_bucket = b;
        }
        if (m.hash(i) != voxel_index_hash(m.key(i))) return false;
        pred = i;
        ++count;
    }
    for (uint64_t b = 0; b < n; ++b)
        if ((seen[b] == 0) != (m.slot(b) == Map::kEmpty)) return false;
    return count == m.len();
}

static void insert_all(Map& m, const std::vector<Vec3i>& keys) {
    for (const Vec3i& k : keys) m.find_or_insert(k, [] { return 0; });
}

int main() {
    // Hash values.
    CHECK(voxel_index_hash({0, 0, 0}) == 11093822414574ull);
    CHECK(voxel_index_hash({1, 2, 3}) == 11093822460243ull);
    CHECK(voxel_index_hash({-1, -1, -1}) == 11093822418561ull);
    // Sign extension: -1 is not the 32-bit pattern 0xffffffff zero-extended.
    {
        constexpr uint64_t C = 0x9E3779B9ull;
        uint64_t s = 4294967295ull + C;
        s ^= C + (s << 6) + (s >> 2);
        s ^= C + (s << 6) + (s >> 2);
        CHECK(voxel_index_hash({-1, 0, 0}) != s);
    }

    // The multiplicative remainder agrees with the division everywhere we
    // could look: edge numerators against every table prime and beyond.
    {
        std::mt19937_64 rng(99);
        std::vector<uint64_t> divisors(stdhash_detail::kPrimes.begin(), stdhash_detail::kPrimes.end());
        for (uint64_t d : std::initializer_list<uint64_t>{1, 4, 21023183, 30000001, 4294967311ull, (1ull << 63) + 1, ~0ull})
            divisors.push_back(d);
        bool same = true;
        for (uint64_t d : divisors) {
            Remainder r(d);
            for (uint64_t x : std::initializer_list<uint64_t>{0, 1, d - 1, d, d + 1, 2 * d - 1, ~0ull, ~0ull - 1, 1ull << 63, 11093822414574ull})
                if (r.of(x) != x % d) same = false;
            for (int i = 0; i < 2000; ++i) {
                uint64_t x = rng();
                if (r.of(x) != x % d || r.of(x >> (i % 64)) != (x >> (i % 64)) % d) same = false;
            }
        }
        CHECK(same);
    }

    // Bucket-count function.
    {
        const uint64_t in[] = {0, 1, 2, 3, 4, 8, 12, 13, 14, 97, 98, 14034, 21023161, 21023162, 30000000};
        const uint64_t out[] = {1, 2, 2, 3, 5, 11, 13, 13, 17, 97, 103, 15173, 21023161, 21023183, 30000001};
        for (size_t i = 0; i < sizeof(in) / sizeof(in[0]); ++i) CHECK(next_bkt(in[i]) == out[i]);
        CHECK(next_bkt(5) == 5 && next_bkt(6) == 7 && next_bkt(7) == 7 && next_bkt(9) == 11 && next_bkt(11) == 11);
    }

    // Growth points of new() and of with_bucket_hint(0), one key at a time.
    {
        const std::vector<std::pair<size_t, uint64_t>> grow_new = {{1, 13},    {14, 29},    {30, 59},
                                                                   {60, 127},  {128, 257},  {258, 541},
                                                                   {542, 1109}, {1110, 2357}, {2358, 5087}};
        const std::vector<std::pair<size_t, uint64_t>> grow_hint = {
            {1, 1},     {2, 3},     {4, 7},     {8, 17},     {18, 37},     {38, 79},
            {80, 167},  {168, 337}, {338, 709}, {710, 1493}, {1494, 3209}};
        for (int variant = 0; variant < 2; ++variant) {
            Map m = variant == 0 ? Map() : Map::with_bucket_hint(0);
            const auto& points = variant == 0 ? grow_new : grow_hint;
            CHECK(m.bucket_count() == 1);
            CHECK(m.next_resize() == (variant == 0 ? 0u : 1u));
            size_t next_point = 0;
            uint64_t expected = 1;
            bool all_ok = true;
            for (int i = 1; i <= 3200; ++i) {
                m.find_or_insert({i, -i, 7}, [] { return 0; });
                if (next_point < points.size() && points[next_point].first == size_t(i))
                    expected = points[next_point++].second;
                if (m.bucket_count() != expected) all_ok = false;
                if (i % 97 == 0 && !invariants_hold(m)) all_ok = false;
            }
            CHECK(all_ok);
            CHECK(next_point == points.size());
            CHECK(invariants_hold(m));
        }
    }

    // Thirteen buckets, distinct empty buckets: reverse insertion order; the
    // two keys sharing bucket 4 keep the later one in front.
    {
        Map m;
        insert_all(m, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}});
        CHECK(m.bucket_count() == 13);
        CHECK(m.bucket_of({0, 1, 0}) == 4 && m.bucket_of({0, 0, 1}) == 4);
        CHECK((keys_in_order(m) == std::vector<Vec3i>{{1, 1, 1}, {0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, 0, 0}}));
        CHECK(invariants_hold(m));
    }

    // Worked by hand: with_bucket_hint(0), hashes mod 3 / mod 7 of
    //   A=(0,0,0): 0/4  B=(1,0,0): 1/2  C=(0,0,1): 1/5  D=(1,1,1): 1/1.
    // A -> [A]; B grows to 3 buckets, relink [A], B starts bucket 1 -> [B A];
    // C joins bucket 1 at its front (slot 1 = before-begin) -> [C B A];
    // D grows to 7: relinking C, B, A each into empty buckets reverses the
    // list -> [A B C], then D starts bucket 1 -> [D A B C].
    {
        Map m = Map::with_bucket_hint(0);
        insert_all(m, {{0, 0, 0}, {1, 0, 0}});
        CHECK(m.bucket_count() == 3);
        CHECK((keys_in_order(m) == std::vector<Vec3i>{{1, 0, 0}, {0, 0, 0}}));
        insert_all(m, {{0, 0, 1}});
        CHECK((keys_in_order(m) == std::vector<Vec3i>{{0, 0, 1}, {1, 0, 0}, {0, 0, 0}}));
        insert_all(m, {{1, 1, 1}});
        CHECK(m.bucket_count() == 7);
        CHECK((keys_in_order(m) == std::vector<Vec3i>{{1, 1, 1}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}}));
        CHECK(invariants_hold(m));
    }

    // Worked by hand, relinking into an occupied bucket: mod 3 / mod 7 of
    //   A=(0,0,0): 0/4  E=(2,0,0): 2/4  F=(4,0,0): 1/0  G=(3,0,0): 0/3.
    // [A] -> grow, [E A] -> [F E A]; G grows to 7: F starts bucket 0, E
    // starts bucket 4 (slot 0 = E), A joins bucket 4 at the head -> [A E F];
    // G starts bucket 3 -> [G A E F]. Then H=(14,0,0) (mod 7: 0) goes after
    // E, the predecessor of bucket 0, and K=(12,0,0) (mod 7: 4) after G.
    {
        Map m = Map::with_bucket_hint(0);
        insert_all(m, {{0, 0, 0}, {2, 0, 0}, {4, 0, 0}, {3, 0, 0}});
        CHECK((keys_in_order(m) == std::vector<Vec3i>{{3, 0, 0}, {0, 0, 0}, {2, 0, 0}, {4, 0, 0}}));
        insert_all(m, {{14, 0, 0}, {12, 0, 0}});
        CHECK(m.bucket_count() == 7);
        CHECK((keys_in_order(m) ==
               std::vector<Vec3i>{{3, 0, 0}, {12, 0, 0}, {0, 0, 0}, {2, 0, 0}, {14, 0, 0}, {4, 0, 0}}));
        CHECK(invariants_hold(m));
        // Lookups stop at the end of their bucket.
        CHECK(m.find({14, 0, 0}) == 4 && m.find({12, 0, 0}) == 5 && m.find({0, 0, 0}) == 0);
        CHECK(m.find({7, 0, 0}) == Map::kNone);  // bucket 5: empty
        CHECK(m.find({5, 0, 0}) == Map::kNone);  // bucket 5 as well
        CHECK(m.find({0, 2, 0}) == Map::kNone);  // bucket 5
        CHECK(m.find({1, 1, 0}) == Map::kNone);  // bucket 4 (K A E), absent
        CHECK(m.find({2, 1, 0}) == Map::kNone);  // bucket 0 (H F), absent
    }

    // with_bucket_hint(n) for n >= 2 allocates next_bkt(n) buckets and
    // grows only past that many entries.
    {
        Map m = Map::with_bucket_hint(5);
        CHECK(m.bucket_count() == 5 && m.next_resize() == 5);
        for (int i = 0; i < 5; ++i) m.find_or_insert({i, i, i}, [] { return 0; });
        CHECK(m.bucket_count() == 5);
        m.find_or_insert({9, 9, 9}, [] { return 0; });
        CHECK(m.bucket_count() == 11 && m.next_resize() == 11);
        CHECK(invariants_hold(m));
    }

    // Present keys: nothing changes.
    {
        Map m;
        m.insert_unique({1, 2, 3}, 10);
        m.insert_unique({4, 5, 6}, 20);
        auto before = keys_in_order(m);
        auto r = m.insert_unique({1, 2, 3}, 99);
        CHECK(!r.second && m.value(r.first) == 10);
        CHECK(m.len() == 2 && keys_in_order(m) == before && m.bucket_count() == 13 && m.next_resize() == 13);
        bool made = false;
        auto i = m.find_or_insert({4, 5, 6}, [&] {
            made = true;
            return 0;
        });
        CHECK(!made && m.value(i) == 20);
    }

    // Empty and single-entry maps; clear returns to the new() state.
    {
        Map m;
        CHECK(keys_in_order(m).empty() && m.is_empty() && m.find({0, 0, 0}) == Map::kNone);
        Map one = Map::with_bucket_hint(0);
        one.insert_unique({-5, 7, 2147483647}, 1);
        CHECK((keys_in_order(one) == std::vector<Vec3i>{{-5, 7, 2147483647}}));
        insert_all(m, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
        Map copy = m;
        CHECK(keys_in_order(copy) == keys_in_order(m));
        m.clear();
        CHECK(m.is_empty() && m.bucket_count() == 1 && m.next_resize() == 0 && keys_in_order(m).empty());
        m.insert_unique({1, 1, 1}, 0);
        CHECK(m.bucket_count() == 13);
    }

#if defined(__GLIBCXX__)
    // libstdc++'s node-based map uses the same prime buckets, growth points
    // and linking rules below 21023161 buckets: same hash, same order.
    {
        struct H {
            size_t operator()(const Vec3i& k) const { return voxel_index_hash(k); }
        };
        std::mt19937 rng(12345);
        std::uniform_int_distribution<int> d(-40, 40);
        Map m;
        std::unordered_map<Vec3i, int, H> ref;
        bool same = true;
        for (int i = 0; i < 60000; ++i) {
            Vec3i k{d(rng), d(rng), d(rng) / 4};
            m.find_or_insert(k, [] { return 0; });
            ref.emplace(k, 0);
            if (m.bucket_count() != ref.bucket_count()) same = false;
        }
        std::vector<Vec3i> ref_keys;
        for (const auto& kv : ref) ref_keys.push_back(kv.first);
        CHECK(same);
        CHECK(m.len() == ref.size());
        CHECK(keys_in_order(m) == ref_keys);
        CHECK(invariants_hold(m));
    }
#endif
    return check_report();
}
