// The pool: every index runs once, loops nest and run concurrently from
// several threads without deadlock, and a forked child gets a working pool.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include "check.h"
#include "core/parallel.h"

using namespace ombrix;

static bool covers_once(size_t n) {
    std::vector<int> hits(n, 0);
    parallel_for(n, [&](size_t i) { hits[i] += 1; });
    for (int h : hits)
        if (h != 1) return false;
    return true;
}

int main() {
    setenv("OMBRIX_NUM_THREADS", "4", 1);
    CHECK(num_threads() == 4);
    for (size_t n : {0u, 1u, 2u, 7u, 1000u, 100003u}) CHECK(covers_once(n));

    // Map-and-collect keeps index order.
    auto squares = parallel_map<long>(1000, [](size_t i) { return static_cast<long>(i * i); });
    bool ordered = true;
    for (size_t i = 0; i < squares.size(); ++i) ordered &= squares[i] == static_cast<long>(i * i);
    CHECK(ordered);

    // Nested loops: the caller works on its own loop, so this cannot deadlock.
    std::atomic<long> total{0};
    parallel_for(16, [&](size_t) { parallel_for(100, [&](size_t) { total += 1; }); });
    CHECK(total == 1600);

    // Concurrent loops from several threads.
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            bool good = true;
            for (int r = 0; r < 50; ++r) good &= covers_once(5000);
            if (good) ++ok;
        });
    for (auto& t : threads) t.join();
    CHECK(ok == 6);

    // Fork after the pool is in use: the child must run a loop and exit.
    pid_t pid = fork();
    if (pid == 0) {
        alarm(20);  // a hang kills the child, which the parent sees
        _exit(covers_once(100000) ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CHECK(covers_once(1000));
    return check_report();
}
