// The ordered run: a shared queue of task numbers, a gate that lets a task
// run alone, and the emitting of results in order.
#include "app/ordered_run.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

class Scheduler {
public:
    explicit Scheduler(const OrderedRun& run) : r(run), finished(run.tasks, false) {}

    void start(int workers_)
    {
        std::lock_guard<std::mutex> lock(m);
        workers = workers_;
        go = true;
        changed.notify_all();
    }

    void work()
    {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            // Nothing new starts while a task waits to run alone.
            changed.wait(lock, [&] { return go && ((waitingAlone == 0 && !runningAlone) || stopped || next >= r.tasks); });
            if (stopped || next >= r.tasks || (r.interrupted && r.interrupted())) return;
            const std::size_t i = next++;
            const bool alone = workers == 1;
            ++running;
            lock.unlock();
            const TaskEnd end = r.run(i, alone);
            lock.lock();
            --running;
            changed.notify_all();
            if (end == TaskEnd::outOfMemory && !alone) {
                ++waitingAlone;
                changed.wait(lock, [&] { return running == 0 && !runningAlone; });
                --waitingAlone;
                runningAlone = true;
                lock.unlock();
                r.run(i, true);
                lock.lock();
                runningAlone = false;
                changed.notify_all();
            }
            finished[i] = true;
            while (!stopped && emitted < r.tasks && finished[emitted]) {
                if (!r.emit(emitted)) stopped = true;
                ++emitted;
            }
            if (stopped) changed.notify_all();
        }
    }

private:
    const OrderedRun& r;
    std::mutex m;
    std::condition_variable changed;
    std::vector<bool> finished;
    std::size_t next = 0;
    std::size_t emitted = 0;
    int workers = 1;
    int running = 0;
    int waitingAlone = 0;
    bool runningAlone = false;
    bool go = false;
    bool stopped = false;
};

}  // namespace

int runOrdered(const OrderedRun& run)
{
    Scheduler scheduler(run);
    std::vector<std::thread> helpers;
    for (int j = 1; j < run.threads; ++j) {
        try {
            helpers.push_back(run.startThread([&scheduler] { scheduler.work(); }));
        } catch (const std::system_error&) {
            break;  // fewer threads: the same results, later
        }
    }
    const int workers = static_cast<int>(helpers.size()) + 1;
    scheduler.start(workers);
    scheduler.work();
    for (std::thread& t : helpers) t.join();
    return workers;
}
