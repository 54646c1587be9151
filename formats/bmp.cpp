// Windows and OS/2 bitmaps.
//
// Reader: OS/2 1.x files (12-byte information header, 3-byte palette entries)
// and Windows files (information header of 40 bytes or more, 4-byte palette
// entries) at 1, 2, 4 and 8 bits with a palette, 16, 24 and 32 bits of true
// colour, run-length encoded at 4 and 8 bits, and bit fields (colour masks) at
// 16 and 32 bits. Writer: uncompressed 1, 4, 8, 24 and 32 bits, run-length
// encoded 4 and 8 bits.
//
// All numbers in the file are little-endian. Rows are stored bottom row first
// and padded to a multiple of 4 bytes; a negative height in the information
// header marks a top-down bitmap.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "dib.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "Windows Bitmap : Bad picture's size !";
const char MSG_BAD_PLANES[] = "Windows Bitmap : Bad number of planes !";
const char MSG_BAD_BITS[] = "Windows Bitmap : Bad number of bits per pixel !";
const char MSG_BAD_COMPRESSION[] = "Windows Bitmap : Bad compression for this depth !";
const char MSG_BAD_MASKS[] = "Windows Bitmap : Bad colour masks !";
const char MSG_BAD_OFFSET[] = "Windows Bitmap : Bad data offset !";

const char NAME_PALETTE[] = "Windows & OS/2 Bitmap";
const char NAME_PALETTE_RLE[] = "Windows & OS/2 Bitmap (RLE)";
const char NAME_TRUECOLOUR[] = "Windows Bitmap & OS/2 ";
const char NAME_WRITE[] = "Windows Bitmap";
const char NAME_WRITE_RLE[] = "Windows Bitmap (RLE)";

constexpr uint16_t BMP_SIGNATURE = 0x4D42;  // "BM"
constexpr uint32_t FILE_HEADER_SIZE = 14;
constexpr uint32_t OS2_HEADER_SIZE = 12;
constexpr uint32_t WIN_HEADER_SIZE = 40;
// The longest header we interpret (version 5); longer ones are skipped beyond it.
constexpr uint32_t MAX_HEADER_READ = 124;
// Offsets inside a Windows information header (from its size field).
constexpr uint32_t MASKS_IN_HEADER = 40;       // red, green, blue masks (52-byte headers and up)
constexpr uint32_t ALPHA_MASK_IN_HEADER = 52;  // alpha mask (56-byte headers and up)
constexpr uint32_t MASKS_AFTER_HEADER = 12;    // a 40-byte header with bit fields is followed by 3 masks

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// Offsets of the two fields the writer patches once the pixel data are written.
constexpr long OFFSET_FILE_SIZE = 2;
constexpr long OFFSET_IMAGE_SIZE = 34;

// How true-colour pixels reach the core.
enum class PixelPath {
    Palette,       // 1, 2, 4, 8 bits: indices
    Native,        // 16, 24, 32 bits in a layout the core knows
    NativeNoAlpha, // 32 bits B,G,R,x whose fourth byte is not alpha: cleared before delivery
    Masks,         // any other bit fields: converted here to 8-bit R,G,B(,A)
};

struct BmpHeader {
    uint32_t dataOffset;
    uint32_t headerSize;
    bool os2;
    int32_t width;
    int32_t height;        // rows, always positive once validated
    bool topDown;
    uint32_t planes;
    uint32_t bits;
    uint32_t compression;
    int32_t xPixelsPerMetre;
    int32_t yPixelsPerMetre;
    uint32_t coloursUsed;
    uint32_t masks[4];     // red, green, blue, alpha (bit fields only)
    uint64_t paletteStart; // file offset of the colour table
    uint32_t paletteEntrySize;
};

// One channel of a bit-field pixel: value = (pixel & mask) >> shift, scaled from 0..max to 0..255.
struct MaskChannel {
    uint32_t mask;
    int shift;
    uint32_t max;
};

MaskChannel bmpMaskChannel(uint32_t mask) {
    MaskChannel c{mask, 0, 0};
    if (mask == 0) return c;
    while (!((mask >> c.shift) & 1u)) ++c.shift;
    c.max = mask >> c.shift;
    return c;
}

