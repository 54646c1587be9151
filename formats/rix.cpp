// ColoRIX VGA Paint pictures (reader only).
//
// "RIX3" files: width, height (16-bit little-endian), a palette type (0xAF:
// 256 colours, 0xAB: 16 colours), a storage type (bit 7 compressed, bit 6 an
// extension block follows, bit 5 encrypted, low nibble 0 for one byte per
// pixel or 4 for four bit planes per row), the optional extension block
// (16-bit length, then its bytes), the palette as 6-bit R,G,B triplets, then
// the rows top row first. Planar rows hold the four plane lines of the row,
// each padded to a whole byte, plane 0 (least significant bit) first.
//
// Compressed data: a code tree of 16-bit items (a count, then the items),
// then segments of coded bits (a 16-bit length, 0 ending the data), read most
// significant bit first. An even item below 0x1000 is a branch: its 1 side
// is the next item, its 0 side starts its value in bytes after the next one;
// an item 0x1000 + b is the byte b. Decoded bytes 0x00 and 0xFF are escapes:
// the next decoded byte n asks for n + 1 copies of the escape. In pictures of
// one byte per pixel, each byte out is the running exclusive or of the bytes
// decoded since the start of its segment. A segment holds whole rows; the
// bits padding its last byte are dropped with the row they would begin.
//
// Older EGA pictures (.sci/.rix without signature, 640 x 350, 16 colours):
// 16 EGA colour numbers (bit 7 of the first marks compressed data), then the
// four whole-picture planes stored in the order 0, 2, 1, 3, plain (the file
// is exactly 112016 bytes) or one compressed segment a plane. Only read when
// the file's name says so.
#include <cstring>
#include <vector>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "ColoRIX : Bad picture's size !";
const char MSG_ENCRYPTED[] = "ColoRIX : Encrypted file !";
const char MSG_BAD_TYPE[] = "ColoRIX : Unsupported image type !";
const char MSG_BAD_TREE[] = "ColoRIX : Bad code tree !";

const char NAME_PLAIN[] = "ColoRIX";
const char NAME_PACKED[] = "ColoRIX (compressed)";

constexpr size_t HEADER_SIZE = 10;
constexpr uint8_t PAL_256 = 0xAF;
constexpr uint8_t PAL_16 = 0xAB;
constexpr uint8_t ST_COMPRESSED = 0x80;
constexpr uint8_t ST_EXTENSION = 0x40;
constexpr uint8_t ST_ENCRYPTED = 0x20;
constexpr uint8_t ST_UNKNOWN_BITS = 0x10;
constexpr uint8_t TYPE_LINEAR = 0;
constexpr uint8_t TYPE_PLANAR = 4;

constexpr int32_t EGA_WIDTH = 640;
constexpr int32_t EGA_HEIGHT = 350;
constexpr int32_t EGA_ROW = EGA_WIDTH / 8;
constexpr int64_t EGA_PLANE = int64_t(EGA_ROW) * EGA_HEIGHT;  // 28000
constexpr int64_t EGA_PLAIN_SIZE = 16 + 4 * EGA_PLANE;        // 112016
constexpr int EGA_PLANE_ORDER[4] = {0, 2, 1, 3};              // stored plane k is plane EGA_PLANE_ORDER[k]

constexpr uint32_t MAX_TREE_ITEMS = 4096;
constexpr uint16_t LEAF = 0x1000;

// Where decoded bytes go: whole rows of rowBytes, handed to take(); a row
// still open at the end of a segment is dropped.
class SegmentRows {
public:
    virtual ~SegmentRows() = default;
    virtual Status take(const uint8_t* row) = 0;
    virtual bool full() const = 0;
};

// The code tree and the segment decoder.
class RixDecoder {
public:
    // Reads and checks the tree at the stream's position.
    Status readTree(FILE* f) {
        uint8_t b[2];
        if (!readBlock(f, b, 2)) return ST_READ_ERROR;
        const uint32_t n = loadU16LE(b);
        if (n < 3 || n > MAX_TREE_ITEMS) return ST_CORRUPT;
        uint8_t raw[2 * MAX_TREE_ITEMS];
        if (!readBlock(f, raw, 2 * n)) return ST_READ_ERROR;
        one_.assign(n, 0);
        zero_.assign(n, 0);
        leaf_.assign(n, -1);
        // Every branch points further on, so one pass in order checks every
        // node reachable from the root, and decoding always ends at a leaf.
        uint8_t reached[MAX_TREE_ITEMS] = {};
        reached[0] = 1;
        for (uint32_t i = 0; i < n; ++i) {
            const uint16_t v = loadU16LE(raw + 2 * i);
            if (v >= LEAF && v <= LEAF + 0xFF) {
                leaf_[i] = v - LEAF;
                if (i == 0) return ST_CORRUPT;  // a root leaf would decode without reading a bit
                continue;
            }
            if (!reached[i]) continue;
            if (v < 2 || v >= LEAF || (v & 1)) return ST_CORRUPT;
            const uint32_t zero = i + 1 + v / 2;
            if (zero >= n) return ST_CORRUPT;
            one_[i] = i + 1;
            zero_[i] = zero;
            reached[i + 1] = reached[zero] = 1;
        }
        return ST_OK;
    }

