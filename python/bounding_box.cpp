// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_axis_aligned_bounding_box_type() { PyTypeObject* b = geometry3d_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.AxisAlignedBoundingBox", "AxisAlignedBoundingBox(min_bound=None, max_bound=None)\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(axis_aligned_bounding_box_type, build_axis_aligned_bounding_box_type)

}  // namespace ombrix::py
