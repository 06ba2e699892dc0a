// PGM and PPM files, binary (P5, P6) and plain (P2, P3), up to 16 bits a
// sample; the samples are kept as the file holds them (0 .. maxval).
#include "pictures/picture_formats.h"

#include <cctype>
#include <stdexcept>

namespace {

class Reader {
public:
    explicit Reader(const std::string& b) : bytes(b) {}

    // A # comment runs to the end of its line, wherever it starts in the
    // header; `at` is left on the byte that ends the line.
    void skipComment()
    {
        if (at < bytes.size() && bytes[at] == '#')
            while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r') ++at;
    }

    // A header number: white space and # comments before it.
    long long number(const char* what)
    {
        for (;;) {
            while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                skipComment();
                continue;
            }
            break;
        }
        if (at >= bytes.size() || !std::isdigit(static_cast<unsigned char>(bytes[at])))
            throw std::runtime_error(std::string("the header has no ") + what);
        long long value = 0;
        while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at]))) {
            value = value * 10 + (bytes[at++] - '0');
            if (value > (1LL << 40)) throw std::runtime_error(std::string("the ") + what + " is too large");
        }
        return value;
    }

    std::size_t at = 2;
    const std::string& bytes;
};

}  // namespace

GreyRaster decodePnm(const std::string& bytes)
{
    const char kind = bytes[1];
    const bool colour = kind == '3' || kind == '6';
    const bool plain = kind == '2' || kind == '3';
    Reader r(bytes);
    const long long width = r.number("width");
    const long long height = r.number("height");
    const long long maxval = r.number("largest value");
    checkPictureSize(width, height);
    if (maxval < 1 || maxval > 65535)
        throw std::runtime_error("the largest value " + std::to_string(maxval) + " is outside 1 .. 65535");
    const int channels = colour ? 3 : 1;
    const long long count = width * height * channels;
    const int sampleBytes = maxval > 255 ? 2 : 1;
    if (!plain) {
        // Exactly one white-space byte ends the header, after any comment
        // that follows the largest value on its line ("255# note\n").
        r.skipComment();
        if (r.at >= bytes.size() || !std::isspace(static_cast<unsigned char>(bytes[r.at])))
            throw std::runtime_error("the header does not end in white space");
        ++r.at;
        if (static_cast<long long>(bytes.size() - r.at) < count * sampleBytes)
            throw std::runtime_error("the pixel data is cut short (" + std::to_string(bytes.size() - r.at) + " of " +
                                     std::to_string(count * sampleBytes) + " bytes)");
    } else if (static_cast<long long>(bytes.size() - r.at) < count * 2 - 1) {
        throw std::runtime_error("the pixel data is cut short");  // a digit and a space a sample, at least
    }

    GreyRaster raster;
    raster.width = static_cast<int>(width);
    raster.height = static_cast<int>(height);
    const SampleType type = sampleBytes == 2 ? SampleType::uint16 : SampleType::uint8;
    raster.samples = Samples(type, static_cast<std::size_t>(width * height));
    auto sample = [&]() -> float {
        long long v;
        if (plain) {
            v = r.number("sample");
        } else {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + r.at);
            v = sampleBytes == 2 ? (p[0] << 8 | p[1]) : p[0];
            r.at += static_cast<std::size_t>(sampleBytes);
        }
        if (v > maxval) throw std::runtime_error("a sample is larger than the largest value the header gives");
        return static_cast<float>(v);
    };
    raster.samples.visit([&](auto& samples) {
        using T = typename std::decay_t<decltype(samples)>::value_type;
        for (T& out : samples) {
            if (colour) {
                const float red = sample(), green = sample(), blue = sample();
                out = static_cast<T>(greyOf(red, green, blue, type));
            } else {
                out = static_cast<T>(sample());
            }
        }
    });
    return raster;
}
