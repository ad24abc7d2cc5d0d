// Jacobi SVD and 6x6 LDLT: exact hand-worked cases plus reconstruction
// invariants on pseudo-random input.
#include <cmath>
#include <cstdint>
#include <limits>

#include "check.h"
#include "core/dense_solvers.h"

using namespace ombrix;

namespace {

// Small deterministic generator for test input (xorshift64*).
struct Rng {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    double next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        uint64_t v = s * 2685821657736338717ull;
        return static_cast<double>(v >> 11) / 9007199254740992.0 * 2.0 - 1.0;  // [-1, 1)
    }
};

bool near(double a, double b, double tol) { return std::fabs(a - b) <= tol; }

Mat3 reconstruct(const Svd3& s) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i * 3 + j] += s.u[i * 3 + k] * s.sigma[k] * s.v[j * 3 + k];
    return r;
}

double orthogonality_error(const Mat3& m) {
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double d = 0.0;
            for (int k = 0; k < 3; ++k) d += m[k * 3 + i] * m[k * 3 + j];
            worst = std::fmax(worst, std::fabs(d - (i == j ? 1.0 : 0.0)));
        }
    return worst;
}

void check_svd_invariants(const Mat3& a) {
    Svd3 s;
    CHECK(jacobi_svd3(a, &s));
    double norm = 0.0;
    for (double e : a) norm = std::fmax(norm, std::fabs(e));
    Mat3 r = reconstruct(s);
    for (int i = 0; i < 9; ++i) CHECK(near(r[i], a[i], 1e-14 * (norm + 1e-300)));
    CHECK(orthogonality_error(s.u) < 1e-14);
    CHECK(orthogonality_error(s.v) < 1e-14);
    CHECK(s.sigma[0] >= s.sigma[1] && s.sigma[1] >= s.sigma[2] && s.sigma[2] >= 0.0);
}

void test_svd_diagonal_is_exact() {
    // diag(1, -4, 2): no rotation; the negative entry flips a column of U and
    // the ordering moves the columns to (4, 2, 1).
    Mat3 a = {1, 0, 0, 0, -4, 0, 0, 0, 2};
    Svd3 s;
    CHECK(jacobi_svd3(a, &s));
    CHECK(s.sigma[0] == 4.0 && s.sigma[1] == 2.0 && s.sigma[2] == 1.0);
    Mat3 u = {0, 0, 1, -1, 0, 0, 0, 1, 0};
    Mat3 v = {0, 0, 1, 1, 0, 0, 0, 1, 0};
    for (int i = 0; i < 9; ++i) {
        CHECK(s.u[i] == u[i]);
        CHECK(s.v[i] == v[i]);
    }
}

void test_svd_zero_and_invalid() {
    Svd3 s;
    CHECK(jacobi_svd3(Mat3{}, &s));
    for (int i = 0; i < 3; ++i) CHECK(s.sigma[i] == 0.0);
    CHECK(s.u == mat3_identity() && s.v == mat3_identity());

    Svd3 untouched;
    untouched.sigma = {7, 7, 7};
    Mat3 bad = mat3_identity();
    bad[4] = std::numeric_limits<double>::quiet_NaN();
    CHECK(!jacobi_svd3(bad, &untouched));
    bad[4] = std::numeric_limits<double>::infinity();
    CHECK(!jacobi_svd3(bad, &untouched));
    CHECK(untouched.sigma[0] == 7.0);
}

void test_svd_two_by_two_rotation() {
    // A 2-D rotation by 30 degrees embedded with a scale of 3: singular values
    // (3, 3, 1) and U·Vᵀ equal to the rotation block.
    double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    Mat3 a = {3 * c, -3 * s, 0, 3 * s, 3 * c, 0, 0, 0, 1};
    Svd3 r;
    CHECK(jacobi_svd3(a, &r));
    CHECK(near(r.sigma[0], 3.0, 1e-14) && near(r.sigma[1], 3.0, 1e-14) && near(r.sigma[2], 1.0, 1e-15));
    check_svd_invariants(a);
}

void test_svd_invariants_random() {
    Rng rng;
    for (int t = 0; t < 500; ++t) {
        Mat3 a;
        for (double& e : a) e = rng.next() * (t % 7 == 0 ? 1e6 : 1.0);
        if (t % 5 == 0)  // rank one
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) a[i * 3 + j] = a[i] * a[3 + j];
        if (t % 11 == 0)  // rank two: third row a mix of the first two
            for (int j = 0; j < 3; ++j) a[6 + j] = 0.5 * a[j] - 2.0 * a[3 + j];
        check_svd_invariants(a);
    }
}

