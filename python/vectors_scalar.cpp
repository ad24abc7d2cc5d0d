// The plain containers: IntVector and DoubleVector (one number per element,
// NumPy copies) and the always-empty Matrix3dVector / Matrix4dVector.
#include <climits>
#include <string>

#include "binding/convert.h"
#include "core/numtext.h"
#include "vectors.h"
#include "vectors_impl.h"

namespace ombrix::py {

namespace {

template <class T>
struct ScalarTraits;
template <>
struct ScalarTraits<double> {
    static constexpr int npy = NPY_FLOAT64;
    static constexpr const char* name = "DoubleVector";
    static PyTypeObject* type() { return double_vector_type(); }
    static PyObject* box(double v) { return PyFloat_FromDouble(v); }
    static std::string text(double v) { return shortest_text(v); }
};
template <>
struct ScalarTraits<int32_t> {
    static constexpr int npy = NPY_INT32;
    static constexpr const char* name = "IntVector";
    static PyTypeObject* type() { return int_vector_type(); }
    static PyObject* box(int32_t v) { return PyLong_FromLong(v); }
    static std::string text(int32_t v) { return std::to_string(v); }
};

template <class T>
struct PyScalarVec {
    PyObject_HEAD
    BorrowFlag flag;
    std::vector<T> data;
};

template <class T>
PyScalarVec<T>* sv(PyObject* o) {
    return reinterpret_cast<PyScalarVec<T>*>(o);
}

// Constructor item: Python's own float / index conversion, errors unchanged.
bool raw_item(PyObject* item, double* out) {
    double v = PyFloat_AsDouble(item);
    if (v == -1.0 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}
bool raw_item(PyObject* item, int32_t* out) {
    Ref idx(PyNumber_Index(item));
    if (!idx) return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(idx.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow || v < INT32_MIN || v > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to a 32-bit integer");
        return false;
    }
    *out = static_cast<int32_t>(v);
    return true;
}

// Whole-value conversion of extend's first attempt and of equality: a
// sequence other than str, iterated to its end, items like single values.
template <class T>
bool values_from(PyObject* o, const char* param, std::vector<T>* out) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        raise_arg_type(param, "sequence", o);
        return false;
    }
    Ref it(PyObject_GetIter(o));
    if (!it) return false;
    std::vector<T> vals;
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item(raw);
        T v;
        if (!component_from<T>(item.get(), param, &v)) return false;
        vals.push_back(v);
    }
    if (PyErr_Occurred()) return false;
    *out = std::move(vals);
    return true;
}

template <class T>
bool sequence_values(PyObject* value, std::vector<T>* out, const char* param) {
    if (!PySequence_Check(value)) {
        raise_arg_type(param, "sequence", value);
        return false;
    }
    Py_ssize_t n = PySequence_Size(value);
    if (n < 0) return false;
    std::vector<T> vals(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(PySequence_GetItem(value, i));
        if (!item || !raw_item(item.get(), &vals[static_cast<size_t>(i)])) return false;
    }
    *out = std::move(vals);
    return true;
}

bool normalise(int64_t* i, size_t n) {
    if (*i < 0) *i += static_cast<int64_t>(n);
    return *i >= 0 && *i < static_cast<int64_t>(n);
}

template <class T>
PyObject* new_scalar(PyTypeObject* type, std::vector<T>&& data) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&sv<T>(self)->flag) BorrowFlag();
    new (&sv<T>(self)->data) std::vector<T>(std::move(data));
    return self;
}

template <class T>
PyObject* sc_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"arg"};
    PyObject* a[1];
    if (!parse_tuple_args(ScalarTraits<T>::name, kNames, 1, 0, args, kwargs, a)) return nullptr;
    std::vector<T> data;
    if (!missing_or_none(a[0]) && !sequence_values<T>(a[0], &data, "arg")) return nullptr;
    return new_scalar<T>(type, std::move(data));
}

