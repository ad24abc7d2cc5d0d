// The list-like containers of `utility` seen from the rest of the binding
// layer: views on geometry attributes, free-standing containers built from
// core results, and the conversions of arbitrary Python values into element
// arrays.
#pragma once
#include <cstdint>
#include <vector>

#include "binding/borrow.h"
#include "binding/common.h"
#include "core/linalg.h"
#include "shared_buffers.h"

namespace ombrix::py {

// A new view on attribute `target` (ViewTarget code) of `owner`: a
// Vector3dVector for codes 0-6, a Vector3iVector for code 10. The view holds
// a reference to the owner (a PyPointCloud for codes 0-2, a PyTriangleMesh
// otherwise) and re-resolves the attribute on every use. Reading a property
// needs the owner to be readable at that moment: fails with RuntimeError
// "Already mutably borrowed" while the owner is being written.
PyObject* make_view(PyObject* owner, int target);

// New free-standing containers taking over the elements.
PyObject* wrap_vector3d(std::vector<Vec3>&& v);
PyObject* wrap_vector2d(std::vector<Vec2>&& v);
PyObject* wrap_vector3i(std::vector<Vec3i>&& v);
PyObject* wrap_vector2i(std::vector<Vec2i>&& v);
PyObject* wrap_vector4i(std::vector<Vec4i>&& v);
PyObject* wrap_int_vector(std::vector<int32_t>&& v);
PyObject* wrap_double_vector(std::vector<double>&& v);
PyObject* wrap_matrix3d_vector(std::vector<Mat3>&& v);
PyObject* wrap_matrix4d_vector(std::vector<Mat4>&& v);

// The conversion the constructors use: a container of the matching class
// (views read through their owner), a 2-D NumPy array of the component
// dtype (any strides), or anything numpy.asarray(...).astype(...) turns into
// an (n, k) array. Errors: TypeError "invalid array shape", "cannot convert
// argument to a (n, k) array", or NumPy's own. On failure *out is untouched.
bool extract_from(PyObject* value, std::vector<Vec3>* out);
bool extract_from(PyObject* value, std::vector<Vec2>* out);
bool extract_from(PyObject* value, std::vector<Vec3i>* out);
bool extract_from(PyObject* value, std::vector<Vec2i>* out);
bool extract_from(PyObject* value, std::vector<Vec4i>* out);
// The IntVector / DoubleVector conversion: any sequence (containers, lists,
// 1-D arrays, ...), items by Python's index (32-bit range checked) / float
// conversion. A non-sequence raises TypeError naming `param`.
bool extract_from(PyObject* value, std::vector<int32_t>* out, const char* param = "arg");
bool extract_from(PyObject* value, std::vector<double>* out, const char* param = "arg");

// Property setter: replaces `attr` (ViewTarget `target` of the geometry
// whose borrow flag is `flag`) by a copy of `value`'s elements. The value is
// read first (it may be a view of this very geometry, or an array over this
// attribute's own memory), then the geometry is borrowed for writing for the
// copy. The caller must NOT hold the geometry's borrow. The buffer is kept
// when the new elements fit; otherwise the old buffer is retired through
// `shared` if it was exported. Vec3 attributes accept what extract_from
// accepts; Vec3i likewise (triangles). Returns false with an exception set.
bool assign_into(PyObject* value, BorrowFlag& flag, std::vector<Vec3>& attr, SharedBuffers& shared, int target);
bool assign_into(PyObject* value, BorrowFlag& flag, std::vector<Vec3i>& attr, SharedBuffers& shared, int target);

}  // namespace ombrix::py
