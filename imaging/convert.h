// The window's bitmap to the transform's matrix, and a spectrum drawn into it.
#pragma once

#include "analysis/matrix.h"
#include "imaging/levels.h"
#include "toolkit/bitmap.h"

#include <memory>

// Switches the bitmap to 8 bits per pixel (in place; it stays so) and returns
// the complex matrix of its pixel bytes (see levelsToMatrix).
std::unique_ptr<matrix> bitmapToMatrix(TBitmap& bitmap);

// Draws a complex matrix into an 8-bit grey bitmap, one pixel per element,
// matrix row i as bitmap row i, by spectrumByte's mode (0 to 3).  Another
// mode sizes the bitmap and writes no pixel.  A null bitmap or spectrum
// leaves everything as it was.
void renderSpectrum(TBitmap* bitmap, int mode, double scale, const matrix* spectrum);
