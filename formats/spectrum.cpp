// Spectrum 512 pictures (readers): ST low screens whose palette changes three
// times along every row, 48 colours a row out of 512.
//
// Plain (.spu, 51104 bytes): the 32000-byte screen, then for rows 1 to 199 a
// set of three 16-word palettes. Compressed (.spc): "SP", a zero word, the
// lengths of the screen data and of the palette data, then both; the screen
// decodes to rows 1 to 199 plane by plane for the whole picture, and each
// palette is a mask word followed by a colour word for every set bit.
// Smooshed (.sps): the same header, screen data decoded column by column into
// line-planar rows, and palettes packed as a bit stream (a 14-bit mask for
// entries 1 to 14, then 9-bit colours).
//
// The palette of a pixel depends on its column: for colour index c the first
// palette holds up to column b - 1, where b = 10c + 1 for even c and 10c - 5
// for odd c, the second the next 160 columns, the third the rest. Row 0 has
// no palette and is black.
#include <cstring>

#include "atari.h"
#include "codecs.h"
#include "kaleocore.h"
#include "lzw.h"
#include "stream.h"

namespace {

constexpr int32_t WIDTH = 320;
constexpr int32_t HEIGHT = 200;
constexpr int32_t PLANE_ROW = 40;
constexpr int32_t ROW = 160;
constexpr int32_t PAINTED_ROWS = 199;  // rows 1 to 199
constexpr int64_t SPU_SIZE = 51104;
constexpr int SET_WORDS = 48;
constexpr int PALETTES = 3 * PAINTED_ROWS;
constexpr int64_t SCREEN_BYTES = int64_t(PAINTED_ROWS) * ROW;  // 31840
constexpr int64_t PLANE_BYTES = int64_t(PAINTED_ROWS) * PLANE_ROW;
constexpr uint32_t MAX_SPC_DATA = 32092;
constexpr uint32_t MAX_SPC_PALETTE = 17910;
constexpr uint32_t MAX_SPS_DATA = 65535;  // 31840 bytes take far less
constexpr int64_t HEADER = 12;

// 48 colours of one row as R,G,B.
using RowColours = uint8_t[SET_WORDS * 3];

// Paints one row of 320 pixels from its line-planar screen row.
void paintRow(const uint8_t* planar, const RowColours colours, uint8_t* out) {
    uint8_t index[WIDTH];
    stPlanarIndices(planar, PLANE_ROW, 4, WIDTH, index);
    for (int32_t x = 0; x < WIDTH; ++x) {
        const int c = index[x];
        const int b = (c & 1) ? 10 * c - 5 : 10 * c + 1;
        const int entry = x < b ? c : x < b + 160 ? c + 16 : c + 32;
        memcpy(out + 3 * x, colours + 3 * entry, 3);
    }
}

Status beginSpectrum(const char* name, const char* compression) {
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = WIDTH;
    rh.height = HEIGHT;
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = WIDTH * 3;
    rh.compression = compression;
    setRasterName(rh.name, name);
    return beginImage(&rh);
}

// Row 0 black, then rows 1 to 199 from their line-planar screen rows and colours.
Status deliverSpectrum(const uint8_t* (*planarRow)(const void*, int32_t, uint8_t*), const void* screen,
                       const RowColours* colours) {
    uint8_t out[WIDTH * 3] = {};
    Status st = deliverRow(out, sizeof out, 0);
    uint8_t scratch[ROW];
    for (int32_t y = 1; st == ST_OK && y < HEIGHT; ++y) {
        paintRow(planarRow(screen, y, scratch), colours[y - 1], out);
        st = deliverRow(out, sizeof out, y);
    }
    return st;
}

const uint8_t* rowFromLinePlanar(const void* screen, int32_t y, uint8_t*) {
    return static_cast<const uint8_t*>(screen) + int64_t(y - 1) * ROW;
}

// ---- Compressed ---------------------------------------------------------------

struct SpcHeader {
    uint32_t dataLength;
    uint32_t paletteLength;
};

bool spcHeader(const uint8_t* b, size_t n, SpcHeader* h) {
    if (n < HEADER || b[0] != 'S' || b[1] != 'P' || b[2] != 0 || b[3] != 0) return false;
    h->dataLength = loadU32BE(b + 4);
    h->paletteLength = loadU32BE(b + 8);
    return true;
}

bool spcLengthsFit(const SpcHeader& h) {
    return h.dataLength >= 1 && h.dataLength <= MAX_SPC_DATA && h.paletteLength >= 1 &&
           h.paletteLength <= MAX_SPC_PALETTE;
}

// Parses the masked palettes of n bytes into 597 sets of 16 words; false when
// they need more bytes than there are.
bool spcParsePalettes(const uint8_t* p, size_t n, uint16_t (*words)[16]) {
    size_t at = 0;
    for (int k = 0; k < PALETTES; ++k) {
        if (at + 2 > n) return false;
        const unsigned mask = loadU16BE(p + at);
        at += 2;
        for (int j = 0; j < 16; ++j) {
            words[k][j] = 0;
            if (!(mask & (1u << j))) continue;
            if (at + 2 > n) return false;
            words[k][j] = loadU16BE(p + at);
            at += 2;
        }
    }
    return true;
}

// Whether a whole file is compressed Spectrum: its palette data parse within
// their declared length (the smooshed form's bit stream does not).
bool spcPalettesParse(FILE* f, const SpcHeader& h, int64_t fileSize, uint16_t (*words)[16], bool* complete) {
    *complete = fileSize >= HEADER + int64_t(h.dataLength) + h.paletteLength;
    if (!*complete) return true;
    uint8_t data[MAX_SPC_PALETTE];
    if (fseek(f, static_cast<long>(HEADER + h.dataLength), SEEK_SET) != 0 || !readBlock(f, data, h.paletteLength)) {
        *complete = false;
        return true;
    }
    return spcParsePalettes(data, h.paletteLength, words);
}

// The screen data: a control byte k >= 0 copies k + 1 bytes, k < 0 repeats
// the next byte 2 - k times; runs are cut at the end of the screen.
Status spcUnpack(StreamCursor* in, uint8_t* planes) {
    int64_t at = 0;
    while (at < SCREEN_BYTES) {
        const int c = in->next();
        if (c < 0) return in->endOfFile() ? ST_READ_ERROR : ST_CORRUPT;
        const int k = static_cast<int8_t>(c);
        if (k >= 0) {
            for (int i = 0; i <= k; ++i) {
                const int v = in->next();
                if (v < 0) return in->endOfFile() ? ST_READ_ERROR : ST_CORRUPT;
                if (at < SCREEN_BYTES) planes[at++] = static_cast<uint8_t>(v);
            }
        } else {
            const int v = in->next();
            if (v < 0) return in->endOfFile() ? ST_READ_ERROR : ST_CORRUPT;
            for (int i = 0; i < 2 - k && at < SCREEN_BYTES; ++i) planes[at++] = static_cast<uint8_t>(v);
        }
    }
    return ST_OK;
}

// Row y gathered from the four plane blocks.
const uint8_t* rowFromPlaneBlocks(const void* screen, int32_t y, uint8_t* scratch) {
    const uint8_t* planes = static_cast<const uint8_t*>(screen);
    for (int p = 0; p < 4; ++p) memcpy(scratch + p * PLANE_ROW, planes + p * PLANE_BYTES + (y - 1) * PLANE_ROW, PLANE_ROW);
    return scratch;
}

// ---- Smooshed -----------------------------------------------------------------

// The screen data, consumed to their declared length: k < 0 copies 129 + k
// bytes, k >= 0 repeats the next byte k + 3 times; bytes go down the byte
// columns of rows 1 to 199.
Status spsUnpack(StreamCursor* in, uint8_t* screen) {
    int64_t k = 0;
    auto place = [&](int v) {
        if (k >= SCREEN_BYTES) return;
        screen[(k % PAINTED_ROWS) * ROW + k / PAINTED_ROWS] = static_cast<uint8_t>(v);
        ++k;
    };
    for (;;) {
        const int c = in->next();
        if (c < 0) break;
        const int code = static_cast<int8_t>(c);
        if (code < 0) {
            for (int i = 0; i < 129 + code; ++i) {
                const int v = in->next();
                if (v < 0) return ST_READ_ERROR;
                place(v);
            }
        } else {
            const int v = in->next();
            if (v < 0) return ST_READ_ERROR;
            for (int i = 0; i < code + 3; ++i) place(v);
        }
    }
    if (in->endOfFile()) return ST_READ_ERROR;
    return k >= SCREEN_BYTES ? ST_OK : ST_CORRUPT;
}

class BitReader {
public:
    explicit BitReader(FILE* f) : f_(f) {}
    // n bits, most significant first; -1 at the end of the file.
    int32_t take(int n) {
        while (count_ < n) {
            const int c = getc(f_);
            if (c == EOF) return -1;
            bits_ = (bits_ << 8) | static_cast<uint32_t>(c);
            count_ += 8;
        }
        count_ -= n;
        return static_cast<int32_t>((bits_ >> count_) & ((1u << n) - 1));
    }

private:
    FILE* f_;
    uint32_t bits_ = 0;
    int count_ = 0;
};

// The bit-packed palettes as R,G,B rows; false when the file ends first.
bool spsPalettes(FILE* f, RowColours* colours) {
    BitReader bits(f);
    for (int k = 0; k < PALETTES; ++k) {
        uint8_t* set = colours[k / 3] + (k % 3) * 16 * 3;
        const int32_t mask = bits.take(14);
        if (mask < 0) return false;
        for (int j = 1; j <= 14; ++j) {
            if (!(mask & (1 << (14 - j)))) continue;
            const int32_t v = bits.take(9);
            if (v < 0) return false;
            set[3 * j] = static_cast<uint8_t>(((v >> 6) & 7) * 255 / 7);
            set[3 * j + 1] = static_cast<uint8_t>(((v >> 3) & 7) * 255 / 7);
            set[3 * j + 2] = static_cast<uint8_t>((v & 7) * 255 / 7);
        }
    }
    return true;
}

}  // namespace