inline uint8_t bmpScaleChannel(uint32_t pixel, const MaskChannel& c) {
    if (c.max == 0) return 0;
    uint64_t v = (pixel & c.mask) >> c.shift;
    return static_cast<uint8_t>((v * 255 + c.max / 2) / c.max);
}

int bmpDpiFromPixelsPerMetre(int32_t ppm) {
    if (ppm <= 0) return 0;
    return static_cast<int>(static_cast<double>(ppm) * 0.0254 + 0.5);
}

uint32_t bmpPixelsPerMetreFromDpi(int dpi) {
    if (dpi <= 0) return 0;
    return static_cast<uint32_t>(static_cast<double>(dpi) / 0.0254 + 0.5);
}

// Reads the file header, the information header and, for a 40-byte header with
// bit fields, the three masks after it. Anything that is not a bitmap header,
// or ends inside the headers, is ST_UNKNOWN_FORMAT so the next reader is tried.
Status bmpReadHeader(FILE* f, int64_t fileSize, BmpHeader* h) {
    uint8_t fileHeader[FILE_HEADER_SIZE];
    if (!readBlock(f, fileHeader, sizeof fileHeader)) return ST_UNKNOWN_FORMAT;
    if (loadU16LE(fileHeader) != BMP_SIGNATURE) return ST_UNKNOWN_FORMAT;

    uint8_t info[MAX_HEADER_READ] = {};
    if (!readBlock(f, info, 4)) return ST_UNKNOWN_FORMAT;
    uint32_t headerSize = loadU32LE(info);
    if (headerSize != OS2_HEADER_SIZE && headerSize < WIN_HEADER_SIZE) return ST_UNKNOWN_FORMAT;
    if (fileSize > 0 && static_cast<uint64_t>(headerSize) + FILE_HEADER_SIZE > static_cast<uint64_t>(fileSize))
        return ST_UNKNOWN_FORMAT;
    uint32_t toRead = headerSize < MAX_HEADER_READ ? headerSize : MAX_HEADER_READ;
    if (!readBlock(f, info + 4, toRead - 4)) return ST_UNKNOWN_FORMAT;

    memset(h, 0, sizeof *h);
    h->dataOffset = loadU32LE(fileHeader + 10);
    h->headerSize = headerSize;
    h->os2 = headerSize == OS2_HEADER_SIZE;
    int64_t height;
    if (h->os2) {
        h->width = loadU16LE(info + 4);
        height = loadU16LE(info + 6);
        h->planes = loadU16LE(info + 8);
        h->bits = loadU16LE(info + 10);
        h->compression = BI_RGB;
        h->paletteEntrySize = 3;
    } else {
        h->width = static_cast<int32_t>(loadU32LE(info + 4));
        height = static_cast<int32_t>(loadU32LE(info + 8));
        h->planes = loadU16LE(info + 12);
        h->bits = loadU16LE(info + 14);
        h->compression = loadU32LE(info + 16);
        h->xPixelsPerMetre = static_cast<int32_t>(loadU32LE(info + 24));
        h->yPixelsPerMetre = static_cast<int32_t>(loadU32LE(info + 28));
        h->coloursUsed = loadU32LE(info + 32);
        h->paletteEntrySize = 4;
    }
    // The height is negative for top-down rows; INT32_MIN stays out of range below.
    h->topDown = height < 0;
    height = height < 0 ? -height : height;
    h->height = height > MAX_IMAGE_SIDE ? MAX_IMAGE_SIDE + 1 : static_cast<int32_t>(height);
    h->paletteStart = static_cast<uint64_t>(FILE_HEADER_SIZE) + headerSize;

    if (h->compression == BI_BITFIELDS) {
        if (headerSize >= MASKS_IN_HEADER + 12) {
            for (int i = 0; i < 3; ++i) h->masks[i] = loadU32LE(info + MASKS_IN_HEADER + 4 * i);
            if (headerSize >= ALPHA_MASK_IN_HEADER + 4) h->masks[3] = loadU32LE(info + ALPHA_MASK_IN_HEADER);
        } else {
            // Only a 40..51-byte header, read whole above, gets here: the masks follow it.
            uint8_t masks[MASKS_AFTER_HEADER];
            if (!readBlock(f, masks, sizeof masks)) return ST_UNKNOWN_FORMAT;
            for (int i = 0; i < 3; ++i) h->masks[i] = loadU32LE(masks + 4 * i);
            h->paletteStart += MASKS_AFTER_HEADER;
        }
    }
    return ST_OK;
}

