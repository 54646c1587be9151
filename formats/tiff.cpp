// TIFF reader.
//
// A TIFF file starts with its byte order ("II" little-endian, "MM" big-endian),
// the magic number 42 and the offset of the first image file directory. Each
// directory (one per page) holds a count of 12-byte entries (tag, type, count,
// value or offset of the values) and the offset of the next directory.
//
// The picture is cut into strips of RowsPerStrip rows, or into tiles of
// TileWidth x TileLength pixels (cut at the right and bottom edges), each
// compressed on its own; with PlanarConfiguration 2 every sample has its own
// strips or tiles, one plane after the other. Every chunk is decoded row by
// row: the predictor is undone, the samples are brought to at most 8 bits,
// YCbCr and LogLuv data are made R,G,B, and the rows go to the core.
//
// Every offset, count and size in a directory is checked against the file
// before it is used: a chunk that lies beyond the end of the file or whose
// data end early gives the rows decoded so far.
#include <cmath>
#include <cstring>

#include <zlib.h>

#include "ccitt.h"
#include "codec.h"
#include "codecs.h"
#include "jpegglue.h"  // before jerror.h, which needs jpeglib.h
#include <jerror.h>
#include "kaleocore.h"
#include "packbits.h"
#include "stream.h"

namespace {

const char MSG_BAD_COMPRESSION[] = "TIFF : Bad data compression algorithm !";
const char MSG_BAD_PHOTOMETRIC[] = "TIFF : Bad photometric interpretation !";
const char MSG_BAD_LZW[] = "TIFF : Bad LZW codes !";
const char MSG_BAD_SIZE[] = "TIFF : Bad picture's size !";
const char MSG_BAD_BITS[] = "TIFF : Bad number of bits per sample !";
const char MSG_BAD_SAMPLES[] = "TIFF : Bad number of samples per pixel !";
const char MSG_BAD_SAMPLE_FORMAT[] = "TIFF : Bad sample format !";
const char MSG_BAD_PLANAR[] = "TIFF : Bad planar configuration !";
const char MSG_BAD_TILES[] = "TIFF : Bad tile size !";
const char MSG_BAD_OFFSETS[] = "TIFF : Bad strip offsets !";
const char MSG_BAD_JPEG[] = "TIFF : Bad JPEG strip !";

// Tags.
constexpr uint16_t TAG_WIDTH = 256;
constexpr uint16_t TAG_LENGTH = 257;
constexpr uint16_t TAG_BITS_PER_SAMPLE = 258;
constexpr uint16_t TAG_COMPRESSION = 259;
constexpr uint16_t TAG_PHOTOMETRIC = 262;
constexpr uint16_t TAG_FILL_ORDER = 266;
constexpr uint16_t TAG_STRIP_OFFSETS = 273;
constexpr uint16_t TAG_ORIENTATION = 274;
constexpr uint16_t TAG_SAMPLES_PER_PIXEL = 277;
constexpr uint16_t TAG_ROWS_PER_STRIP = 278;
constexpr uint16_t TAG_STRIP_BYTE_COUNTS = 279;
constexpr uint16_t TAG_X_RESOLUTION = 282;
constexpr uint16_t TAG_Y_RESOLUTION = 283;
constexpr uint16_t TAG_PLANAR_CONFIGURATION = 284;
constexpr uint16_t TAG_T4_OPTIONS = 292;
constexpr uint16_t TAG_RESOLUTION_UNIT = 296;
constexpr uint16_t TAG_PREDICTOR = 317;
constexpr uint16_t TAG_COLOR_MAP = 320;
constexpr uint16_t TAG_TILE_WIDTH = 322;
constexpr uint16_t TAG_TILE_LENGTH = 323;
constexpr uint16_t TAG_TILE_OFFSETS = 324;
constexpr uint16_t TAG_TILE_BYTE_COUNTS = 325;
constexpr uint16_t TAG_SAMPLE_FORMAT = 339;
constexpr uint16_t TAG_JPEG_TABLES = 347;
constexpr uint16_t TAG_YCBCR_COEFFICIENTS = 529;
constexpr uint16_t TAG_YCBCR_SUBSAMPLING = 530;

// Field types.
constexpr uint16_t TYPE_BYTE = 1;
constexpr uint16_t TYPE_SHORT = 3;
constexpr uint16_t TYPE_LONG = 4;
constexpr uint16_t TYPE_RATIONAL = 5;
constexpr uint16_t TYPE_SSHORT = 8;
constexpr uint16_t TYPE_SLONG = 9;

// Compressions.
constexpr uint16_t COMP_NONE = 1;
constexpr uint16_t COMP_CCITT_RLE = 2;
constexpr uint16_t COMP_CCITT_G3 = 3;
constexpr uint16_t COMP_CCITT_G4 = 4;
constexpr uint16_t COMP_LZW = 5;
constexpr uint16_t COMP_JPEG = 7;
constexpr uint16_t COMP_DEFLATE = 8;
constexpr uint16_t COMP_PACKBITS = 32773;
constexpr uint16_t COMP_DEFLATE_OLD = 32946;
constexpr uint16_t COMP_SGILOG = 34676;
constexpr uint16_t COMP_SGILOG24 = 34677;

// Photometric interpretations.
constexpr uint16_t PHOTO_MIN_IS_WHITE = 0;
constexpr uint16_t PHOTO_MIN_IS_BLACK = 1;
constexpr uint16_t PHOTO_RGB = 2;
constexpr uint16_t PHOTO_PALETTE = 3;
constexpr uint16_t PHOTO_CMYK = 5;
constexpr uint16_t PHOTO_YCBCR = 6;
constexpr uint16_t PHOTO_LOGL = 32844;
constexpr uint16_t PHOTO_LOGLUV = 32845;

constexpr uint16_t SAMPLE_FORMAT_FLOAT = 3;

// Directories followed before a chain is taken as looping.
constexpr int MAX_PAGES = 4096;
// A compressed chunk is read up to this many times its decoded size (CCITT
// codes of alternating one-pixel runs take several bits a pixel), plus headers.
constexpr uint64_t COMPRESSED_FACTOR = 8;
constexpr uint64_t COMPRESSED_SLACK = 4096;
// Spare bytes after row buffers, so that bit readers may look a few bytes ahead.
constexpr uint64_t ROW_SLACK = 16;
// Resolutions above this are taken as absent (they would not fit the 16-bit fields).
constexpr double MAX_DPI = 32767.0;

int typeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

struct Entry {
    bool present = false;
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t raw[4] = {};
};

// The fields of one directory, with the defaults in force before it is read.
struct Fields {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerSample = 1;
    bool bitsDiffer = false;
    uint16_t compression = COMP_NONE;
    uint16_t photometric = PHOTO_MIN_IS_BLACK;
    uint16_t fillOrder = 1;
    uint16_t orientation = 1;
    uint32_t samplesPerPixel = 1;
    uint32_t rowsPerStrip = 0;  // 0: not given
    uint16_t planar = 1;
    uint32_t t4Options = 0;
    uint16_t resolutionUnit = 2;
    uint16_t predictor = 1;
    uint16_t sampleFormat = 1;
    uint32_t tileWidth = 0;
    uint32_t tileLength = 0;
    uint16_t subsamplingH = 2;
    uint16_t subsamplingV = 2;
    Entry bitsArray;
    Entry stripOffsets, stripByteCounts, tileOffsets, tileByteCounts;
    Entry xResolution, yResolution, colorMap, jpegTables, ycbcrCoefficients;
};

// How the rows reach the core.
enum class Output : uint8_t {
    Packed,         // the file's packed 1, 2, 4 or 8-bit rows as they stand
    BytePixels,     // one sample a pixel (grey or index), one byte each
    Rgb,            // R,G,B bytes
    Rgba,           // R,G,B,A bytes
    Cmyk,           // C,M,Y,K bytes
    ChannelPlanes,  // one channel of one row, one byte a pixel
    YCbCrRgb,       // YCbCr data units made R,G,B
    LogLGrey,       // LogL made grey
    LogLuvRgb,      // LogLuv made R,G,B
};

enum class Model : uint8_t { Grey, Palette, Rgb, Cmyk, YCbCr, LogL, LogLuv };

uint8_t clampByte(double v) {
    if (v <= 0.0) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v + 0.5);
}

// ---------------------------------------------------------------------------
// LogL and LogLuv, the encodings of SGI's log-luminance TIFF: 16-bit LogL
// (sign and 15 bits of log2 luminance), 32-bit LogLuv (LogL and 8-bit u', v')
// and 24-bit LogLuv (10-bit LogL and a 14-bit index of a (u', v') square).

double logL16ToY(int p16) {
    int le = p16 & 0x7FFF;
    if (!le) return 0.0;
    double y = exp(M_LN2 / 256.0 * (le + 0.5) - M_LN2 * 64.0);
    return (p16 & 0x8000) ? -y : y;
}

double logL10ToY(int p10) {
    if (p10 == 0) return 0.0;
    return exp(M_LN2 / 64.0 * (p10 + 0.5) - M_LN2 * 12.0);
}

uint8_t gammaByte(double v) {
    if (v <= 0.0) return 0;
    if (v >= 1.0) return 255;
    return static_cast<uint8_t>(static_cast<int>(256.0 * sqrt(v)));
}

void xyzToRgb(const float xyz[3], uint8_t* rgb) {
    double r = 2.690 * xyz[0] + -1.276 * xyz[1] + -0.414 * xyz[2];
    double g = -1.022 * xyz[0] + 1.978 * xyz[1] + 0.044 * xyz[2];
    double b = 0.061 * xyz[0] + -0.224 * xyz[1] + 1.163 * xyz[2];
    rgb[0] = gammaByte(r);
    rgb[1] = gammaByte(g);
    rgb[2] = gammaByte(b);
}

void uvToXyz(double luminance, double u, double v, float xyz[3]) {
    double s = 1.0 / (6.0 * u - 16.0 * v + 12.0);
    double x = 9.0 * u * s;
    double y = 4.0 * v * s;
    xyz[0] = static_cast<float>(x / y * luminance);
    xyz[1] = static_cast<float>(luminance);
    xyz[2] = static_cast<float>((1.0 - x - y) / y * luminance);
}

