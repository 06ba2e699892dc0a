// One set of helper threads for the whole process, shared by the transform
// and the passes of the spectral estimate: started the first time they are
// needed and kept, so that a small picture pays no thread start-up, and
// asleep while there is no work.
#pragma once

#include <functional>

// Runs body(part) for part = 0 .. parts - 1 and returns when all are done:
// on the calling thread and the pool's helpers, each part taken by whoever
// is ready first (so which thread runs a part varies).  When
// another thread is using the pool, when called from inside a part (a
// nested job), or when no helper can be started, the caller runs every part
// itself: the same results, later.  A part that throws does not stop the
// others: every part runs, and then the exception of the lowest-numbered
// part that threw is rethrown on the caller.
void runParts(int parts, const std::function<void(int)>& body);

// How many parts runParts runs side by side: its helpers and the caller.
int poolSize();
