// Electric Image pictures and animations (reader only).
//
// Big-endian throughout. A 6-byte header, version 5 and the number of
// frames, then the frames one after another. A frame starts with a 32-byte
// record: the frame time (float), the frame rectangle (top, left, bottom,
// right), bits per pixel without alpha, the pixel type (0 direct, 1
// indexed), the packing rectangle, the packing (0 none, 1 run-length), alpha
// bits, the size of the frame body, the number of colour-table entries and
// the background index. The colour table (R,G,B triplets) and the body
// follow. Pixels of d = colour + alpha bits come in units: 1 bit (a byte of
// 8 pixels, the leftmost high, 1 black), 8 (an index), 16 (x-R5-G5-B5), 24
// (R,G,B) or 32 (A,R,G,B). Run-length bodies are one stream for the whole
// frame: a byte c <= 127 repeats the next unit c + 1 times, c >= 128 copies
// the next c - 127 units; runs go on across rows. Each frame is a page.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_EI[] = "Electric Image";
constexpr int64_t EI_HEADER = 6;
constexpr int64_t FRAME_RECORD = 32;
constexpr uint32_t MAX_FRAMES = 100000;

struct EiFrame {
    int32_t width, height;
    int depth;  // colour + alpha bits
    bool runLength;
    int64_t colours;
    int64_t bodySize;
    int64_t bodyOffset;  // in the file
};

// Checks one frame record at file offset at; false when it is not a frame
// the file holds.
bool eiFrame(const uint8_t* r, int64_t at, int64_t fileSize, EiFrame* f) {
    const int32_t top = static_cast<int16_t>(loadU16BE(r + 4)), left = static_cast<int16_t>(loadU16BE(r + 6));
    const int32_t bottom = static_cast<int16_t>(loadU16BE(r + 8)), right = static_cast<int16_t>(loadU16BE(r + 10));
    f->width = right - left;
    f->height = bottom - top;
    f->depth = r[12] + r[23];
    const uint8_t type = r[13], packing = r[22];
    f->bodySize = loadU32BE(r + 24);
    f->colours = loadU16BE(r + 28);
    f->runLength = packing == 1;
    f->bodyOffset = at + FRAME_RECORD + 3 * f->colours;
    if (f->depth != 1 && f->depth != 8 && f->depth != 16 && f->depth != 24 && f->depth != 32) return false;
    if (type > 1 || packing > 1 || f->colours > 256) return false;
    if (f->width < 1 || f->width > MAX_IMAGE_SIDE || f->height < 1 || f->height > MAX_IMAGE_SIDE) return false;
    return f->bodyOffset + f->bodySize <= fileSize;
}

int unitBytes(int depth) { return depth == 1 ? 1 : depth / 8; }

// Places one unit, 16-bit words turned little-endian for the pipeline.
Status putUnit(RowFeed* feed, const uint8_t* u, int bytes) {
    if (bytes == 2) {
        const uint8_t w[2] = {u[1], u[0]};
        return feed->put(w, 2);
    }
    return feed->put(u, bytes);
}

// The frame's body, coded or plain, read no further than its size.
Status eiBody(FILE* f, const EiFrame& fr, int64_t rowBytes) {
    RowFeed feed;
    Status st = feed.begin(rowBytes, fr.height);
    if (st != ST_OK) return st;
    ChunkReader in(f);
    const int u = unitBytes(fr.depth);
    int64_t left = fr.bodySize;
    uint8_t unit[4];
    auto readUnit = [&]() {
        if (left < u || !in.read(unit, static_cast<size_t>(u))) return false;
        left -= u;
        return true;
    };
    while (st == ST_OK && !feed.done()) {
        if (!fr.runLength) {
            if (!readUnit()) return feed.cut();
            st = putUnit(&feed, unit, u);
            continue;
        }
        if (left < 1) return feed.cut();
        const int c = in.get();
        --left;
        if (c < 0) return feed.cut();
        if (c <= 127) {
            if (!readUnit()) return feed.cut();
            if (u == 1) {
                st = feed.repeat(unit[0], c + 1);
            } else {
                for (int k = 0; k <= c && st == ST_OK && !feed.done(); ++k) st = putUnit(&feed, unit, u);
            }
        } else {
            for (int k = 0; k < c - 127 && st == ST_OK && !feed.done(); ++k) {
                if (!readUnit()) return feed.cut();
                st = putUnit(&feed, unit, u);
            }
        }
    }
    return st;
}

}  // namespace

bool acceptElectricImage(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < static_cast<size_t>(EI_HEADER + FRAME_RECORD) || loadU16BE(head) != 5) return false;
    const uint32_t frames = loadU32BE(head + 2);
    EiFrame f;
    return frames >= 1 && frames <= MAX_FRAMES && eiFrame(head + EI_HEADER, EI_HEADER, fileSize, &f);
}

Status readElectricImage(FILE* stream, LoadRequest* request) {
    uint8_t head[EI_HEADER];
    if (!readBlock(stream, head, sizeof head) || loadU16BE(head) != 5) return ST_UNKNOWN_FORMAT;
    const uint32_t frames = loadU32BE(head + 2);
    if (frames < 1 || frames > MAX_FRAMES) return ST_UNKNOWN_FORMAT;

    // Walk the frames the file holds, keeping the one asked for.
    EiFrame chosen{}, f{};
    int64_t at = EI_HEADER, chosenAt = 0;
    int32_t pages = 0;
    while (pages < static_cast<int32_t>(frames)) {
        uint8_t r[FRAME_RECORD];
        if (!seekTo(stream, static_cast<uint64_t>(at)) || !readBlock(stream, r, sizeof r) ||
            !eiFrame(r, at, request->fileSize, &f))
            break;
        if (pages == 0 || pages == request->pageIndex) {
            chosen = f;
            chosenAt = at;
        }
        ++pages;
        at = f.bodyOffset + f.bodySize;
    }
    if (pages == 0) return ST_UNKNOWN_FORMAT;
    request->pageCount = pages;

    uint8_t palette[768] = {};
    if (!seekTo(stream, static_cast<uint64_t>(chosenAt + FRAME_RECORD)) ||
        !readBlock(stream, palette, static_cast<size_t>(3 * chosen.colours)))
        return ST_READ_ERROR;
    RasterHeader rh{};
    rh.layout = chosen.depth == 32 ? PL_ALPHA_FIRST : chosen.depth == 8 ? PL_BYTE_PIXELS : 0;
    rh.channels = 1;
    rh.width = chosen.width;
    rh.height = chosen.height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(chosen.depth == 16 ? 15 : chosen.depth);
    rh.bytesPerPlane =
        chosen.depth == 1 ? (chosen.width + 7) / 8 : chosen.width * unitBytes(chosen.depth);
    rh.xdpi = rh.ydpi = 72;
    setRasterName(rh.name, NAME_EI);
    rh.compression = chosen.runLength ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = eiBody(stream, chosen, rh.bytesPerPlane);
    if (chosen.depth == 1) endImage(PF_INVERT, 0, nullptr);
    else if (chosen.depth == 8 && chosen.colours > 0) endImage(PF_TRIPLETS, 8, palette);
    else endImage(0, 8, nullptr);
    return st;
}
