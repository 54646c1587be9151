// Autodesk Animator animations (.fli, .flc): 256-colour frames coded as
// changes to the frame before; every frame is a page.
//
// A 128-byte little-endian header (file size, magic 0xAF11 for FLI or 0xAF12
// for FLC, frame count, width, height, depth, flags, speed; FLC files also
// give the offset of their first frame) precedes the frame chunks: a size, the
// type 0xF1FA, a count of sub-chunks, then the sub-chunks, each a size (its
// 6-byte header included), a type and data. Palette changes come as packets
// of skipped and changed entries (8-bit components, or 6-bit in old files);
// pictures as a black frame, plain bytes, byte runs over the whole frame, or
// line deltas (by bytes in FLI files, by pixel pairs in FLC files).
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "FLI : Bad picture's size !";
const char MSG_BAD_CHUNK[] = "FLI : Bad frame data !";
const char NAME_FLI[] = "Autodesk FLI";
const char NAME_FLC[] = "Autodesk FLC";

constexpr size_t HEADER = 128;
constexpr uint16_t MAGIC_FLI = 0xAF11;
constexpr uint16_t MAGIC_FLC = 0xAF12;
constexpr uint16_t FRAME = 0xF1FA;
constexpr uint16_t PREFIX = 0xF100;
constexpr uint32_t FRAME_HEADER = 16;
constexpr uint32_t CHUNK_HEADER = 6;

enum : uint16_t {
    DELTA_FLC = 7,
    COLOR_256 = 4,
    COLOR_64 = 11,
    DELTA_FLI = 12,
    BLACK = 13,
    BYTE_RUN = 15,
    FLI_COPY = 16,
};

struct Frame {
    uint8_t* pixels;  // width x height indexes
    int32_t width, height;
    uint8_t* palette;  // 256 R,G,B triplets
};

// A bounded reader over one chunk's data.
struct Span {
    const uint8_t* p;
    size_t n, at;
    bool has(size_t k) const { return n - at >= k; }
    uint8_t u8() { return p[at++]; }
    uint16_t u16() {
        const uint16_t v = loadU16LE(p + at);
        at += 2;
        return v;
    }
};

bool colours(Span s, Frame* f, bool sixBits) {
    if (!s.has(2)) return false;
    const uint32_t packets = s.u16();
    uint32_t index = 0;
    for (uint32_t k = 0; k < packets; ++k) {
        if (!s.has(2)) return false;
        index += s.u8();
        uint32_t count = s.u8();
        if (count == 0) count = 256;
        if (!s.has(3 * static_cast<size_t>(count))) return false;
        for (uint32_t i = 0; i < count; ++i, ++index)
            for (int c = 0; c < 3; ++c) {
                const uint8_t v = s.u8();
                if (index < 256) f->palette[3 * index + c] = sixBits ? static_cast<uint8_t>((v & 63) * 255 / 63) : v;
            }
    }
    return true;
}

bool byteRuns(Span s, Frame* f) {
    for (int32_t y = 0; y < f->height; ++y) {
        uint8_t* row = f->pixels + static_cast<size_t>(y) * f->width;
        if (!s.has(1)) return false;
        s.u8();  // the old packet count
        int32_t x = 0;
        while (x < f->width) {
            if (!s.has(2)) return false;
            const int n = static_cast<int8_t>(s.u8());
            if (n > 0) {
                const uint8_t v = s.u8();
                for (int i = 0; i < n && x < f->width; ++i) row[x++] = v;
            } else {
                const size_t count = static_cast<size_t>(-n);
                if (!s.has(count) || count > static_cast<size_t>(f->width - x)) return false;
                memcpy(row + x, s.p + s.at, count);
                s.at += count;
                x += static_cast<int32_t>(count);
            }
        }
    }
    return true;
}