void logLuv32ToRgb(uint32_t p, uint8_t* rgb) {
    float xyz[3] = {0, 0, 0};
    double luminance = logL16ToY(static_cast<int>(p >> 16));
    if (luminance > 0.0) {
        constexpr double UV_SCALE = 410.0;
        double u = 1.0 / UV_SCALE * (((p >> 8) & 0xFF) + 0.5);
        double v = 1.0 / UV_SCALE * ((p & 0xFF) + 0.5);
        uvToXyz(luminance, u, v, xyz);
    }
    xyzToRgb(xyz, rgb);
}

// The (u', v') squares of 24-bit LogLuv: for each of the 163 rows of squares
// (v' from 0.016940 in steps of 0.0035), the u' of its first square and the
// number of squares; the 14-bit index counts squares row after row.
struct UvRow {
    float uStart;
    int16_t count;
};
const UvRow UV_ROWS[] = {
    {0.247663f, 4},   {0.243779f, 6},   {0.241684f, 7},   {0.237874f, 9},   {0.235906f, 10},  {0.232153f, 12},
    {0.228352f, 14},  {0.226259f, 15},  {0.222371f, 17},  {0.220410f, 18},  {0.214710f, 21},  {0.212714f, 22},
    {0.210721f, 23},  {0.204976f, 26},  {0.202986f, 27},  {0.199245f, 29},  {0.195525f, 31},  {0.193560f, 32},
    {0.189878f, 34},  {0.186216f, 36},  {0.186216f, 36},  {0.182592f, 38},  {0.179003f, 40},  {0.175466f, 42},
    {0.172001f, 44},  {0.172001f, 44},  {0.168612f, 46},  {0.168612f, 46},  {0.163575f, 49},  {0.158642f, 52},
    {0.158642f, 52},  {0.158642f, 52},  {0.153815f, 55},  {0.153815f, 55},  {0.149097f, 58},  {0.149097f, 58},
    {0.142746f, 62},  {0.142746f, 62},  {0.142746f, 62},  {0.138270f, 65},  {0.138270f, 65},  {0.138270f, 65},
    {0.132166f, 69},  {0.132166f, 69},  {0.126204f, 73},  {0.126204f, 73},  {0.126204f, 73},  {0.120381f, 77},
    {0.120381f, 77},  {0.120381f, 77},  {0.120381f, 77},  {0.112962f, 82},  {0.112962f, 82},  {0.112962f, 82},
    {0.107450f, 86},  {0.107450f, 86},  {0.107450f, 86},  {0.107450f, 86},  {0.100343f, 91},  {0.100343f, 91},
    {0.100343f, 91},  {0.095126f, 95},  {0.095126f, 95},  {0.095126f, 95},  {0.095126f, 95},  {0.088276f, 100},
    {0.088276f, 100}, {0.088276f, 100}, {0.088276f, 100}, {0.081523f, 105}, {0.081523f, 105}, {0.081523f, 105},
    {0.081523f, 105}, {0.074861f, 110}, {0.074861f, 110}, {0.074861f, 110}, {0.074861f, 110}, {0.068290f, 115},
    {0.068290f, 115}, {0.068290f, 115}, {0.068290f, 115}, {0.063573f, 119}, {0.063573f, 119}, {0.063573f, 119},
    {0.063573f, 119}, {0.057219f, 124}, {0.057219f, 124}, {0.057219f, 124}, {0.057219f, 124}, {0.050985f, 129},
    {0.050985f, 129}, {0.050985f, 129}, {0.050985f, 129}, {0.050985f, 129}, {0.044859f, 134}, {0.044859f, 134},
    {0.044859f, 134}, {0.044859f, 134}, {0.040571f, 138}, {0.040571f, 138}, {0.040571f, 138}, {0.040571f, 138},
    {0.036339f, 142}, {0.036339f, 142}, {0.036339f, 142}, {0.036339f, 142}, {0.032139f, 146}, {0.032139f, 146},
    {0.032139f, 146}, {0.032139f, 146}, {0.027947f, 150}, {0.027947f, 150}, {0.027947f, 150}, {0.023739f, 154},
    {0.023739f, 154}, {0.023739f, 154}, {0.023739f, 154}, {0.019504f, 158}, {0.019504f, 158}, {0.019504f, 158},
    {0.016976f, 161}, {0.016976f, 161}, {0.016976f, 161}, {0.016976f, 161}, {0.012639f, 165}, {0.012639f, 165},
    {0.012639f, 165}, {0.009991f, 168}, {0.009991f, 168}, {0.009991f, 168}, {0.009016f, 170}, {0.009016f, 170},
    {0.009016f, 170}, {0.006217f, 173}, {0.006217f, 173}, {0.005097f, 175}, {0.005097f, 175}, {0.005097f, 175},
    {0.003909f, 177}, {0.003909f, 177}, {0.002340f, 177}, {0.002389f, 170}, {0.001068f, 164}, {0.001653f, 157},
    {0.000717f, 150}, {0.001614f, 143}, {0.000270f, 136}, {0.000484f, 129}, {0.001103f, 123}, {0.001242f, 115},
    {0.001188f, 109}, {0.001011f, 103}, {0.000709f, 97},  {0.000301f, 89},  {0.002416f, 82},  {0.003251f, 76},
    {0.003246f, 69},  {0.004141f, 62},  {0.005963f, 55},  {0.008839f, 47},  {0.010490f, 40},  {0.016994f, 31},
    {0.023659f, 21},
};
constexpr int UV_ROW_COUNT = static_cast<int>(sizeof UV_ROWS / sizeof UV_ROWS[0]);
constexpr float UV_SQUARE = 0.003500f;
constexpr float UV_V_START = 0.016940f;

struct UvTable {
    int32_t first[UV_ROW_COUNT];  // index of each row's first square
    int32_t total;
};

const UvTable& uvTable() {
    static const UvTable table = [] {
        UvTable t{};
        int32_t n = 0;
        for (int i = 0; i < UV_ROW_COUNT; ++i) {
            t.first[i] = n;
            n += UV_ROWS[i].count;
        }
        t.total = n;
        return t;
    }();
    return table;
}

void logLuv24ToRgb(uint32_t p, uint8_t* rgb) {
    float xyz[3] = {0, 0, 0};
    double luminance = logL10ToY(static_cast<int>((p >> 14) & 0x3FF));
    if (luminance > 0.0) {
        const UvTable& t = uvTable();
        int32_t index = static_cast<int32_t>(p & 0x3FFF);
        double u = 0.210526316, v = 0.473684211;  // the neutral point, for indices off the table
        if (index < t.total) {
            int lower = 0, upper = UV_ROW_COUNT;
            while (upper - lower > 1) {
                int mid = (lower + upper) >> 1;
                int32_t d = index - t.first[mid];
                if (d > 0) lower = mid;
                else if (d < 0) upper = mid;
                else {
                    lower = mid;
                    break;
                }
            }
            u = UV_ROWS[lower].uStart + (index - t.first[lower] + 0.5) * UV_SQUARE;
            v = UV_V_START + (lower + 0.5) * UV_SQUARE;
        }
        uvToXyz(luminance, u, v, xyz);
    }
    xyzToRgb(xyz, rgb);
}

// ---------------------------------------------------------------------------
// LZW data of TIFF: codes of 9 to 12 bits, clear code 256, end code 257. New
// data are packed most significant bit first and the code width grows one code
// early; old data (from early writers) least significant bit first, growing
// when the next free code passes the width.

constexpr int LZW_CLEAR = 256;
constexpr int LZW_END = 257;
constexpr int LZW_FIRST = 258;
constexpr int LZW_TABLE = 4096;

struct LzwTable {
    uint16_t prefix[LZW_TABLE];
    uint16_t length[LZW_TABLE];
    uint8_t suffix[LZW_TABLE];
    uint8_t first[LZW_TABLE];
    uint8_t string[LZW_TABLE];  // one decoded string
};

enum class LzwEnd : uint8_t { Done, EndCode, EndOfInput, BadCodes };

