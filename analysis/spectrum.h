#pragma once

#include <memory>

class matrix;

// Centres a transformed complex matrix in place: swaps the left and right
// halves of every row, then the first and second halves of the array, so the
// zero frequency moves from (0, 0) to (rows/2, cols/4).  Applying it twice
// restores the matrix.  Throws std::invalid_argument for odd cols.
void swapQuadrants(matrix& m);

// A new real matrix of the squared moduli re*re + im*im of a complex matrix,
// same rows, cols/2 columns, same element order.  Throws std::invalid_argument
// for odd cols.
std::unique_ptr<matrix> powerSpectrum(const matrix& m);
// powerSpectrum of the matrix once swapQuadrants has turned it, without
// turning it: each value computed once, written where the turn puts it
// (the same values, bit for bit, in one pass fewer).
std::unique_ptr<matrix> centredPowerSpectrum(const matrix& m);

// The largest element of the last row only.  Throws std::invalid_argument for
// a matrix without rows or columns.
double lastRowMaximum(const matrix& m);