bool acceptSpu(const uint8_t*, size_t, int64_t size) { return size == SPU_SIZE; }

Status readSpu(FILE* stream, LoadRequest*) {
    Buffer file = allocBuffer(SPU_SIZE);
    if (!file) return ST_NO_MEMORY;
    memset(file.get(), 0, SPU_SIZE);
    const size_t got = fread(file.get(), 1, SPU_SIZE, stream);
    const uint8_t* palettes = file.get() + 32000;

    Status st = beginSpectrum("Spectrum 512/4096", nullptr);
    if (st != ST_OK) return st;
    Buffer planar = allocBuffer(SCREEN_BYTES);
    Buffer colours = allocBuffer(sizeof(RowColours) * PAINTED_ROWS);
    if (!planar || !colours) st = ST_NO_MEMORY;
    if (st == ST_OK) {
        auto* rows = reinterpret_cast<RowColours*>(colours.get());
        for (int32_t y = 1; y < HEIGHT; ++y) {
            stInterleavedToPlanar(file.get() + int64_t(y) * ROW, PLANE_ROW, 4, planar.get() + (y - 1) * ROW);
            for (int i = 0; i < SET_WORDS; ++i)
                stWordToRgb(loadU16BE(palettes + (y - 1) * SET_WORDS * 2 + 2 * i), rows[y - 1] + 3 * i);
        }
        st = deliverSpectrum(rowFromLinePlanar, planar.get(), rows);
        if (st == ST_OK && got < SPU_SIZE) st = ST_READ_ERROR;
    }
    endImage(0, 0, nullptr);
    return st;
}