class LzwBits {
public:
    LzwBits(const uint8_t* data, size_t size, bool lsbFirst) : data_(data), size_(size), lsbFirst_(lsbFirst) {}
    // The next code of `width` bits, or -1 when the data end.
    int read(int width) {
        while (count_ < width) {
            if (pos_ >= size_) return -1;
            uint32_t byte = data_[pos_++];
            if (lsbFirst_) acc_ |= byte << count_;
            else acc_ = (acc_ << 8) | byte;
            count_ += 8;
        }
        int code;
        if (lsbFirst_) {
            code = static_cast<int>(acc_ & ((1u << width) - 1));
            acc_ >>= width;
        } else {
            code = static_cast<int>((acc_ >> (count_ - width)) & ((1u << width) - 1));
        }
        count_ -= width;
        if (!lsbFirst_) acc_ &= (1u << count_) - 1;
        return code;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint32_t acc_ = 0;
    int count_ = 0;
    bool lsbFirst_;
};

// Receives the decoded bytes of a chunk and cuts them into rows.
class RowAssembler {
public:
    using RowFn = Status (*)(void* datum, uint8_t* row);
    RowAssembler(uint8_t* row, size_t rowBytes, uint32_t rows, RowFn fn, void* datum)
        : row_(row), rowBytes_(rowBytes), rows_(rows), fn_(fn), datum_(datum) {}
    // Adds bytes; false once every row is complete or the receiver failed.
    bool put(const uint8_t* p, size_t n) {
        while (n > 0 && !done()) {
            size_t k = rowBytes_ - filled_ < n ? rowBytes_ - filled_ : n;
            memcpy(row_ + filled_, p, k);
            filled_ += k;
            p += k;
            n -= k;
            if (filled_ == rowBytes_) finishRow();
        }
        return !done();
    }
    // Where the next bytes go directly (zlib), and how many fit there.
    uint8_t* space() { return row_ + filled_; }
    size_t room() const { return rowBytes_ - filled_; }
    void commit(size_t k) {
        filled_ += k;
        if (filled_ == rowBytes_) finishRow();
    }
    // Hands over a row begun but not finished, its missing bytes 0.
    void flushPartial() {
        if (filled_ == 0 || done()) return;
        memset(row_ + filled_, 0, rowBytes_ - filled_);
        filled_ = rowBytes_;
        finishRow();
    }
    bool done() const { return rowsDone_ >= rows_ || status_ != ST_OK; }
    bool complete() const { return rowsDone_ >= rows_; }
    Status status() const { return status_; }

private:
    void finishRow() {
        filled_ = 0;
        ++rowsDone_;
        Status st = fn_(datum_, row_);
        if (st != ST_OK) status_ = st;
    }
    uint8_t* row_;
    size_t rowBytes_;
    uint32_t rows_;
    RowFn fn_;
    void* datum_;
    size_t filled_ = 0;
    uint32_t rowsDone_ = 0;
    Status status_ = ST_OK;
};

LzwEnd lzwDecode(LzwTable* t, const uint8_t* in, size_t n, bool oldStyle, RowAssembler* out) {
    for (int i = 0; i < 256; ++i) {
        t->prefix[i] = 0;
        t->length[i] = 1;
        t->suffix[i] = static_cast<uint8_t>(i);
        t->first[i] = static_cast<uint8_t>(i);
    }
    LzwBits bits(in, n, oldStyle);
    int width = 9;
    int next = LZW_FIRST;
    int previous = -1;  // -1 right after a clear code
    int code = bits.read(width);
    if (code < 0) return LzwEnd::EndOfInput;
    if (code != LZW_CLEAR) return LzwEnd::BadCodes;
    for (;;) {
        code = bits.read(width);
        if (code < 0) return LzwEnd::EndOfInput;
        if (code == LZW_CLEAR) {
            width = 9;
            next = LZW_FIRST;
            previous = -1;
            continue;
        }
        if (code == LZW_END) return LzwEnd::EndCode;
        if (previous < 0) {
            // After a clear code only a single byte can come.
            if (code > 255) return LzwEnd::BadCodes;
            uint8_t b = static_cast<uint8_t>(code);
            if (!out->put(&b, 1)) return LzwEnd::Done;
            previous = code;
            continue;
        }
        if (code > next || (code == next && next >= LZW_TABLE)) return LzwEnd::BadCodes;
        // A new entry: the previous string and the first byte of this one
        // (of the previous one itself when the code is the entry being made).
        if (next < LZW_TABLE) {
            uint8_t firstByte = code == next ? t->first[previous] : t->first[code];
            t->prefix[next] = static_cast<uint16_t>(previous);
            t->suffix[next] = firstByte;
            t->first[next] = t->first[previous];
            t->length[next] = static_cast<uint16_t>(t->length[previous] + 1);
            ++next;
        }
        // Write the string out, last byte first.
        int len = t->length[code];
        int c = code;
        for (int i = len - 1; i >= 0; --i) {
            t->string[i] = t->suffix[c];
            c = t->prefix[c];
        }
        if (!out->put(t->string, static_cast<size_t>(len))) return LzwEnd::Done;
        previous = code;
        int limit = oldStyle ? (1 << width) : (1 << width) - 1;
        if (next >= limit && width < 12) ++width;
    }
}

// ---------------------------------------------------------------------------

struct Endian {
    bool big = false;
    uint16_t u16(const uint8_t* p) const { return big ? loadU16BE(p) : loadU16LE(p); }
    uint32_t u32(const uint8_t* p) const { return big ? loadU32BE(p) : loadU32LE(p); }
};

class TiffReader {
public:
    TiffReader(FILE* f, LoadRequest* request) : f_(f), request_(request) {}
    ~TiffReader() { free(lzw_); }
    Status run();

private:
    // File access.
    bool readAt(uint64_t offset, void* dst, size_t n);
    Status readHeader(uint32_t* firstDirectory);
    int walkDirectories(uint32_t first, uint32_t* offsets);
    Status parseDirectory(uint32_t offset);
    void storeEntry(uint16_t tag, const Entry& e);
    bool scalar(const Entry& e, uint32_t* value);
    bool rational(const Entry& e, double* value);
    Buffer readArray(const Entry& e, uint32_t want, uint32_t* got);

    // Set-up.
    Status plan();
    Status readColorMap();
    void readResolution(int32_t* xdpi, int32_t* ydpi);
    void readYCbCrCoefficients();
    const char* nameFormat() const;

    // Decoding.
    Status decodeImage();
    Status decodeChunk(uint32_t index, uint32_t x0, uint32_t y0, uint32_t validWidth, uint32_t validRows);
    Status loadChunk(uint32_t index, uint64_t decodedBytes, size_t* size, bool* cut);
    Status decodeRaw(uint32_t index, uint32_t units);
    Status decodePackBits(size_t size, uint32_t units, bool cut);
    Status decodeLzw(size_t size, uint32_t units, bool cut);
    Status decodeDeflate(size_t size, uint32_t units, bool cut);
    Status decodeCcitt(size_t size, uint32_t units);
    Status decodeJpeg(size_t size, uint32_t rows);
    Status decodeSgiLog(size_t size, uint32_t units, bool cut);
    static Status rowThunk(void* datum, uint8_t* row);
    Status onRow(uint8_t* row);
    void convertRow(const uint8_t* src, uint32_t n, uint8_t* dst) const;
    void convertYCbCr(const uint8_t* src, uint32_t n);
    Status place(uint32_t y, const uint8_t* data, size_t bytes, uint64_t byteOffset);
    Status flushBand(uint32_t y0, uint32_t rows);
    void undoPredictor(uint8_t* row) const;
    uint32_t sample(const uint8_t* row, uint64_t index) const;

    FILE* f_;
    LoadRequest* request_;
    Endian e_;
    uint64_t fileSize_ = 0;
    Fields d_;

    // What the directory asks for.
    Model model_ = Model::Grey;
    Output out_ = Output::Packed;
    uint32_t width_ = 0, height_ = 0;
    uint32_t bps_ = 1;            // bits of one sample in the decoded rows
    uint32_t spp_ = 1;            // samples a pixel in one decoded row (1 for separate planes)
    uint32_t usedSamples_ = 1;    // samples delivered: 1, 3 or 4
    bool separate_ = false;       // PlanarConfiguration 2 with several samples
    uint32_t storedPlanes_ = 1;
    uint32_t planesToDecode_ = 1;
    bool tiled_ = false;
    uint32_t chunkWidth_ = 0, chunkLength_ = 0;
    uint32_t across_ = 1, down_ = 1;
    uint64_t chunkRowBytes_ = 0;  // bytes of one decoded row (or YCbCr unit row) of a chunk
    uint32_t unitRows_ = 1;       // image rows per decoded row (YCbCr vertical subsampling)
    uint32_t unitWidth_ = 1;      // pixels per data unit across (YCbCr horizontal subsampling)
    int outBits_ = 8;             // bits a pixel of the delivered row
    uint64_t outRowBytes_ = 0;
    bool scaleSmall_ = false;     // colour samples below 8 bits are stretched to 0..255
    bool invertRows_ = false;     // CCITT rows of a min-is-black page
    bool reverseRows_ = false;    // fill order 2, undone after decoding
    bool reverseInput_ = false;   // fill order 2, undone before decoding
    bool predictor_ = false;
    bool oldLzw_ = false;
    bool oldLzwKnown_ = false;
    double luma_[3] = {0.299, 0.587, 0.114};

    // Chunk tables.
    Buffer offsets_, byteCounts_;
    uint32_t offsetCount_ = 0, byteCountCount_ = 0;
    Buffer colorMap_;  // 16-bit little-endian planar table for endImage
    Buffer jpegTables_;
    uint32_t jpegTablesSize_ = 0;

