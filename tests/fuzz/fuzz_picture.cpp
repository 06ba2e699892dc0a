// libFuzzer targets, one per picture format (FUZZ_PNG, FUZZ_TIFF, FUZZ_PNM,
// FUZZ_SDF, FUZZ_X3P or FUZZ_GWY chooses): the format's decoder from the
// bytes of a file, every page of a stack, the 8-bit view and the window's road on it.  Refusing a file with
// std::runtime_error is the expected answer to bad input; anything else that
// escapes, and every sanitizer report, is a bug.
#include "imaging/bitmap_road.h"
#include "pictures/picture_formats.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// The one decoder this target exercises, opened once for every page.
struct Decoder {
    explicit Decoder(const std::string& b) : bytes(b)
    {
#if defined(FUZZ_TIFF)
        paged = std::make_unique<TiffPages>(bytes);
#elif defined(FUZZ_X3P)
        paged = openX3p(bytes);
#elif defined(FUZZ_GWY)
        paged = openGwy(bytes);
#endif
        if (paged) pages = paged->count();
    }
    GreyRaster decode([[maybe_unused]] int page)
    {
#if defined(FUZZ_PNG)
        return decodePng(bytes);
#elif defined(FUZZ_TIFF) || defined(FUZZ_X3P) || defined(FUZZ_GWY)
        return paged->decode(page);
#elif defined(FUZZ_SDF)
        return decodeSdf(bytes);
#else
        return decodePnm(bytes);
#endif
    }
    const std::string& bytes;
    std::unique_ptr<PagedFile> paged;
    int pages = 1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
#if defined(FUZZ_PNM)
    if (size < 2 || data[0] != 'P' || data[1] < '2' || data[1] > '6' || data[1] == '4') return 0;
#elif defined(FUZZ_SDF)
    if (size < 8 || (std::memcmp(data, "aISO-1.0", 8) != 0 && std::memcmp(data, "bISO-1.0", 8) != 0)) return 0;
#elif defined(FUZZ_X3P)
    if (size < 4 || std::memcmp(data, "PK\3\4", 4) != 0) return 0;
#elif defined(FUZZ_GWY)
    if (size < 4 || std::memcmp(data, "GWYP", 4) != 0) return 0;
#endif
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<Decoder> decoder;
    try {
        decoder = std::make_unique<Decoder>(bytes);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (int page = 0; page < decoder->pages && page < 4; ++page) {
        GreyRaster picture;
        try {
            picture = decoder->decode(page);
        } catch (const std::runtime_error&) {
            continue;
        }
        if (picture.samples.size() != static_cast<std::size_t>(picture.width) * picture.height) __builtin_trap();
        eightBitView(picture);
        // Keep each input quick; the size limits have tests of their own.
        if (picture.samples.size() > (1u << 14)) continue;
        TBitmap bitmap;
        PictureReader reader(bytes);
        loadGreyBitmap(bitmap, reader, "fuzz", page);
        const std::unique_ptr<matrix> spectrum = centredSpectrum(bitmap);
        fractalDimension(*spectrum, Method::one, [](const std::string&) {});
        try {
            psdDimension(picture, {});
        } catch (const std::invalid_argument&) {
        }
    }
    return 0;
}
