#include "core/dense_solvers.h"

#include <cmath>
#include <utility>

namespace ombrix {
namespace {

constexpr double kMin = 2.2250738585072014e-308;     // smallest normal double
constexpr double kPrecision = 4.440892098500626e-16;  // 2^-51

// Sweeps stop when a whole sweep rotates nothing; this bound only guards
// against input that never settles (it is far above what finite input needs).
constexpr int kMaxSweeps = 1000;

inline double& at(Mat3& m, int r, int c) { return m[r * 3 + c]; }
inline double at(const Mat3& m, int r, int c) { return m[r * 3 + c]; }

void swap_columns(Mat3& m, int a, int b) {
    for (int r = 0; r < 3; ++r) std::swap(at(m, r, a), at(m, r, b));
}

// One 2x2 step on the (p, q) block of w: a plane rotation on the left that
// makes the block symmetric, then the symmetric Jacobi rotation that
// diagonalises it. The left rotation is applied to the rows of w and the
// columns of u, the right one to the columns of w and v.
void rotate_pair(Mat3& w, Mat3& u, Mat3& v, int p, int q) {
    double c1, s1;
    double t = at(w, p, p) + at(w, q, q);
    double d = at(w, q, p) - at(w, p, q);
    if (std::fabs(d) < kMin) {
        c1 = 1.0;
        s1 = 0.0;
    } else {
        double uu = t / d;
        double h = std::sqrt(uu * uu + 1.0);
        c1 = uu / h;
        s1 = 1.0 / h;
    }
    double x = c1 * at(w, p, p) + s1 * at(w, q, p);
    double y = c1 * at(w, p, q) + s1 * at(w, q, q);
    double z = c1 * at(w, q, q) - s1 * at(w, p, q);
    double cr, sr;
    double deno = 2.0 * std::fabs(y);
    if (deno < kMin) {
        cr = 1.0;
        sr = 0.0;
    } else {
        double tau = (x - z) / deno;
        double ww = std::sqrt(tau * tau + 1.0);
        double tt = tau > 0.0 ? 1.0 / (tau + ww) : 1.0 / (tau - ww);
        double sign_t = tt > 0.0 ? 1.0 : -1.0;
        double n = 1.0 / std::sqrt(tt * tt + 1.0);
        sr = ((-sign_t) * (y / std::fabs(y))) * std::fabs(tt) * n;
        cr = n;
    }
    double cl = c1 * cr + s1 * sr;
    double sl = s1 * cr - c1 * sr;

    for (int c = 0; c < 3; ++c) {
        double a = at(w, p, c), b = at(w, q, c);
        at(w, p, c) = cl * a + sl * b;
        at(w, q, c) = cl * b - sl * a;
    }
    for (int r = 0; r < 3; ++r) {
        double a = at(u, r, p), b = at(u, r, q);
        at(u, r, p) = cl * a + sl * b;
        at(u, r, q) = cl * b - sl * a;
    }
    for (int r = 0; r < 3; ++r) {
        double a = at(w, r, p), b = at(w, r, q);
        at(w, r, p) = cr * a - sr * b;
        at(w, r, q) = cr * b + sr * a;
    }
    for (int r = 0; r < 3; ++r) {
        double a = at(v, r, p), b = at(v, r, q);
        at(v, r, p) = cr * a - sr * b;
        at(v, r, q) = cr * b + sr * a;
    }
}

}  // namespace

bool jacobi_svd3(const Mat3& a, Svd3* out) {
    double scale = 0.0;
    for (int i = 0; i < 9; ++i) {
        if (std::isnan(a[i])) return false;
        double m = std::fabs(a[i]);
        if (m > scale) scale = m;
    }
    if (std::isinf(scale)) return false;
    if (scale == 0.0) scale = 1.0;

    Mat3 w;
    for (int i = 0; i < 9; ++i) w[i] = a[i] / scale;
    Mat3 u = mat3_identity();
    Mat3 v = mat3_identity();

    static constexpr int kPairs[3][2] = {{1, 0}, {2, 0}, {2, 1}};
    double max_diag = std::fmax(std::fabs(at(w, 0, 0)), std::fmax(std::fabs(at(w, 1, 1)), std::fabs(at(w, 2, 2))));
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        bool rotated = false;
        for (const auto& pq : kPairs) {
            int p = pq[0], q = pq[1];
            double threshold = max_diag * kPrecision;
            if (!(threshold > kMin)) threshold = kMin;
            if (std::fabs(at(w, p, q)) > threshold || std::fabs(at(w, q, p)) > threshold) {
                rotated = true;
                rotate_pair(w, u, v, p, q);
                double dp = std::fabs(at(w, p, p)), dq = std::fabs(at(w, q, q));
                if (dp > max_diag) max_diag = dp;
                if (dq > max_diag) max_diag = dq;
            }
        }
        if (!rotated) break;
    }