    // Decoding state.
    RasterHeader rh_{};
    Buffer input_;
    size_t inputCapacity_ = 0;
    Buffer chunkRow_;      // one decoded row (or unit row) of a chunk
    Buffer converted_;     // one delivered row (or YCbCr unit rows)
    Buffer band_;          // tiles: the delivered rows of one row of tiles
    LzwTable* lzw_ = nullptr;
    CcittDecoder ccitt_;
    int plane_ = -1;       // the putRows plane of the rows being decoded
    uint32_t chunkX0_ = 0, chunkY0_ = 0, chunkValidWidth_ = 0, chunkValidRows_ = 0;
    uint32_t chunkRowIndex_ = 0;
    uint32_t bandY0_ = 0;
    bool badLzw_ = false;
    bool jpegMismatch_ = false;
    uint32_t jpegComponents_ = 0;
    friend Status jpegRow(void*, const uint8_t*, int32_t, const jpeg_decompress_struct*);
    friend void jpegConfigure(void*, jpeg_decompress_struct*);
};

bool TiffReader::readAt(uint64_t offset, void* dst, size_t n) {
    if (offset > fileSize_ || n > fileSize_ - offset) return false;
    if (fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return readBlock(f_, dst, n);
}

Status TiffReader::readHeader(uint32_t* firstDirectory) {
    uint8_t h[8];
    if (!readBlock(f_, h, sizeof h)) return ST_UNKNOWN_FORMAT;
    if (h[0] == 'I' && h[1] == 'I') e_.big = false;
    else if (h[0] == 'M' && h[1] == 'M') e_.big = true;
    else return ST_UNKNOWN_FORMAT;
    // The magic is accepted in either byte order.
    if (!((h[2] == 42 && h[3] == 0) || (h[2] == 0 && h[3] == 42))) return ST_UNKNOWN_FORMAT;
    *firstDirectory = e_.u32(h + 4);
    return ST_OK;
}

// Follows the chain of directories; returns how many there are, their offsets
// in `offsets`. A chain that comes back to a directory already seen ends there.
int TiffReader::walkDirectories(uint32_t first, uint32_t* offsets) {
    int n = 0;
    uint32_t offset = first;
    while (offset != 0 && n < MAX_PAGES) {
        for (int i = 0; i < n; ++i)
            if (offsets[i] == offset) return n;
        uint8_t b[4];
        if (!readAt(offset, b, 2)) break;
        uint64_t entries = e_.u16(b);
        uint64_t next = static_cast<uint64_t>(offset) + 2 + entries * 12;
        if (next > fileSize_) break;
        offsets[n++] = offset;
        if (!readAt(next, b, 4)) break;
        offset = e_.u32(b);
    }
    return n;
}

bool TiffReader::scalar(const Entry& e, uint32_t* value) {
    if (!e.present || e.count == 0) return false;
    const int size = typeSize(e.type);
    uint8_t b[4];
    const uint8_t* p = e.raw;
    if (size == 0 || size > 4) return false;
    if (static_cast<uint64_t>(size) * e.count > 4) {
        if (!readAt(e_.u32(e.raw), b, static_cast<size_t>(size))) return false;
        p = b;
    }
    switch (e.type) {
    case TYPE_SHORT:
    case TYPE_SSHORT: *value = e_.u16(p); return true;
    case TYPE_LONG:
    case TYPE_SLONG: *value = e_.u32(p); return true;
    case TYPE_BYTE: *value = p[0]; return true;
    default: return false;
    }
}

bool TiffReader::rational(const Entry& e, double* value) {
    if (!e.present || e.count == 0 || e.type != TYPE_RATIONAL) return false;
    uint8_t b[8];
    if (!readAt(e_.u32(e.raw), b, 8)) return false;
    uint32_t num = e_.u32(b), den = e_.u32(b + 4);
    if (den == 0) return false;
    *value = static_cast<double>(num) / den;
    return true;
}

// Up to `want` values of a BYTE, SHORT or LONG array, as 32-bit numbers.
Buffer TiffReader::readArray(const Entry& e, uint32_t want, uint32_t* got) {
    *got = 0;
    if (!e.present || e.count == 0) return Buffer();
    const int size = typeSize(e.type);
    if (e.type != TYPE_BYTE && e.type != TYPE_SHORT && e.type != TYPE_LONG && e.type != TYPE_SSHORT &&
        e.type != TYPE_SLONG)
        return Buffer();
    uint32_t n = e.count < want ? e.count : want;
    uint64_t bytes = static_cast<uint64_t>(n) * size;
    Buffer raw = allocBuffer(bytes + 4);
    Buffer values = allocBuffer(static_cast<uint64_t>(n) * 4);
    if (!raw || !values) return Buffer();
    if (static_cast<uint64_t>(size) * e.count <= 4) memcpy(raw.get(), e.raw, static_cast<size_t>(bytes));
    else if (!readAt(e_.u32(e.raw), raw.get(), static_cast<size_t>(bytes))) return Buffer();
    uint32_t* v = reinterpret_cast<uint32_t*>(values.get());
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = raw.get() + static_cast<size_t>(i) * size;
        v[i] = size == 1 ? p[0] : size == 2 ? e_.u16(p) : e_.u32(p);
    }
    *got = n;
    return values;
}

void TiffReader::storeEntry(uint16_t tag, const Entry& e) {
    uint32_t v = 0;
    switch (tag) {
    case TAG_WIDTH: if (scalar(e, &v)) d_.width = v; break;
    case TAG_LENGTH: if (scalar(e, &v)) d_.height = v; break;
    case TAG_BITS_PER_SAMPLE:
        if (scalar(e, &v)) d_.bitsPerSample = v;
        d_.bitsArray = e;
        break;
    case TAG_COMPRESSION:
        if (scalar(e, &v)) {
            d_.compression = static_cast<uint16_t>(v);
            // Fax data are min-is-white unless a later tag says otherwise.
            if (v == COMP_CCITT_RLE || v == COMP_CCITT_G3 || v == COMP_CCITT_G4) d_.photometric = PHOTO_MIN_IS_WHITE;
        }
        break;
    case TAG_PHOTOMETRIC: if (scalar(e, &v)) d_.photometric = static_cast<uint16_t>(v); break;
    case TAG_FILL_ORDER: if (scalar(e, &v)) d_.fillOrder = static_cast<uint16_t>(v); break;
    case TAG_STRIP_OFFSETS: d_.stripOffsets = e; break;
    case TAG_ORIENTATION: if (scalar(e, &v)) d_.orientation = static_cast<uint16_t>(v); break;
    case TAG_SAMPLES_PER_PIXEL: if (scalar(e, &v)) d_.samplesPerPixel = v; break;
    case TAG_ROWS_PER_STRIP: if (scalar(e, &v)) d_.rowsPerStrip = v; break;
    case TAG_STRIP_BYTE_COUNTS: d_.stripByteCounts = e; break;
    case TAG_X_RESOLUTION: d_.xResolution = e; break;
    case TAG_Y_RESOLUTION: d_.yResolution = e; break;
    case TAG_PLANAR_CONFIGURATION: if (scalar(e, &v)) d_.planar = static_cast<uint16_t>(v); break;
    case TAG_T4_OPTIONS: if (scalar(e, &v)) d_.t4Options = v; break;
    case TAG_RESOLUTION_UNIT: if (scalar(e, &v)) d_.resolutionUnit = static_cast<uint16_t>(v); break;
    case TAG_PREDICTOR: if (scalar(e, &v)) d_.predictor = static_cast<uint16_t>(v); break;
    case TAG_COLOR_MAP: d_.colorMap = e; break;
    case TAG_TILE_WIDTH: if (scalar(e, &v)) d_.tileWidth = v; break;
    case TAG_TILE_LENGTH: if (scalar(e, &v)) d_.tileLength = v; break;
    case TAG_TILE_OFFSETS: d_.tileOffsets = e; break;
    case TAG_TILE_BYTE_COUNTS: d_.tileByteCounts = e; break;
    case TAG_SAMPLE_FORMAT: if (scalar(e, &v)) d_.sampleFormat = static_cast<uint16_t>(v); break;
    case TAG_JPEG_TABLES: d_.jpegTables = e; break;
    case TAG_YCBCR_COEFFICIENTS: d_.ycbcrCoefficients = e; break;
    case TAG_YCBCR_SUBSAMPLING:
        if (e.type == TYPE_SHORT && e.count == 2) {
            d_.subsamplingH = e_.u16(e.raw);
            d_.subsamplingV = e_.u16(e.raw + 2);
        }
        break;
    default: break;
    }
}

Status TiffReader::parseDirectory(uint32_t offset) {
    uint8_t b[2];
    if (!readAt(offset, b, 2)) return ST_READ_ERROR;
    const uint32_t count = e_.u16(b);
    Buffer entries = allocBuffer(static_cast<uint64_t>(count) * 12);
    if (!entries) return ST_NO_MEMORY;
    if (count && !readAt(static_cast<uint64_t>(offset) + 2, entries.get(), static_cast<size_t>(count) * 12))
        return ST_READ_ERROR;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = entries.get() + static_cast<size_t>(i) * 12;
        Entry e;
        e.present = true;
        uint16_t tag = e_.u16(p);
        e.type = e_.u16(p + 2);
        e.count = e_.u32(p + 4);
        memcpy(e.raw, p + 8, 4);
        // Values that cannot all lie inside the file are not there at all.
        const int size = typeSize(e.type);
        uint64_t bytes = static_cast<uint64_t>(e.count) * (size ? size : 1);
        if (size == 0 || bytes > fileSize_ || (bytes > 4 && e_.u32(e.raw) > fileSize_ - bytes)) continue;
        storeEntry(tag, e);
    }
    // Every BitsPerSample value must be the same.
    if (d_.bitsArray.present && d_.bitsArray.count > 1) {
        uint32_t n = 0;
        Buffer v = readArray(d_.bitsArray, d_.bitsArray.count < 16 ? d_.bitsArray.count : 16, &n);
        const uint32_t* bits = reinterpret_cast<const uint32_t*>(v.get());
        for (uint32_t i = 1; i < n; ++i)
            if (bits[i] != bits[0]) d_.bitsDiffer = true;
        if (n) d_.bitsPerSample = bits[0];
    }
    return ST_OK;
}

const char* TiffReader::nameFormat() const {
    switch (d_.compression) {
    case COMP_CCITT_RLE: return "TIFF CCITT Rle %s";
    case COMP_CCITT_G3: return "TIFF CCITT Group 3 %s";
    case COMP_CCITT_G4: return "TIFF CCITT Group 4 %s";
    case COMP_LZW: return "TIFF LZW %s";
    case COMP_JPEG: return "TIFF Jpeg %s";
    case COMP_DEFLATE:
    case COMP_DEFLATE_OLD: return "TIFF Deflate %s";
    case COMP_PACKBITS: return "TIFF PackBits %s";
    case COMP_SGILOG: return "TIFF SGILog %s";
    case COMP_SGILOG24: return "TIFF SGILog24 %s";
    default: return "TIFF %s";
    }
}

void TiffReader::readResolution(int32_t* xdpi, int32_t* ydpi) {
    double x = 0, y = 0;
    auto toDpi = [this](double v) -> int32_t {
        switch (d_.resolutionUnit) {
        case 1: v = floor(v); break;    // no unit: the ratio as it stands
        case 3: v = v * 2.54 + 0.5; break;  // per centimetre
        default: break;
        }
        if (!(v >= 0.0) || v > MAX_DPI) return 0;
        return static_cast<int32_t>(v);
    };
    *xdpi = rational(d_.xResolution, &x) ? toDpi(x) : 0;
    *ydpi = rational(d_.yResolution, &y) ? toDpi(y) : 0;
}

void TiffReader::readYCbCrCoefficients() {
    const Entry& e = d_.ycbcrCoefficients;
    if (!e.present || e.type != TYPE_RATIONAL || e.count < 3) return;
    uint8_t b[24];
    if (!readAt(e_.u32(e.raw), b, sizeof b)) return;
    double c[3];
    for (int i = 0; i < 3; ++i) {
        uint32_t num = e_.u32(b + 8 * i), den = e_.u32(b + 8 * i + 4);
        if (den == 0) return;
        c[i] = static_cast<double>(num) / den;
    }
    if (!(c[1] > 0.0) || !(c[0] >= 0.0) || !(c[2] >= 0.0) || c[0] >= 1.0 || c[2] >= 1.0) return;
    memcpy(luma_, c, sizeof c);
}

