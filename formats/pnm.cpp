// Portable bitmaps, graymaps and pixmaps (P1 to P6), arbitrary maps and XV
// thumbnails (both P7).
//
// Reader: the plain (decimal text) types P1, P2, P3 and the raw types P4, P5,
// P6, with any maximum value from 1 to 65535 (raw samples above 255 take two
// bytes, most significant first, as netpbm and ImageMagick write them). Samples are scaled
// to 0..255. XV thumbnails ("P7 332") hold one byte per pixel, three bits of
// red, three of green and two of blue. Arbitrary maps ("P7" and header lines
// WIDTH, HEIGHT, DEPTH, MAXVAL, TUPLTYPE, ENDHDR) hold raw tuples of DEPTH
// samples: black and white, grey or RGB, each optionally followed by opacity.
// Writer: P4 for black and white, P5 for grey and P6 for true colour, all with
// maximum 255.
//
// The header is "P" and a digit, then decimal numbers separated by white
// space; a "#" starts a comment that runs to the end of the line. Exactly one
// character follows the last number before the pixel data.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "Portable Bitmap : Bad picture's size !";
const char MSG_BAD_HEADER[] = "Portable Bitmap : Bad arbitrary map header !";
const char MSG_BAD_DEPTH[] = "Portable Bitmap : Bad tuple depth !";
const char MSG_BAD_MAXVAL[] = "Portable Bitmap : Bad maximum value !";

const char NAME_P1[] = "Portable Bitmap (Type 1 - ASCII)";
const char NAME_P2[] = "Portable Graymap (Type 2 - ASCII)";
const char NAME_P3[] = "Portable Pixmap (Type 3 - ASCII)";
const char NAME_P4[] = "Portable Bitmap (Type 4 - Binary)";
const char NAME_P5[] = "Portable Graymap (Type 5 - Binary)";
const char NAME_P6[] = "Portable Pixmap (Type 6 - Binary)";
const char NAME_P7[] = "XV visual schnauzer";
const char NAME_PAM[] = "Portable Arbitrary Map (Type 7 - Binary)";

constexpr uint32_t MAX_SAMPLE = 65535;
// Numbers saturate here while they are read, so that an endless run of digits
// neither overflows nor passes for a small value.
constexpr uint32_t NUMBER_CEILING = 0xFFFFFFFFu;

// Buffered reading of the stream: the header and the text types are read one
// character at a time, the raw types in blocks, all through the same buffer.
class PnmInput {
public:
    explicit PnmInput(FILE* f) : f_(f) {}

    int get() {
        if (pos_ == len_ && !fill()) return EOF;
        return buf_[pos_++];
    }

    int peek() {
        if (pos_ == len_ && !fill()) return EOF;
        return buf_[pos_];
    }

    // Reads up to n bytes; returns how many were read.
    size_t read(uint8_t* dst, size_t n) {
        size_t done = 0;
        while (done < n) {
            if (pos_ == len_ && n - done >= sizeof buf_) {
                // Large reads go straight to their destination.
                const size_t k = fread(dst + done, 1, n - done, f_);
                done += k;
                if (k == 0) break;
                continue;
            }
            if (pos_ == len_ && !fill()) break;
            size_t k = len_ - pos_ < n - done ? len_ - pos_ : n - done;
            memcpy(dst + done, buf_ + pos_, k);
            pos_ += k;
            done += k;
        }
        return done;
    }

    // Maps the rest of the picture from the file when the load may (see
    // mapDirectRows); the stream then stands past it.
    bool mapRows(int64_t rowBytes, int32_t rows) {
        const off_t at = ftello(f_);
        if (at < 0 || !mapDirectRows(f_, at - static_cast<off_t>(len_ - pos_), rowBytes, rows)) return false;
        pos_ = len_ = 0;
        return true;
    }

private:
    bool fill() {
        pos_ = 0;
        len_ = fread(buf_, 1, sizeof buf_, f_);
        return len_ > 0;
    }

    FILE* f_;
    uint8_t buf_[16384];
    size_t pos_ = 0;
    size_t len_ = 0;
};

