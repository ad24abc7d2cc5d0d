// pipelines.registration: RegistrationResult, ICPConvergenceCriteria,
// RANSACConvergenceCriteria and Feature, each a wrapper over its core record
// with properties, copies and the C-style reprs.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/numpy.h"
#include "binding/types.h"
#include "classes.h"
#include "core/numtext.h"
#include "registration_objects.h"
#include "vectors.h"

namespace ombrix::py {

namespace {

constexpr uint64_t kMaxFeatureElements = uint64_t(1) << 60;

PyObject* text(const std::string& s) { return PyUnicode_FromStringAndSize(s.data(), Py_ssize_t(s.size())); }

// A record copy may be large (features): allocation failures become MemoryError.
template <class O, class T>
PyObject* new_record(PyTypeObject* type, const T& value) {
    if (!type) return nullptr;
    try {
        T copy(value);
        return alloc_obj<O>(type, std::move(copy));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

template <class O>
PyObject* copy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    if (!parse_args("__copy__", nullptr, 0, 0, args, nargs, kw, nullptr)) return nullptr;
    O* o = as<O>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return new_record<O>(Py_TYPE(self), o->value);
}

template <class O>
PyObject* deepcopy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"_memo"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", names, 1, 1, args, nargs, kw, a)) return nullptr;
    O* o = as<O>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return new_record<O>(Py_TYPE(self), o->value);
}

#define RECORD_COPY_METHODS(O)                                                   \
    OMBRIX_METHOD("__copy__", copy_method<O>, "__copy__($self)\n--\n\n"),        \
        OMBRIX_METHOD("__deepcopy__", deepcopy_method<O>, "__deepcopy__($self, _memo)\n--\n\n")

// Scalar properties; the closure carries the property name for error messages.
template <class O, auto Member>
PyObject* get_double(PyObject* self, void*) {
    O* o = as<O>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return PyFloat_FromDouble(o->value.*Member);
}

template <class O, auto Member>
int set_double(PyObject* self, PyObject* value, void* name) {
    if (!value) return refuse_delete();
    double v;
    if (!to_double(value, static_cast<const char*>(name), &v)) return -1;
    O* o = as<O>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value.*Member = v;
    return 0;
}

template <class O, auto Member>
PyObject* get_int32(PyObject* self, void*) {
    O* o = as<O>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return PyLong_FromLong(o->value.*Member);
}

template <class O, auto Member>
int set_int32(PyObject* self, PyObject* value, void* name) {
    if (!value) return refuse_delete();
    int32_t v;
    if (!to_int32(value, static_cast<const char*>(name), &v)) return -1;
    O* o = as<O>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value.*Member = v;
    return 0;
}

#define DOUBLE_PROPERTY(O, R, field) \
    {#field, get_double<O, &R::field>, set_double<O, &R::field>, nullptr, const_cast<char*>(#field)}
#define INT32_PROPERTY(O, R, field) \
    {#field, get_int32<O, &R::field>, set_int32<O, &R::field>, nullptr, const_cast<char*>(#field)}
#define GETSET_END \
    { nullptr, nullptr, nullptr, nullptr, nullptr }

// ------------------------------------------------------------ RegistrationResult

using PyResult = PyRegistrationResult;

PyObject* result_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (!parse_tuple_args("RegistrationResult", nullptr, 0, 0, args, kwargs, nullptr)) return nullptr;
    return alloc_obj<PyResult>(type);
}

PyObject* result_repr(PyObject* self) {
    PyResult* o = as<PyResult>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    const RegistrationResult& r = o->value;
    return text("RegistrationResult with fitness=" + c_format_e(r.fitness) + ", inlier_rmse=" +
                c_format_e(r.inlier_rmse) + ", and correspondence_set size of " +
                std::to_string(r.correspondence_set.size()) + "\nAccess transformation to get result.");
}

PyObject* result_get_transformation(PyObject* self, void*) {
    PyResult* o = as<PyResult>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return array_from_m4(o->value.transformation);
}

int result_set_transformation(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    Mat4 m;
    if (!m4_from_any(value, &m)) return -1;
    PyResult* o = as<PyResult>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value.transformation = m;
    return 0;
}

PyObject* result_get_correspondence_set(PyObject* self, void*) {
    PyResult* o = as<PyResult>(self);
    std::vector<Vec2i> copy;
    {
        ReadBorrow b(o->flag);
        if (!b) return nullptr;
        try {
            copy = o->value.correspondence_set;
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    return wrap_vector2i(std::move(copy));
}

int result_set_correspondence_set(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    std::vector<Vec2i> pairs;
    if (!extract_from(value, &pairs)) return -1;
    PyResult* o = as<PyResult>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value.correspondence_set = std::move(pairs);
    return 0;
}

PyMethodDef result_methods[] = {RECORD_COPY_METHODS(PyResult), OMBRIX_END};

PyGetSetDef result_getset[] = {
    {"transformation", result_get_transformation, result_set_transformation, nullptr, nullptr},
    {"correspondence_set", result_get_correspondence_set, result_set_correspondence_set, nullptr, nullptr},
    DOUBLE_PROPERTY(PyResult, RegistrationResult, fitness),
    DOUBLE_PROPERTY(PyResult, RegistrationResult, inlier_rmse),
    GETSET_END,
};

PyTypeObject* build_registration_result_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.RegistrationResult";
    d.doc = "RegistrationResult()\n--\n\n";
    d.basicsize = sizeof(PyResult);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(result_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyResult>)},
        {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
        {Py_tp_methods, result_methods},
        {Py_tp_getset, result_getset},
    };
    return make_type(d);
}

// ------------------------------------------------------------ ICPConvergenceCriteria

using PyIcp = PyICPConvergenceCriteria;

PyObject* icp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"relative_fitness", "relative_rmse", "max_iteration"};
    PyObject* a[3];
    if (!parse_tuple_args("ICPConvergenceCriteria", names, 3, 0, args, kwargs, a)) return nullptr;
    ICPConvergenceCriteria c;
    if (a[0] && !to_double(a[0], "relative_fitness", &c.relative_fitness)) return nullptr;
    if (a[1] && !to_double(a[1], "relative_rmse", &c.relative_rmse)) return nullptr;
    if (a[2] && !to_int32(a[2], "max_iteration", &c.max_iteration)) return nullptr;
    return alloc_obj<PyIcp>(type, c);
}

PyObject* icp_repr(PyObject* self) {
    PyIcp* o = as<PyIcp>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    const ICPConvergenceCriteria& c = o->value;
    return text("ICPConvergenceCriteria(relative_fitness=" + c_format_e(c.relative_fitness) +
                ", relative_rmse=" + c_format_e(c.relative_rmse) +
                ", max_iteration=" + std::to_string(c.max_iteration) + ")");
}

PyMethodDef icp_methods[] = {RECORD_COPY_METHODS(PyIcp), OMBRIX_END};

PyGetSetDef icp_getset[] = {
    DOUBLE_PROPERTY(PyIcp, ICPConvergenceCriteria, relative_fitness),
    DOUBLE_PROPERTY(PyIcp, ICPConvergenceCriteria, relative_rmse),
    INT32_PROPERTY(PyIcp, ICPConvergenceCriteria, max_iteration),
    GETSET_END,
};

PyTypeObject* build_icp_convergence_criteria_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.ICPConvergenceCriteria";
    d.doc = "ICPConvergenceCriteria(relative_fitness=1e-6, relative_rmse=1e-6, max_iteration=30)\n--\n\n";
    d.basicsize = sizeof(PyIcp);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(icp_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyIcp>)},
        {Py_tp_repr, reinterpret_cast<void*>(icp_repr)},
        {Py_tp_methods, icp_methods},
        {Py_tp_getset, icp_getset},
    };
    return make_type(d);
}