template <class T>
void sc_dealloc(PyObject* self) {
    sv<T>(self)->data.~vector<T>();
    sv<T>(self)->flag.~BorrowFlag();
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

template <class T>
Py_ssize_t sc_len(PyObject* self) {
    ReadBorrow b(sv<T>(self)->flag);
    if (!b) return -1;
    return static_cast<Py_ssize_t>(sv<T>(self)->data.size());
}

template <class T>
PyObject* sc_get_at(PyObject* self, int64_t i) {
    ReadBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    const std::vector<T>& d = sv<T>(self)->data;
    if (!normalise(&i, d.size())) return raise(PyExc_IndexError, "list index out of range");
    return ScalarTraits<T>::box(d[static_cast<size_t>(i)]);
}

template <class T>
PyObject* sc_item(PyObject* self, Py_ssize_t i) {
    return sc_get_at<T>(self, i);
}

template <class T>
PyObject* sc_subscript(PyObject* self, PyObject* idx) {
    int64_t i;
    if (!to_int64(idx, "idx", &i)) return nullptr;
    return sc_get_at<T>(self, i);
}

template <class T>
int sc_ass_subscript(PyObject* self, PyObject* idx, PyObject* value) {
    if (!value) return raise_int(PyExc_NotImplementedError, "can't delete item");
    int64_t i;
    T v;
    if (!to_int64(idx, "idx", &i) || !component_from<T>(value, "value", &v)) return -1;
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return -1;
    std::vector<T>& d = sv<T>(self)->data;
    if (!normalise(&i, d.size())) return raise_int(PyExc_IndexError, "list assignment index out of range");
    d[static_cast<size_t>(i)] = v;
    return 0;
}

template <class T>
PyObject* sc_append(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"value"};
    PyObject* a[1];
    if (!parse_args("append", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    T v;
    if (!component_from<T>(a[0], "value", &v)) return nullptr;
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    sv<T>(self)->data.push_back(v);
    Py_RETURN_NONE;
}

template <class T>
PyObject* sc_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    if (!parse_args("extend", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    PyObject* other = a[0];
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    std::vector<T>& d = sv<T>(self)->data;
    std::vector<T> vals;
    if (values_from<T>(other, "other", &vals)) {
        d.insert(d.end(), vals.begin(), vals.end());
        Py_RETURN_NONE;
    }
    if (!PySequence_Check(other)) return nullptr;  // values_from raised the argument error
    PyErr_Clear();
    // Item by item: values before a failing item stay appended.
    Py_ssize_t n = PySequence_Size(other);
    if (n < 0) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(PySequence_GetItem(other, i));
        T v;
        if (!item || !component_from<T>(item.get(), "other", &v)) return nullptr;
        d.push_back(v);
    }
    Py_RETURN_NONE;
}

template <class T>
PyObject* sc_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"idx", "value"};
    PyObject* a[2];
    if (!parse_args("insert", kNames, 2, 2, args, nargs, kwnames, a)) return nullptr;
    int64_t idx;
    T v;
    if (!to_int64(a[0], "idx", &idx) || !component_from<T>(a[1], "value", &v)) return nullptr;
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    std::vector<T>& d = sv<T>(self)->data;
    int64_t n = static_cast<int64_t>(d.size());
    int64_t p = idx < 0 ? (idx + n > 0 ? idx + n : 0) : (idx < n ? idx : n);
    d.insert(d.begin() + p, v);
    Py_RETURN_NONE;
}

template <class T>
PyObject* sc_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"idx"};
    PyObject* a[1];
    if (!parse_args("pop", kNames, 1, 0, args, nargs, kwnames, a)) return nullptr;
    int64_t i = -1;
    if (!missing_or_none(a[0]) && !to_int64(a[0], "idx", &i)) return nullptr;
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    std::vector<T>& d = sv<T>(self)->data;
    if (!normalise(&i, d.size())) return raise(PyExc_IndexError, "pop index out of range");
    T v = d[static_cast<size_t>(i)];
    d.erase(d.begin() + i);
    return ScalarTraits<T>::box(v);
}

template <class T>
PyObject* sc_remove(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"value"};
    PyObject* a[1];
    if (!parse_args("remove", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    T v;
    if (!component_from<T>(a[0], "value", &v)) return nullptr;
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    std::vector<T>& d = sv<T>(self)->data;
    for (auto it = d.begin(); it != d.end(); ++it) {
        if (*it == v) {
            d.erase(it);
            Py_RETURN_NONE;
        }
    }
    return raise(PyExc_TypeError, "value not found");
}

template <class T>
PyObject* sc_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"value"};
    PyObject* a[1];
    if (!parse_args("count", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    T v;
    if (!component_from<T>(a[0], "value", &v)) return nullptr;
    ReadBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    Py_ssize_t count = 0;
    for (T x : sv<T>(self)->data) count += (x == v);
    return PyLong_FromSsize_t(count);
}

template <class T>
PyObject* sc_clear(PyObject* self, PyObject*) {
    WriteBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    sv<T>(self)->data.clear();
    Py_RETURN_NONE;
}

template <class T>
PyObject* sc_copy(PyObject* self, PyObject*) {
    std::vector<T> data;
    {
        ReadBorrow b(sv<T>(self)->flag);
        if (!b) return nullptr;
        data = sv<T>(self)->data;
    }
    return new_scalar<T>(Py_TYPE(self), std::move(data));
}

template <class T>
PyObject* sc_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"_memo"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    return sc_copy<T>(self, nullptr);
}

