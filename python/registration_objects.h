// Object layouts of the registration record classes (RegistrationResult,
// ICPConvergenceCriteria, RANSACConvergenceCriteria, Feature) and the helpers
// the registration functions use to take them as arguments and return them.
#pragma once
#include <optional>

#include "binding/borrow.h"
#include "binding/types.h"
#include "core/registration/records.h"

namespace ombrix::py {

struct PyRegistrationResult {
    PyObject_HEAD
    BorrowFlag flag;
    RegistrationResult value;
};

struct PyICPConvergenceCriteria {
    PyObject_HEAD
    BorrowFlag flag;
    ICPConvergenceCriteria value;
};

struct PyRANSACConvergenceCriteria {
    PyObject_HEAD
    BorrowFlag flag;
    RANSACConvergenceCriteria value;
};

struct PyFeature {
    PyObject_HEAD
    BorrowFlag flag;
    Feature value;
};

// New Python objects taking over a core record; nullptr with an exception set.
PyObject* wrap_registration_result(RegistrationResult&& result);
PyObject* wrap_feature(Feature&& feature);

// Type checks (subclasses count; the classes are final, so exact in practice).
bool is_registration_result(PyObject* o);
bool is_feature(PyObject* o);
bool is_icp_convergence_criteria(PyObject* o);
bool is_ransac_convergence_criteria(PyObject* o);

// A Feature argument borrowed for reading while this lives.
struct FeatureArg {
    std::optional<ReadBorrow> borrow;
    const Feature* feature = nullptr;
};

// Checks that `o` is a Feature (TypeError naming `param`) and borrows it for
// reading (RuntimeError "Already mutably borrowed" on a conflict).
bool borrow_feature(PyObject* o, const char* param, FeatureArg* out);

// Criteria arguments, copied out under a read borrow. A missing argument
// (nullptr) gives the defaults; anything but an instance of the class raises
// TypeError naming `param`.
bool icp_criteria_from(PyObject* o, const char* param, ICPConvergenceCriteria* out);
bool ransac_criteria_from(PyObject* o, const char* param, RANSACConvergenceCriteria* out);

// Two-dimensional float64 NumPy arrays of shape (rows, cols) as feature
// matrices: column j becomes point j (contiguous), element [i, j] its
// coordinate i; read through the array's strides. Anything else raises
// TypeError (the NumPy interop's 2-D float64 message).
bool feature_shape_from_array(PyObject* o, uint64_t* rows, uint64_t* cols);
bool feature_columns_from_array(PyObject* o, Feature* out);

}  // namespace ombrix::py
