// WordPerfect Graphics (.wpg): the bitmap records of version 1 and 2 files,
// one page each; drawing records are passed over.
//
// A 16-byte header: "\xFFWPC", the offset of the first record, product 1,
// file type 0x16, major version 1 or 2, minor version, an encryption key.
// Lengths are variable: a byte below 0xFF, else a 16-bit word, else (top bit
// of the word set) 31 bits in two words.
//
// Version 1 records are a type byte, a length and data: 0x0E a colour map
// (first entry, count, R,G,B), 0x0B and 0x14 bitmaps (width, height, depth,
// resolutions; type 0x14 has a page position first), 0x10 the end. Bitmap
// data are runs: a byte with its top bit set repeats the next byte (or 0xFF
// when its count is 0), a byte without copies that many bytes, and a zero
// byte repeats the previous row the next byte's number of times.
//
// Version 2 records are a class byte, a type byte, an extension length, a
// length and data: 0x0C a palette (first entry, count, R,G,B,A), 0x0E a
// bitmap (width, height, depth code, compression) whose runs count samples of
// a size set in the data.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_ENCRYPTED[] = "WPG : Encrypted file !";
const char MSG_NO_BITMAP[] = "WPG : No bitmap !";
const char MSG_BAD_SIZE[] = "WPG : Bad picture's size !";
const char MSG_BAD_DEPTH[] = "WPG : Unsupported depth !";
const char NAME_V1[] = "WordPerfect Graphics";
const char NAME_V2[] = "WordPerfect Graphics 2";

constexpr size_t HEADER = 16;
constexpr uint32_t MAX_RECORDS = 1u << 20;

struct Cursor {
    const uint8_t* p;
    size_t n, at;
    bool has(size_t k) const { return n - at >= k; }
    int get() { return at < n ? p[at++] : -1; }
};

// A variable-length number from the stream; false at the end.
bool readLength(FILE* f, uint32_t* v) {
    const int b = getc(f);
    if (b == EOF) return false;
    if (b < 0xFF) {
        *v = static_cast<uint32_t>(b);
        return true;
    }
    uint8_t w[2];
    if (!readBlock(f, w, 2)) return false;
    const uint32_t x = loadU16LE(w);
    if (!(x & 0x8000)) {
        *v = x;
        return true;
    }
    if (!readBlock(f, w, 2)) return false;
    *v = ((x & 0x7FFF) << 16) | loadU16LE(w);
    return true;
}

// The default palette: the 16 PC colours, then a grey ramp over the rest.
void defaultPalette(uint8_t* table) {
    memcpy(table, PC_COLOURS_16, sizeof PC_COLOURS_16);
    for (int i = 16; i < 256; ++i) memset(table + 3 * i, (i - 16) * 255 / 239, 3);
}

// Rows being decoded: the current one and the one before, for row repeats.
struct RowMaker {
    uint8_t* row;
    uint8_t* prev;
    int64_t rowBytes, filled;
    int32_t y, height;
    Status st;
    bool put(uint8_t v) {
        row[filled++] = v;
        return filled < rowBytes || flush();
    }
    bool flush() {
        st = deliverRow(row, rowBytes, y++);
        memcpy(prev, row, static_cast<size_t>(rowBytes));
        filled = 0;
        return st == ST_OK;
    }
    bool done() const { return y >= height || st != ST_OK; }
    // The previous row count more times; only between rows.
    bool repeatRow(uint32_t count) {
        if (filled != 0 || y == 0) return false;
        for (uint32_t i = 0; i < count && !done(); ++i) {
            memcpy(row, prev, static_cast<size_t>(rowBytes));
            if (!flush()) return true;
        }
        return true;
    }
};

// Version 1 runs. Returns false on nonsense.
bool unpackV1(Cursor in, RowMaker* m) {
    while (!m->done()) {
        const int b = in.get();
        if (b < 0) return true;
        int n = b & 0x7F;
        if (b & 0x80) {
            int v;
            if (n == 0) {
                n = in.get();
                v = 0xFF;
            } else {
                v = in.get();
            }
            if (n < 0 || v < 0) return true;
            for (int i = 0; i < n && !m->done(); ++i) m->put(static_cast<uint8_t>(v));
        } else if (n > 0) {
            for (int i = 0; i < n && !m->done(); ++i) {
                const int v = in.get();
                if (v < 0) return true;
                m->put(static_cast<uint8_t>(v));
            }
        } else {
            const int c = in.get();
            if (c < 0) return true;
            if (!m->repeatRow(static_cast<uint32_t>(c))) return false;
        }
    }
    return true;
}

