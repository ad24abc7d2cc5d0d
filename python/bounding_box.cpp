// geometry.AxisAlignedBoundingBox: two corners and a colour. Arguments are
// converted before the box is borrowed, so a failed conversion changes nothing.
#include "bounding_box.h"

#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/ref.h"
#include "classes.h"
#include "geometry_methods.h"
#include "vectors.h"
#include "vectors_impl.h"

namespace ombrix::py {

namespace {

using Box = AxisAlignedBoundingBox;
using PyBox = PyAxisAlignedBoundingBox;

PyBox* bx(PyObject* o) { return reinterpret_cast<PyBox*>(o); }

PyObject* box_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"min_bound", "max_bound"};
    PyObject* a[2];
    if (!parse_tuple_args("AxisAlignedBoundingBox", kNames, 2, 0, args, kwargs, a)) return nullptr;
    if (missing_or_none(a[0])) return alloc_obj<PyBox>(type);
    if (PyObject_TypeCheck(a[0], axis_aligned_bounding_box_type())) {
        ReadBorrow b(bx(a[0])->flag);
        if (!b) return nullptr;
        Box copy = bx(a[0])->value;
        b.release();
        return alloc_obj<PyBox>(type, copy);
    }
    if (missing_or_none(a[1])) {
        check_instance(a[0], axis_aligned_bounding_box_type(), "min_bound");
        return nullptr;
    }
    Vec3 lo, hi;
    if (!v3_from_any(a[0], &lo) || !v3_from_any(a[1], &hi)) return nullptr;
    return alloc_obj<PyBox>(type, Box::from_bounds(lo, hi));
}

PyObject* box_repr(PyObject* self) {
    return read_record<PyBox>(self, [](const Box& b) { return str_from(b.repr()); });
}

// ---- properties ----