bool deltaFli(Span s, Frame* f) {
    if (!s.has(4)) return false;
    int64_t y = s.u16();
    const uint32_t lines = s.u16();
    for (uint32_t l = 0; l < lines; ++l, ++y) {
        if (y >= f->height || !s.has(1)) return false;
        uint8_t* row = f->pixels + static_cast<size_t>(y) * f->width;
        const uint32_t packets = s.u8();
        int64_t x = 0;
        for (uint32_t k = 0; k < packets; ++k) {
            if (!s.has(2)) return false;
            x += s.u8();
            const int n = static_cast<int8_t>(s.u8());
            const int64_t count = n > 0 ? n : -n;
            if (x + count > f->width) return false;
            if (n > 0) {
                if (!s.has(static_cast<size_t>(count))) return false;
                memcpy(row + x, s.p + s.at, static_cast<size_t>(count));
                s.at += static_cast<size_t>(count);
            } else {
                if (!s.has(1)) return false;
                memset(row + x, s.u8(), static_cast<size_t>(count));
            }
            x += count;
        }
    }
    return true;
}

bool deltaFlc(Span s, Frame* f) {
    if (!s.has(2)) return false;
    const uint32_t lines = s.u16();
    int64_t y = 0;
    for (uint32_t l = 0; l < lines; ++l, ++y) {
        uint32_t packets = 0;
        for (;;) {  // line skips and a last odd pixel come before the packet count
            if (!s.has(2)) return false;
            const uint16_t w = s.u16();
            if ((w & 0xC000) == 0xC000) {
                y += 0x10000 - w;
            } else if ((w & 0xC000) == 0x8000) {
                if (y >= f->height) return false;
                f->pixels[static_cast<size_t>(y) * f->width + f->width - 1] = static_cast<uint8_t>(w);
            } else {
                packets = w;
                break;
            }
        }
        if (y >= f->height) return false;
        uint8_t* row = f->pixels + static_cast<size_t>(y) * f->width;
        int64_t x = 0;
        for (uint32_t k = 0; k < packets; ++k) {
            if (!s.has(2)) return false;
            x += s.u8();
            const int n = static_cast<int8_t>(s.u8());
            const int64_t bytes = 2 * static_cast<int64_t>(n > 0 ? n : -n);
            if (x + bytes > f->width) return false;
            if (n > 0) {
                if (!s.has(static_cast<size_t>(bytes))) return false;
                memcpy(row + x, s.p + s.at, static_cast<size_t>(bytes));
                s.at += static_cast<size_t>(bytes);
            } else {
                if (!s.has(2)) return false;
                const uint8_t a = s.u8(), b = s.u8();
                for (int64_t i = 0; i < bytes; i += 2) row[x + i] = a, row[x + i + 1] = b;
            }
            x += bytes;
        }
    }
    return true;
}

// Applies the sub-chunks of one frame (its data after the 16-byte header).
bool applyFrame(const uint8_t* data, size_t n, uint32_t chunks, Frame* f) {
    size_t at = 0;
    for (uint32_t c = 0; c < chunks && n - at >= CHUNK_HEADER; ++c) {
        const uint32_t size = loadU32LE(data + at);
        const uint16_t type = loadU16LE(data + at + 4);
        if (size < CHUNK_HEADER || size > n - at) return false;
        const Span s{data + at + CHUNK_HEADER, size - CHUNK_HEADER, 0};
        const size_t frameBytes = static_cast<size_t>(f->width) * f->height;
        bool ok = true;
        switch (type) {
        case COLOR_256: ok = colours(s, f, false); break;
        case COLOR_64: ok = colours(s, f, true); break;
        case BLACK: memset(f->pixels, 0, frameBytes); break;
        case FLI_COPY:
            ok = s.n >= frameBytes;
            if (ok) memcpy(f->pixels, s.p, frameBytes);
            break;
        case BYTE_RUN: ok = byteRuns(s, f); break;
        case DELTA_FLI: ok = deltaFli(s, f); break;
        case DELTA_FLC: ok = deltaFlc(s, f); break;
        default: break;  // stamps and the like
        }
        if (!ok) return false;
        at += size;
    }
    return true;
}

// The offset of the first frame, past an optional prefix chunk.
int64_t firstFrame(const uint8_t* h) {
    const uint32_t oframe1 = loadU16LE(h + 4) == MAGIC_FLC ? loadU32LE(h + 80) : 0;
    return oframe1 >= HEADER ? oframe1 : static_cast<int64_t>(HEADER);
}

}  // namespace

