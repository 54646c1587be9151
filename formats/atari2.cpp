// More Atari ST pictures (readers): ZZ Rough, Dali, STAD, GFA Raytrace,
// Doodle and Art Director.
//
// - ZZ Rough: "(c)F.MARCHAL", a decimal count K and CR LF, 16 palette words,
//   K run lengths and K four-byte values; the values run down the 200 rows of
//   an ST low screen in 40 columns of four bytes.
// - Dali: 32128 bytes laid out as NEOchrome (palette at 4, screen at 128); the
//   extension (sd0, sd1, sd2) names the mode.
// - STAD: an ST high screen, "pM85" packed in screen order or "pM86" packed
//   down the byte columns: the id byte I followed by n stands for n + 1 copies
//   of the pack byte P, the special byte S followed by d and n for n + 1 copies
//   of d, any other byte for itself. Unpacked .pic files are the bare screen.
// - GFA Raytrace ("sul"): an ST low screen of 200 / f rows and 46 colour words
//   a row; the colour of a pixel is a slot that depends on its index and its
//   column, taken from the words of the rows around it.
// - Doodle: the bare 32000-byte ST high screen.
// - Art Director: an ST low screen, eight palettes and the number of the one
//   in use at 32286: 32512 bytes.
#include <cctype>
#include <cstring>

#include "atari.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

constexpr int64_t BARE_SCREEN = 32000;

// ---- ZZ Rough ---------------------------------------------------------------

const char ZZ_MAGIC[] = "(c)F.MARCHAL";
constexpr size_t ZZ_MAGIC_LEN = 12;
constexpr uint32_t ZZ_MAX_COUNT = 32000;
const char MSG_ZZ_BAD_DATA[] = "ZZ Rough : Bad data !";

// The count K and the length of the header text; false when not ZZ Rough.
bool zzHeader(const uint8_t* b, size_t n, uint32_t* count, size_t* textEnd) {
    if (n < ZZ_MAGIC_LEN + 3 || memcmp(b, ZZ_MAGIC, ZZ_MAGIC_LEN) != 0) return false;
    uint32_t k = 0;
    size_t i = ZZ_MAGIC_LEN;
    while (i < n && i < ZZ_MAGIC_LEN + 5 && isdigit(b[i])) k = k * 10 + (b[i++] - '0');
    if (i == ZZ_MAGIC_LEN || i + 2 > n || b[i] != '\r' || b[i + 1] != '\n') return false;
    if (k < 1 || k > ZZ_MAX_COUNT) return false;
    *count = k;
    *textEnd = i + 2;
    return true;
}

// Fills the screen down 4-byte columns; false on a zero run length. Stops
// when the runs given are used up.
bool zzUnpack(const uint8_t* counts, const uint8_t* values, uint32_t runs, uint8_t* screen) {
    uint32_t i = 0;
    int left = 0;
    const uint8_t* value = nullptr;
    for (int col = 0; col < 160; col += 4)
        for (int row = 0; row < 200; ++row) {
            if (left == 0) {
                if (i >= runs) return true;
                left = counts[i];
                value = values + 4 * i++;
                if (left == 0) return false;
            }
            memcpy(screen + row * 160 + col, value, 4);
            --left;
        }
    return true;
}

// ---- STAD -------------------------------------------------------------------

struct PacCodes {
    uint8_t id, pack, special;
};

