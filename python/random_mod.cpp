// utility.random module functions.
#include "binding/args.h"
#include "binding/types.h"
#include "classes.h"
#include "core/random.h"

namespace ombrix::py {

namespace {

PyObject* seed_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"seed"};
    PyObject* a[1];
    if (!parse_args("seed", names, 1, 1, args, nargs, kw, a)) return nullptr;
    int32_t value;
    if (!to_int32(a[0], "seed", &value)) return nullptr;
    // The signed value is taken as its unsigned 32-bit pattern: -1 seeds with 2^32 - 1.
    ombrix::seed(static_cast<uint32_t>(value));
    Py_RETURN_NONE;
}

}  // namespace

PyMethodDef random_functions[] = {
    OMBRIX_METHOD("seed", seed_fn, "seed(seed)\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
