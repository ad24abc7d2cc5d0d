// Eigenvector of the smallest eigenvalue of a symmetric 3x3 matrix, as used by
// normal estimation. Two solvers: a closed-form one (trigonometric eigenvalues,
// then the best-conditioned cross product of two rows of A - λI) and an
// iterative one (Householder tridiagonalisation followed by implicit symmetric
// QR steps). Normals are compared bit for bit, so both follow a fixed sequence
// of operations; see the .cpp. The two are not bit-identical to each other.
#pragma once

#include "core/linalg.h"

namespace ombrix {

// The six distinct entries of a symmetric 3x3 matrix.
struct SymMat3 {
    double xx = 0.0, yy = 0.0, zz = 0.0;
    double xy = 0.0, yz = 0.0, xz = 0.0;
};

// Unit eigenvector of the smallest eigenvalue, or (0, 0, 0) when the matrix is
// zero or the direction cannot be determined (the caller substitutes its own
// fallback). NaN input yields a vector containing NaN or (0, 0, 0).
Vec3 smallest_eigenvector_closed_form(const SymMat3& a);

// Same result from the iterative solver; (0, 0, 0) when the QR iteration does
// not converge within 90 steps.
Vec3 smallest_eigenvector_iterative(const SymMat3& a);

}  // namespace ombrix