inline bool pnmIsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
inline bool pnmIsDigit(int c) { return c >= '0' && c <= '9'; }

// Skips white space and comments; returns the first other character, unread.
int pnmSkipSeparators(PnmInput& in) {
    for (;;) {
        int c = in.peek();
        if (c == '#') {
            while (c != '\n' && c != '\r' && c != EOF) c = in.get();
            continue;
        }
        if (!pnmIsSpace(c)) return c;
        in.get();
    }
}

// Reads one decimal number; the character that ends it stays unread.
// ST_READ_ERROR at the end of the stream, ST_UNKNOWN_FORMAT when something
// other than a digit comes first.
Status pnmReadNumber(PnmInput& in, uint32_t* value) {
    int c = pnmSkipSeparators(in);
    if (c == EOF) return ST_READ_ERROR;
    if (!pnmIsDigit(c)) return ST_UNKNOWN_FORMAT;
    uint64_t v = 0;
    while (pnmIsDigit(c = in.peek())) {
        in.get();
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > NUMBER_CEILING) v = NUMBER_CEILING;
    }
    *value = static_cast<uint32_t>(v);
    return ST_OK;
}

enum class PnmData { Bits1Text, Text, Bits1Raw, Raw8, Raw16 };

struct PnmHeader {
    int type;             // 1..7
    bool arbitrary;       // P7 followed by header lines: the rest is read by pamReadHeader
    uint32_t width;
    uint32_t height;
    uint32_t maxval;
    int samplesPerPixel;  // 1 or 3
    PnmData data;
};

// A sample of 0..maxval on the 0..255 scale; values past the maximum count as it.
inline uint8_t pnmScale(uint32_t v, uint32_t maxval) {
    if (v >= maxval) return 255;
    if (maxval == 255) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>(static_cast<uint64_t>(v) * 255 / maxval);
}

Status pnmReadHeader(PnmInput& in, PnmHeader* h) {
    uint8_t magic[2];
    if (in.read(magic, 2) != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '7') return ST_UNKNOWN_FORMAT;
    h->type = magic[1] - '0';
    // Arbitrary maps go on with header lines, XV thumbnails with their pixel
    // format ("332") before the size.
    if (h->type == 7) {
        const int c = pnmSkipSeparators(in);
        h->arbitrary = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (h->arbitrary) return ST_OK;
    }
    uint32_t ignored;
    Status st = h->type == 7 ? pnmReadNumber(in, &ignored) : ST_OK;
    if (st == ST_OK) st = pnmReadNumber(in, &h->width);
    if (st == ST_OK) st = pnmReadNumber(in, &h->height);
    h->maxval = 255;
    const bool bitmap = h->type == 1 || h->type == 4;
    if (st == ST_OK && !bitmap) st = pnmReadNumber(in, &h->maxval);
    if (st != ST_OK) return st;
    // Graymaps and pixmaps take any maximum up to 65535 (two-byte samples above
    // 255), XV thumbnails 255; 0 is no maximum at all.
    if (!bitmap && (h->maxval < 1 || h->maxval > (h->type == 7 ? 255u : MAX_SAMPLE))) return ST_UNKNOWN_FORMAT;
    in.get();  // the one separator before the pixel data

    h->samplesPerPixel = h->type == 3 || h->type == 6 ? 3 : 1;
    switch (h->type) {
    case 1: h->data = PnmData::Bits1Text; break;
    case 2: case 3: h->data = PnmData::Text; break;
    case 4: h->data = PnmData::Bits1Raw; break;
    default: h->data = h->maxval > 255 ? PnmData::Raw16 : PnmData::Raw8; break;
    }
    return ST_OK;
}

// The colours of an XV thumbnail: each byte is RRRGGGBB.
void pnmPalette332(uint8_t* triplets) {
    for (int i = 0; i < 256; ++i) {
        triplets[3 * i] = static_cast<uint8_t>((i >> 5) * 255 / 7);
        triplets[3 * i + 1] = static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7);
        triplets[3 * i + 2] = static_cast<uint8_t>((i & 3) * 255 / 3);
    }
}

