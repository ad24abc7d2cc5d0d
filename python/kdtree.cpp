// geometry.KDTreeSearchParam{,KNN,Radius,Hybrid} and geometry.KDTreeFlann.
#include <cstring>
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/numpy.h"
#include "binding/ref.h"
#include "binding/types.h"
#include "classes.h"
#include "core/numtext.h"
#include "geometry_objects.h"
#include "kdtree_objects.h"
#include "registration_objects.h"
#include "vectors.h"

namespace ombrix::py {

namespace {

using Kind = KdTreeSearchParam::Kind;
using PyParam = PyKDTreeSearchParam;
using PyFlann = PyKDTreeFlann;

// ------------------------------------------------------------ search parameters

PyObject* param_get_search_type(PyObject* self, PyObject*) {
    return read_record<PyParam>(self,
                                [](const KdTreeSearchParam& p) { return PyLong_FromLong(static_cast<long>(p.kind)); });
}

PyObject* knn_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"knn"};
    PyObject* a[1];
    if (!parse_tuple_args("KDTreeSearchParamKNN", names, 1, 0, args, kwargs, a)) return nullptr;
    int32_t knn = 30;
    if (a[0] && !to_int32(a[0], "knn", &knn)) return nullptr;
    return alloc_obj<PyParam>(type, KdTreeSearchParam::Knn(knn));
}

PyObject* radius_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"radius"};
    PyObject* a[1];
    if (!parse_tuple_args("KDTreeSearchParamRadius", names, 1, 1, args, kwargs, a)) return nullptr;
    double r;
    if (!to_double(a[0], "radius", &r)) return nullptr;
    return alloc_obj<PyParam>(type, KdTreeSearchParam::Radius(r));
}

PyObject* hybrid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"radius", "max_nn"};
    PyObject* a[2];
    if (!parse_tuple_args("KDTreeSearchParamHybrid", names, 2, 2, args, kwargs, a)) return nullptr;
    double r;
    int32_t max_nn;
    if (!to_double(a[0], "radius", &r) || !to_int32(a[1], "max_nn", &max_nn)) return nullptr;
    return alloc_obj<PyParam>(type, KdTreeSearchParam::Hybrid(r, max_nn));
}

PyObject* knn_repr(PyObject* self) {
    return read_record<PyParam>(self, [](const KdTreeSearchParam& p) {
        return str_from("KDTreeSearchParamKNN(knn=" + std::to_string(p.knn) + ")");
    });
}

PyObject* radius_repr(PyObject* self) {
    return read_record<PyParam>(self, [](const KdTreeSearchParam& p) {
        return str_from("KDTreeSearchParamRadius(radius=" + shortest_text(p.radius) + ")");
    });
}

PyObject* hybrid_repr(PyObject* self) {
    return read_record<PyParam>(self, [](const KdTreeSearchParam& p) {
        return str_from("KDTreeSearchParamHybrid(radius=" + shortest_text(p.radius) +
                        ", max_nn=" + std::to_string(p.max_nn) + ")");
    });
}

PyObject* get_knn(PyObject* self, void*) {
    return read_record<PyParam>(self, [](const KdTreeSearchParam& p) { return PyLong_FromLong(p.knn); });
}

int set_knn(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    int32_t k;
    if (!to_int32(value, "knn", &k)) return -1;
    PyParam* o = as<PyParam>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value = KdTreeSearchParam::Knn(k);
    return 0;
}

PyObject* get_radius(PyObject* self, void*) {
    return read_record<PyParam>(self, [](const KdTreeSearchParam& p) { return PyFloat_FromDouble(p.radius); });
}

int set_radius(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    double r;
    if (!to_double(value, "radius", &r)) return -1;
    PyParam* o = as<PyParam>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value = KdTreeSearchParam::Radius(r);
    return 0;
}

PyObject* get_max_nn(PyObject* self, void*) {
    return read_record<PyParam>(self, [](const KdTreeSearchParam& p) { return PyLong_FromLong(p.max_nn); });
}

PyMethodDef param_methods[] = {
    OMBRIX_NOARGS("get_search_type", param_get_search_type, "get_search_type($self)\n--\n\n"),
    OMBRIX_END,
};