template <class T>
PyObject* sc_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"dtype", "copy"};
    PyObject* a[2];
    if (!parse_args("__array__", kNames, 2, 0, args, nargs, kwnames, a)) return nullptr;
    bool copy;
    if (!missing_or_none(a[1]) && !to_bool(a[1], "copy", &copy)) return nullptr;
    Ref arr;
    {
        ReadBorrow b(sv<T>(self)->flag);
        if (!b) return nullptr;
        const std::vector<T>& d = sv<T>(self)->data;
        npy_intp dims[1] = {static_cast<npy_intp>(d.size())};
        arr = Ref(PyArray_SimpleNew(1, dims, ScalarTraits<T>::npy));
        if (!arr) return nullptr;
        if (!d.empty()) std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr.get())), d.data(), d.size() * sizeof(T));
    }
    if (missing_or_none(a[0])) return arr.release();
    return PyObject_CallMethod(arr.get(), "astype", "O", a[0]);
}

template <class T>
PyObject* sc_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    std::vector<T> vals;
    bool eq = false;
    if (values_from<T>(other, "other", &vals)) {
        ReadBorrow b(sv<T>(self)->flag);
        if (!b) return nullptr;
        const std::vector<T>& d = sv<T>(self)->data;
        eq = d.size() == vals.size();
        for (size_t i = 0; eq && i < d.size(); ++i)
            if (!(d[i] == vals[i])) eq = false;
    } else {
        PyErr_Clear();  // not convertible: unequal
    }
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

template <class T>
PyObject* sc_repr(PyObject* self) {
    ReadBorrow b(sv<T>(self)->flag);
    if (!b) return nullptr;
    std::string s = std::string(ScalarTraits<T>::name) + "[";
    const std::vector<T>& d = sv<T>(self)->data;
    for (size_t i = 0; i < d.size(); ++i) {
        if (i) s += ", ";
        s += ScalarTraits<T>::text(d[i]);
    }
    s += "]";
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

template <class T>
PyMethodDef sc_methods[] = {
    OMBRIX_METHOD("append", sc_append<T>, "append($self, value)\n--\n\n"),
    OMBRIX_METHOD("extend", sc_extend<T>, "extend($self, other)\n--\n\n"),
    OMBRIX_METHOD("insert", sc_insert<T>, "insert($self, idx, value)\n--\n\n"),
    OMBRIX_METHOD("pop", sc_pop<T>, "pop($self, idx=None)\n--\n\n"),
    OMBRIX_METHOD("remove", sc_remove<T>, "remove($self, value)\n--\n\n"),
    OMBRIX_METHOD("count", sc_count<T>, "count($self, value)\n--\n\n"),
    OMBRIX_NOARGS("clear", sc_clear<T>, "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("__copy__", sc_copy<T>, "__copy__($self)\n--\n\n"),
    OMBRIX_METHOD("__deepcopy__", sc_deepcopy<T>, "__deepcopy__($self, _memo)\n--\n\n"),
    OMBRIX_METHOD("__array__", sc_array<T>, "__array__($self, dtype=None, copy=None)\n--\n\n"),
    OMBRIX_END,
};

template <class T>
PyTypeObject* build_scalar_type(const char* dotted, const char* doc) {
    TypeDef d;
    d.name = dotted;
    d.doc = doc;
    d.basicsize = sizeof(PyScalarVec<T>);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(sc_new<T>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(sc_dealloc<T>)},
        {Py_tp_repr, reinterpret_cast<void*>(sc_repr<T>)},
        {Py_tp_richcompare, reinterpret_cast<void*>(sc_richcompare<T>)},
        {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
        {Py_tp_methods, sc_methods<T>},
        {Py_sq_length, reinterpret_cast<void*>(sc_len<T>)},
        {Py_sq_item, reinterpret_cast<void*>(sc_item<T>)},
        {Py_mp_length, reinterpret_cast<void*>(sc_len<T>)},
        {Py_mp_subscript, reinterpret_cast<void*>(sc_subscript<T>)},
        {Py_mp_ass_subscript, reinterpret_cast<void*>(sc_ass_subscript<T>)},
    };
    return make_type(d);
}

PyTypeObject* build_int_vector_type() {
    return build_scalar_type<int32_t>("ombrix.cpu.pybind.utility.IntVector", "IntVector(arg=None)\n--\n\n");
}
PyTypeObject* build_double_vector_type() {
    return build_scalar_type<double>("ombrix.cpu.pybind.utility.DoubleVector", "DoubleVector(arg=None)\n--\n\n");
}

// ---- Matrix3dVector, Matrix4dVector: length, item reads, clear, repr ----

template <class M>
struct MatTraits;
template <>
struct MatTraits<Mat3> {
    static constexpr int dim = 3;
    static constexpr const char* name = "Matrix3dVector";
    static constexpr const char* repr = "std::vector<Eigen::Matrix3d> with ";
};
template <>
struct MatTraits<Mat4> {
    static constexpr int dim = 4;
    static constexpr const char* name = "Matrix4dVector";
    static constexpr const char* repr = "std::vector<Eigen::Matrix4d> with ";
};

template <class M>
using PyMatVec = PyScalarVec<M>;

template <class M>
PyObject* new_mat(PyTypeObject* type, std::vector<M>&& data) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&sv<M>(self)->flag) BorrowFlag();
    new (&sv<M>(self)->data) std::vector<M>(std::move(data));
    return self;
}

