// Heap types from PyType_Spec, and the object layout every wrapped core record
// uses: PyObject_HEAD, a borrow flag, then the record by value.
#pragma once
#include <new>
#include <utility>
#include <vector>

#include "binding/borrow.h"
#include "binding/common.h"

namespace ombrix::py {

struct TypeDef {
    const char* name = nullptr;     // dotted: "ombrix.cpu.pybind.geometry.PointCloud"
    const char* doc = nullptr;      // "PointCloud(other=None)\n--\n\n", or nullptr for none
    PyTypeObject* base = nullptr;   // nullptr: object
    bool subclassable = false;
    bool constructible = true;      // false: calling the class raises TypeError
    Py_ssize_t basicsize = 0;       // 0: the base's size
    std::vector<PyType_Slot> slots; // tp_new, tp_dealloc, tp_repr, tp_methods, tp_getset, ...
};

// Builds the type; nullptr with an exception set on failure.
PyTypeObject* make_type(TypeDef def);

// A wrapped core record.
template <class T>
struct Obj {
    PyObject_HEAD
    BorrowFlag flag;
    T value;
};

template <class O>
O* as(PyObject* o) {
    return reinterpret_cast<O*>(o);
}

// Returns fn(const record&), run under a read borrow of self (a write in
// progress makes it fail with RuntimeError "Already mutably borrowed").
template <class O, class F>
PyObject* read_record(PyObject* self, F&& fn) {
    O* o = as<O>(self);
    ReadBorrow b(o->flag);
    if (!b) return nullptr;
    return fn(static_cast<const decltype(o->value)&>(o->value));
}

// Allocates an instance of `type` (a subclass is fine) holding T constructed from args.
template <class O, class... A>
PyObject* alloc_obj(PyTypeObject* type, A&&... args) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    O* o = reinterpret_cast<O*>(self);
    new (&o->flag) BorrowFlag();
    new (&o->value) decltype(o->value)(std::forward<A>(args)...);
    return self;
}

template <class O>
void dealloc_obj(PyObject* self) {
    using T = decltype(O::value);
    O* o = reinterpret_cast<O*>(self);
    o->value.~T();
    o->flag.~BorrowFlag();
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// tp_new that creates a default-constructed record; pair with dealloc_obj.
template <class O>
PyObject* new_default(PyTypeObject* type, PyObject*, PyObject*) {
    return alloc_obj<O>(type);
}

// Method-table entries.
#define OMBRIX_METHOD(name, fn, sig) \
    { name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn)), METH_FASTCALL | METH_KEYWORDS, sig }
#define OMBRIX_NOARGS(name, fn, sig) \
    { name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn)), METH_NOARGS, sig }
#define OMBRIX_STATIC(name, fn, sig)                                                          \
    {                                                                                         \
        name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn)),            \
            METH_FASTCALL | METH_KEYWORDS | METH_STATIC, sig                                  \
    }
#define OMBRIX_END \
    { nullptr, nullptr, 0, nullptr }

}  // namespace ombrix::py

namespace ombrix::py {

// A class with no members of its own (the abstract bases).
inline PyTypeObject* plain_type(const char* name, const char* doc, PyTypeObject* base, bool subclassable,
                                bool constructible) {
    TypeDef d;
    d.name = name;
    d.doc = doc;
    d.base = base;
    d.subclassable = subclassable;
    d.constructible = constructible;
    if (constructible) d.slots.push_back({Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)});
    return make_type(d);
}

// Caches a type built by `build` (a function returning PyTypeObject*); a failed
// build is retried on the next call.
#define OMBRIX_TYPE_GETTER(getter, build) \
    PyTypeObject* getter() {              \
        static PyTypeObject* t = nullptr; \
        if (!t) t = (build)();            \
        return t;                         \
    }

}  // namespace ombrix::py
