// X Window dumps (X11 form, reader only).
//
// A header of 25 32-bit words, normally big-endian but little-endian from some
// writers: the order is the one in which the version word reads 7. The window
// name follows up to the header size, then ncolors colour records of 12 bytes
// (pixel, red, green, blue as 16-bit values, flags, pad) and the image data;
// the colour of pixel value i is record i, of which the high bytes are kept.
//
// ZPixmap data holds height lines of bytes_per_line bytes. Pixels of 16, 24
// and 32 bits are integers in the data's byte order; pixels of 1 and 4 bits
// sit in items of the larger of bitmap_unit and bitmap_pad bits, stored in the
// data's byte order, the first pixel at the high end of the item when the bit
// order is MSBFirst. XYPixmap data holds depth whole-image bit planes, the
// most significant first; XYBitmap data one such plane.
//
// Pixel values index the colour records for the grey, static and pseudo-colour
// visuals, and split into components by the three masks for the true and
// direct colour ones (direct colour components index the records when there
// are any). The reader turns every line into indices or R,G,B triplets itself.
#include <cstring>
#include <initializer_list>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_FORMAT[] = "XWD : Unsupported pixmap format !";
const char NAME_X11[] = "X11 Window Dump";

constexpr int HEADER_WORDS = 25;
constexpr uint32_t HEADER_BYTES = HEADER_WORDS * 4;
constexpr uint32_t X11_VERSION = 7;
constexpr uint32_t XY_BITMAP = 0;
constexpr uint32_t XY_PIXMAP = 1;
constexpr uint32_t Z_PIXMAP = 2;
constexpr uint32_t TRUE_COLOR = 4;
constexpr uint32_t DIRECT_COLOR = 5;
constexpr uint32_t MAX_COLOURS = 65536;
constexpr uint32_t MAX_LINE_BYTES = 1u << 20;
constexpr int RECORD_BYTES = 12;

struct XwdHeader {
    bool bigEndian;
    uint32_t headerSize;
    uint32_t format;
    uint32_t depth;
    uint32_t width;
    uint32_t height;
    uint32_t xoffset;
    uint32_t byteOrder;  // of the data: 0 LSBFirst, 1 MSBFirst
    uint32_t unit;
    uint32_t bitOrder;
    uint32_t pad;
    uint32_t bpp;
    uint32_t lineBytes;
    uint32_t visual;
    uint32_t masks[3];
    uint32_t ncolors;
};

bool oneOf(uint32_t v, std::initializer_list<uint32_t> set) {
    for (uint32_t s : set)
        if (v == s) return true;
    return false;
}

// The header's fields when head holds an X11 dump header, checked as strictly
// as identification needs.
bool xwdParse(const uint8_t* head, size_t n, XwdHeader* h) {
    if (n < HEADER_BYTES) return false;
    bool big;
    if (loadU32BE(head + 4) == X11_VERSION) big = true;
    else if (loadU32LE(head + 4) == X11_VERSION) big = false;
    else return false;
    uint32_t w[HEADER_WORDS];
    for (int i = 0; i < HEADER_WORDS; ++i) w[i] = big ? loadU32BE(head + 4 * i) : loadU32LE(head + 4 * i);
    h->bigEndian = big;
    h->headerSize = w[0];
    h->format = w[2];
    h->depth = w[3];
    h->width = w[4];
    h->height = w[5];
    h->xoffset = w[6];
    h->byteOrder = w[7];
    h->unit = w[8];
    h->bitOrder = w[9];
    h->pad = w[10];
    h->bpp = w[11];
    h->lineBytes = w[12];
    h->visual = w[13];
    h->masks[0] = w[14];
    h->masks[1] = w[15];
    h->masks[2] = w[16];
    h->ncolors = w[19];
    if (h->headerSize < HEADER_BYTES || h->headerSize > 65535) return false;
    if (h->format > Z_PIXMAP || h->depth < 1 || h->depth > 32) return false;
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE) return false;
    if (!oneOf(h->bpp, {1, 4, 8, 16, 24, 32})) return false;
    if (h->byteOrder > 1 || h->bitOrder > 1) return false;
    if (!oneOf(h->unit, {8, 16, 32}) || !oneOf(h->pad, {8, 16, 32})) return false;
    const uint64_t bits = h->format == Z_PIXMAP ? h->bpp : 1;
    if (h->lineBytes < (static_cast<uint64_t>(h->width) * bits + 7) / 8) return false;
    return h->visual <= DIRECT_COLOR && h->ncolors <= MAX_COLOURS;
}

