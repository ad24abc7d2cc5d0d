// pipelines.registration: compute_fpfh_feature and correspondences_from_features.
#include <optional>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "core/registration/correspondence.h"
#include "core/registration/feature.h"
#include "kdtree_objects.h"
#include "registration_methods.h"
#include "registration_objects.h"
#include "vectors.h"

namespace ombrix::py {

namespace {

PyObject* compute_fpfh_feature_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"input", "search_param"};
    PyObject* a[2];
    if (!parse_args("compute_fpfh_feature", names, 2, 2, args, nargs, kw, a)) return nullptr;
    CloudArg cloud;
    if (!borrow_cloud(a[0], "input", &cloud)) return nullptr;
    KdTreeSearchParam param;
    if (!search_param_from(a[1], "search_param", &param)) return nullptr;
    std::optional<Result<Feature>> r;
    {
        ReleaseGil nogil;
        r.emplace(compute_fpfh_feature(*cloud.cloud, param));
    }
    if (!r->ok()) {
        PyErr_SetString(PyExc_ValueError, r->error().c_str());
        return nullptr;
    }
    return wrap_feature(std::move(r->value()));
}

PyObject* correspondences_from_features_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source_features", "target_features", "mutual_filter",
                                        "mutual_consistency_ratio"};
    PyObject* a[4];
    if (!parse_args("correspondences_from_features", names, 4, 2, args, nargs, kw, a)) return nullptr;
    FeatureArg source, target;
    if (!borrow_feature(a[0], "source_features", &source)) return nullptr;
    if (!borrow_feature(a[1], "target_features", &target)) return nullptr;
    bool mutual = false;
    if (a[2] && !to_bool(a[2], "mutual_filter", &mutual)) return nullptr;
    double ratio = 0.1;
    if (a[3] && !to_double(a[3], "mutual_consistency_ratio", &ratio)) return nullptr;
    CorrespondenceSet pairs;
    {
        ReleaseGil nogil;
        pairs = correspondences_from_features(*source.feature, *target.feature, mutual, static_cast<float>(ratio));
    }
    return wrap_vector2i(std::move(pairs));
}

}  // namespace

PyMethodDef feature_functions[] = {
    OMBRIX_METHOD("compute_fpfh_feature", compute_fpfh_feature_fn, "compute_fpfh_feature(input, search_param)\n--\n\n"),
    OMBRIX_METHOD("correspondences_from_features", correspondences_from_features_fn,
                  "correspondences_from_features(source_features, target_features, mutual_filter=False, "
                  "mutual_consistency_ratio=0.1)\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
