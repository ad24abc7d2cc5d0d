// Argument parsing for METH_FASTCALL | METH_KEYWORDS callables, and the
// standard scalar converters.
//
//   static const char* const kNames[] = {"translation", "relative"};
//   PyObject* a[2];
//   if (!parse_args("translate", kNames, 2, 1, args, nargs, kwnames, a)) return nullptr;
//
// Every parameter is positional-or-keyword. On success a[i] is a borrowed
// reference, or nullptr when the argument was omitted. Parameters whose
// default is None should be tested with missing_or_none().
#pragma once
#include <cstdint>
#include <string>

#include "binding/common.h"

namespace ombrix::py {

bool parse_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* const* args,
                Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// Same for tp_init / tp_new style (args tuple, kwargs dict).
bool parse_tuple_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* args,
                      PyObject* kwargs, PyObject** out);

inline bool missing_or_none(PyObject* a) { return a == nullptr || a == Py_None; }

// Converters: on failure raise TypeError naming the parameter (OverflowError
// for integers out of range; other exception types raised during a
// conversion pass through unchanged) and return false.
bool to_bool(PyObject* o, const char* param, bool* out);        // Python bool or NumPy bool only
bool to_double(PyObject* o, const char* param, double* out);    // float protocol (ints accepted)
bool to_int32(PyObject* o, const char* param, int32_t* out);    // index protocol
bool to_int64(PyObject* o, const char* param, int64_t* out);
bool to_uint64(PyObject* o, const char* param, uint64_t* out);
bool to_uint32(PyObject* o, const char* param, uint32_t* out);
bool to_string(PyObject* o, const char* param, std::string* out);  // str only
// Instance of `type` (subclasses count); otherwise TypeError naming the parameter.
bool check_instance(PyObject* o, PyTypeObject* type, const char* param);

// The integer reading under the integer converters, for callers that word
// their own errors: an index-protocol integer (floats refused) in [lo, hi].
// Only kError leaves an exception set (one raised by the object itself).
enum class IntegerRead { kOk, kNotInteger, kOutOfRange, kError };
IntegerRead read_integer(PyObject* o, long long lo, long long hi, long long* out);

// Raises the standard TypeError for a parameter of the wrong kind.
void raise_arg_type(const char* param, const char* expected, PyObject* got);

}  // namespace ombrix::py