    Vec3 sigma;
    for (int i = 0; i < 3; ++i) {
        double d = at(w, i, i);
        if (d < 0.0)
            for (int r = 0; r < 3; ++r) at(u, r, i) = -at(u, r, i);
        sigma[i] = std::fabs(d) * scale;
    }

    // Decreasing order: the largest value first, then the larger of the other two.
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (sigma[i] > sigma[k]) k = i;
    if (sigma[k] != 0.0) {
        if (k != 0) {
            std::swap(sigma[0], sigma[k]);
            swap_columns(u, 0, k);
            swap_columns(v, 0, k);
        }
        if (sigma[2] > sigma[1]) {
            std::swap(sigma[1], sigma[2]);
            swap_columns(u, 1, 2);
            swap_columns(v, 1, 2);
        }
    }

    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(u[i]) || !std::isfinite(v[i])) return false;
    out->u = u;
    out->sigma = sigma;
    out->v = v;
    return true;
}

Ldlt6 ldlt6_factor(const Mat6& m) {
    Ldlt6 f;
    Mat6& a = f.a;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) a[i * 6 + j] = j <= i ? m[i * 6 + j] : 0.0;
    auto A = [&a](int r, int c) -> double& { return a[r * 6 + c]; };

    for (int k = 0; k < 6; ++k) {
        int p = k;
        double biggest = std::fabs(A(k, k));
        for (int i = k + 1; i < 6; ++i) {
            double d = std::fabs(A(i, i));
            if (d > biggest) {
                biggest = d;
                p = i;
            }
        }
        f.transpositions[k] = p;
        if (p != k) {
            for (int j = 0; j < k; ++j) std::swap(A(k, j), A(p, j));
            for (int i = p + 1; i < 6; ++i) std::swap(A(i, k), A(i, p));
            std::swap(A(k, k), A(p, p));
            for (int i = k + 1; i < p; ++i) std::swap(A(i, k), A(p, i));
        }
        if (k > 0) {
            double temp[6];
            for (int j = 0; j < k; ++j) temp[j] = A(j, j) * A(k, j);
            double s = 0.0;
            for (int j = 0; j < k; ++j) s += A(k, j) * temp[j];
            A(k, k) -= s;
            for (int i = k + 1; i < 6; ++i) {
                double si = 0.0;
                for (int j = 0; j < k; ++j) si += A(i, j) * temp[j];
                A(i, k) -= si;
            }
        }
        if (k == 0 && A(0, 0) == 0.0) {
            // The largest diagonal entry is zero: nothing to factorise.
            for (int j = 0; j < 6; ++j) f.transpositions[j] = j;
            break;
        }
        if (A(k, k) != 0.0)
            for (int i = k + 1; i < 6; ++i) A(i, k) /= A(k, k);
    }
    return f;
}

Vec6 ldlt6_solve(const Ldlt6& f, const Vec6& rhs) {
    const Mat6& a = f.a;
    auto A = [&a](int r, int c) { return a[r * 6 + c]; };
    Vec6 b = rhs;
    for (int k = 0; k < 6; ++k) std::swap(b[k], b[f.transpositions[k]]);
    for (int j = 0; j < 6; ++j)
        for (int i = j + 1; i < 6; ++i) b[i] -= A(i, j) * b[j];
    for (int i = 0; i < 6; ++i) {
        double d = A(i, i);
        b[i] = std::fabs(d) > kMin ? b[i] / d : 0.0;
    }
    for (int i = 5; i >= 0; --i) {
        double s = 0.0;
        for (int j = i + 1; j < 6; ++j) s += A(j, i) * b[j];
        b[i] -= s;
    }
    for (int k = 5; k >= 0; --k) std::swap(b[k], b[f.transpositions[k]]);
    return b;
}

}  // namespace ombrix
