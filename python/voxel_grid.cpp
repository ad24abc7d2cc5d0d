// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_voxel_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.geometry.Voxel", "Voxel(grid_index=None, color=None)\n--\n\n", b, false, true); }
PyTypeObject* build_voxel_grid_type() { PyTypeObject* b = geometry3d_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.VoxelGrid", "VoxelGrid()\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(voxel_type, build_voxel_type)
OMBRIX_TYPE_GETTER(voxel_grid_type, build_voxel_grid_type)

}  // namespace ombrix::py
