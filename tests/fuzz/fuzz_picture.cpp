// libFuzzer targets, one per picture format (FUZZ_PNG, FUZZ_TIFF or FUZZ_PNM
// chooses): the format's decoder from the bytes of a file, every page of a
// stack, the 8-bit view and the window's road on it.  Refusing a file with
// std::runtime_error is the expected answer to bad input; anything else that
// escapes, and every sanitizer report, is a bug.
#include "imaging/road.h"
#include "toolkit/picture_formats.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

GreyRaster decode(const std::string& bytes, int page, int* pages)
{
#if defined(FUZZ_PNG)
    (void)page;
    *pages = 1;
    return decodePng(bytes);
#elif defined(FUZZ_TIFF)
    return decodeTiff(bytes, page, pages);
#else
    (void)page;
    *pages = 1;
    return decodePnm(bytes);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
#if defined(FUZZ_PNM)
    if (size < 2 || data[0] != 'P' || data[1] < '2' || data[1] > '6' || data[1] == '4') return 0;
#endif
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    int pages = 1;
    for (int page = 0; page < pages && page < 4; ++page) {
        GreyRaster picture;
        try {
            picture = decode(bytes, page, &pages);
        } catch (const std::runtime_error&) {
            continue;
        }
        if (picture.samples.size() != static_cast<std::size_t>(picture.width) * picture.height) __builtin_trap();
        eightBitView(picture);
        // Keep each input quick; the size limits have tests of their own.
        if (picture.samples.size() > (1u << 14)) continue;
        TBitmap bitmap;
        loadGreyBitmap(bitmap, bytes, "fuzz", page, nullptr);
        const std::unique_ptr<matrix> spectrum = centredSpectrum(bitmap);
        fractalDimension(*spectrum, Method::one, [](const std::string&) {});
        try {
            psdDimension(picture, {});
        } catch (const std::invalid_argument&) {
        }
    }
    return 0;
}
