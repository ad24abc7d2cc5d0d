// The small enumeration classes GeometryType, FileGeometry and VerbosityLevel:
// a name and an int32 value each, with shared behaviour (int/index
// conversion, read-only name, repr, equality within the class, SipHash hash).
#pragma once
#include <cstdint>

#include "binding/common.h"

namespace ombrix::py {

struct EnumObj {
    PyObject_HEAD
    PyObject* name;  // str
    int32_t value;
};

// Fresh instances for functions that return an enum value.
PyObject* new_geometry_type(int32_t value);   // names: Unspecified, PointCloud, VoxelGrid, TriangleMesh, AxisAlignedBoundingBox
PyObject* new_file_geometry(int32_t value);   // CONTENTS_UNKNOWN, CONTAINS_POINTS, CONTAINS_LINES, CONTAINS_TRIANGLES
PyObject* new_verbosity_level(int32_t value); // Error, Warning, Info, Debug

// Instance of the enum class `type` (subclasses count)?
bool is_enum_of(PyObject* o, PyTypeObject* type);

// SipHash-1-3 enum hash (exposed for tests of the core formula).
int64_t enum_hash(int32_t value, const char* name, size_t len);

}  // namespace ombrix::py