// The colour map: 2^bits reds, greens and blues of 16 bits, copied into a
// zeroed planar table of 16-bit little-endian components for endImage.
Status TiffReader::readColorMap() {
    const Entry& e = d_.colorMap;
    if (!e.present || e.type != TYPE_SHORT || e.count < 3 || outBits_ > 8) return ST_OK;
    const uint32_t entries = 1u << outBits_;
    colorMap_ = allocBuffer(6 * static_cast<uint64_t>(entries));
    if (!colorMap_) return ST_NO_MEMORY;
    const uint32_t perPlane = e.count / 3;
    const uint32_t used = perPlane < entries ? perPlane : entries;
    uint32_t got = 0;
    Buffer values = readArray(e, e.count, &got);
    if (!values || got < e.count) {
        colorMap_.reset();  // unreadable: the picture comes out grey
        return ST_OK;
    }
    const uint32_t* v = reinterpret_cast<const uint32_t*>(values.get());
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < used; ++i) {
            uint32_t x = v[c * perPlane + i];
            uint8_t* d = colorMap_.get() + 2 * (c * entries + i);
            d[0] = static_cast<uint8_t>(x & 0xFF);
            d[1] = static_cast<uint8_t>(x >> 8);
        }
    return ST_OK;
}

// Judges the directory and decides how its rows reach the core.
Status TiffReader::plan() {
    const uint16_t comp = d_.compression;
    switch (comp) {
    case COMP_NONE: case COMP_CCITT_RLE: case COMP_CCITT_G3: case COMP_CCITT_G4: case COMP_LZW:
    case COMP_JPEG: case COMP_DEFLATE: case COMP_DEFLATE_OLD: case COMP_PACKBITS: case COMP_SGILOG:
    case COMP_SGILOG24:
        break;
    default:
        setReaderMessage(request_, MSG_BAD_COMPRESSION);
        return ST_BAD_FILE;
    }
    const uint16_t photo = d_.photometric;
    switch (photo) {
    case PHOTO_MIN_IS_WHITE: case PHOTO_MIN_IS_BLACK: case PHOTO_RGB: case PHOTO_PALETTE: case PHOTO_CMYK:
    case PHOTO_YCBCR: case PHOTO_LOGL: case PHOTO_LOGLUV:
        break;
    default:
        setReaderMessage(request_, MSG_BAD_PHOTOMETRIC);
        return ST_BAD_FILE;
    }
    const bool ccitt = comp == COMP_CCITT_RLE || comp == COMP_CCITT_G3 || comp == COMP_CCITT_G4;
    const bool sgiLog = comp == COMP_SGILOG || comp == COMP_SGILOG24;
    if ((photo == PHOTO_LOGL || photo == PHOTO_LOGLUV) && !sgiLog) {
        setReaderMessage(request_, MSG_BAD_COMPRESSION);
        return ST_BAD_FILE;
    }
    if (d_.width < 1 || d_.height < 1 || d_.width > MAX_IMAGE_SIDE || d_.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request_, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    width_ = d_.width;
    height_ = d_.height;

    // The colour model.
    if (sgiLog) model_ = photo == PHOTO_LOGL && comp == COMP_SGILOG ? Model::LogL : Model::LogLuv;
    else if (photo == PHOTO_RGB) model_ = Model::Rgb;
    else if (photo == PHOTO_PALETTE) model_ = Model::Palette;
    else if (photo == PHOTO_CMYK) model_ = Model::Cmyk;
    else if (photo == PHOTO_YCBCR) model_ = Model::YCbCr;
    else model_ = Model::Grey;
    if (ccitt) model_ = Model::Grey;

    const uint32_t spp = d_.samplesPerPixel;
    const uint32_t bps = d_.bitsPerSample;
    const uint32_t colourSamples = model_ == Model::Rgb || model_ == Model::YCbCr || model_ == Model::LogLuv ? 3
                                   : model_ == Model::Cmyk ? 4 : 1;
    if (spp < colourSamples || spp > 64) {
        setReaderMessage(request_, MSG_BAD_SAMPLES);
        return ST_BAD_FILE;
    }
    if (!sgiLog) {
        bool bitsOk = bps >= 1 && (bps <= 16 || bps == 24 || bps == 32) && !d_.bitsDiffer;
        if (model_ == Model::Palette && bps > 8) bitsOk = false;
        if ((ccitt && (bps != 1 || spp != 1)) || ((comp == COMP_JPEG || model_ == Model::YCbCr) && bps != 8))
            bitsOk = false;
        if (!bitsOk) {
            setReaderMessage(request_, MSG_BAD_BITS);
            return ST_BAD_FILE;
        }
        if (d_.sampleFormat == SAMPLE_FORMAT_FLOAT) {
            setReaderMessage(request_, MSG_BAD_SAMPLE_FORMAT);
            return ST_BAD_FILE;
        }
    }
    separate_ = d_.planar == 2 && spp > 1 && !sgiLog;
    storedPlanes_ = separate_ ? spp : 1;
    bps_ = sgiLog ? 8 : bps;
    spp_ = separate_ ? 1 : spp;
    if (model_ == Model::YCbCr && separate_) {
        setReaderMessage(request_, MSG_BAD_PLANAR);
        return ST_BAD_FILE;
    }

    // Strips or tiles.
    tiled_ = d_.tileWidth > 0 && d_.tileLength > 0 && d_.tileOffsets.present;
    if (tiled_) {
        if (d_.tileWidth > 65536 || d_.tileLength > 65536) {
            setReaderMessage(request_, MSG_BAD_TILES);
            return ST_BAD_FILE;
        }
        chunkWidth_ = d_.tileWidth;
        chunkLength_ = d_.tileLength;
        across_ = (width_ + chunkWidth_ - 1) / chunkWidth_;
        down_ = (height_ + chunkLength_ - 1) / chunkLength_;
    } else {
        if (!d_.stripOffsets.present) {
            setReaderMessage(request_, MSG_BAD_OFFSETS);
            return ST_BAD_FILE;
        }
        uint32_t rps = d_.rowsPerStrip;
        if (rps == 0 || rps > height_) rps = height_;
        chunkWidth_ = width_;
        chunkLength_ = rps;
        across_ = 1;
        down_ = (height_ + rps - 1) / rps;
    }

    // Decoded rows of one chunk.
    const uint16_t h = d_.subsamplingH, v = d_.subsamplingV;
    const bool ycbcrRaw = model_ == Model::YCbCr && comp != COMP_JPEG;
    if (ycbcrRaw && (h == 1 || h == 2 || h == 4) && (v == 1 || v == 2 || v == 4)) {
        unitWidth_ = h;
        unitRows_ = v;
    }
    if (ycbcrRaw) {
        uint64_t units = (static_cast<uint64_t>(chunkWidth_) + unitWidth_ - 1) / unitWidth_;
        chunkRowBytes_ = units * (unitWidth_ * unitRows_ + 2);
    } else if (model_ == Model::LogL && comp == COMP_SGILOG) {
        chunkRowBytes_ = 2ull * chunkWidth_;
    } else if (model_ == Model::LogLuv) {
        chunkRowBytes_ = (comp == COMP_SGILOG24 ? 3ull : 4ull) * chunkWidth_;
    } else {
        chunkRowBytes_ = (static_cast<uint64_t>(chunkWidth_) * spp_ * bps_ + 7) / 8;
    }

    // What is delivered.
    uint16_t layout = 0;
    int planes = 1;
    usedSamples_ = colourSamples;
    const bool packedFits = !tiled_ || (static_cast<uint64_t>(chunkWidth_) * bps_) % 8 == 0;
    switch (model_) {
    case Model::Grey:
    case Model::Palette:
        if (ccitt || ((bps_ == 1 || bps_ == 2 || bps_ == 4 || bps_ == 8) && spp_ == 1 && packedFits)) {
            out_ = Output::Packed;
            outBits_ = static_cast<int>(bps_);
        } else {
            out_ = Output::BytePixels;
            outBits_ = bps_ > 8 ? 8 : static_cast<int>(bps_);
            layout = PL_BYTE_PIXELS;
        }
        break;
    case Model::Rgb:
        usedSamples_ = spp >= 4 ? 4 : 3;
        out_ = separate_ ? Output::ChannelPlanes : usedSamples_ == 4 ? Output::Rgba : Output::Rgb;
        break;
    case Model::Cmyk:
        usedSamples_ = 4;
        out_ = separate_ ? Output::ChannelPlanes : Output::Cmyk;
        layout = PL_CMYK;
        break;
    case Model::YCbCr:
        out_ = ycbcrRaw ? Output::YCbCrRgb : separate_ ? Output::ChannelPlanes : Output::Rgb;
        break;
    case Model::LogL:
        out_ = Output::LogLGrey;
        break;
    case Model::LogLuv:
        out_ = Output::LogLuvRgb;
        break;
    }
    if (out_ == Output::ChannelPlanes) {
        planes = static_cast<int>(usedSamples_);
        layout |= PL_CHANNEL_PLANES;
        outBits_ = 8;
        outRowBytes_ = width_;
    } else if (out_ == Output::Packed) {
        outRowBytes_ = (static_cast<uint64_t>(width_) * outBits_ + 7) / 8;
    } else if (out_ == Output::BytePixels || out_ == Output::LogLGrey) {
        if (out_ == Output::LogLGrey) outBits_ = 8;
        outRowBytes_ = width_;
    } else {
        int bytes = out_ == Output::Rgba || out_ == Output::Cmyk ? 4 : 3;
        outBits_ = 8 * bytes;
        outRowBytes_ = static_cast<uint64_t>(bytes) * width_;
    }
    planesToDecode_ = separate_ ? (out_ == Output::ChannelPlanes ? usedSamples_ : 1) : 1;
    scaleSmall_ = model_ == Model::Rgb || model_ == Model::Cmyk;
    invertRows_ = ccitt && photo == PHOTO_MIN_IS_BLACK;
    const bool bitReversed = d_.fillOrder == 2;
    reverseInput_ = bitReversed && (ccitt || comp == COMP_LZW || comp == COMP_DEFLATE || comp == COMP_DEFLATE_OLD);
    reverseRows_ = bitReversed && (comp == COMP_NONE || comp == COMP_PACKBITS);
    predictor_ = d_.predictor != 1 && (comp == COMP_LZW || comp == COMP_DEFLATE || comp == COMP_DEFLATE_OLD);

    rh_.layout = layout;
    switch (d_.orientation) {
    case 2: rh_.orientation = OR_MIRRORED; break;
    case 3: rh_.orientation = OR_MIRRORED | OR_BOTTOM_UP; break;
    case 4: rh_.orientation = OR_BOTTOM_UP; break;
    default: rh_.orientation = 0; break;
    }
    rh_.channels = 1;
    rh_.width = static_cast<int32_t>(width_);
    rh_.height = static_cast<int32_t>(height_);
    rh_.planes = static_cast<int16_t>(planes);
    rh_.bitsPerPlane = static_cast<int16_t>(out_ == Output::ChannelPlanes ? 8 : outBits_);
    rh_.bytesPerPlane = static_cast<int32_t>(outRowBytes_);
    readResolution(&rh_.xdpi, &rh_.ydpi);
    const char* suffix = photo == PHOTO_CMYK ? "(CMYK)"
                         : photo == PHOTO_YCBCR ? "(YCbCr)"
                         : photo == PHOTO_LOGL ? "(CIE Log2(L))"
                         : photo == PHOTO_LOGLUV ? "(CIE Log2(L) (u',v'))" : "(RGB)";
    char name[RASTER_NAME_LEN];
    snprintf(name, sizeof name, nameFormat(), suffix);
    setRasterName(rh_.name, name);
    return ST_OK;
}

Status TiffReader::run() {
    uint32_t first = 0;
    Status st = readHeader(&first);
    if (st != ST_OK) return st;
    if (request_->fileSize > 0) {
        fileSize_ = static_cast<uint64_t>(request_->fileSize);
    } else {
        if (fseek(f_, 0, SEEK_END) != 0) return ST_READ_ERROR;
        long end = ftell(f_);
        if (end < 0) return ST_READ_ERROR;
        fileSize_ = static_cast<uint64_t>(end);
    }

    Buffer offsetStore = allocBuffer(sizeof(uint32_t) * MAX_PAGES);
    if (!offsetStore) return ST_NO_MEMORY;
    uint32_t* directories = reinterpret_cast<uint32_t*>(offsetStore.get());
    const int pages = walkDirectories(first, directories);
    request_->pageCount = pages > 0 ? pages : 1;
    if (pages == 0) return ST_READ_ERROR;
    int page = request_->pageIndex;
    if (page < 0 || page >= pages) page = 0;
    st = parseDirectory(directories[page]);
    if (st != ST_OK) return st;

    st = plan();
    if (st != ST_OK) return st;

    // Tables read before any row.
    if (d_.jpegTables.present && d_.compression == COMP_JPEG) {
        uint32_t n = d_.jpegTables.count;
        jpegTables_ = allocBuffer(n);
        if (!jpegTables_) return ST_NO_MEMORY;
        const uint8_t* src = d_.jpegTables.raw;
        if (n > 4 && !readAt(e_.u32(d_.jpegTables.raw), jpegTables_.get(), n)) jpegTables_.reset();
        else if (n <= 4) memcpy(jpegTables_.get(), src, n);
        jpegTablesSize_ = jpegTables_ ? n : 0;
    }
    if (model_ == Model::Palette) {
        st = readColorMap();
        if (st != ST_OK) return st;
    }
    readYCbCrCoefficients();

    const uint64_t perPlane = static_cast<uint64_t>(across_) * down_;
    const uint64_t needed = perPlane * storedPlanes_;
    const Entry& offs = tiled_ ? d_.tileOffsets : d_.stripOffsets;
    const Entry& counts = tiled_ ? d_.tileByteCounts : d_.stripByteCounts;
    const uint32_t want = needed > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(needed);
    offsets_ = readArray(offs, want, &offsetCount_);
    byteCounts_ = readArray(counts, want, &byteCountCount_);
    if (!offsets_) {
        setReaderMessage(request_, MSG_BAD_OFFSETS);
        return ST_BAD_FILE;
    }

    // Working buffers.
    chunkRow_ = allocBuffer(chunkRowBytes_ + ROW_SLACK);
    uint64_t convertedBytes = outRowBytes_ * unitRows_ + ROW_SLACK;
    converted_ = allocBuffer(convertedBytes);
    if (!chunkRow_ || !converted_) return ST_NO_MEMORY;
    if (tiled_) {
        uint64_t bandRows = chunkLength_ < height_ ? chunkLength_ : height_;
        band_ = allocBuffer(bandRows * outRowBytes_ + ROW_SLACK);
        if (!band_) return ST_NO_MEMORY;
    }
    if (d_.compression == COMP_LZW) {
        lzw_ = static_cast<LzwTable*>(calloc(1, sizeof(LzwTable)));
        if (!lzw_) return ST_NO_MEMORY;
    }
    if (d_.compression == COMP_CCITT_RLE || d_.compression == COMP_CCITT_G3 || d_.compression == COMP_CCITT_G4) {
        CcittCoding coding = d_.compression == COMP_CCITT_RLE ? CcittCoding::ModifiedHuffman
                             : d_.compression == COMP_CCITT_G4 ? CcittCoding::Group4
                             : (d_.t4Options & 1) ? CcittCoding::Group3TwoD : CcittCoding::Group3OneD;
        st = ccitt_.init(static_cast<int32_t>(chunkWidth_), coding);
        if (st != ST_OK) return st;
        ccitt_.setVerbose((request_->flags & OPT_VERBOSE) != 0);
    }

    st = beginImage(&rh_);
    if (st != ST_OK) return st;
    st = decodeImage();
    if (d_.compression == COMP_CCITT_RLE || d_.compression == COMP_CCITT_G3 || d_.compression == COMP_CCITT_G4) {
        endImage(0, 8, nullptr);
    } else if (colorMap_) {
        endImage(PF_PLANAR | PF_TRIPLETS, 16, colorMap_.get());
    } else if (d_.photometric == PHOTO_MIN_IS_WHITE && (model_ == Model::Grey)) {
        endImage(PF_INVERT, 8, nullptr);
    } else {
        endImage(0, 8, nullptr);
    }
    if (st == ST_BAD_FILE && badLzw_) setReaderMessage(request_, MSG_BAD_LZW);
    if (st == ST_BAD_FILE && jpegMismatch_) setReaderMessage(request_, MSG_BAD_JPEG);
    return st;
}

// Every chunk in file order: plane by plane, then row of chunks by row of chunks.
Status TiffReader::decodeImage() {
    const uint64_t perPlane = static_cast<uint64_t>(across_) * down_;
    for (uint32_t p = 0; p < planesToDecode_; ++p) {
        plane_ = out_ == Output::ChannelPlanes ? static_cast<int>(p) : -1;
        for (uint32_t b = 0; b < down_; ++b) {
            const uint32_t y0 = b * chunkLength_;
            const uint32_t rows = height_ - y0 < chunkLength_ ? height_ - y0 : chunkLength_;
            if (tiled_) {
                memset(band_.get(), 0, static_cast<size_t>(rows * outRowBytes_));
                bandY0_ = y0;
            }
            for (uint32_t c = 0; c < across_; ++c) {
                const uint64_t index = p * perPlane + static_cast<uint64_t>(b) * across_ + c;
                const uint32_t x0 = c * chunkWidth_;
                const uint32_t cols = width_ - x0 < chunkWidth_ ? width_ - x0 : chunkWidth_;
                Status st = index < offsetCount_ ? decodeChunk(static_cast<uint32_t>(index), x0, y0, cols, rows)
                                                 : ST_CORRUPT;  // the directory lists too few chunks
                if (st != ST_OK) {
                    if (tiled_ && st != ST_STOPPED) flushBand(y0, rows);
                    return st;
                }
            }
            if (tiled_) {
                Status st = flushBand(y0, rows);
                if (st != ST_OK) return st;
            }
        }
    }
    return ST_OK;
}

Status TiffReader::flushBand(uint32_t y0, uint32_t rows) {
    const size_t n = static_cast<size_t>(outRowBytes_ < static_cast<uint64_t>(fileRowLength())
                                             ? outRowBytes_
                                             : static_cast<uint64_t>(fileRowLength()));
    for (uint32_t r = 0; r < rows; ++r) {
        memcpy(rh_.rowBuffer, band_.get() + r * outRowBytes_, n);
        Status st = putRows(plane_, static_cast<int32_t>(y0 + r), 1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// Reads the compressed bytes of a chunk into input_. `cut` tells whether the
// data reach the end of the file (data ending early then mean a truncated file).
Status TiffReader::loadChunk(uint32_t index, uint64_t decodedBytes, size_t* size, bool* cut) {
    const uint32_t* offsets = reinterpret_cast<const uint32_t*>(offsets_.get());
    const uint32_t* counts = reinterpret_cast<const uint32_t*>(byteCounts_.get());
    const uint64_t offset = offsets[index];
    *size = 0;
    *cut = true;
    if (offset >= fileSize_) return ST_OK;
    const uint64_t available = fileSize_ - offset;
    uint64_t want;
    if (index < byteCountCount_ && counts[index] > 0) {
        want = counts[index];
        *cut = want > available;
    } else {
        want = available;  // no byte count: up to the end of the file
        *cut = true;
    }
    const uint64_t limit = decodedBytes * COMPRESSED_FACTOR + COMPRESSED_SLACK;
    if (want > limit) {
        want = limit;
        *cut = false;
    }
    if (want > available) want = available;
    if (want + 8 > inputCapacity_) {
        input_ = allocBuffer(want + 8);
        if (!input_) {
            inputCapacity_ = 0;
            return ST_NO_MEMORY;
        }
        inputCapacity_ = static_cast<size_t>(want + 8);
    }
    if (fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return ST_OK;
    size_t got = fread(input_.get(), 1, static_cast<size_t>(want), f_);
    if (got < want) *cut = true;
    memset(input_.get() + got, 0, 8);
    *size = got;
    if (reverseInput_) ccittReverseBits(input_.get(), got);
    return ST_OK;
}

Status TiffReader::decodeChunk(uint32_t index, uint32_t x0, uint32_t y0, uint32_t validWidth, uint32_t validRows) {
    chunkX0_ = x0;
    chunkY0_ = y0;
    chunkValidWidth_ = validWidth;
    chunkValidRows_ = validRows;
    chunkRowIndex_ = 0;
    const uint32_t units = (validRows + unitRows_ - 1) / unitRows_;
    if (d_.compression == COMP_NONE || d_.compression == COMP_SGILOG24) return decodeRaw(index, units);
    size_t size = 0;
    bool cut = true;
    Status st = loadChunk(index, units * chunkRowBytes_, &size, &cut);
    if (st != ST_OK) return st;
    switch (d_.compression) {
    case COMP_PACKBITS: return decodePackBits(size, units, cut);
    case COMP_LZW: return decodeLzw(size, units, cut);
    case COMP_DEFLATE:
    case COMP_DEFLATE_OLD: return decodeDeflate(size, units, cut);
    case COMP_CCITT_RLE:
    case COMP_CCITT_G3:
    case COMP_CCITT_G4: return decodeCcitt(size, units);
    case COMP_JPEG: return decodeJpeg(size, validRows);
    case COMP_SGILOG: return decodeSgiLog(size, units, cut);
    default: return ST_CORRUPT;
    }
}

Status TiffReader::rowThunk(void* datum, uint8_t* row) { return static_cast<TiffReader*>(datum)->onRow(row); }

// Data that end before the chunk's rows: the file was cut, or the chunk is damaged.
inline Status endedEarly(bool cut) { return cut ? ST_READ_ERROR : ST_CORRUPT; }

// Plain rows are read one at a time straight from the file, so a strip of
// any size needs no more memory than one row.
Status TiffReader::decodeRaw(uint32_t index, uint32_t units) {
    const uint32_t* offsets = reinterpret_cast<const uint32_t*>(offsets_.get());
    const uint64_t offset = offsets[index];
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    if (offset >= fileSize_ || fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return ST_READ_ERROR;
    for (uint32_t r = 0; r < units; ++r) {
        size_t got = fread(chunkRow_.get(), 1, rowBytes, f_);
        if (got < rowBytes) {
            // The last row begun: keep what there is of it.
            if (got > 0) {
                memset(chunkRow_.get() + got, 0, rowBytes - got);
                Status st = onRow(chunkRow_.get());
                if (st != ST_OK) return st;
            }
            return ST_READ_ERROR;
        }
        Status st = onRow(chunkRow_.get());
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

Status TiffReader::decodePackBits(size_t size, uint32_t units, bool cut) {
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    size_t consumed = 0;
    for (uint32_t r = 0; r < units; ++r) {
        memset(chunkRow_.get(), 0, rowBytes);
        PackBitsResult res = packBitsDecode(input_.get() + consumed, size - consumed, chunkRow_.get(), rowBytes);
        consumed += res.consumed;
        if (res.end == PackBitsEnd::EndOfInput) {
            if (res.produced > 0) {
                Status st = onRow(chunkRow_.get());
                if (st != ST_OK) return st;
            }
            return endedEarly(cut);
        }
        Status st = onRow(chunkRow_.get());
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

Status TiffReader::decodeLzw(size_t size, uint32_t units, bool cut) {
    // Old-style data begin with a clear code written least significant bit first.
    if (!oldLzwKnown_) {
        oldLzw_ = size >= 2 && input_[0] == 0x00 && (input_[1] & 0x01);
        oldLzwKnown_ = true;
    }
    RowAssembler rows(chunkRow_.get(), static_cast<size_t>(chunkRowBytes_), units, rowThunk, this);
    LzwEnd end = lzwDecode(lzw_, input_.get(), size, oldLzw_, &rows);
    if (rows.status() != ST_OK) return rows.status();
    if (rows.complete()) return ST_OK;
    rows.flushPartial();
    if (rows.status() != ST_OK) return rows.status();
    if (end == LzwEnd::BadCodes) {
        badLzw_ = true;
        return ST_BAD_FILE;
    }
    return endedEarly(cut);
}

Status TiffReader::decodeDeflate(size_t size, uint32_t units, bool cut) {
    RowAssembler rows(chunkRow_.get(), static_cast<size_t>(chunkRowBytes_), units, rowThunk, this);
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return ST_NO_MEMORY;
    z.next_in = input_.get();
    z.avail_in = static_cast<uInt>(size);
    int zr = Z_OK;
    while (!rows.done()) {
        z.next_out = rows.space();
        z.avail_out = static_cast<uInt>(rows.room());
        zr = inflate(&z, Z_NO_FLUSH);
        size_t produced = rows.room() - z.avail_out;
        if (produced) rows.commit(produced);
        if (zr == Z_STREAM_END || (zr != Z_OK && zr != Z_BUF_ERROR)) break;
        if (produced == 0) break;  // no input left
    }
    inflateEnd(&z);
    if (rows.status() != ST_OK) return rows.status();
    if (rows.complete()) return ST_OK;
    rows.flushPartial();
    if (rows.status() != ST_OK) return rows.status();
    if (zr == Z_DATA_ERROR || zr == Z_NEED_DICT || zr == Z_STREAM_END) return ST_CORRUPT;
    return endedEarly(cut);
}

Status TiffReader::decodeCcitt(size_t size, uint32_t units) {
    ccitt_.beginStrip(input_.get(), size);
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    for (uint32_t r = 0; r < units; ++r) {
        CcittRow result = ccitt_.decodeRow(chunkRow_.get());
        if (result == CcittRow::EndOfBlock) {
            // The page ends here: the rows left are white.
            memset(chunkRow_.get(), 0xFF, rowBytes);
            for (; r < units; ++r) {
                Status st = onRow(chunkRow_.get());
                if (st != ST_OK) return st;
            }
            return ST_OK;
        }
        Status st = onRow(chunkRow_.get());
        if (st != ST_OK) return st;
        if (result == CcittRow::Premature) return ST_READ_ERROR;
        // Group 4 rows hang on each other: after a bad code nothing more can be trusted.
        if (result == CcittRow::Repaired && d_.compression == COMP_CCITT_G4) return ST_CORRUPT;
    }
    return ST_OK;
}

// SGI LogL and 32-bit LogLuv: each row is stored as byte planes (the high
// bytes of every pixel first), each plane run-length coded: a byte of 128 or
// more is followed by one byte repeated (n - 126) times, a smaller byte n by
// n literal bytes.
Status TiffReader::decodeSgiLog(size_t size, uint32_t units, bool cut) {
    const bool logL = model_ == Model::LogL;
    const int bytesPerPixel = logL ? 2 : 4;
    const uint32_t n = chunkWidth_;
    const uint8_t* p = input_.get();
    size_t left = size;
    uint8_t* row = chunkRow_.get();
    for (uint32_t r = 0; r < units; ++r) {
        memset(row, 0, static_cast<size_t>(chunkRowBytes_));
        bool complete = true;
        for (int plane = 0; plane < bytesPerPixel && complete; ++plane) {
            // Byte `plane` of each pixel, most significant first; pixels are
            // stored in the row as native 16 or 32-bit words.
            const int shift = 8 * (bytesPerPixel - 1 - plane);
            uint32_t i = 0;
            while (i < n) {
                if (left == 0) {
                    complete = false;
                    break;
                }
                int c = *p++;
                --left;
                if (c >= 128) {
                    if (left == 0) {
                        complete = false;
                        break;
                    }
                    uint32_t run = static_cast<uint32_t>(c) - 126;
                    uint32_t value = *p++;
                    --left;
                    for (; run > 0 && i < n; --run, ++i) {
                        if (logL) reinterpret_cast<uint16_t*>(row)[i] |= static_cast<uint16_t>(value << shift);
                        else reinterpret_cast<uint32_t*>(row)[i] |= value << shift;
                    }
                } else {
                    uint32_t count = static_cast<uint32_t>(c);
                    for (; count > 0 && i < n; --count, ++i) {
                        if (left == 0) break;
                        uint32_t value = *p++;
                        --left;
                        if (logL) reinterpret_cast<uint16_t*>(row)[i] |= static_cast<uint16_t>(value << shift);
                        else reinterpret_cast<uint32_t*>(row)[i] |= value << shift;
                    }
                    if (count > 0 && left == 0 && i < n) {
                        complete = false;
                        break;
                    }
                }
            }
        }
        Status st = onRow(row);
        if (st != ST_OK) return st;
        if (!complete) return endedEarly(cut);
    }
    return ST_OK;
}

// JPEG strips and tiles: each holds a whole JPEG stream (abbreviated, its
// tables in JPEGTables), whose frame must fit the chunk.
void jpegConfigure(void* datum, jpeg_decompress_struct* cinfo) {
    TiffReader* r = static_cast<TiffReader*>(datum);
    const uint32_t w = cinfo->image_width, h = cinfo->image_height;
    if (w < r->chunkValidWidth_ || w > r->chunkWidth_ || h < r->chunkValidRows_ ||
        h > (r->chunkLength_ > r->chunkValidRows_ ? r->chunkLength_ : r->chunkValidRows_) ||
        static_cast<uint32_t>(cinfo->num_components) != r->jpegComponents_) {
        r->jpegMismatch_ = true;
        return;
    }
    switch (r->jpegComponents_) {
    case 1:
        cinfo->jpeg_color_space = JCS_GRAYSCALE;
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case 3:
        cinfo->jpeg_color_space = r->model_ == Model::YCbCr && !r->separate_ ? JCS_YCbCr : JCS_RGB;
        cinfo->out_color_space = JCS_RGB;
        break;
    case 4:
        if (r->model_ == Model::Cmyk) {
            cinfo->jpeg_color_space = JCS_CMYK;
            cinfo->out_color_space = JCS_CMYK;
            break;
        }
        [[fallthrough]];
    default:  // colour and alpha: the components as they stand
        cinfo->jpeg_color_space = JCS_UNKNOWN;
        cinfo->out_color_space = JCS_UNKNOWN;
        break;
    }
}

Status jpegRow(void* datum, const uint8_t* row, int32_t y, const jpeg_decompress_struct* cinfo) {
    TiffReader* r = static_cast<TiffReader*>(datum);
    if (r->jpegMismatch_) return ST_BAD_FILE;
    // The data ended: libjpeg would go on with grey rows.
    if (cinfo->err->num_warnings > 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) return ST_READ_ERROR;
    if (y < 0 || static_cast<uint32_t>(y) >= r->chunkValidRows_) return ST_OK;
    size_t bytes = static_cast<size_t>(cinfo->output_width) * cinfo->output_components;
    if (bytes > r->chunkRowBytes_) bytes = static_cast<size_t>(r->chunkRowBytes_);
    memset(r->chunkRow_.get(), 0, static_cast<size_t>(r->chunkRowBytes_));
    memcpy(r->chunkRow_.get(), row, bytes);
    return r->onRow(r->chunkRow_.get());
}

Status TiffReader::decodeJpeg(size_t size, uint32_t rows) {
    if (model_ == Model::Palette) return ST_CORRUPT;
    jpegComponents_ = spp_;
    JpegScanlineJob job;
    job.tables = jpegTables_.get();
    job.tablesSize = jpegTablesSize_;
    job.data = input_.get();
    job.size = size;
    job.flags = request_->flags;
    job.configure = jpegConfigure;
    job.row = jpegRow;
    job.datum = this;
    jpegMismatch_ = false;
    Status st = jpegDecodeScanlines(job);
    if (st == ST_OK && chunkRowIndex_ < rows) st = ST_READ_ERROR;
    return st;
}

// Samples of any width: 8, 16, 24 and 32-bit samples follow the file's byte
// order, other widths are bit strings, most significant bit first.
uint32_t TiffReader::sample(const uint8_t* row, uint64_t index) const {
    switch (bps_) {
    case 8: return row[index];
    case 16: return e_.big ? loadU16BE(row + 2 * index) : loadU16LE(row + 2 * index);
    case 32: return e_.big ? loadU32BE(row + 4 * index) : loadU32LE(row + 4 * index);
    case 24: {
        const uint8_t* p = row + 3 * index;
        return e_.big ? (uint32_t{p[0]} << 16 | p[1] << 8 | p[2]) : (uint32_t{p[2]} << 16 | p[1] << 8 | p[0]);
    }
    default: {
        const uint64_t bit = index * bps_;
        const uint8_t* p = row + (bit >> 3);
        uint32_t window = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        return (window >> (24 - (bit & 7) - bps_)) & ((1u << bps_) - 1);
    }
    }
}

// Undoes horizontal differencing along one decoded row: each sample is the sum
// of itself and the same sample of the pixel before it, in the file's sample
// size and byte order.
void TiffReader::undoPredictor(uint8_t* row) const {
    const size_t bytes = static_cast<size_t>(chunkRowBytes_);
    const size_t stride = spp_;
    if (bps_ == 8) {
        for (size_t i = stride; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
    } else if (bps_ == 16) {
        const size_t n = bytes / 2;
        for (size_t i = stride; i < n; ++i) {
            uint8_t* p = row + 2 * i;
            const uint8_t* q = row + 2 * (i - stride);
            uint16_t v = static_cast<uint16_t>(e_.big ? loadU16BE(p) + loadU16BE(q) : loadU16LE(p) + loadU16LE(q));
            if (e_.big) {
                p[0] = static_cast<uint8_t>(v >> 8);
                p[1] = static_cast<uint8_t>(v);
            } else {
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
            }
        }
    } else if (bps_ == 32) {
        const size_t n = bytes / 4;
        for (size_t i = stride; i < n; ++i) {
            uint8_t* p = row + 4 * i;
            const uint8_t* q = row + 4 * (i - stride);
            uint32_t v = e_.big ? loadU32BE(p) + loadU32BE(q) : loadU32LE(p) + loadU32LE(q);
            for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (e_.big ? 24 - 8 * k : 8 * k));
        }
    } else {
        for (size_t i = 1; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
    }
}

// Brings n pixels of a decoded row to the delivered layout.
void TiffReader::convertRow(const uint8_t* src, uint32_t n, uint8_t* dst) const {
    const uint32_t maxValue = bps_ >= 32 ? 0xFFFFFFFFu : (1u << bps_) - 1;
    auto toByte = [&](uint32_t v) -> uint8_t {
        if (bps_ > 8) return static_cast<uint8_t>(v >> (bps_ - 8));
        if (bps_ < 8 && scaleSmall_) return static_cast<uint8_t>(v * 255 / maxValue);
        return static_cast<uint8_t>(v);
    };
    switch (out_) {
    case Output::BytePixels:
        for (uint32_t i = 0; i < n; ++i) dst[i] = toByte(sample(src, static_cast<uint64_t>(i) * spp_));
        break;
    case Output::ChannelPlanes:
        for (uint32_t i = 0; i < n; ++i) dst[i] = toByte(sample(src, i));
        break;
    case Output::Rgb:
    case Output::Rgba:
    case Output::Cmyk: {
        const uint32_t k = out_ == Output::Rgb ? 3 : 4;
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t s = 0; s < k; ++s)
                dst[i * k + s] = toByte(sample(src, static_cast<uint64_t>(i) * spp_ + s));
        break;
    }
    case Output::LogLGrey:
        for (uint32_t i = 0; i < n; ++i) dst[i] = gammaByte(logL16ToY(reinterpret_cast<const uint16_t*>(src)[i]));
        break;
    case Output::LogLuvRgb:
        if (d_.compression == COMP_SGILOG24) {
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* p = src + 3 * i;
                logLuv24ToRgb(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2], dst + 3 * i);
            }
        } else {
            for (uint32_t i = 0; i < n; ++i) logLuv32ToRgb(reinterpret_cast<const uint32_t*>(src)[i], dst + 3 * i);
        }
        break;
    case Output::Packed:
    case Output::YCbCrRgb:
        break;
    }
}

// One row of YCbCr data units (h x v luma samples, then Cb and Cr) made into
// v rows of R,G,B in converted_.
void TiffReader::convertYCbCr(const uint8_t* src, uint32_t n) {
    const uint32_t h = unitWidth_, v = unitRows_;
    const uint32_t unitBytes = h * v + 2;
    const double lr = luma_[0], lg = luma_[1], lb = luma_[2];
    const uint32_t units = (n + h - 1) / h;
    for (uint32_t u = 0; u < units; ++u) {
        const uint8_t* p = src + static_cast<size_t>(u) * unitBytes;
        const double cb = p[h * v] - 128.0, cr = p[h * v + 1] - 128.0;
        const double rAdd = cr * (2.0 - 2.0 * lr);
        const double bAdd = cb * (2.0 - 2.0 * lb);
        const double gSub = (lb * bAdd + lr * rAdd) / lg;
        for (uint32_t j = 0; j < v; ++j) {
            uint8_t* row = converted_.get() + static_cast<size_t>(j) * outRowBytes_;
            for (uint32_t i = 0; i < h; ++i) {
                const uint32_t x = u * h + i;
                if (x >= n) break;
                const double y = p[j * h + i];
                uint8_t* d = row + 3 * static_cast<size_t>(x);
                d[0] = clampByte(y + rAdd);
                d[1] = clampByte(y - gSub);
                d[2] = clampByte(y + bAdd);
            }
        }
    }
}

// Puts one delivered row (or the part of it a tile covers) in place.
Status TiffReader::place(uint32_t y, const uint8_t* data, size_t bytes, uint64_t byteOffset) {
    if (byteOffset >= outRowBytes_) return ST_OK;
    if (bytes > outRowBytes_ - byteOffset) bytes = static_cast<size_t>(outRowBytes_ - byteOffset);
    if (tiled_) {
        memcpy(band_.get() + (y - bandY0_) * outRowBytes_ + byteOffset, data, bytes);
        return ST_OK;
    }
    const int64_t rowLength = fileRowLength();
    if (rowLength <= 0) return ST_CORRUPT;
    if (static_cast<int64_t>(bytes) > rowLength) bytes = static_cast<size_t>(rowLength);
    memcpy(rh_.rowBuffer, data, bytes);
    return putRows(plane_, static_cast<int32_t>(y), 1);
}

// One decoded row of the chunk: undo the fill order and the predictor, convert, place.
Status TiffReader::onRow(uint8_t* row) {
    const uint32_t index = chunkRowIndex_++;
    if (reverseRows_) ccittReverseBits(row, static_cast<size_t>(chunkRowBytes_));
    if (predictor_) undoPredictor(row);
    if (invertRows_)
        for (size_t i = 0; i < chunkRowBytes_; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    const uint32_t n = chunkValidWidth_;
    if (out_ == Output::YCbCrRgb) {
        convertYCbCr(row, n);
        for (uint32_t j = 0; j < unitRows_; ++j) {
            const uint32_t r = index * unitRows_ + j;
            if (r >= chunkValidRows_) break;
            Status st = place(chunkY0_ + r, converted_.get() + static_cast<size_t>(j) * outRowBytes_,
                              3 * static_cast<size_t>(n), 3 * static_cast<uint64_t>(chunkX0_));
            if (st != ST_OK) return st;
        }
        return ST_OK;
    }
    if (index >= chunkValidRows_) return ST_OK;
    if (out_ == Output::Packed) {
        const size_t bytes = static_cast<size_t>((static_cast<uint64_t>(n) * outBits_ + 7) / 8);
        return place(chunkY0_ + index, row, bytes, static_cast<uint64_t>(chunkX0_) * outBits_ / 8);
    }
    convertRow(row, n, converted_.get());
    const uint64_t pixelBytes = out_ == Output::ChannelPlanes || out_ == Output::BytePixels || out_ == Output::LogLGrey
                                    ? 1
                                    : out_ == Output::Rgba || out_ == Output::Cmyk ? 4 : 3;
    return place(chunkY0_ + index, converted_.get(), static_cast<size_t>(n * pixelBytes), chunkX0_ * pixelBytes);
}

}  // namespace

Status readTiff(FILE* stream, LoadRequest* request) {
    TiffReader reader(stream, request);
    return reader.run();
}
