// The two-mode containers Vector3dVector, Vector2dVector, Vector3iVector,
// Vector2iVector and Vector4iVector: free-standing element arrays or live
// views on a geometry attribute, with the list protocol and __array__.
#include "vectors.h"

#include <string>

#include "vectors_impl.h"

namespace ombrix::py {

namespace {

template <class E>
PyObject* element_array(const E& e) {
    npy_intp dims[1] = {VecTraits<E>::k};
    PyObject* arr = PyArray_SimpleNew(1, dims, VecTraits<E>::npy);
    if (!arr) return nullptr;
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)), e.data(), sizeof(E));
    return arr;
}

// Index normalisation: negative counts from the end; false when out of range.
bool normalise(int64_t* i, size_t n) {
    if (*i < 0) *i += static_cast<int64_t>(n);
    return *i >= 0 && *i < static_cast<int64_t>(n);
}

template <class E>
PyObject* vec_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"arg"};
    PyObject* a[1];
    if (!parse_tuple_args(VecTraits<E>::name, kNames, 1, 0, args, kwargs, a)) return nullptr;
    std::vector<E> data;
    if (!missing_or_none(a[0]) && !extract_vec<E>(a[0], &data)) return nullptr;
    return new_vec<E>(type, std::move(data), nullptr, 0);
}

template <class E>
void vec_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    PyVec<E>* v = reinterpret_cast<PyVec<E>*>(self);
    Py_CLEAR(v->owner);
    v->retired.~RetiredList<E>();
    v->data.~vector<E>();
    v->flag.~BorrowFlag();
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// Views take part in garbage collection: a geometry subclass instance may
// hold a view of itself in its __dict__.
template <class E>
int vec_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<PyVec<E>*>(self)->owner);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

template <class E>
Py_ssize_t vec_len(PyObject* self) {
    Store<E> st;
    if (!resolve<E>(self, &st)) return -1;
    ReadBorrow b(*st.flag);
    if (!b) return -1;
    return static_cast<Py_ssize_t>(st.vec->size());
}

template <class E>
PyObject* get_at(PyObject* self, int64_t i) {
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    E e;
    {
        ReadBorrow b(*st.flag);
        if (!b) return nullptr;
        if (!normalise(&i, st.vec->size())) return raise(PyExc_IndexError, "list index out of range");
        e = (*st.vec)[static_cast<size_t>(i)];
    }
    return element_array(e);
}

// Sequence-protocol item (iteration, PySequence_GetItem).
template <class E>
PyObject* vec_item(PyObject* self, Py_ssize_t i) {
    return get_at<E>(self, i);
}

template <class E>
PyObject* vec_subscript(PyObject* self, PyObject* idx) {
    int64_t i;
    if (!to_int64(idx, "idx", &i)) return nullptr;
    return get_at<E>(self, i);
}

template <class E>
int vec_ass_subscript(PyObject* self, PyObject* idx, PyObject* value) {
    if (!value) return raise_int(PyExc_NotImplementedError, "can't delete item");
    int64_t i;
    if (!to_int64(idx, "idx", &i)) return -1;
    E e;
    if (!element_from<E>(value, "value", &e)) return -1;
    Store<E> st;
    if (!resolve<E>(self, &st)) return -1;
    WriteBorrow b(*st.flag);
    if (!b) return -1;
    if (!normalise(&i, st.vec->size())) return raise_int(PyExc_IndexError, "list assignment index out of range");
    (*st.vec)[static_cast<size_t>(i)] = e;
    return 0;
}

