// Icon files (.ico) as the handheld's icon loader reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// One picture: rows top to bottom, each pixel 0xAARRGGBB; alpha is 0 where the picture is
// transparent.
struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;

    std::uint32_t At(int x, int y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

// Picks the image of the .ico file that is `cx` x `cy` (0 x 0: the first image's size) and
// decodes it; an icon without that size is scaled from its largest image, as the platform does.
// Uncompressed 1-, 4-, 8-, 24- and 32-bit images with their AND mask; a 32-bit image whose alpha
// is all zero takes its transparency from the mask. Throws std::runtime_error saying what is
// wrong with the file.
IconImage DecodeIco(const std::uint8_t* data, std::size_t size, int cx, int cy);

}  // namespace host
