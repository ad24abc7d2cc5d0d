// PyInit_pybind: builds the module tree once per process, registering every
// class and function in a fixed order (also the order of each __all__).
#define OMBRIX_NUMPY_IMPORT
#include "binding/numpy.h"
#include "binding/ref.h"
#include "classes.h"
#include "enums.h"

#include <cstring>
#include <initializer_list>

namespace ombrix::py {

namespace {

PyObject* g_module = nullptr;                  // the one built module
PyInterpreterState* g_interpreter = nullptr;   // the interpreter that built it

// Sets module.name = value and appends name to module.__all__ (created on first use).
bool add(PyObject* module, const char* name, PyObject* value) {
    if (!value) return false;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        PyErr_Clear();
        all = PyList_New(0);
        if (!all || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return false;
        }
    }
    Ref name_obj(PyUnicode_FromString(name));
    bool ok = name_obj && PyList_Append(all, name_obj.get()) == 0 && PyObject_SetAttrString(module, name, value) == 0;
    Py_DECREF(all);
    return ok;
}

bool add_type(PyObject* module, PyTypeObject* (*getter)()) {
    PyTypeObject* t = getter();
    if (!t) return false;
    const char* dot = std::strrchr(t->tp_name, '.');
    return add(module, dot ? dot + 1 : t->tp_name, reinterpret_cast<PyObject*>(t));
}

bool add_types(PyObject* module, std::initializer_list<PyTypeObject* (*)()> getters) {
    for (auto g : getters)
        if (!add_type(module, g)) return false;
    return true;
}

// Adds the named functions, in the order given, from the tables that define them.
bool add_functions(PyObject* module, std::initializer_list<PyMethodDef*> tables,
                   std::initializer_list<const char*> names) {
    for (const char* name : names) {
        PyMethodDef* found = nullptr;
        for (PyMethodDef* t : tables)
            for (PyMethodDef* d = t; d->ml_name && !found; ++d)
                if (std::strcmp(d->ml_name, name) == 0) found = d;
        if (!found) {  // a registration name without a definition is a build fault
            PyErr_Format(PyExc_SystemError, "module function %s is not defined", name);
            return false;
        }
        Ref name_obj(PyModule_GetNameObject(module));
        if (!name_obj) return false;
        Ref fn(PyCFunction_NewEx(found, nullptr, name_obj.get()));
        if (!add(module, name, fn.get())) return false;
    }
    return true;
}

bool add_enum_constants(PyObject* module, PyObject* (*make)(int32_t), std::initializer_list<const char*> names,
                        std::initializer_list<int32_t> values) {
    auto v = values.begin();
    for (const char* n : names) {
        Ref c(make(*v++));
        if (!add(module, n, c.get())) return false;
    }
    return true;
}

bool store(PyObject* sys_modules, const char* key, PyObject* module) {
    return PyDict_SetItemString(sys_modules, key, module) == 0;
}

bool fill_geometry(PyObject* m) {
    if (!add_types(m, {geometry_type_type, geometry_type, geometry3d_type, geometry2d_type, point_cloud_type,
                       axis_aligned_bounding_box_type, kdtree_search_param_type, kdtree_search_param_knn_type,
                       kdtree_search_param_radius_type, kdtree_search_param_hybrid_type, kdtree_flann_type,
                       mesh_base_type, triangle_mesh_type, voxel_type, voxel_grid_type}))
        return false;
    // The module functions are the very static methods of Geometry3D.
    static const char* const rot[] = {"get_rotation_matrix_from_xyz",        "get_rotation_matrix_from_yzx",
                                      "get_rotation_matrix_from_zxy",        "get_rotation_matrix_from_xzy",
                                      "get_rotation_matrix_from_zyx",        "get_rotation_matrix_from_yxz",
                                      "get_rotation_matrix_from_axis_angle", "get_rotation_matrix_from_quaternion"};
    for (const char* name : rot) {
        Ref fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(geometry3d_type()), name));
        if (!add(m, name, fn.get())) return false;
    }
    return true;
}

bool fill_utility(PyObject* m) {
    if (!add_types(m, {vector3d_vector_type, vector2d_vector_type, vector3i_vector_type, vector2i_vector_type,
                       vector4i_vector_type, matrix3d_vector_type, matrix4d_vector_type, int_vector_type,
                       double_vector_type, verbosity_level_type, verbosity_context_manager_type}))
        return false;
    if (!add_enum_constants(m, new_verbosity_level, {"Error", "Warning", "Info", "Debug"}, {0, 1, 2, 3})) return false;
    if (!add_functions(m, {utility_functions}, {"set_verbosity_level", "get_verbosity_level", "reset_print_function"}))
        return false;
    Ref random(PyModule_New("random"));
    if (!random || !add_functions(random.get(), {random_functions}, {"seed"})) return false;
    return add(m, "random", random.get());
}