struct ColourRecords {
    Buffer rgb;  // R,G,B high bytes, in file order
    uint32_t count = 0;
    uint8_t table[PALETTE_BYTES] = {};  // the first 256 records
};

Status readRecords(FILE* f, const XwdHeader& h, ColourRecords* rec) {
    if (h.ncolors == 0) return ST_OK;
    rec->rgb = allocBuffer(3ull * h.ncolors);
    if (!rec->rgb) return ST_NO_MEMORY;
    for (uint32_t i = 0; i < h.ncolors; ++i) {
        uint8_t b[RECORD_BYTES];
        if (!readBlock(f, b, sizeof b)) return ST_READ_ERROR;
        // Record i is the colour of pixel value i: the pixel field is left
        // alone, some dumps store garbage there.
        uint8_t* c = rec->rgb.get() + 3 * i;
        for (int k = 0; k < 3; ++k) c[k] = h.bigEndian ? b[4 + 2 * k] : b[5 + 2 * k];
        if (i < 256) memcpy(rec->table + 3 * i, c, 3);
        rec->count = i + 1;
    }
    return ST_OK;
}

// The value of pixel x of a line of pixels of bits bits (1 or 4 inside items,
// 8..32 as whole bytes).
uint32_t pixelAt(const XwdHeader& h, const uint8_t* line, uint64_t x, uint32_t bits) {
    const bool msbBytes = h.byteOrder == 1;
    if (bits >= 8) {
        const uint8_t* p = line + x * (bits / 8);
        uint32_t v = 0;
        const uint32_t n = bits / 8;
        for (uint32_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(p[i]) << (msbBytes ? 8 * (n - 1 - i) : 8 * i);
        return v;
    }
    const uint32_t itemBits = h.unit > h.pad ? h.unit : h.pad;
    const uint64_t bit = x * bits;
    const uint8_t* p = line + bit / itemBits * (itemBits / 8);
    const uint32_t n = itemBits / 8;
    uint32_t item = 0;
    for (uint32_t i = 0; i < n; ++i) item |= static_cast<uint32_t>(p[i]) << (msbBytes ? 8 * (n - 1 - i) : 8 * i);
    const uint32_t o = static_cast<uint32_t>(bit % itemBits);
    const uint32_t shift = h.bitOrder == 1 ? itemBits - o - bits : o;
    return (item >> shift) & ((1u << bits) - 1);
}

struct MaskField {
    uint32_t shift;
    uint32_t max;
};

MaskField fieldOf(uint32_t mask) {
    MaskField f{0, 0};
    if (mask == 0) return f;
    while (!(mask & 1)) {
        mask >>= 1;
        ++f.shift;
    }
    f.max = mask;
    return f;
}

struct XwdDecoder {
    const XwdHeader* h;
    const ColourRecords* rec;
    bool direct;        // values split by the masks into R,G,B
    MaskField fields[3];
    uint32_t valueMask;  // for indexed pixels
    Buffer lines;       // one stored line per plane, with room for a whole last item
    Buffer values;      // one value per pixel
    Buffer out;
};

void convertLine(XwdDecoder* d) {
    const XwdHeader& h = *d->h;
    const uint32_t* v = reinterpret_cast<const uint32_t*>(d->values.get());
    uint8_t* o = d->out.get();
    if (!d->direct) {
        for (uint32_t x = 0; x < h.width; ++x) o[x] = static_cast<uint8_t>(v[x] & d->valueMask);
        return;
    }
    for (uint32_t x = 0; x < h.width; ++x) {
        for (int k = 0; k < 3; ++k) {
            const MaskField& f = d->fields[k];
            const uint32_t c = f.max ? (v[x] >> f.shift) & f.max : 0;
            uint8_t byte;
            if (d->rec->count > 0) byte = c < d->rec->count ? d->rec->rgb[3 * c + k] : 0;
            else if (f.max == 255) byte = static_cast<uint8_t>(c);
            else byte = f.max ? static_cast<uint8_t>(static_cast<uint64_t>(c) * 255 / f.max) : 0;
            o[3 * x + k] = byte;
        }
    }
}

Status readLines(FILE* f, XwdDecoder* d, uint64_t dataStart) {
    const XwdHeader& h = *d->h;
    uint32_t* v = reinterpret_cast<uint32_t*>(d->values.get());
    const int64_t outBytes = d->direct ? 3ll * h.width : h.width;
    const uint32_t planes = h.format == XY_PIXMAP ? h.depth : 1;
    for (uint32_t y = 0; y < h.height; ++y) {
        if (h.format == Z_PIXMAP) {
            if (!readBlock(f, d->lines.get(), h.lineBytes)) return ST_READ_ERROR;
            for (uint32_t x = 0; x < h.width; ++x) v[x] = pixelAt(h, d->lines.get(), x + h.xoffset, h.bpp);
        } else {
            memset(v, 0, 4ull * h.width);
            for (uint32_t p = 0; p < planes; ++p) {
                const uint64_t at = dataStart + (static_cast<uint64_t>(p) * h.height + y) * h.lineBytes;
                if (!seekTo(f, at) || !readBlock(f, d->lines.get(), h.lineBytes)) return ST_READ_ERROR;
                for (uint32_t x = 0; x < h.width; ++x) v[x] = (v[x] << 1) | pixelAt(h, d->lines.get(), x + h.xoffset, 1);
            }
        }
        convertLine(d);
        const Status st = deliverRow(d->out.get(), outBytes, static_cast<int32_t>(y));
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

}  // namespace

bool acceptXwd(const uint8_t* head, size_t n, int64_t) {
    XwdHeader h{};
    return xwdParse(head, n, &h);
}

Status readXwd(FILE* stream, LoadRequest* request) {
    uint8_t head[HEADER_BYTES];
    XwdHeader h{};
    if (!readBlock(stream, head, sizeof head) || !xwdParse(head, sizeof head, &h)) return ST_UNKNOWN_FORMAT;

    const bool direct = h.visual == TRUE_COLOR || h.visual == DIRECT_COLOR;
    const uint32_t bits = h.format == Z_PIXMAP ? h.bpp : 1;
    const uint64_t needBits = (static_cast<uint64_t>(h.width) + h.xoffset) * bits;
    const bool fits = h.xoffset <= MAX_IMAGE_SIDE && h.lineBytes <= MAX_LINE_BYTES && (needBits + 7) / 8 <= h.lineBytes;
    bool supported = fits && (h.format != XY_BITMAP || h.depth == 1);
    if (h.format == Z_PIXMAP && h.depth > h.bpp) supported = false;
    if (direct) supported = supported && (h.masks[0] | h.masks[1] | h.masks[2]) != 0;
    else supported = supported && h.depth <= 8;
    if (!supported) {
        setReaderMessage(request, MSG_BAD_FORMAT);
        return ST_BAD_FILE;
    }
    if (!skipBytes(stream, static_cast<long>(h.headerSize - HEADER_BYTES))) return ST_READ_ERROR;

    XwdDecoder d{};
    d.h = &h;
    d.direct = direct;
    for (int k = 0; k < 3; ++k) d.fields[k] = fieldOf(h.masks[k]);
    const uint32_t indexBits = h.format == XY_BITMAP ? 1 : direct ? 8 : h.depth;  // indices: 8 bits at most
    d.valueMask = (1u << indexBits) - 1;

    RasterHeader rh{};
    rh.layout = direct ? 0 : PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(direct ? 24 : indexBits);
    rh.bytesPerPlane = static_cast<int32_t>(direct ? 3 * h.width : h.width);
    setRasterName(rh.name, NAME_X11);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    ColourRecords rec;
    d.rec = &rec;
    d.lines = allocBuffer(h.lineBytes + 8ull);
    d.values = allocBuffer(4ull * h.width);
    d.out = allocBuffer(3ull * h.width);
    if (!d.lines || !d.values || !d.out) st = ST_NO_MEMORY;
    if (st == ST_OK) st = readRecords(stream, h, &rec);
    if (st == ST_OK) st = readLines(stream, &d, h.headerSize + static_cast<uint64_t>(RECORD_BYTES) * h.ncolors);

    if (direct) {
        endImage(0, 8, nullptr);
    } else if (rec.count > 0) {
        endImage(PF_TRIPLETS, 8, rec.table);
    } else {
        // Without records the values are grey levels; a single bit is black when set.
        if (d.valueMask == 255) {
            endImage(0, 8, nullptr);
            return st;
        }
        uint8_t grey[PALETTE_BYTES] = {};
        const uint32_t top = d.valueMask;
        for (uint32_t i = 0; i <= top; ++i) {
            const uint8_t g = static_cast<uint8_t>(top == 1 ? 255 * (1 - i) : i * 255 / top);
            memset(grey + 3 * i, g, 3);
        }
        endImage(PF_TRIPLETS, 8, grey);
    }
    return st;
}
