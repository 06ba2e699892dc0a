// Passes over the rows of a picture in fixed blocks of rows, shared between
// the threads of the process's pool: sums are kept per block and added in
// block order at the end, so their digits do not depend on how many threads
// share the blocks.
#pragma once

#include "analysis/thread_pool.h"

#include <algorithm>

namespace psd {

// Sums over rows are kept in this many blocks of rows at most (at least 64
// rows each).
constexpr int rowBlocks = 8;

// Runs body(first, last, block) for the blocks of rows that split `rows`
// (see rowBlocks), shared between up to `threads` threads of the process's
// pool.
template <class Body>
void splitRows(int rows, int threads, const Body& body)
{
    const int blocks = std::max(1, std::min(rowBlocks, rows / 64));
    threads = std::max(1, std::min(threads, blocks));
    runParts(threads, [&](int thread) {
        for (int block = thread; block < blocks; block += threads)
            body(static_cast<int>(static_cast<long long>(rows) * block / blocks),
                 static_cast<int>(static_cast<long long>(rows) * (block + 1) / blocks), block);
    });
}

}  // namespace psd
