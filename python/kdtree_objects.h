// Object layouts of geometry.KDTreeSearchParam (and its three subclasses) and
// geometry.KDTreeFlann, and the conversion other bindings use to take a
// search-parameter argument (estimate_normals, compute_fpfh_feature, ...).
#pragma once
#include "binding/borrow.h"
#include "binding/types.h"
#include "core/kdtree.h"

namespace ombrix::py {

// KDTreeSearchParam and its subclasses share this layout; the subclass only
// fixes the tag at construction.
struct PyKDTreeSearchParam {
    PyObject_HEAD
    BorrowFlag flag;
    KdTreeSearchParam value;
};

struct PyKDTreeFlann {
    PyObject_HEAD
    BorrowFlag flag;
    KdTreeFlann value;
};

// True for instances of KDTreeSearchParam (any subclass).
bool is_search_param(PyObject* o);

// Copies the core record out of a KDTreeSearchParam instance (any subclass).
// Anything else (None included: callers handle their own defaults) raises
// TypeError naming `param`.
bool search_param_from(PyObject* o, const char* param, KdTreeSearchParam* out);

// A new KDTreeSearchParamKNN / Radius / Hybrid object (by the record's kind).
PyObject* wrap_search_param(const KdTreeSearchParam& p);

}  // namespace ombrix::py
