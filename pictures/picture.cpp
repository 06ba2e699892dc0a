// Telling the formats apart, sizes from headers, the reader of a file's
// pages, and the 8-bit view.
#include "pictures/picture_formats.h"

#include "analysis/fourier.h"
#include "analysis/matrix.h"
#include "pictures/files.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

void checkPictureSize(long long width, long long height)
{
    if (width < 1 || height < 1)
        throw std::runtime_error("the picture has no pixels (" + std::to_string(width) + " x " +
                                 std::to_string(height) + ")");
    if (width > maxPicturePixels || height > maxPicturePixels || width * height > maxPicturePixels)
        throw std::runtime_error("the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels, more than can be analysed (fewer than " +
                                 std::to_string(maxPicturePixels + 1) + ")");
    const std::string padded = paddedSizeRefusal(width, height);
    if (!padded.empty()) throw std::runtime_error(padded);
}

std::string paddedSizeRefusal(long long width, long long height)
{
    // The transform pads each side to a power of two and holds complex values.
    const long long pw = powerOfTwoAtLeast(width), ph = powerOfTwoAtLeast(height);
    if (2 * pw * ph < matrixSizeLimit) return {};
    return "the picture is " + std::to_string(width) + " x " + std::to_string(height) + " pixels, padded to " +
           std::to_string(pw) + " x " + std::to_string(ph) + " for the transform: more than can be analysed (fewer than " +
           std::to_string(matrixSizeLimit / 2) + " pixels once padded)";
}