template <class E>
PyObject* vec_append(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"value"};
    PyObject* a[1];
    if (!parse_args("append", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    E e;
    if (!element_from<E>(a[0], "value", &e)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    WriteBorrow b(*st.flag);
    if (!b) return nullptr;
    st.grow(st.vec->size() + 1);
    st.vec->push_back(e);
    Py_RETURN_NONE;
}

template <class E>
PyObject* vec_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    if (!parse_args("extend", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    std::vector<E> more;
    if (!extract_vec<E>(a[0], &more)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    WriteBorrow b(*st.flag);
    if (!b) return nullptr;
    st.grow(st.vec->size() + more.size());
    st.vec->insert(st.vec->end(), more.begin(), more.end());
    Py_RETURN_NONE;
}

template <class E>
PyObject* vec_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"idx", "value"};
    PyObject* a[2];
    if (!parse_args("insert", kNames, 2, 2, args, nargs, kwnames, a)) return nullptr;
    int64_t idx;
    if (!to_int64(a[0], "idx", &idx)) return nullptr;
    E e;
    if (!element_from<E>(a[1], "value", &e)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    WriteBorrow b(*st.flag);
    if (!b) return nullptr;
    int64_t n = static_cast<int64_t>(st.vec->size());
    int64_t p = idx < 0 ? (idx + n > 0 ? idx + n : 0) : (idx < n ? idx : n);
    st.grow(st.vec->size() + 1);
    st.vec->insert(st.vec->begin() + p, e);
    Py_RETURN_NONE;
}

template <class E>
PyObject* vec_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"idx"};
    PyObject* a[1];
    if (!parse_args("pop", kNames, 1, 0, args, nargs, kwnames, a)) return nullptr;
    int64_t i = -1;
    if (!missing_or_none(a[0]) && !to_int64(a[0], "idx", &i)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    E e;
    {
        WriteBorrow b(*st.flag);
        if (!b) return nullptr;
        if (!normalise(&i, st.vec->size())) return raise(PyExc_IndexError, "pop index out of range");
        e = (*st.vec)[static_cast<size_t>(i)];
        st.vec->erase(st.vec->begin() + i);
    }
    return element_array(e);
}

// Component-wise match (IEEE equality for floats) of an element and a value
// of any length.
template <class E>
bool matches(const E& e, const std::vector<typename VecTraits<E>::C>& vals) {
    if (vals.size() != e.size()) return false;
    for (size_t c = 0; c < e.size(); ++c)
        if (!(e[c] == vals[c])) return false;
    return true;
}

template <class E>
PyObject* vec_remove(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"value"};
    PyObject* a[1];
    if (!parse_args("remove", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    std::vector<typename VecTraits<E>::C> vals;
    if (!numbers_from(a[0], "value", &vals)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    WriteBorrow b(*st.flag);
    if (!b) return nullptr;
    for (auto it = st.vec->begin(); it != st.vec->end(); ++it) {
        if (matches(*it, vals)) {
            st.vec->erase(it);
            Py_RETURN_NONE;
        }
    }
    return raise(PyExc_TypeError, "value not found");
}

template <class E>
PyObject* vec_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"value"};
    PyObject* a[1];
    if (!parse_args("count", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    std::vector<typename VecTraits<E>::C> vals;
    if (!numbers_from(a[0], "value", &vals)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    ReadBorrow b(*st.flag);
    if (!b) return nullptr;
    Py_ssize_t count = 0;
    for (const E& e : *st.vec) count += matches(e, vals);
    return PyLong_FromSsize_t(count);
}

template <class E>
PyObject* vec_clear(PyObject* self, PyObject*) {
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    WriteBorrow b(*st.flag);
    if (!b) return nullptr;
    st.vec->clear();  // keeps the buffer: earlier shared arrays stay valid
    Py_RETURN_NONE;
}

template <class E>
PyObject* vec_copy(PyObject* self, PyObject*) {
    std::vector<E> data;
    if (!snapshot<E>(self, &data)) return nullptr;
    return new_vec<E>(Py_TYPE(self), std::move(data), nullptr, 0);
}

template <class E>
PyObject* vec_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"_memo"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    return vec_copy<E>(self, nullptr);
}

template <class E>
PyObject* vec_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"dtype", "copy"};
    PyObject* a[2];
    if (!parse_args("__array__", kNames, 2, 0, args, nargs, kwnames, a)) return nullptr;
    bool copy;
    if (!missing_or_none(a[1]) && !to_bool(a[1], "copy", &copy)) return nullptr;
    Store<E> st;
    if (!resolve<E>(self, &st)) return nullptr;
    void* data;
    npy_intp n;
    {
        ReadBorrow b(*st.flag);
        if (!b) return nullptr;
        data = st.vec->data();
        n = static_cast<npy_intp>(st.vec->size());
        st.mark_exported();
    }
    PyVec<E>* v = reinterpret_cast<PyVec<E>*>(self);
    Ref arr(shared_array2(data, n, VecTraits<E>::k, VecTraits<E>::npy, v->owner ? v->owner : self));
    if (!arr || missing_or_none(a[0])) return arr.release();
    return PyObject_CallMethod(arr.get(), "astype", "O", a[0]);
}

template <class E>
PyObject* vec_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    bool eq = false;
    if (Py_TYPE(other) == Py_TYPE(self)) {
        Store<E> x, y;
        if (!resolve<E>(self, &x) || !resolve<E>(other, &y)) return nullptr;
        ReadBorrow bx(*x.flag);
        if (!bx) return nullptr;
        ReadBorrow by(*y.flag);
        if (!by) return nullptr;
        eq = x.vec->size() == y.vec->size();
        for (size_t i = 0; eq && i < x.vec->size(); ++i)
            for (int c = 0; c < VecTraits<E>::k; ++c)
                if (!((*x.vec)[i][c] == (*y.vec)[i][c])) eq = false;
    }
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

template <class E>
PyObject* vec_repr(PyObject* self) {
    Py_ssize_t n = vec_len<E>(self);
    if (n < 0) return nullptr;
    std::string s = std::string(VecTraits<E>::repr) + std::to_string(n) + " elements.\nUse numpy.asarray() to access data.";
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

#define VEC_ARRAY_DOC "__array__($self, dtype=None, copy=None)\n--\n\n" \
    "Shared-memory ndarray over the underlying storage (pybind\nsemantics): mutations write through; the owning geometry (or\nthis vector, when free-standing) is the numpy base object."

template <class E>
PyMethodDef vec_methods[] = {
    OMBRIX_METHOD("append", vec_append<E>, "append($self, value)\n--\n\n"),
    OMBRIX_METHOD("extend", vec_extend<E>, "extend($self, other)\n--\n\n"),
    OMBRIX_METHOD("insert", vec_insert<E>, "insert($self, idx, value)\n--\n\n"),
    OMBRIX_METHOD("pop", vec_pop<E>, "pop($self, idx=None)\n--\n\n"),
    OMBRIX_METHOD("remove", vec_remove<E>, "remove($self, value)\n--\n\n"),
    OMBRIX_METHOD("count", vec_count<E>, "count($self, value)\n--\n\n"),
    OMBRIX_NOARGS("clear", vec_clear<E>, "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("__copy__", vec_copy<E>, "__copy__($self)\n--\n\n"),
    OMBRIX_METHOD("__deepcopy__", vec_deepcopy<E>, "__deepcopy__($self, _memo)\n--\n\n"),
    OMBRIX_METHOD("__array__", vec_array<E>, VEC_ARRAY_DOC),
    OMBRIX_END,
};

template <class E>
PyTypeObject* build_vec_type(const char* dotted, const char* doc) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(vec_new<E>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(vec_dealloc<E>)},
        {Py_tp_repr, reinterpret_cast<void*>(vec_repr<E>)},
        {Py_tp_richcompare, reinterpret_cast<void*>(vec_richcompare<E>)},
        {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
        {Py_tp_methods, vec_methods<E>},
        {Py_sq_length, reinterpret_cast<void*>(vec_len<E>)},
        {Py_sq_item, reinterpret_cast<void*>(vec_item<E>)},
        {Py_mp_length, reinterpret_cast<void*>(vec_len<E>)},
        {Py_mp_subscript, reinterpret_cast<void*>(vec_subscript<E>)},
        {Py_mp_ass_subscript, reinterpret_cast<void*>(vec_ass_subscript<E>)},
        {Py_tp_traverse, reinterpret_cast<void*>(vec_traverse<E>)},
        {Py_tp_doc, const_cast<char*>(doc)},
        {0, nullptr},
    };
    // As make_type, plus garbage-collection support (final, constructible).
    PyType_Spec type_spec{};
    type_spec.name = dotted;
    type_spec.basicsize = static_cast<int>(sizeof(PyVec<E>));
    type_spec.itemsize = 0;
    type_spec.flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
    type_spec.slots = slots;
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

PyTypeObject* build_vector3d_vector_type() {
    return build_vec_type<Vec3>("ombrix.cpu.pybind.utility.Vector3dVector", "Vector3dVector(arg=None)\n--\n\n");
}
PyTypeObject* build_vector2d_vector_type() {
    return build_vec_type<Vec2>("ombrix.cpu.pybind.utility.Vector2dVector", "Vector2dVector(arg=None)\n--\n\n");
}
PyTypeObject* build_vector3i_vector_type() {
    return build_vec_type<Vec3i>("ombrix.cpu.pybind.utility.Vector3iVector", "Vector3iVector(arg=None)\n--\n\n");
}
PyTypeObject* build_vector2i_vector_type() {
    return build_vec_type<Vec2i>("ombrix.cpu.pybind.utility.Vector2iVector", "Vector2iVector(arg=None)\n--\n\n");
}
PyTypeObject* build_vector4i_vector_type() {
    return build_vec_type<Vec4i>("ombrix.cpu.pybind.utility.Vector4iVector", "Vector4iVector(arg=None)\n--\n\n");
}

}  // namespace

OMBRIX_TYPE_GETTER(vector3d_vector_type, build_vector3d_vector_type)
OMBRIX_TYPE_GETTER(vector2d_vector_type, build_vector2d_vector_type)
OMBRIX_TYPE_GETTER(vector3i_vector_type, build_vector3i_vector_type)
OMBRIX_TYPE_GETTER(vector2i_vector_type, build_vector2i_vector_type)
OMBRIX_TYPE_GETTER(vector4i_vector_type, build_vector4i_vector_type)

PyObject* shared_array2(void* data, npy_intp n, int k, int npy, PyObject* base) {
    // An empty attribute may have no buffer at all; NumPy would allocate one
    // for a null pointer, so point the zero-length array at a dummy instead.
    static double dummy[4];
    npy_intp dims[2] = {n, k};
    npy_intp item = npy == NPY_FLOAT64 ? 8 : 4;
    npy_intp strides[2] = {n ? item * k : 0, n ? item : 0};
    PyObject* arr = PyArray_New(&PyArray_Type, 2, dims, npy, strides, data ? data : dummy, 0, NPY_ARRAY_WRITEABLE,
                                nullptr);
    if (!arr) return nullptr;
    Py_INCREF(base);
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), base) < 0) {
        Py_DECREF(arr);
        return nullptr;
    }
    return arr;
}

