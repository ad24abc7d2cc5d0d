// Per-object borrow state: 0 free, n > 0 readers, -1 one writer. A conflict
// fails at once with RuntimeError; nothing ever waits. Borrows are taken with
// the GIL held and may outlive a GIL release, so the state is atomic.
#pragma once
#include <atomic>

#include "binding/common.h"

namespace ombrix::py {

struct BorrowFlag {
    std::atomic<int> state{0};
};

class ReadBorrow {
public:
    explicit ReadBorrow(BorrowFlag& f) : f_(&f) {
        int s = f_->state.load();
        for (;;) {
            if (s < 0) {
                PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
                f_ = nullptr;
                return;
            }
            if (f_->state.compare_exchange_weak(s, s + 1)) return;
        }
    }
    ReadBorrow(const ReadBorrow&) = delete;
    ReadBorrow& operator=(const ReadBorrow&) = delete;
    ReadBorrow(ReadBorrow&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
    ~ReadBorrow() { release(); }
    void release() {
        if (f_) f_->state.fetch_sub(1);
        f_ = nullptr;
    }
    // False when the borrow failed (a Python exception is set).
    explicit operator bool() const { return f_ != nullptr; }

private:
    BorrowFlag* f_;
};

class WriteBorrow {
public:
    explicit WriteBorrow(BorrowFlag& f) : f_(&f) {
        int expected = 0;
        if (!f_->state.compare_exchange_strong(expected, -1)) {
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            f_ = nullptr;
        }
    }
    WriteBorrow(const WriteBorrow&) = delete;
    WriteBorrow& operator=(const WriteBorrow&) = delete;
    WriteBorrow(WriteBorrow&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
    ~WriteBorrow() { release(); }
    void release() {
        if (f_) f_->state.store(0);
        f_ = nullptr;
    }
    explicit operator bool() const { return f_ != nullptr; }

private:
    BorrowFlag* f_;
};

// Releases the GIL for its lifetime. Use only after arguments are converted
// and objects borrowed; touch no Python object inside.
class ReleaseGil {
public:
    ReleaseGil() : s_(PyEval_SaveThread()) {}
    ReleaseGil(const ReleaseGil&) = delete;
    ReleaseGil& operator=(const ReleaseGil&) = delete;
    ~ReleaseGil() { PyEval_RestoreThread(s_); }

private:
    PyThreadState* s_;
};

}  // namespace ombrix::py