bool acceptSpc(const uint8_t* head, size_t n, int64_t) {
    SpcHeader h;
    return spcHeader(head, n, &h) && spcLengthsFit(h);
}

Status readSpc(FILE* stream, LoadRequest* request) {
    uint8_t b[HEADER];
    SpcHeader h;
    if (!readBlock(stream, b, sizeof b) || !spcHeader(b, sizeof b, &h) || !spcLengthsFit(h)) return ST_UNKNOWN_FORMAT;
    Buffer words = allocBuffer(sizeof(uint16_t) * 16 * PALETTES);
    if (!words) return ST_NO_MEMORY;
    auto* sets = reinterpret_cast<uint16_t(*)[16]>(words.get());
    memset(sets, 0, sizeof(uint16_t) * 16 * PALETTES);
    bool complete = false;
    if (!spcPalettesParse(stream, h, request->fileSize, sets, &complete)) return ST_UNKNOWN_FORMAT;

    Status st = beginSpectrum("Spectrum 512 (Compressed)", "RLE");
    if (st != ST_OK) return st;
    Buffer planes = allocBuffer(SCREEN_BYTES);
    Buffer colours = allocBuffer(sizeof(RowColours) * PAINTED_ROWS);
    if (!planes || !colours || fseek(stream, HEADER, SEEK_SET) != 0) {
        endImage(0, 0, nullptr);
        return !planes || !colours ? ST_NO_MEMORY : ST_READ_ERROR;
    }
    memset(planes.get(), 0, SCREEN_BYTES);
    StreamCursor in(stream, h.dataLength);
    st = spcUnpack(&in, planes.get());
    auto* rows = reinterpret_cast<RowColours*>(colours.get());
    for (int k = 0; k < PALETTES; ++k)
        for (int j = 0; j < 16; ++j) stWordToRgb(sets[k][j], rows[k / 3] + ((k % 3) * 16 + j) * 3);
    const Status painted = deliverSpectrum(rowFromPlaneBlocks, planes.get(), rows);
    if (st == ST_OK) st = complete ? painted : ST_READ_ERROR;
    endImage(0, 0, nullptr);
    return st;
}