bool acceptFli(const uint8_t* head, size_t n, int64_t) {
    if (n < HEADER + 6) return false;
    const uint16_t magic = loadU16LE(head + 4), depth = loadU16LE(head + 12), flags = loadU16LE(head + 14);
    if (magic != MAGIC_FLI && magic != MAGIC_FLC) return false;
    if (loadU16LE(head + 6) < 1 || loadU16LE(head + 8) < 1 || loadU16LE(head + 10) < 1) return false;
    if ((depth != 8 && depth != 0) || (flags != 0 && flags != 3) || head[20] != 0 || head[21] != 0) return false;
    // The first chunk: a frame, or a prefix ahead of FLC's first frame.
    const uint16_t type = loadU16LE(head + HEADER + 4);
    return type == FRAME || type == PREFIX;
}

Status readFli(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER];
    if (!readBlock(stream, h, sizeof h)) return ST_UNKNOWN_FORMAT;
    const bool flc = loadU16LE(h + 4) == MAGIC_FLC;
    const int32_t frames = loadU16LE(h + 6);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16LE(h + 8);
    rh.height = loadU16LE(h + 10);
    if (rh.width > MAX_IMAGE_SIDE || rh.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    rh.planes = 1;
    rh.layout = PL_BYTE_PIXELS;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, flc ? NAME_FLC : NAME_FLI);
    rh.compression = "RLE";
    request->pageCount = frames;
    const int32_t page = request->pageIndex < 0 ? 0 : request->pageIndex >= frames ? frames - 1 : request->pageIndex;

    Status st = checkPictureBudget(rh.width, rh.height, 1);
    if (st != ST_OK) return st;
    Buffer pixels = allocBuffer(static_cast<uint64_t>(rh.width) * rh.height);
    uint8_t palette[PALETTE_BYTES] = {};
    if (!pixels) return ST_NO_MEMORY;
    Frame f{pixels.get(), rh.width, rh.height, palette};

    // Every frame up to the one asked for.
    int64_t at = firstFrame(h);
    Buffer data;
    uint64_t dataRoom = 0;
    Status decoded = ST_OK;
    for (int32_t k = 0; k <= page && decoded == ST_OK;) {
        uint8_t c[FRAME_HEADER];
        if (!seekTo(stream, static_cast<uint64_t>(at)) || !readBlock(stream, c, CHUNK_HEADER)) {
            decoded = ST_READ_ERROR;
            break;
        }
        const uint32_t size = loadU32LE(c);
        const uint16_t type = loadU16LE(c + 4);
        if (size < CHUNK_HEADER) {
            decoded = ST_CORRUPT;
            break;
        }
        if (type == FRAME) {
            if (size < FRAME_HEADER || !readBlock(stream, c + CHUNK_HEADER, FRAME_HEADER - CHUNK_HEADER)) {
                decoded = size < FRAME_HEADER ? ST_CORRUPT : ST_READ_ERROR;
                break;
            }
            // A frame cut by the end of the file gives what it holds.
            const int64_t left = request->fileSize - at - static_cast<int64_t>(FRAME_HEADER);
            const uint64_t body = size - FRAME_HEADER;
            const uint64_t room = request->fileSize > 0 ? (left <= 0 ? 0 : static_cast<uint64_t>(left)) : 1u << 28;
            const uint64_t held = body < room ? body : room;
            if (held > dataRoom) {
                data = allocBuffer(held);
                dataRoom = data ? held : 0;
                if (!data) return ST_NO_MEMORY;
            }
            const size_t got = fread(data.get(), 1, static_cast<size_t>(held), stream);
            if (!applyFrame(data.get(), got, loadU16LE(c + 6), &f)) decoded = got < body ? ST_READ_ERROR : ST_CORRUPT;
            ++k;
        }
        at += size;  // prefix and unknown chunks are passed over
    }
    if (decoded == ST_CORRUPT) setReaderMessage(request, MSG_BAD_CHUNK);

    st = beginImage(&rh);
    if (st != ST_OK) return st;
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y)
        st = deliverRow(pixels.get() + static_cast<size_t>(y) * rh.width, rh.width, y);
    endImage(PF_TRIPLETS, 8, palette);
    return st != ST_OK ? st : decoded;
}
