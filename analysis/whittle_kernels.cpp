// The Whittle fit's kernels for every processor, and the choice of the
// widest the processor has (see whittle_kernels.h).
#include "analysis/whittle_kernel_templates.h"

#if defined(__x86_64__)
extern const whittle::WhittleKernels avx2WhittleKernels;
#endif

namespace whittle {

const WhittleKernels* whittleKernelsOfWidth(int bits)
{
    if (bits == 128) return &whittleKernelTable;
#if defined(__x86_64__)
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    if (bits == 256 && avx2) return &avx2WhittleKernels;
#endif
    return nullptr;
}

const WhittleKernels& whittleKernels()
{
    static const WhittleKernels& widest =
        whittleKernelsOfWidth(256) ? *whittleKernelsOfWidth(256) : *whittleKernelsOfWidth(128);
    return widest;
}

}  // namespace whittle
