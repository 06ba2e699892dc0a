// The files of a map of values: a 32-bit floating-point TIFF of the values
// themselves, and a colour PNG of them with a scale bar.
#pragma once

#include <string>
#include <vector>

// The bytes of a baseline little-endian TIFF of `columns` x `rows` 32-bit
// floating-point samples (row-major, top row first), uncompressed, one strip.
std::string floatTiff(int columns, int rows, const std::vector<double>& values);

// A colour PNG of the values, each cell a square of pixels, coloured from
// dark blue at `low` through green to yellow at `high` (grey where a value is
// not a number), with a scale bar on the right labelled with `low`, their
// middle and `high`.  Written atomically; std::runtime_error says why not.
void saveColourMapPng(const std::string& path, int columns, int rows, const std::vector<double>& values, double low,
                      double high);
