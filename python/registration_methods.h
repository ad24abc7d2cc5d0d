// Object layouts of the estimation-method and checker classes, and the
// argument helpers the registration functions share (estimators, checkers,
// ICP, RANSAC).
#pragma once
#include <optional>

#include "binding/borrow.h"
#include "binding/types.h"
#include "core/geometry/point_cloud.h"
#include "core/registration/checker.h"
#include "core/registration/estimation.h"
#include "core/registration/records.h"

namespace ombrix::py {

// TransformationEstimation and its two subclasses share one layout.
struct PyTransformationEstimation {
    PyObject_HEAD
    BorrowFlag flag;
    TransformationEstimationKind kind;
};

// CorrespondenceChecker and its three subclasses share one layout.
struct PyCorrespondenceChecker {
    PyObject_HEAD
    BorrowFlag flag;
    CorrespondenceChecker value;
};

// `estimation_method` argument: None or missing means point-to-point without
// scaling; otherwise a TransformationEstimation (TypeError naming `param`).
bool estimation_kind_from(PyObject* o, const char* param, TransformationEstimationKind* out);

// `checkers` argument: missing means none; otherwise a sequence (not a str)
// of CorrespondenceChecker objects, copied into the core list in order.
// TypeError naming `param` for anything else.
bool extract_checkers(PyObject* o, const char* param, CorrespondenceCheckerList* out);

// A PointCloud argument borrowed for reading while this lives.
struct CloudArg {
    std::optional<ReadBorrow> borrow;
    const PointCloud* cloud = nullptr;
};

// Checks that `o` is a PointCloud (TypeError naming `param`) and borrows it
// for reading (RuntimeError on a conflicting borrow).
bool borrow_cloud(PyObject* o, const char* param, CloudArg* out);

// A Vector2iVector argument (TypeError naming `param` for anything else),
// copied into `out`.
bool corres_from(PyObject* o, const char* param, CorrespondenceSet* out);

}  // namespace ombrix::py
