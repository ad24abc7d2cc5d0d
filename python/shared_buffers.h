// Keeps NumPy arrays over geometry attributes from ever pointing at freed
// memory. `__array__` marks the attribute exported; before anything lets an
// exported attribute's buffer move (growth past its capacity, replacement by
// another vector), the buffer is retired: kept alive, unused, until the
// geometry dies (every shared array holds the geometry). Only buffers exported
// since their last move are retired, so memory stays bounded by the geometric
// growth of each buffer.
#pragma once
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/linalg.h"

namespace ombrix::py {

// Retired buffers of one element type.
template <class T>
struct RetiredList {
    std::vector<std::vector<T>> buffers;

    // Moves attr's buffer into the list when `exported` (attr is then left
    // empty); otherwise leaves attr alone, for the caller to replace or free.
    void retire(std::vector<T>& attr, bool exported) {
        if (!exported) return;
        buffers.push_back(std::move(attr));
        attr = std::vector<T>();
    }
    // Capacity for `count` elements, contents kept; an exported buffer is
    // copied into a new one and retired instead of being reallocated in place.
    void reserve(std::vector<T>& attr, size_t count, size_t capacity, bool exported) {
        if (attr.capacity() >= count) return;
        if (capacity < count) capacity = count;
        if (!exported) {
            attr.reserve(capacity);
            return;
        }
        std::vector<T> fresh;
        fresh.reserve(capacity);
        fresh.assign(attr.begin(), attr.end());
        retire(attr, true);
        attr = std::move(fresh);
    }
};

// Growth target for element-by-element growth (append, insert, extend):
// geometric, so repeated appends stay amortised O(1).
inline size_t grown_capacity(size_t capacity, size_t count) {
    return count > capacity * 2 ? count : capacity * 2;
}

struct SharedBuffers {
    uint32_t exported = 0;  // bit per ViewTarget code
    RetiredList<Vec3> retired3;
    RetiredList<Vec3i> retired3i;

    void mark_exported(int target) { exported |= 1u << target; }
    bool is_exported(int target) const { return (exported >> target) & 1u; }

    // Ensures attr can hold `count` elements without moving its buffer again
    // (exactly `count` when it must grow).
    template <class T>
    void reserve(int target, std::vector<T>& attr, size_t count) {
        if (attr.capacity() >= count) return;
        list<T>().reserve(attr, count, count, is_exported(target));
        exported &= ~(1u << target);
    }
    // Same, growing geometrically: for appending a few elements at a time.
    template <class T>
    void grow(int target, std::vector<T>& attr, size_t count) {
        if (attr.capacity() >= count) return;
        list<T>().reserve(attr, count, grown_capacity(attr.capacity(), count), is_exported(target));
        exported &= ~(1u << target);
    }

    // Moves attr's buffer out of the way if an array may point into it (attr
    // is then left empty). Call before replacing or freeing attr wholesale.
    template <class T>
    void retire(int target, std::vector<T>& attr) {
        list<T>().retire(attr, is_exported(target));
        exported &= ~(1u << target);
    }

    template <class T>
    RetiredList<T>& list() {
        if constexpr (std::is_same_v<T, Vec3>)
            return retired3;
        else
            return retired3i;
    }
};

// ViewTarget codes.
enum ViewTarget : uint8_t {
    kPcdPoints = 0,
    kPcdNormals = 1,
    kPcdColors = 2,
    kMeshVertices = 3,
    kMeshVertexNormals = 4,
    kMeshVertexColors = 5,
    kMeshTriangleNormals = 6,
    kMeshTriangles = 10,
};

}  // namespace ombrix::py
