#include "analysis/matrix.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

void requireComplex(const matrix& m, const char* operation)
{
    if (m.getCols() % 2 != 0)
        throw std::invalid_argument(std::string(operation) + ": a complex matrix needs an even number of columns, not " +
                                    std::to_string(m.getCols()));
}

}  // namespace

void swapQuadrants(matrix& m)
{
    requireComplex(m, "swapQuadrants");
    const std::size_t R = static_cast<std::size_t>(m.getRows());
    const std::size_t C = static_cast<std::size_t>(m.getCols());
    const std::size_t h = C / 2;
    double* d = m.getData();
    if (R * C == 0) return;

    if (R % 2 == 0) {
        // Both exchanges in one pass: the left half of row r trades places with
        // the right half of row r + R/2, and the right half with the left half.
        const std::size_t half = R / 2;
        for (std::size_t r = 0; r < half; ++r) {
            double* top = d + r * C;
            double* bottom = d + (r + half) * C;
            std::swap_ranges(top, top + h, bottom + h);
            std::swap_ranges(top + h, top + C, bottom);
        }
        return;
    }
    // Odd row count (one row in practice): the two exchanges one after the other.
    for (std::size_t r = 0; r < R; ++r) std::swap_ranges(d + r * C, d + r * C + h, d + r * C + h);
    const std::size_t H = R * C / 2;
    std::swap_ranges(d, d + H, d + H);
}

std::unique_ptr<matrix> powerSpectrum(const matrix& m)
{
    requireComplex(m, "powerSpectrum");
    const int rows = m.getRows();
    const int elements = m.getCols() / 2;
    auto result = std::make_unique<matrix>(rows, elements, matrix::Unfilled{});  // every element written below
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(elements);
    const double* in = m.getData();
    double* out = result->getData();
    for (std::size_t k = 0; k < count; ++k) {
        const double re = in[2 * k];
        const double im = in[2 * k + 1];
        out[k] = re * re + im * im;
    }
    return result;
}

std::unique_ptr<matrix> centredPowerSpectrum(const matrix& m)
{
    requireComplex(m, "centredPowerSpectrum");
    const std::size_t R = static_cast<std::size_t>(m.getRows()), C = static_cast<std::size_t>(m.getCols() / 2);
    if (R % 2 != 0) {
        // One row (odd row counts in general): turned as swapQuadrants turns it.
        matrix turned(m.getRows(), m.getCols(), m.getData());
        swapQuadrants(turned);
        return powerSpectrum(turned);
    }
    auto result = std::make_unique<matrix>(m.getRows(), static_cast<int>(C), matrix::Unfilled{});
    // Row r goes to row (r + R/2) mod R; its left half to the right, its
    // right half to the left (C is even, or 1 when the halves are empty).
    const std::size_t h = C / 2;
    for (std::size_t r = 0; r < R; ++r) {
        const double* in = m.getData() + 2 * C * r;
        double* out = result->getData() + C * ((r + R / 2) % R);
        for (std::size_t c = 0; c < C; ++c) {
            const double re = in[2 * c], im = in[2 * c + 1];
            out[c < C - h ? c + h : c - (C - h)] = re * re + im * im;
        }
    }
    return result;
}

double lastRowMaximum(const matrix& m)
{
    const int rows = m.getRows();
    const int n = m.getCols();
    if (rows < 1 || n < 1)
        throw std::invalid_argument("lastRowMaximum: the matrix has no elements (" + std::to_string(rows) + " x " +
                                    std::to_string(n) + ")");
    const double* row = m.getData() + static_cast<std::size_t>(rows - 1) * static_cast<std::size_t>(n);
    double best = row[0];
    for (int k = 0; k < n; ++k)
        if (!(best >= row[k])) best = row[k];
    return best;
}
