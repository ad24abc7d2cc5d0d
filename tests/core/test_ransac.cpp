// The batched parallel RANSAC against the sequential reference loop: same
// result and same final engine state, across scenes that stop inside a
// batch, at a batch boundary, or run to max_iteration.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "check.h"
#include "core/random.h"
#include "core/registration/ransac.h"

using namespace ombrix;

namespace {

struct Scene {
    PointCloud source, target;
    CorrespondenceSet corres;
};

// Source in the unit cube, target = R·source + t plus noise; `good` of the
// pairs are true matches, the rest point elsewhere.
Scene make_scene(int n, int pairs, double good_fraction, double noise, uint32_t s) {
    Mt19937 g(s);
    auto u = [&] { return g.next() / 4294967296.0; };
    const double c = std::cos(0.4), sn = std::sin(0.4);
    Scene sc;
    for (int i = 0; i < n; ++i) {
        Vec3 p = {u(), u(), u()};
        sc.source.points.push_back(p);
        Vec3 q = {c * p[0] - sn * p[1] + 0.3, sn * p[0] + c * p[1] - 0.2, p[2] + 0.1};
        for (double& x : q) x += noise * (u() - 0.5);
        sc.target.points.push_back(q);
    }
    const int good = static_cast<int>(pairs * good_fraction);
    for (int k = 0; k < pairs; ++k) {
        int i = static_cast<int>(u() * n);
        int j = k < good ? i : static_cast<int>(u() * n);
        sc.corres.push_back({i, j});
    }
    return sc;
}

bool same(const RegistrationResult& a, const RegistrationResult& b) {
    return a.transformation == b.transformation && a.fitness == b.fitness && a.inlier_rmse == b.inlier_rmse &&
           a.correspondence_set == b.correspondence_set;
}

void compare(const Scene& sc, double d, int32_t k, const CorrespondenceCheckerList& checkers, int32_t max_it,
             double confidence, int expect_found) {
    seed(42);
    auto a = registration_ransac_based_on_correspondence(sc.source, sc.target, sc.corres, d,
                                                         TransformationEstimationKind::PointToPoint, k, checkers,
                                                         max_it, confidence, RansacExecution::Sequential);
    const Mt19937 after_a = snapshot_engine();
    seed(42);
    auto b = registration_ransac_based_on_correspondence(sc.source, sc.target, sc.corres, d,
                                                         TransformationEstimationKind::PointToPoint, k, checkers,
                                                         max_it, confidence, RansacExecution::Batched);
    const Mt19937 after_b = snapshot_engine();
    CHECK(a.ok() && b.ok());
    CHECK(same(*a, *b));
    CHECK(after_a == after_b);
    if (expect_found >= 0) CHECK((a->fitness > 0.0) == (expect_found == 1));
    if (expect_found == 1) CHECK(a->fitness > 0.5);
}

}  // namespace

int main() {
    setenv("OMBRIX_NUM_THREADS", "4", 1);
    const CorrespondenceCheckerList none;
    const CorrespondenceCheckerList checkers = {{CorrespondenceCheckerKind::EdgeLength, 0.9},
                                                {CorrespondenceCheckerKind::Distance, 0.03}};

    Scene noisy = make_scene(1500, 400, 0.3, 0.006, 1);
    for (double conf : {0.999, 0.99, 0.9, 0.0, 1.0}) compare(noisy, 0.01, 3, checkers, 2000, conf, 1);
    compare(noisy, 0.01, 3, none, 500, 0.999, 1);
    compare(noisy, 0.01, 4, checkers, 700, 0.999, 1);
    for (int32_t it : {1, 2, 3, 7, 8, 9, 24, 25, 100}) compare(noisy, 0.01, 3, checkers, it, 1.0, -1);

    Scene exact = make_scene(800, 200, 1.0, 0.0, 2);
    compare(exact, 0.01, 3, none, 1000, 0.999, 1);

    // Nothing passes: every iteration runs, the engine must still match.
    compare(noisy, 0.01, 3, {{CorrespondenceCheckerKind::Distance, 0.0}}, 60, 0.999, 0);

    // A sample that gives up on duplicates.
    Scene dup = exact;
    dup.corres.assign(30, dup.corres[0]);
    compare(dup, 0.01, 3, none, 9, 0.999, 0);

    // Ratio and sampled evaluation on hand-made data.
    {
        PointCloud s, t;
        for (int i = 0; i < 10; ++i) {
            s.points.push_back({double(i), 0, 0});
            t.points.push_back({double(i), i < 4 ? 0.0 : 1.0, 0});
        }
        CorrespondenceSet c;
        for (int i = 0; i < 10; ++i) c.push_back({i, i});
        CHECK(evaluate_inlier_correspondence_ratio(s, t, c, mat4_identity(), 0.5) == 0.4);
        CHECK(evaluate_inlier_correspondence_ratio(s, t, c, mat4_identity(), 1.0) == 0.4);  // strict
        CHECK(evaluate_inlier_correspondence_ratio(s, t, c, mat4_identity(), 1.0001) == 1.0);
        KdTreeFlann tree(t.points);
        RegistrationResult r = get_registration_result_sampled(s, tree, mat4_identity(), 0.5);
        CHECK(r.fitness == 0.4 && r.inlier_rmse == 0.0 && r.correspondence_set.empty());
        CHECK(get_registration_result_sampled(s, tree, mat4_identity(), 0.0).fitness == 0.0);
    }
    // Sub-sampling strides: every 2nd of 4096 points, every 5th of 10000 pairs.
    {
        PointCloud s, t;
        for (int i = 0; i < 10000; ++i) {
            s.points.push_back({double(i), 0, 0});
            t.points.push_back({double(i), (i % 2) ? 5.0 : 0.0, 0});
        }
        CorrespondenceSet c;
        for (int i = 0; i < 10000; ++i) c.push_back({i, i});
        // Visited pairs 0, 2, 4, ... are all inliers.
        CHECK(evaluate_inlier_correspondence_ratio(s, t, c, mat4_identity(), 0.5) == 1.0);
        c.resize(9999);  // stride 1: half of them
        CHECK(evaluate_inlier_correspondence_ratio(s, t, c, mat4_identity(), 0.5) == 5000.0 / 9999.0);
        s.points.resize(4096);
        KdTreeFlann tree(t.points);
        CHECK(get_registration_result_sampled(s, tree, mat4_identity(), 0.5).fitness == 1.0);
        s.points.resize(4095);  // stride 1
        CHECK(get_registration_result_sampled(s, tree, mat4_identity(), 0.5).fitness == 2048.0 / 4095.0);
    }
    return check_report();
}