// Judges every field before anything is allocated. Returns ST_OK, ST_UNKNOWN_FORMAT
// (compressions we do not know), or ST_BAD_FILE with the reason in the request.
Status bmpValidate(BmpHeader* h, int64_t fileSize, LoadRequest* request) {
    if (h->compression > BI_BITFIELDS) return ST_UNKNOWN_FORMAT;
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (h->planes != 1) {
        setReaderMessage(request, MSG_BAD_PLANES);
        return ST_BAD_FILE;
    }
    switch (h->bits) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default:
        setReaderMessage(request, MSG_BAD_BITS);
        return ST_BAD_FILE;
    }
    bool compressionFits = h->compression == BI_RGB || (h->compression == BI_RLE8 && h->bits == 8) ||
                           (h->compression == BI_RLE4 && h->bits == 4) ||
                           (h->compression == BI_BITFIELDS && (h->bits == 16 || h->bits == 32));
    if (!compressionFits) {
        setReaderMessage(request, MSG_BAD_COMPRESSION);
        return ST_BAD_FILE;
    }
    if (h->compression == BI_BITFIELDS) {
        if (h->bits == 16)
            for (uint32_t& m : h->masks) m &= 0xFFFFu;
        if ((h->masks[0] | h->masks[1] | h->masks[2]) == 0) {
            setReaderMessage(request, MSG_BAD_MASKS);
            return ST_BAD_FILE;
        }
    }
    // The pixel data cannot start inside the headers, nor beyond the end of the file.
    if (h->dataOffset < h->paletteStart || (fileSize > 0 && h->dataOffset > fileSize)) {
        setReaderMessage(request, MSG_BAD_OFFSET);
        return ST_BAD_FILE;
    }
    return ST_OK;
}

PixelPath bmpPixelPath(const BmpHeader& h, uint16_t* layout) {
    *layout = 0;
    if (h.bits <= 8) return PixelPath::Palette;
    if (h.bits == 24) {
        *layout = PL_REVERSED;
        return PixelPath::Native;
    }
    if (h.compression != BI_BITFIELDS) {
        // 16 bits: 5-5-5 with red in bits 10-14; 32 bits: B,G,R and a fourth byte passed on as it stands.
        *layout = h.bits == 16 ? PL_WORD_HINT : PL_BGRA;
        return PixelPath::Native;
    }
    const uint32_t* m = h.masks;
    if (h.bits == 16 && m[3] == 0) {
        if (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) {
            *layout = PL_WORD_HINT;
            return PixelPath::Native;
        }
        if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F) {
            *layout = PL_565;
            return PixelPath::Native;
        }
    }
    if (h.bits == 32 && m[0] == 0x00FF0000u && m[1] == 0x0000FF00u && m[2] == 0x000000FFu) {
        *layout = PL_BGRA;
        if (m[3] == 0xFF000000u) return PixelPath::Native;
        if (m[3] == 0) return PixelPath::NativeNoAlpha;
    }
    return PixelPath::Masks;
}

// 32-bit B,G,R,x rows whose fourth byte is not alpha: copied with it cleared.
void bmpClearFourthByte(const void* data, const uint8_t* stored, uint8_t* out) {
    const int32_t width = static_cast<const BmpHeader*>(data)->width;
    memcpy(out, stored, static_cast<size_t>(width) * 4);
    for (int32_t x = 0; x < width; ++x) out[x * 4 + 3] = 0;
}

// Bit-field pixels of 16 or 32 bits, converted to 8-bit R,G,B(,A).
struct BmpMaskRows {
    int32_t width;
    uint32_t bits;
    int outBytesPerPixel;
    MaskChannel ch[4];
};

