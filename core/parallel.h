// The process-wide data-parallel pool.
//
// Rules that keep results independent of the thread count and schedule:
// each iteration writes only its own slot; sums, counts and lists are formed
// afterwards by the caller in index order. The calling thread works on its own
// loop, so nested or concurrent loops from several threads never deadlock.
// A child forked after the pool was used builds a fresh pool on first use.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

namespace ombrix {

// Number of threads a loop may use: OMBRIX_NUM_THREADS when set to a positive
// integer, else the CPUs in the process's affinity mask.
int num_threads();

// Runs body(begin, end) over disjoint chunks covering [0, n). Chunks are at
// least `grain` long (except the last).
void parallel_for_chunks(size_t n, const std::function<void(size_t, size_t)>& body, size_t grain = 1);

// Runs fn(i) for every i in [0, n).
template <class F>
void parallel_for(size_t n, F&& fn, size_t grain = 1) {
    parallel_for_chunks(
        n, [&](size_t b, size_t e) {
            for (size_t i = b; i < e; ++i) fn(i);
        },
        grain);
}

// Map-and-collect: out[i] = fn(i), in index order.
template <class T, class F>
std::vector<T> parallel_map(size_t n, F&& fn, size_t grain = 1) {
    std::vector<T> out(n);
    parallel_for(n, [&](size_t i) { out[i] = fn(i); }, grain);
    return out;
}

}  // namespace ombrix