// ------------------------------------------------------------ RANSACConvergenceCriteria

using PyRansac = PyRANSACConvergenceCriteria;

PyObject* ransac_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"max_iteration", "confidence"};
    PyObject* a[2];
    if (!parse_tuple_args("RANSACConvergenceCriteria", names, 2, 0, args, kwargs, a)) return nullptr;
    RANSACConvergenceCriteria c;
    if (a[0] && !to_int32(a[0], "max_iteration", &c.max_iteration)) return nullptr;
    if (a[1] && !to_double(a[1], "confidence", &c.confidence)) return nullptr;
    return alloc_obj<PyRansac>(type, c);
}

PyObject* ransac_repr(PyObject* self) {
    PyRansac* o = as<PyRansac>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    const RANSACConvergenceCriteria& c = o->value;
    return text("RANSACConvergenceCriteria(max_iteration=" + std::to_string(c.max_iteration) +
                ", confidence=" + c_format_e(c.confidence) + ")");
}

PyMethodDef ransac_methods[] = {RECORD_COPY_METHODS(PyRansac), OMBRIX_END};

PyGetSetDef ransac_getset[] = {
    INT32_PROPERTY(PyRansac, RANSACConvergenceCriteria, max_iteration),
    DOUBLE_PROPERTY(PyRansac, RANSACConvergenceCriteria, confidence),
    GETSET_END,
};

