// Inside the picture layer only: one decoder per file format, each refusing what
// it cannot read with std::runtime_error.
#pragma once

#include "pictures/picture.h"


// The unsigned number in `bytes` bytes of `b` from `at`, least (or most)
// significant byte first.
std::uint64_t littleEndian(const std::string& b, std::size_t at, int bytes);
std::uint64_t bigEndian(const std::string& b, std::size_t at, int bytes);

GreyRaster decodeBmp(const std::string& bytes);
GreyRaster decodePng(const std::string& bytes);
GreyRaster decodeSdf(const std::string& bytes);
// An SDF file's size from the start of its bytes (its header); false when
// they do not hold it.
bool sdfSize(const std::string& start, long long& width, long long& height);

// A TIFF file opened once, its pages (directories) read in increasing order
// in one pass; going back to an earlier page starts again from the first.
class TiffPages {
public:
    explicit TiffPages(const std::string& bytes);
    ~TiffPages();
    int count() const;
    GreyRaster decode(int page);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
GreyRaster decodePnm(const std::string& bytes);
