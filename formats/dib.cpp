// Device-independent bitmap pieces shared by several codecs.
#include "dib.h"

#include <cstdint>
#include <cstring>

#include "rowkit.h"
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

Status dibReadInMemory(const uint8_t* bytes, size_t n, bool packed, LoadRequest* request, const char* name) {
    constexpr size_t FILE_HEADER = 14;
    const size_t lead = packed ? FILE_HEADER : 0;
    if (n < DIB_INFO_HEADER_SIZE + (packed ? 0 : FILE_HEADER) || n > SIZE_MAX - lead) return ST_UNKNOWN_FORMAT;
    Buffer file = allocBuffer(n + lead);
    if (!file) return ST_NO_MEMORY;
    memcpy(file.get() + lead, bytes, n);
    if (packed) {
        // The file header: "BM", the size, and where the rows start, after the
        // information header, its colour masks and the colour table.
        const uint32_t headerSize = loadU32LE(bytes);
        if (headerSize != 12 && (headerSize < DIB_INFO_HEADER_SIZE || headerSize > n)) return ST_UNKNOWN_FORMAT;
        uint64_t dataAt = FILE_HEADER + uint64_t(headerSize);
        if (headerSize == 12) {
            const uint32_t bits = loadU16LE(bytes + 10);
            dataAt += bits <= 8 ? 3 * (uint64_t(1) << bits) : 0;
        } else {
            const DibInfo d = dibParseInfo(bytes);
            if (d.compression == 3 && headerSize == DIB_INFO_HEADER_SIZE) dataAt += 12;  // the three masks
            const uint32_t entries = d.bits <= 8 ? dibPaletteEntries(d.bits, d.coloursUsed)
                                                 : (d.coloursUsed < 256 ? d.coloursUsed : 256);
            dataAt += 4 * uint64_t(entries);
        }
        uint8_t* h = file.get();
        h[0] = 'B';
        h[1] = 'M';
        const uint64_t total = n + lead;
        for (int i = 0; i < 4; ++i) {
            h[2 + i] = static_cast<uint8_t>(total >> (8 * i));
            h[10 + i] = static_cast<uint8_t>(dataAt >> (8 * i));
        }
        memset(h + 6, 0, 4);
    }
    return readFromMemory(file.get(), n + lead, request,
                          [name](FILE* f, LoadRequest* r) { return dibReadBitmapFile(f, r, name); });
}