// Version 2 runs over samples of size bytes (1 to 8).
bool unpackV2(Cursor in, RowMaker* m) {
    uint8_t sample[8] = {};
    int size = 1;
    while (!m->done()) {
        const int b = in.get();
        if (b < 0) return true;
        if (b == 0x7D) {
            const int s = in.get();
            if (s < 1 || s > 8) return false;
            size = s;
            continue;
        }
        if (b == 0x7E) continue;  // inverted output: not met in practice
        const bool counted = b == 0x7F || b == 0xFF || b == 0xFD || b == 0xFE;
        if (counted) {
            const int c = in.get();
            if (c < 0) return true;
            if (b == 0xFE) {
                if (!m->repeatRow(static_cast<uint32_t>(c) + 1)) return false;
                continue;
            }
            if (b != 0xFD) memset(sample, b == 0x7F ? 0 : 0xFF, sizeof sample);
            for (int i = 0; i <= c && !m->done(); ++i)
                for (int k = 0; k < size && !m->done(); ++k) m->put(sample[k]);
        } else if (b & 0x80) {
            for (int k = 0; k < size; ++k) {
                const int v = in.get();
                if (v < 0) return true;
                sample[k] = static_cast<uint8_t>(v);
            }
            for (int i = 0; i <= (b & 0x7F) && !m->done(); ++i)
                for (int k = 0; k < size && !m->done(); ++k) m->put(sample[k]);
        } else {
            for (int i = 0; i < (b + 1) * size && !m->done(); ++i) {
                const int v = in.get();
                if (v < 0) return true;
                m->put(static_cast<uint8_t>(v));
            }
        }
    }
    return true;
}

struct Bitmap {
    int64_t at;      // file offset of the record's data
    uint32_t length; // its length
    bool v2;
};

Status decodeBitmap(FILE* f, const Bitmap& bm, const uint8_t* table, int64_t fileSize, LoadRequest* request) {
    if (bm.length > fileSize) return ST_READ_ERROR;
    Buffer data = allocBuffer(bm.length);
    if (!data) return ST_NO_MEMORY;
    if (!seekTo(f, static_cast<uint64_t>(bm.at))) return ST_READ_ERROR;
    const size_t got = fread(data.get(), 1, bm.length, f);
    const uint8_t* d = data.get();
    uint32_t width, height, depth, compression = 1;
    int32_t xdpi = 0, ydpi = 0;
    size_t start;
    if (bm.v2) {
        if (got < 6) return ST_READ_ERROR;
        width = loadU16LE(d);
        height = loadU16LE(d + 2);
        static const uint8_t DEPTHS[9] = {0, 1, 2, 4, 8, 0, 0, 0, 24};
        depth = d[4] <= 8 ? DEPTHS[d[4]] : 0;
        compression = d[5];
        start = 6;
    } else {
        if (got < 10) return ST_READ_ERROR;
        width = loadU16LE(d);
        height = loadU16LE(d + 2);
        depth = loadU16LE(d + 4);
        xdpi = loadU16LE(d + 6);
        ydpi = loadU16LE(d + 8);
        start = 10;
    }
    if (width < 1 || height < 1 || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 24) || (depth == 24 && !bm.v2) ||
        compression > 1) {
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(depth);
    rh.bytesPerPlane = static_cast<int32_t>((static_cast<int64_t>(width) * depth + 7) / 8);
    rh.xdpi = xdpi;
    rh.ydpi = ydpi;
    setRasterName(rh.name, bm.v2 ? NAME_V2 : NAME_V1);
    rh.compression = compression ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    Buffer rows = allocBuffer(2 * static_cast<uint64_t>(rh.bytesPerPlane));
    if (!rows) st = ST_NO_MEMORY;
    RowMaker m{rows.get(), rows.get() + rh.bytesPerPlane, rh.bytesPerPlane, 0, 0, rh.height, ST_OK};
    if (st == ST_OK) {
        const Cursor in{d, got, start};
        bool ok;
        if (compression == 0) {
            ok = true;
            Cursor c = in;
            while (!m.done() && c.has(1)) m.put(static_cast<uint8_t>(c.get()));
        } else {
            ok = bm.v2 ? unpackV2(in, &m) : unpackV1(in, &m);
        }
        if (m.st != ST_OK) st = m.st;
        else if (!ok) st = ST_CORRUPT;
        else if (!m.done()) st = ST_READ_ERROR;
        if (st == ST_READ_ERROR && m.filled > 0) {
            memset(m.row + m.filled, 0, static_cast<size_t>(rh.bytesPerPlane - m.filled));
            deliverRow(m.row, rh.bytesPerPlane, m.y);
        }
    }
    // One-bit pictures are black and white, whatever colour map comes before.
    if (depth == 1 || depth == 24) endImage(0, 8, nullptr);
    else endImage(PF_TRIPLETS, 8, table);
    return st;
}

}  // namespace

