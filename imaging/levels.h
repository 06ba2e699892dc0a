// 8-bit grey levels to the transform's complex matrix and back to levels:
// the window's bitmap and the programs without one share these.
#pragma once

#include "analysis/matrix.h"

#include <cstdint>
#include <memory>
#include <vector>

// The smallest powers of two at least as large as an image's sides (1 for 0).
struct PaddedSize {
    int width;
    int height;
};
// Throws std::length_error, naming the image's size and the limit, when the
// padded image would reach 2^27 pixels (a complex matrix of 2^28 doubles).
PaddedSize paddedSize(int width, int height);

// A complex matrix of `levels` (width * height bytes, top row first): rows =
// padded height, cols = 2 x padded width, real parts 0.0 .. 255.0,
// imaginary parts and padding 0.0.
std::unique_ptr<matrix> levelsToMatrix(const std::uint8_t* levels, int width, int height);

// One element of a complex matrix drawn as a byte.  mode 0: |re|*scale,
// 1: |im|*scale, both wrapping modulo 256; 2: modulus*scale, 3: squared
// modulus*scale, both saturating at 255.
std::uint8_t spectrumByte(int mode, double scale, double re, double im);

// Every element of a complex matrix drawn so (mode 0 to 3), matrix row i as
// row i: rows x cols/2 bytes.
std::vector<std::uint8_t> spectrumLevels(int mode, double scale, const matrix& spectrum);