PyTypeObject* build_ransac_convergence_criteria_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.RANSACConvergenceCriteria";
    d.doc = "RANSACConvergenceCriteria(max_iteration=100000, confidence=0.999)\n--\n\n";
    d.basicsize = sizeof(PyRansac);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(ransac_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyRansac>)},
        {Py_tp_repr, reinterpret_cast<void*>(ransac_repr)},
        {Py_tp_methods, ransac_methods},
        {Py_tp_getset, ransac_getset},
    };
    return make_type(d);
}

// ------------------------------------------------------------ Feature

PyObject* feature_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"other"};
    PyObject* a[1];
    if (!parse_tuple_args("Feature", names, 1, 0, args, kwargs, a)) return nullptr;
    if (missing_or_none(a[0])) return alloc_obj<PyFeature>(type);
    FeatureArg other;
    if (!borrow_feature(a[0], "other", &other)) return nullptr;
    return new_record<PyFeature>(type, *other.feature);
}

PyObject* feature_repr(PyObject* self) {
    PyFeature* o = as<PyFeature>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return text("Feature class with dimension = " + std::to_string(o->value.dim) +
                " and num = " + std::to_string(o->value.n) + "\nAccess its data via data member.");
}

PyObject* feature_resize(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"dim", "n"};
    PyObject* a[2];
    if (!parse_args("resize", names, 2, 2, args, nargs, kw, a)) return nullptr;
    int32_t dim, n;
    if (!to_int32(a[0], "dim", &dim) || !to_int32(a[1], "n", &n)) return nullptr;
    if (dim < 0) return raise(PyExc_ValueError, "dim must be non-negative");
    if (n < 0) return raise(PyExc_ValueError, "n must be non-negative");
    if (uint64_t(dim) * uint64_t(n) >= kMaxFeatureElements)
        return raise(PyExc_ValueError, "feature dimensions are too large");
    PyFeature* o = as<PyFeature>(self);
    WriteBorrow b(o->flag);
    if (!b) return nullptr;
    try {
        std::vector<double> zeros(size_t(dim) * size_t(n), 0.0);
        o->value.data = std::move(zeros);
        o->value.dim = uint64_t(dim);
        o->value.n = uint64_t(n);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    Py_RETURN_NONE;
}

PyObject* feature_dimension(PyObject* self, PyObject*) {
    PyFeature* o = as<PyFeature>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return PyLong_FromLong(static_cast<int32_t>(o->value.dim));
}

PyObject* feature_num(PyObject* self, PyObject*) {
    PyFeature* o = as<PyFeature>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return PyLong_FromLong(static_cast<int32_t>(o->value.n));
}

PyObject* feature_get_data(PyObject* self, void*) {
    PyFeature* o = as<PyFeature>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    const Feature& f = o->value;
    npy_intp dims[2] = {npy_intp(f.dim), npy_intp(f.n)};
    PyObject* arr = PyArray_SimpleNew(2, dims, NPY_FLOAT64);
    if (!arr) return nullptr;
    double* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)));
    // Column j of the feature is row j of the stored (n, dim) block.
    const size_t dim = f.dim, n = f.n;
    for (size_t i = 0; i < dim; ++i)
        for (size_t j = 0; j < n; ++j) out[i * n + j] = f.data[j * dim + i];
    return arr;
}

int feature_set_data(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    uint64_t rows, cols;
    if (!feature_shape_from_array(value, &rows, &cols)) return -1;
    if (rows != 0 && cols > (kMaxFeatureElements - 1) / rows) {
        PyErr_SetString(PyExc_ValueError, "feature dimensions are too large");
        return -1;
    }
    Feature f;
    try {
        if (!feature_columns_from_array(value, &f)) return -1;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    PyFeature* o = as<PyFeature>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value = std::move(f);
    return 0;
}

PyMethodDef feature_methods[] = {
    OMBRIX_METHOD("resize", feature_resize, "resize($self, dim, n)\n--\n\n"),
    OMBRIX_NOARGS("dimension", feature_dimension, "dimension($self)\n--\n\n"),
    OMBRIX_NOARGS("num", feature_num, "num($self)\n--\n\n"),
    RECORD_COPY_METHODS(PyFeature),
    OMBRIX_END,
};

PyGetSetDef feature_getset[] = {
    {"data", feature_get_data, feature_set_data, nullptr, nullptr},
    GETSET_END,
};

PyTypeObject* build_feature_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.Feature";
    d.doc = "Feature(other=None)\n--\n\n";
    d.basicsize = sizeof(PyFeature);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(feature_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyFeature>)},
        {Py_tp_repr, reinterpret_cast<void*>(feature_repr)},
        {Py_tp_methods, feature_methods},
        {Py_tp_getset, feature_getset},
    };
    return make_type(d);
}