// A text row: n numbers, or for P1 n characters '0' or '1' (the plain bitmaps
// written today put no separator between them). Returns the count stored in
// *got. A character that belongs to no number is ST_CORRUPT.
Status pnmReadTextRow(PnmInput& in, const PnmHeader& h, uint8_t* row, int64_t n, int64_t* got) {
    for (*got = 0; *got < n; ++*got) {
        if (h.data == PnmData::Bits1Text) {
            int c = pnmSkipSeparators(in);
            if (c == EOF) return ST_READ_ERROR;
            if (c != '0' && c != '1') return ST_CORRUPT;
            in.get();
            row[*got] = static_cast<uint8_t>(c - '0');
            continue;
        }
        uint32_t v;
        Status st = pnmReadNumber(in, &v);
        if (st != ST_OK) return st == ST_READ_ERROR ? ST_READ_ERROR : ST_CORRUPT;
        row[*got] = pnmScale(v, h.maxval);
    }
    return ST_OK;
}

// A raw row of n bytes (or n two-byte samples), scaled to 0..255 in place.
Status pnmReadRawRow(PnmInput& in, const PnmHeader& h, const uint8_t* lut, uint8_t* wide, uint8_t* row, int64_t n,
                     int64_t* got) {
    if (h.data == PnmData::Raw16) {
        size_t bytes = in.read(wide, static_cast<size_t>(2 * n));
        *got = static_cast<int64_t>(bytes / 2);
        for (int64_t i = 0; i < *got; ++i) row[i] = pnmScale(loadU16BE(wide + 2 * i), h.maxval);
    } else {
        *got = static_cast<int64_t>(in.read(row, static_cast<size_t>(n)));
        if (lut)
            for (int64_t i = 0; i < *got; ++i) row[i] = lut[row[i]];
    }
    return *got == n ? ST_OK : ST_READ_ERROR;
}

