// Every binding file includes this first: Python.h with the settings we use.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>
