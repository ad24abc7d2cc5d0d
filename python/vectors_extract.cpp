// Conversions of Python values into element arrays (construction, extend)
// and assignment of values to geometry attributes.
#include "vectors.h"
#include "vectors_impl.h"

namespace ombrix::py {

template <class E>
bool extract_vec(PyObject* value, std::vector<E>* out) {
    using T = VecTraits<E>;
    if (PyObject_TypeCheck(value, T::type())) return snapshot<E>(value, out);
    if (is_array_of(value, T::npy)) {
        PyArrayObject* a = reinterpret_cast<PyArrayObject*>(value);
        if (PyArray_DIM(a, 1) != T::k) {
            PyErr_SetString(PyExc_TypeError, "invalid array shape");
            return false;
        }
        std::vector<E> rows;
        rows.reserve(static_cast<size_t>(PyArray_DIM(a, 0)));
        append_rows<E>(rows, a);
        *out = std::move(rows);
        return true;
    }
    Ref np(PyImport_ImportModule("numpy"));
    if (!np) return false;
    Ref arr(PyObject_CallMethod(np.get(), "asarray", "O", value));
    if (!arr) return false;
    Ref conv(PyObject_CallMethod(arr.get(), "astype", "s", T::dtype));
    if (!conv) return false;
    if (!PyArray_Check(conv.get()) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(conv.get())) != 2) {
        PyErr_SetString(PyExc_TypeError, "cannot convert argument to a (n, k) array");
        return false;
    }
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(conv.get());
    if (PyArray_DIM(a, 1) != T::k) {
        PyErr_SetString(PyExc_TypeError, "invalid array shape");
        return false;
    }
    if (!PyArray_EquivTypenums(PyArray_TYPE(a), T::npy) || !PyArray_ISNOTSWAPPED(a)) {
        // astype() of an ndarray subclass could answer with another dtype.
        PyErr_SetString(PyExc_TypeError, "cannot convert argument to a (n, k) array");
        return false;
    }
    std::vector<E> rows;
    rows.reserve(static_cast<size_t>(PyArray_DIM(a, 0)));
    append_rows<E>(rows, a);
    *out = std::move(rows);
    return true;
}

template bool extract_vec<Vec3>(PyObject*, std::vector<Vec3>*);
template bool extract_vec<Vec2>(PyObject*, std::vector<Vec2>*);
template bool extract_vec<Vec3i>(PyObject*, std::vector<Vec3i>*);
template bool extract_vec<Vec2i>(PyObject*, std::vector<Vec2i>*);
template bool extract_vec<Vec4i>(PyObject*, std::vector<Vec4i>*);

bool extract_from(PyObject* value, std::vector<Vec3>* out) { return extract_vec<Vec3>(value, out); }
bool extract_from(PyObject* value, std::vector<Vec2>* out) { return extract_vec<Vec2>(value, out); }
bool extract_from(PyObject* value, std::vector<Vec3i>* out) { return extract_vec<Vec3i>(value, out); }
bool extract_from(PyObject* value, std::vector<Vec2i>* out) { return extract_vec<Vec2i>(value, out); }
bool extract_from(PyObject* value, std::vector<Vec4i>* out) { return extract_vec<Vec4i>(value, out); }

namespace {

// Replaces attr's elements by `src`: in place when they fit (arrays taken
// earlier stay valid), else by taking over src's buffer after retiring the
// old one.
template <class E>
void replace_with(std::vector<E>& attr, SharedBuffers& shared, int target, std::vector<E>&& src) {
    if (src.size() <= attr.capacity()) {
        attr.assign(src.begin(), src.end());
        return;
    }
    shared.retire(target, attr);
    attr = std::move(src);
}

template <class E>
bool assign_impl(PyObject* value, BorrowFlag& flag, std::vector<E>& attr, SharedBuffers& shared, int target) {
    using T = VecTraits<E>;
    if (is_array_of(value, T::npy)) {
        PyArrayObject* a = reinterpret_cast<PyArrayObject*>(value);
        if (PyArray_DIM(a, 1) != T::k) {
            PyErr_SetString(PyExc_TypeError, "invalid array shape");
            return false;
        }
        size_t n = static_cast<size_t>(PyArray_DIM(a, 0));
        WriteBorrow w(flag);
        if (!w) return false;
        if (n > attr.capacity()) {
            // A new buffer: the array is read in full before the old one goes.
            std::vector<E> fresh;
            fresh.reserve(n);
            append_rows<E>(fresh, a);
            shared.retire(target, attr);
            attr = std::move(fresh);
        } else if (array_overlaps(a, attr.data(), attr.capacity() * sizeof(E))) {
            // The array reads this very buffer (e.g. its reversed shared
            // array): take the rows as they are before overwriting any.
            std::vector<E> rows;
            rows.reserve(n);
            append_rows<E>(rows, a);
            attr.assign(rows.begin(), rows.end());
        } else {
            attr.clear();
            append_rows<E>(attr, a);  // fits: the buffer is kept
        }
        return true;
    }
    std::vector<E> src;
    if (!extract_vec<E>(value, &src)) return false;
    WriteBorrow w(flag);
    if (!w) return false;
    replace_with(attr, shared, target, std::move(src));
    return true;
}

}  // namespace

bool assign_into(PyObject* value, BorrowFlag& flag, std::vector<Vec3>& attr, SharedBuffers& shared, int target) {
    return assign_impl<Vec3>(value, flag, attr, shared, target);
}
bool assign_into(PyObject* value, BorrowFlag& flag, std::vector<Vec3i>& attr, SharedBuffers& shared, int target) {
    return assign_impl<Vec3i>(value, flag, attr, shared, target);
}

}  // namespace ombrix::py
