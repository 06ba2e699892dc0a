// The transform's kernels on 128-bit vectors, one complex value per
// register: SSE2 on x86-64, NEON on aarch64, plain doubles elsewhere.  Built
// with the default flags, so every processor of the architecture runs them.
#include "analysis/fourier_kernel_templates.h"

constexpr TransformKernels vec128Kernels = kernelTable<Vec128>();
