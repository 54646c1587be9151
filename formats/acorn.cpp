// Acorn RISC OS sprite files (reader only); each sprite is a page.
//
// The file is a sprite area without its first word: the number of sprites,
// the offset of the first sprite and of the free space (both counted from the
// area's start, so 4 more than in the file), then the sprites. A sprite
// starts with a 44-byte control block of 32-bit little-endian words: the
// offset of the next sprite, a 12-character name, the width in words minus
// one, the height in rows minus one, the first bit used in each row's first
// word and the last bit used in its last word, the offsets of the pixels and
// of the mask (both from the sprite's start; the mask offset equals the
// pixels' when there is none), and the mode word. Colour pairs of two words
// (0xBBGGRR00, the second a flash colour) fill the room between the control
// block and the pixels.
//
// Old sprites (mode word below 256) name a screen mode, which fixes the bits
// per pixel; new ones (bit 0 set) keep a type in bits 27-30 and their
// resolutions in bits 14-26 (x) and 1-13 (y). Rows are whole words, top row
// first, and the leftmost pixel of a byte sits in its least significant bits.
// 16-bit pixels are 5-5-5 words with red lowest, 32-bit pixels R,G,B,x.
// A 32-bit sprite's mask (one bit a pixel, or one byte a pixel when bit 31 of
// the mode word is set) becomes its alpha; the masks of sprites with a
// palette are not kept.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_MODE[] = "Acorn : Unsupported mode !";
const char MSG_BAD_SIZE[] = "Acorn : Bad picture's size !";
const char MSG_BAD_SPRITE[] = "Acorn : Bad sprite offset !";

const char NAME_SPRITE[] = "Acorn Sprite";

constexpr size_t AREA_HEADER = 12;
constexpr size_t CONTROL_BLOCK = 44;
constexpr uint32_t MAX_SPRITES = 10000;
constexpr uint32_t MAX_WORDS = 16000;  // width in words, height in rows

struct Sprite {
    uint32_t size;
    uint32_t widthWords;
    uint32_t height;
    uint32_t firstBit;
    uint32_t lastBit;
    uint32_t imageAt;
    uint32_t maskAt;
    uint32_t mode;
    int bpp;          // 0: mode not known
    bool byteMask;    // new-format 8-bit alpha mask
    int xdpi, ydpi;
};

// Bits per pixel of the old screen modes (0: unknown).
int oldModeBits(uint32_t mode) {
    static const uint8_t BITS[50] = {
        1, 2, 4, 0, 1, 2, 0, 0, 2, 4,  // 0-9
        8, 2, 4, 8, 4, 8, 4, 4, 1, 2,  // 10-19
        4, 8, 4, 1, 8, 1, 2, 4, 8, 1,  // 20-29
        2, 4, 8, 1, 2, 4, 8, 1, 2, 4,  // 30-39
        8, 1, 2, 4, 1, 2, 4, 8, 4, 8,  // 40-49
    };
    return mode < 50 ? BITS[mode] : 0;
}

void oldModeDpi(uint32_t mode, int* x, int* y) {
    *x = *y = 0;
    switch (mode) {
    case 0: case 8: case 12: case 15: case 36: *x = 90; *y = 45; break;
    case 1: case 4: case 9: case 13: *x = 45; *y = 45; break;
    case 18: case 19: case 20: case 21: case 27: case 28: case 31: case 32: *x = 90; *y = 90; break;
    default: break;
    }
}