void bmpConvertMasks(const void* data, const uint8_t* stored, uint8_t* out) {
    const BmpMaskRows& m = *static_cast<const BmpMaskRows*>(data);
    for (int32_t x = 0; x < m.width; ++x, out += m.outBytesPerPixel) {
        uint32_t px = m.bits == 16 ? loadU16LE(stored + 2 * x) : loadU32LE(stored + 4 * x);
        out[0] = bmpScaleChannel(px, m.ch[0]);
        out[1] = bmpScaleChannel(px, m.ch[1]);
        out[2] = bmpScaleChannel(px, m.ch[2]);
        if (m.outBytesPerPixel == 4) out[3] = bmpScaleChannel(px, m.ch[3]);
    }
}

// Bytes of one converted bit-field pixel: R,G,B, or R,G,B,A when the file has
// an alpha mask or 32-bit pixels.
int bmpMaskPixelBytes(const BmpHeader& h) { return h.masks[3] != 0 || h.bits == 32 ? 4 : 3; }

// Uncompressed rows of any depth: each stored row is read as one block.
Status bmpReadPlainRows(FILE* f, const BmpHeader& h, PixelPath path) {
    const int64_t stored = dibRowBytes(h.width, static_cast<int>(h.bits));
    if (path == PixelPath::NativeNoAlpha) return readRows(f, stored, h.height, -1, bmpClearFourthByte, &h);
    if (path != PixelPath::Masks) return readRows(f, stored, h.height);
    BmpMaskRows m{h.width, h.bits, bmpMaskPixelBytes(h), {}};
    for (int i = 0; i < 4; ++i) m.ch[i] = bmpMaskChannel(h.masks[i]);
    return readRows(f, stored, h.height, -1, bmpConvertMasks, &m);
}

// Run-length data of 4 or 8 bits, decoded into one index byte per pixel.
//
// Codes: (n > 0, v) writes n pixels of v (at 4 bits alternating the high and the
// low nibble of v, high first); (0, 0) ends the row; (0, 1) ends the bitmap;
// (0, 2, dx, dy) moves the position dx pixels right and dy rows on in file order,
// the skipped pixels keeping index 0; (0, n >= 3) is followed by n literal pixels,
// padded to a 16-bit boundary. Pixels beyond the row's width are dropped while
// the codes go on being read, so the stream stays in step.
class BmpRleDecoder {
public:
    BmpRleDecoder(FILE* f, const BmpHeader& h, uint8_t* line)
        : f_(f), width_(h.width), height_(h.height), fourBit_(h.compression == BI_RLE4), line_(line) {}

    Status run() {
        for (;;) {
            int c = getc(f_);
            int d = getc(f_);
            if (c == EOF || d == EOF) return truncated();
            if (c > 0) {
                putRun(c, static_cast<uint8_t>(d));
                continue;
            }
            switch (d) {
            case 0: {  // end of row
                Status st = finishRow(1);
                if (st != ST_OK || row_ >= height_) return st;
                break;
            }
            case 1:  // end of bitmap: the rows after it stay 0
                return deliver();
            case 2: {  // move
                int dx = getc(f_);
                int dy = getc(f_);
                if (dx == EOF || dy == EOF) return truncated();
                x_ = x_ + dx > width_ ? width_ : x_ + dx;
                if (dy > 0) {
                    int32_t keepX = x_;
                    Status st = finishRow(dy);
                    if (st != ST_OK || row_ >= height_) return st;
                    x_ = keepX;
                }
                break;
            }
            default: {  // literal pixels
                Status st = putLiteral(d);
                if (st != ST_OK) return st;
                break;
            }
            }
        }
    }

private:
    void put(uint8_t v) {
        if (x_ < width_) line_[x_++] = v;
    }

    void putRun(int count, uint8_t v) {
        if (!fourBit_) {
            int32_t n = width_ - x_ < count ? width_ - x_ : count;
            memset(line_ + x_, v, static_cast<size_t>(n));
            x_ += n;
            return;
        }
        const uint8_t nibbles[2] = {static_cast<uint8_t>(v >> 4), static_cast<uint8_t>(v & 0x0F)};
        for (int i = 0; i < count && x_ < width_; ++i) put(nibbles[i & 1]);
    }

