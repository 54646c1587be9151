// TIFF writer: one little-endian page, uncompressed, PackBits, LZW, or LZW
// with horizontal differencing (writerOption1 0 to 3).
//
// Layout: the 8-byte header, the directory at offset 8, the strip offset and
// byte count arrays (when there are several strips), the two resolutions, the
// Software text, the colour map or the sample sizes, then the strips, each on
// an even offset. The strip positions and sizes are patched in at the end.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "packbits.h"
#include "stream.h"
#include "writeoptions.h"

namespace {

const char NAME_NONE[] = "Tiff";
const char NAME_PACKBITS[] = "Tiff PackBits";
const char NAME_LZW[] = "Tiff LZW";
const char NAME_LZW_PREDICT[] = "Tiff LZW+Prediction";
const char SOFTWARE[] = "KALCORE 98 ";  // 11 characters and the terminating zero: 12 bytes


constexpr uint16_t TYPE_ASCII = 2;
constexpr uint16_t TYPE_SHORT = 3;
constexpr uint16_t TYPE_LONG = 4;
constexpr uint16_t TYPE_RATIONAL = 5;

constexpr uint32_t HEADER_SIZE = 8;
constexpr uint32_t STRIP_TARGET_BITS = 65536;  // about 8 KB of pixels a strip
constexpr uint16_t DEFAULT_DPI = 72;

struct DirEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;  // SHORT values in the low 16 bits
};

// ---------------------------------------------------------------------------
// LZW of TIFF: codes written most significant bit first, 9 bits while the
// next free code is below 512, 10 below 1024, 11 below 2048, then 12.

constexpr uint16_t LZW_CLEAR = 256;
constexpr uint16_t LZW_END = 257;
constexpr uint16_t LZW_FIRST = 258;
constexpr uint16_t LZW_RESET_AT = 4093;
constexpr uint16_t NONE = 0xFFFF;

struct LzwNode {
    uint16_t byte;
    uint16_t child;    // first longer string
    uint16_t sibling;  // next string with the same prefix
};

class LzwEncoder {
public:
    explicit LzwEncoder(FILE* f) : f_(f) {}
    ~LzwEncoder() { free(dict_); }
    bool init() {
        dict_ = static_cast<LzwNode*>(calloc(4096, sizeof(LzwNode)));
        return dict_ != nullptr;
    }
    // Starts a strip: clear code first.
    void begin() {
        written_ = 0;
        acc_ = 0;
        bits_ = 0;
        reset();
        emit(LZW_CLEAR);
        current_ = -1;
    }
    void add(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t b = p[i];
            if (current_ < 0) {
                current_ = b;
                continue;
            }
            uint16_t c = dict_[current_].child;
            while (c != NONE && dict_[c].byte != b) c = dict_[c].sibling;
            if (c != NONE) {
                current_ = c;
                continue;
            }
            emit(static_cast<uint16_t>(current_));
            dict_[next_] = LzwNode{b, NONE, dict_[current_].child};
            dict_[current_].child = next_;
            ++next_;
            current_ = b;
            if (next_ == LZW_RESET_AT) {
                emit(b);
                emit(LZW_CLEAR);
                reset();
                current_ = -1;
            }
        }
    }
    // Ends the strip: the last string, the end code, the last byte filled with zeros.
    void finish() {
        if (current_ >= 0) {
            emit(static_cast<uint16_t>(current_));
            ++next_;
        }
        emit(LZW_END);
        if (bits_ > 0) put(static_cast<uint8_t>(acc_ << (8 - bits_)));
        bits_ = 0;
    }
    uint64_t written() const { return written_; }
    bool failed() const { return failed_; }

private:
    void reset() {
        for (int i = 0; i < 256; ++i) dict_[i] = LzwNode{static_cast<uint16_t>(i), NONE, NONE};
        next_ = LZW_FIRST;
    }
    int width() const { return next_ < 512 ? 9 : next_ < 1024 ? 10 : next_ < 2048 ? 11 : 12; }
    void emit(uint16_t code) {
        acc_ = (acc_ << width()) | code;
        bits_ += width();
        while (bits_ >= 8) {
            bits_ -= 8;
            put(static_cast<uint8_t>(acc_ >> bits_));
        }
        acc_ &= (1u << bits_) - 1;
    }
    void put(uint8_t b) {
        if (putc(b, f_) == EOF) failed_ = true;
        ++written_;
    }

    FILE* f_;
    LzwNode* dict_ = nullptr;
    uint16_t next_ = LZW_FIRST;
    int current_ = -1;
    uint32_t acc_ = 0;
    int bits_ = 0;
    uint64_t written_ = 0;
    bool failed_ = false;
};

// ---------------------------------------------------------------------------

