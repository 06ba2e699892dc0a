// The toolkit's bitmap: a picture with a pixel format, a palette and row
// access.  Qt-free on the outside so that the image conversion code can use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };
enum TBitmapHandleType { bmDIB = 0, bmDDB = 1 };

struct TPaletteEntry {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t flags;
};

// A logical palette; a bitmap that is given one owns it from then on.
struct TPalette {
    std::vector<TPaletteEntry> entries;
};
using HPALETTE = std::unique_ptr<TPalette>;

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Replaces size, format, pixels and palette by those of a BMP file.  On
    // failure throws std::runtime_error naming the file and the reason, and
    // the bitmap stays as it was.
    void LoadFromFile(const std::string& path);
    // The same from the bytes of a BMP file.  Before decoding, the header is
    // checked against the bytes: sizes, bit depth, compression, palette and
    // pixel data that the file really holds, and at most 2^27 - 1 pixels.
    void LoadFromMemory(const void* data, std::size_t size);
    // Replaces size, format and pixels by an 8-bit picture of these levels
    // (width * height bytes, top row first), its palette all black until one
    // is set.  On failure (std::bad_alloc) the bitmap stays as it was.
    void LoadLevels(int width, int height, const std::uint8_t* levels);
    // Writes the bitmap as a BMP file; throws std::runtime_error on failure.
    void SaveToFile(const std::string& path) const;

    // pf8bit: one byte per pixel, an index into the palette.  Palette images
    // keep their indices; true-colour pixels get the nearest palette entry
    // (with the grey palette: the nearest grey).  Other formats: std::invalid_argument.
    void SetPixelFormat(TPixelFormat format);
    TPixelFormat GetPixelFormat() const;
    // Every bitmap here is device-independent already; kept for callers.
    void SetHandleType(TBitmapHandleType type);

    void SetPalette(HPALETTE palette);
    const TPalette* GetPalette() const;

    int GetWidth() const;
    int GetHeight() const;
    // Resizing keeps the overlapping top-left pixels; new pixels are 0.
    // Throws std::invalid_argument for a negative size.
    void SetWidth(int width);
    void SetHeight(int height);

    // The bytes of row `row` (0 = top), readable and writable.  Throws
    // std::out_of_range for a row outside the bitmap.
    std::uint8_t* GetScanline(int row);

    bool Empty() const;

    struct Impl;
    Impl& impl() const { return *d; }

private:
    std::unique_ptr<Impl> d;
};
