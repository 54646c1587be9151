// Silicon Graphics images.
//
// Reader: verbatim and run-length files of one to four channels (grey, grey
// and alpha, R,G,B, R,G,B,A) with one or two bytes per sample, big-endian or,
// when the magic number reads byte-swapped, little-endian. Writer: grey and
// black and white as one channel, true colour as three, or four when the
// image carries alpha; verbatim or run-length.
//
// The 512-byte header holds the magic 474, the storage (0 verbatim, 1
// run-length), the bytes per sample, the dimension, xsize, ysize, zsize, the
// smallest and largest sample, a name and a colormap identifier. Rows run from
// the bottom up, one channel after another. Run-length files follow the header
// with a table of row start offsets and a table of row lengths, both of
// ysize x zsize 32-bit entries indexed by y + z x ysize.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

const char MSG_BAD_STORAGE[] = "RGB : Unknown compression type !";
const char MSG_BAD_BPC[] = "RGB : Bad Bytes Per Pixel !";
const char MSG_BAD_SIZE[] = "RGB : Bad picture's size !";
const char MSG_BAD_CHANNELS[] = "RGB : Bad number of channels !";
const char MSG_BAD_ROW[] = "RGB : Bad row length !";

const char NAME_RLE[] = "SGI RGB (Run Length Encoded)";
const char NAME_VERBATIM[] = "SGI RGB (Verbatim)";
const char NAME_WRITE[] = "RGB Indigo";

constexpr uint16_t SGI_MAGIC = 474;
constexpr uint16_t SGI_MAGIC_SWAPPED = 0xDA01;
constexpr uint32_t HEADER_SIZE = 512;
constexpr int MAX_CHANNELS = 4;
constexpr uint32_t ROW_UNUSED = 0xFFFFFFFFu;  // a row length of -1: the row keeps what it held
constexpr uint64_t UNKNOWN_POSITION = ~uint64_t(0);

// Header offsets.
constexpr int OFF_STORAGE = 2;
constexpr int OFF_BPC = 3;
constexpr int OFF_DIMENSION = 4;
constexpr int OFF_XSIZE = 6;
constexpr int OFF_YSIZE = 8;
constexpr int OFF_ZSIZE = 10;
constexpr int OFF_PIXMIN = 12;
constexpr int OFF_PIXMAX = 16;
constexpr int OFF_NAME = 24;
constexpr int OFF_END_OF_DATA = 140;  // written by us: where the run-length data end

struct SgiHeader {
    bool little;
    uint8_t storage;
    uint8_t bpc;
    uint16_t dimension;
    uint32_t xsize;
    uint32_t ysize;
    uint32_t zsize;
};

// The file's own byte order.
struct SgiOrder {
    bool little;
    uint16_t u16(const uint8_t* p) const { return little ? loadU16LE(p) : loadU16BE(p); }
    uint32_t u32(const uint8_t* p) const { return little ? loadU32LE(p) : loadU32BE(p); }
};

void storeU16BE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void storeU32BE(uint8_t* p, uint32_t v) {
    storeU16BE(p, v >> 16);
    storeU16BE(p + 2, v & 0xFFFF);
}