Mat6 diag6(const Vec6& d) {
    Mat6 m{};
    for (int i = 0; i < 6; ++i) m[i * 6 + i] = d[i];
    return m;
}

void test_ldlt_diagonal_is_exact() {
    Mat6 m = diag6({1, 2, 4, 8, 16, 32});
    Ldlt6 f = ldlt6_factor(m);
    // Largest diagonal first: 32 moves to the front, then 16, ...
    CHECK(f.transpositions[0] == 5 && f.transpositions[1] == 4 && f.transpositions[2] == 3);
    Vec6 x = ldlt6_solve(f, {3, 6, 12, 24, 48, 96});
    for (int i = 0; i < 6; ++i) CHECK(x[i] == 3.0);
}

void test_ldlt_hand_worked_block() {
    // [[4, 2], [2, 3]] ⊕ I: L(1,0) = 0.5, D = (4, 2); the solution of
    // (2, 3, 5, 5, 5, 5) is (0, 1, 5, 5, 5, 5), every step exact.
    Mat6 m = diag6({4, 3, 1, 1, 1, 1});
    m[1 * 6 + 0] = 2;
    m[0 * 6 + 1] = 2;
    Ldlt6 f = ldlt6_factor(m);
    CHECK(f.a[0] == 4.0 && f.a[1 * 6 + 0] == 0.5 && f.a[1 * 6 + 1] == 2.0);
    Vec6 x = ldlt6_solve(f, {2, 3, 5, 5, 5, 5});
    Vec6 want = {0, 1, 5, 5, 5, 5};
    for (int i = 0; i < 6; ++i) CHECK(x[i] == want[i]);
}

void test_ldlt_reads_lower_triangle_only() {
    Rng rng;
    Mat6 m{};
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j <= i; ++j) m[i * 6 + j] = rng.next();
    for (int i = 0; i < 6; ++i) m[i * 6 + i] += 6.0;
    Mat6 garbage = m;
    for (int i = 0; i < 6; ++i)
        for (int j = i + 1; j < 6; ++j) garbage[i * 6 + j] = 1e300;
    Vec6 b = {1, -2, 3, -4, 5, -6};
    Vec6 x1 = ldlt6_solve(ldlt6_factor(m), b);
    Vec6 x2 = ldlt6_solve(ldlt6_factor(garbage), b);
    for (int i = 0; i < 6; ++i) CHECK(x1[i] == x2[i]);
}

void test_ldlt_singular_gives_zeros() {
    Vec6 x = ldlt6_solve(ldlt6_factor(Mat6{}), {1, 2, 3, 4, 5, 6});
    for (int i = 0; i < 6; ++i) CHECK(x[i] == 0.0);

    // Rank 3: only the last three components are determined.
    Mat6 m = diag6({0, 0, 0, 2, 4, 8});
    Vec6 y = ldlt6_solve(ldlt6_factor(m), {1, 1, 1, 2, 4, 8});
    for (int i = 0; i < 3; ++i) CHECK(y[i] == 0.0);
    for (int i = 3; i < 6; ++i) CHECK(y[i] == 1.0);
}

void test_ldlt_random_spd() {
    Rng rng;
    for (int t = 0; t < 200; ++t) {
        // A = Bᵀ·B + 0.1·I is symmetric positive definite.
        double bm[36];
        for (double& e : bm) e = rng.next();
        Mat6 a{};
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 6; ++j) {
                for (int k = 0; k < 6; ++k) a[i * 6 + j] += bm[k * 6 + i] * bm[k * 6 + j];
                if (i == j) a[i * 6 + j] += 0.1;
            }
        Vec6 b;
        for (double& e : b) e = rng.next();
        Vec6 x = ldlt6_solve(ldlt6_factor(a), b);
        for (int i = 0; i < 6; ++i) {
            double r = -b[i];
            for (int j = 0; j < 6; ++j) r += a[i * 6 + j] * x[j];
            CHECK(std::fabs(r) < 1e-10);
        }
    }
}

}  // namespace

int main() {
    test_svd_diagonal_is_exact();
    test_svd_zero_and_invalid();
    test_svd_two_by_two_rotation();
    test_svd_invariants_random();
    test_ldlt_diagonal_is_exact();
    test_ldlt_hand_worked_block();
    test_ldlt_reads_lower_triangle_only();
    test_ldlt_singular_gives_zeros();
    test_ldlt_random_spd();
    return check_report();
}