    Status putLiteral(int count) {
        int bytes = fourBit_ ? (count + 1) / 2 : count;
        int padded = bytes + (bytes & 1);
        uint8_t data[256];
        size_t got = fread(data, 1, static_cast<size_t>(padded), f_);
        int usable = got < static_cast<size_t>(bytes) ? static_cast<int>(got) : bytes;
        if (fourBit_) {
            int nibbles = usable * 2 < count ? usable * 2 : count;
            for (int i = 0; i < nibbles; ++i) put(i & 1 ? data[i / 2] & 0x0F : data[i / 2] >> 4);
        } else {
            for (int i = 0; i < usable; ++i) put(data[i]);
        }
        return got < static_cast<size_t>(padded) ? truncated() : ST_OK;
    }

    Status deliver() { return deliverRow(line_, width_, row_); }

    // Delivers the current row and moves `rows` rows on; the rows jumped over stay 0.
    Status finishRow(int rows) {
        Status st = deliver();
        memset(line_, 0, static_cast<size_t>(width_));
        x_ = 0;
        row_ = height_ - row_ <= rows ? height_ : row_ + rows;
        return st;
    }

    // The file ended inside the data: keep the part of the row decoded so far.
    Status truncated() {
        Status st = deliver();
        return st == ST_OK ? ST_READ_ERROR : st;
    }

    FILE* f_;
    int32_t width_;
    int32_t height_;
    bool fourBit_;
    uint8_t* line_;
    int32_t x_ = 0;
    int32_t row_ = 0;
};

Status bmpReadRleRows(FILE* f, const BmpHeader& h) {
    Buffer line = allocBuffer(static_cast<uint64_t>(h.width));
    if (!line) return ST_NO_MEMORY;
    BmpRleDecoder decoder(f, h, line.get());
    return decoder.run();
}

// Reads the colour table as B,G,R triplets into a 768-byte table. Entries are
// limited to the depth's count and to the space before the pixel data.
Status bmpReadPalette(FILE* f, const BmpHeader& h, uint8_t* table) {
    uint64_t entries = h.coloursUsed ? h.coloursUsed : 1u << h.bits;
    if (entries > (1u << h.bits)) entries = 1u << h.bits;
    uint64_t room = (h.dataOffset - h.paletteStart) / h.paletteEntrySize;
    if (entries > room) entries = room;
    if (entries == 0) return ST_OK;
    if (!seekTo(f, h.paletteStart)) return ST_READ_ERROR;
    return dibReadPalette(f, static_cast<uint32_t>(entries), h.paletteEntrySize, table);
}

Status bmpReadPaletteImage(FILE* f, const BmpHeader& h, RasterHeader* rh, const char* name) {
    bool rle = h.compression == BI_RLE8 || h.compression == BI_RLE4;
    // Run-length rows are decoded to one byte per pixel.
    rh->layout = rle ? PL_BYTE_PIXELS : 0;
    rh->bytesPerPlane = static_cast<int32_t>((static_cast<int64_t>(h.width) * h.bits + 7) / 8);
    setRasterName(rh->name, name ? name : rle ? NAME_PALETTE_RLE : NAME_PALETTE);
    Status st = beginImage(rh);
    if (st != ST_OK) return st;

    uint8_t table[PALETTE_BYTES] = {};
    st = bmpReadPalette(f, h, table);
    if (st == ST_OK && !seekTo(f, h.dataOffset)) st = ST_READ_ERROR;
    if (st == ST_OK) st = rle ? bmpReadRleRows(f, h) : bmpReadPlainRows(f, h, PixelPath::Palette);
    endImage(PF_BGR, 8, table);
    return st;
}

Status bmpReadTrueColourImage(FILE* f, const BmpHeader& h, PixelPath path, RasterHeader* rh, const char* name) {
    int bytesPerPixel = static_cast<int>(h.bits / 8);
    if (path == PixelPath::Masks) {
        // Delivered as 8-bit R,G,B, or R,G,B,A when the file has alpha or 32-bit pixels.
        bytesPerPixel = bmpMaskPixelBytes(h);
        rh->bitsPerPlane = static_cast<int16_t>(8 * bytesPerPixel);
    }
    rh->bytesPerPlane = bytesPerPixel * h.width;
    setRasterName(rh->name, name ? name : NAME_TRUECOLOUR);
    Status st = beginImage(rh);
    if (st != ST_OK) return st;
    st = seekTo(f, h.dataOffset) ? bmpReadPlainRows(f, h, path) : ST_READ_ERROR;
    endImage(0, 8, nullptr);
    return st;
}

