#include "core/eigen_solvers.h"

#include <cmath>
#include <limits>

namespace ombrix {
namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;
constexpr double kInvEpsilon = 4503599627370496.0;  // 2^52
constexpr double kTwoThirdsPi = 2.0943951023931953;
constexpr int kMaxQrSteps = 90;

// Largest absolute entry; a NaN is ignored unless it comes first.
double max_abs_entry(const SymMat3& a) {
    const double e[6] = {a.xx, a.yy, a.zz, a.xy, a.yz, a.xz};
    double s = std::fabs(e[0]);
    for (int i = 1; i < 6; ++i) {
        double v = std::fabs(e[i]);
        if (v > s) s = v;
    }
    return s;
}

double sq_norm(const Vec3& v) { return (v[0] * v[0] + v[1] * v[1]) + v[2] * v[2]; }

// hypot with the spelled-out scaling, so its rounding is fixed and not left
// to the C library.
double scaled_hypot(double x, double y) {
    double ax = std::fabs(x), ay = std::fabs(y);
    if (std::isinf(ax) || std::isinf(ay)) return std::numeric_limits<double>::infinity();
    if (std::isnan(ax) || std::isnan(ay)) return std::numeric_limits<double>::quiet_NaN();
    double big = ax > ay ? ax : ay;
    double small = ax > ay ? ay : ax;
    double r = small / big;
    return big * std::sqrt(r * r + 1.0);
}

// Tridiagonal matrix (diag, sub) with the accumulated orthogonal basis q (row-major).
struct Tridiag {
    double diag[3];
    double sub[2];
    double q[9];
};

// One implicit symmetric QR step with a Wilkinson shift on diag[start..end].
void qr_step(Tridiag& t, int start, int end) {
    double* diag = t.diag;
    double* sub = t.sub;
    double td = (diag[end - 1] - diag[end]) * 0.5;
    double e = sub[end - 1];
    double mu = diag[end];
    if (td == 0.0) {
        mu -= std::fabs(e);
    } else {
        double h = scaled_hypot(td, e);
        double d = td > 0.0 ? td + h : td - h;
        double e2 = e * e;
        if (e2 != 0.0)
            mu -= e2 / d;
        else
            mu -= e / (d / e);
    }
    double x = diag[start] - mu;
    double z = sub[start];
    for (int k = start; k < end && z != 0.0; ++k) {
        double c, s;
        if (x == 0.0) {
            c = 0.0;
            s = z < 0.0 ? 1.0 : -1.0;
        } else if (std::fabs(x) > std::fabs(z)) {
            double tau = z / x;
            double u = std::sqrt(tau * tau + 1.0);
            if (x < 0.0) u = -u;
            c = 1.0 / u;
            s = (-tau) * c;
        } else {
            double tau = x / z;
            double u = std::sqrt(tau * tau + 1.0);
            if (z < 0.0) u = -u;
            s = -1.0 / u;
            c = (-tau) * s;
        }

        double d0 = diag[k], d1 = diag[k + 1], e0 = sub[k];
        double sdk = d0 * s + e0 * c;
        double dkp1 = e0 * s + d1 * c;
        diag[k] = (d0 * c - e0 * s) * c - (e0 * c - d1 * s) * s;
        diag[k + 1] = sdk * s + dkp1 * c;
        sub[k] = sdk * c - dkp1 * s;

        if (k > start) sub[k - 1] = c * sub[k - 1] - s * z;

        x = sub[k];
        if (k < end - 1) {
            z = (-s) * sub[k + 1];
            sub[k + 1] = sub[k + 1] * c;
        }

        for (int r = 0; r < 3; ++r) {
            double qk = t.q[r * 3 + k];
            double qk1 = t.q[r * 3 + k + 1];
            t.q[r * 3 + k] = qk * c - s * qk1;
            t.q[r * 3 + k + 1] = qk1 * c + s * qk;
        }
    }
}

}  // namespace

