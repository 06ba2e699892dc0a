#include "analysis/matrix.h"

#include <algorithm>
#include <stdexcept>
#include <string>

double* matrix::allocate(int rows, int cols)
{
    if (rows < 0 || cols < 0)
        throw std::invalid_argument("matrix: negative size " + std::to_string(rows) + " x " +
                                    std::to_string(cols));
    const long long count = static_cast<long long>(rows) * cols;
    if (count >= matrixSizeLimit)
        throw std::invalid_argument("matrix: " + std::to_string(rows) + " x " + std::to_string(cols) +
                                    " elements reach the limit of 2^28");
    return count == 0 ? nullptr : new double[static_cast<std::size_t>(count)];
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

matrix::~matrix()
{
    delete[] data;
    data = nullptr;
}
