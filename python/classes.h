// Type-object getters of every Python class, and the function tables each
// module file contributes. A getter builds its type once (base first) and
// returns the cached object; nullptr with an exception set on failure.
#pragma once
#include "binding/common.h"

namespace ombrix::py {

// geometry
PyTypeObject* geometry_type_type();  // GeometryType (enums.cpp)
PyTypeObject* geometry_type();       // Geometry (geometry_base.cpp)
PyTypeObject* geometry3d_type();
PyTypeObject* geometry2d_type();
PyTypeObject* mesh_base_type();
PyTypeObject* point_cloud_type();            // point_cloud.cpp
PyTypeObject* axis_aligned_bounding_box_type();  // bounding_box.cpp
PyTypeObject* kdtree_search_param_type();    // kdtree.cpp
PyTypeObject* kdtree_search_param_knn_type();
PyTypeObject* kdtree_search_param_radius_type();
PyTypeObject* kdtree_search_param_hybrid_type();
PyTypeObject* kdtree_flann_type();
PyTypeObject* triangle_mesh_type();          // triangle_mesh.cpp
PyTypeObject* voxel_type();                  // voxel_grid.cpp
PyTypeObject* voxel_grid_type();

// utility
PyTypeObject* vector3d_vector_type();  // vectors.cpp
PyTypeObject* vector2d_vector_type();
PyTypeObject* vector3i_vector_type();
PyTypeObject* vector2i_vector_type();
PyTypeObject* vector4i_vector_type();
PyTypeObject* matrix3d_vector_type();
PyTypeObject* matrix4d_vector_type();
PyTypeObject* int_vector_type();
PyTypeObject* double_vector_type();
PyTypeObject* verbosity_level_type();            // enums.cpp
PyTypeObject* verbosity_context_manager_type();  // utility.cpp

// io
PyTypeObject* file_geometry_type();  // enums.cpp

// pipelines.registration
PyTypeObject* feature_type();  // registration_records.cpp
PyTypeObject* icp_convergence_criteria_type();
PyTypeObject* ransac_convergence_criteria_type();
PyTypeObject* registration_result_type();
PyTypeObject* transformation_estimation_type();  // estimation.cpp
PyTypeObject* transformation_estimation_point_to_point_type();
PyTypeObject* transformation_estimation_point_to_plane_type();
PyTypeObject* correspondence_checker_type();  // checkers.cpp
PyTypeObject* correspondence_checker_edge_length_type();
PyTypeObject* correspondence_checker_distance_type();
PyTypeObject* correspondence_checker_normal_type();

// Module-level functions, each table ended by a null entry. The module frame
// adds them by name in its registration order.
extern PyMethodDef utility_functions[];       // utility.cpp: verbosity functions
extern PyMethodDef random_functions[];        // random_mod.cpp: seed
extern PyMethodDef io_functions[];            // io_mod.cpp
extern PyMethodDef icp_functions[];           // icp.cpp
extern PyMethodDef feature_functions[];       // features.cpp
extern PyMethodDef ransac_functions[];        // ransac.cpp

// Extra PointCloud methods defined outside point_cloud.cpp (null-terminated).
extern PyMethodDef point_cloud_processing_methods[];  // point_cloud_processing.cpp: normals, orientation
extern PyMethodDef point_cloud_sampling_methods[];    // point_cloud_sampling.cpp: voxel_down_sample, bounding box

}  // namespace ombrix::py
