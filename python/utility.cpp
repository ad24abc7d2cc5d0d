// utility module members: the process-wide verbosity level (stored, never
// printed by anything), its functions and its context manager.
#include <atomic>
#include <climits>

#include "binding/args.h"
#include "binding/types.h"
#include "classes.h"
#include "enums.h"

namespace ombrix::py {

namespace {

std::atomic<int32_t> g_verbosity{2};

// A VerbosityLevel gives its value; otherwise an index-protocol integer in the
// int32 range. Errors do not name a parameter.
bool level_from(PyObject* o, int32_t* out) {
    if (is_enum_of(o, verbosity_level_type())) {
        *out = reinterpret_cast<EnumObj*>(o)->value;
        return true;
    }
    long long v;
    switch (read_integer(o, INT32_MIN, INT32_MAX, &v)) {
        case IntegerRead::kOk:
            *out = static_cast<int32_t>(v);
            return true;
        case IntegerRead::kNotInteger:
            PyErr_Format(PyExc_TypeError, "'%s' object cannot be interpreted as an integer", Py_TYPE(o)->tp_name);
            return false;
        case IntegerRead::kOutOfRange:
            PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
            return false;
        case IntegerRead::kError:
            break;
    }
    return false;
}

PyObject* set_verbosity_level(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"verbosity_level"};
    PyObject* a[1];
    if (!parse_args("set_verbosity_level", names, 1, 1, args, nargs, kw, a)) return nullptr;
    int32_t level;
    if (!level_from(a[0], &level)) return nullptr;
    g_verbosity.exchange(level);
    Py_RETURN_NONE;
}

PyObject* get_verbosity_level(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    if (!parse_args("get_verbosity_level", nullptr, 0, 0, args, nargs, kw, nullptr)) return nullptr;
    int32_t v = g_verbosity.load();
    return new_verbosity_level(v >= 0 && v <= 3 ? v : 2);
}

PyObject* reset_print_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    if (!parse_args("reset_print_function", nullptr, 0, 0, args, nargs, kw, nullptr)) return nullptr;
    Py_RETURN_NONE;
}

struct LevelPair {
    int32_t level = 2;
    int32_t saved = 2;
};
using Manager = Obj<LevelPair>;

PyObject* manager_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"level"};
    PyObject* a[1];
    if (!parse_tuple_args("VerbosityContextManager", names, 1, 1, args, kwargs, a)) return nullptr;
    int32_t level;
    if (!level_from(a[0], &level)) return nullptr;
    PyObject* self = alloc_obj<Manager>(type);
    if (self) as<Manager>(self)->value.level = level;
    return self;
}

PyObject* manager_enter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    if (!parse_args("__enter__", nullptr, 0, 0, args, nargs, kw, nullptr)) return nullptr;
    Manager* m = as<Manager>(self);
    WriteBorrow b(m->flag);
    if (!b) return nullptr;
    m->value.saved = g_verbosity.load();
    g_verbosity.exchange(m->value.level);
    Py_RETURN_NONE;
}

PyObject* manager_exit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"_t", "_v", "_tb"};
    PyObject* a[3];
    if (!parse_args("__exit__", names, 3, 3, args, nargs, kw, a)) return nullptr;
    Manager* m = as<Manager>(self);
    WriteBorrow b(m->flag);
    if (!b) return nullptr;
    g_verbosity.exchange(m->value.saved);
    Py_RETURN_NONE;
}

PyMethodDef manager_methods[] = {
    OMBRIX_METHOD("__enter__", manager_enter, "__enter__($self)\n--\n\n"),
    OMBRIX_METHOD("__exit__", manager_exit, "__exit__($self, _t, _v, _tb)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_verbosity_context_manager() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.utility.VerbosityContextManager";
    d.doc = "VerbosityContextManager(level)\n--\n\n";
    d.basicsize = sizeof(Manager);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(manager_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_obj<Manager>)},
        {Py_tp_methods, manager_methods},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(verbosity_context_manager_type, build_verbosity_context_manager)

PyMethodDef utility_functions[] = {
    OMBRIX_METHOD("set_verbosity_level", set_verbosity_level, "set_verbosity_level(verbosity_level)\n--\n\n"),
    OMBRIX_METHOD("get_verbosity_level", get_verbosity_level, "get_verbosity_level()\n--\n\n"),
    OMBRIX_METHOD("reset_print_function", reset_print_function, "reset_print_function()\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
