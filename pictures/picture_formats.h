// Inside the picture layer only: one decoder per file format, each refusing what
// it cannot read with std::runtime_error.
#pragma once

#include "pictures/picture.h"

#include <memory>

// The unsigned number in `bytes` bytes of `b` from `at`, least (or most)
// significant byte first.
std::uint64_t littleEndian(const std::string& b, std::size_t at, int bytes);
std::uint64_t bigEndian(const std::string& b, std::size_t at, int bytes);
// Appends the low `bytes` bytes of v, least significant first.
void appendLittleEndian(std::string& b, std::uint64_t v, int bytes);

GreyRaster decodeBmp(const std::string& bytes);
GreyRaster decodePng(const std::string& bytes);
GreyRaster decodeSdf(const std::string& bytes);
// An SDF file's size from the start of its bytes (its header); false when
// they do not hold it.
bool sdfSize(const std::string& start, long long& width, long long& height);

// A file opened once, whose pages (TIFF directories, X3P layers, GWY
// channels) are found when it is opened and decoded when asked for.
class PagedFile {
public:
    virtual ~PagedFile() = default;
    virtual int count() const = 0;
    // Page `page`, 0 <= page < count().
    virtual GreyRaster decode(int page) = 0;
    // The page's size without decoding it; false when the format cannot
    // tell it so.
    virtual bool size(int /*page*/, long long& /*width*/, long long& /*height*/) const { return false; }
};

// ISO 25178-72 X3P files and Gwyddion's native files (see their sources).
std::unique_ptr<PagedFile> openX3p(const std::string& bytes);
std::unique_ptr<PagedFile> openGwy(const std::string& bytes);
// An X3P file's size from its main.xml, read from the file without its heights.
bool x3pFileSize(const std::string& path, long long& width, long long& height);

// A TIFF file opened once, its pages (directories) read in increasing order
// in one pass; going back to an earlier page starts again from the first.
class TiffPages : public PagedFile {
public:
    explicit TiffPages(const std::string& bytes);
    ~TiffPages() override;
    int count() const override;
    GreyRaster decode(int page) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
GreyRaster decodePnm(const std::string& bytes);
