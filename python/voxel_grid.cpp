// geometry.Voxel and geometry.VoxelGrid. A grid lists and visits its voxels in
// the iteration order of its prime-bucket map; only transforms that keep the
// grid axis-aligned are accepted.
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/numpy.h"
#include "binding/ref.h"
#include "binding/types.h"
#include "bounding_box.h"
#include "classes.h"
#include "core/geometry/voxel_grid.h"
#include "core/numtext.h"
#include "geometry_methods.h"
#include "geometry_objects.h"
#include "vectors_impl.h"

namespace ombrix::py {

namespace {

using PyVoxel = Obj<Voxel>;
using PyVoxelGrid = Obj<VoxelGrid>;

PyVoxel* vx(PyObject* o) { return reinterpret_cast<PyVoxel*>(o); }
PyVoxelGrid* vg(PyObject* o) { return reinterpret_cast<PyVoxelGrid*>(o); }

PyObject* array_from_v3i(const Vec3i& v) {
    npy_intp dims[1] = {3};
    PyObject* arr = PyArray_SimpleNew(1, dims, NPY_INT32);
    if (!arr) return nullptr;
    int32_t* d = static_cast<int32_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)));
    d[0] = v[0];
    d[1] = v[1];
    d[2] = v[2];
    return arr;
}

// ============================== Voxel ==============================

PyObject* new_voxel(const Voxel& v) {
    PyTypeObject* t = voxel_type();
    if (!t) return nullptr;
    return alloc_obj<PyVoxel>(t, v);
}

PyObject* voxel_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"grid_index", "color"};
    PyObject* a[2];
    if (!parse_tuple_args("Voxel", kNames, 2, 0, args, kwargs, a)) return nullptr;
    Voxel v;
    if (!missing_or_none(a[0])) {
        std::vector<int32_t> idx;
        if (!numbers_from<int32_t>(a[0], "grid_index", &idx)) return nullptr;
        // Any length other than three leaves the index at (0, 0, 0).
        if (idx.size() == 3) v.grid_index = {idx[0], idx[1], idx[2]};
    }
    if (!missing_or_none(a[1]) && !v3_from_any(a[1], &v.color)) return nullptr;
    return alloc_obj<PyVoxel>(type, v);
}

PyObject* voxel_repr(PyObject* self) {
    return read_record<PyVoxel>(self, [](const Voxel& v) {
        return str_from("Voxel(grid_index=" + std::to_string(v.grid_index[0]) + " " +
                        std::to_string(v.grid_index[1]) + " " + std::to_string(v.grid_index[2]) +
                        ", color=" + format_g(v.color[0]) + " " + format_g(v.color[1]) + " " +
                        format_g(v.color[2]) + ")");
    });
}

PyObject* voxel_get_grid_index(PyObject* self, void*) {
    return read_record<PyVoxel>(self, [](const Voxel& v) { return array_from_v3i(v.grid_index); });
}

int voxel_set_grid_index(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    std::vector<int32_t> idx;
    if (!numbers_from<int32_t>(value, "grid_index", &idx)) return -1;
    if (idx.size() != 3) return raise_int(PyExc_TypeError, "expected 3-vector");
    WriteBorrow b(vx(self)->flag);
    if (!b) return -1;
    vx(self)->value.grid_index = {idx[0], idx[1], idx[2]};
    return 0;
}

PyGetSetDef voxel_getset[] = {
    {"grid_index", voxel_get_grid_index, voxel_set_grid_index, nullptr, nullptr},
    geom::v3_field_property<PyVoxel, &Voxel::color>("color"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef voxel_methods[] = {
    geom::copy_def<PyVoxel, new_voxel>(),
    geom::deepcopy_def<PyVoxel, new_voxel>(),
    OMBRIX_END,
};

PyTypeObject* build_voxel_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.Voxel";
    d.doc = "Voxel(grid_index=None, color=None)\n--\n\n";
    d.subclassable = false;
    d.basicsize = sizeof(PyVoxel);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(voxel_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyVoxel>)},
        {Py_tp_repr, reinterpret_cast<void*>(voxel_repr)},
        {Py_tp_methods, voxel_methods},
        {Py_tp_getset, voxel_getset},
    };
    return make_type(d);
}

