// NumPy C API, taken through its capsule once at module init (pybind.cpp
// defines OMBRIX_NUMPY_IMPORT and calls import_numpy()).
#pragma once
#include "binding/common.h"

#define PY_ARRAY_UNIQUE_SYMBOL ombrix_ARRAY_API
#ifndef OMBRIX_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
