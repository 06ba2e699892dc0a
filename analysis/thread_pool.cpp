// The process's helper threads (see thread_pool.h).  Between jobs a helper
// spins for a few microseconds, since the passes of one transform follow
// each other closely, then sleeps on a condition variable.
#include "analysis/thread_pool.h"

#include "analysis/fourier.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Set while this thread runs a part of a job: a job started from inside a
// part runs on that thread alone, as the pool is busy with the outer one.
thread_local bool insideJob = false;

// What the parts of one job threw: the exception of the lowest-numbered part
// that threw, kept until every part has run.
class Failures {
public:
    void record(int part)
    {
        std::lock_guard<std::mutex> lock(guard);
        if (!first || part < firstPart) {
            first = std::current_exception();
            firstPart = part;
        }
    }
    void rethrow()
    {
        if (first) std::rethrow_exception(first);
    }

private:
    std::mutex guard;
    std::exception_ptr first;
    int firstPart = 0;
};

// Runs one part, keeping what it throws in `failures`, with the thread
// marked as inside a job.
void runOne(const std::function<void(int)>& body, int part, Failures& failures)
{
    const bool outer = insideJob;
    insideJob = true;
    try {
        body(part);
    } catch (...) {
        failures.record(part);
    }
    insideJob = outer;
}

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

class Pool {
public:
    Pool()
    {
        const int helpersWanted = std::min(availableCores(), 64) - 1;
        for (int i = 0; i < helpersWanted; ++i) {
            try {
                helpers.emplace_back(&Pool::helperLoop, this);
            } catch (const std::system_error&) {
                break;  // fewer helpers: the same results, later
            }
        }
    }

    ~Pool()
    {
        stopping.store(true);
        publish();
        for (std::thread& t : helpers) t.join();
    }

    int size() const { return static_cast<int>(helpers.size()) + 1; }

    // Every part runs, however many there are: more parts than threads are
    // taken in turn by whoever is free.
    void run(int parts, const std::function<void(int)>& body)
    {
        Failures failures;
        // try_lock is only asked of a thread that cannot hold the mutex
        // already: a nested job never reaches it.
        std::unique_lock<std::mutex> owner(use, std::defer_lock);
        if (parts <= 1 || insideJob || !owner.try_lock()) {
            for (int part = 0; part < parts; ++part) runOne(body, part, failures);
            failures.rethrow();
            return;
        }
        // Every helper has seen the last job before this one is set up: one
        // that was not needed may wake late.
        while (unacknowledged.load(std::memory_order_acquire) != 0) cpuRelax();
        job = &body;
        jobFailures = &failures;
        jobParts = parts;
        nextPart.store(0);
        finished.store(0);
        unacknowledged.store(static_cast<int>(helpers.size()));
        publish();
        // Parts go to whoever asks first: a helper that wakes late finds
        // them taken instead of holding the caller up.
        takeParts();
        while (finished.load(std::memory_order_acquire) != parts) cpuRelax();
        job = nullptr;
        jobFailures = nullptr;
        owner.unlock();
        failures.rethrow();
    }

private:
    // Runs parts of the current job until none is left.
    void takeParts()
    {
        for (int part; (part = nextPart.fetch_add(1)) < jobParts;) {
            runOne(*job, part, *jobFailures);
            finished.fetch_add(1, std::memory_order_acq_rel);
        }
    }

    // A new generation for the helpers: spinning ones see it at once,
    // sleeping ones are woken.
    void publish()
    {
        generation.fetch_add(1);
        if (sleepers.load() > 0) {
            std::lock_guard<std::mutex> lock(sleep);
            wake.notify_all();
        }
    }

    void helperLoop()
    {
        unsigned seen = 0;
        for (;;) {
            for (int spins = 0; generation.load(std::memory_order_acquire) == seen && spins < 4000; ++spins) cpuRelax();
            if (generation.load(std::memory_order_acquire) == seen) {
                std::unique_lock<std::mutex> lock(sleep);
                sleepers.fetch_add(1);
                wake.wait(lock, [&] { return generation.load() != seen; });
                sleepers.fetch_sub(1);
            }
            seen = generation.load(std::memory_order_acquire);
            if (stopping.load()) return;
            takeParts();
            unacknowledged.fetch_sub(1, std::memory_order_acq_rel);
        }
    }

    std::mutex use;  // one job at a time
    std::vector<std::thread> helpers;
    std::atomic<unsigned> generation{0};
    std::atomic<int> nextPart{0};        // the next part of the job to take
    std::atomic<int> finished{0};        // parts of the job done
    std::atomic<int> unacknowledged{0};  // helpers yet to see the job
    std::atomic<int> sleepers{0};
    std::atomic<bool> stopping{false};
    std::mutex sleep;
    std::condition_variable wake;
    const std::function<void(int)>* job = nullptr;
    Failures* jobFailures = nullptr;
    int jobParts = 0;
};

Pool& pool()
{
    static Pool instance;
    return instance;
}

}  // namespace

void runParts(int parts, const std::function<void(int)>& body) { pool().run(parts, body); }

int poolSize() { return pool().size(); }