PyGetSetDef knn_getset[] = {
    {"knn", get_knn, set_knn, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef radius_getset[] = {
    {"radius", get_radius, set_radius, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef hybrid_getset[] = {
    {"radius", get_radius, nullptr, nullptr, nullptr},
    {"max_nn", get_max_nn, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* build_kdtree_search_param_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.KDTreeSearchParam";
    d.subclassable = true;
    d.constructible = false;
    d.basicsize = sizeof(PyParam);
    d.slots = {
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyParam>)},
        {Py_tp_methods, param_methods},
    };
    PyTypeObject* t = make_type(d);
    if (!t) return nullptr;
    static const struct {
        const char* name;
        long value;
    } tags[] = {{"KNNSearch", 0}, {"RadiusSearch", 1}, {"HybridSearch", 2}};
    for (const auto& tag : tags) {
        Ref v(PyLong_FromLong(tag.value));
        if (!v || PyObject_SetAttrString(reinterpret_cast<PyObject*>(t), tag.name, v.get()) < 0) return nullptr;
    }
    return t;
}

PyTypeObject* build_param_subclass(const char* name, const char* doc, newfunc tp_new, reprfunc repr,
                                   PyGetSetDef* getset) {
    PyTypeObject* base = kdtree_search_param_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = name;
    d.doc = doc;
    d.base = base;
    d.basicsize = sizeof(PyParam);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(tp_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyParam>)},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {Py_tp_getset, getset},
    };
    return make_type(d);
}

PyTypeObject* build_kdtree_search_param_knn_type() {
    return build_param_subclass("ombrix.cpu.pybind.geometry.KDTreeSearchParamKNN", "KDTreeSearchParamKNN(knn=30)\n--\n\n",
                                knn_new, knn_repr, knn_getset);
}
PyTypeObject* build_kdtree_search_param_radius_type() {
    return build_param_subclass("ombrix.cpu.pybind.geometry.KDTreeSearchParamRadius",
                                "KDTreeSearchParamRadius(radius)\n--\n\n", radius_new, radius_repr, radius_getset);
}
PyTypeObject* build_kdtree_search_param_hybrid_type() {
    return build_param_subclass("ombrix.cpu.pybind.geometry.KDTreeSearchParamHybrid",
                                "KDTreeSearchParamHybrid(radius, max_nn)\n--\n\n", hybrid_new, hybrid_repr,
                                hybrid_getset);
}

// ------------------------------------------------------------ KDTreeFlann

// Rebuilds `kd` from a PointCloud, a Feature or a (dim, n) float64 array.
// Returns false with an exception set when `data` is none of these.
bool build_from(PyObject* data, KdTreeFlann& kd) {
    if (PyObject_TypeCheck(data, point_cloud_type())) {
        PyPointCloud* pc = reinterpret_cast<PyPointCloud*>(data);
        ReadBorrow b(pc->flag);
        if (!b) return false;
        kd.set_points(pc->value.points);
        return true;
    }
    if (is_feature(data)) {
        FeatureArg f;
        if (!borrow_feature(data, "data", &f)) return false;
        kd.set_matrix_data(f.feature->dim, f.feature->n, f.feature->data);
        return true;
    }
    Feature m;
    if (!feature_columns_from_array(data, &m)) return false;
    kd.set_matrix_data(m.dim, m.n, std::move(m.data));
    return true;
}

PyObject* flann_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data"};
    PyObject* a[1];
    if (!parse_tuple_args("KDTreeFlann", names, 1, 0, args, kwargs, a)) return nullptr;
    KdTreeFlann kd;
    try {
        if (!missing_or_none(a[0]) && !build_from(a[0], kd)) return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return alloc_obj<PyFlann>(type, std::move(kd));
}

PyObject* flann_set_geometry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"geometry"};
    PyObject* a[1];
    if (!parse_args("set_geometry", names, 1, 1, args, nargs, kw, a)) return nullptr;
    if (!check_instance(a[0], point_cloud_type(), "geometry")) return nullptr;
    PyPointCloud* pc = reinterpret_cast<PyPointCloud*>(a[0]);
    PyFlann* o = as<PyFlann>(self);
    WriteBorrow wb(o->flag);
    if (!wb) return nullptr;
    ReadBorrow rb(pc->flag);
    if (!rb) return nullptr;
    bool ok = false, oom = false;
    {
        ReleaseGil nogil;
        try {
            ok = o->value.set_points(pc->value.points);
        } catch (const std::bad_alloc&) {
            o->value.clear();
            oom = true;
        }
    }
    if (oom) return PyErr_NoMemory();
    return PyBool_FromLong(ok);
}

PyObject* flann_set_feature(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"feature"};
    PyObject* a[1];
    if (!parse_args("set_feature", names, 1, 1, args, nargs, kw, a)) return nullptr;
    FeatureArg f;
    if (!borrow_feature(a[0], "feature", &f)) return nullptr;
    PyFlann* o = as<PyFlann>(self);
    WriteBorrow wb(o->flag);
    if (!wb) return nullptr;
    try {
        return PyBool_FromLong(o->value.set_matrix_data(f.feature->dim, f.feature->n, f.feature->data));
    } catch (const std::bad_alloc&) {
        o->value.clear();
        return PyErr_NoMemory();
    }
}

