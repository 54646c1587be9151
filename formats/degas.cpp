// Degas and Degas Elite pictures (reader and writer) and NEOchrome pictures
// (reader): Atari screens behind a small header.
//
// Degas: a compression byte (0x00 plain, 0x80 Degas Elite runs), a resolution
// byte (0, 1, 2 for the ST modes; 4, 5 and 7 for TT medium, high and low),
// the palette (16 words, 256 for TT low, none for TT high), then the rows. A
// plain file holds rows in screen order and is known by its size (an ST file
// may carry 32 bytes of colour-animation data after the screen); a
// compressed file holds every row run-length coded, the decoded row being
// line-planar. Runs may cross from one plane into the next.
//
// NEOchrome: a 128-byte header (a zero flag and resolution word, 16 palette
// words, then names and animation data) and an ST low screen: 32128 bytes.
// The extended (TT low) form starts 0xBABE0007 and holds 256 palette words
// before its screen: 154116 bytes.
#include <cstring>

#include "atari.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

constexpr uint8_t DEGAS_PLAIN = 0x00;
constexpr uint8_t DEGAS_PACKED = 0x80;
constexpr int DEGAS_MAX_PALETTE = 256;
constexpr uint32_t NEO_EXTENDED = 0xBABE0007;
constexpr int64_t NEO_SIZE = 32128;
constexpr int64_t NEO_EXTENDED_SIZE = 154116;
constexpr int64_t NEO_HEADER = 128;

// The screen mode of a Degas resolution byte, or -1.
int degasMode(uint8_t code) {
    switch (code) {
        case 0: return ST_LOW;
        case 1: return ST_MEDIUM;
        case 2: return ST_HIGH;
        case 4: return TT_MEDIUM;
        case 5: return TT_HIGH;
        case 7: return TT_LOW;
        default: return -1;
    }
}

int degasPaletteWords(int mode) { return mode == TT_LOW ? 256 : mode == TT_HIGH ? 0 : 16; }

const char* degasName(int mode, bool packed) {
    static const char* const PLAIN[ST_MODE_COUNT] = {
        "Degas (Low Resolution)",     "Degas (Medium Resolution)",    "Degas (High Resolution)",
        "Degas TT (Low Resolution)",  "Degas TT (Medium Resolution)", "Degas TT (High Resolution)"};
    static const char* const PACKED[ST_MODE_COUNT] = {
        "Degas (Low Resolution - RLE)",    "Degas (Medium Resolution - RLE)",
        "Degas (High Resolution - RLE)",   "Degas TT (Low Resolution - RLE)",
        "Degas TT (Medium Resolution - RLE)", "Degas TT (High Resolution - RLE)"};
    return packed ? PACKED[mode] : PLAIN[mode];
}

// Whether a plain file of this size holds a whole picture of the mode. TT
// high files have no palette and no fixed trailer: any size holding the
// screen will do.
bool degasPlainSizeFits(int mode, int64_t size) {
    switch (mode) {
        case ST_LOW:
        case ST_MEDIUM:
        case ST_HIGH: return size == 32034 || size == 32066;
        case TT_MEDIUM: return size == 153634;
        case TT_LOW: return size == 154114;
        default: return size >= 2 + stScreenBytes(TT_HIGH);
    }
}

void endDegas(int mode, const uint8_t* palette) {
    if (mode == TT_HIGH) endImage(PF_INVERT, 0, nullptr);  // a set bit is black
    else if (mode == TT_LOW || mode == TT_MEDIUM) endImage(PF_RGB12, 4, palette);
    else endImage(PF_ST9, 3, palette);
}

// ---- Writer -----------------------------------------------------------------

struct DegasChoice {
    uint8_t code;
    int mode;
    uint16_t paletteFormat;  // 0: the black-and-white palette of its own
    int paletteWords;
};

// The resolution for the picture: black and white by its size, grey and
// colour-mapped by size and colour count. False when none fits.
bool degasChoose(const SaveRequest* r, DegasChoice* c) {
    const bool binary = r->kind == IMG_BINARY;
    const bool mapped = r->kind == IMG_GREY || r->kind == IMG_PALETTE;
    const int colours = r->colours;
    struct Line {
        bool binary;
        int32_t width, height;
        int colours;
        DegasChoice choice;
    };
    static const Line LINES[] = {
        {true, 640, 400, 2, {2, ST_HIGH, 0, 16}},
        {true, 1280, 960, 2, {5, TT_HIGH, 0, 0}},
        {false, 640, 200, 4, {1, ST_MEDIUM, PF_ST9, 16}},
        {false, 320, 200, 16, {0, ST_LOW, PF_ST9, 16}},
        {false, 640, 480, 16, {4, TT_MEDIUM, PF_RGB12, 16}},
        {false, 320, 480, 256, {7, TT_LOW, PF_RGB12, 256}},
    };
    for (const Line& l : LINES) {
        if (l.binary ? !binary : !mapped) continue;
        if (r->width != l.width || r->height != l.height) continue;
        if (!l.binary && (colours < 1 || colours > l.colours)) continue;
        *c = l.choice;
        return true;
    }
    return false;
}

}  // namespace

