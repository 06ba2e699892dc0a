// libFuzzer target: the whole road from the bytes of a file, as Load,
// PoliczFFT, Metoda 1 and Metoda 2 take it.  Refusing a file with
// std::runtime_error (or a picture too large to analyse with
// std::length_error) is the expected answer to bad input; anything else that
// escapes, and every sanitizer report, is a bug.
#include "imaging/convert.h"
#include "imaging/palette.h"
#include "imaging/bitmap_road.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TBitmap bitmap;
    try {
        bitmap.LoadFromMemory(data, size);
    } catch (const std::runtime_error&) {
        return 0;
    }
    bitmap.SetPalette(makeGreyPalette());
    // Keep each input quick; the size limits have tests of their own.
    if (static_cast<long long>(bitmap.GetWidth()) * bitmap.GetHeight() > (1 << 14)) return 0;

    const std::unique_ptr<matrix> spectrum = centredSpectrum(bitmap);
    TBitmap shown;
    for (int mode = 0; mode <= 4; ++mode) renderSpectrum(&shown, mode, 100.0, spectrum.get());
    const Notifier quiet = [](const std::string&) {};
    fractalDimension(*spectrum, Method::one, quiet);
    fractalDimension(*spectrum, Method::two, quiet);
    return 0;
}
