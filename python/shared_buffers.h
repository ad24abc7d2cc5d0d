// Keeps NumPy arrays over geometry attributes from ever pointing at freed
// memory. `__array__` marks the attribute exported; before anything lets an
// exported attribute's buffer move (growth past its capacity, replacement by
// another vector), the buffer is retired: kept alive, unused, until the
// geometry dies (every shared array holds the geometry). Only buffers exported
// since their last move are retired, so memory stays bounded by the geometric
// growth of each buffer.
#pragma once
#include <cstdint>
#include <vector>

#include "core/linalg.h"

namespace ombrix::py {

struct SharedBuffers {
    uint32_t exported = 0;  // bit per ViewTarget code
    std::vector<std::vector<Vec3>> retired3;
    std::vector<std::vector<Vec3i>> retired3i;

    void mark_exported(int target) { exported |= 1u << target; }
    bool is_exported(int target) const { return (exported >> target) & 1u; }

    // Ensures attr can hold `count` elements without moving its buffer again.
    template <class T>
    void reserve(int target, std::vector<T>& attr, size_t count) {
        if (attr.capacity() >= count) return;
        if (!is_exported(target)) {
            attr.reserve(count);
            return;
        }
        size_t cap = attr.capacity() * 2;
        std::vector<T> fresh;
        fresh.reserve(cap > count ? cap : count);
        fresh.assign(attr.begin(), attr.end());
        retire(target, attr);
        attr = std::move(fresh);
    }

    // Moves attr's buffer out of the way if an array may point into it;
    // attr is left empty. Call before replacing or freeing attr wholesale.
    void retire(int target, std::vector<Vec3>& attr) {
        if (!is_exported(target)) return;
        retired3.push_back(std::move(attr));
        attr = std::vector<Vec3>();
        exported &= ~(1u << target);
    }
    void retire(int target, std::vector<Vec3i>& attr) {
        if (!is_exported(target)) return;
        retired3i.push_back(std::move(attr));
        attr = std::vector<Vec3i>();
        exported &= ~(1u << target);
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
