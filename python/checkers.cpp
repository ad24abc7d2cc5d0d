// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_correspondence_checker_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.CorrespondenceChecker", nullptr, b, true, false); }
PyTypeObject* build_correspondence_checker_edge_length_type() { PyTypeObject* b = correspondence_checker_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.CorrespondenceCheckerBasedOnEdgeLength", "CorrespondenceCheckerBasedOnEdgeLength(similarity_threshold=0.9)\n--\n\n", b, false, true); }
PyTypeObject* build_correspondence_checker_distance_type() { PyTypeObject* b = correspondence_checker_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.CorrespondenceCheckerBasedOnDistance", "CorrespondenceCheckerBasedOnDistance(distance_threshold)\n--\n\n", b, false, true); }
PyTypeObject* build_correspondence_checker_normal_type() { PyTypeObject* b = correspondence_checker_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.CorrespondenceCheckerBasedOnNormal", "CorrespondenceCheckerBasedOnNormal(normal_angle_threshold)\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(correspondence_checker_type, build_correspondence_checker_type)
OMBRIX_TYPE_GETTER(correspondence_checker_edge_length_type, build_correspondence_checker_edge_length_type)
OMBRIX_TYPE_GETTER(correspondence_checker_distance_type, build_correspondence_checker_distance_type)
OMBRIX_TYPE_GETTER(correspondence_checker_normal_type, build_correspondence_checker_normal_type)

}  // namespace ombrix::py
