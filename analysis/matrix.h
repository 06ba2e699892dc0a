// The analysis core's chief header: the matrix record and, through the
// includes at the end, every analysis function.
#pragma once

#include <cstddef>
#include <cstdint>

// A matrix holds rows*cols doubles, row-major.  A complex matrix stores each
// element as two consecutive doubles (real, imaginary), so its cols is twice
// its number of complex columns.  rows*cols must stay below matrixSizeLimit.
constexpr long long matrixSizeLimit = 1LL << 28;

class matrix {
public:
    // Copies rows*cols doubles from source, or fills with 0.0 when source is null.
    matrix(int rows, int cols, const double* source);
    // Converts rows*cols unsigned 32-bit values (exactly), or fills with 0.0
    // when source is null.
    matrix(int rows, int cols, const std::uint32_t* source);
    // All zeros; lets matrix(r, c, nullptr) name a constructor unambiguously.
    matrix(int rows, int cols, std::nullptr_t);
    // Values left as the allocation gives them, for a caller that writes
    // every element before it reads one.
    struct Unfilled {};
    matrix(int rows, int cols, Unfilled);
    ~matrix();

    matrix(const matrix&) = delete;
    matrix& operator=(const matrix&) = delete;

    int getRows() const noexcept { return rows; }
    int getCols() const noexcept { return cols; }
    double* getData() const noexcept { return data; }

private:
    int rows;
    int cols;
    double* data;

    // Validates the sizes and allocates the array (null for an empty matrix).
    static double* allocate(int rows, int cols);
};

#include "analysis/fourier.h"
#include "analysis/spectrum.h"
#include "analysis/estimators.h"
#include "analysis/psd.h"
#include "analysis/whittle.h"
#include "analysis/dimension_map.h"