bool acceptSps(const uint8_t* head, size_t n, int64_t) {
    SpcHeader h;
    return spcHeader(head, n, &h) && h.dataLength >= 1 && h.dataLength <= MAX_SPS_DATA;
}

Status readSps(FILE* stream, LoadRequest* request) {
    uint8_t b[HEADER];
    SpcHeader h;
    if (!readBlock(stream, b, sizeof b) || !spcHeader(b, sizeof b, &h) || h.dataLength < 1 ||
        h.dataLength > MAX_SPS_DATA)
        return ST_UNKNOWN_FORMAT;
    // A compressed-form file whose masked palettes parse is not smooshed.
    if (spcLengthsFit(h)) {
        Buffer words = allocBuffer(sizeof(uint16_t) * 16 * PALETTES);
        if (!words) return ST_NO_MEMORY;
        bool complete = false;
        if (spcPalettesParse(stream, h, request->fileSize, reinterpret_cast<uint16_t(*)[16]>(words.get()), &complete) &&
            complete)
            return ST_UNKNOWN_FORMAT;
        if (fseek(stream, HEADER, SEEK_SET) != 0) return ST_UNKNOWN_FORMAT;
    }

    Status st = beginSpectrum("Spectrum 512 (Smooshed)", "RLE");
    if (st != ST_OK) return st;
    Buffer screen = allocBuffer(SCREEN_BYTES);
    Buffer colours = allocBuffer(sizeof(RowColours) * PAINTED_ROWS);
    if (!screen || !colours) {
        endImage(0, 0, nullptr);
        return ST_NO_MEMORY;
    }
    memset(screen.get(), 0, SCREEN_BYTES);
    memset(colours.get(), 0, sizeof(RowColours) * PAINTED_ROWS);
    StreamCursor in(stream, h.dataLength);
    st = spsUnpack(&in, screen.get());
    auto* rows = reinterpret_cast<RowColours*>(colours.get());
    const bool palettes = st == ST_OK && spsPalettes(stream, rows);
    const Status painted = deliverSpectrum(rowFromLinePlanar, screen.get(), rows);
    if (st == ST_OK) st = !palettes ? ST_READ_ERROR : painted;
    endImage(0, 0, nullptr);
    return st;
}
