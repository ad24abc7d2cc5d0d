// The process-wide random engine: MT19937 with its standard seeding, and a
// fixed multiply-and-shift mapping of its 32-bit outputs onto integer ranges.
// Both are specified bit for bit so that a seeded program draws the same
// numbers on every machine and with any thread count.
//
// One engine, behind one lock, serves the whole process. It is absent until
// seeded or first used; then it is seeded lazily from /dev/urandom (or, when
// that fails, from the real-time clock's nanoseconds). Deterministic callers
// draw from a single thread; RANSAC uses snapshot/restore to leave the engine
// exactly where a sequential run would.
#pragma once
#include <array>
#include <cstdint>

#include "core/result.h"

namespace ombrix {

class Mt19937 {
public:
    static constexpr int kN = 624;
    static constexpr int kM = 397;

    explicit Mt19937(uint32_t seed = 5489u);
    uint32_t next();

    bool operator==(const Mt19937&) const = default;

private:
    void twist();
    std::array<uint32_t, kN> mt_;
    int pos_;
};

// Replaces the process-wide engine by Mt19937(seed).
void seed(uint32_t value);

// A copy of the complete engine state (seeding it lazily when absent).
Mt19937 snapshot_engine();

// Replaces the process-wide engine by a copy of `state`.
void restore_engine(const Mt19937& state);

// Draws uniform integers in [low, high] from the process-wide engine with
// rejection on 64-bit products (no modulo bias, one division per rejection
// round at most).
class UniformIntGenerator {
public:
    // Fails with "low must be <= high"; the span high - low + 1 must fit in 32 bits.
    static Result<UniformIntGenerator> create(int64_t low, int64_t high);

    // One locked call into the engine per draw.
    int64_t next() const;

    int64_t low() const { return low_; }
    uint32_t span() const { return span_; }

private:
    UniformIntGenerator(int64_t low, uint32_t span) : low_(low), span_(span) {}
    int64_t low_;
    uint32_t span_;
};

// The lazy seed: 4 bytes of `device` in native byte order, or, when it
// cannot be opened or ends early, the nanoseconds of the real-time clock (0
// before 1970). The engine uses /dev/urandom; exposed for tests.
uint32_t lazy_seed_from(const char* device);

// The mapping itself, for a given engine: low + ((x * span) >> 32) with the
// rejection of low products. Exposed for tests.
uint64_t uniform_offset(Mt19937& engine, uint32_t span);

}  // namespace ombrix