    // Decodes the segments that follow into rows of rowBytes bytes until the
    // rows are complete, the end mark, or one segment when single is set.
    Status decode(FILE* f, int64_t rowBytes, bool runningXor, bool single, SegmentRows* out) {
        Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
        Buffer data = allocBuffer(0xFFFF);  // the longest segment
        if (!row || !data) return ST_NO_MEMORY;
        while (!out->full()) {
            uint8_t b[2];
            if (!readBlock(f, b, 2)) return ST_READ_ERROR;
            const uint16_t length = loadU16LE(b);
            if (length == 0) return ST_READ_ERROR;  // rows are missing
            const size_t got = fread(data.get(), 1, length, f);
            Status st = segment(data.get(), got, row.get(), rowBytes, runningXor, out);
            if (st != ST_OK) return st;
            if (got < length) return ST_READ_ERROR;
            if (single) return ST_OK;
        }
        return ST_OK;
    }

private:
    Status segment(const uint8_t* data, size_t n, uint8_t* row, int64_t rowBytes, bool runningXor, SegmentRows* out) {
        int64_t fill = 0;
        uint8_t sum = 0;
        int escape = -1;  // the escape byte waiting for its count
        uint32_t node = 0;
        for (size_t i = 0; i < n && !out->full(); ++i) {
            for (int bit = 7; bit >= 0; --bit) {
                node = (data[i] >> bit) & 1 ? one_[node] : zero_[node];
                if (leaf_[node] < 0) continue;
                const uint8_t v = static_cast<uint8_t>(leaf_[node]);
                node = 0;
                int count = 1;
                uint8_t value = v;
                if (escape >= 0) {
                    value = static_cast<uint8_t>(escape);
                    count = v + 1;
                    escape = -1;
                } else if (v == 0x00 || v == 0xFF) {
                    escape = v;
                    continue;
                }
                for (int k = 0; k < count; ++k) {
                    sum = runningXor ? static_cast<uint8_t>(sum ^ value) : value;
                    row[fill++] = sum;
                    if (fill < rowBytes) continue;
                    fill = 0;
                    Status st = out->take(row);
                    if (st != ST_OK || out->full()) return st;
                }
            }
        }
        return ST_OK;
    }

    std::vector<uint32_t> one_, zero_;
    std::vector<int> leaf_;
};

// Rows straight to the picture.
class DeliveredRows : public SegmentRows {
public:
    DeliveredRows(int64_t rowBytes, int32_t rows) : rowBytes_(rowBytes), rows_(rows) {}
    Status take(const uint8_t* row) override { return deliverRow(row, rowBytes_, next_++); }
    bool full() const override { return next_ >= rows_; }

private:
    int64_t rowBytes_;
    int32_t rows_;
    int32_t next_ = 0;
};

// Rows of one EGA plane into its whole-plane buffer.
class PlaneRows : public SegmentRows {
public:
    explicit PlaneRows(uint8_t* plane) : plane_(plane) {}
    Status take(const uint8_t* row) override {
        memcpy(plane_ + static_cast<size_t>(next_++) * EGA_ROW, row, EGA_ROW);
        return ST_OK;
    }
    bool full() const override { return next_ >= EGA_HEIGHT; }

private:
    uint8_t* plane_;
    int32_t next_ = 0;
};

bool isEgaHeader(const uint8_t* head, size_t n) {
    if (n < 16) return false;
    for (size_t i = 0; i < 16; ++i)
        if ((head[i] & (i == 0 ? 0x7F : 0xFF)) > 0x3F) return false;
    return true;
}

void egaPalette(const uint8_t* head, uint8_t* table) {
    for (int i = 0; i < 16; ++i) {
        const int c = head[i] & 0x3F;  // bits r g b R G B, from the high end
        table[3 * i] = static_cast<uint8_t>(0xAA * ((c >> 2) & 1) + 0x55 * ((c >> 5) & 1));
        table[3 * i + 1] = static_cast<uint8_t>(0xAA * ((c >> 1) & 1) + 0x55 * ((c >> 4) & 1));
        table[3 * i + 2] = static_cast<uint8_t>(0xAA * (c & 1) + 0x55 * ((c >> 3) & 1));
    }
}

