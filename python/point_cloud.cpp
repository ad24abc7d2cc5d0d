// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_point_cloud_type() { PyTypeObject* b = geometry3d_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.PointCloud", "PointCloud(other=None)\n--\n\n", b, true, true); }
}  // namespace

OMBRIX_TYPE_GETTER(point_cloud_type, build_point_cloud_type)

}  // namespace ombrix::py
