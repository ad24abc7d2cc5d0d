// registration_icp, evaluate_registration and
// get_information_matrix_from_point_clouds. Arguments are converted and the
// clouds borrowed for reading first; the core work runs without the GIL.
#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "core/registration/registration.h"
#include "registration_methods.h"
#include "registration_objects.h"

namespace ombrix::py {
namespace {

// source, target and max_correspondence_distance: the three leading
// parameters of every function here.
struct PairArgs {
    double max_distance = 0.0;
    CloudArg source, target;
};

bool convert_leading(PyObject* const* a, PairArgs* out) {
    if (!check_instance(a[0], point_cloud_type(), "source") || !check_instance(a[1], point_cloud_type(), "target"))
        return false;
    return to_double(a[2], "max_correspondence_distance", &out->max_distance);
}

bool borrow_pair(PyObject* const* a, PairArgs* out) {
    return borrow_cloud(a[0], "source", &out->source) && borrow_cloud(a[1], "target", &out->target);
}

PyObject* registration_icp_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source",        "target",          "max_correspondence_distance",
                                        "init",          "estimation_method", "criteria"};
    PyObject* a[6];
    if (!parse_args("registration_icp", names, 6, 3, args, nargs, kw, a)) return nullptr;
    PairArgs p;
    if (!convert_leading(a, &p)) return nullptr;
    Mat4 init = mat4_identity();
    if (!missing_or_none(a[3]) && !m4_from_any(a[3], &init)) return nullptr;
    TransformationEstimationKind kind;
    if (!estimation_kind_from(a[4], "estimation_method", &kind)) return nullptr;
    ICPConvergenceCriteria criteria;
    if (!missing_or_none(a[5]) && !icp_criteria_from(a[5], "criteria", &criteria)) return nullptr;
    if (!borrow_pair(a, &p)) return nullptr;

    Result<RegistrationResult> r = fail("");
    {
        ReleaseGil nogil;
        r = registration_icp(*p.source.cloud, *p.target.cloud, p.max_distance, init, kind, criteria);
    }
    if (!r) return raise(PyExc_RuntimeError, r.error());
    return wrap_registration_result(std::move(r.value()));
}

PyObject* evaluate_registration_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source", "target", "max_correspondence_distance", "transformation"};
    PyObject* a[4];
    if (!parse_args("evaluate_registration", names, 4, 3, args, nargs, kw, a)) return nullptr;
    PairArgs p;
    if (!convert_leading(a, &p)) return nullptr;
    Mat4 t = mat4_identity();
    if (!missing_or_none(a[3]) && !m4_from_any(a[3], &t)) return nullptr;
    if (!borrow_pair(a, &p)) return nullptr;

    RegistrationResult r;
    {
        ReleaseGil nogil;
        r = evaluate_registration(*p.source.cloud, *p.target.cloud, p.max_distance, t);
    }
    return wrap_registration_result(std::move(r));
}

PyObject* information_matrix_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source", "target", "max_correspondence_distance", "transformation"};
    PyObject* a[4];
    if (!parse_args("get_information_matrix_from_point_clouds", names, 4, 4, args, nargs, kw, a)) return nullptr;
    PairArgs p;
    if (!convert_leading(a, &p)) return nullptr;
    Mat4 t;
    if (!m4_from_any(a[3], &t)) return nullptr;
    if (!borrow_pair(a, &p)) return nullptr;

    Mat6 g;
    {
        ReleaseGil nogil;
        g = get_information_matrix_from_point_clouds(*p.source.cloud, *p.target.cloud, p.max_distance, t);
    }
    return array2d_from_doubles(g.data(), 6, 6);
}

}  // namespace

PyMethodDef icp_functions[] = {
    OMBRIX_METHOD("evaluate_registration", evaluate_registration_fn,
                  "evaluate_registration(source, target, max_correspondence_distance, transformation=None)\n--\n\n"),
    OMBRIX_METHOD("registration_icp", registration_icp_fn,
                  "registration_icp(source, target, max_correspondence_distance, init=None, estimation_method=None, "
                  "criteria=None)\n--\n\n"),
    OMBRIX_METHOD("get_information_matrix_from_point_clouds", information_matrix_fn,
                  "get_information_matrix_from_point_clouds(source, target, max_correspondence_distance, "
                  "transformation)\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
