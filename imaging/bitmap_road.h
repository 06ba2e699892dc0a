// The analysis road's first steps on the window's bitmap: a picture file
// loaded into it, and its centred spectrum.
#pragma once

#include "imaging/road.h"
#include "toolkit/bitmap.h"

// Loads page `page` (from 0) of a picture file (BMP, PNG, TIFF, PGM/PPM,
// SDF) into the bitmap and gives it the grey palette.  A BMP loads as it
// always has, so that a palette image's indices are its grey levels and true
// colour shows in colour; the others load as their 8-bit view (see
// pictures/picture.h).  `pages` receives how many the file holds, and `full`
// the page at its full depth.  On failure the bitmap is as it was and
// std::runtime_error says why.
void loadGreyBitmap(TBitmap& bitmap, const std::string& path, int page = 0, int* pages = nullptr,
                    GreyRaster* full = nullptr);
// The same from a file opened once, whose pages are loaded in turn; `path`
// names it in messages; `facts` receives what the page's file gives of its
// points.
void loadGreyBitmap(TBitmap& bitmap, PictureReader& reader, const std::string& path, int page,
                    GreyRaster* full = nullptr, PageFacts* facts = nullptr);

// The centred spectrum of a bitmap: bitmapToMatrix, then as for levels
// (see centredSpectrum in imaging/road.h).
std::unique_ptr<matrix> centredSpectrum(TBitmap& bitmap);
