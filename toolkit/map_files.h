// The colour picture of a map of values, with a scale bar (the values
// themselves go to a TIFF: pictures/writers.h).
#pragma once

#include <string>
#include <vector>

// A colour PNG of the values, each cell a square of pixels, coloured from
// dark blue at `low` through green to yellow at `high` (grey where a value is
// not a number), with a scale bar on the right labelled with `low`, their
// middle and `high`.  Written atomically; std::runtime_error says why not.
// The same picture as the bytes of a PNG file; std::runtime_error when it
// cannot be made.
std::string colourMapPng(int columns, int rows, const std::vector<double>& values, double low, double high);
void saveColourMapPng(const std::string& path, int columns, int rows, const std::vector<double>& values, double low,
                      double high);