struct TiffLayout {
    int bits;             // bits a pixel
    int samples;          // samples a pixel
    uint16_t photometric;
    bool palette;
    bool predictor;       // horizontal differencing (LZW+Prediction on 8-bit samples)
    int option;
    uint32_t rowsPerStrip;
    uint32_t strips;
    uint64_t rowBytes;
};

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

bool writeAt(FILE* f, long offset, const uint8_t* data, size_t n) {
    return fseek(f, offset, SEEK_SET) == 0 && writeBlock(f, data, n);
}

// Each sample minus the same sample of the pixel before it, from the end of the row.
void differenceRow(uint8_t* row, uint64_t rowBytes, int bytesPerPixel) {
    for (uint64_t i = rowBytes; i-- > static_cast<uint64_t>(bytesPerPixel);)
        row[i] = static_cast<uint8_t>(row[i] - row[i - bytesPerPixel]);
}

// Writes the strips; fills offsets[] and counts[].
Status writeStrips(FILE* f, const SaveRequest* request, const TiffLayout& t, WriteHeader* wh, uint32_t* offsets,
                   uint32_t* counts) {
    LzwEncoder lzw(f);
    const bool useLzw = t.option == TIFF_SAVE_LZW || t.option == TIFF_SAVE_LZW_PREDICTOR;
    if (useLzw && !lzw.init()) return ST_NO_MEMORY;
    Buffer packed;
    if (t.option == TIFF_SAVE_PACKBITS) {
        packed = allocBuffer(packBitsMaxEncodedSize(static_cast<size_t>(t.rowBytes)));
        if (!packed) return ST_NO_MEMORY;
    }
    const int bytesPerPixel = t.bits / 8;
    const int64_t fileRow = writeRowLength();
    if (fileRow < static_cast<int64_t>(t.rowBytes)) return ST_NO_MEMORY;
    uint32_t row = 0;
    for (uint32_t s = 0; s < t.strips; ++s) {
        const uint32_t left = static_cast<uint32_t>(request->height) - row;
        const uint32_t rows = left < t.rowsPerStrip ? left : t.rowsPerStrip;
        long here = ftell(f);
        if (here < 0) return ST_WRITE_ERROR;
        if (here & 1) {
            if (putc(0, f) == EOF) return ST_WRITE_ERROR;
            ++here;
        }
        if (static_cast<uint64_t>(here) > 0xFFFFFFFFu) return ST_WRITE_ERROR;
        offsets[s] = static_cast<uint32_t>(here);
        uint64_t count = 0;
        if (t.option == TIFF_SAVE_NONE || t.option == TIFF_SAVE_PACKBITS) {
            for (uint32_t r = 0; r < rows; ++r) {
                Status st = getRows(-1, 1);
                if (st != ST_OK) return st;
                if (t.option == TIFF_SAVE_NONE) {
                    if (!writeBlock(f, wh->rowBuffer, static_cast<size_t>(t.rowBytes))) return ST_WRITE_ERROR;
                    count += t.rowBytes;
                } else {
                    size_t n = packBitsEncode(wh->rowBuffer, static_cast<size_t>(t.rowBytes), packed.get(),
                                              packBitsMaxEncodedSize(static_cast<size_t>(t.rowBytes)));
                    if (!writeBlock(f, packed.get(), n)) return ST_WRITE_ERROR;
                    count += n;
                }
            }
        } else {
            Status st = getRows(-1, static_cast<int32_t>(rows));
            if (st != ST_OK) return st;
            lzw.begin();
            for (uint32_t r = 0; r < rows; ++r) {
                uint8_t* p = wh->rowBuffer + static_cast<size_t>(r) * static_cast<size_t>(fileRow);
                if (t.predictor) differenceRow(p, t.rowBytes, bytesPerPixel);
                lzw.add(p, static_cast<size_t>(t.rowBytes));
            }
            lzw.finish();
            if (lzw.failed()) return ST_WRITE_ERROR;
            count = lzw.written();
        }
        if (count > 0xFFFFFFFFu) return ST_WRITE_ERROR;
        counts[s] = static_cast<uint32_t>(count);
        row += rows;
    }
    return ST_OK;
}

}  // namespace