bool acceptWpg(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER && memcmp(head, "\xFFWPC", 4) == 0 && head[9] == 0x16 && (head[10] == 1 || head[10] == 2);
}

Status readWpg(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER];
    if (!readBlock(stream, h, sizeof h) || !acceptWpg(h, sizeof h, 0)) return ST_UNKNOWN_FORMAT;
    if (loadU16LE(h + 12) != 0) {
        setReaderMessage(request, MSG_ENCRYPTED);
        return ST_BAD_FILE;
    }
    const bool v2 = h[10] == 2;
    const int64_t size = request->fileSize;
    uint8_t table[PALETTE_BYTES];
    defaultPalette(table);
    uint8_t chosenTable[PALETTE_BYTES];
    Bitmap chosen{};
    int32_t count = 0;
    const int32_t wanted = request->pageIndex > 0 ? request->pageIndex : 0;

    // Walk the records: palettes change the table, bitmaps count as pages.
    int64_t at = loadU32LE(h + 4);
    for (uint32_t r = 0; r < MAX_RECORDS && at < size; ++r) {
        if (!seekTo(stream, static_cast<uint64_t>(at))) break;
        int type = getc(stream);
        if (v2 && type != EOF) type = getc(stream);  // the class byte comes first
        uint32_t extension = 0, length;
        if (type == EOF || (v2 && !readLength(stream, &extension)) || !readLength(stream, &length)) break;
        const int64_t data = ftell(stream);
        if (data < 0) break;
        const bool palette = v2 ? type == 0x0C : type == 0x0E;
        const bool bitmap = v2 ? type == 0x0E : type == 0x0B || type == 0x14;
        if (palette && length >= 4) {
            uint8_t p[4];
            if (!readBlock(stream, p, 4)) break;
            const uint32_t first = loadU16LE(p), n = loadU16LE(p + 2), entry = v2 ? 4 : 3;
            for (uint32_t i = 0; i < n && first + i < 256 && 4 + (i + 1) * entry <= length; ++i) {
                uint8_t c[4];
                if (!readBlock(stream, c, entry)) break;
                memcpy(table + 3 * (first + i), c, 3);
            }
        } else if (bitmap) {
            if (count == wanted) {
                // A bitmap of type 0x14 leads with its place on the page.
                const uint32_t lead = !v2 && type == 0x14 ? 10 : 0;
                chosen = {data + lead, length > lead ? length - lead : 0, v2};
                memcpy(chosenTable, table, sizeof table);
            }
            ++count;
        } else if (!v2 && type == 0x10) {
            break;
        }
        at = data + length;
    }
    request->pageCount = count > 0 ? count : 1;
    if (count == 0) {
        setReaderMessage(request, MSG_NO_BITMAP);
        return ST_BAD_FILE;
    }
    if (wanted >= count) return ST_BAD_FILE;
    return decodeBitmap(stream, chosen, chosenTable, size, request);
}
