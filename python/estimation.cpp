// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_transformation_estimation_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.TransformationEstimation", nullptr, b, true, false); }
PyTypeObject* build_transformation_estimation_point_to_point_type() { PyTypeObject* b = transformation_estimation_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.TransformationEstimationPointToPoint", "TransformationEstimationPointToPoint(with_scaling=False)\n--\n\n", b, false, true); }
PyTypeObject* build_transformation_estimation_point_to_plane_type() { PyTypeObject* b = transformation_estimation_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.TransformationEstimationPointToPlane", "TransformationEstimationPointToPlane()\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(transformation_estimation_type, build_transformation_estimation_type)
OMBRIX_TYPE_GETTER(transformation_estimation_point_to_point_type, build_transformation_estimation_point_to_point_type)
OMBRIX_TYPE_GETTER(transformation_estimation_point_to_plane_type, build_transformation_estimation_point_to_plane_type)

}  // namespace ombrix::py
