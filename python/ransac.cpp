// pipelines.registration: the two RANSAC entry points.
#include <optional>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/types.h"
#include "classes.h"
#include "core/registration/correspondence.h"
#include "core/registration/ransac.h"
#include "registration_methods.h"
#include "registration_objects.h"
#include "vectors_impl.h"

namespace ombrix::py {

namespace {

// The arguments both entry points share, from `estimation_method` on.
struct RansacArgs {
    double distance = 0.0;
    TransformationEstimationKind estimation = TransformationEstimationKind::PointToPoint;
    int32_t ransac_n = 3;
    CorrespondenceCheckerList checkers;
    RANSACConvergenceCriteria criteria;
};

// a[0] max_correspondence_distance, a[1] estimation_method, a[2] ransac_n,
// a[3] checkers, a[4] criteria.
bool convert_common(PyObject* const* a, RansacArgs* out) {
    if (!to_double(a[0], "max_correspondence_distance", &out->distance)) return false;
    if (!estimation_kind_from(a[1], "estimation_method", &out->estimation)) return false;
    if (a[2] && !to_int32(a[2], "ransac_n", &out->ransac_n)) return false;
    if (!extract_checkers(a[3], "checkers", &out->checkers)) return false;
    if (!missing_or_none(a[4]) && !ransac_criteria_from(a[4], "criteria", &out->criteria)) return false;
    return true;
}

// The `corres` argument: a Vector2iVector, borrowed for reading for the whole
// call (so list edits from other threads fail with "Already borrowed"), and
// copied, so writes through NumPy arrays over its buffer cannot race with the
// GIL-released computation.
struct CorresBorrow {
    std::optional<ReadBorrow> borrow;
    CorrespondenceSet pairs;
};

bool borrow_corres(PyObject* o, CorresBorrow* out) {
    if (!check_instance(o, vector2i_vector_type(), "corres")) return false;
    PyVec<Vec2i>* v = reinterpret_cast<PyVec<Vec2i>*>(o);  // never a view: Vector2iVector has no owner
    out->borrow.emplace(v->flag);
    if (!*out->borrow) return false;
    out->pairs = v->data;
    return true;
}

PyObject* finish(Result<RegistrationResult>& r) {
    if (!r.ok()) {
        PyErr_SetString(PyExc_ValueError, r.error().c_str());
        return nullptr;
    }
    return wrap_registration_result(std::move(r.value()));
}

Result<RegistrationResult> run(const PointCloud& source, const PointCloud& target, const CorrespondenceSet& corres,
                               const RansacArgs& c) {
    return registration_ransac_based_on_correspondence(source, target, corres, c.distance, c.estimation, c.ransac_n,
                                                       c.checkers, c.criteria.max_iteration, c.criteria.confidence);
}

PyObject* ransac_on_correspondence(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source", "target", "corres", "max_correspondence_distance",
                                        "estimation_method", "ransac_n", "checkers", "criteria"};
    PyObject* a[8];
    if (!parse_args("registration_ransac_based_on_correspondence", names, 8, 4, args, nargs, kw, a)) return nullptr;
    CloudArg source, target;
    if (!borrow_cloud(a[0], "source", &source) || !borrow_cloud(a[1], "target", &target)) return nullptr;
    CorresBorrow corres;
    if (!borrow_corres(a[2], &corres)) return nullptr;
    RansacArgs c;
    if (!convert_common(a + 3, &c)) return nullptr;
    std::optional<Result<RegistrationResult>> r;
    {
        ReleaseGil nogil;
        r.emplace(run(*source.cloud, *target.cloud, corres.pairs, c));
    }
    return finish(*r);
}

PyObject* ransac_on_features(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source",
                                        "target",
                                        "source_feature",
                                        "target_feature",
                                        "mutual_filter",
                                        "max_correspondence_distance",
                                        "estimation_method",
                                        "ransac_n",
                                        "checkers",
                                        "criteria"};
    PyObject* a[10];
    if (!parse_args("registration_ransac_based_on_feature_matching", names, 10, 6, args, nargs, kw, a))
        return nullptr;
    CloudArg source, target;
    if (!borrow_cloud(a[0], "source", &source) || !borrow_cloud(a[1], "target", &target)) return nullptr;
    FeatureArg sf, tf;
    if (!borrow_feature(a[2], "source_feature", &sf) || !borrow_feature(a[3], "target_feature", &tf)) return nullptr;
    bool mutual;
    if (!to_bool(a[4], "mutual_filter", &mutual)) return nullptr;
    RansacArgs c;
    if (!convert_common(a + 5, &c)) return nullptr;
    std::optional<Result<RegistrationResult>> r;
    {
        ReleaseGil nogil;
        const CorrespondenceSet corres = correspondences_from_features(*sf.feature, *tf.feature, mutual, 0.1f);
        r.emplace(run(*source.cloud, *target.cloud, corres, c));
    }
    return finish(*r);
}

}  // namespace

PyMethodDef ransac_functions[] = {
    OMBRIX_METHOD("registration_ransac_based_on_correspondence", ransac_on_correspondence,
                  "registration_ransac_based_on_correspondence(source, target, corres, max_correspondence_distance, "
                  "estimation_method=None, ransac_n=3, checkers=..., criteria=None)\n--\n\n"),
    OMBRIX_METHOD("registration_ransac_based_on_feature_matching", ransac_on_features,
                  "registration_ransac_based_on_feature_matching(source, target, source_feature, target_feature, "
                  "mutual_filter, max_correspondence_distance, estimation_method=None, ransac_n=3, checkers=..., "
                  "criteria=None)\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