// ---------------------------------------------------------------------------
// Writing.

// Output bytes of one encoded row; the encoders never write more than two
// bytes per pixel plus the end-of-row code.
struct ByteSink {
    uint8_t* data;
    size_t capacity;
    size_t size = 0;
    void put(uint8_t b) {
        if (size < capacity) data[size] = b;
        ++size;
    }
    void put(uint8_t a, uint8_t b) {
        put(a);
        put(b);
    }
};

// 8-bit run-length encoding of one row of n index bytes, ended by (0, 0).
void bmpEncodeRle8(const uint8_t* p, int32_t n, ByteSink* out) {
    int32_t i = 0;
    while (i < n) {
        int32_t start = i;
        int k = 0;
        while (i < n - 1 && k < 254 && p[i] == p[i + 1]) {
            ++k;
            ++i;
        }
        if (k > 0) {  // a run of 2 to 255 pixels
            out->put(static_cast<uint8_t>(k + 1), p[start]);
            ++i;
            continue;
        }
        if (i == n - 1) {
            out->put(1, p[i]);
            break;
        }
        k = 0;
        while (i < n - 1 && k < 254 && p[i] != p[i + 1]) {
            ++k;
            ++i;
        }
        if (k == 1) {
            out->put(1, p[start]);
        } else if (k == 2) {
            out->put(1, p[start]);
            out->put(1, p[start + 1]);
        } else {
            out->put(0, static_cast<uint8_t>(k));
            for (int j = 0; j < k; ++j) out->put(p[start + j]);
            if (k & 1) out->put(0);
        }
    }
    out->put(0, 0);
}

// 4-bit run-length encoding of one row of n indices (one per byte, low nibble used).
void bmpEncodeRle4(const uint8_t* p, int32_t n, ByteSink* out) {
    auto nib = [p](int32_t i) { return static_cast<uint8_t>(p[i] & 0x0F); };
    int32_t i = 0;
    while (i < n) {
        int32_t start = i;
        int k = 0;
        while (i < n - 1 && k < 254 && nib(i) == nib(i + 1)) {
            ++k;
            ++i;
        }
        if (k > 0) {  // a run of 2 to 255 nibbles of one value
            out->put(static_cast<uint8_t>(k + 1), static_cast<uint8_t>(nib(start) * 17));
            ++i;
            continue;
        }
        if (i == n - 1) {
            out->put(1, static_cast<uint8_t>(nib(i) << 4));
            break;
        }
        k = 0;
        while (i < n - 1 && k < 254 && nib(i) != nib(i + 1)) {
            ++k;
            ++i;
        }
        if (k == 1) {
            out->put(1, static_cast<uint8_t>(nib(start) << 4));
        } else if (k == 2) {
            out->put(2, static_cast<uint8_t>(nib(start) << 4 | nib(start + 1)));
        } else {
            out->put(0, static_cast<uint8_t>(k));
            for (int j = 0; j < k; j += 2) {
                uint8_t lo = j + 1 < k ? nib(start + j + 1) : 0;
                out->put(static_cast<uint8_t>(nib(start + j) << 4 | lo));
            }
            if (k % 4 == 1 || k % 4 == 2) out->put(0);
        }
    }
    out->put(0, 0);
}

// One row of index bytes, run-length encoded and written.
struct BmpRleRows {
    uint32_t compression;
    int32_t width;
    size_t capacity;
    Buffer encoded;
};

Status bmpWriteRleRow(void* data, FILE* f, uint8_t* row, int64_t) {
    BmpRleRows& r = *static_cast<BmpRleRows*>(data);
    ByteSink sink{r.encoded.get(), r.capacity};
    if (r.compression == BI_RLE8) bmpEncodeRle8(row, r.width, &sink);
    else bmpEncodeRle4(row, r.width, &sink);
    return sink.size <= sink.capacity && writeBlock(f, r.encoded.get(), sink.size) ? ST_OK : ST_WRITE_ERROR;
}