PyObject* make_view(PyObject* owner, int target) {
    BorrowFlag* flag;
    if (target <= kPcdColors) {
        if (!PyObject_TypeCheck(owner, point_cloud_type())) return raise(PyExc_TypeError, "view owner is not a PointCloud");
        flag = &reinterpret_cast<PyPointCloud*>(owner)->flag;
    } else {
        if (!PyObject_TypeCheck(owner, triangle_mesh_type()))
            return raise(PyExc_TypeError, "view owner is not a TriangleMesh");
        if (target > kMeshTriangleNormals && target != kMeshTriangles) return raise(PyExc_TypeError, "invalid view target");
        flag = &reinterpret_cast<PyTriangleMesh*>(owner)->flag;
    }
    ReadBorrow b(*flag);
    if (!b) return nullptr;
    if (target == kMeshTriangles) return new_vec<Vec3i>(vector3i_vector_type(), {}, owner, target);
    return new_vec<Vec3>(vector3d_vector_type(), {}, owner, target);
}

PyObject* wrap_vector3d(std::vector<Vec3>&& v) { return new_vec<Vec3>(vector3d_vector_type(), std::move(v), nullptr, 0); }
PyObject* wrap_vector2d(std::vector<Vec2>&& v) { return new_vec<Vec2>(vector2d_vector_type(), std::move(v), nullptr, 0); }
PyObject* wrap_vector3i(std::vector<Vec3i>&& v) { return new_vec<Vec3i>(vector3i_vector_type(), std::move(v), nullptr, 0); }
PyObject* wrap_vector2i(std::vector<Vec2i>&& v) { return new_vec<Vec2i>(vector2i_vector_type(), std::move(v), nullptr, 0); }
PyObject* wrap_vector4i(std::vector<Vec4i>&& v) { return new_vec<Vec4i>(vector4i_vector_type(), std::move(v), nullptr, 0); }

}  // namespace ombrix::py
