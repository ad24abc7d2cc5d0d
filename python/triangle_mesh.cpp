// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_triangle_mesh_type() { PyTypeObject* b = mesh_base_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.TriangleMesh", "TriangleMesh(other=None)\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(triangle_mesh_type, build_triangle_mesh_type)

}  // namespace ombrix::py