template <class M>
PyObject* mat_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"arg"};
    PyObject* a[1];
    if (!parse_tuple_args(MatTraits<M>::name, kNames, 1, 0, args, kwargs, a)) return nullptr;
    if (!missing_or_none(a[0])) return raise(PyExc_TypeError, "constructing from data is not supported here");
    return new_mat<M>(type, {});
}

template <class M>
PyObject* mat_get_at(PyObject* self, int64_t i) {
    ReadBorrow b(sv<M>(self)->flag);
    if (!b) return nullptr;
    const std::vector<M>& d = sv<M>(self)->data;
    if (!normalise(&i, d.size())) return raise(PyExc_IndexError, "list index out of range");
    constexpr int n = MatTraits<M>::dim;
    return array2d_from_doubles(d[static_cast<size_t>(i)].data(), n, n);
}

template <class M>
PyObject* mat_item(PyObject* self, Py_ssize_t i) {
    return mat_get_at<M>(self, i);
}

template <class M>
PyObject* mat_subscript(PyObject* self, PyObject* idx) {
    int64_t i;
    if (!to_int64(idx, "idx", &i)) return nullptr;
    return mat_get_at<M>(self, i);
}

template <class M>
PyObject* mat_repr(PyObject* self) {
    Py_ssize_t n = sc_len<M>(self);
    if (n < 0) return nullptr;
    std::string s = std::string(MatTraits<M>::repr) + std::to_string(n) + " elements.\nUse numpy.asarray() to access data.";
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

template <class M>
PyMethodDef mat_methods[] = {
    OMBRIX_NOARGS("clear", sc_clear<M>, "clear($self)\n--\n\n"),
    OMBRIX_END,
};

template <class M>
PyTypeObject* build_mat_type(const char* dotted, const char* doc) {
    TypeDef d;
    d.name = dotted;
    d.doc = doc;
    d.basicsize = sizeof(PyMatVec<M>);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(mat_new<M>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(sc_dealloc<M>)},
        {Py_tp_repr, reinterpret_cast<void*>(mat_repr<M>)},
        {Py_tp_methods, mat_methods<M>},
        {Py_sq_length, reinterpret_cast<void*>(sc_len<M>)},
        {Py_sq_item, reinterpret_cast<void*>(mat_item<M>)},
        {Py_mp_length, reinterpret_cast<void*>(sc_len<M>)},
        {Py_mp_subscript, reinterpret_cast<void*>(mat_subscript<M>)},
    };
    return make_type(d);
}

PyTypeObject* build_matrix3d_vector_type() {
    return build_mat_type<Mat3>("ombrix.cpu.pybind.utility.Matrix3dVector", "Matrix3dVector(arg=None)\n--\n\n");
}
PyTypeObject* build_matrix4d_vector_type() {
    return build_mat_type<Mat4>("ombrix.cpu.pybind.utility.Matrix4dVector", "Matrix4dVector(arg=None)\n--\n\n");
}

}  // namespace

OMBRIX_TYPE_GETTER(int_vector_type, build_int_vector_type)
OMBRIX_TYPE_GETTER(double_vector_type, build_double_vector_type)
OMBRIX_TYPE_GETTER(matrix3d_vector_type, build_matrix3d_vector_type)
OMBRIX_TYPE_GETTER(matrix4d_vector_type, build_matrix4d_vector_type)

bool extract_from(PyObject* value, std::vector<int32_t>* out, const char* param) {
    return sequence_values<int32_t>(value, out, param);
}
bool extract_from(PyObject* value, std::vector<double>* out, const char* param) {
    return sequence_values<double>(value, out, param);
}

PyObject* wrap_int_vector(std::vector<int32_t>&& v) { return new_scalar<int32_t>(int_vector_type(), std::move(v)); }
PyObject* wrap_double_vector(std::vector<double>&& v) { return new_scalar<double>(double_vector_type(), std::move(v)); }
PyObject* wrap_matrix3d_vector(std::vector<Mat3>&& v) { return new_mat<Mat3>(matrix3d_vector_type(), std::move(v)); }
PyObject* wrap_matrix4d_vector(std::vector<Mat4>&& v) { return new_mat<Mat4>(matrix4d_vector_type(), std::move(v)); }

}  // namespace ombrix::py
