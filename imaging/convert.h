#pragma once

#include "analysis/matrix.h"
#include "toolkit/bitmap.h"

#include <memory>

// The smallest powers of two at least as large as an image's sides (1 for 0).
struct PaddedSize {
    int width;
    int height;
};
// Throws std::length_error, naming the image's size and the limit, when the
// padded image would reach 2^27 pixels (a complex matrix of 2^28 doubles).
PaddedSize paddedSize(int width, int height);

// Switches the bitmap to 8 bits per pixel (in place; it stays so) and returns
// a complex matrix of its pixel bytes: rows = padded height, cols = 2 x padded
// width, real parts 0.0 .. 255.0, imaginary parts and padding 0.0.
std::unique_ptr<matrix> bitmapToMatrix(TBitmap& bitmap);

// Draws a complex matrix into an 8-bit grey bitmap, one pixel per element,
// matrix row i as bitmap row i.  mode 0: |re|*scale, 1: |im|*scale, both
// wrapping modulo 256; 2: modulus*scale, 3: squared modulus*scale, both
// saturating at 255.  Another mode sizes the bitmap and writes no pixel.
// A null bitmap or spectrum leaves everything as it was.
void renderSpectrum(TBitmap* bitmap, int mode, double scale, const matrix* spectrum);