// Unpacks into out (32000 bytes) through place; ST_READ_ERROR when the data
// end first.
template <typename Place>
Status pacUnpack(FILE* f, const PacCodes& c, Place place) {
    int64_t produced = 0;
    auto emit = [&](uint8_t v, int n) -> Status {
        for (int k = 0; k < n && produced < BARE_SCREEN; ++k, ++produced) {
            const Status st = place(v);
            if (st != ST_OK) return st;
        }
        return ST_OK;
    };
    while (produced < BARE_SCREEN) {
        const int x = getc(f);
        if (x == EOF) return ST_READ_ERROR;
        Status st;
        if (x == c.id) {
            const int n = getc(f);
            if (n == EOF) return ST_READ_ERROR;
            st = emit(c.pack, n + 1);
        } else if (x == c.special) {
            const int d = getc(f);
            const int n = d == EOF ? EOF : getc(f);
            if (n == EOF) return ST_READ_ERROR;
            st = emit(static_cast<uint8_t>(d), n + 1);
        } else {
            st = emit(static_cast<uint8_t>(x), 1);
        }
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// A bare ST high screen: 400 rows of 80 bytes, a set bit black.
Status readBareHighScreen(FILE* f, const char* name) {
    RasterHeader rh;
    Status st = stBeginScreen(ST_HIGH, 0, name, nullptr, &rh);
    if (st != ST_OK) return st;
    st = readRows(f, stRowBytes(ST_HIGH), rh.height);
    endImage(PF_INVERT, 0, nullptr);
    return st;
}

// ---- GFA Raytrace -------------------------------------------------------------

const uint8_t GFA_MAGIC[] = {'s', 'u', 'l', '\r', '\n'};
constexpr int GFA_WORDS = 46;

// The palette slot of index c at column x: the slots c + 1, c + 16 and c + 31
// take turns at columns that follow the ST's colour register timing.
int gfaSlot(int c, int x) {
    // Last column of the first and of the second slot, for c = 1 to 14.
    static const int16_t ENDS[15][2] = {{0, 0},     {44, 204},  {60, 208},  {64, 224},  {80, 228},
                                        {84, 244},  {100, 248}, {104, 264}, {120, 268}, {124, 284},
                                        {140, 288}, {144, 304}, {160, 308}, {164, 324}, {180, 328}};
    if (c == 0) return 1;
    if (c == 15) return x == 0 ? 0 : x <= 184 ? 16 : 31;
    return x <= ENDS[c][0] ? c + 1 : x <= ENDS[c][1] ? c + 16 : c + 31;
}

uint8_t gfaGun(unsigned nibble) { return static_cast<uint8_t>((((nibble << 1) & 0x0E) | (nibble >> 3)) * 17); }

int gfaFactor(const uint8_t* b, size_t n, int64_t size) {
    if (n < 8 || memcmp(b, GFA_MAGIC, sizeof GFA_MAGIC) != 0 || b[6] != '\r' || b[7] != '\n') return 0;
    const int f = b[5] - '0';
    if (f != 1 && f != 2 && f != 4 && f != 8) return 0;
    return size == 8 + 32000 / f + 18400 / f ? f : 0;
}

// ---- Art Director -------------------------------------------------------------

constexpr int64_t ARTDIR_SIZE = 32512;
constexpr long ARTDIR_ACTIVE = 32286;

}  // namespace

// ---- ZZ Rough -------------------------------------------------------------------

bool acceptZzRough(const uint8_t* head, size_t n, int64_t) {
    uint32_t k;
    size_t end;
    return zzHeader(head, n, &k, &end);
}

Status readZzRough(FILE* stream, LoadRequest* request) {
    uint8_t b[ZZ_MAGIC_LEN + 8];
    const size_t got = fread(b, 1, sizeof b, stream);
    uint32_t runs;
    size_t textEnd;
    if (!zzHeader(b, got, &runs, &textEnd) || fseek(stream, static_cast<long>(textEnd), SEEK_SET) != 0)
        return ST_UNKNOWN_FORMAT;
    uint8_t palette[32];
    if (!readBlock(stream, palette, sizeof palette)) return ST_READ_ERROR;
    Buffer counts = allocBuffer(runs);
    Buffer values = allocBuffer(4 * uint64_t(runs));
    Buffer screen = allocBuffer(BARE_SCREEN);
    if (!counts || !values || !screen) return ST_NO_MEMORY;
    memset(screen.get(), 0, BARE_SCREEN);
    memset(values.get(), 0, 4 * size_t(runs));
    size_t whole = fread(counts.get(), 1, runs, stream);
    if (whole == runs) whole = fread(values.get(), 4, runs, stream);
    else whole = 0;

    RasterHeader rh;
    Status st = stBeginScreen(ST_LOW, PL_WORD_PLANES, "ZZ Rough", "RLE", &rh);
    if (st != ST_OK) return st;
    if (!zzUnpack(counts.get(), values.get(), static_cast<uint32_t>(whole), screen.get())) {
        setReaderMessage(request, MSG_ZZ_BAD_DATA);
        st = ST_CORRUPT;
    }
    const Status delivered = stDeliverRows(screen.get(), stRowBytes(ST_LOW), rh.height);
    if (st == ST_OK) st = whole < runs ? ST_READ_ERROR : delivered;
    stEndPalette(palette);
    return st;
}

// ---- Dali -----------------------------------------------------------------------

bool acceptDali(const uint8_t*, size_t, int64_t size) { return size == 32128; }

Status readDali(FILE* stream, LoadRequest* request) {
    char ext[8];
    extensionOf(request->fileName, ext, sizeof ext);
    static const char* const NAMES[3] = {"Dali (Low Resolution)", "Dali (Medium Resolution)",
                                         "Dali (High Resolution)"};
    if (strlen(ext) != 3 || ext[0] != 's' || ext[1] != 'd' || ext[2] < '0' || ext[2] > '2') return ST_UNKNOWN_FORMAT;
    const int mode = ext[2] - '0';
    uint8_t header[128];
    if (!readBlock(stream, header, sizeof header)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh;
    Status st = stBeginScreen(mode, PL_WORD_PLANES, NAMES[mode], nullptr, &rh);
    if (st != ST_OK) return st;
    st = readRows(stream, stRowBytes(mode), rh.height);
    if (mode == ST_HIGH) endImage(PF_INVERT, 0, nullptr);
    else stEndPalette(header + 4);
    return st;
}

// ---- STAD -----------------------------------------------------------------------

bool acceptStad(const uint8_t* head, size_t n, int64_t size) {
    if (n >= 7 && head[0] == 'p' && head[1] == 'M' && head[2] == '8' && (head[3] == '5' || head[3] == '6')) return true;
    return size == BARE_SCREEN;
}

Status readStad(FILE* stream, LoadRequest* request) {
    uint8_t b[7];
    const size_t got = fread(b, 1, sizeof b, stream);
    const bool packed = got == sizeof b && b[0] == 'p' && b[1] == 'M' && b[2] == '8' && (b[3] == '5' || b[3] == '6');
    if (!packed) {
        char ext[8];
        extensionOf(request->fileName, ext, sizeof ext);
        if (request->fileSize != BARE_SCREEN || strcmp(ext, "pic") != 0 || fseek(stream, 0, SEEK_SET) != 0)
            return ST_UNKNOWN_FORMAT;
        return readBareHighScreen(stream, "STAD (uncompressed)");
    }
    const PacCodes codes = {b[4], b[5], b[6]};
    const bool columns = b[3] == '6';
    RasterHeader rh;
    Status st = stBeginScreen(ST_HIGH, 0, columns ? "STAD (packed vertically)" : "STAD (packed horizontally)",
                              "RLE", &rh);
    if (st != ST_OK) return st;
    const int64_t rowBytes = stRowBytes(ST_HIGH);
    if (!columns) {
        RowFeed feed;
        st = feed.begin(rowBytes, rh.height);
        if (st == ST_OK) st = pacUnpack(stream, codes, [&](uint8_t v) { return feed.put(v); });
        if (st == ST_READ_ERROR) st = feed.cut();
    } else {
        Buffer screen = allocBuffer(BARE_SCREEN);
        if (!screen) st = ST_NO_MEMORY;
        if (st == ST_OK) {
            memset(screen.get(), 0, BARE_SCREEN);
            int64_t k = 0;
            st = pacUnpack(stream, codes, [&](uint8_t v) {
                screen[(k % rh.height) * rowBytes + k / rh.height] = v;
                ++k;
                return ST_OK;
            });
            const Status delivered = stDeliverRows(screen.get(), rowBytes, rh.height);
            if (st == ST_OK) st = delivered;
        }
    }
    endImage(PF_INVERT, 0, nullptr);
    return st;
}

// ---- GFA Raytrace -------------------------------------------------------------

bool acceptGfaRay(const uint8_t* head, size_t n, int64_t size) { return gfaFactor(head, n, size) != 0; }

Status readGfaRay(FILE* stream, LoadRequest* request) {
    uint8_t b[8];
    if (!readBlock(stream, b, sizeof b)) return ST_UNKNOWN_FORMAT;
    const int f = gfaFactor(b, sizeof b, request->fileSize);
    if (f == 0) return ST_UNKNOWN_FORMAT;
    const int32_t height = 200 / f;
    const int64_t screenBytes = int64_t(height) * 160;
    const int64_t paletteBytes = int64_t(height) * GFA_WORDS * 2;
    Buffer data = allocBuffer(static_cast<uint64_t>(screenBytes + paletteBytes));
    if (!data) return ST_NO_MEMORY;
    memset(data.get(), 0, static_cast<size_t>(screenBytes + paletteBytes));
    const bool whole = readBlock(stream, data.get(), static_cast<size_t>(screenBytes + paletteBytes));

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = 320;
    rh.height = height;
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 320 * 3;
    setRasterName(rh.name, "GFA Raytrace");
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const uint8_t* words = data.get() + screenBytes;
    uint8_t planar[160], index[320], out[320 * 3];
    for (int32_t y = 0; st == ST_OK && y < height; ++y) {
        stInterleavedToPlanar(data.get() + y * 160, 40, 4, planar);
        stPlanarIndices(planar, 40, 4, 320, index);
        for (int x = 0; x < 320; ++x) {
            const int64_t k = int64_t(y) * GFA_WORDS + gfaSlot(index[x], x) - 63;
            uint8_t* px = out + 3 * x;
            if (k < 0) {
                px[0] = px[1] = px[2] = 0;
                continue;
            }
            const unsigned w = loadU16BE(words + 2 * k);
            px[0] = gfaGun((w >> 8) & 15);
            px[1] = gfaGun((w >> 4) & 15);
            px[2] = gfaGun(w & 15);
        }
        st = deliverRow(out, sizeof out, y);
    }
    endImage(0, 0, nullptr);
    return st == ST_OK && !whole ? ST_READ_ERROR : st;
}

// ---- Doodle ---------------------------------------------------------------------

bool acceptDoodle(const uint8_t*, size_t, int64_t size) { return size == BARE_SCREEN; }

Status readDoodle(FILE* stream, LoadRequest* request) {
    if (request->fileSize != BARE_SCREEN) return ST_UNKNOWN_FORMAT;
    return readBareHighScreen(stream, "Doodle");
}

// ---- Art Director -------------------------------------------------------------

bool acceptArtDirector(const uint8_t*, size_t, int64_t size) { return size == ARTDIR_SIZE; }

Status readArtDirector(FILE* stream, LoadRequest* request) {
    if (request->fileSize != ARTDIR_SIZE) return ST_UNKNOWN_FORMAT;
    uint8_t palettes[256], active[2];
    if (fseek(stream, static_cast<long>(BARE_SCREEN), SEEK_SET) != 0 || !readBlock(stream, palettes, sizeof palettes) ||
        fseek(stream, ARTDIR_ACTIVE, SEEK_SET) != 0 || !readBlock(stream, active, 2))
        return ST_UNKNOWN_FORMAT;
    const unsigned which = loadU16BE(active);
    if (which > 7 || !stPaletteWordsPlausible(palettes, 128) || fseek(stream, 0, SEEK_SET) != 0)
        return ST_UNKNOWN_FORMAT;
    const uint8_t* palette = palettes + 32 * which;
    RasterHeader rh;
    Status st = stBeginScreen(ST_LOW, PL_WORD_PLANES, "Art Director", nullptr, &rh);
    if (st != ST_OK) return st;
    st = readRows(stream, stRowBytes(ST_LOW), rh.height);
    stEndPalette(palette);
    return st;
}