Status writeTiff(FILE* stream, SaveRequest* request) {
    TiffLayout t{};
    t.option = request->writerOption1 >= TIFF_SAVE_NONE && request->writerOption1 <= TIFF_SAVE_LZW_PREDICTOR
                   ? request->writerOption1
                   : int16_t(TIFF_SAVE_NONE);
    const int colours = request->colours;
    switch (request->kind) {
    case IMG_BINARY:
        t.bits = 1;
        t.samples = 1;
        t.photometric = 1;
        break;
    case IMG_GREY:
    case IMG_PALETTE:
        t.bits = colours <= 4 ? 2 : colours <= 16 ? 4 : 8;
        t.samples = 1;
        t.palette = request->kind == IMG_PALETTE;
        t.photometric = t.palette ? 3 : 1;
        break;
    case KIND_ANY_TRUECOLOUR: {
        // A fourth byte that holds nothing is no alpha: such pictures are written as RGB.
        const bool alpha = savedImageHasAlpha();
        t.bits = alpha ? 32 : 24;
        t.samples = alpha ? 4 : 3;
        t.photometric = 2;
        break;
    }
    default:
        return ST_KIND_REFUSED;
    }
    if (request->width < 1 || request->height < 1 || request->width > 65535 || request->height > 65535)
        return ST_KIND_REFUSED;
    const uint32_t width = static_cast<uint32_t>(request->width);
    const uint32_t height = static_cast<uint32_t>(request->height);
    t.predictor = t.option == TIFF_SAVE_LZW_PREDICTOR && t.bits >= 8;
    t.rowBytes = (static_cast<uint64_t>(width) * t.bits + 7) / 8;
    uint32_t rps = STRIP_TARGET_BITS / width / static_cast<uint32_t>(t.bits);
    if (rps < 1) rps = 1;
    if (rps > height) rps = height;
    if (rps > INT16_MAX) rps = INT16_MAX;  // the rows of a strip are fetched at once
    if (t.option == TIFF_SAVE_PACKBITS) rps = 1;
    t.rowsPerStrip = rps;
    t.strips = (height + rps - 1) / rps;

    WriteHeader wh{};
    wh.layout = 0;
    wh.orientation = 0;
    wh.channels = static_cast<int16_t>(rps);
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(t.bits);
    wh.bytesPerPlane = static_cast<int32_t>(t.rowBytes);
    wh.paletteFormat = t.palette ? PF_PLANAR | PF_TRIPLETS : 0;
    wh.componentBits = t.palette ? 16 : 8;
    setRasterName(wh.name, t.option == TIFF_SAVE_PACKBITS ? NAME_PACKBITS
                           : t.option == TIFF_SAVE_LZW ? NAME_LZW
                           : t.option == TIFF_SAVE_LZW_PREDICTOR ? NAME_LZW_PREDICT : NAME_NONE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    // The directory, tags in ascending order.
    const bool trueColour = t.samples > 1;
    const uint32_t S = t.strips;
    DirEntry entries[17];
    int n = 0;
    int offsetsEntry = 0, countsEntry = 0;
    entries[n++] = {256, TYPE_SHORT, 1, width};
    entries[n++] = {257, TYPE_SHORT, 1, height};
    entries[n++] = {258, TYPE_SHORT, static_cast<uint32_t>(t.samples), trueColour ? 0u : static_cast<uint32_t>(t.bits)};
    const int bitsEntry = n - 1;
    entries[n++] = {259, TYPE_SHORT, 1, t.option == TIFF_SAVE_PACKBITS ? 32773u : t.option == TIFF_SAVE_NONE ? 1u : 5u};
    entries[n++] = {262, TYPE_SHORT, 1, t.photometric};
    offsetsEntry = n;
    entries[n++] = {273, TYPE_LONG, S, 0};
    if (trueColour) entries[n++] = {277, TYPE_SHORT, 1, static_cast<uint32_t>(t.samples)};
    entries[n++] = {278, TYPE_LONG, 1, rps};
    countsEntry = n;
    entries[n++] = {279, TYPE_LONG, S, 0};
    const int xResEntry = n;
    entries[n++] = {282, TYPE_RATIONAL, 1, 0};
    entries[n++] = {283, TYPE_RATIONAL, 1, 0};
    if (trueColour) entries[n++] = {284, TYPE_SHORT, 1, 1};
    entries[n++] = {296, TYPE_SHORT, 1, 2};
    const int softwareEntry = n;
    entries[n++] = {305, TYPE_ASCII, sizeof SOFTWARE, 0};
    // libtiff knows the Predictor tag only for the LZW compressions.
    if (t.option != TIFF_SAVE_NONE && t.option != TIFF_SAVE_PACKBITS) entries[n++] = {317, TYPE_SHORT, 1, t.predictor ? 2u : 1u};
    const int colourMapEntry = t.palette ? n : -1;
    if (t.palette) entries[n++] = {320, TYPE_SHORT, 3u << t.bits, 0};
    if (t.samples == 4) entries[n++] = {338, TYPE_SHORT, 1, 2};  // the fourth sample is alpha

    // Where everything goes.
    uint64_t pos = HEADER_SIZE + 2 + 12ull * n + 4;
    const uint64_t offsetsPos = pos, countsPos = pos + (S > 1 ? 4ull * S : 0);
    if (S > 1) pos += 8ull * S;
    const uint64_t resolutionPos = pos;
    pos += 16;
    const uint64_t softwarePos = pos;
    pos += sizeof SOFTWARE;
    const uint64_t extraPos = pos;
    const uint64_t extraSize = t.palette ? 6ull << t.bits : trueColour ? 2ull * t.samples : 0;
    pos += extraSize;
    if (pos > 0x7FFFFFFF) {
        endWrite();
        return ST_KIND_REFUSED;
    }
    if (S > 1) {
        entries[offsetsEntry].value = static_cast<uint32_t>(offsetsPos);
        entries[countsEntry].value = static_cast<uint32_t>(countsPos);
    }
    entries[xResEntry].value = static_cast<uint32_t>(resolutionPos);
    entries[xResEntry + 1].value = static_cast<uint32_t>(resolutionPos + 8);
    entries[softwareEntry].value = static_cast<uint32_t>(softwarePos);
    if (t.palette) entries[colourMapEntry].value = static_cast<uint32_t>(extraPos);
    if (trueColour) entries[bitsEntry].value = static_cast<uint32_t>(extraPos);

    Buffer head = allocBuffer(pos);
    Buffer table = allocBuffer(8ull * S);
    if (!head || !table) {
        endWrite();
        return ST_NO_MEMORY;
    }
    uint8_t* h = head.get();
    h[0] = 'I';
    h[1] = 'I';
    put16(h + 2, 42);
    put32(h + 4, HEADER_SIZE);
    put16(h + 8, static_cast<uint32_t>(n));
    for (int i = 0; i < n; ++i) {
        uint8_t* p = h + 10 + 12 * i;
        put16(p, entries[i].tag);
        put16(p + 2, entries[i].type);
        put32(p + 4, entries[i].count);
        if (entries[i].type == TYPE_SHORT && entries[i].count == 1) put16(p + 8, entries[i].value);
        else put32(p + 8, entries[i].value);
    }
    put32(h + 10 + 12 * n, 0);  // no next directory
    const uint32_t xdpi = request->xdpi > 0 ? static_cast<uint32_t>(request->xdpi) : DEFAULT_DPI;
    const uint32_t ydpi = request->ydpi > 0 ? static_cast<uint32_t>(request->ydpi) : DEFAULT_DPI;
    put32(h + resolutionPos, xdpi);
    put32(h + resolutionPos + 4, 1);
    put32(h + resolutionPos + 8, ydpi);
    put32(h + resolutionPos + 12, 1);
    memcpy(h + softwarePos, SOFTWARE, sizeof SOFTWARE);
    if (t.palette && wh.palette) {
        // 16-bit components in machine order from beginWrite: all reds, greens, blues.
        const uint32_t entriesInMap = 3u << t.bits;
        for (uint32_t i = 0; i < entriesInMap; ++i) {
            uint16_t v;
            memcpy(&v, wh.palette + 2 * i, 2);
            put16(h + extraPos + 2 * i, v);
        }
    } else if (trueColour) {
        for (int i = 0; i < t.samples; ++i) put16(h + extraPos + 2 * i, 8);
    }
    if (!writeBlock(stream, h, static_cast<size_t>(pos))) {
        endWrite();
        return ST_WRITE_ERROR;
    }

    uint32_t* offsets = reinterpret_cast<uint32_t*>(table.get());
    uint32_t* counts = offsets + S;
    st = writeStrips(stream, request, t, &wh, offsets, counts);
    endWrite();
    if (st != ST_OK) return st;

    // Patch the strip positions and sizes: in the entries themselves for a
    // single strip, in the two arrays otherwise.
    long end = ftell(stream);
    if (end < 0) return ST_WRITE_ERROR;
    bool ok;
    if (S == 1) {
        uint8_t v[4];
        put32(v, offsets[0]);
        ok = writeAt(stream, static_cast<long>(10 + 12 * offsetsEntry + 8), v, 4);
        put32(v, counts[0]);
        ok = ok && writeAt(stream, static_cast<long>(10 + 12 * countsEntry + 8), v, 4);
    } else {
        Buffer arrays = allocBuffer(8ull * S);
        if (!arrays) return ST_NO_MEMORY;
        for (uint32_t i = 0; i < S; ++i) {
            put32(arrays.get() + 4 * i, offsets[i]);
            put32(arrays.get() + 4ull * S + 4 * i, counts[i]);
        }
        ok = writeAt(stream, static_cast<long>(offsetsPos), arrays.get(), 8ull * S);
    }
    if (!ok || fseek(stream, end, SEEK_SET) != 0) return ST_WRITE_ERROR;
    return ST_OK;
}