Vec3 smallest_eigenvector_closed_form(const SymMat3& m) {
    const Vec3 zero = {0.0, 0.0, 0.0};
    double s = max_abs_entry(m);
    if (s == 0.0) return zero;

    double a00 = m.xx / s, a11 = m.yy / s, a22 = m.zz / s;
    double a01 = m.xy / s, a02 = m.xz / s, a12 = m.yz / s;

    double off = (a01 * a01 + a02 * a02) + a12 * a12;
    if (off <= 1e-16) {
        // Effectively diagonal: the axis of the smallest diagonal entry.
        if (a00 <= a11 && a00 <= a22) return {1.0, 0.0, 0.0};
        if (a11 <= a22 && a11 <= a00) return {0.0, 1.0, 0.0};
        return {0.0, 0.0, 1.0};
    }

    double q = ((a11 + a22) + a00) / 3.0;
    double b00 = a00 - q, b11 = a11 - q, b22 = a22 - q;
    double p = std::sqrt(((off + off) + ((b00 * b00 + b11 * b11) + b22 * b22)) / 6.0);
    if (p < 1e-16) return zero;

    double c00 = b22 * b11 - a12 * a12;
    double c01 = b22 * a01 - a12 * a02;
    double c02 = a01 * a12 - a02 * b11;
    double det = (b00 * c00 - a01 * c01) + a02 * c02;

    double h = (det / ((p * p) * p)) * 0.5;
    if (h < -1.0) h = -1.0;
    if (h > 1.0) h = 1.0;

    double phi = std::acos(h) / 3.0;
    double cphi = std::cos(phi);
    double beta2 = cphi + cphi;
    double cphi0 = std::cos(phi + kTwoThirdsPi);
    double beta0 = cphi0 + cphi0;

    double e0 = beta0 * p + q;
    double e1 = q - (beta2 + beta0) * p;
    double e2 = beta2 * p + q;

    double min01 = e1 < e0 ? e1 : e0;
    double lambda;
    if (e2 < min01)
        lambda = e2;
    else if (e0 > e1)
        lambda = e1;
    else
        lambda = e0;

    double d00 = a00 - lambda, d11 = a11 - lambda, d22 = a22 - lambda;
    Vec3 u = {a01 * a12 - a02 * d11, a01 * a02 - a12 * d00, d00 * d11 - a01 * a01};
    Vec3 w = {a01 * d22 - a12 * a02, a02 * a02 - d00 * d22, a12 * d00 - a01 * a02};
    Vec3 t = {d11 * d22 - a12 * a12, a12 * a02 - a01 * d22, a01 * a12 - a02 * d11};
    double du = sq_norm(u), dw = sq_norm(w), dt = sq_norm(t);

    Vec3 best = u;
    double dmax = du;
    if (dw > dmax) {
        best = w;
        dmax = dw;
    }
    double dbest = dmax;
    if (dt > dmax) {
        best = t;
        dbest = dt;
    }
    if (dmax <= 1e-16) return zero;
    double len = std::sqrt(dbest);
    return {best[0] / len, best[1] / len, best[2] / len};
}

Vec3 smallest_eigenvector_iterative(const SymMat3& m) {
    double s = max_abs_entry(m);
    if (s == 0.0) s = 1.0;
    double a00 = m.xx / s, a11 = m.yy / s, a22 = m.zz / s;
    double a01 = m.xy / s, a02 = m.xz / s, a12 = m.yz / s;

    Tridiag t;
    double n2 = a02 * a02;
    if (n2 <= kSmallestNormal) {
        t.diag[0] = a00;
        t.diag[1] = a11;
        t.diag[2] = a22;
        t.sub[0] = a01;
        t.sub[1] = a12;
        const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        for (int i = 0; i < 9; ++i) t.q[i] = id[i];
    } else {
        double beta = std::sqrt(n2 + a01 * a01);
        double rho = 1.0 / beta;
        double m1 = a01 * rho;
        double m2 = a02 * rho;
        double g = (a22 - a11) * m2 + (m1 + m1) * a12;
        t.diag[0] = a00;
        t.diag[1] = a11 + m2 * g;
        t.diag[2] = a22 - m2 * g;
        t.sub[0] = beta;
        t.sub[1] = a12 - g * m1;
        const double qq[9] = {1, 0, 0, 0, m1, m2, 0, m2, -m1};
        for (int i = 0; i < 9; ++i) t.q[i] = qq[i];
    }

    int start = 0, end = 2, steps = 0;
    bool converged = false;
    for (;;) {
        for (int i = start; i < end; ++i) {
            if (std::fabs(t.sub[i]) < kSmallestNormal) {
                t.sub[i] = 0.0;
            } else {
                double scaled = t.sub[i] * kInvEpsilon;
                if (scaled * scaled <= std::fabs(t.diag[i]) + std::fabs(t.diag[i + 1])) t.sub[i] = 0.0;
            }
        }
        while (end > 0 && t.sub[end - 1] == 0.0) --end;
        if (end == 0) {
            converged = true;
            break;
        }
        if (steps >= kMaxQrSteps) break;
        start = end - 1;
        while (start > 0 && t.sub[start - 1] != 0.0) --start;
        qr_step(t, start, end);
        ++steps;
    }
    if (!converged) return {0.0, 0.0, 0.0};

    int k = t.diag[0] > t.diag[1] ? 1 : 0;
    if (t.diag[k] > t.diag[2]) k = 2;
    return {t.q[0 * 3 + k], t.q[1 * 3 + k], t.q[2 * 3 + k]};
}

}  // namespace ombrix
