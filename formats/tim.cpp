// Sony PlayStation textures (.tim), little-endian throughout.
//
// The file opens with the word 0x10 and a flags word: the pixel mode in bits
// 0-2 (0 4-bit indexed, 1 8-bit indexed, 2 16-bit, 3 24-bit) and bit 3 when a
// colour table (CLUT) block follows. Each block is a length (12 header bytes
// included), a position in video memory, a width in 16-bit words and a height,
// then the words. Colours and 16-bit pixels are words with red in bits 0-4,
// green in 5-9, blue in 10-14. 4-bit pixels keep the leftmost in the low
// nibble. Several textures may follow one another: each is a page.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_MODE[] = "TIM : Unsupported pixel mode !";
const char MSG_CLUT[] = "TIM : Bad CLUT !";
const char MSG_BAD_SIZE[] = "TIM : Bad picture's size !";

const char* const NAMES[] = {"Sony Playstation TIM (4 bits)", "Sony Playstation TIM (8 bits)",
                             "Sony Playstation TIM (16 bits)", "Sony Playstation TIM (24 bits)"};
const char* const NAMES_NO_CLUT[] = {"Sony Playstation TIM (4 bits, no CLUT)",
                                     "Sony Playstation TIM (8 bits, no CLUT)"};

constexpr uint32_t TIM_ID = 0x10;
constexpr uint32_t FLAG_CLUT = 8;
constexpr uint32_t BLOCK_HEADER = 12;
constexpr uint32_t MAX_PAGES = 4096;

struct TimBlock {
    uint32_t length;
    uint32_t words;  // width in 16-bit words
    uint32_t height;
};

struct TimImage {
    uint32_t mode;
    bool clut;
    TimBlock table, pixels;
    int64_t tableAt, pixelsAt, end;  // file offsets of the data and of the next texture
};

bool readBlockHeader(FILE* f, TimBlock* b) {
    uint8_t h[BLOCK_HEADER];
    if (!readBlock(f, h, sizeof h)) return false;
    b->length = loadU32LE(h);
    b->words = loadU16LE(h + 8);
    b->height = loadU16LE(h + 10);
    return true;
}

// The texture at offset at: its blocks, checked against the file's size.
Status readTexture(FILE* f, int64_t at, int64_t fileSize, TimImage* t) {
    uint8_t h[8];
    if (!seekTo(f, static_cast<uint64_t>(at)) || !readBlock(f, h, sizeof h)) return ST_READ_ERROR;
    if (loadU32LE(h) != TIM_ID) return ST_UNKNOWN_FORMAT;
    const uint32_t flags = loadU32LE(h + 4);
    if (flags & ~0xFu) return ST_UNKNOWN_FORMAT;
    t->mode = flags & 7;
    t->clut = (flags & FLAG_CLUT) != 0;
    int64_t pos = at + 8;
    if (t->clut) {
        if (!readBlockHeader(f, &t->table)) return ST_READ_ERROR;
        t->tableAt = pos + BLOCK_HEADER;
        // Some tools leave the 12 header bytes out of the length: the sizes decide.
        pos = t->tableAt + 2 * static_cast<int64_t>(t->table.words) * t->table.height;
        if (pos > fileSize) return ST_READ_ERROR;
        if (!seekTo(f, static_cast<uint64_t>(pos))) return ST_READ_ERROR;
    }
    if (!readBlockHeader(f, &t->pixels)) return ST_READ_ERROR;
    t->pixelsAt = pos + BLOCK_HEADER;
    t->end = t->pixelsAt + 2 * static_cast<int64_t>(t->pixels.words) * t->pixels.height;
    return ST_OK;
}

inline uint8_t fiveToEight(uint32_t v) { return static_cast<uint8_t>((v & 31) * 255 / 31); }

// The first CLUT row as R,G,B triplets.
Status readPalette(FILE* f, const TimImage& t, uint8_t* table) {
    const uint32_t entries = t.table.words < 256 ? t.table.words : 256;
    uint8_t words[512];
    if (!seekTo(f, static_cast<uint64_t>(t.tableAt)) || !readBlock(f, words, 2 * entries)) return ST_READ_ERROR;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t w = loadU16LE(words + 2 * i);
        table[3 * i] = fiveToEight(w);
        table[3 * i + 1] = fiveToEight(w >> 5);
        table[3 * i + 2] = fiveToEight(w >> 10);
    }
    return ST_OK;
}

