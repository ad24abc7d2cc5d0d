// Small dense solvers with a fixed arithmetic: a two-sided Jacobi SVD of 3x3
// matrices and an LDLT factorisation with symmetric pivoting for 6x6 systems.
// Both are specific algorithms, not just any SVD or solver: registration
// results are compared bit for bit, so every operation happens in the order
// written in the .cpp.
#pragma once
#include <array>

#include "core/linalg.h"

namespace ombrix {

using Vec6 = std::array<double, 6>;
using Mat6 = std::array<double, 36>;  // row-major: m[r * 6 + c]

// A = U·diag(sigma)·Vᵀ. U and V are orthogonal, sigma is non-negative and in
// decreasing order.
struct Svd3 {
    Mat3 u = mat3_identity();
    Vec3 sigma = {0.0, 0.0, 0.0};
    Mat3 v = mat3_identity();
};

// Two-sided Jacobi SVD of a 3x3 matrix. The input is first divided by its
// largest absolute entry (1 if all are zero) so that the sweeps work on
// entries of magnitude at most 1. Returns false, leaving *out untouched, when
// the input holds a NaN, its largest entry is infinite, or the factors come
// out non-finite.
bool jacobi_svd3(const Mat3& a, Svd3* out);

// LDLT factorisation with symmetric diagonal pivoting of a 6x6 symmetric
// matrix given by its lower triangle.
struct Ldlt6 {
    Mat6 a{};                        // unit lower factor below the diagonal, D on it
    std::array<int, 6> transpositions{};
};

// Factorises the lower triangle of `m` (the strict upper triangle is ignored).
Ldlt6 ldlt6_factor(const Mat6& m);

// Solves A·x = b with a factorisation. Components that meet a zero (or
// subnormal) pivot come out as 0, so a singular system still gets a solution.
Vec6 ldlt6_solve(const Ldlt6& f, const Vec6& b);

}  // namespace ombrix