Sprite parseSprite(const uint8_t* b) {
    Sprite s{};
    s.size = loadU32LE(b);
    s.widthWords = loadU32LE(b + 16) + 1;
    s.height = loadU32LE(b + 20) + 1;
    s.firstBit = loadU32LE(b + 24);
    s.lastBit = loadU32LE(b + 28);
    s.imageAt = loadU32LE(b + 32);
    s.maskAt = loadU32LE(b + 36);
    s.mode = loadU32LE(b + 40);
    if (s.mode < 256) {
        s.bpp = oldModeBits(s.mode);
        oldModeDpi(s.mode, &s.xdpi, &s.ydpi);
    } else if (s.mode & 1) {
        static const int TYPE_BITS[16] = {0, 1, 2, 4, 8, 16, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        s.bpp = TYPE_BITS[(s.mode >> 27) & 15];
        s.byteMask = (s.mode >> 31) != 0;
        s.xdpi = static_cast<int>((s.mode >> 14) & 0x1FFF);
        s.ydpi = static_cast<int>((s.mode >> 1) & 0x1FFF);
        if (s.firstBit != 0) s.bpp = 0;
    }
    return s;
}

// The control block's fields that do not depend on the mode.
bool saneSprite(const Sprite& s) {
    return s.size >= CONTROL_BLOCK && s.widthWords >= 1 && s.widthWords <= MAX_WORDS && s.height >= 1 &&
           s.height <= MAX_WORDS && s.firstBit < 32 && s.lastBit < 32 && s.imageAt >= CONTROL_BLOCK &&
           s.maskAt >= CONTROL_BLOCK;
}

bool knownModeWord(uint32_t mode) { return mode < 256 ? oldModeBits(mode) != 0 : (mode & 1) != 0; }

// The default colours of each depth, R,G,B.
void defaultPalette(int bpp, uint8_t* table) {
    static const uint8_t DESKTOP[48] = {
        0xFF, 0xFF, 0xFF, 0xDD, 0xDD, 0xDD, 0xBB, 0xBB, 0xBB, 0x99, 0x99, 0x99, 0x77, 0x77, 0x77, 0x55,
        0x55, 0x55, 0x33, 0x33, 0x33, 0x00, 0x00, 0x00, 0x00, 0x44, 0x99, 0xEE, 0xEE, 0x00, 0x00, 0xCC,
        0x00, 0xDD, 0x00, 0x00, 0xEE, 0xEE, 0xBB, 0x55, 0x88, 0x00, 0xFF, 0xBB, 0x00, 0x00, 0xBB, 0xFF,
    };
    static const uint8_t GREYS[4] = {0xFF, 0xBB, 0x77, 0x00};
    if (bpp == 1) {
        memset(table, 0xFF, 3);
        memset(table + 3, 0, 3);
    } else if (bpp == 2) {
        for (int i = 0; i < 4; ++i) memset(table + 3 * i, GREYS[i], 3);
    } else if (bpp == 4) {
        memcpy(table, DESKTOP, sizeof DESKTOP);
    } else {
        for (int k = 0; k < 256; ++k) {
            table[3 * k] = static_cast<uint8_t>(17 * ((k & 7) + ((k & 16) >> 1)));
            table[3 * k + 1] = static_cast<uint8_t>(17 * ((k & 3) + ((k & 96) >> 3)));
            table[3 * k + 2] = static_cast<uint8_t>(17 * ((k & 3) + ((k & 8) >> 1) + ((k & 128) >> 4)));
        }
    }
}

// Rows of 1..8 bits: one byte a pixel from the leftmost visible one.
struct IndexRows {
    int bpp;
    uint32_t first;  // the first visible pixel
    int32_t width;
};

void unpackIndexes(const void* data, const uint8_t* stored, uint8_t* out) {
    const IndexRows& r = *static_cast<const IndexRows*>(data);
    const unsigned mask = (1u << r.bpp) - 1;
    const int perByte = 8 / r.bpp;
    for (int32_t x = 0; x < r.width; ++x) {
        const uint32_t p = r.first + static_cast<uint32_t>(x);
        out[x] = static_cast<uint8_t>((stored[p / perByte] >> ((p % perByte) * r.bpp)) & mask);
    }
}

// 32-bit pixels R,G,B,x: the alpha of each pixel from the mask rows.
Status readTrueColourWithMask(FILE* f, const Sprite& s, int32_t width, const uint8_t* mask, size_t maskSize,
                              int64_t maskRowBytes) {
    const int64_t rowBytes = int64_t(s.widthWords) * 4;
    Buffer inRow = allocBuffer(static_cast<uint64_t>(rowBytes)), outRow = allocBuffer(static_cast<uint64_t>(width) * 4);
    if (!inRow || !outRow) return ST_NO_MEMORY;
    const uint8_t* in = inRow.get();
    uint8_t* out = outRow.get();
    for (uint32_t y = 0; y < s.height; ++y) {
        if (!readBlock(f, inRow.get(), static_cast<size_t>(rowBytes))) return ST_READ_ERROR;
        const size_t rowAt = static_cast<size_t>(y * maskRowBytes);
        for (int32_t x = 0; x < width; ++x) {
            memcpy(&out[4 * x], &in[4 * x], 3);
            uint8_t a = 0xFF;  // a mask cut short leaves the rest opaque
            if (s.byteMask) {
                if (rowAt + x < maskSize) a = mask[rowAt + x];
            } else if (rowAt + x / 8 < maskSize) {
                a = (mask[rowAt + x / 8] >> (x % 8)) & 1 ? 0xFF : 0x00;
            }
            out[4 * x + 3] = a;
        }
        Status st = deliverRow(out, int64_t(width) * 4, static_cast<int32_t>(y));
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// 32-bit pixels without a mask: R,G,B.
void dropFourthByte(const void* data, const uint8_t* stored, uint8_t* out) {
    const int32_t width = *static_cast<const int32_t*>(data);
    for (int32_t x = 0; x < width; ++x) memcpy(out + 3 * x, stored + 4 * x, 3);
}

Status refuse(LoadRequest* request, const char* message) {
    setReaderMessage(request, message);
    return ST_BAD_FILE;
}

}  // namespace

bool acceptAcorn(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < AREA_HEADER + CONTROL_BLOCK) return false;
    const uint32_t count = loadU32LE(head);
    const uint32_t first = loadU32LE(head + 4);
    if (count < 1 || count > MAX_SPRITES || first < AREA_HEADER + 4) return false;
    const uint64_t at = first - 4;
    if ((fileSize > 0 && at >= static_cast<uint64_t>(fileSize)) || at + CONTROL_BLOCK > n) return false;
    const Sprite s = parseSprite(head + at);
    return saneSprite(s) && knownModeWord(s.mode);
}

Status readAcorn(FILE* stream, LoadRequest* request) {
    uint8_t area[AREA_HEADER];
    if (!readBlock(stream, area, sizeof area)) return ST_UNKNOWN_FORMAT;
    const uint32_t count = loadU32LE(area);
    if (count < 1 || count > MAX_SPRITES) return ST_UNKNOWN_FORMAT;
    request->pageCount = static_cast<int32_t>(count);
    const uint32_t page = request->pageIndex < 0 ? 0
                          : static_cast<uint32_t>(request->pageIndex) >= count ? count - 1
                                                                               : static_cast<uint32_t>(request->pageIndex);

    // Walk the chain of sprites up to the page asked for.
    const uint64_t fileSize = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : UINT64_MAX;
    uint64_t at = loadU32LE(area + 4);
    if (at < AREA_HEADER + 4) return ST_UNKNOWN_FORMAT;
    at -= 4;
    uint8_t block[CONTROL_BLOCK];
    Sprite s{};
    for (uint32_t k = 0;; ++k) {
        if (at + CONTROL_BLOCK > fileSize) return k == 0 ? ST_UNKNOWN_FORMAT : refuse(request, MSG_BAD_SPRITE);
        if (!seekTo(stream, at) || !readBlock(stream, block, sizeof block)) return ST_READ_ERROR;
        s = parseSprite(block);
        if (!saneSprite(s)) return k == 0 ? ST_UNKNOWN_FORMAT : refuse(request, MSG_BAD_SPRITE);
        if (k == page) break;
        at += s.size;
    }
    if (s.bpp == 0) return refuse(request, MSG_BAD_MODE);

    // The visible pixels of each row.
    const int64_t usedBits = int64_t(s.widthWords) * 32 - s.firstBit - (31 - s.lastBit);
    const int64_t width = usedBits / s.bpp;
    if (usedBits <= 0 || width < 1 || width > MAX_IMAGE_SIDE || s.height > static_cast<uint32_t>(MAX_IMAGE_SIDE))
        return refuse(request, MSG_BAD_SIZE);
    const int64_t rowBytes = int64_t(s.widthWords) * 4;

    // Colour pairs between the control block and the pixels.
    uint8_t table[PALETTE_BYTES] = {};
    if (s.bpp <= 8) {
        defaultPalette(s.bpp, table);
        const uint32_t pairs = (s.imageAt - CONTROL_BLOCK) / 8;
        const uint32_t used = pairs < (1u << s.bpp) ? pairs : (1u << s.bpp);
        uint8_t raw[256 * 8];
        if (!readBlock(stream, raw, static_cast<size_t>(used) * 8)) return ST_READ_ERROR;
        for (uint32_t i = 0; i < used; ++i) memcpy(table + 3 * i, &raw[8 * i + 1], 3);
    }

    const bool masked = s.bpp == 32 && s.maskAt != s.imageAt;
    RasterHeader rh{};
    rh.channels = s.bpp >= 16 ? 4 : 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(s.height);
    rh.planes = 1;
    rh.xdpi = s.xdpi;
    rh.ydpi = s.ydpi;
    if (s.bpp <= 8) {
        rh.layout = PL_BYTE_PIXELS;
        rh.bitsPerPlane = static_cast<int16_t>(s.bpp);
        rh.bytesPerPlane = rh.width;
    } else if (s.bpp == 16) {
        rh.layout = PL_BGR555;
        rh.bitsPerPlane = 15;
        rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    } else {
        rh.bitsPerPlane = masked ? 32 : 24;
        rh.bytesPerPlane = rh.width * (masked ? 4 : 3);
    }
    setRasterName(rh.name, NAME_SPRITE);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // A 32-bit sprite's mask is read whole before the pixels (a quarter of
    // the picture at most, what the file holds of it).
    Buffer mask;
    size_t maskSize = 0;
    const int64_t maskRowBytes = s.byteMask ? (width + 3) / 4 * 4 : (width + 31) / 32 * 4;
    if (masked) {
        const uint64_t maskAt = at + s.maskAt;
        const uint64_t want = static_cast<uint64_t>(maskRowBytes) * s.height;
        const uint64_t room = maskAt < fileSize ? fileSize - maskAt : 0;
        mask = allocBuffer(want < room ? want : room);
        if (!mask) st = ST_NO_MEMORY;
        else if (seekTo(stream, maskAt)) maskSize = fread(mask.get(), 1, static_cast<size_t>(want < room ? want : room), stream);
    }
    if (!seekTo(stream, at + s.imageAt)) st = ST_READ_ERROR;
    const int32_t w = rh.width;
    const IndexRows rows{s.bpp, s.firstBit / static_cast<uint32_t>(s.bpp), w};
    if (st == ST_OK) {
        if (s.bpp <= 8) st = readRows(stream, rowBytes, rh.height, -1, unpackIndexes, &rows);
        else if (s.bpp == 16) st = readRows(stream, rowBytes, rh.height);
        else if (masked) st = readTrueColourWithMask(stream, s, w, mask.get(), maskSize, maskRowBytes);
        else st = readRows(stream, rowBytes, rh.height, -1, dropFourthByte, &w);
    }
    endImage(0, 8, s.bpp <= 8 ? table : nullptr);
    return st;
}
