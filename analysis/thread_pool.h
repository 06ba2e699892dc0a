// One set of helper threads for the whole process, shared by the transform
// and the passes of the spectral estimate: started the first time they are
// needed and kept, so that a small picture pays no thread start-up, and
// asleep while there is no work.
#pragma once

#include <functional>

// Runs body(part) for part = 0 .. parts - 1 and returns when all are done:
// on the calling thread and the pool's helpers, each part taken by whoever
// is ready first (so which thread runs a part varies).  When
// another thread is using the pool, or no helper can be started, the caller
// runs every part itself: the same results, later.  `body` must not throw.
void runParts(int parts, const std::function<void(int)>& body);

// How many parts runParts runs side by side: its helpers and the caller.
int poolSize();
