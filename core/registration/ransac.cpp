#include "core/registration/ransac.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "core/parallel.h"
#include "core/random.h"

namespace ombrix {

namespace {

// Moves a source point by T: the 3x3 block in the library's product order,
// then the translation. The last row of T is ignored.
struct Aligner {
    Mat3 a;
    Vec3 t;
    explicit Aligner(const Mat4& m)
        : a{m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]}, t{m[3], m[7], m[11]} {}
    Vec3 operator()(const Vec3& p) const {
        Vec3 q = apply3(a, p);
        return {q[0] + t[0], q[1] + t[1], q[2] + t[2]};
    }
};

bool all_finite(const Mat4& m) {
    for (double v : m)
        if (!std::isfinite(v)) return false;
    return true;
}

// Nearest target point of p: true with its squared distance when found.
inline bool nearest(const KdTreeFlann& tree, const Vec3& p, double* d2out, uint64_t* index) {
    thread_local std::vector<size_t> idx;
    thread_local std::vector<double> d2;
    if (tree.search_knn(p, 1, idx, d2) <= 0) return false;
    *d2out = d2[0];
    *index = idx[0];
    return true;
}

struct Match {
    bool inlier = false;
    int32_t target = 0;
    double d2 = 0.0;
};

// Matches every `stride`-th source point (count `c`) against the target tree,
// then reduces in index order: fitness = inliers / `denominator`,
// RMSE = sqrt(sum / inliers). `parallel` only chooses how the matches are
// computed; the result is the same either way.
RegistrationResult match_and_reduce(const PointCloud& source, const KdTreeFlann& tree, const Mat4& transformation,
                                    double max_distance, size_t stride, size_t count, bool collect, bool parallel) {
    RegistrationResult r;
    r.transformation = transformation;
    if (max_distance <= 0.0) return r;  // NaN passes and matches nothing
    const double limit = max_distance * max_distance;
    const Aligner align(transformation);
    std::vector<Match> m(count);
    auto one = [&](size_t j) {
        double d2;
        uint64_t index;
        if (nearest(tree, align(source.points[j * stride]), &d2, &index) && d2 < limit)
            m[j] = Match{true, static_cast<int32_t>(index), d2};
    };
    if (parallel) parallel_for(count, one, 256);
    else
        for (size_t j = 0; j < count; ++j) one(j);

    double sum = 0.0;
    size_t inliers = 0;
    for (size_t j = 0; j < count; ++j) {
        if (!m[j].inlier) continue;
        sum += m[j].d2;
        ++inliers;
        if (collect) r.correspondence_set.push_back({static_cast<int32_t>(j * stride), m[j].target});
    }
    if (inliers > 0) {
        r.fitness = static_cast<double>(inliers) / static_cast<double>(count);
        r.inlier_rmse = std::sqrt(sum / static_cast<double>(inliers));
    }
    return r;
}

// The full evaluation over all source points.
RegistrationResult evaluate_full(const PointCloud& source, const KdTreeFlann& tree, const Mat4& transformation,
                                 double max_distance, bool collect, bool parallel) {
    return match_and_reduce(source, tree, transformation, max_distance, 1, source.points.size(), collect, parallel);
}

RegistrationResult evaluate_sampled(const PointCloud& source, const KdTreeFlann& tree, const Mat4& transformation,
                                    double max_distance, bool parallel) {
    if (max_distance <= 0.0) {
        RegistrationResult r;
        r.transformation = transformation;
        return r;
    }
    const size_t n = source.points.size();
    const int32_t m = static_cast<int32_t>(n);
    const size_t stride = static_cast<size_t>(std::max<int32_t>(1, m / 2048));
    const size_t count = n == 0 ? 0 : (n - 1) / stride + 1;
    return match_and_reduce(source, tree, transformation, max_distance, stride, count, false, parallel);
}

// q^k by binary exponentiation.
double power(double base, int32_t exponent) {
    double result = 1.0;
    uint32_t e = static_cast<uint32_t>(exponent);
    while (e != 0) {
        if (e & 1u) result *= base;
        e >>= 1;
        if (e != 0) base *= base;
    }
    return result;
}

int32_t saturating_ceil(double e) {
    double c = std::ceil(e);
    if (std::isnan(c)) return 0;
    if (c >= 2147483647.0) return INT32_MAX;
    if (c <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(c);
}

struct Problem {
    const PointCloud& source;
    const PointCloud& target;
    const CorrespondenceSet& corres;
    const KdTreeFlann& tree;
    double distance;
    TransformationEstimationKind estimation;
    size_t k;
    const CorrespondenceCheckerList& checkers;
};

// Step 1: k distinct correspondences drawn with `gen`, or an empty sample
// when more than `attempt_limit` draws did not collect them.
void draw_sample(const Problem& pb, const UniformIntGenerator& gen, int64_t attempt_limit, CorrespondenceSet& sample) {
    sample.clear();
    int64_t attempts = 0;
    while (sample.size() < pb.k) {
        const Vec2i c = pb.corres[static_cast<size_t>(gen.next())];
        if (std::find(sample.begin(), sample.end(), c) == sample.end()) sample.push_back(c);
        ++attempts;
        if (attempts > attempt_limit && sample.size() < pb.k) {
            sample.clear();
            return;
        }
    }
}

// Steps 2 to 4: the estimate, its finite check, the checkers and the sampled
// fitness. False when the hypothesis is rejected before scoring.
bool propose(const Problem& pb, const CorrespondenceSet& sample, bool parallel, Mat4* t, double* sampled) {
    if (sample.empty()) return false;
    *t = compute_transformation_unchecked(pb.estimation, pb.source, pb.target, sample);
    if (!all_finite(*t)) return false;
    for (const CorrespondenceChecker& c : pb.checkers)
        if (!check_unchecked(c, pb.source, pb.target, sample, *t)) return false;
    *sampled = evaluate_sampled(pb.source, pb.tree, *t, pb.distance, parallel).fitness;
    return *sampled > 0.0;
}

// Decision state, owned by the calling thread.
struct Search {
    RegistrationResult best;
    int32_t bound;     // B
    int32_t estimate;  // E
    double log_miss;   // L = log(1 - confidence)

    // Step 5: whether a hypothesis with sampled fitness s deserves a full evaluation.
    bool worth_full(double s) const { return s > 0.0 && !(best.fitness > 0.0 && best.fitness > s + 0.02); }

    // Steps 6 to 8 given the full evaluation (without correspondence set).
    void consider(const Problem& pb, const Mat4& t, const RegistrationResult& full) {
        const bool better =
            full.fitness > best.fitness || (full.fitness == best.fitness && best.inlier_rmse > full.inlier_rmse);
        if (!better) return;
        best = evaluate_full(pb.source, pb.tree, t, pb.distance, true, true);

        const double q = evaluate_inlier_correspondence_ratio(pb.source, pb.target, pb.corres, t, pb.distance);
        const double p = power(q, static_cast<int32_t>(pb.k));
        double e;
        if (p >= 1.0) e = 1.0;
        else if (p <= 0.0 || std::isnan(p)) e = static_cast<double>(estimate);
        else {
            e = log_miss / std::log(1.0 - p);
            if (std::isnan(e) || std::isinf(e) || e < 0.0) e = static_cast<double>(estimate);
        }
        if (static_cast<double>(bound) > e) estimate = saturating_ceil(e);
        bound = std::min(bound, estimate);
    }
};

void run_sequential(const Problem& pb, const UniformIntGenerator& gen, int64_t attempt_limit, int32_t max_iteration,
                    Search& st) {
    CorrespondenceSet sample;
    for (int32_t i = 0; i < max_iteration && i < st.bound; ++i) {
        draw_sample(pb, gen, attempt_limit, sample);
        Mat4 t;
        double s;
        if (!propose(pb, sample, true, &t, &s)) continue;
        if (!st.worth_full(s)) continue;
        st.consider(pb, t, evaluate_full(pb.source, pb.tree, t, pb.distance, false, true));
    }
}

// What a worker found for one iteration of a batch.
struct Eval {
    enum Kind { Rejected, SampledOnly, Full } kind = Rejected;
    Mat4 t;
    double sampled = 0.0;
    RegistrationResult full;
};

void atomic_max(std::atomic<double>& a, double v) {
    double cur = a.load();
    while (cur < v && !a.compare_exchange_weak(cur, v)) {
    }
}

void run_batched(const Problem& pb, const UniformIntGenerator& gen, int64_t attempt_limit, int32_t max_iteration,
                 Search& st) {
    const int64_t p = std::max(1, num_threads());
    const int64_t largest = std::max<int64_t>(16 * p, 64);
    int64_t size = std::max<int64_t>(2 * p, 4);
    // Highest full fitness any worker has seen: lets workers skip full
    // evaluations that cannot win; never decides anything.
    std::atomic<double> shared_best{0.0};

    std::vector<CorrespondenceSet> samples;
    std::vector<Eval> evals;
    for (int64_t start = 0; start < st.bound && start < max_iteration;) {
        const int64_t end = std::min<int64_t>(start + size, max_iteration);
        const size_t count = static_cast<size_t>(end - start);
        atomic_max(shared_best, st.best.fitness);

        const Mt19937 snapshot = snapshot_engine();
        samples.resize(count);
        for (size_t j = 0; j < count; ++j) draw_sample(pb, gen, attempt_limit, samples[j]);

        evals.assign(count, Eval{});
        parallel_for(
            count,
            [&](size_t j) {
                Eval& ev = evals[j];
                if (!propose(pb, samples[j], false, &ev.t, &ev.sampled)) return;
                const double shared = shared_best.load();
                if (shared > 0.0 && shared > ev.sampled + 0.02) {
                    ev.kind = Eval::SampledOnly;
                    return;
                }
                ev.full = evaluate_full(pb.source, pb.tree, ev.t, pb.distance, false, false);
                ev.kind = Eval::Full;
                atomic_max(shared_best, ev.full.fitness);
            },
            1);

        for (size_t j = 0; j < count; ++j) {
            const int64_t i = start + static_cast<int64_t>(j);
            if (i >= st.bound) {
                // Stopped inside the batch: leave the engine where the
                // sequential loop would, after the draws of j iterations.
                restore_engine(snapshot);
                CorrespondenceSet discard;
                for (size_t r = 0; r < j; ++r) draw_sample(pb, gen, attempt_limit, discard);
                return;
            }
            const Eval& ev = evals[j];
            if (ev.kind == Eval::Rejected || !st.worth_full(ev.sampled)) continue;
            if (ev.kind == Eval::Full) st.consider(pb, ev.t, ev.full);
            else st.consider(pb, ev.t, evaluate_full(pb.source, pb.tree, ev.t, pb.distance, false, true));
        }
        start = end;
        size = std::min(size * 2, largest);
    }
}

}  // namespace

RegistrationResult get_registration_result_sampled(const PointCloud& source, const KdTreeFlann& target_tree,
                                                   const Mat4& transformation, double max_correspondence_distance) {
    return evaluate_sampled(source, target_tree, transformation, max_correspondence_distance, true);
}

double evaluate_inlier_correspondence_ratio(const PointCloud& source, const PointCloud& target,
                                            const CorrespondenceSet& corres, const Mat4& transformation,
                                            double max_correspondence_distance) {
    const size_t n = corres.size();
    if (n == 0) return 0.0;
    const int32_t m = static_cast<int32_t>(n);
    const size_t stride = static_cast<size_t>(std::max<int32_t>(1, m / 5000));
    const double limit = max_correspondence_distance * max_correspondence_distance;
    const Aligner align(transformation);
    int64_t inliers = 0;
    for (size_t i = 0; i < n; i += stride) {
        const Vec2i& c = corres[i];
        const Vec3 p = align(source.points[static_cast<size_t>(c[0])]);
        const Vec3& q = target.points[static_cast<size_t>(c[1])];
        const double dx = p[0] - q[0], dy = p[1] - q[1], dz = p[2] - q[2];
        if ((dx * dx + dy * dy) + dz * dz < limit) ++inliers;
    }
    return static_cast<double>(inliers) / static_cast<double>((n - 1) / stride + 1);
}

Result<RegistrationResult> registration_ransac_based_on_correspondence(
    const PointCloud& source, const PointCloud& target, const CorrespondenceSet& corres,
    double max_correspondence_distance, TransformationEstimationKind estimation, int32_t ransac_n,
    const CorrespondenceCheckerList& checkers, int32_t max_iteration, double confidence, RansacExecution execution) {
    if (Status v = validate_correspondences(source.points.size(), target.points.size(), corres); !v)
        return fail(v.error());
    const size_t n = corres.size();
    if (ransac_n < 3 || static_cast<uint64_t>(ransac_n) > n || max_correspondence_distance <= 0.0 ||
        source.points.empty() || target.points.empty())
        return RegistrationResult{};

    KdTreeFlann tree;
    tree.set_points(target.points);
    auto gen = UniformIntGenerator::create(0, static_cast<int64_t>(n) - 1);
    if (!gen.ok()) return fail(gen.error());
    const int64_t attempt_limit = std::max<int64_t>(32 * static_cast<int64_t>(ransac_n), 128);

    const Problem pb{source, target, corres, tree, max_correspondence_distance, estimation,
                     static_cast<size_t>(ransac_n), checkers};
    Search st{RegistrationResult{}, max_iteration, max_iteration, std::log(1.0 - confidence)};
    const bool batched = execution == RansacExecution::Batched ||
                         (execution == RansacExecution::Auto && num_threads() > 1);
    if (batched) run_batched(pb, *gen, attempt_limit, max_iteration, st);
    else run_sequential(pb, *gen, attempt_limit, max_iteration, st);

    if (st.best.fitness > 0.0) return st.best;
    return RegistrationResult{};
}

}  // namespace ombrix
