// Pictures at the depth their files hold them: BMP, PNG, TIFF and PGM/PPM
// decoded to one grey sample per pixel of 8 or 16 bits or 32-bit floating
// point, and the 8-bit grey view that the window's analysis takes.
//
// Colour becomes grey as the mean of red, green and blue: (r + g + b + 1) / 3
// in whole numbers for 8- and 16-bit samples, (r + g + b) / 3 for floating
// point; alpha is left out.  A palette picture's entries are made grey by
// the same rule (a BMP keeps its palette indices, as the analysis always has).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

enum class SampleType { uint8, uint16, float32 };

struct GreyRaster {
    int width = 0;
    int height = 0;
    SampleType type = SampleType::uint8;
    // Row-major, top row first; every value of the three types is exact in a float.
    std::vector<float> samples;
};

enum class PictureFormat { bmp, png, tiff, pnm };

// The format of a file by its first bytes; throws std::runtime_error for
// bytes that are none of them.
PictureFormat pictureFormat(const std::string& bytes);

// Page `page` (from 0) of the picture in `bytes`; `pages`, when given,
// receives how many the file holds.  Every size and count the file claims is
// checked against the file and against 2^27 - 1 pixels before memory is
// allocated for it; a refusal throws std::runtime_error with the reason,
// the decoding library's own messages included.
GreyRaster decodePicture(const std::string& bytes, int page = 0, int* pages = nullptr);

// How many pages the picture in `bytes` holds (TIFF stacks more than one);
// throws std::runtime_error as decodePicture does.
int picturePages(const std::string& bytes);

// The picture as 8-bit grey levels: 8-bit samples as they are; 16-bit and
// floating-point samples with the picture's own smallest and largest finite
// value mapped to 0 and 255, to the nearest level (0 everywhere when they are
// equal; values that are not finite show as 0).
std::vector<std::uint8_t> eightBitView(const GreyRaster& raster);

// A picture's size as its file's header gives it, read without decoding
// (the first page of a TIFF stack); false when the header cannot tell.
bool readPictureSize(const std::string& path, long long& width, long long& height);

// The bytes of a picture file (at most 1 GiB); throws unreadableFile().
std::string readPictureFile(const std::string& path);

// The error every front end reports for a picture file it cannot read or
// decode: "Nie można wczytać pliku \"<name>\": <reason>", the name shown
// byte for byte.
std::runtime_error unreadableFile(const std::string& path, const std::string& reason);

// Joins a colour's three channels into grey by the rule above.
inline float greyOf(float r, float g, float b, SampleType type)
{
    if (type == SampleType::float32) return (r + g + b) / 3;
    return static_cast<float>((static_cast<std::uint32_t>(r) + static_cast<std::uint32_t>(g) +
                               static_cast<std::uint32_t>(b) + 1) / 3);
}
