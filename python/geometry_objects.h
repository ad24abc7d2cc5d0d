// Object layouts of the Python geometry classes that views and other modules
// reach into, and constructors of new Python objects from core records.
#pragma once
#include "binding/types.h"
#include "core/geometry/mesh.h"
#include "core/geometry/point_cloud.h"
#include "shared_buffers.h"

namespace ombrix::py {

struct PyPointCloud {
    PyObject_HEAD
    BorrowFlag flag;
    PointCloud value;
    SharedBuffers shared;
};

struct PyTriangleMesh {
    PyObject_HEAD
    BorrowFlag flag;
    TriangleMesh value;
    SharedBuffers shared;
};

// New PointCloud / TriangleMesh objects (the base classes) taking over a record.
PyObject* wrap_point_cloud(PointCloud&& cloud);
PyObject* wrap_triangle_mesh(TriangleMesh&& mesh);

}  // namespace ombrix::py
