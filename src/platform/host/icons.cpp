#include "platform/host/icons.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace host {
namespace {

constexpr std::size_t kDirHeader = 6;
constexpr std::size_t kDirEntry = 16;
constexpr std::size_t kInfoHeader = 40;  // BITMAPINFOHEADER

struct Entry {
    int width;
    int height;
    int bit_count;
    std::uint32_t size;
    std::uint32_t offset;
};

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::int32_t I32(const std::uint8_t* p) {
    std::uint32_t v = U32(p);
    std::int32_t out;
    std::memcpy(&out, &v, sizeof out);
    return out;
}

[[noreturn]] void Bad(const std::string& what) { throw std::runtime_error("not a usable icon file: " + what); }

std::vector<Entry> Directory(const std::uint8_t* data, std::size_t size) {
    if (size < kDirHeader || U16(data) != 0 || U16(data + 2) != 1) Bad("no icon directory");
    std::size_t count = U16(data + 4);
    if (count == 0) Bad("no images");
    if (size < kDirHeader + count * kDirEntry) Bad("directory cut short");
    std::vector<Entry> out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + kDirHeader + i * kDirEntry;
        Entry entry{e[0] ? e[0] : 256, e[1] ? e[1] : 256, U16(e + 6), U32(e + 8), U32(e + 12)};
        if (entry.offset > size || entry.size > size - entry.offset) Bad("image " + std::to_string(i) + " cut short");
        out.push_back(entry);
    }
    return out;
}

IconImage DecodeImage(const std::uint8_t* p, std::size_t size) {
    static const std::uint8_t kPng[] = {0x89, 'P', 'N', 'G'};
    if (size >= 4 && std::memcmp(p, kPng, 4) == 0) Bad("PNG images are not supported");
    if (size < kInfoHeader) Bad("bitmap header cut short");
    std::uint32_t header = U32(p);
    std::int32_t width = I32(p + 4);
    std::int32_t height = I32(p + 8) / 2;  // colour bitmap and mask, one above the other
    int bits = U16(p + 14);
    std::uint32_t compression = U32(p + 16);
    std::uint32_t used = U32(p + 32);
    if (header < kInfoHeader || header > size) Bad("bad bitmap header");
    if (width <= 0 || height <= 0 || width > 256 || height > 256) Bad("bad image size");
    if (compression != 0) Bad("compressed bitmap");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        Bad("unsupported colour depth " + std::to_string(bits));

    std::size_t colours = bits <= 8 ? (used ? used : 1u << bits) : 0;
    std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    std::size_t mask_stride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    std::size_t palette_at = header;
    std::size_t pixels_at = palette_at + colours * 4;
    std::size_t mask_at = pixels_at + stride * height;
    if (mask_at + mask_stride * height > size) Bad("bitmap cut short");

    IconImage img;
    img.width = width;
    img.height = height;
    img.argb.resize(static_cast<std::size_t>(width) * height);
    bool has_alpha = false;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = p + pixels_at + (height - 1 - y) * stride;  // bottom-up
        const std::uint8_t* mask = p + mask_at + (height - 1 - y) * mask_stride;
        for (int x = 0; x < width; ++x) {
            std::uint32_t r, g, b, a = 255;
            if (bits <= 8) {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                std::size_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= colours) Bad("colour index outside the palette");
                const std::uint8_t* c = p + palette_at + index * 4;
                b = c[0], g = c[1], r = c[2];
            } else {
                const std::uint8_t* c = row + x * (bits / 8);
                b = c[0], g = c[1], r = c[2];
                if (bits == 32) {
                    a = c[3];
                    has_alpha = has_alpha || a != 0;
                }
            }
            bool masked = (mask[x / 8] >> (7 - x % 8)) & 1;
            if (bits != 32 && masked) a = 0;
            img.argb[static_cast<std::size_t>(y) * width + x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    if (bits == 32 && !has_alpha) {
        // An old-style 32-bit image: the mask alone says what is transparent.
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* mask = p + mask_at + (height - 1 - y) * mask_stride;
            for (int x = 0; x < width; ++x) {
                std::uint32_t& px = img.argb[static_cast<std::size_t>(y) * width + x];
                bool masked = (mask[x / 8] >> (7 - x % 8)) & 1;
                px = (px & 0x00FFFFFFu) | (masked ? 0u : 0xFF000000u);
            }
        }
    }
    return img;
}

IconImage Scaled(const IconImage& from, int cx, int cy) {
    IconImage out;
    out.width = cx;
    out.height = cy;
    out.argb.resize(static_cast<std::size_t>(cx) * cy);
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x)
            out.argb[static_cast<std::size_t>(y) * cx + x] = from.At(x * from.width / cx, y * from.height / cy);
    return out;
}

}  // namespace

IconImage DecodeIco(const std::uint8_t* data, std::size_t size, int cx, int cy) {
    std::vector<Entry> entries = Directory(data, size);
    if (cx <= 0 || cy <= 0) {
        cx = entries.front().width;
        cy = entries.front().height;
    }
    const Entry* best = nullptr;
    for (const auto& e : entries)
        if (e.width == cx && e.height == cy && (!best || e.bit_count > best->bit_count)) best = &e;
    if (best) return DecodeImage(data + best->offset, best->size);
    for (const auto& e : entries)
        if (!best || e.width * e.height > best->width * best->height) best = &e;
    return Scaled(DecodeImage(data + best->offset, best->size), cx, cy);
}

}  // namespace host
