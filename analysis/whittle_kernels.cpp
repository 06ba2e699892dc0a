// The Whittle fit's kernels for every processor, and the choice of the
// widest the processor has (see whittle_kernels.h).
#include "analysis/whittle_kernel_templates.h"

#include "analysis/fourier.h"

#if defined(__x86_64__)
extern const whittle::WhittleKernels avx2WhittleKernels;
#endif

namespace whittle {

const WhittleKernels* whittleKernelsOfWidth(int bits)
{
    if (bits == 128) return &whittleKernelTable;
#if defined(__x86_64__)
    if (bits == 256 && processorVectorBits(256) == 256) return &avx2WhittleKernels;
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
