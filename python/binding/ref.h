// Ref: an owning PyObject reference. Borrowed pointers stay raw and short-lived.
#pragma once
#include "binding/common.h"

namespace ombrix::py {

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    static Ref borrow(PyObject* o) {
        Py_XINCREF(o);
        return Ref(o);
    }
    Ref(const Ref& o) : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref o) noexcept {
        PyObject* t = p_;
        p_ = o.p_;
        o.p_ = t;
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* t = p_;
        p_ = nullptr;
        return t;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace ombrix::py