Status readEga(FILE* f, LoadRequest* request) {
    uint8_t head[16];
    if (!readBlock(f, head, sizeof head) || !isEgaHeader(head, sizeof head)) return ST_UNKNOWN_FORMAT;
    const bool packed = (head[0] & 0x80) != 0;
    if (!packed && request->fileSize != EGA_PLAIN_SIZE) return ST_UNKNOWN_FORMAT;
    RixDecoder decoder;
    if (packed && decoder.readTree(f) != ST_OK) return ST_UNKNOWN_FORMAT;  // no tree: not ours

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = EGA_WIDTH;
    rh.height = EGA_HEIGHT;
    rh.planes = 4;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = EGA_ROW;
    setRasterName(rh.name, packed ? NAME_PACKED : NAME_PLAIN);
    rh.compression = packed ? "Huffman" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // The planes come one after the other: a cut file leaves the later ones
    // blank in every row, so every row is delivered with what there is.
    Buffer planes = allocBuffer(4 * static_cast<uint64_t>(EGA_PLANE));
    Status decoded = planes ? ST_OK : ST_NO_MEMORY;
    for (int k = 0; k < 4 && decoded == ST_OK; ++k) {
        uint8_t* plane = planes.get() + EGA_PLANE * EGA_PLANE_ORDER[k];
        if (packed) {
            PlaneRows rows(plane);
            decoded = decoder.decode(f, EGA_ROW, false, true, &rows);
            if (decoded == ST_OK && !rows.full()) decoded = ST_READ_ERROR;
        } else if (!readBlock(f, plane, static_cast<size_t>(EGA_PLANE))) {
            decoded = ST_READ_ERROR;
        }
    }
    uint8_t row[4 * EGA_ROW];
    for (int32_t y = 0; y < EGA_HEIGHT && st == ST_OK; ++y) {
        for (int p = 0; p < 4; ++p) memcpy(row + p * EGA_ROW, planes.get() + p * EGA_PLANE + y * EGA_ROW, EGA_ROW);
        st = deliverRow(row, sizeof row, y);
    }
    uint8_t table[PALETTE_BYTES] = {};
    egaPalette(head, table);
    endImage(0, 8, table);
    return st != ST_OK ? st : decoded;
}

bool hasEgaName(const LoadRequest* request) {
    char ext[8];
    extensionOf(request->fileName, ext, sizeof ext);
    return strcmp(ext, "rix") == 0 || strcmp(ext, "sci") == 0;
}

}  // namespace

bool acceptRix(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n >= HEADER_SIZE && memcmp(head, "RIX3", 4) == 0) {
        const uint16_t w = loadU16LE(head + 4), h = loadU16LE(head + 6);
        return w >= 1 && w <= MAX_IMAGE_SIDE && h >= 1 && h <= MAX_IMAGE_SIDE &&
               (head[8] == PAL_256 || head[8] == PAL_16) && !(head[9] & ST_UNKNOWN_BITS);
    }
    // The old pictures have no signature: their reader also wants the name.
    return isEgaHeader(head, n) && ((head[0] & 0x80) || fileSize == EGA_PLAIN_SIZE);
}

Status readRix(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER_SIZE];
    if (!readBlock(stream, h, sizeof h)) return ST_UNKNOWN_FORMAT;
    if (memcmp(h, "RIX3", 4) != 0) {
        if (!hasEgaName(request) || !seekTo(stream, 0)) return ST_UNKNOWN_FORMAT;
        return readEga(stream, request);
    }
    if (!acceptRix(h, sizeof h, request->fileSize)) return ST_UNKNOWN_FORMAT;
    const int32_t width = loadU16LE(h + 4), height = loadU16LE(h + 6);
    const uint8_t storage = h[9];
    const int type = storage & 0x0F;
    if (storage & ST_ENCRYPTED) {
        setReaderMessage(request, MSG_ENCRYPTED);
        return ST_BAD_FILE;
    }
    if (type != TYPE_LINEAR && type != TYPE_PLANAR) {
        setReaderMessage(request, MSG_BAD_TYPE);
        return ST_BAD_FILE;
    }
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (storage & ST_EXTENSION) {
        uint8_t b[2];
        if (!readBlock(stream, b, 2) || !skipBytes(stream, loadU16LE(b))) return ST_READ_ERROR;
    }
    const bool packed = (storage & ST_COMPRESSED) != 0;
    const int entries = h[8] == PAL_256 ? 256 : 16;
    uint8_t table[PALETTE_BYTES] = {};
    if (!readBlock(stream, table, 3 * static_cast<size_t>(entries))) return ST_READ_ERROR;
    // Some files keep full bytes: read them as they are.
    int componentBits = 6;
    for (int i = 0; i < 3 * entries; ++i)
        if (table[i] > 63) componentBits = 8;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = width;
    rh.height = height;
    const int64_t planeBytes = (static_cast<int64_t>(width) + 7) / 8;
    if (type == TYPE_PLANAR) {
        rh.planes = 4;
        rh.bitsPerPlane = 1;
        rh.bytesPerPlane = static_cast<int32_t>(planeBytes);
    } else {
        rh.planes = 1;
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = width;
    }
    const int64_t rowBytes = type == TYPE_PLANAR ? 4 * planeBytes : width;
    setRasterName(rh.name, packed ? NAME_PACKED : NAME_PLAIN);
    rh.compression = packed ? "Huffman" : nullptr;
    RixDecoder decoder;
    if (packed) {
        const Status tree = decoder.readTree(stream);
        if (tree != ST_OK) {
            if (tree == ST_CORRUPT) setReaderMessage(request, MSG_BAD_TREE);
            return tree;
        }
    }
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (packed) {
        DeliveredRows rows(rowBytes, height);
        st = decoder.decode(stream, rowBytes, type == TYPE_LINEAR, false, &rows);
    } else {
        st = readRows(stream, rowBytes, height);
    }
    endImage(0, componentBits, table);
    return st;
}
