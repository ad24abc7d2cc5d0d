// Smallest-eigenvector solvers: hand-worked degenerate cases, and matrices
// built as R·diag(l)·Rᵀ from known rotations, whose answer is a column of R.
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "check.h"
#include "core/eigen_solvers.h"

using namespace ombrix;

namespace {

struct Rng {
    uint64_t s = 0x2545F4914F6CDD1Dull;
    double next() {  // [-1, 1)
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        uint64_t v = s * 2685821657736338717ull;
        return static_cast<double>(v >> 11) / 9007199254740992.0 * 2.0 - 1.0;
    }
};

bool same(const Vec3& a, const Vec3& b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

bool has_nan_or_zero(const Vec3& v) {
    return std::isnan(v[0]) || std::isnan(v[1]) || std::isnan(v[2]) || (v[0] == 0 && v[1] == 0 && v[2] == 0);
}

// |dot| close to 1 for unit vectors a and b: parallel up to sign.
double misalignment(const Vec3& a, const Vec3& b) {
    double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    return 1.0 - std::fabs(d);
}

double norm(const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Rotation from a (normalised) random quaternion.
Mat3 random_rotation(Rng& rng) {
    double w = rng.next(), x = rng.next(), y = rng.next(), z = rng.next();
    double n = std::sqrt(w * w + x * x + y * y + z * z);
    w /= n, x /= n, y /= n, z /= n;
    return {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
            2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
            2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)};
}

SymMat3 compose(const Mat3& r, const Vec3& l) {
    double a[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k) s += r[i * 3 + k] * l[k] * r[j * 3 + k];
            a[i * 3 + j] = s;
        }
    SymMat3 m;
    m.xx = a[0], m.yy = a[4], m.zz = a[8], m.xy = a[1], m.yz = a[5], m.xz = a[2];
    return m;
}

void degenerate_cases() {
    SymMat3 zero;
    CHECK(same(smallest_eigenvector_closed_form(zero), {0, 0, 0}));
    // The iterative solver sees the identity: all eigenvalues equal, first index wins.
    CHECK(same(smallest_eigenvector_iterative(zero), {1, 0, 0}));

    // Spread only along x: the diagonal rule picks y (a11 <= a22, both 0).
    SymMat3 line;
    line.xx = 4.0;
    CHECK(same(smallest_eigenvector_closed_form(line), {0, 1, 0}));
    CHECK(same(smallest_eigenvector_iterative(line), {0, 1, 0}));

    // Diagonal with distinct entries: the axis of the smallest one.
    SymMat3 diag;
    diag.xx = 3, diag.yy = 1, diag.zz = 2;
    CHECK(same(smallest_eigenvector_closed_form(diag), {0, 1, 0}));
    CHECK(same(smallest_eigenvector_iterative(diag), {0, 1, 0}));
    diag.xx = 3, diag.yy = 2, diag.zz = 1;
    CHECK(same(smallest_eigenvector_closed_form(diag), {0, 0, 1}));
    CHECK(same(smallest_eigenvector_iterative(diag), {0, 0, 1}));
    diag.xx = 1, diag.yy = 1, diag.zz = 1;
    CHECK(same(smallest_eigenvector_closed_form(diag), {1, 0, 0}));

    // Points spread in the plane z = 0: eigenvalues 1.5, 0.5, 0; the cross
    // product of the first two rows of A - λI is exactly along z.
    SymMat3 plane;
    plane.xx = 1, plane.yy = 1, plane.xy = 0.5;
    CHECK(same(smallest_eigenvector_closed_form(plane), {0, 0, 1}));
    Vec3 it = smallest_eigenvector_iterative(plane);
    CHECK(misalignment(it, {0, 0, 1}) < 1e-15);

    // Rank one off the axes: the smallest eigenvalue is double. The closed form
    // finds no row pair to cross and reports no direction; the iterative
    // solver returns some unit vector of the null plane, orthogonal to a.
    Vec3 a = {1, 2, 3};
    SymMat3 r1;
    r1.xx = a[0] * a[0], r1.yy = a[1] * a[1], r1.zz = a[2] * a[2];
    r1.xy = a[0] * a[1], r1.yz = a[1] * a[2], r1.xz = a[0] * a[2];
    CHECK(same(smallest_eigenvector_closed_form(r1), {0, 0, 0}));
    Vec3 v = smallest_eigenvector_iterative(r1);
    CHECK(std::fabs(norm(v) - 1.0) < 1e-12);
    CHECK(std::fabs(v[0] * a[0] + v[1] * a[1] + v[2] * a[2]) < 1e-9);

    // NaN input never produces a valid-looking direction.
    SymMat3 bad = plane;
    bad.xy = std::numeric_limits<double>::quiet_NaN();
    CHECK(has_nan_or_zero(smallest_eigenvector_closed_form(bad)));
    CHECK(has_nan_or_zero(smallest_eigenvector_iterative(bad)));
    bad = plane;
    bad.xx = std::numeric_limits<double>::quiet_NaN();
    CHECK(has_nan_or_zero(smallest_eigenvector_iterative(bad)));

    // Tiny but non-zero matrices are scaled first, so they still resolve.
    SymMat3 tiny = plane;
    tiny.xx *= 1e-200, tiny.yy *= 1e-200, tiny.xy *= 1e-200;
    CHECK(same(smallest_eigenvector_closed_form(tiny), {0, 0, 1}));
    CHECK(misalignment(smallest_eigenvector_iterative(tiny), {0, 0, 1}) < 1e-15);
}

void rotated_cases() {
    Rng rng;
    const Vec3 spectra[] = {{1.0, 2.0, 3.0}, {1e-3, 1.0, 1.2}, {0.0, 0.5, 1.0}, {1e-6, 1e-2, 1e-2}, {-1.0, 4.0, 9.0}};
    for (int trial = 0; trial < 400; ++trial) {
        Mat3 r = random_rotation(rng);
        Vec3 l = spectra[trial % 5];
        double scale = std::pow(10.0, (trial % 7) - 3);
        Vec3 ls = {l[0] * scale, l[1] * scale, l[2] * scale};
        // Put the smallest eigenvalue at a varying column.
        int col = trial % 3;
        Vec3 perm = ls;
        std::swap(perm[0], perm[col]);
        SymMat3 m = compose(r, perm);
        Vec3 expect = {r[0 * 3 + col], r[1 * 3 + col], r[2 * 3 + col]};
        // Eigenvector error grows with 1/gap between the two smallest eigenvalues.
        double gap = (l[1] - l[0]) / (l[2] - l[0] > 0 ? l[2] - l[0] : 1.0);
        double tol = 1e-12 / (gap * gap);
        Vec3 cf = smallest_eigenvector_closed_form(m);
        Vec3 itv = smallest_eigenvector_iterative(m);
        CHECK(std::fabs(norm(cf) - 1.0) < 1e-12);
        CHECK(std::fabs(norm(itv) - 1.0) < 1e-12);
        CHECK(misalignment(cf, expect) < tol);
        CHECK(misalignment(itv, expect) < tol);
        if (misalignment(cf, expect) >= tol || misalignment(itv, expect) >= tol)
            std::fprintf(stderr, "trial %d: cf %g it %g tol %g\n", trial, misalignment(cf, expect),
                         misalignment(itv, expect), tol);
    }
}

}  // namespace

int main() {
    degenerate_cases();
    rotated_cases();
    return check_report();
}
