// Members the geometry classes bind alike (PointCloud, TriangleMesh,
// AxisAlignedBoundingBox, VoxelGrid, and Voxel for copying). A class
// instantiates these templates with its object layout O (PyObject_HEAD,
// BorrowFlag `flag`, record `value`) and its own record operations; the
// templates own the argument parsing, the conversion of every argument before
// the object is borrowed, the borrow itself and the result (`self` for
// modifiers). Operations are called through std::invoke, so a free function
// taking the record first and a member function pointer serve alike.
#pragma once
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "bounding_box.h"
#include "core/geometry/geometry3d.h"
#include "core/linalg.h"
#include "core/result.h"
#include "enums.h"
#include "shared_buffers.h"
#include "vectors.h"

namespace ombrix::py::geom {

template <class O>
using RecordOf = std::remove_cv_t<decltype(O::value)>;

inline PyObject* return_self(PyObject* self) {
    Py_INCREF(self);
    return self;
}

// ---- objects with shared attribute buffers (PointCloud, TriangleMesh) ----

// A new instance of `type` (nullptr: the getter failed, an exception is set)
// taking over `value`.
template <class O>
PyObject* alloc_shared(PyTypeObject* type, RecordOf<O>&& value) {
    if (!type) return nullptr;
    PyObject* self = alloc_obj<O>(type, std::move(value));
    if (!self) return nullptr;
    new (&as<O>(self)->shared) SharedBuffers();
    return self;
}

template <class O>
void dealloc_shared(PyObject* self) {
    as<O>(self)->shared.~SharedBuffers();
    dealloc_obj<O>(self);
}

// tp_new of `Name(other=None)`: an empty record, or a copy of `other`, which
// must be an instance of Cls() (subclasses count), read under a borrow.
template <class O, PyTypeObject* (*Cls)()>
PyObject* new_from_other(const char* fname, PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    if (!parse_tuple_args(fname, kNames, 1, 0, args, kwargs, a)) return nullptr;
    if (missing_or_none(a[0])) return alloc_shared<O>(type, RecordOf<O>());
    if (!check_instance(a[0], Cls(), "other")) return nullptr;
    O* other = as<O>(a[0]);
    ReadBorrow b(other->flag);
    if (!b) return nullptr;
    return alloc_shared<O>(type, RecordOf<O>(other->value));
}

// ---- write-borrow runner (reads: read_record in binding/types.h) ----

// Runs fn(record&) under a write borrow and returns self. fn returns nothing,
// or a Status whose failure is raised as RuntimeError with its message (the
// record is then left as fn left it).
template <class O, class F>
PyObject* modify(PyObject* self, F&& fn) {
    O* o = as<O>(self);
    WriteBorrow b(o->flag);
    if (!b) return nullptr;
    if constexpr (std::is_void_v<std::invoke_result_t<F&, RecordOf<O>&>>) {
        fn(o->value);
    } else {
        Status s = fn(o->value);
        if (!s) return raise(PyExc_RuntimeError, s.error());
    }
    return return_self(self);
}

// ---- argument parsers of the four transform signatures ----
// Each parses and converts every argument (in parameter order) and returns
// false with the exception set on failure; nothing is borrowed.

struct TranslateArgs {
    Vec3 translation;
    bool relative = true;
};
struct ScaleArgs {
    double scale;
    Vec3 center;
};
struct RotateArgs {
    Mat3 r;
    Vec3 center{};
    bool has_center = false;  // given and not None
};

// translate(translation, relative=True)
bool parse_translate(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, TranslateArgs* out);
// scale(scale, center)
bool parse_scale(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, ScaleArgs* out);
// rotate(r, center=None)
bool parse_rotate(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, RotateArgs* out);
// transform(transformation)
bool parse_transform(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Mat4* out);
// __deepcopy__(_memo): the memo is accepted and not used.
bool parse_memo(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// ---- modifiers; each returns self ----

// Op(record&, translation, relative)
template <class O, auto Op>
PyObject* translate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    TranslateArgs a;
    if (!parse_translate(args, nargs, kwnames, &a)) return nullptr;
    return modify<O>(self, [&](RecordOf<O>& r) { return std::invoke(Op, r, a.translation, a.relative); });
}

// Op(record&, scale, center)
template <class O, auto Op>
PyObject* scale(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    ScaleArgs a;
    if (!parse_scale(args, nargs, kwnames, &a)) return nullptr;
    return modify<O>(self, [&](RecordOf<O>& r) { return std::invoke(Op, r, a.scale, a.center); });
}

// Op(record&, r, const Vec3* center): center is nullptr when not given, for
// the operation to choose its own.
template <class O, auto Op>
PyObject* rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    RotateArgs a;
    if (!parse_rotate(args, nargs, kwnames, &a)) return nullptr;
    const Vec3* center = a.has_center ? &a.center : nullptr;
    return modify<O>(self, [&](RecordOf<O>& r) { return std::invoke(Op, r, a.r, center); });
}

// Op(record&, transformation)
template <class O, auto Op>
PyObject* transform(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Mat4 t;
    if (!parse_transform(args, nargs, kwnames, &t)) return nullptr;
    return modify<O>(self, [&](RecordOf<O>& r) { return std::invoke(Op, r, t); });
}