// ============================== VoxelGrid ==============================

PyObject* wrap_grid(VoxelGrid&& g) {
    PyTypeObject* t = voxel_grid_type();
    if (!t) return nullptr;
    return alloc_obj<PyVoxelGrid>(t, std::move(g));
}

PyObject* grid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (!parse_tuple_args("VoxelGrid", nullptr, 0, 0, args, kwargs, nullptr)) return nullptr;
    return alloc_obj<PyVoxelGrid>(type);
}

PyObject* grid_repr(PyObject* self) {
    return read_record<PyVoxelGrid>(self, [](const VoxelGrid& g) {
        return str_from("VoxelGrid with " + std::to_string(g.voxels.len()) + " voxels.");
    });
}

PyObject* grid_get_voxel_size(PyObject* self, void*) {
    return read_record<PyVoxelGrid>(self, [](const VoxelGrid& g) { return PyFloat_FromDouble(g.voxel_size); });
}

int grid_set_voxel_size(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    double s;
    if (!to_double(value, "voxel_size", &s)) return -1;
    WriteBorrow b(vg(self)->flag);
    if (!b) return -1;
    vg(self)->value.voxel_size = s;
    return 0;
}

PyGetSetDef grid_getset[] = {
    geom::v3_field_property<PyVoxelGrid, &VoxelGrid::origin>("origin"),
    {"voxel_size", grid_get_voxel_size, grid_set_voxel_size, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* grid_is_empty(PyObject* self, PyObject*) {
    return read_record<PyVoxelGrid>(self, [](const VoxelGrid& g) { return PyBool_FromLong(g.voxels.is_empty()); });
}
PyObject* grid_has_voxels(PyObject* self, PyObject*) {
    return read_record<PyVoxelGrid>(self, [](const VoxelGrid& g) { return PyBool_FromLong(!g.voxels.is_empty()); });
}
PyObject* grid_has_colors(PyObject* self, PyObject*) {
    return read_record<PyVoxelGrid>(self, [](const VoxelGrid&) { Py_RETURN_TRUE; });
}
PyObject* grid_bounding_box(PyObject* self, PyObject*) {
    return read_record<PyVoxelGrid>(
        self, [](const VoxelGrid& g) { return wrap_axis_aligned_bounding_box(g.axis_aligned_bounding_box()); });
}

PyObject* grid_get_voxels(PyObject* self, PyObject*) {
    return read_record<PyVoxelGrid>(self, [](const VoxelGrid& g) -> PyObject* {
        Ref list(PyList_New(static_cast<Py_ssize_t>(g.voxels.len())));
        if (!list) return nullptr;
        Py_ssize_t i = 0;
        for (auto n = g.voxels.head(); n != g.voxels.kNone; n = g.voxels.next(n)) {
            PyObject* v = new_voxel(g.voxels.value(n));
            if (!v) return nullptr;
            PyList_SET_ITEM(list.get(), i++, v);
        }
        return list.release();
    });
}

// Only rotations and transforms that keep the grid axis-aligned succeed (the
// core's Status says why not); a rotation's centre is accepted and not used.
Status rotate_grid(VoxelGrid& g, const Mat3& r, const Vec3*) { return g.rotate(r); }

// The input cloud's points, read under a borrow; fn(points) returns the grid.
template <class F>
PyObject* from_cloud(PyObject* input, F fn) {
    ReadBorrow b(reinterpret_cast<PyPointCloud*>(input)->flag);
    if (!b) return nullptr;
    Result<VoxelGrid> r = fn(reinterpret_cast<PyPointCloud*>(input)->value.points);
    b.release();
    if (!r) return raise(PyExc_RuntimeError, r.error());
    return wrap_grid(std::move(r.value()));
}

PyObject* grid_create_from_point_cloud(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"input", "voxel_size"};
    PyObject* a[2];
    if (!parse_args("create_from_point_cloud", kNames, 2, 2, args, nargs, kwnames, a)) return nullptr;
    double size;
    if (!check_instance(a[0], point_cloud_type(), "input") || !to_double(a[1], "voxel_size", &size)) return nullptr;
    return from_cloud(a[0], [&](const std::vector<Vec3>& pts) { return create_voxel_grid(pts, size); });
}

PyObject* grid_create_within_bounds(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"input", "voxel_size", "min_bound", "max_bound"};
    PyObject* a[4];
    if (!parse_args("create_from_point_cloud_within_bounds", kNames, 4, 4, args, nargs, kwnames, a)) return nullptr;
    double size;
    Vec3 lo, hi;
    if (!check_instance(a[0], point_cloud_type(), "input") || !to_double(a[1], "voxel_size", &size) ||
        !v3_from_any(a[2], &lo) || !v3_from_any(a[3], &hi))
        return nullptr;
    return from_cloud(a[0], [&](const std::vector<Vec3>& pts) {
        return create_voxel_grid_within_bounds(pts, size, lo, hi);
    });
}

