#pragma once

#include "toolkit/bitmap.h"

// A new 256-entry grey ramp, entry i = (i, i, i), flags 0, so that a pixel's
// palette index is its grey level.  Each call returns a palette of its own.
HPALETTE makeGreyPalette();