// A member without arguments: Op(record&).
template <class O, auto Op>
PyObject* modifier(PyObject* self, PyObject*) {
    return modify<O>(self, [](RecordOf<O>& r) { return std::invoke(Op, r); });
}

// ---- copying ----

// A new object of the base class (Wrap) holding a copy of the record, taken
// under a read borrow that is released before the new object is made.
template <class O, auto Wrap>
PyObject* copy(PyObject* self, PyObject*) {
    O* o = as<O>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    RecordOf<O> c(o->value);
    b.release();
    return Wrap(std::move(c));
}

template <class O, auto Wrap>
PyObject* deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_memo(args, nargs, kwnames)) return nullptr;
    return copy<O, Wrap>(self, nullptr);
}

// ---- queries, each under a read borrow ----

template <class O>
PyObject* dimension(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>&) { return PyLong_FromLong(3); });
}

template <class O, int kGeometryType>
PyObject* geometry_type(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>&) { return new_geometry_type(kGeometryType); });
}

// A 3-vector of the record as a NumPy array: Get is a Vec3 field, a member
// function or a function of the record.
template <class O, auto Get>
PyObject* v3_query(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>& r) { return array_from_v3(std::invoke(Get, r)); });
}

// Bounds of a geometry made of a point array (the field Points): minimum and
// maximum ignore NaN components, the centre is the mean, the box spans the two
// bounds.
template <class O, auto Points>
PyObject* min_bound(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>& r) { return array_from_v3(min_bound_of(r.*Points)); });
}
template <class O, auto Points>
PyObject* max_bound(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>& r) { return array_from_v3(max_bound_of(r.*Points)); });
}
template <class O, auto Points>
PyObject* center(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>& r) { return array_from_v3(mean_of(r.*Points)); });
}
template <class O, auto Points>
PyObject* bounding_box(PyObject* self, PyObject*) {
    return read_record<O>(self, [](const RecordOf<O>& r) {
        return wrap_axis_aligned_bounding_box(
            AxisAlignedBoundingBox::from_bounds(min_bound_of(r.*Points), max_bound_of(r.*Points)));
    });
}

// ---- properties ----

// A Vec3 field: read as a NumPy array; written from any 3-vector, converted
// before the write borrow.
template <class O, auto Field>
PyObject* get_v3_field(PyObject* self, void*) {
    return read_record<O>(self, [](const RecordOf<O>& r) { return array_from_v3(r.*Field); });
}
template <class O, auto Field>
int set_v3_field(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    Vec3 v;
    if (!v3_from_any(value, &v)) return -1;
    O* o = as<O>(self);
    WriteBorrow b(o->flag);
    if (!b) return -1;
    o->value.*Field = v;
    return 0;
}
template <class O, auto Field>
PyGetSetDef v3_field_property(const char* name) {
    return {name, get_v3_field<O, Field>, set_v3_field<O, Field>, nullptr, nullptr};
}

// A geometry attribute (the field Attr, ViewTarget kTarget) seen through a
// view. Assignment copies the value's elements in (see assign_into, which
// takes the write borrow itself after reading the value).
template <int kTarget>
PyObject* get_view(PyObject* self, void*) {
    return make_view(self, kTarget);
}
template <class O, auto Attr, int kTarget>
int set_view(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    O* o = as<O>(self);
    return assign_into(value, o->flag, o->value.*Attr, o->shared, kTarget) ? 0 : -1;
}
template <class O, auto Attr, int kTarget>
PyGetSetDef view_property(const char* name) {
    return {name, get_view<kTarget>, set_view<O, Attr, kTarget>, nullptr, nullptr};
}

// ---- method-table entries with the shared names and text signatures ----

template <class O, auto Wrap>
PyMethodDef copy_def() {
    return OMBRIX_NOARGS("__copy__", (copy<O, Wrap>), "__copy__($self)\n--\n\n");
}
template <class O, auto Wrap>
PyMethodDef deepcopy_def() {
    return OMBRIX_METHOD("__deepcopy__", (deepcopy<O, Wrap>), "__deepcopy__($self, _memo)\n--\n\n");
}
template <class O>
PyMethodDef dimension_def() {
    return OMBRIX_NOARGS("dimension", dimension<O>, "dimension($self)\n--\n\n");
}
template <class O, int kGeometryType>
PyMethodDef geometry_type_def() {
    return OMBRIX_NOARGS("get_geometry_type", (geometry_type<O, kGeometryType>), "get_geometry_type($self)\n--\n\n");
}
template <class O, auto Op>
PyMethodDef translate_def() {
    return OMBRIX_METHOD("translate", (translate<O, Op>), "translate($self, translation, relative=True)\n--\n\n");
}
template <class O, auto Op>
PyMethodDef scale_def() {
    return OMBRIX_METHOD("scale", (scale<O, Op>), "scale($self, scale, center)\n--\n\n");
}
template <class O, auto Op>
PyMethodDef rotate_def() {
    return OMBRIX_METHOD("rotate", (rotate<O, Op>), "rotate($self, r, center=None)\n--\n\n");
}
template <class O, auto Op>
PyMethodDef transform_def() {
    return OMBRIX_METHOD("transform", (transform<O, Op>), "transform($self, transformation)\n--\n\n");
}

}  // namespace ombrix::py::geom