Status sgiReadHeader(FILE* f, SgiHeader* h, LoadRequest* request) {
    uint8_t b[HEADER_SIZE];
    if (!readBlock(f, b, sizeof b)) return ST_UNKNOWN_FORMAT;
    uint16_t magic = loadU16BE(b);
    if (magic != SGI_MAGIC && magic != SGI_MAGIC_SWAPPED) return ST_UNKNOWN_FORMAT;
    SgiOrder o{magic == SGI_MAGIC_SWAPPED};
    h->little = o.little;
    h->storage = b[OFF_STORAGE];
    h->bpc = b[OFF_BPC];
    h->dimension = o.u16(b + OFF_DIMENSION);
    h->xsize = o.u16(b + OFF_XSIZE);
    h->ysize = o.u16(b + OFF_YSIZE);
    h->zsize = o.u16(b + OFF_ZSIZE);
    if (h->storage > 1) {
        setReaderMessage(request, MSG_BAD_STORAGE);
        return ST_BAD_FILE;
    }
    if (h->bpc != 1 && h->bpc != 2) {
        setReaderMessage(request, MSG_BAD_BPC);
        return ST_BAD_FILE;
    }
    // Dimension 1 is a single row of one channel, dimension 2 one channel.
    if (h->dimension == 1) h->ysize = 1;
    if (h->dimension == 1 || h->dimension == 2) h->zsize = 1;
    if (h->xsize < 1 || h->xsize > MAX_IMAGE_SIDE || h->ysize < 1 || h->ysize > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (h->zsize < 1 || h->zsize > MAX_CHANNELS) {
        setReaderMessage(request, MSG_BAD_CHANNELS);
        return ST_BAD_FILE;
    }
    return ST_OK;
}

// Reads the rows of a file into the row buffer and hands them to the core.
class SgiReader {
public:
    SgiReader(FILE* f, const SgiHeader& h, RasterHeader* rh) : f_(f), h_(h), order_{h.little}, rh_(rh) {}

    Status readTables() {
        const uint64_t n = static_cast<uint64_t>(h_.ysize) * h_.zsize;
        starts_ = allocBuffer(4 * n);
        lengths_ = allocBuffer(4 * n);
        if (!starts_ || !lengths_) return ST_NO_MEMORY;
        if (!readBlock(f_, starts_.get(), static_cast<size_t>(4 * n)) ||
            !readBlock(f_, lengths_.get(), static_cast<size_t>(4 * n)))
            return ST_READ_ERROR;
        return ST_OK;
    }

    Status allocate() {
        // Room for a row whose every sample is a packet of its own, and spare.
        packedSize_ = 4 * static_cast<uint64_t>(h_.xsize) + 4 * (h_.xsize / 64) + 8;
        packed_ = allocBuffer(packedSize_);
        return packed_ ? ST_OK : ST_NO_MEMORY;
    }

    // Verbatim files of bytes: channel after channel, as they are stored.
    Status readByChannel(const int* firstPlane, const int* planeCount) {
        if (!seekTo(HEADER_SIZE)) return ST_READ_ERROR;
        uint8_t* row = rh_->rowBuffer;
        for (uint32_t z = 0; z < h_.zsize; ++z) {
            for (uint32_t y = 0; y < h_.ysize; ++y) {
                if (!read(row, h_.xsize)) return ST_READ_ERROR;
                for (int k = 0; k < planeCount[z]; ++k) {
                    Status st = putRows(firstPlane[z] + k, static_cast<int32_t>(y), 1);
                    if (st != ST_OK) return st;
                }
            }
        }
        return ST_OK;
    }

    // Every other file: each row gathers all its channels, one line per plane.
    Status readByRow(const int* firstPlane, const int* planeCount) {
        uint8_t* row = rh_->rowBuffer;
        for (uint32_t y = 0; y < h_.ysize; ++y) {
            for (uint32_t z = 0; z < h_.zsize; ++z) {
                uint8_t* line = row + static_cast<size_t>(firstPlane[z]) * h_.xsize;
                Status st = readChannelRow(y, z, line);
                if (st != ST_OK) return st;
                for (int k = 1; k < planeCount[z]; ++k) memcpy(line + k * h_.xsize, line, h_.xsize);
            }
            Status st = putRows(-1, static_cast<int32_t>(y), 1);
            if (st != ST_OK) return st;
        }
        return ST_OK;
    }

private:
    // Moves to an absolute offset; rows stored one after another need no seek.
    bool seekTo(uint64_t offset) {
        if (offset == position_) return true;
        if (offset > 0x7FFFFFFF || fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
        position_ = offset;
        return true;
    }

    bool read(uint8_t* dst, uint64_t n) {
        if (!readBlock(f_, dst, static_cast<size_t>(n))) {
            position_ = UNKNOWN_POSITION;
            return false;
        }
        position_ += n;
        return true;
    }

    // Two-byte samples span the whole 16 bits: PIXMAX is a statistic of the
    // picture written by some programs, not the range of its samples.
    static uint8_t narrow(uint32_t v) { return static_cast<uint8_t>((v + 128) / 257); }

    Status readChannelRow(uint32_t y, uint32_t z, uint8_t* line) {
        const uint64_t index = y + static_cast<uint64_t>(z) * h_.ysize;
        if (h_.storage == 0) {
            const uint64_t bytes = static_cast<uint64_t>(h_.bpc) * h_.xsize;
            if (!seekTo(HEADER_SIZE + bytes * index)) return ST_READ_ERROR;
            if (h_.bpc == 1) return read(line, h_.xsize) ? ST_OK : ST_READ_ERROR;
            if (!read(packed_.get(), bytes)) return ST_READ_ERROR;
            for (uint32_t x = 0; x < h_.xsize; ++x) line[x] = narrow(order_.u16(packed_.get() + 2 * x));
            return ST_OK;
        }
        const uint32_t start = order_.u32(starts_.get() + 4 * index);
        const uint32_t length = order_.u32(lengths_.get() + 4 * index);
        if (length == ROW_UNUSED) return ST_OK;
        if (length > packedSize_) return ST_CORRUPT;
        if (!seekTo(start) || !read(packed_.get(), length)) return ST_READ_ERROR;
        expand(packed_.get(), length, line);
        return ST_OK;
    }

    // Count (low 7 bits; 0 ends the row) with bit 7 for literal samples, or a
    // sample repeated. Samples past the row's width are dropped.
    void expand(const uint8_t* p, uint32_t length, uint8_t* line) const {
        memset(line, 0, h_.xsize);
        const uint32_t unit = h_.bpc;
        const uint8_t* end = p + length;
        uint32_t x = 0;
        auto sample = [&](const uint8_t* s) -> uint8_t { return unit == 1 ? *s : narrow(order_.u16(s)); };
        while (end - p >= static_cast<ptrdiff_t>(unit)) {
            const uint32_t code = unit == 1 ? *p : order_.u16(p);
            p += unit;
            uint32_t count = code & 0x7F;
            if (count == 0) break;
            if (code & 0x80) {
                const uint32_t available = static_cast<uint32_t>(end - p) / unit;
                if (count > available) count = available;
                for (uint32_t i = 0; i < count; ++i, p += unit)
                    if (x < h_.xsize) line[x++] = sample(p);
            } else {
                if (end - p < static_cast<ptrdiff_t>(unit)) break;
                const uint8_t v = sample(p);
                p += unit;
                const uint32_t n = h_.xsize - x < count ? h_.xsize - x : count;
                memset(line + x, v, n);
                x += n;
            }
        }
    }

    FILE* f_;
    const SgiHeader& h_;
    SgiOrder order_;
    RasterHeader* rh_;
    Buffer starts_;
    Buffer lengths_;
    Buffer packed_;
    uint64_t packedSize_ = 0;
    uint64_t position_ = UNKNOWN_POSITION;
};

// ---------------------------------------------------------------------------
// Writing.

// One line as run-length packets, ended by a 0 byte: literal bytes until three
// equal bytes begin, in packets of at most 126 introduced by 0x80 | count, then
// the run of equal bytes in packets of at most 126, each a count and the byte.
// Returns the encoded length; out holds at least n + n / 126 + 2 bytes.
uint32_t sgiCompressLine(const uint8_t* s, uint32_t n, uint8_t* out) {
    constexpr uint32_t MAX_PACKET = 126;
    uint8_t* o = out;
    uint32_t i = 0;
    while (i < n) {
        uint32_t start = i;
        while (i < n && !(i + 2 < n && s[i] == s[i + 1] && s[i] == s[i + 2])) ++i;
        while (start < i) {
            uint32_t k = i - start < MAX_PACKET ? i - start : MAX_PACKET;
            *o++ = static_cast<uint8_t>(0x80 | k);
            memcpy(o, s + start, k);
            o += k;
            start += k;
        }
        if (i == n) break;
        const uint8_t v = s[i];
        start = i;
        while (i < n && s[i] == v) ++i;
        while (start < i) {
            uint32_t k = i - start < MAX_PACKET ? i - start : MAX_PACKET;
            *o++ = static_cast<uint8_t>(k);
            *o++ = v;
            start += k;
        }
    }
    *o++ = 0;
    return static_cast<uint32_t>(o - out);
}

class SgiWriter {
public:
    SgiWriter(FILE* f, uint32_t xsize, uint32_t ysize, uint32_t zsize, bool rle)
        : f_(f), xsize_(xsize), ysize_(ysize), zsize_(zsize), rle_(rle) {}

    Status run() {
        Status st = writeHeader();
        if (st != ST_OK) return st;
        const uint64_t entries = static_cast<uint64_t>(ysize_) * zsize_;
        if (rle_) {
            starts_ = allocBuffer(4 * entries);
            lengths_ = allocBuffer(4 * entries);
            packed_ = allocBuffer(2 * static_cast<uint64_t>(xsize_) + 16);
            if (!starts_ || !lengths_ || !packed_) return ST_NO_MEMORY;
            // The tables are filled in once the rows are written.
            if (!writeBlock(f_, starts_.get(), static_cast<size_t>(4 * entries)) ||
                !writeBlock(f_, lengths_.get(), static_cast<size_t>(4 * entries)))
                return ST_WRITE_ERROR;
            position_ = nextOffset_ = HEADER_SIZE + 8 * entries;
        }

        WriteHeader wh{};
        wh.orientation = OR_BOTTOM_UP;
        wh.channels = 1;
        wh.planes = static_cast<int16_t>(zsize_);
        wh.bitsPerPlane = 8;
        wh.bytesPerPlane = static_cast<int32_t>(xsize_);
        setRasterName(wh.name, NAME_WRITE);
        st = beginWrite(&wh);
        if (st != ST_OK) return st;
        for (uint32_t y = 0; st == ST_OK && y < ysize_; ++y) {
            st = getRows(static_cast<int32_t>(y), 1);
            for (uint32_t z = 0; st == ST_OK && z < zsize_; ++z)
                st = writeLine(y, z, wh.rowBuffer + static_cast<size_t>(z) * xsize_);
        }
        endWrite();
        if (st != ST_OK) return st;
        return finish();
    }

private:
    Status writeHeader() {
        uint8_t b[HEADER_SIZE] = {};
        storeU16BE(b, SGI_MAGIC);
        b[OFF_STORAGE] = rle_ ? 1 : 0;
        b[OFF_BPC] = 1;
        storeU16BE(b + OFF_DIMENSION, zsize_ == 1 ? 2 : 3);
        storeU16BE(b + OFF_XSIZE, xsize_);
        storeU16BE(b + OFF_YSIZE, ysize_);
        storeU16BE(b + OFF_ZSIZE, zsize_);
        // The range of the samples, as readers that scale by PIXMAX expect.
        storeU32BE(b + OFF_PIXMIN, 0);
        storeU32BE(b + OFF_PIXMAX, 255);
        memcpy(b + OFF_NAME, "no name", 7);
        if (rle_) storeU32BE(b + OFF_END_OF_DATA, static_cast<uint32_t>(nextOffset_));
        return writeBlock(f_, b, sizeof b) ? ST_OK : ST_WRITE_ERROR;
    }

    bool moveTo(uint64_t offset) {
        if (offset == position_) return true;
        if (offset > 0x7FFFFFFF || fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
        position_ = offset;
        return true;
    }

    Status writeLine(uint32_t y, uint32_t z, const uint8_t* line) {
        const uint64_t index = y + static_cast<uint64_t>(z) * ysize_;
        const uint8_t* data = line;
        uint32_t length = xsize_;
        uint64_t offset;
        if (rle_) {
            length = sgiCompressLine(line, xsize_, packed_.get());
            data = packed_.get();
            offset = nextOffset_;
            if (offset > 0xFFFFFFFFu) return ST_WRITE_ERROR;
            storeU32BE(starts_.get() + 4 * index, static_cast<uint32_t>(offset));
            storeU32BE(lengths_.get() + 4 * index, length);
            nextOffset_ += length;
        } else {
            offset = HEADER_SIZE + static_cast<uint64_t>(xsize_) * index;
        }
        if (!moveTo(offset) || !writeBlock(f_, data, length)) return ST_WRITE_ERROR;
        position_ += length;
        return ST_OK;
    }

    // The header again with where the data end (and, run-length, the tables).
    Status finish() {
        if (fseek(f_, 0, SEEK_SET) != 0) return ST_WRITE_ERROR;
        Status st = writeHeader();
        if (st == ST_OK && rle_) {
            const size_t bytes = 4 * static_cast<size_t>(ysize_) * zsize_;
            if (!writeBlock(f_, starts_.get(), bytes) || !writeBlock(f_, lengths_.get(), bytes)) st = ST_WRITE_ERROR;
        }
        if (st == ST_OK && fseek(f_, 0, SEEK_END) != 0) st = ST_WRITE_ERROR;
        return st;
    }

    FILE* f_;
    uint32_t xsize_;
    uint32_t ysize_;
    uint32_t zsize_;
    bool rle_;
    uint64_t position_ = HEADER_SIZE;
    uint64_t nextOffset_ = 0;
    Buffer starts_;
    Buffer lengths_;
    Buffer packed_;
};

}  // namespace

// The magic number, big-endian as written, or byte-swapped by a little-endian writer.
bool acceptSgi(const uint8_t* head, size_t n, int64_t) {
    return n >= 2 && (loadU16BE(head) == SGI_MAGIC || loadU16BE(head) == SGI_MAGIC_SWAPPED);
}

Status readSgi(FILE* stream, LoadRequest* request) {
    SgiHeader h{};
    Status st = sgiReadHeader(stream, &h, request);
    if (st != ST_OK) return st;

    // Where each channel goes: grey and alpha become R,G,B from the grey and the alpha.
    int firstPlane[MAX_CHANNELS] = {0, 1, 2, 3};
    int planeCount[MAX_CHANNELS] = {1, 1, 1, 1};
    int planes = static_cast<int>(h.zsize);
    if (h.zsize == 2) {
        planes = 4;
        planeCount[0] = 3;
        firstPlane[1] = 3;
    }
    const bool byChannel = h.storage == 0 && h.bpc == 1 && h.zsize >= 2;

    RasterHeader rh{};
    SgiReader rows(stream, h, &rh);
    if (h.storage == 1) {
        st = rows.readTables();
        if (st != ST_OK) return st;
    }
    st = rows.allocate();
    if (st != ST_OK) return st;

    rh.layout = byChannel ? PL_CHANNEL_PLANES : 0;
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.xsize);
    rh.height = static_cast<int32_t>(h.ysize);
    rh.planes = static_cast<int16_t>(planes);
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = static_cast<int32_t>(h.xsize);
    setRasterName(rh.name, h.storage == 1 ? NAME_RLE : NAME_VERBATIM);
    rh.compression = h.storage == 1 ? "RLE" : nullptr;
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    st = byChannel ? rows.readByChannel(firstPlane, planeCount) : rows.readByRow(firstPlane, planeCount);
    endImage(0, 8, nullptr);
    if (st == ST_CORRUPT) setReaderMessage(request, MSG_BAD_ROW);
    return st;
}

Status writeSgi(FILE* stream, SaveRequest* request) {
    uint32_t zsize;
    switch (request->kind) {
    case IMG_BINARY:
    case IMG_GREY:
        zsize = 1;
        break;
    case KIND_ANY_TRUECOLOUR:
        zsize = 3;
        break;
    default:
        return ST_KIND_REFUSED;
    }
    // The header keeps the sizes in 16 bits.
    if (request->width < 1 || request->height < 1 || request->width > 0xFFFF || request->height > 0xFFFF)
        return ST_KIND_REFUSED;
    // A fourth byte that holds nothing is no alpha: such pictures get three channels.
    if (zsize == 3 && savedImageHasAlpha()) zsize = 4;
    SgiWriter writer(stream, static_cast<uint32_t>(request->width), static_cast<uint32_t>(request->height), zsize,
                     request->writerOption1 != 0);
    return writer.run();
}