PyGetSetDef box_getset[] = {
    geom::v3_field_property<PyBox, &Box::min_bound>("min_bound"),
    geom::v3_field_property<PyBox, &Box::max_bound>("max_bound"),
    geom::v3_field_property<PyBox, &Box::color>("color"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- reading a Vector3dVector argument ----

// Calls fn(const Vec3*, size_t) over the elements of `points`, which must be a
// Vector3dVector (owning or a view), borrowed for reading meanwhile.
template <class F>
bool read_points(PyObject* points, F fn) {
    if (!check_instance(points, vector3d_vector_type(), "points")) return false;
    Store<Vec3> st;
    if (!resolve<Vec3>(points, &st)) return false;
    ReadBorrow b(*st.flag);
    if (!b) return false;
    fn(static_cast<const Vec3*>(st.vec->data()), st.vec->size());
    return true;
}

PyObject* box_create_from_points(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"points"};
    PyObject* a[1];
    if (!parse_args("create_from_points", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    Box box;
    if (!read_points(a[0], [&](const Vec3* p, size_t n) { box = Box::from_points(p, n); })) return nullptr;
    return wrap_axis_aligned_bounding_box(box);
}

PyObject* box_indices_within(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"points"};
    PyObject* a[1];
    if (!parse_args("get_point_indices_within_bounding_box", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    ReadBorrow b(bx(self)->flag);
    if (!b) return nullptr;
    const Box& box = bx(self)->value;
    std::vector<size_t> idx;
    if (!read_points(a[0], [&](const Vec3* p, size_t n) { idx = box.indices_within(p, n); })) return nullptr;
    Ref list(PyList_New(static_cast<Py_ssize_t>(idx.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < idx.size(); ++i) {
        PyObject* v = PyLong_FromSize_t(idx[i]);
        if (!v) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
    }
    return list.release();
}

// ---- queries ----

PyObject* box_is_empty(PyObject* self, PyObject*) {
    return read_record<PyBox>(self, [](const Box& b) { return PyBool_FromLong(b.is_empty()); });
}
PyObject* box_max_extent(PyObject* self, PyObject*) {
    return read_record<PyBox>(self, [](const Box& b) { return PyFloat_FromDouble(b.max_extent()); });
}
PyObject* box_volume(PyObject* self, PyObject*) {
    return read_record<PyBox>(self, [](const Box& b) { return PyFloat_FromDouble(b.volume()); });
}
PyObject* box_box_points(PyObject* self, PyObject*) {
    return read_record<PyBox>(self, [](const Box& b) { return wrap_vector3d(b.box_points()); });
}
PyObject* box_print_info(PyObject* self, PyObject*) {
    return read_record<PyBox>(self, [](const Box& b) { return str_from(b.print_info()); });
}

// ---- modifiers ----

// Rotation and general transforms are refused: the box must stay axis-aligned.
// The arguments are parsed (not converted) first.
PyObject* box_rotate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"r", "center"};
    PyObject* a[2];
    if (!parse_args("rotate", kNames, 2, 1, args, nargs, kwnames, a)) return nullptr;
    return raise(PyExc_RuntimeError,
                 "[AxisAlignedBoundingBox::Rotate] Cannot rotate AABB. Convert to OrientedBoundingBox first.");
}

PyObject* box_transform(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"_t"};
    PyObject* a[1];
    if (!parse_args("transform", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    return raise(PyExc_RuntimeError,
                 "[AxisAlignedBoundingBox::Transform] Cannot apply general transform. Convert to "
                 "OrientedBoundingBox first or use Translate/Scale.");
}

// self += other. Declines (NotImplemented, so Python raises its TypeError)
// when `other` is not a box or cannot be borrowed, as in b += b.
PyObject* box_inplace_add(PyObject* self, PyObject* other) {
    PyTypeObject* t = axis_aligned_bounding_box_type();
    if (!PyObject_TypeCheck(self, t) || !PyObject_TypeCheck(other, t)) Py_RETURN_NOTIMPLEMENTED;
    WriteBorrow w(bx(self)->flag);
    if (!w) return nullptr;
    ReadBorrow r(bx(other)->flag);
    if (!r) {
        PyErr_Clear();
        Py_RETURN_NOTIMPLEMENTED;
    }
    bx(self)->value.merge(bx(other)->value);
    return geom::return_self(self);
}

PyMethodDef box_methods[] = {
    OMBRIX_NOARGS("clear", (geom::modifier<PyBox, &Box::clear>), "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("is_empty", box_is_empty, "is_empty($self)\n--\n\n"),
    geom::dimension_def<PyBox>(),
    geom::geometry_type_def<PyBox, 12>(),
    OMBRIX_NOARGS("get_min_bound", (geom::v3_query<PyBox, &Box::min_bound>), "get_min_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_bound", (geom::v3_query<PyBox, &Box::max_bound>), "get_max_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_center", (geom::v3_query<PyBox, &Box::center>), "get_center($self)\n--\n\n"),
    OMBRIX_NOARGS("get_extent", (geom::v3_query<PyBox, &Box::extent>), "get_extent($self)\n--\n\n"),
    OMBRIX_NOARGS("get_half_extent", (geom::v3_query<PyBox, &Box::half_extent>), "get_half_extent($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_extent", box_max_extent, "get_max_extent($self)\n--\n\n"),
    OMBRIX_NOARGS("volume", box_volume, "volume($self)\n--\n\n"),
    OMBRIX_NOARGS("get_box_points", box_box_points, "get_box_points($self)\n--\n\n"),
    OMBRIX_METHOD("get_point_indices_within_bounding_box", box_indices_within,
                  "get_point_indices_within_bounding_box($self, points)\n--\n\n"),
    OMBRIX_NOARGS("get_print_info", box_print_info, "get_print_info($self)\n--\n\n"),
    OMBRIX_NOARGS("get_axis_aligned_bounding_box", (geom::copy<PyBox, wrap_axis_aligned_bounding_box>),
                  "get_axis_aligned_bounding_box($self)\n--\n\n"),
    geom::translate_def<PyBox, &Box::translate>(),
    geom::scale_def<PyBox, &Box::scale>(),
    OMBRIX_METHOD("rotate", box_rotate, "rotate($self, r, center=None)\n--\n\n"),
    OMBRIX_METHOD("transform", box_transform, "transform($self, _t)\n--\n\n"),
    geom::copy_def<PyBox, wrap_axis_aligned_bounding_box>(),
    geom::deepcopy_def<PyBox, wrap_axis_aligned_bounding_box>(),
    OMBRIX_STATIC("create_from_points", box_create_from_points, "create_from_points(points)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_axis_aligned_bounding_box_type() {
    PyTypeObject* base = geometry3d_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.AxisAlignedBoundingBox";
    d.doc = "AxisAlignedBoundingBox(min_bound=None, max_bound=None)\n--\n\n";
    d.base = base;
    d.subclassable = false;
    d.basicsize = sizeof(PyBox);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(box_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyBox>)},
        {Py_tp_repr, reinterpret_cast<void*>(box_repr)},
        {Py_tp_methods, box_methods},
        {Py_tp_getset, box_getset},
        {Py_nb_inplace_add, reinterpret_cast<void*>(box_inplace_add)},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(axis_aligned_bounding_box_type, build_axis_aligned_bounding_box_type)

PyObject* wrap_axis_aligned_bounding_box(const AxisAlignedBoundingBox& box) {
    PyTypeObject* t = axis_aligned_bounding_box_type();
    if (!t) return nullptr;
    return alloc_obj<PyBox>(t, box);
}

}  // namespace ombrix::py