Status pnmReadPixels(PnmInput& in, const PnmHeader& h, RasterHeader* rh) {
    const int64_t n = rh->bytesPerPlane;
    const bool raw8Scaled = h.data == PnmData::Raw8 && h.maxval != 255;
    uint8_t lut[256];
    if (raw8Scaled)
        for (uint32_t v = 0; v < 256; ++v) lut[v] = pnmScale(v, h.maxval);
    Buffer wide;
    if (h.data == PnmData::Raw16) {
        wide = allocBuffer(2 * static_cast<uint64_t>(n));
        if (!wide) return ST_NO_MEMORY;
    }
    uint8_t* row = rh->rowBuffer;
    if (h.data == PnmData::Raw8 && !raw8Scaled && in.mapRows(n, static_cast<int32_t>(h.height)))
        return rowsPlaced(static_cast<int32_t>(h.height));
    for (uint32_t y = 0; y < h.height; ++y) {
        // Plain 8-bit rows that the picture holds as the file does are read
        // straight into it, as many at once as follow one another there.
        const int32_t run = h.data == PnmData::Raw8 && !raw8Scaled
                                ? directReadRun(static_cast<int32_t>(y), n, static_cast<int32_t>(h.height - y))
                                : 0;
        if (run > 0) {
            const size_t want = static_cast<size_t>(int64_t(run) * n);
            const size_t got = in.read(directRow(static_cast<int32_t>(y)), want);
            const int32_t whole = static_cast<int32_t>(got / static_cast<size_t>(n));
            // A broken row keeps what it held, the rest of it black like every row not read.
            Status st = rowsPlaced(whole + (got % static_cast<size_t>(n) ? 1 : 0));
            if (got < want) return ST_READ_ERROR;
            if (st != ST_OK) return st;
            y += static_cast<uint32_t>(run - 1);
            continue;
        }
        int64_t got = 0;
        Status st;
        if (h.data == PnmData::Text || h.data == PnmData::Bits1Text)
            st = pnmReadTextRow(in, h, row, n, &got);
        else
            st = pnmReadRawRow(in, h, raw8Scaled ? lut : nullptr, wide.get(), row, n, &got);
        if (st != ST_OK) {
            // Keep what the broken row held; the rest of it stays black.
            if (got > 0) {
                memset(row + got, 0, static_cast<size_t>(n - got));
                putRows(-1, static_cast<int32_t>(y), 1);
            }
            return st;
        }
        st = putRows(-1, static_cast<int32_t>(y), 1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// ---- arbitrary maps --------------------------------------------------------

constexpr int PAM_WORD = 24;        // longest keyword or tuple type kept
constexpr uint32_t PAM_MAX_DEPTH = 4;

struct PamHeader {
    uint32_t width = 0, height = 0, depth = 0, maxval = 0;
    bool binary = false;    // BLACKANDWHITE: 0 black, 1 white
    bool alpha = false;     // the last sample of a tuple is its opacity
    bool colour = false;    // three colour samples
};

// Reads a word up to the next white space; false when it does not fit.
bool pamReadWord(PnmInput& in, char (&word)[PAM_WORD]) {
    int n = 0;
    for (int c = in.peek(); c != EOF && !pnmIsSpace(c); c = in.peek()) {
        if (n + 1 >= PAM_WORD) return false;
        word[n++] = static_cast<char>(in.get());
    }
    word[n] = '\0';
    return n > 0;
}

// The rest of the line after TUPLTYPE, without the blanks around it.
bool pamReadTupleType(PnmInput& in, char (&type)[PAM_WORD]) {
    while (in.peek() == ' ' || in.peek() == '\t') in.get();
    int n = 0;
    for (int c = in.peek(); c != EOF && c != '\n' && c != '\r'; c = in.peek()) {
        if (n + 1 >= PAM_WORD) return false;
        type[n++] = static_cast<char>(in.get());
    }
    while (n > 0 && pnmIsSpace(type[n - 1])) --n;
    type[n] = '\0';
    return true;
}

// Checks the tuple type against the depth. Unknown types are taken by depth:
// grey, grey and opacity, RGB, RGB and opacity.
bool pamTupleLayout(const char* type, PamHeader* h) {
    static const struct {
        const char* name;
        uint32_t depth;
        bool binary, alpha, colour;
    } known[] = {
        {"BLACKANDWHITE", 1, true, false, false}, {"BLACKANDWHITE_ALPHA", 2, true, true, false},
        {"GRAYSCALE", 1, false, false, false},    {"GRAYSCALE_ALPHA", 2, false, true, false},
        {"RGB", 3, false, false, true},           {"RGB_ALPHA", 4, false, true, true},
    };
    for (const auto& k : known) {
        if (strcmp(type, k.name) != 0) continue;
        if (h->depth != k.depth) return false;
        h->binary = k.binary;
        h->alpha = k.alpha;
        h->colour = k.colour;
        return true;
    }
    if (h->depth < 1 || h->depth > PAM_MAX_DEPTH) return false;
    h->alpha = h->depth == 2 || h->depth == 4;
    h->colour = h->depth >= 3;
    return true;
}

// The header lines after "P7", up to and including the line of ENDHDR.
Status pamReadHeader(PnmInput& in, PamHeader* h, LoadRequest* request) {
    bool haveWidth = false, haveHeight = false, haveDepth = false, haveMaxval = false;
    char type[PAM_WORD] = "";
    for (;;) {
        char key[PAM_WORD];
        if (pnmSkipSeparators(in) == EOF || !pamReadWord(in, key)) {
            setReaderMessage(request, MSG_BAD_HEADER);
            return ST_BAD_FILE;
        }
        if (strcmp(key, "ENDHDR") == 0) {
            for (int c = in.get(); c != '\n' && c != EOF; c = in.get()) {
            }
            break;
        }
        uint32_t* field = nullptr;
        bool ok = true;
        if (strcmp(key, "WIDTH") == 0) field = &h->width, haveWidth = true;
        else if (strcmp(key, "HEIGHT") == 0) field = &h->height, haveHeight = true;
        else if (strcmp(key, "DEPTH") == 0) field = &h->depth, haveDepth = true;
        else if (strcmp(key, "MAXVAL") == 0) field = &h->maxval, haveMaxval = true;
        else if (strcmp(key, "TUPLTYPE") == 0) ok = pamReadTupleType(in, type);
        else ok = false;
        if (field) ok = pnmReadNumber(in, field) == ST_OK;
        if (!ok) {
            setReaderMessage(request, MSG_BAD_HEADER);
            return ST_BAD_FILE;
        }
    }
    if (!haveWidth || !haveHeight || !haveDepth || !haveMaxval) {
        setReaderMessage(request, MSG_BAD_HEADER);
        return ST_BAD_FILE;
    }
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (!pamTupleLayout(type, h)) {
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }
    if (h->maxval < 1 || h->maxval > MAX_SAMPLE || (h->binary && h->maxval != 1)) {
        setReaderMessage(request, MSG_BAD_MAXVAL);
        return ST_BAD_FILE;
    }
    return ST_OK;
}

// A sample of 0..maxval on the 0..255 scale, rounded; values past the maximum count as it.
inline uint8_t pamScale(uint32_t v, uint32_t maxval) {
    if (v >= maxval) return 255;
    return static_cast<uint8_t>((static_cast<uint64_t>(v) * 255 + maxval / 2) / maxval);
}

// Turns n tuples of raw samples into the delivered pixels: one byte a pixel
// (0/1 for black and white, grey levels) without opacity, R,G,B without
// opacity, R,G,B,A with it.
void pamConvertRow(const PamHeader& h, const uint8_t* raw, const uint8_t* lut, uint8_t* out, int64_t n) {
    const bool wide = h.maxval > 255;
    const int64_t samples = n * h.depth;
    auto sample = [&](int64_t i) -> uint8_t {
        return wide ? pamScale(loadU16BE(raw + 2 * i), h.maxval) : lut[raw[i]];
    };
    if (h.binary && !h.alpha) {
        for (int64_t i = 0; i < samples; ++i) out[i] = (wide ? loadU16BE(raw + 2 * i) : raw[i]) ? 1 : 0;
        return;
    }
    if (!h.alpha) {
        for (int64_t i = 0; i < samples; ++i) out[i] = sample(i);
        return;
    }
    for (int64_t x = 0; x < n; ++x, out += 4) {
        const int64_t t = x * h.depth;
        if (h.colour) {
            for (int c = 0; c < 4; ++c) out[c] = sample(t + c);
        } else {
            out[0] = out[1] = out[2] = sample(t);
            out[3] = sample(t + 1);
        }
    }
}

Status pamReadPixels(PnmInput& in, const PamHeader& h, RasterHeader* rh) {
    const int sampleBytes = h.maxval > 255 ? 2 : 1;
    const uint64_t rawRow = static_cast<uint64_t>(h.width) * h.depth * static_cast<uint64_t>(sampleBytes);
    Buffer raw = allocBuffer(rawRow);
    if (!raw) return ST_NO_MEMORY;
    uint8_t lut[256];
    for (uint32_t v = 0; v < 256; ++v) lut[v] = pamScale(v, h.maxval);
    const int64_t tupleBytes = static_cast<int64_t>(h.depth) * sampleBytes;
    for (uint32_t y = 0; y < h.height; ++y) {
        const size_t got = in.read(raw.get(), static_cast<size_t>(rawRow));
        if (got < rawRow) {
            // Keep the whole tuples of a broken row; the rest of it stays black.
            const int64_t tuples = static_cast<int64_t>(got) / tupleBytes;
            if (tuples > 0) {
                memset(rh->rowBuffer, 0, static_cast<size_t>(fileRowLength()));
                pamConvertRow(h, raw.get(), lut, rh->rowBuffer, tuples);
                putRows(-1, static_cast<int32_t>(y), 1);
            }
            return ST_READ_ERROR;
        }
        pamConvertRow(h, raw.get(), lut, rh->rowBuffer, h.width);
        Status st = putRows(-1, static_cast<int32_t>(y), 1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

Status readPam(PnmInput& in, LoadRequest* request) {
    PamHeader h;
    Status st = pamReadHeader(in, &h, request);
    if (st != ST_OK) return st;
    const int32_t width = static_cast<int32_t>(h.width);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = width;
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    if (h.alpha) {
        rh.bitsPerPlane = 32;
        rh.bytesPerPlane = 4 * width;
    } else if (h.binary) {
        rh.layout = PL_BYTE_PIXELS;
        rh.bitsPerPlane = 1;
        rh.bytesPerPlane = width;
    } else {
        rh.bitsPerPlane = static_cast<int16_t>(h.colour ? 24 : 8);
        rh.bytesPerPlane = h.colour ? 3 * width : width;
    }
    setRasterName(rh.name, NAME_PAM);
    st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = pamReadPixels(in, h, &rh);
    endImage(0, 8, nullptr);
    return st;
}

const char* pnmName(int type) {
    static const char* const names[] = {NAME_P1, NAME_P2, NAME_P3, NAME_P4, NAME_P5, NAME_P6, NAME_P7};
    return names[type - 1];
}

// A bitmap row as the file stores it: in the image 0 is black, in the file 1
// is; the bits past the width in the last byte stay 0.
Status pnmWriteBitmapRow(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
    const int tailBits = static_cast<int>(*static_cast<const int64_t*>(data) % 8);
    for (int64_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    if (tailBits) row[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> tailBits);
    return writeBlock(f, row, static_cast<size_t>(rowBytes)) ? ST_OK : ST_WRITE_ERROR;
}

}  // namespace

bool acceptPnm(const uint8_t* head, size_t n, int64_t) { return n >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7'; }

Status readPnm(FILE* stream, LoadRequest* request) {
    PnmInput in(stream);
    PnmHeader h{};
    Status st = pnmReadHeader(in, &h);
    if (st != ST_OK) return st;
    if (h.arbitrary) return readPam(in, request);
    if (h.width < 1 || h.width > MAX_IMAGE_SIDE || h.height < 1 || h.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }

    const bool bitmap = h.type == 1 || h.type == 4;
    const int32_t width = static_cast<int32_t>(h.width);
    RasterHeader rh{};
    rh.layout = h.type == 1 ? PL_BYTE_PIXELS : 0;
    rh.channels = 1;
    rh.width = width;
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bitmap ? 1 : 8 * h.samplesPerPixel);
    rh.bytesPerPlane = h.type == 4 ? (width + 7) / 8 : width * h.samplesPerPixel;
    setRasterName(rh.name, pnmName(h.type));
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    st = pnmReadPixels(in, h, &rh);
    if (bitmap) {
        endImage(PF_INVERT, 8, nullptr);  // 1 is black
    } else if (h.type == 7 && h.maxval == 255) {
        uint8_t palette[PALETTE_BYTES];
        pnmPalette332(palette);
        endImage(0, 8, palette);
    } else {
        endImage(0, 8, nullptr);
    }
    return st;
}

Status writePnm(FILE* stream, SaveRequest* request) {
    char type;
    int bits;
    int64_t rowBytes;
    const char* name;
    const int64_t width = request->width;
    switch (request->kind) {
    case IMG_BINARY:
        type = '4';
        bits = 1;
        rowBytes = (width + 7) / 8;
        name = "PBM";
        break;
    case IMG_GREY:
        type = '5';
        bits = 8;
        rowBytes = width;
        name = "PGM";
        break;
    case KIND_ANY_TRUECOLOUR:
        type = '6';
        bits = 24;
        rowBytes = 3 * width;
        name = "PPM";
        break;
    default:
        return ST_KIND_REFUSED;
    }
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;

    if (fprintf(stream, "P%c\n%d %d\n", type, static_cast<int>(request->width), static_cast<int>(request->height)) < 0)
        return ST_WRITE_ERROR;
    if (type != '4' && fputs("255\n", stream) == EOF) return ST_WRITE_ERROR;

    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(bits);
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(wh.name, name);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    int64_t bitmapWidth = width;
    st = type == '4' ? writeRows(stream, rowBytes, request->height, pnmWriteBitmapRow, &bitmapWidth)
                     : writeRows(stream, rowBytes, request->height);
    endWrite();
    return st;
}
