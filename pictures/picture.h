// Pictures at the depth their files hold them: BMP, PNG, TIFF and PGM/PPM
// decoded to one grey sample per pixel, and ISO 25178-71 surface data
// files (SDF) to heights in metres, held at the sample type of the file
// (see samples.h), and the 8-bit grey view that the window's analysis takes.
//
// Colour becomes grey as the mean of red, green and blue: (r + g + b + 1) / 3
// in whole numbers for 8- and 16-bit samples, (r + g + b) / 3 for floating
// point; alpha is left out.  A palette picture's entries are made grey by
// the same rule (a BMP keeps its palette indices, as the analysis always has).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pictures/samples.h"

// The largest file read at all.
constexpr std::size_t maxPictureFileBytes = std::size_t{1} << 30;
// The largest picture any decoder accepts.
constexpr long long maxPicturePixels = (1LL << 27) - 1;

struct GreyRaster {
    int width = 0;
    int height = 0;
    // Row-major, top row first, each at the size of its type.
    Samples samples;
    SampleType type() const { return samples.type(); }
    // The pixel's size along x and y in metres, as the file gives it; 0 when
    // it gives none (a TIFF's resolution in inches or centimetres gives it).
    double dx = 0, dy = 0;
    // Metres a stored height unit, when the file says (an instrument's file:
    // 1, its heights in metres); 0 for a picture's grey levels.
    double heightScale = 0;
};

enum class PictureFormat { bmp, png, tiff, pnm, sdf, x3p, gwy };

// The format of a file by its first bytes; throws std::runtime_error for
// bytes that are none of them.
PictureFormat pictureFormat(const std::string& bytes);

// Page `page` (from 0) of the picture in `bytes`; `pages`, when given,
// receives how many the file holds.  Every size and count the file claims is
// checked against the file and against what can be analysed (see
// checkPictureSize) before memory is allocated for it; a refusal throws
// std::runtime_error with the reason, the decoding library's own messages
// included.
GreyRaster decodePicture(const std::string& bytes, int page = 0, int* pages = nullptr);

// How many pages the picture in `bytes` holds (TIFF stacks more than one);
// throws std::runtime_error as decodePicture does.
int picturePages(const std::string& bytes);

class PagedFile;

// The pages of one picture file, opened once: pages asked for in increasing
// order are read in one pass over the file (a stack of n pages in time
// proportional to n).  `bytes` must outlive the reader.  The constructor
// throws std::runtime_error for bytes that are no picture file it reads;
// decode() throws it for a page that cannot be decoded, and the pages after
// it can still be asked for.
class PictureReader {
public:
    explicit PictureReader(const std::string& bytes);
    // Bytes that die with the statement cannot outlive it.
    explicit PictureReader(std::string&&) = delete;
    ~PictureReader();
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    PictureFormat format() const { return kind; }
    int pages() const { return count; }
    const std::string& bytes() const { return data; }
    // Page `page`, from 0.
    GreyRaster decode(int page);

private:
    const std::string& data;
    PictureFormat kind;
    int count = 1;
    std::unique_ptr<PagedFile> paged;  // files with pages of their own
};

// The picture as 8-bit grey levels: 8-bit samples as they are; 16-bit and
// floating-point samples with the picture's own smallest and largest finite
// value mapped to 0 and 255, to the nearest level (0 everywhere when they are
// equal; values that are not finite show as 0).
std::vector<std::uint8_t> eightBitView(const GreyRaster& raster);
// The same from a picture no longer needed: 8-bit samples are moved, not copied.
std::vector<std::uint8_t> eightBitView(GreyRaster&& raster);

// A picture's size as its file's header gives it, read without decoding
// (the first page of a TIFF stack); false when the header cannot tell.
bool readPictureSize(const std::string& path, long long& width, long long& height);

// The bytes of a picture file (at most 1 GiB); throws unreadableFile().
std::string readPictureFile(const std::string& path);

// The error every front end reports for a picture file it cannot read or
// decode: "cannot read \"<name>\": <reason>", the name shown byte for byte.
std::runtime_error unreadableFile(const std::string& path, const std::string& reason);

// Why a picture of this size is too large for the transform once each side
// is padded to a power of two (fewer than 2^27 padded pixels are taken); empty
// when it is not.
std::string paddedSizeRefusal(long long width, long long height);

// Throws std::runtime_error when a picture of this size has no pixels, or
// is larger than the analysis takes: fewer than 2^27 pixels, and fewer than
// 2^27 once each side is padded to a power of two.  Every decoder calls it
// with the header's size before it allocates anything for the pixels.
void checkPictureSize(long long width, long long height);

// Joins a colour's three channels into grey by the rule above: 32-bit
// floating point in float arithmetic, 64-bit in double; whole numbers
// rounded down, exactly (their sums are far inside a double's range).
inline double greyOf(double r, double g, double b, SampleType type)
{
    switch (type) {
    case SampleType::float32: {
        const float sum = static_cast<float>(r) + static_cast<float>(g) + static_cast<float>(b);
        return sum / 3;
    }
    case SampleType::float64: return (r + g + b) / 3;
    case SampleType::uint8:
    case SampleType::uint16:
        return static_cast<double>((static_cast<std::uint32_t>(r) + static_cast<std::uint32_t>(g) +
                                    static_cast<std::uint32_t>(b) + 1) / 3);
    default: return std::floor((r + g + b + 1) / 3);
    }
}

// Turns a picture stored in the order a TIFF Orientation tag (1 to 8)
// gives into the order it is shown in: top row first, left to right.
// Orientations 5 to 8 swap the width and the height.
void orientPicture(GreyRaster& raster, int orientation);
