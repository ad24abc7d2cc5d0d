// Internals shared by the container files: object layouts, per-class traits,
// view resolution and element conversions.
#pragma once
#include <cstring>
#include <type_traits>
#include <vector>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/numpy.h"
#include "binding/ref.h"
#include "binding/types.h"
#include "classes.h"
#include "core/linalg.h"
#include "geometry_objects.h"
#include "shared_buffers.h"

namespace ombrix::py {

// ---- two-mode containers (Vector3dVector, Vector2dVector, Vector3iVector,
// Vector2iVector, Vector4iVector) ----

template <class E>
struct VecTraits;

template <>
struct VecTraits<Vec3> {
    using C = double;
    static constexpr int k = 3;
    static constexpr int npy = NPY_FLOAT64;
    static constexpr const char* name = "Vector3dVector";
    static constexpr const char* dtype = "float64";
    static constexpr const char* repr = "std::vector<Eigen::Vector3d> with ";
    static PyTypeObject* type() { return vector3d_vector_type(); }
};
template <>
struct VecTraits<Vec2> {
    using C = double;
    static constexpr int k = 2;
    static constexpr int npy = NPY_FLOAT64;
    static constexpr const char* name = "Vector2dVector";
    static constexpr const char* dtype = "float64";
    static constexpr const char* repr = "std::vector<Eigen::Vector2d> with ";
    static PyTypeObject* type() { return vector2d_vector_type(); }
};
template <>
struct VecTraits<Vec3i> {
    using C = int32_t;
    static constexpr int k = 3;
    static constexpr int npy = NPY_INT32;
    static constexpr const char* name = "Vector3iVector";
    static constexpr const char* dtype = "int32";
    static constexpr const char* repr = "std::vector<Eigen::Vector3i> with ";
    static PyTypeObject* type() { return vector3i_vector_type(); }
};
template <>
struct VecTraits<Vec2i> {
    using C = int32_t;
    static constexpr int k = 2;
    static constexpr int npy = NPY_INT32;
    static constexpr const char* name = "Vector2iVector";
    static constexpr const char* dtype = "int32";
    static constexpr const char* repr = "std::vector<Eigen::Vector2i> with ";
    static PyTypeObject* type() { return vector2i_vector_type(); }
};
template <>
struct VecTraits<Vec4i> {
    using C = int32_t;
    static constexpr int k = 4;
    static constexpr int npy = NPY_INT32;
    static constexpr const char* name = "Vector4iVector";
    static constexpr const char* dtype = "int32";
    static constexpr const char* repr = "std::vector<Eigen::Vector4i> with ";
    static PyTypeObject* type() { return vector4i_vector_type(); }
};

// Field order: data, owner, target; then the bookkeeping of a free-standing
// container's own exported buffers (views keep theirs in the owner).
template <class E>
struct PyVec {
    PyObject_HEAD
    BorrowFlag flag;
    std::vector<E> data;
    PyObject* owner;  // strong reference, or nullptr when free-standing
    uint8_t target;
    bool exported;
    RetiredList<E> retired;
};

// A resolved container: the element array an operation works on, the borrow
// flag that guards it, and where its retired buffers go.
template <class E>
struct Store {
    std::vector<E>* vec = nullptr;
    BorrowFlag* flag = nullptr;
    PyVec<E>* self = nullptr;        // free-standing
    SharedBuffers* shared = nullptr; // view
    int target = 0;

    void mark_exported() {
        if (shared)
            shared->mark_exported(target);
        else
            self->exported = true;
    }
    // Room for `count` elements; exported buffers are retired, not freed.
    void grow(size_t count) {
        if (vec->capacity() >= count) return;
        if (shared) {
            if constexpr (std::is_same_v<E, Vec3> || std::is_same_v<E, Vec3i>) shared->grow(target, *vec, count);
        } else {
            self->retired.reserve(*vec, count, grown_capacity(vec->capacity(), count), self->exported);
            self->exported = false;
        }
    }
};

// Step zero of every operation: the storage of a free-standing container, or
// the owner's attribute named by the view's target. False with TypeError /
// RuntimeError set for an inconsistent view.
template <class E>
bool resolve(PyObject* obj, Store<E>* st) {
    PyVec<E>* v = reinterpret_cast<PyVec<E>*>(obj);
    if (!v->owner) {
        st->vec = &v->data;
        st->flag = &v->flag;
        st->self = v;
        return true;
    }
    if constexpr (!std::is_same_v<E, Vec3> && !std::is_same_v<E, Vec3i>) {
        PyErr_SetString(PyExc_RuntimeError, "internal error: not a viewable vector type");
        return false;
    } else {
        int t = v->target;
        if (t <= kPcdColors) {
            if (!PyObject_TypeCheck(v->owner, point_cloud_type())) {
                PyErr_SetString(PyExc_TypeError, "view owner is not a PointCloud");
                return false;
            }
        } else if (!PyObject_TypeCheck(v->owner, triangle_mesh_type())) {
            PyErr_SetString(PyExc_TypeError, "view owner is not a TriangleMesh");
            return false;
        }
        std::vector<E>* vec = nullptr;
        SharedBuffers* shared = nullptr;
        BorrowFlag* flag = nullptr;
        if constexpr (std::is_same_v<E, Vec3>) {
            if (t <= kPcdColors) {
                PyPointCloud* p = reinterpret_cast<PyPointCloud*>(v->owner);
                vec = t == kPcdPoints ? &p->value.points : t == kPcdNormals ? &p->value.normals : &p->value.colors;
                shared = &p->shared;
                flag = &p->flag;
            } else if (t <= kMeshTriangleNormals) {
                PyTriangleMesh* m = reinterpret_cast<PyTriangleMesh*>(v->owner);
                vec = t == kMeshVertices         ? &m->value.vertices
                      : t == kMeshVertexNormals  ? &m->value.vertex_normals
                      : t == kMeshVertexColors   ? &m->value.vertex_colors
                                                 : &m->value.triangle_normals;
                shared = &m->shared;
                flag = &m->flag;
            }
        } else {
            if (t == kMeshTriangles) {
                PyTriangleMesh* m = reinterpret_cast<PyTriangleMesh*>(v->owner);
                vec = &m->value.triangles;
                shared = &m->shared;
                flag = &m->flag;
            }
        }
        if (!vec) {
            PyErr_SetString(PyExc_TypeError, "invalid view target");
            return false;
        }
        st->vec = vec;
        st->flag = flag;
        st->shared = shared;
        st->target = t;
        return true;
    }
}

// ---- conversions ----

// Single component from an item, as a float / int32 parameter named `param`.
template <class C>
bool component_from(PyObject* item, const char* param, C* out) {
    if constexpr (std::is_same_v<C, double>)
        return to_double(item, param, out);
    else
        return to_int32(item, param, out);
}

// A sequence of numbers (str and non-sequences refused); `want` >= 0 asks
// for exactly that many, TypeError "invalid element size" otherwise.
template <class C>
bool numbers_from(PyObject* o, const char* param, std::vector<C>* out, Py_ssize_t want = -1) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        raise_arg_type(param, "sequence", o);
        return false;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) return false;
    if (want >= 0 && n != want) {
        PyErr_SetString(PyExc_TypeError, "invalid element size");
        return false;
    }
    out->resize(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(PySequence_GetItem(o, i));
        if (!item || !component_from<C>(item.get(), param, &(*out)[static_cast<size_t>(i)])) return false;
    }
    return true;
}

