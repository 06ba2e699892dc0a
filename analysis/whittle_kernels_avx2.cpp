// The Whittle fit's kernels on 256-bit vectors, for processors with AVX2
// (whittleKernels checks at run time).  Only this unit is compiled with
// -mavx2, and nothing in it but its table has external linkage.
#include "analysis/whittle_kernel_templates.h"

extern const whittle::WhittleKernels avx2WhittleKernels;
const whittle::WhittleKernels avx2WhittleKernels = whittleKernelTable;
