// PointCloud methods that estimate and orient normals. Each converts its
// arguments, borrows the cloud for writing, sizes the normal array while it
// still holds the GIL (NumPy arrays may share it), and runs the core without
// the GIL.
#include <new>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "core/geometry/normals.h"
#include "core/geometry/orient_tangent_plane.h"
#include "geometry_objects.h"
#include "kdtree_objects.h"

namespace ombrix::py {
namespace {

// Runs `work` (returning Status) without the GIL; a failure message becomes a
// RuntimeError once the GIL is back, an allocation failure a MemoryError.
template <class F>
PyObject* run_released(F&& work) {
    Status status;
    bool out_of_memory = false;
    {
        ReleaseGil nogil;
        try {
            status = work();
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        }
    }
    if (out_of_memory) return PyErr_NoMemory();
    if (!status) return raise(PyExc_RuntimeError, status.error());
    Py_RETURN_NONE;
}

PyObject* estimate_normals(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"search_param", "fast_normal_computation"};
    PyObject* a[2];
    if (!parse_args("estimate_normals", kNames, 2, 0, args, nargs, kwnames, a)) return nullptr;
    KdTreeSearchParam param = KdTreeSearchParam::Knn(30);
    if (!missing_or_none(a[0]) && !search_param_from(a[0], "search_param", &param)) return nullptr;
    bool fast = true;
    if (a[1] && !to_bool(a[1], "fast_normal_computation", &fast)) return nullptr;

    PyPointCloud* pc = as<PyPointCloud>(self);
    WriteBorrow borrow(pc->flag);
    if (!borrow) return nullptr;
    const size_t n = pc->value.points.size();
    if (n > 0 && pc->value.normals.size() != n) pc->shared.reserve(kPcdNormals, pc->value.normals, n);
    return run_released([&]() -> Status {
        ombrix::estimate_normals(pc->value, param, fast);
        return {};
    });
}

PyObject* orient_normals_to_align_with_direction(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                                 PyObject* kwnames) {
    static const char* const kNames[] = {"orientation_reference"};
    PyObject* a[1];
    if (!parse_args("orient_normals_to_align_with_direction", kNames, 1, 0, args, nargs, kwnames, a))
        return nullptr;
    Vec3 reference = {0.0, 0.0, 1.0};
    if (!missing_or_none(a[0]) && !v3_from_any(a[0], &reference)) return nullptr;
    PyPointCloud* pc = as<PyPointCloud>(self);
    WriteBorrow borrow(pc->flag);
    if (!borrow) return nullptr;
    return run_released([&] { return ombrix::orient_normals_to_align_with_direction(pc->value, reference); });
}

PyObject* orient_normals_towards_camera_location(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                                 PyObject* kwnames) {
    static const char* const kNames[] = {"camera_location"};
    PyObject* a[1];
    if (!parse_args("orient_normals_towards_camera_location", kNames, 1, 0, args, nargs, kwnames, a))
        return nullptr;
    Vec3 camera = {0.0, 0.0, 0.0};
    if (!missing_or_none(a[0]) && !v3_from_any(a[0], &camera)) return nullptr;
    PyPointCloud* pc = as<PyPointCloud>(self);
    WriteBorrow borrow(pc->flag);
    if (!borrow) return nullptr;
    return run_released([&] { return ombrix::orient_normals_towards_camera_location(pc->value, camera); });
}

PyObject* orient_normals_consistent_tangent_plane(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                                  PyObject* kwnames) {
    static const char* const kNames[] = {"k", "lambda", "cos_alpha_tol"};
    PyObject* a[3];
    if (!parse_args("orient_normals_consistent_tangent_plane", kNames, 3, 1, args, nargs, kwnames, a))
        return nullptr;
    uint64_t k = 0;
    if (!to_uint64(a[0], "k", &k)) return nullptr;
    double lambda = 0.0, cos_alpha_tol = 1.0;
    if (a[1] && !to_double(a[1], "lambda", &lambda)) return nullptr;
    if (a[2] && !to_double(a[2], "cos_alpha_tol", &cos_alpha_tol)) return nullptr;
    PyPointCloud* pc = as<PyPointCloud>(self);
    WriteBorrow borrow(pc->flag);
    if (!borrow) return nullptr;
    return run_released(
        [&] { return ombrix::orient_normals_consistent_tangent_plane(pc->value, k, lambda, cos_alpha_tol); });
}

}  // namespace

PyMethodDef point_cloud_processing_methods[] = {
    OMBRIX_METHOD("estimate_normals", estimate_normals,
                  "estimate_normals($self, search_param=None, fast_normal_computation=True)\n--\n\n"),
    OMBRIX_METHOD("orient_normals_to_align_with_direction", orient_normals_to_align_with_direction,
                  "orient_normals_to_align_with_direction($self, orientation_reference=None)\n--\n\n"
                  "Function to orient the normals of a point cloud.\n"
                  "\n"
                  "Args:\n"
                  "    orientation_reference (numpy.ndarray[numpy.float64[3, 1]],\n"
                  "        optional, default=array([0., 0., 1.])): Normals are oriented\n"
                  "        with respect to orientation_reference.\n"
                  "\n"
                  "Returns:\n"
                  "    None"),
    OMBRIX_METHOD("orient_normals_towards_camera_location", orient_normals_towards_camera_location,
                  "orient_normals_towards_camera_location($self, camera_location=None)\n--\n\n"
                  "Function to orient the normals of a point cloud.\n"
                  "\n"
                  "Args:\n"
                  "    camera_location (numpy.ndarray[numpy.float64[3, 1]], optional,\n"
                  "        default=array([0., 0., 0.])): Normals are oriented with\n"
                  "        towards the camera_location.\n"
                  "\n"
                  "Returns:\n"
                  "    None"),
    OMBRIX_METHOD("orient_normals_consistent_tangent_plane", orient_normals_consistent_tangent_plane,
                  "orient_normals_consistent_tangent_plane($self, k, lambda=0.0, cos_alpha_tol=1.0)\n--\n\n"
                  "Function to consistently orient the normals of a point cloud based\n"
                  "on tangent planes.\n"
                  "\n"
                  "Args:\n"
                  "    k (int): Number of k nearest neighbors used in constructing the\n"
                  "        Riemannian graph used to propagate normal orientation.\n"
                  "    lambda (float, optional, default=0.0): penalty constant on the\n"
                  "        distance to the tangent plane.\n"
                  "    cos_alpha_tol (float, optional, default=1.0): treshold that\n"
                  "        defines the amplitude of the cone spanned by the reference\n"
                  "        normal.\n"
                  "\n"
                  "Returns:\n"
                  "    None"),
    OMBRIX_END,
};

}  // namespace ombrix::py
