// Many independent tasks on a few threads, their results handed on in the
// order the tasks were given, each as soon as it and all before it are done.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

enum class TaskEnd { done, outOfMemory };

struct OrderedRun {
    std::size_t tasks = 0;
    // Threads to run tasks on, the calling one included.
    int threads = 1;
    // Runs task i and keeps its result; must not throw.  `alone` is true when
    // no other task runs beside it.  A task that ran out of memory beside
    // others is run again alone, once the others in hand have finished.
    std::function<TaskEnd(std::size_t i, bool alone)> run;
    // Takes task i's result, in order, one call at a time.  Returning false
    // stops the run: no further task starts and nothing more is emitted.
    std::function<bool(std::size_t i)> emit;
    // Asked before each task starts; once it says true no task starts, while
    // those running finish and are emitted in order.  Empty: never.
    std::function<bool()> interrupted;
    // Starts a helper thread; throws std::system_error when it cannot.
    std::function<std::thread(std::function<void()>)> startThread = [](std::function<void()> body) {
        return std::thread(std::move(body));
    };
};

// Runs every task (or until emit stops it); helper threads that cannot be
// started are done without.  Returns how many threads ran tasks.
int runOrdered(const OrderedRun& run);