// One element: a sequence of exactly k numbers.
template <class E>
bool element_from(PyObject* o, const char* param, E* out) {
    using C = typename VecTraits<E>::C;
    std::vector<C> vals;
    if (!numbers_from<C>(o, param, &vals, VecTraits<E>::k)) return false;
    std::memcpy(out->data(), vals.data(), sizeof(E));
    return true;
}

// A 2-D array whose dtype is the component dtype in native byte order
// (a byte-swapped array is not; it goes through NumPy's conversion).
inline bool is_array_of(PyObject* o, int npy) {
    if (!PyArray_Check(o)) return false;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    return PyArray_NDIM(a) == 2 && PyArray_EquivTypenums(PyArray_TYPE(a), npy) && PyArray_ISNOTSWAPPED(a);
}

// Appends the rows of a 2-D array with k columns of the element's component
// dtype; dst must already have room for them (no reallocation happens).
template <class E>
void append_rows(std::vector<E>& dst, PyArrayObject* a) {
    using C = typename VecTraits<E>::C;
    constexpr int k = VecTraits<E>::k;
    npy_intp n = PyArray_DIM(a, 0);
    if (n == 0) return;
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    npy_intp s0 = PyArray_STRIDE(a, 0), s1 = PyArray_STRIDE(a, 1);
    if (s0 == static_cast<npy_intp>(sizeof(E)) && s1 == static_cast<npy_intp>(sizeof(C)) && PyArray_ISALIGNED(a)) {
        const E* p = reinterpret_cast<const E*>(base);
        dst.insert(dst.end(), p, p + n);  // one block copy
        return;
    }
    for (npy_intp i = 0; i < n; ++i) {
        E e;
        for (int c = 0; c < k; ++c) std::memcpy(&e[c], base + i * s0 + c * s1, sizeof(C));
        dst.push_back(e);
    }
}

// Does the memory an array can reach overlap [lo, lo + bytes)?
inline bool array_overlaps(PyArrayObject* a, const void* lo, size_t bytes) {
    if (bytes == 0 || PyArray_SIZE(a) == 0) return false;
    const char* d = static_cast<const char*>(PyArray_DATA(a));
    npy_intp off_lo = 0, off_hi = 0;
    for (int i = 0; i < PyArray_NDIM(a); ++i) {
        npy_intp span = (PyArray_DIM(a, i) - 1) * PyArray_STRIDE(a, i);
        if (span < 0)
            off_lo += span;
        else
            off_hi += span;
    }
    const char* a_lo = d + off_lo;
    const char* a_hi = d + off_hi + PyArray_ITEMSIZE(a);
    const char* b_lo = static_cast<const char*>(lo);
    return a_lo < b_lo + bytes && b_lo < a_hi;
}

// Copy of a two-mode container's current elements (read borrow).
template <class E>
bool snapshot(PyObject* obj, std::vector<E>* out) {
    Store<E> st;
    if (!resolve<E>(obj, &st)) return false;
    ReadBorrow b(*st.flag);
    if (!b) return false;
    out->assign(st.vec->begin(), st.vec->end());
    return true;
}

template <class E>
bool extract_vec(PyObject* value, std::vector<E>* out);

// New free-standing / view containers.
template <class E>
PyObject* new_vec(PyTypeObject* type, std::vector<E>&& data, PyObject* owner, int target) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    PyVec<E>* v = reinterpret_cast<PyVec<E>*>(self);
    new (&v->flag) BorrowFlag();
    new (&v->data) std::vector<E>(std::move(data));
    Py_XINCREF(owner);
    v->owner = owner;
    v->target = static_cast<uint8_t>(target);
    v->exported = false;
    new (&v->retired) RetiredList<E>();
    return self;
}

// Shared NumPy array over n rows of k components at `data`, base `base`.
PyObject* shared_array2(void* data, npy_intp n, int k, int npy, PyObject* base);

}  // namespace ombrix::py