bool fill_io(PyObject* m) {
    if (!add_type(m, file_geometry_type)) return false;
    if (!add_enum_constants(m, new_file_geometry,
                            {"CONTENTS_UNKNOWN", "CONTAINS_POINTS", "CONTAINS_LINES", "CONTAINS_TRIANGLES"},
                            {0, 1, 2, 4}))
        return false;
    return add_functions(m, {io_functions},
                         {"read_file_geometry_type", "read_point_cloud", "read_point_cloud_from_bytes",
                          "write_point_cloud", "write_point_cloud_to_bytes", "read_triangle_mesh",
                          "write_triangle_mesh"});
}

bool fill_registration(PyObject* m) {
    if (!add_types(m, {feature_type, icp_convergence_criteria_type, ransac_convergence_criteria_type,
                       transformation_estimation_type, transformation_estimation_point_to_point_type,
                       transformation_estimation_point_to_plane_type, correspondence_checker_type,
                       correspondence_checker_edge_length_type, correspondence_checker_distance_type,
                       correspondence_checker_normal_type, registration_result_type}))
        return false;
    return add_functions(m, {icp_functions, feature_functions, ransac_functions},
                         {"compute_fpfh_feature", "correspondences_from_features", "evaluate_registration",
                          "registration_icp", "registration_ransac_based_on_correspondence",
                          "registration_ransac_based_on_feature_matching",
                          "get_information_matrix_from_point_clouds"});
}

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "pybind", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr};

PyObject* build() {
    Ref top(PyModule_Create(&g_def));
    if (!top) return nullptr;
    Ref sys(PyImport_ImportModule("sys"));
    if (!sys) return nullptr;
    Ref sys_modules(PyObject_GetAttrString(sys.get(), "modules"));
    if (!sys_modules) return nullptr;
    PyObject* mods = sys_modules.get();

    Ref geometry(PyModule_New("geometry"));
    if (!geometry || !fill_geometry(geometry.get()) || !add(top.get(), "geometry", geometry.get()) ||
        !store(mods, "ombrix.cpu.pybind.geometry", geometry.get()))
        return nullptr;

    Ref utility(PyModule_New("utility"));
    if (!utility || !fill_utility(utility.get()) || !add(top.get(), "utility", utility.get()) ||
        !store(mods, "ombrix.cpu.pybind.utility", utility.get()))
        return nullptr;
    Ref random(PyObject_GetAttrString(utility.get(), "random"));
    if (!random || !store(mods, "ombrix.cpu.pybind.utility.random", random.get())) return nullptr;

    Ref io(PyModule_New("io"));
    if (!io || !fill_io(io.get()) || !add(top.get(), "io", io.get()) || !store(mods, "ombrix.cpu.pybind.io", io.get()))
        return nullptr;

    Ref pipelines(PyModule_New("pipelines"));
    Ref registration(PyModule_New("registration"));
    if (!pipelines || !registration || !fill_registration(registration.get()) ||
        !add(pipelines.get(), "registration", registration.get()) || !add(top.get(), "pipelines", pipelines.get()) ||
        !store(mods, "ombrix.cpu.pybind.pipelines", pipelines.get()) ||
        !store(mods, "ombrix.cpu.pybind.pipelines.registration", registration.get()))
        return nullptr;

    Ref version(PyUnicode_FromString("2.1.0"));
    if (!add(top.get(), "__version__", version.get())) return nullptr;
    return top.release();
}

}  // namespace

}  // namespace ombrix::py

extern "C" PyMODINIT_FUNC PyInit_pybind(void) {
    using namespace ombrix::py;
    PyInterpreterState* interp = PyInterpreterState_Get();
    if (g_module) {
        if (interp != g_interpreter) {
            PyErr_SetString(PyExc_ImportError, "ombrix.cpu.pybind does not support sub-interpreters");
            return nullptr;
        }
        Py_INCREF(g_module);
        return g_module;
    }
    if (_import_array() < 0) return nullptr;
    PyObject* m = build();
    if (!m) return nullptr;
    g_module = m;
    g_interpreter = interp;
    Py_INCREF(g_module);
    return m;
}
