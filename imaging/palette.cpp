#include "imaging/palette.h"

HPALETTE makeGreyPalette()
{
    auto palette = std::make_unique<TPalette>();
    palette->entries.resize(256);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        palette->entries[static_cast<std::size_t>(i)] = {v, v, v, 0};
    }
    return palette;
}
