// Inside the toolkit only: one decoder per file format, each refusing what
// it cannot read with std::runtime_error.
#pragma once

#include "toolkit/picture.h"

// The largest file read at all.
constexpr std::size_t maxPictureFileBytes = std::size_t{1} << 30;
// The largest picture any decoder accepts, as for BMP files.
constexpr long long maxPicturePixels = (1LL << 27) - 1;

// Qt's own allocation limit for decoding a BMP, in MiB: the largest picture
// in true colour must pass.
constexpr int qtAllocationLimitMiB = 520;

// Throws std::runtime_error when a claimed size is empty or too large.
void checkPictureSize(long long width, long long height);

GreyRaster decodeBmp(const std::string& bytes);
GreyRaster decodePng(const std::string& bytes);
GreyRaster decodeTiff(const std::string& bytes, int page, int* pages);
int tiffPages(const std::string& bytes);
GreyRaster decodePnm(const std::string& bytes);
