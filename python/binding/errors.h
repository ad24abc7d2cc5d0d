// Raising helpers: each sets a Python exception and returns the failure value
// the calling slot expects (nullptr or -1).
#pragma once
#include <string>

#include "binding/common.h"

namespace ombrix::py {

inline PyObject* raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    return nullptr;
}
inline PyObject* raise(PyObject* type, const std::string& message) { return raise(type, message.c_str()); }
inline int raise_int(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    return -1;
}
inline int raise_int(PyObject* type, const std::string& message) { return raise_int(type, message.c_str()); }

// Setter slots: deleting a property is refused.
inline int refuse_delete() { return raise_int(PyExc_AttributeError, "can't delete attribute"); }

}  // namespace ombrix::py
