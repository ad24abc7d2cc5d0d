#include "core/random.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <optional>

namespace ombrix {

Mt19937::Mt19937(uint32_t seed) {
    mt_[0] = seed;
    for (int i = 1; i < kN; ++i) mt_[i] = 1812433253u * (mt_[i - 1] ^ (mt_[i - 1] >> 30)) + static_cast<uint32_t>(i);
    pos_ = kN;
}

void Mt19937::twist() {
    constexpr uint32_t upper = 0x80000000u, lower = 0x7fffffffu, matrix = 0x9908b0dfu;
    for (int i = 0; i < kN; ++i) {
        uint32_t y = (mt_[i] & upper) | (mt_[(i + 1) % kN] & lower);
        mt_[i] = mt_[(i + kM) % kN] ^ (y >> 1) ^ ((y & 1u) ? matrix : 0u);
    }
    pos_ = 0;
}

uint32_t Mt19937::next() {
    if (pos_ >= kN) twist();
    uint32_t y = mt_[pos_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

uint64_t uniform_offset(Mt19937& engine, uint32_t span) {
    const uint64_t r = span;
    uint64_t p = static_cast<uint64_t>(engine.next()) * r;
    uint32_t lo = static_cast<uint32_t>(p);
    if (lo < r) {
        // (2^32 - r) mod r, in 32-bit arithmetic.
        const uint32_t t = static_cast<uint32_t>(-span) % span;
        while (lo < t) {
            p = static_cast<uint64_t>(engine.next()) * r;
            lo = static_cast<uint32_t>(p);
        }
    }
    return p >> 32;
}

namespace {

std::mutex g_lock;
std::optional<Mt19937> g_engine;

}  // namespace

uint32_t lazy_seed_from(const char* device) {
    int fd;
    do {
        fd = ::open(device, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        unsigned char buf[4];
        size_t got = 0;
        while (got < sizeof buf) {
            ssize_t r = ::read(fd, buf + got, sizeof buf - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        ::close(fd);
        if (got == sizeof buf) {
            uint32_t s;
            std::memcpy(&s, buf, sizeof s);  // native byte order
            return s;
        }
    }
    timespec ts{};
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) return 0;
    return static_cast<uint32_t>(ts.tv_nsec);
}

namespace {

// A child forked while another thread held the lock would wait forever on
// its first draw: give the child a fresh lock (the engine state is kept).
void reset_lock_in_child() { new (&g_lock) std::mutex(); }
const int g_atfork_registered = pthread_atfork(nullptr, nullptr, reset_lock_in_child);

// Caller holds g_lock.
Mt19937& engine_locked() {
    if (!g_engine) g_engine.emplace(lazy_seed_from("/dev/urandom"));
    return *g_engine;
}

}  // namespace

void seed(uint32_t value) {
    Mt19937 fresh(value);
    std::lock_guard<std::mutex> lk(g_lock);
    g_engine = fresh;
}

Mt19937 snapshot_engine() {
    std::lock_guard<std::mutex> lk(g_lock);
    return engine_locked();
}

void restore_engine(const Mt19937& state) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_engine = state;
}

Result<UniformIntGenerator> UniformIntGenerator::create(int64_t low, int64_t high) {
    if (low > high) return fail("low must be <= high");
    // high - low + 1 in unsigned arithmetic cannot overflow for low <= high
    // except for the full 64-bit range, which is rejected with the rest.
    uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low) + 1u;
    if (span == 0 || span > 0xffffffffu) return fail("high - low + 1 must fit in 32 bits");
    return UniformIntGenerator(low, static_cast<uint32_t>(span));
}

int64_t UniformIntGenerator::next() const {
    std::lock_guard<std::mutex> lk(g_lock);
    return low_ + static_cast<int64_t>(uniform_offset(engine_locked(), span_));
}

}  // namespace ombrix
