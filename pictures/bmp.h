// BMP files without a toolkit: the header checked against the file before
// anything is allocated, then palette indices or true colour decoded as the
// window shows them and the analysis reads them; and the 8-bit grey BMP the
// programs write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BmpImage {
    int width = 0;
    int height = 0;
    // Palette pictures (1, 4 and 8 bits a pixel): one index a pixel, top row
    // first, the indices as the file stores them, and the file's palette as
    // 0xffRRGGBB.
    bool indexed = false;
    std::vector<std::uint8_t> indices;
    std::vector<std::uint32_t> palette;
    // True colour (16, 24 and 32 bits a pixel): 0xAARRGGBB a pixel, top row
    // first; alpha is 0xff unless the file has an alpha mask.
    std::vector<std::uint32_t> colours;
    bool alpha = false;
};

// Decodes a BMP file: uncompressed 1, 4, 8, 16, 24 and 32 bits a pixel,
// RLE8 and RLE4 (pixels the data skips are index 0), and bit fields at 16
// and 32 bits.  A channel of fewer than eight bits is shifted up (five bits
// of 0x1f give 0xf8), one of more is cut to its top eight.  Everything the
// header claims is checked against the file first: sizes, bit depth,
// compression, palette, every RLE run, pixel data that is really there, and
// at most 2^27 - 1 pixels.  Throws std::runtime_error with the reason.
BmpImage decodeBmpImage(const std::string& bytes);

// The grey level of a true-colour pixel: (r + g + b + 1) / 3, the nearest
// grey of the grey palette.
inline std::uint8_t bmpGrey(std::uint32_t argb)
{
    return static_cast<std::uint8_t>((((argb >> 16) & 0xff) + ((argb >> 8) & 0xff) + (argb & 0xff) + 1) / 3);
}

// The bytes of an 8-bit BMP file of `levels` (width * height, top row
// first) with the grey palette: rows bottom-up, each padded to four bytes,
// a 40-byte header, 256 palette entries, 3937 pixels a metre (100 dpi):
// byte for byte the file Qt writes of the same picture.
std::string greyBmpFile(int width, int height, const std::uint8_t* levels);