PyObject* flann_set_matrix_data(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"data"};
    PyObject* a[1];
    if (!parse_args("set_matrix_data", names, 1, 1, args, nargs, kw, a)) return nullptr;
    PyFlann* o = as<PyFlann>(self);
    try {
        Feature m;
        if (!feature_columns_from_array(a[0], &m)) return nullptr;
        WriteBorrow wb(o->flag);
        if (!wb) return nullptr;
        return PyBool_FromLong(o->value.set_matrix_data(m.dim, m.n, std::move(m.data)));
    } catch (const std::bad_alloc&) {
        o->value.clear();
        return PyErr_NoMemory();
    }
}

// Search outputs, reused by every call on the thread.
struct SearchBuffers {
    std::vector<size_t> indices;
    std::vector<double> dist2;
    std::vector<double> query;
};

SearchBuffers& buffers() {
    thread_local SearchBuffers b;
    return b;
}

// (k, IntVector, DoubleVector); both vectors empty when k is -1.
PyObject* search_result(int32_t k, const SearchBuffers& b) {
    std::vector<int32_t> idx;
    std::vector<double> d2;
    if (k > 0) {
        idx.resize(size_t(k));
        for (size_t i = 0; i < size_t(k); ++i) idx[i] = static_cast<int32_t>(b.indices[i]);
        d2.assign(b.dist2.begin(), b.dist2.begin() + k);
    }
    PyObject* t = PyTuple_New(3);
    if (!t) return nullptr;
    PyObject* kk = PyLong_FromLong(k);
    if (!kk) {
        Py_DECREF(t);
        return nullptr;
    }
    PyTuple_SET_ITEM(t, 0, kk);
    PyObject* iv = wrap_int_vector(std::move(idx));
    if (!iv) {
        Py_DECREF(t);
        return nullptr;
    }
    PyTuple_SET_ITEM(t, 1, iv);
    PyObject* dv = wrap_double_vector(std::move(d2));
    if (!dv) {
        Py_DECREF(t);
        return nullptr;
    }
    PyTuple_SET_ITEM(t, 2, dv);
    return t;
}

// The query of the _xd searches: a contiguous 1-D float64 array, copied.
bool xd_query(PyObject* o, std::vector<double>* out) {
    if (!PyArray_Check(o) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(o)) != 1 ||
        !PyArray_EquivTypenums(PyArray_TYPE(reinterpret_cast<PyArrayObject*>(o)), NPY_FLOAT64)) {
        raise_arg_type("query", "a 1-dimensional float64 array", o);
        return false;
    }
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    if (!PyArray_IS_C_CONTIGUOUS(a)) {
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
        return false;
    }
    const double* p = static_cast<const double*>(PyArray_DATA(a));
    out->assign(p, p + PyArray_SIZE(a));
    return true;
}

enum class Op { Knn, Radius, Hybrid, Param };

