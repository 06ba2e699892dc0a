// PNG files through libpng, read from memory, so that 16-bit samples stay
// 16-bit and the library's messages go into the refusal instead of the
// terminal.  libpng reports errors by longjmp back to the setjmp below; no
// object with a destructor lives between the two.
#include "pictures/picture_formats.h"

#include <png.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

struct Source {
    const std::string* bytes;
    std::size_t at;
    std::string messages;
};

void readBytes(png_structp png, png_bytep into, png_size_t count)
{
    auto* s = static_cast<Source*>(png_get_io_ptr(png));
    if (count > s->bytes->size() - s->at) png_error(png, "the file is cut short");
    std::memcpy(into, s->bytes->data() + s->at, count);
    s->at += count;
}

void note(png_structp png, png_const_charp message)
{
    auto* s = static_cast<Source*>(png_get_error_ptr(png));
    if (s->messages.size() < 2000) {
        if (!s->messages.empty()) s->messages.append("; ");
        s->messages.append(message);
    }
}

void error(png_structp png, png_const_charp message)
{
    note(png, message);
    png_longjmp(png, 1);
}

// Frees libpng's structures however the decoder leaves.
struct Structures {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~Structures() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

GreyRaster decodePng(const std::string& bytes)
{
    Source source{&bytes, 0, {}};
    Structures s;
    GreyRaster raster;
    std::vector<unsigned char> pixels;
    std::vector<png_bytep> rows;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, error, note);
    if (!s.png) throw std::bad_alloc();
    s.info = png_create_info_struct(s.png);
    if (!s.info) throw std::bad_alloc();
    if (setjmp(png_jmpbuf(s.png))) throw std::runtime_error("the PNG file cannot be decoded (" + source.messages + ")");

    png_set_read_fn(s.png, &source, readBytes);
    png_set_user_limits(s.png, 1u << 30, 1u << 30);
    png_read_info(s.png, s.info);
    const png_uint_32 width = png_get_image_width(s.png, s.info), height = png_get_image_height(s.png, s.info);
    checkPictureSize(width, height);
    const int depth = png_get_bit_depth(s.png, s.info);
    // Deflate packs at most about 1032 bytes into one.  The rows as stored
    // (packed at the file's own depth, with a filter byte each) bound what
    // the file can hold: a file too short for them is refused before the
    // pixels are allocated.
    const unsigned long long storedBytes = (static_cast<unsigned long long>(png_get_rowbytes(s.png, s.info)) + 1) * height;
    if (static_cast<unsigned long long>(bytes.size()) * 1032 < storedBytes)
        throw std::runtime_error("the PNG file is too short for a picture of " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels");
    // Palettes to colours, low bit depths to 8 bits, no alpha, 16-bit
    // samples in this machine's byte order.
    png_set_expand(s.png);
    png_set_strip_alpha(s.png);
    if (depth == 16) png_set_swap(s.png);
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    const int channels = png_get_channels(s.png, s.info);
    const std::size_t rowBytes = png_get_rowbytes(s.png, s.info);
    pixels.resize(rowBytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(s.png, rows.data());
    png_read_end(s.png, nullptr);

    raster.width = static_cast<int>(width);
    raster.height = static_cast<int>(height);
    const SampleType type = depth == 16 ? SampleType::uint16 : SampleType::uint8;
    raster.samples = Samples(type, std::size_t{width} * height);
    const std::size_t size = depth == 16 ? 2 : 1;
    auto sample = [&](const unsigned char* p) -> float {
        if (size == 1) return p[0];
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    };
    raster.samples.visit([&](auto& samples) {
        using T = typename std::decay_t<decltype(samples)>::value_type;
        auto out = samples.begin();
        for (png_uint_32 y = 0; y < height; ++y)
            for (png_uint_32 x = 0; x < width; ++x) {
                const unsigned char* p = rows[y] + x * channels * size;
                *out++ = static_cast<T>(channels >= 3 ? greyOf(sample(p), sample(p + size), sample(p + 2 * size), type)
                                                      : sample(p));
            }
    });
    return raster;
}
