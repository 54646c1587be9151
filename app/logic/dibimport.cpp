// Packed device-independent bitmaps into images.
#include "dibimport.h"

#include <cstdint>
#include <cstring>

#include "kaleocore.h"

namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint32_t BI_RGB_CODE = 0;
constexpr uint32_t BI_BITFIELDS_CODE = 3;

// A colour mask as a shift and a width (at most 8 significant bits are used).
struct MaskField {
    int shift = 0, bits = 0;
};

MaskField fieldOf(uint32_t mask) {
    MaskField f;
    if (!mask) return f;
    while (!(mask & 1)) {
        mask >>= 1;
        ++f.shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++f.bits;
    }
    return f;
}

// Whether the mask's bits form one run.
bool contiguous(uint32_t mask) {
    if (!mask) return true;
    while (!(mask & 1)) mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

uint8_t scaled(uint32_t pixel, const MaskField& f) {
    if (f.bits == 0) return 0;
    uint32_t v = (pixel >> f.shift) & ((f.bits >= 32 ? 0xFFFFFFFFu : (1u << f.bits) - 1));
    if (f.bits >= 8) return static_cast<uint8_t>(v >> (f.bits - 8));
    // Spread the few bits over 0…255.
    uint32_t max = (1u << f.bits) - 1;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

}  // namespace

DibResult checkPackedDib(const uint8_t* data, size_t size, DibLayout* layout) {
    if (!data || size < 40 || le32(data) != 40) return DIB_NOT_INFO_HEADER;
    int32_t width = static_cast<int32_t>(le32(data + 4));
    int32_t height = static_cast<int32_t>(le32(data + 8));
    uint16_t planes = le16(data + 12);
    int bpp = le16(data + 14);
    uint32_t compression = le32(data + 16);
    uint32_t used = le32(data + 32);
    if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN) return DIB_UNSUPPORTED;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return DIB_UNSUPPORTED;
    bool bitfields = compression == BI_BITFIELDS_CODE;
    if (compression != BI_RGB_CODE && !(bitfields && (bpp == 16 || bpp == 32))) return DIB_UNSUPPORTED;
    if (used > 256) return DIB_UNSUPPORTED;
    DibLayout l;
    memset(&l, 0, sizeof l);
    l.width = width;
    l.topDown = height < 0;
    l.height = height < 0 ? -height : height;
    l.bitsPerPixel = bpp;
    uint64_t offset = 40;
    if (bitfields) {
        if (size < 52) return DIB_TRUNCATED;
        for (int i = 0; i < 3; ++i) {
            l.masks[i] = le32(data + 40 + 4 * i);
            if (!contiguous(l.masks[i])) return DIB_UNSUPPORTED;
        }
        offset += 12;
    } else if (bpp == 16) {
        l.masks[0] = 0x7C00;
        l.masks[1] = 0x03E0;
        l.masks[2] = 0x001F;
    } else if (bpp == 32) {
        l.masks[0] = 0x00FF0000;
        l.masks[1] = 0x0000FF00;
        l.masks[2] = 0x000000FF;
    }
    l.tableOffset = static_cast<size_t>(offset);
    if (bpp <= 8) {
        uint32_t max = 1u << bpp;
        l.colours = used == 0 ? max : used;
        if (l.colours > max) l.colours = max;  // entries past 2^bits can never be used
        offset += static_cast<uint64_t>(used == 0 ? max : used) * 4;
    } else {
        offset += static_cast<uint64_t>(used) * 4;  // an optional table for palette displays
    }
    uint64_t stride = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(l.height) > pixelLimit()) return DIB_TOO_LARGE;
    if (offset > size || stride * static_cast<uint64_t>(l.height) > size - offset) return DIB_TRUNCATED;
    l.bitsOffset = static_cast<size_t>(offset);
    l.stride = static_cast<size_t>(stride);
    *layout = l;
    return DIB_OK;
}

DibResult imageFromPackedDib(const uint8_t* data, size_t size, Image* image) {
    DibLayout l;
    DibResult r = checkPackedDib(data, size, &l);
    if (r != DIB_OK) return r;
    bool palette = l.bitsPerPixel <= 8;
    if (!createImage(image, palette ? IMG_PALETTE : IMG_RGB, 4, l.width, l.height)) return DIB_NO_MEMORY;
    if (palette) {
        memset(image->palette, 0, PALETTE_BYTES);
        for (uint32_t i = 0; i < l.colours; ++i) {
            const uint8_t* q = data + l.tableOffset + 4 * i;  // blue, green, red, reserved
            image->palette[i] = q[2];
            image->palette[256 + i] = q[1];
            image->palette[512 + i] = q[0];
        }
        image->colours = static_cast<int32_t>(l.colours);
    }
    MaskField fields[3] = {fieldOf(l.masks[0]), fieldOf(l.masks[1]), fieldOf(l.masks[2])};
    for (int32_t y = 0; y < l.height; ++y) {
        int32_t stored = l.topDown ? y : l.height - 1 - y;
        const uint8_t* src = data + l.bitsOffset + static_cast<size_t>(stored) * l.stride;
        uint8_t* dst = imageRow(image, y);
        for (int32_t x = 0; x < l.width; ++x) {
            switch (l.bitsPerPixel) {
            case 1: dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1; break;
            case 4: dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4); break;
            case 8: dst[x] = src[x]; break;
            case 24:
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
                break;
            default: {
                uint32_t pixel = l.bitsPerPixel == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                for (int c = 0; c < 3; ++c) dst[3 * x + c] = scaled(pixel, fields[c]);
                break;
            }
            }
        }
    }
    return DIB_OK;
}