// 4-bit rows keep the leftmost pixel in the low nibble.
void swapNibbles(const void* data, const uint8_t* stored, uint8_t* out) {
    const int64_t n = *static_cast<const int64_t*>(data);
    for (int64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((stored[i] >> 4) | (stored[i] << 4));
}

// Counts the textures that follow one another, up to the first that does not parse.
int32_t countTextures(FILE* f, int64_t fileSize, int32_t wanted, TimImage* chosen) {
    int32_t count = 0;
    int64_t at = 0;
    while (count < static_cast<int32_t>(MAX_PAGES) && at + 8 <= fileSize) {
        TimImage t{};
        if (readTexture(f, at, fileSize, &t) != ST_OK || t.end > fileSize || t.mode > 3) break;
        if (count == wanted) *chosen = t;
        ++count;
        if (t.end <= at) break;
        at = t.end;
    }
    return count;
}

}  // namespace

bool acceptTim(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < 20 || loadU32LE(head) != TIM_ID) return false;
    const uint32_t flags = loadU32LE(head + 4);
    if (flags & ~0xFu || (flags & 7) > 3) return false;
    // The first block's dimensions must fit in its length and in the file.
    const uint32_t length = loadU32LE(head + 8);
    const uint64_t data = 2 * static_cast<uint64_t>(loadU16LE(head + 16)) * loadU16LE(head + 18);
    if (data == 0 || (length != data + BLOCK_HEADER && length != data)) return false;
    return fileSize <= 0 || static_cast<uint64_t>(fileSize) >= 8 + BLOCK_HEADER + data;
}

Status readTim(FILE* stream, LoadRequest* request) {
    TimImage t{};
    Status st = readTexture(stream, 0, request->fileSize, &t);
    if (st != ST_OK) return st == ST_READ_ERROR ? ST_UNKNOWN_FORMAT : st;
    if (t.mode > 3) {
        setReaderMessage(request, MSG_MODE);
        return ST_BAD_FILE;
    }
    const int32_t page = request->pageIndex > 0 ? request->pageIndex : 0;
    TimImage chosen = t;
    const int32_t pages = countTextures(stream, request->fileSize, page, &chosen);
    request->pageCount = pages > 0 ? pages : 1;
    if (page < pages) t = chosen;

    const uint32_t words = t.pixels.words;
    const int64_t rowBytes = 2 * static_cast<int64_t>(words);
    int64_t width = t.mode == 0 ? 4 * words : t.mode == 1 ? 2 * words : t.mode == 2 ? words : rowBytes / 3;
    if (width < 1 || width > MAX_IMAGE_SIDE || t.pixels.height < 1 || t.pixels.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    const bool indexed = t.mode < 2;
    uint8_t table[PALETTE_BYTES] = {};
    bool mapped = false;
    if (indexed && t.clut) {
        if (t.table.words < (t.mode == 0 ? 16u : 256u) || t.table.height < 1) {
            setReaderMessage(request, MSG_CLUT);
            return ST_BAD_FILE;
        }
        st = readPalette(stream, t, table);
        if (st != ST_OK) return st;
        mapped = true;
    }

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(t.pixels.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(t.mode == 0 ? 4 : t.mode == 1 ? 8 : t.mode == 2 ? 15 : 24);
    rh.layout = t.mode == 2 ? PL_BGR555 : 0;
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, indexed && !mapped ? NAMES_NO_CLUT[t.mode] : NAMES[t.mode]);
    if (!seekTo(stream, static_cast<uint64_t>(t.pixelsAt))) return ST_READ_ERROR;
    st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = t.mode == 0 ? readRows(stream, rowBytes, rh.height, -1, swapNibbles, &rowBytes)
                     : readRows(stream, rowBytes, rh.height);
    if (mapped) endImage(PF_TRIPLETS, 8, table);
    else endImage(0, 8, nullptr);
    return st;
}
