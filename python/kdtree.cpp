// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_kdtree_search_param_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.geometry.KDTreeSearchParam", nullptr, b, true, false); }
PyTypeObject* build_kdtree_search_param_knn_type() { PyTypeObject* b = kdtree_search_param_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.KDTreeSearchParamKNN", "KDTreeSearchParamKNN(knn=30)\n--\n\n", b, false, true); }
PyTypeObject* build_kdtree_search_param_radius_type() { PyTypeObject* b = kdtree_search_param_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.KDTreeSearchParamRadius", "KDTreeSearchParamRadius(radius)\n--\n\n", b, false, true); }
PyTypeObject* build_kdtree_search_param_hybrid_type() { PyTypeObject* b = kdtree_search_param_type(); if (!b && PyErr_Occurred()) return nullptr; return plain_type("ombrix.cpu.pybind.geometry.KDTreeSearchParamHybrid", "KDTreeSearchParamHybrid(radius, max_nn)\n--\n\n", b, false, true); }
PyTypeObject* build_kdtree_flann_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.geometry.KDTreeFlann", "KDTreeFlann(data=None)\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(kdtree_search_param_type, build_kdtree_search_param_type)
OMBRIX_TYPE_GETTER(kdtree_search_param_knn_type, build_kdtree_search_param_knn_type)
OMBRIX_TYPE_GETTER(kdtree_search_param_radius_type, build_kdtree_search_param_radius_type)
OMBRIX_TYPE_GETTER(kdtree_search_param_hybrid_type, build_kdtree_search_param_hybrid_type)
OMBRIX_TYPE_GETTER(kdtree_flann_type, build_kdtree_flann_type)

}  // namespace ombrix::py
