// Records exchanged by the registration functions.
#pragma once
#include <cstdint>
#include <vector>

#include "core/linalg.h"

namespace ombrix {

// Ordered (source index, target index) pairs.
using CorrespondenceSet = std::vector<Vec2i>;

struct RegistrationResult {
    Mat4 transformation = mat4_identity();
    CorrespondenceSet correspondence_set;
    double inlier_rmse = 0.0;
    double fitness = 0.0;
};

struct ICPConvergenceCriteria {
    double relative_fitness = 1e-6;
    double relative_rmse = 1e-6;
    int32_t max_iteration = 30;
};

struct RANSACConvergenceCriteria {
    int32_t max_iteration = 100000;
    double confidence = 0.999;
};

// dim x n matrix stored column by column: point j's vector is data[j*dim .. j*dim+dim).
struct Feature {
    std::vector<double> data;
    uint64_t dim = 0;
    uint64_t n = 0;

    void resize(uint64_t d, uint64_t count) {
        dim = d;
        n = count;
        data.assign(d * count, 0.0);
    }
};

}  // namespace ombrix
