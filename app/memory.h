// How much memory this process may still use, for sizing its work.
#pragma once

#include <cstdint>

// The least of: the memory the system reports available, the room under
// this process's address-space and data-size limits, and what its control
// group still allows.  UINT64_MAX when none of them can be read.
std::uint64_t availableMemory();