// One implementation behind the eight search methods: the query kind (3-D or
// xd) and the operation are template parameters so each method parses only
// its own arguments.
template <bool kXd, Op op>
PyObject* flann_search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const fname = kXd ? (op == Op::Knn      ? "search_knn_vector_xd"
                                            : op == Op::Radius ? "search_radius_vector_xd"
                                            : op == Op::Hybrid ? "search_hybrid_vector_xd"
                                                               : "search_vector_xd")
                                         : (op == Op::Knn      ? "search_knn_vector_3d"
                                            : op == Op::Radius ? "search_radius_vector_3d"
                                            : op == Op::Hybrid ? "search_hybrid_vector_3d"
                                                               : "search_vector_3d");
    static const char* const knn_names[] = {"query", "knn"};
    static const char* const radius_names[] = {"query", "radius"};
    static const char* const hybrid_names[] = {"query", "radius", "max_nn"};
    static const char* const param_names[] = {"query", "search_param"};
    const char* const* names = op == Op::Knn ? knn_names : op == Op::Radius ? radius_names
                                                 : op == Op::Hybrid ? hybrid_names : param_names;
    constexpr int nparams = op == Op::Hybrid ? 3 : 2;
    PyObject* a[3];
    if (!parse_args(fname, names, nparams, nparams, args, nargs, kw, a)) return nullptr;

    SearchBuffers& buf = buffers();
    Vec3 q3;
    const double* q;
    size_t qlen;
    if constexpr (kXd) {
        if (!xd_query(a[0], &buf.query)) return nullptr;
        q = buf.query.data();
        qlen = buf.query.size();
    } else {
        if (!v3_from_any(a[0], &q3)) return nullptr;
        q = q3.data();
        qlen = 3;
    }
    KdTreeSearchParam p;
    if constexpr (op == Op::Knn) {
        if (!to_int32(a[1], "knn", &p.knn)) return nullptr;
    } else if constexpr (op == Op::Radius) {
        if (!to_double(a[1], "radius", &p.radius)) return nullptr;
    } else if constexpr (op == Op::Hybrid) {
        if (!to_double(a[1], "radius", &p.radius) || !to_int32(a[2], "max_nn", &p.max_nn)) return nullptr;
    } else {
        if (!search_param_from(a[1], "search_param", &p)) return nullptr;
    }

    PyFlann* o = as<PyFlann>(self);
    int32_t k;
    {
        ReadBorrow b(o->flag);
        if (!b) return nullptr;
        const KdTreeFlann& kd = o->value;
        try {
            if constexpr (op == Op::Knn)
                k = kd.search_knn(q, qlen, p.knn, buf.indices, buf.dist2);
            else if constexpr (op == Op::Radius)
                k = kd.search_radius(q, qlen, p.radius, buf.indices, buf.dist2);
            else if constexpr (op == Op::Hybrid)
                k = kd.search_hybrid(q, qlen, p.radius, p.max_nn, buf.indices, buf.dist2);
            else
                k = kd.search(q, qlen, p, buf.indices, buf.dist2);
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    return search_result(k, buf);
}

PyMethodDef flann_methods[] = {
    OMBRIX_METHOD("search_knn_vector_3d", (flann_search<false, Op::Knn>),
                  "search_knn_vector_3d($self, query, knn)\n--\n\n"),
    OMBRIX_METHOD("search_radius_vector_3d", (flann_search<false, Op::Radius>),
                  "search_radius_vector_3d($self, query, radius)\n--\n\n"),
    OMBRIX_METHOD("search_hybrid_vector_3d", (flann_search<false, Op::Hybrid>),
                  "search_hybrid_vector_3d($self, query, radius, max_nn)\n--\n\n"),
    OMBRIX_METHOD("search_vector_3d", (flann_search<false, Op::Param>),
                  "search_vector_3d($self, query, search_param)\n--\n\n"),
    OMBRIX_METHOD("search_knn_vector_xd", (flann_search<true, Op::Knn>),
                  "search_knn_vector_xd($self, query, knn)\n--\n\n"),
    OMBRIX_METHOD("search_radius_vector_xd", (flann_search<true, Op::Radius>),
                  "search_radius_vector_xd($self, query, radius)\n--\n\n"),
    OMBRIX_METHOD("search_hybrid_vector_xd", (flann_search<true, Op::Hybrid>),
                  "search_hybrid_vector_xd($self, query, radius, max_nn)\n--\n\n"),
    OMBRIX_METHOD("search_vector_xd", (flann_search<true, Op::Param>),
                  "search_vector_xd($self, query, search_param)\n--\n\n"),
    OMBRIX_METHOD("set_geometry", flann_set_geometry, "set_geometry($self, geometry)\n--\n\n"),
    OMBRIX_METHOD("set_feature", flann_set_feature, "set_feature($self, feature)\n--\n\n"),
    OMBRIX_METHOD("set_matrix_data", flann_set_matrix_data, "set_matrix_data($self, data)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_kdtree_flann_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.KDTreeFlann";
    d.doc = "KDTreeFlann(data=None)\n--\n\n";
    d.basicsize = sizeof(PyFlann);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(flann_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyFlann>)},
        {Py_tp_methods, flann_methods},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(kdtree_search_param_type, build_kdtree_search_param_type)
OMBRIX_TYPE_GETTER(kdtree_search_param_knn_type, build_kdtree_search_param_knn_type)
OMBRIX_TYPE_GETTER(kdtree_search_param_radius_type, build_kdtree_search_param_radius_type)
OMBRIX_TYPE_GETTER(kdtree_search_param_hybrid_type, build_kdtree_search_param_hybrid_type)
OMBRIX_TYPE_GETTER(kdtree_flann_type, build_kdtree_flann_type)

bool is_search_param(PyObject* o) {
    PyTypeObject* t = kdtree_search_param_type();
    if (!t) {
        PyErr_Clear();
        return false;
    }
    return PyObject_TypeCheck(o, t);
}

bool search_param_from(PyObject* o, const char* param, KdTreeSearchParam* out) {
    PyTypeObject* t = kdtree_search_param_type();
    if (!t || !check_instance(o, t, param)) return false;
    PyParam* p = as<PyParam>(o);
    ReadBorrow b(p->flag);
    if (!b) return false;
    *out = p->value;
    return true;
}

PyObject* wrap_search_param(const KdTreeSearchParam& p) {
    PyTypeObject* t = p.kind == Kind::Knn      ? kdtree_search_param_knn_type()
                      : p.kind == Kind::Radius ? kdtree_search_param_radius_type()
                                               : kdtree_search_param_hybrid_type();
    if (!t) return nullptr;
    return alloc_obj<PyParam>(t, p);
}

}  // namespace ombrix::py
