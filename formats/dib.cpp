// Device-independent bitmap pieces shared by several codecs.
#include "dib.h"

#include <cstring>

#include "stream.h"

DibInfo dibParseInfo(const uint8_t* p) {
    DibInfo d;
    d.headerSize = loadU32LE(p);
    d.width = static_cast<int32_t>(loadU32LE(p + 4));
    d.height = static_cast<int32_t>(loadU32LE(p + 8));
    d.planes = loadU16LE(p + 12);
    d.bits = loadU16LE(p + 14);
    d.compression = loadU32LE(p + 16);
    d.imageSize = loadU32LE(p + 20);
    d.xPixelsPerMetre = static_cast<int32_t>(loadU32LE(p + 24));
    d.yPixelsPerMetre = static_cast<int32_t>(loadU32LE(p + 28));
    d.coloursUsed = loadU32LE(p + 32);
    return d;
}

uint32_t dibPaletteEntries(uint32_t bits, uint32_t coloursUsed) {
    if (bits > 8) return 0;
    const uint32_t all = 1u << bits;
    return coloursUsed == 0 || coloursUsed > all ? all : coloursUsed;
}

Status dibReadPalette(FILE* f, uint32_t entries, uint32_t entrySize, uint8_t* table) {
    if (entries > 256) entries = 256;
    if (entrySize < 3 || entrySize > 4) return ST_CORRUPT;
    uint8_t raw[256 * 4];
    const size_t want = static_cast<size_t>(entries) * entrySize;
    const size_t got = fread(raw, 1, want, f);
    for (size_t i = 0; i < entries && (i + 1) * entrySize <= got; ++i) memcpy(table + 3 * i, raw + i * entrySize, 3);
    return got == want ? ST_OK : ST_READ_ERROR;
}

uint16_t dibTrueColourLayout(uint32_t bits) {
    switch (bits) {
    case 16: return PL_WORD_HINT;
    case 24: return PL_REVERSED;
    case 32: return PL_BGRA;
    default: return 0;
    }
}
