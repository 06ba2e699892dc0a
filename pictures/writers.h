// Picture files the programs write without drawing anything (the grey BMP
// of a spectrum is in pictures/bmp.h).
#pragma once

#include <string>
#include <vector>

// The bytes of a baseline little-endian TIFF of `columns` x `rows` 32-bit
// floating-point samples (row-major, top row first), uncompressed, one strip.
std::string floatTiff(int columns, int rows, const std::vector<double>& values);