struct BmpWriteLayout {
    int depth;
    int entries;      // palette entries written (0 for true colour)
    uint32_t compression;
    int64_t rowBytes; // stored row, padding included
};

Status bmpWritePaletteRows(FILE* f, const SaveRequest* request, const BmpWriteLayout& w) {
    const bool rle = w.compression != BI_RGB;
    WriteHeader wh{};
    // Run-length rows are encoded from one byte per pixel.
    wh.layout = w.compression == BI_RLE4 ? PL_BYTE_PIXELS : 0;
    wh.orientation = OR_BOTTOM_UP;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(w.depth);
    wh.bytesPerPlane = static_cast<int32_t>(w.rowBytes);
    wh.paletteFormat = PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, rle ? NAME_WRITE_RLE : NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    // The colour table: B, G, R, 0 per entry.
    uint8_t table[256 * 4] = {};
    for (int i = 0; i < w.entries && wh.palette; ++i) {
        table[4 * i] = wh.palette[3 * i + 2];
        table[4 * i + 1] = wh.palette[3 * i + 1];
        table[4 * i + 2] = wh.palette[3 * i];
    }
    if (!writeBlock(f, table, static_cast<size_t>(w.entries) * 4)) st = ST_WRITE_ERROR;

    // Run-length rows are encoded from the width's index bytes, unpadded.
    BmpRleRows coder{w.compression, request->width, 2 * static_cast<size_t>(request->width) + 16, Buffer()};
    if (rle) coder.encoded = allocBuffer(coder.capacity);
    if (st == ST_OK && rle && !coder.encoded) st = ST_NO_MEMORY;
    if (st == ST_OK)
        st = rle ? writeRows(f, request->width, request->height, bmpWriteRleRow, &coder)
                 : writeRows(f, w.rowBytes, request->height);
    if (st == ST_OK && rle) {
        const uint8_t endOfBitmap[2] = {0, 1};
        if (!writeBlock(f, endOfBitmap, 2)) st = ST_WRITE_ERROR;
    }
    endWrite();
    return st;
}

Status bmpWriteTrueColourRows(FILE* f, const SaveRequest* request, const BmpWriteLayout& w) {
    WriteHeader wh{};
    wh.layout = w.depth == 32 ? PL_BGRA : PL_REVERSED;
    wh.orientation = OR_BOTTOM_UP;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(w.depth);
    wh.bytesPerPlane = w.depth / 8 * request->width;
    setRasterName(wh.name, NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    st = writeRows(f, w.rowBytes, request->height);
    endWrite();
    return st;
}

// Writes a 32-bit value at an absolute offset; false when the stream cannot seek there.
bool bmpPatchU32(FILE* f, long offset, uint32_t value) {
    if (fseek(f, offset, SEEK_SET) != 0) return false;
    writeU32LE(f, value);
    return true;
}

}  // namespace

// "BM", then an OS/2 1.x header (12 bytes) or a Windows header of 40 bytes or more.
bool acceptBmp(const uint8_t* head, size_t n, int64_t) {
    if (n < 18 || loadU16LE(head) != BMP_SIGNATURE) return false;
    const uint32_t size = loadU32LE(head + 14);
    return size == OS2_HEADER_SIZE || size >= WIN_HEADER_SIZE;
}

Status readBmp(FILE* stream, LoadRequest* request) { return dibReadBitmapFile(stream, request, nullptr); }

Status dibReadBitmapFile(FILE* stream, LoadRequest* request, const char* name) {
    BmpHeader h;
    Status st = bmpReadHeader(stream, request->fileSize, &h);
    if (st != ST_OK) return st;
    st = bmpValidate(&h, request->fileSize, request);
    if (st != ST_OK) return st;

    RasterHeader rh{};
    uint16_t layout = 0;
    PixelPath path = bmpPixelPath(h, &layout);
    rh.layout = layout;
    rh.orientation = h.topDown ? 0 : OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = h.width;
    rh.height = h.height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(h.bits);
    rh.xdpi = bmpDpiFromPixelsPerMetre(h.xPixelsPerMetre);
    rh.ydpi = bmpDpiFromPixelsPerMetre(h.yPixelsPerMetre);
    rh.compression = h.compression == BI_RLE8 ? "RLE8" : h.compression == BI_RLE4 ? "RLE4" : nullptr;
    if (path == PixelPath::Palette) return bmpReadPaletteImage(stream, h, &rh, name);
    return bmpReadTrueColourImage(stream, h, path, &rh, name);
}

