// Worker pool: std::thread workers sleeping on a condition variable, chunks claimed from an atomic counter.
#include "kiv/pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace kiv::pool {
namespace {

// Parses a whole decimal number (an optional '+' then digits); false for anything else.
bool parse_count(const char* text, std::size_t& out) {
    if (text == nullptr) return false;
    std::string_view s(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    std::size_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        std::size_t d = static_cast<std::size_t>(c - '0');
        if (v > (SIZE_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

std::size_t logical_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<std::size_t>(n);
    }
    unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? hw : 1;
}

std::size_t configured_threads() {
    std::size_t n = 0;
    if (parse_count(std::getenv("RAYON_NUM_THREADS"), n)) {
        return n > 0 ? n : logical_processors();
    }
    if (parse_count(std::getenv("RAYON_RS_NUM_CPUS"), n) && n > 0) return n;
    return logical_processors();
}

thread_local bool t_inside_chunk = false;

class Pool {
public:
    // A thread the system refuses to start leaves the pool with the threads that did start (the calling
    // thread always counts as one): results never depend on the thread count.
    explicit Pool(std::size_t threads) {
        try {
            for (; threads_ < threads; ++threads_) workers_.emplace_back([this] { work(); });
        } catch (const std::exception&) {
        }
    }
    // Never destroyed: a pool lives until the process ends, and a pool inherited over fork() has no
    // threads left to join.
    ~Pool() = delete;

    std::size_t threads() const { return threads_; }

    // In a child of fork(): the pool this one was inherited with, if any.
    Pool* inherited_before = nullptr;

    void run(std::size_t n, std::size_t chunk, const ChunkFn& fn) {
        std::lock_guard<std::mutex> one_job(job_mutex_);
        {
            std::lock_guard<std::mutex> lk(m_);
            fn_ = &fn;
            n_ = n;
            chunk_ = chunk;
            chunks_ = (n + chunk - 1) / chunk;
            next_.store(0, std::memory_order_relaxed);
            done_ = 0;
            failed_chunk_ = SIZE_MAX;
            failure_ = nullptr;
            ++generation_;
        }
        cv_work_.notify_all();
        run_chunks();
        std::unique_lock<std::mutex> lk(m_);
        cv_done_.wait(lk, [this] { return done_ == chunks_ && active_ == 0; });
        fn_ = nullptr;
        std::exception_ptr failure = failure_;
        failure_ = nullptr;
        lk.unlock();
        if (failure) std::rethrow_exception(failure);
    }

private:
    void work() {
        std::unique_lock<std::mutex> lk(m_);
        // Counted from the start, so a worker that starts after a job was posted still joins it.
        std::uint64_t seen = 0;
        for (;;) {
            cv_work_.wait(lk, [&] { return generation_ != seen; });
            seen = generation_;
            if (fn_ == nullptr) continue;
            ++active_;
            lk.unlock();
            run_chunks();
            lk.lock();
            --active_;
            if (active_ == 0) cv_done_.notify_all();
        }
    }

    void run_chunks() {
        t_inside_chunk = true;
        std::size_t finished = 0;
        for (;;) {
            std::size_t c = next_.fetch_add(1, std::memory_order_relaxed);
            if (c >= chunks_) break;
            std::size_t begin = c * chunk_;
            std::size_t end = begin + chunk_ < n_ ? begin + chunk_ : n_;
            try {
                (*fn_)(begin, end);
            } catch (...) {
                std::lock_guard<std::mutex> lk(m_);
                if (c < failed_chunk_) {
                    failed_chunk_ = c;
                    failure_ = std::current_exception();
                }
            }
            ++finished;
        }
        t_inside_chunk = false;
        if (finished > 0) {
            std::lock_guard<std::mutex> lk(m_);
            done_ += finished;
            if (done_ == chunks_) cv_done_.notify_all();
        }
    }

    std::size_t threads_ = 1;
    std::vector<std::thread> workers_;
    std::mutex job_mutex_;
    std::mutex m_;
    std::condition_variable cv_work_;
    std::condition_variable cv_done_;
    std::uint64_t generation_ = 0;
    const ChunkFn* fn_ = nullptr;
    std::size_t n_ = 0, chunk_ = 1, chunks_ = 0, done_ = 0, active_ = 0;
    std::atomic<std::size_t> next_{0};
    std::size_t failed_chunk_ = SIZE_MAX;
    std::exception_ptr failure_;
};

// The pool of this process, built on first use. Reading it takes no lock; building it takes g_pool_mutex.
std::mutex g_pool_mutex;
std::atomic<Pool*> g_pool{nullptr};
// Pools inherited over fork(): never used again (their threads are not in this process), but kept
// reachable so that they do not count as leaked.
Pool* g_inherited = nullptr;

// fork() copies only the calling thread, so a lock some other thread held at that moment would stay held
// in the child for ever. The forking thread takes the lock across fork(), so the child inherits it free;
// the child then forgets the parent's pool (whose workers it does not have) and builds its own on first use.
void before_fork() { g_pool_mutex.lock(); }
void after_fork_in_parent() { g_pool_mutex.unlock(); }
void after_fork_in_child() {
    if (Pool* inherited = g_pool.exchange(nullptr, std::memory_order_relaxed)) {
        inherited->inherited_before = g_inherited;
        g_inherited = inherited;
    }
    g_pool_mutex.unlock();
}
[[maybe_unused]] const int g_fork_handlers = pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);

Pool& instance() {
    if (Pool* pool = g_pool.load(std::memory_order_acquire)) return *pool;
    std::lock_guard<std::mutex> lk(g_pool_mutex);
    Pool* pool = g_pool.load(std::memory_order_relaxed);
    if (pool == nullptr) {
        pool = new Pool(configured_threads());
        g_pool.store(pool, std::memory_order_release);
    }
    return *pool;
}

}  // namespace

std::size_t thread_count() { return instance().threads(); }

void parallel_for(std::size_t n, std::size_t min_chunk, const ChunkFn& fn) {
    if (n == 0) return;
    if (min_chunk == 0) min_chunk = 1;
    if (t_inside_chunk) {
        fn(0, n);
        return;
    }
    Pool& pool = instance();
    std::size_t threads = pool.threads();
    if (threads <= 1 || n <= min_chunk) {
        t_inside_chunk = true;
        try {
            fn(0, n);
        } catch (...) {
            t_inside_chunk = false;
            throw;
        }
        t_inside_chunk = false;
        return;
    }
    // A few chunks per thread balance uneven work; each chunk is contiguous, so results depend only on
    // the index and never on the split.
    std::size_t chunks = threads * 4;
    std::size_t chunk = (n + chunks - 1) / chunks;
    if (chunk < min_chunk) chunk = min_chunk;
    pool.run(n, chunk, fn);
}

}  // namespace kiv::pool
