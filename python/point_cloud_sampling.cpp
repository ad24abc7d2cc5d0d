// PointCloud members for down-sampling and bounds: voxel_down_sample and
// get_axis_aligned_bounding_box (joined into the class by point_cloud.cpp).
#include <utility>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "core/geometry/voxel_down_sample.h"
#include "geometry_methods.h"
#include "geometry_objects.h"

namespace ombrix::py {

namespace {

PyPointCloud* pc(PyObject* o) { return reinterpret_cast<PyPointCloud*>(o); }

PyObject* pc_voxel_down_sample(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"voxel_size"};
    PyObject* a[1];
    if (!parse_args("voxel_down_sample", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    double voxel_size;
    if (!to_double(a[0], "voxel_size", &voxel_size)) return nullptr;
    ReadBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    Result<PointCloud> r = fail("");
    {
        ReleaseGil nogil;
        r = voxel_down_sample(pc(self)->value, voxel_size);
    }
    b.release();
    if (!r) return raise(PyExc_RuntimeError, r.error());
    return wrap_point_cloud(std::move(r.value()));
}

}  // namespace

PyMethodDef point_cloud_sampling_methods[] = {
    OMBRIX_METHOD("voxel_down_sample", pc_voxel_down_sample, "voxel_down_sample($self, voxel_size)\n--\n\n"),
    OMBRIX_NOARGS("get_axis_aligned_bounding_box", (geom::bounding_box<PyPointCloud, &PointCloud::points>),
                  "get_axis_aligned_bounding_box($self)\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
