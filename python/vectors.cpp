// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_vector3d_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Vector3dVector", "Vector3dVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_vector2d_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Vector2dVector", "Vector2dVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_vector3i_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Vector3iVector", "Vector3iVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_vector2i_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Vector2iVector", "Vector2iVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_vector4i_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Vector4iVector", "Vector4iVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_matrix3d_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Matrix3dVector", "Matrix3dVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_matrix4d_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.Matrix4dVector", "Matrix4dVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_int_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.IntVector", "IntVector(arg=None)\n--\n\n", b, false, true); }
PyTypeObject* build_double_vector_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.utility.DoubleVector", "DoubleVector(arg=None)\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(vector3d_vector_type, build_vector3d_vector_type)
OMBRIX_TYPE_GETTER(vector2d_vector_type, build_vector2d_vector_type)
OMBRIX_TYPE_GETTER(vector3i_vector_type, build_vector3i_vector_type)
OMBRIX_TYPE_GETTER(vector2i_vector_type, build_vector2i_vector_type)
OMBRIX_TYPE_GETTER(vector4i_vector_type, build_vector4i_vector_type)
OMBRIX_TYPE_GETTER(matrix3d_vector_type, build_matrix3d_vector_type)
OMBRIX_TYPE_GETTER(matrix4d_vector_type, build_matrix4d_vector_type)
OMBRIX_TYPE_GETTER(int_vector_type, build_int_vector_type)
OMBRIX_TYPE_GETTER(double_vector_type, build_double_vector_type)

}  // namespace ombrix::py
