#include "analysis/matrix.h"

#include <algorithm>
#include <new>
#include <cstdint>
#include <stdexcept>
#include <string>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr std::align_val_t arrayAlignment{64};

// Large arrays are asked to be backed by huge pages before their first use:
// filling a fresh array of hundreds of megabytes otherwise costs a page
// fault every 4 KiB, more than the work done on it.
void adviseHugePages(void* p, std::size_t bytes)
{
#ifdef __linux__
    constexpr std::size_t page = 4096;
    if (bytes < (std::size_t{4} << 20)) return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~std::uintptr_t{page - 1};
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~std::uintptr_t{page - 1};
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// Arrays of 1 to 64 MiB, once freed, are kept for the next matrix of the
// same size on the same thread (two at most a thread): pictures of one size,
// one after another, then reuse their memory instead of having the system
// fault in and clear fresh pages for each.  Larger arrays go back at once.
class KeptArrays {
public:
    ~KeptArrays()
    {
        for (Slot& s : slots) ::operator delete[](s.data, arrayAlignment);
    }
    double* take(std::size_t bytes)
    {
        for (Slot& s : slots)
            if (s.data && s.bytes == bytes) {
                double* data = s.data;
                s.data = nullptr;
                return data;
            }
        return nullptr;
    }
    // False when the array is not kept (the caller frees it).
    bool keep(double* data, std::size_t bytes)
    {
        if (bytes < (std::size_t{1} << 20) || bytes > (std::size_t{64} << 20)) return false;
        Slot* slot = &slots[0];
        for (Slot& s : slots)
            if (!s.data) slot = &s;
        if (slot->data) ::operator delete[](slot->data, arrayAlignment);  // both full: the older goes
        *slot = slots[1];
        slots[1] = {data, bytes};
        return true;
    }

private:
    struct Slot {
        double* data = nullptr;
        std::size_t bytes = 0;
    };
    Slot slots[2];
};

thread_local KeptArrays keptArrays;

}  // namespace

double* matrix::allocate(int rows, int cols)
{
    if (rows < 0 || cols < 0)
        throw std::invalid_argument("matrix: negative size " + std::to_string(rows) + " x " +
                                    std::to_string(cols));
    const long long count = static_cast<long long>(rows) * cols;
    if (count >= matrixSizeLimit)
        throw std::invalid_argument("matrix: " + std::to_string(rows) + " x " + std::to_string(cols) +
                                    " elements reach the limit of 2^28");
    if (count == 0) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(double);
    if (double* kept = keptArrays.take(bytes)) return kept;
    // Cache-line aligned, so that a 64-byte vector of the transform never
    // straddles two lines.
    auto* data = static_cast<double*>(::operator new[](bytes, arrayAlignment));
    adviseHugePages(data, bytes);
    return data;
}

matrix::matrix(int rows_, int cols_, const double* source)
    : rows(rows_), cols(cols_), data(allocate(rows_, cols_))
{
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (source)
        std::copy(source, source + count, data);
    else
        std::fill(data, data + count, 0.0);
}

matrix::matrix(int rows_, int cols_, const std::uint32_t* source)
    : rows(rows_), cols(cols_), data(allocate(rows_, cols_))
{
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (source)
        for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<double>(source[i]);
    else
        std::fill(data, data + count, 0.0);
}

matrix::matrix(int rows_, int cols_, std::nullptr_t)
    : matrix(rows_, cols_, static_cast<const double*>(nullptr))
{
}

matrix::matrix(int rows_, int cols_, Unfilled) : rows(rows_), cols(cols_), data(allocate(rows_, cols_)) {}

matrix::~matrix()
{
    const std::size_t bytes = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * sizeof(double);
    if (data && !keptArrays.keep(data, bytes)) ::operator delete[](data, arrayAlignment);
    data = nullptr;
}
