#include "core/parallel.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ombrix {
namespace {

int detect_threads() {
    if (const char* env = std::getenv("OMBRIX_NUM_THREADS")) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v > 0) return v > 1024 ? 1024 : static_cast<int>(v);
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int c = CPU_COUNT(&set);
        if (c > 0) return c;
    }
    unsigned hc = std::thread::hardware_concurrency();
    return hc ? static_cast<int>(hc) : 1;
}

// One loop in flight. Chunks are claimed through `next`; the caller waits
// until every claimed chunk has finished.
struct Job {
    const std::function<void(size_t, size_t)>* body;
    size_t n, chunk;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::mutex m;
    std::condition_variable cv;

    // Runs chunks until none is left; returns after its own claimed chunks finish.
    void work() {
        for (;;) {
            size_t b = next.fetch_add(chunk);
            if (b >= n) return;
            size_t e = b + chunk < n ? b + chunk : n;
            (*body)(b, e);
            if (done.fetch_add(e - b) + (e - b) == n) {
                std::lock_guard<std::mutex> lk(m);
                cv.notify_all();
            }
        }
    }
};

class Pool {
public:
    explicit Pool(int threads) {
        for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { run(); });
        for (auto& w : workers_) w.detach();
    }

    void submit(const std::shared_ptr<Job>& job, int helpers) {
        {
            std::lock_guard<std::mutex> lk(m_);
            for (int i = 0; i < helpers; ++i) queue_.push_back(job);
        }
        if (helpers == 1) cv_.notify_one();
        else cv_.notify_all();
    }

    size_t workers() const { return workers_.size(); }

private:
    void run() {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> lk(m_);
                cv_.wait(lk, [this] { return !queue_.empty(); });
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            job->work();
        }
    }

    std::vector<std::thread> workers_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Job>> queue_;
};

std::mutex g_pool_mutex;
Pool* g_pool = nullptr;  // leaked on purpose: workers are detached and live with the process
std::atomic<int> g_threads{0};

void after_fork_in_child() {
    // The parent's workers do not exist here; forget the pool (without
    // touching its possibly locked mutexes) and build a new one on first use.
    new (&g_pool_mutex) std::mutex();
    g_pool = nullptr;
}

Pool& pool() {
    std::lock_guard<std::mutex> lk(g_pool_mutex);
    if (!g_pool) {
        static bool registered = false;
        if (!registered) {
            pthread_atfork(nullptr, nullptr, after_fork_in_child);
            registered = true;
        }
        g_pool = new Pool(num_threads());
    }
    return *g_pool;
}

}  // namespace

int num_threads() {
    int t = g_threads.load(std::memory_order_relaxed);
    if (t == 0) {
        t = detect_threads();
        g_threads.store(t, std::memory_order_relaxed);
    }
    return t;
}

void parallel_for_chunks(size_t n, const std::function<void(size_t, size_t)>& body, size_t grain) {
    if (n == 0) return;
    if (grain == 0) grain = 1;
    int threads = num_threads();
    if (threads <= 1 || n <= grain) {
        body(0, n);
        return;
    }
    // About four chunks per thread balances uneven iterations.
    size_t chunk = n / (static_cast<size_t>(threads) * 4);
    if (chunk < grain) chunk = grain;
    size_t chunks = (n + chunk - 1) / chunk;
    auto job = std::make_shared<Job>();
    job->body = &body;
    job->n = n;
    job->chunk = chunk;
    Pool& p = pool();
    size_t helpers = chunks - 1 < p.workers() ? chunks - 1 : p.workers();
    if (helpers > 0) p.submit(job, static_cast<int>(helpers));
    job->work();
    std::unique_lock<std::mutex> lk(job->m);
    job->cv.wait(lk, [&] { return job->done.load() == n; });
}

}  // namespace ombrix