bool acceptDegas(const uint8_t* head, size_t n, int64_t size) {
    if (n < 2 || (head[0] != DEGAS_PLAIN && head[0] != DEGAS_PACKED)) return false;
    const int mode = degasMode(head[1]);
    if (mode < 0) return false;
    const int words = degasPaletteWords(mode);
    if (n < 2 + 2 * static_cast<size_t>(words) || !stPaletteWordsPlausible(head + 2, words)) return false;
    if (head[0] == DEGAS_PLAIN) return degasPlainSizeFits(mode, size);
    return size > 2 + 2 * words;
}

Status readDegas(FILE* stream, LoadRequest*) {
    uint8_t head[2];
    if (!readBlock(stream, head, 2)) return ST_UNKNOWN_FORMAT;
    const int mode = degasMode(head[1]);
    if (mode < 0 || (head[0] != DEGAS_PLAIN && head[0] != DEGAS_PACKED)) return ST_UNKNOWN_FORMAT;
    const bool packed = head[0] == DEGAS_PACKED;
    uint8_t palette[2 * DEGAS_MAX_PALETTE] = {};
    if (!readBlock(stream, palette, 2 * static_cast<size_t>(degasPaletteWords(mode)))) return ST_UNKNOWN_FORMAT;

    RasterHeader rh;
    Status st = stBeginScreen(mode, packed ? 0 : PL_WORD_PLANES, degasName(mode, packed), packed ? "RLE" : nullptr,
                              &rh);
    if (st != ST_OK) return st;
    if (packed) {
        RowFeed feed;
        st = feed.begin(stRowBytes(mode), rh.height);
        if (st == ST_OK) st = stUnpackDegasRuns(stream, &feed);
    } else {
        st = readRows(stream, stRowBytes(mode), rh.height);
    }
    endDegas(mode, palette);
    return st;
}

Status writeDegas(FILE* stream, SaveRequest* request) {
    DegasChoice c{};
    if (!degasChoose(request, &c)) return ST_KIND_REFUSED;
    const StMode& m = stMode(c.mode);
    WriteHeader wh{};
    // Black-and-white screens show a set bit black.
    wh.layout = static_cast<uint16_t>(PL_WORD_PLANES | (c.paletteFormat == 0 ? PL_MIN_IS_WHITE : 0));
    wh.channels = 1;
    wh.planes = m.planes;
    wh.bitsPerPlane = 1;
    wh.bytesPerPlane = stPlaneRowBytes(m.width);
    wh.paletteFormat = c.paletteFormat;
    wh.componentBits = static_cast<uint16_t>(c.paletteFormat == PF_ST9 ? 3 : 4);
    setRasterName(wh.name, degasName(c.mode, false));
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    uint8_t header[2 + 2 * DEGAS_MAX_PALETTE] = {DEGAS_PLAIN, c.code};
    if (c.paletteFormat != 0 && wh.palette) {
        // The core hands the words over in machine order; the file holds them big-endian.
        const int entries = 1 << m.planes;  // the rest of the 16 words stay black
        for (int i = 0; i < entries; ++i) {
            uint16_t w;
            memcpy(&w, wh.palette + 2 * i, 2);
            header[2 + 2 * i] = static_cast<uint8_t>(w >> 8);
            header[3 + 2 * i] = static_cast<uint8_t>(w);
        }
    } else if (c.paletteWords > 0) {
        header[2] = 0x07;  // word 0 white, word 1 black
        header[3] = 0x77;
    }
    const size_t headerBytes = 2 + 2 * static_cast<size_t>(c.paletteWords);
    st = writeBlock(stream, header, headerBytes) ? ST_OK : ST_WRITE_ERROR;
    if (st == ST_OK) st = writeRows(stream, stRowBytes(c.mode), m.height);
    endWrite();
    return st;
}

bool acceptNeo(const uint8_t* head, size_t n, int64_t size) {
    if (n < 4) return false;
    const uint32_t flag = loadU32BE(head);
    if (flag == 0) return size == NEO_SIZE && n >= 36 && stPaletteWordsPlausible(head + 4, 16);
    return flag == NEO_EXTENDED && size == NEO_EXTENDED_SIZE && n >= 516 && stPaletteWordsPlausible(head + 4, 256);
}

Status readNeo(FILE* stream, LoadRequest*) {
    uint8_t head[4];
    if (!readBlock(stream, head, 4)) return ST_UNKNOWN_FORMAT;
    const bool extended = loadU32BE(head) == NEO_EXTENDED;
    if (!extended && loadU32BE(head) != 0) return ST_UNKNOWN_FORMAT;
    const int mode = extended ? TT_LOW : ST_LOW;
    uint8_t palette[2 * 256] = {};
    // A standard header runs on past its palette to byte 128.
    const size_t rest = extended ? 512 : NEO_HEADER - 4;
    uint8_t header[512];
    if (!readBlock(stream, header, rest)) return ST_UNKNOWN_FORMAT;
    memcpy(palette, header, extended ? 512 : 32);

    RasterHeader rh;
    Status st = stBeginScreen(mode, PL_WORD_PLANES, extended ? "Neochrome Extended" : "Neochrome", nullptr, &rh);
    if (st != ST_OK) return st;
    st = readRows(stream, stRowBytes(mode), rh.height);
    if (extended) endImage(PF_RGB12, 4, palette);
    else endImage(PF_ST9, 3, palette);
    return st;
}