PyMethodDef grid_methods[] = {
    OMBRIX_NOARGS("clear", (geom::modifier<PyVoxelGrid, &VoxelGrid::clear>), "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("is_empty", grid_is_empty, "is_empty($self)\n--\n\n"),
    OMBRIX_NOARGS("has_voxels", grid_has_voxels, "has_voxels($self)\n--\n\n"),
    OMBRIX_NOARGS("has_colors", grid_has_colors, "has_colors($self)\n--\n\n"),
    geom::dimension_def<PyVoxelGrid>(),
    geom::geometry_type_def<PyVoxelGrid, 2>(),
    OMBRIX_NOARGS("get_voxels", grid_get_voxels, "get_voxels($self)\n--\n\n"),
    OMBRIX_NOARGS("get_min_bound", (geom::v3_query<PyVoxelGrid, &VoxelGrid::min_bound>),
                  "get_min_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_bound", (geom::v3_query<PyVoxelGrid, &VoxelGrid::max_bound>),
                  "get_max_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_center", (geom::v3_query<PyVoxelGrid, &VoxelGrid::center>), "get_center($self)\n--\n\n"),
    OMBRIX_NOARGS("get_axis_aligned_bounding_box", grid_bounding_box, "get_axis_aligned_bounding_box($self)\n--\n\n"),
    geom::translate_def<PyVoxelGrid, &VoxelGrid::translate>(),
    geom::scale_def<PyVoxelGrid, &VoxelGrid::scale>(),
    geom::rotate_def<PyVoxelGrid, rotate_grid>(),
    geom::transform_def<PyVoxelGrid, &VoxelGrid::transform>(),
    OMBRIX_STATIC("create_from_point_cloud", grid_create_from_point_cloud,
                  "create_from_point_cloud(input, voxel_size)\n--\n\n"),
    OMBRIX_STATIC("create_from_point_cloud_within_bounds", grid_create_within_bounds,
                  "create_from_point_cloud_within_bounds(input, voxel_size, min_bound, max_bound)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_voxel_grid_type() {
    PyTypeObject* base = geometry3d_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.VoxelGrid";
    d.doc = "VoxelGrid()\n--\n\n";
    d.base = base;
    d.subclassable = false;
    d.basicsize = sizeof(PyVoxelGrid);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(grid_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<PyVoxelGrid>)},
        {Py_tp_repr, reinterpret_cast<void*>(grid_repr)},
        {Py_tp_methods, grid_methods},
        {Py_tp_getset, grid_getset},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(voxel_type, build_voxel_type)
OMBRIX_TYPE_GETTER(voxel_grid_type, build_voxel_grid_type)

}  // namespace ombrix::py