std::uint64_t littleEndian(const std::string& b, std::size_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

void appendLittleEndian(std::string& b, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

std::uint64_t bigEndian(const std::string& b, std::size_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

namespace {

// A BMP's size from its first 26 bytes; false when they are fewer.
bool bmpSize(const std::string& start, long long& width, long long& height)
{
    if (start.size() < 26) return false;
    const bool core = littleEndian(start, 14, 4) == 12;
    width = core ? static_cast<long long>(littleEndian(start, 18, 2)) : static_cast<std::int32_t>(littleEndian(start, 18, 4));
    height = core ? static_cast<long long>(littleEndian(start, 20, 2)) : static_cast<std::int32_t>(littleEndian(start, 22, 4));
    height = height < 0 ? -height : height;
    return true;
}

// The first directory's width (256) and length (257) entries of a TIFF or
// BigTIFF file; false when the header cannot tell.
bool tiffSize(const std::string& path, const std::string& start, long long& width, long long& height)
{
    if (start.size() < 16) return false;
    const bool le = start[0] == 'I';
    auto get = [&](const std::string& b, std::size_t at, int n) { return le ? littleEndian(b, at, n) : bigEndian(b, at, n); };
    const bool bigTiff = get(start, 2, 2) == 43;
    // Classic TIFF: 4-byte offsets, 2-byte counts, 12-byte entries; BigTIFF:
    // 8-byte offsets and counts, 20-byte entries.
    const int offsetBytes = bigTiff ? 8 : 4, countBytes = bigTiff ? 8 : 2, entryBytes = bigTiff ? 20 : 12;
    const std::uint64_t ifd = get(start, bigTiff ? 8 : 4, offsetBytes);
    const std::string count = readFilePart(path, ifd, static_cast<std::size_t>(countBytes));
    if (count.size() < static_cast<std::size_t>(countBytes)) return false;
    const std::uint64_t entryCount = std::min<std::uint64_t>(get(count, 0, countBytes), 4096);
    const std::string entries = readFilePart(path, ifd + static_cast<std::uint64_t>(countBytes),
                                             static_cast<std::size_t>(entryCount) * entryBytes);
    width = height = 0;
    const std::size_t valueAt = bigTiff ? 12 : 8;
    for (std::size_t e = 0; e + static_cast<std::size_t>(entryBytes) <= entries.size(); e += entryBytes) {
        const std::uint64_t tag = get(entries, e, 2), type = get(entries, e + 2, 2);
        const int size = type == 3 ? 2 : type == 16 ? 8 : 4;
        const long long value = static_cast<long long>(std::min<std::uint64_t>(get(entries, e + valueAt, size), 1ULL << 40));
        if (tag == 256) width = value;
        if (tag == 257) height = value;
    }
    return true;
}

}  // namespace

namespace {

// Every format read, in one table: how its file begins, and how it is
// opened.  A format of one page decodes the whole file.
struct FormatEntry {
    PictureFormat format;
    bool (*recognises)(const std::string& start);
    GreyRaster (*decodeWhole)(const std::string& bytes);              // one page, or
    std::unique_ptr<PagedFile> (*open)(const std::string& bytes);    // pages of its own
};

bool startsWith(const std::string& b, const char* magic, std::size_t n) { return b.size() >= n && b.compare(0, n, magic, n) == 0; }

std::unique_ptr<PagedFile> openTiff(const std::string& bytes) { return std::make_unique<TiffPages>(bytes); }

const FormatEntry formats[] = {
    {PictureFormat::bmp, [](const std::string& b) { return startsWith(b, "BM", 2); }, decodeBmp, nullptr},
    {PictureFormat::png, [](const std::string& b) { return startsWith(b, "\x89PNG\r\n\x1a\n", 8); }, decodePng, nullptr},
    // TIFF and BigTIFF, either byte order.
    {PictureFormat::tiff,
     [](const std::string& b) {
         return startsWith(b, "II*\0", 4) || startsWith(b, "MM\0*", 4) || startsWith(b, "II+\0", 4) ||
                startsWith(b, "MM\0+", 4);
     },
     nullptr, openTiff},
    {PictureFormat::pnm, [](const std::string& b) { return b.size() >= 2 && b[0] == 'P' && b[1] >= '2' && b[1] <= '6' && b[1] != '4'; },
     decodePnm, nullptr},
    {PictureFormat::sdf, [](const std::string& b) { return startsWith(b, "aISO-1.0", 8) || startsWith(b, "bISO-1.0", 8); },
     decodeSdf, nullptr},
    // A zip archive: the only one read is an X3P container.
    {PictureFormat::x3p, [](const std::string& b) { return startsWith(b, "PK\3\4", 4); }, nullptr, openX3p},
    {PictureFormat::gwy, [](const std::string& b) { return startsWith(b, "GWYP", 4); }, nullptr, openGwy},
};

const FormatEntry& entryOf(PictureFormat format)
{
    for (const FormatEntry& e : formats)
        if (e.format == format) return e;
    throw std::logic_error("a picture format without an entry");
}

}  // namespace

bool readPictureSize(const std::string& path, long long& width, long long& height)
{
    const std::string start = readFilePart(path, 0, 64);
    try {
        switch (pictureFormat(start)) {
        case PictureFormat::bmp:
            if (!bmpSize(start, width, height)) return false;
            break;
        case PictureFormat::png:
            if (start.size() < 24) return false;
            width = static_cast<long long>(bigEndian(start, 16, 4));
            height = static_cast<long long>(bigEndian(start, 20, 4));
            break;
        case PictureFormat::pnm: {
            std::size_t at = 2;
            long long* fields[] = {&width, &height};
            for (long long* field : fields) {
                while (at < start.size() && (std::isspace(static_cast<unsigned char>(start[at])) || start[at] == '#'))
                    at = start[at] == '#' ? start.find('\n', at) : at + 1;
                if (at >= start.size() || !std::isdigit(static_cast<unsigned char>(start[at]))) return false;
                *field = 0;
                while (at < start.size() && std::isdigit(static_cast<unsigned char>(start[at])) && *field < (1LL << 40))
                    *field = *field * 10 + (start[at++] - '0');
            }
            break;
        }
        case PictureFormat::tiff:
            if (!tiffSize(path, start, width, height)) return false;
            break;
        case PictureFormat::sdf:
            if (!sdfSize(readFilePart(path, 0, 4096), width, height)) return false;
            break;
        case PictureFormat::x3p:
            if (!x3pFileSize(path, width, height)) return false;
            break;
        case PictureFormat::gwy: {
            // Its sizes sit inside, among the data: the file is opened, not
            // decoded, and only when small (a large one's size goes untold).
            const std::string bytes = readWholeFile(path, std::size_t{64} << 20, "64 MiB");
            if (!entryOf(pictureFormat(bytes)).open(bytes)->size(0, width, height)) return false;
            break;
        }
        }
    } catch (const std::runtime_error&) {
        return false;
    }
    return width > 0 && height > 0;
}

std::string readPictureFile(const std::string& path)
{
    try {
        return readWholeFile(path, maxPictureFileBytes, "1 GiB");
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
}

std::runtime_error unreadableFile(const std::string& path, const std::string& reason)
{
    return std::runtime_error("cannot read \"" + displayFileName(path) + "\": " + reason);
}

namespace {

// How files of formats that are not read begin, by their makers' and the
// formats' own descriptions: a refusal says what a file appears to be.
const std::pair<std::string, const char*> unreadFormats[] = {
    {"\\*File list", "a Bruker NanoScope file"},
    {"\\*EC File list", "a Bruker NanoScope file"},
    {"DIGITAL SURF", "a Digital Surf file"},
    {"AliconaImaging", "an Alicona AL3D file"},
    {"FRTM_", "an FRT file"},
    {std::string("\x88\x1b\x03\x6f", 4), "a Zygo MetroPro file"},
    {std::string("\x01\0Directory", 11), "a Wyko OPD file"},
    {"VCA DATA", "a Bruker Dektak OPDX file"},
    {"fileType", "a Keysight (Agilent) MI file"},
    {"[DataSet]", "a Nanosurf NID file"},
    {"WSxM file copyright", "a WSxM file"},
    {"BinaryTrueMap", "a TrueMap file"},
    {"\x89HDF\r\n\x1a\n", "an HDF5 file"},
    {"CDF\x01", "a NetCDF file"},
    {"CDF\x02", "a NetCDF file"},
    {"\x93NUMPY", "a NumPy array file"},
    {"\x1f\x8b", "a gzip-compressed file"},
};

}  // namespace

PictureFormat pictureFormat(const std::string& b)
{
    for (const FormatEntry& e : formats)
        if (e.recognises(b)) return e.format;
    const std::string formatsRead = "BMP, PNG, TIFF, PGM, PPM, SDF, X3P or GWY";
    for (const auto& [start, name] : unreadFormats)
        if (b.compare(0, start.size(), start) == 0)
            throw std::runtime_error(std::string("this appears to be ") + name +
                                     ", a format that cannot be read yet (only " + formatsRead + ")");
    throw std::runtime_error("this is not a picture file that can be read (" + formatsRead + ")");
}

PictureReader::PictureReader(const std::string& bytes) : data(bytes), kind(pictureFormat(bytes))
{
    if (const auto open = entryOf(kind).open) {
        paged = open(bytes);
        count = paged->count();
    }
}

PictureReader::~PictureReader() = default;

GreyRaster PictureReader::decode(int page)
{
    if (page < 0 || page >= count)
        throw std::runtime_error("the file holds " + std::to_string(count) + (count == 1 ? " page" : " pages") +
                                 ", not page " + std::to_string(page + 1));
    return paged ? paged->decode(page) : entryOf(kind).decodeWhole(data);
}

GreyRaster decodePicture(const std::string& bytes, int page, int* pages)
{
    PictureReader reader(bytes);
    if (pages) *pages = reader.pages();
    return reader.decode(page);
}

int picturePages(const std::string& bytes) { return PictureReader(bytes).pages(); }

void orientPicture(GreyRaster& raster, int orientation)
{
    if (orientation <= 1 || orientation > 8) return;
    const std::size_t W = static_cast<std::size_t>(raster.width), H = static_cast<std::size_t>(raster.height);
    const bool swapped = orientation >= 5;
    const std::size_t shownW = swapped ? H : W, shownH = swapped ? W : H;
    raster.samples.visit([&](auto& stored) {
        auto shown = stored;
        for (std::size_t r = 0; r < shownH; ++r)
            for (std::size_t c = 0; c < shownW; ++c) {
                // The stored row and column of the pixel shown at (r, c).
                std::size_t sr = r, sc = c;
                switch (orientation) {
                case 2: sc = W - 1 - c; break;                   // row 0 at the top, column 0 on the right
                case 3: sr = H - 1 - r; sc = W - 1 - c; break;   // bottom, right
                case 4: sr = H - 1 - r; break;                   // bottom, left
                case 5: sr = c; sc = r; break;                   // row 0 on the left, column 0 at the top
                case 6: sr = shownW - 1 - c; sc = r; break;      // right, top
                case 7: sr = shownW - 1 - c; sc = shownH - 1 - r; break;  // right, bottom
                default: sr = c; sc = shownH - 1 - r; break;     // 8: left, bottom
                }
                shown[r * shownW + c] = stored[sr * W + sc];
            }
        stored = std::move(shown);
    });
    raster.width = static_cast<int>(shownW);
    raster.height = static_cast<int>(shownH);
    if (swapped) std::swap(raster.dx, raster.dy);
}

std::vector<std::uint8_t> eightBitView(GreyRaster&& raster)
{
    if (raster.type() == SampleType::uint8) return std::move(raster.samples.as<std::uint8_t>());
    return eightBitView(static_cast<const GreyRaster&>(raster));
}

std::vector<std::uint8_t> eightBitView(const GreyRaster& raster)
{
    if (raster.type() == SampleType::uint8) return raster.samples.as<std::uint8_t>();
    return raster.samples.visit([](const auto& samples) {
        std::vector<std::uint8_t> levels(samples.size(), 0);
        double low = INFINITY, high = -INFINITY;
        for (const auto s : samples) {
            const double v = static_cast<double>(s);
            if (std::isfinite(v)) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
        if (!(high > low)) return levels;
        const double scale = 255.0 / (high - low);
        if (!std::isfinite(high - low) || !std::isfinite(scale)) {
            // A range beyond a double's (values near +-1.8e308) or so small
            // that 255 over it overflows: each value's share of the range,
            // on halves so that neither difference overflows.
            for (std::size_t i = 0; i < levels.size(); ++i) {
                const double v = static_cast<double>(samples[i]);
                const double share = (v / 2 - low / 2) / (high / 2 - low / 2);
                if (std::isfinite(v) && std::isfinite(share))
                    levels[i] = static_cast<std::uint8_t>(std::clamp(std::floor(share * 255 + 0.5), 0.0, 255.0));
            }
            return levels;
        }
        // (v - low) * scale + 0.5 lies in [0.5, 255.5]: truncation is floor
        // there, without a library call per sample.
        for (std::size_t i = 0; i < levels.size(); ++i) {
            const double v = static_cast<double>(samples[i]);
            if (std::isfinite(v)) levels[i] = static_cast<std::uint8_t>(static_cast<int>((v - low) * scale + 0.5));
        }
        return levels;
    });
}