bool is_float64_matrix(PyObject* o) {
    return PyArray_Check(o) && PyArray_NDIM(reinterpret_cast<PyArrayObject*>(o)) == 2 &&
           PyArray_EquivTypenums(PyArray_TYPE(reinterpret_cast<PyArrayObject*>(o)), NPY_FLOAT64);
}

}  // namespace

OMBRIX_TYPE_GETTER(feature_type, build_feature_type)
OMBRIX_TYPE_GETTER(icp_convergence_criteria_type, build_icp_convergence_criteria_type)
OMBRIX_TYPE_GETTER(ransac_convergence_criteria_type, build_ransac_convergence_criteria_type)
OMBRIX_TYPE_GETTER(registration_result_type, build_registration_result_type)

// ------------------------------------------------------------ shared helpers

bool feature_shape_from_array(PyObject* o, uint64_t* rows, uint64_t* cols) {
    if (!is_float64_matrix(o)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a 2-dimensional float64 array",
                     Py_TYPE(o)->tp_name);
        return false;
    }
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    *rows = uint64_t(PyArray_DIM(a, 0));
    *cols = uint64_t(PyArray_DIM(a, 1));
    return true;
}

bool feature_columns_from_array(PyObject* o, Feature* out) {
    uint64_t rows, cols;
    if (!feature_shape_from_array(o, &rows, &cols)) return false;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    std::vector<double> data(size_t(rows) * size_t(cols));
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    const npy_intp s0 = PyArray_STRIDE(a, 0), s1 = PyArray_STRIDE(a, 1);
    for (uint64_t j = 0; j < cols; ++j)
        for (uint64_t i = 0; i < rows; ++i)
            std::memcpy(&data[size_t(j * rows + i)], base + npy_intp(i) * s0 + npy_intp(j) * s1, sizeof(double));
    out->data = std::move(data);
    out->dim = rows;
    out->n = cols;
    return true;
}

PyObject* wrap_registration_result(RegistrationResult&& result) {
    PyTypeObject* t = registration_result_type();
    if (!t) return nullptr;
    return alloc_obj<PyRegistrationResult>(t, std::move(result));
}

PyObject* wrap_feature(Feature&& feature) {
    PyTypeObject* t = feature_type();
    if (!t) return nullptr;
    return alloc_obj<PyFeature>(t, std::move(feature));
}

static bool instance_of(PyObject* o, PyTypeObject* (*getter)()) {
    PyTypeObject* t = getter();
    if (!t) {
        PyErr_Clear();
        return false;
    }
    return PyObject_TypeCheck(o, t);
}

bool is_registration_result(PyObject* o) { return instance_of(o, registration_result_type); }
bool is_feature(PyObject* o) { return instance_of(o, feature_type); }
bool is_icp_convergence_criteria(PyObject* o) { return instance_of(o, icp_convergence_criteria_type); }
bool is_ransac_convergence_criteria(PyObject* o) { return instance_of(o, ransac_convergence_criteria_type); }

bool borrow_feature(PyObject* o, const char* param, FeatureArg* out) {
    PyTypeObject* t = feature_type();
    if (!t || !check_instance(o, t, param)) return false;
    PyFeature* f = as<PyFeature>(o);
    out->borrow.emplace(f->flag);
    if (!*out->borrow) {
        out->borrow.reset();
        return false;
    }
    out->feature = &f->value;
    return true;
}

bool icp_criteria_from(PyObject* o, const char* param, ICPConvergenceCriteria* out) {
    if (o == nullptr) {
        *out = ICPConvergenceCriteria();
        return true;
    }
    PyTypeObject* t = icp_convergence_criteria_type();
    if (!t || !check_instance(o, t, param)) return false;
    PyICPConvergenceCriteria* c = as<PyICPConvergenceCriteria>(o);
    ReadBorrow b(c->flag);
    if (!b) return false;
    *out = c->value;
    return true;
}

bool ransac_criteria_from(PyObject* o, const char* param, RANSACConvergenceCriteria* out) {
    if (o == nullptr) {
        *out = RANSACConvergenceCriteria();
        return true;
    }
    PyTypeObject* t = ransac_convergence_criteria_type();
    if (!t || !check_instance(o, t, param)) return false;
    PyRANSACConvergenceCriteria* c = as<PyRANSACConvergenceCriteria>(o);
    ReadBorrow b(c->flag);
    if (!b) return false;
    *out = c->value;
    return true;
}

}  // namespace ombrix::py