Status writeBmp(FILE* stream, SaveRequest* request) {
    BmpWriteLayout w{};
    switch (request->kind) {
    case IMG_BINARY:
        w.depth = 1;
        w.entries = 2;
        break;
    case IMG_GREY:
    case IMG_PALETTE:
        w.depth = request->colours <= 16 ? 4 : 8;
        w.entries = 1 << w.depth;
        break;
    case KIND_ANY_TRUECOLOUR:
        w.depth = request->bitsPerPixel == 32 ? 32 : 24;
        w.entries = 0;
        break;
    default:
        return ST_KIND_REFUSED;
    }
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;
    const bool rle = request->writerOption1 != 0 && (w.depth == 8 || w.depth == 4);
    w.compression = !rle ? BI_RGB : w.depth == 8 ? BI_RLE8 : BI_RLE4;
    w.rowBytes = dibRowBytes(request->width, w.depth);

    // Sizes: exact for uncompressed data, provisional for run-length data (patched below).
    const uint64_t dataOffset = FILE_HEADER_SIZE + WIN_HEADER_SIZE + 4u * static_cast<uint64_t>(w.entries);
    uint64_t imageSize = 0;
    uint64_t fileSize;
    if (!rle) {
        imageSize = static_cast<uint64_t>(w.rowBytes) * static_cast<uint64_t>(request->height);
        fileSize = dataOffset + imageSize;
    } else {
        fileSize = static_cast<uint64_t>(request->width) * static_cast<uint64_t>(request->height) + dataOffset;
    }
    if (!rle && fileSize > 0xFFFFFFFFu) return ST_KIND_REFUSED;
    if (fileSize > 0xFFFFFFFFu) fileSize = 0xFFFFFFFFu;

    writeU16LE(stream, BMP_SIGNATURE);
    writeU32LE(stream, static_cast<uint32_t>(fileSize));
    writeU16LE(stream, 0);
    writeU16LE(stream, 0);
    writeU32LE(stream, static_cast<uint32_t>(dataOffset));
    writeU32LE(stream, WIN_HEADER_SIZE);
    writeU32LE(stream, static_cast<uint32_t>(request->width));
    writeU32LE(stream, static_cast<uint32_t>(request->height));
    writeU16LE(stream, 1);
    writeU16LE(stream, static_cast<uint32_t>(w.depth));
    writeU32LE(stream, w.compression);
    writeU32LE(stream, static_cast<uint32_t>(imageSize));
    writeU32LE(stream, bmpPixelsPerMetreFromDpi(request->xdpi));
    writeU32LE(stream, bmpPixelsPerMetreFromDpi(request->ydpi));
    writeU32LE(stream, 0);  // colours used: all of the depth
    writeU32LE(stream, 0);  // important colours: all
    if (ferror(stream)) return ST_WRITE_ERROR;

    Status st = w.entries ? bmpWritePaletteRows(stream, request, w) : bmpWriteTrueColourRows(stream, request, w);
    if (st != ST_OK) return st;

    long end = ftell(stream);
    if (end > 0) {
        uint64_t total = static_cast<uint64_t>(end);
        if (total > 0xFFFFFFFFu || total < dataOffset) return ST_WRITE_ERROR;
        // Patch the real sizes; a stream that cannot seek keeps the provisional ones.
        if (bmpPatchU32(stream, OFFSET_IMAGE_SIZE, static_cast<uint32_t>(total - dataOffset)) &&
            bmpPatchU32(stream, OFFSET_FILE_SIZE, static_cast<uint32_t>(total)))
            fseek(stream, end, SEEK_SET);
    }
    if (fflush(stream) != 0 || ferror(stream)) return ST_WRITE_ERROR;
    return ST_OK;
}
