// CompuServe GIF, versions 87a and 89a.
//
// Reader: every image of the file is counted, one of them (the page asked for)
// is decoded into a palette image; local and global colour tables, interlaced
// images. Extensions (graphic control, comments, application data, plain text)
// are skipped: no transparency, no animation timing. Writer: one image of at
// most 256 colours (palette, grey, black and white), interlaced on request.
//
// All numbers are little-endian. The file is a 13-byte header (signature and
// version "GIF87a"/"GIF89a", logical screen size, packed flags, background,
// aspect), an optional global colour table, then blocks: 0x2C image
// descriptor, 0x21 extension, 0x3B trailer. An image descriptor holds left,
// top, width, height and packed flags (bit 7 local table, bit 6 interlaced,
// bits 0-2 table size s: 2^(s+1) entries of R, G, B); the LZW data follow.
#include <cstdio>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "lzw.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "GIF : Bad picture's size !";
const char MSG_BAD_CODE_SIZE[] = "GIF : Bad code's size !";
const char NAME_WRITE[] = "Gif";
const char NAME_WRITE_INTERLACED[] = "Gif interlaced";

constexpr int HEADER_SIZE = 13;
constexpr int DESCRIPTOR_SIZE = 9;
constexpr int BLOCK_IMAGE = 0x2C;
constexpr int BLOCK_EXTENSION = 0x21;
constexpr int BLOCK_TRAILER = 0x3B;
constexpr uint8_t TABLE_PRESENT = 0x80;
constexpr uint8_t INTERLACED = 0x40;
constexpr int GIF_MIN_CODE_SIZE = 2;
constexpr int GIF_MAX_CODE_SIZE = 9;

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Reads a colour table of 2^bits entries into a zeroed 768-byte table.
bool gifReadTable(FILE* f, int bits, uint8_t* table) {
    memset(table, 0, PALETTE_BYTES);
    return readBlock(f, table, static_cast<size_t>(3) << bits);
}

// A file without any colour table shows its indices as grey levels.
void gifGreyTable(int bits, uint8_t* table) {
    memset(table, 0, PALETTE_BYTES);
    const int n = 1 << bits;
    for (int i = 0; i < n; ++i) {
        uint8_t v = static_cast<uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
        table[3 * i] = table[3 * i + 1] = table[3 * i + 2] = v;
    }
}

Status gifDeliver(void*, const uint8_t*, int32_t target) { return putRows(-1, target, 1); }

// The image of the page asked for: header, decode, palette.
Status gifReadImage(ByteCursor* in, const uint8_t* signature, const uint8_t* descriptor, int bits, int minCodeSize,
                    const uint8_t* table, bool* inputEnded) {
    const bool interlaced = (descriptor[8] & INTERLACED) != 0;
    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.orientation = 0;
    rh.channels = 1;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    rh.width = loadU16LE(descriptor + 4);
    rh.height = loadU16LE(descriptor + 6);
    rh.bytesPerPlane = rh.width;
    char name[RASTER_NAME_LEN];
    snprintf(name, sizeof name, interlaced ? "Compuserve GIF (Version %c%c%c %c%c%c - Interlaced)"
                                           : "Compuserve GIF (Version %c%c%c %c%c%c)",
             signature[0], signature[1], signature[2], signature[3], signature[4], signature[5]);
    setRasterName(rh.name, name);
    rh.compression = "LZW";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    LzwImage image{minCodeSize, rh.width, rh.height, interlaced};
    LzwOutcome outcome;
    st = lzwDecode(in, image, rh.rowBuffer, gifDeliver, nullptr, &outcome);
    endImage(PF_TRIPLETS, 8, table);
    *inputEnded = outcome.end == LzwEnd::EndOfInput;
    return st != ST_OK ? st : lzwOutcomeStatus(outcome);
}

// Pixel rows in the order the file stores them: straight down, or the four
// interlace passes (every 8th row from 0, every 8th from 4, every 4th from 2,
// every 2nd from 1).
class GifRowOrder {
public:
    GifRowOrder(int32_t height, bool interlaced) : height_(height), interlaced_(interlaced) {}

    // The next row, or -1 when every row has been taken.
    int32_t next() {
        if (taken_ >= height_) return -1;
        ++taken_;
        if (!interlaced_) return row_++;
        static const int32_t START[4] = {0, 4, 2, 1};
        static const int32_t STEP[4] = {8, 8, 4, 2};
        while (row_ >= height_ && pass_ < 3) row_ = START[++pass_];
        int32_t r = row_;
        row_ += STEP[pass_];
        return r;
    }

private:
    int32_t height_;
    bool interlaced_;
    int32_t taken_ = 0;
    int32_t row_ = 0;
    int pass_ = 0;
};

}  // namespace

// "GIF" and a two-digit version ("87a", "89a").
bool acceptGif(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER_SIZE && memcmp(head, "GIF", 3) == 0 && isDigit(head[3]) && isDigit(head[4]);
}

Status readGif(FILE* stream, LoadRequest* request) {
    uint8_t header[HEADER_SIZE];
    if (!readBlock(stream, header, sizeof header)) return ST_UNKNOWN_FORMAT;
    if (memcmp(header, "GIF", 3) != 0 || !isDigit(header[3]) || !isDigit(header[4])) return ST_UNKNOWN_FORMAT;

    const int globalBits = (header[10] & 7) + 1;
    const bool hasGlobal = (header[10] & TABLE_PRESENT) != 0;
    uint8_t global[PALETTE_BYTES];
    if (hasGlobal) {
        if (!gifReadTable(stream, globalBits, global)) return ST_READ_ERROR;
    } else {
        gifGreyTable(globalBits, global);
    }

    FileCursor in(stream);
    request->pageCount = 0;
    bool found = false;
    Status wanted = ST_OK;    // how the page asked for was read
    Status stopped = ST_OK;   // why the walk through the blocks ended early
    for (;;) {
        const int block = in.next();
        if (block < 0 || block == BLOCK_TRAILER) break;
        if (block == BLOCK_EXTENSION) {
            // A label, then sub-blocks, whatever the label.
            if (in.next() < 0 || !lzwSkipSubBlocks(&in)) break;
            continue;
        }
        if (block != BLOCK_IMAGE) continue;  // stray bytes between blocks are passed over

        uint8_t descriptor[DESCRIPTOR_SIZE];
        if (!readBlock(stream, descriptor, sizeof descriptor)) {
            stopped = ST_READ_ERROR;
            break;
        }
        // Each image takes its local table, or the global one again.
        int bits = globalBits;
        const uint8_t* table = global;
        uint8_t local[PALETTE_BYTES];
        if (descriptor[8] & TABLE_PRESENT) {
            bits = (descriptor[8] & 7) + 1;
            if (!gifReadTable(stream, bits, local)) {
                stopped = ST_READ_ERROR;
                break;
            }
            table = local;
        }
        const int32_t width = loadU16LE(descriptor + 4);
        const int32_t height = loadU16LE(descriptor + 6);
        if (width < 1 || height < 1 || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
            if (!found) setReaderMessage(request, MSG_BAD_SIZE);
            stopped = ST_BAD_FILE;
            break;
        }
        const int minCodeSize = in.next();
        if (minCodeSize < 0) {
            stopped = ST_READ_ERROR;
            break;
        }
        if (minCodeSize < GIF_MIN_CODE_SIZE || minCodeSize > GIF_MAX_CODE_SIZE) {
            if (!found) setReaderMessage(request, MSG_BAD_CODE_SIZE);
            stopped = ST_BAD_FILE;
            break;
        }

        const int32_t index = request->pageCount++;
        if (found || index != request->pageIndex) {
            // Another page: only counted.
            if (!lzwSkipSubBlocks(&in)) break;
            continue;
        }
        found = true;
        bool inputEnded = false;
        wanted = gifReadImage(&in, header, descriptor, bits, minCodeSize, table, &inputEnded);
        if (wanted == ST_INFO_ONLY) {
            // Examination: nothing decoded, but the pages are still counted.
            if (!lzwSkipSubBlocks(&in)) break;
            continue;
        }
        if (wanted != ST_OK && wanted != ST_READ_ERROR && wanted != ST_CORRUPT) return wanted;
        if (inputEnded) break;
    }
    if (found) return wanted;
    // No image at all, or fewer images than the page asked for.
    return stopped != ST_OK ? stopped : ST_READ_ERROR;
}

Status writeGif(FILE* stream, SaveRequest* request) {
    if (request->kind != IMG_BINARY && request->kind != IMG_GREY && request->kind != IMG_PALETTE)
        return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1 || request->width > 0xFFFF || request->height > 0xFFFF)
        return ST_KIND_REFUSED;
    int bits = 1;
    if (request->kind != IMG_BINARY)
        while (bits < 8 && (1 << bits) < request->colours) ++bits;
    const bool interlaced = request->writerOption3 != 0;

    WriteHeader wh{};
    wh.layout = PL_BYTE_PIXELS;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = request->width;
    wh.paletteFormat = PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, interlaced ? NAME_WRITE_INTERLACED : NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    // Header: signature, screen size, global table of 2^bits entries, background 0, no aspect ratio.
    uint8_t header[HEADER_SIZE] = {'G', 'I', 'F', '8', '9', 'a'};
    header[6] = static_cast<uint8_t>(request->width);
    header[7] = static_cast<uint8_t>(request->width >> 8);
    header[8] = static_cast<uint8_t>(request->height);
    header[9] = static_cast<uint8_t>(request->height >> 8);
    header[10] = static_cast<uint8_t>(TABLE_PRESENT | (bits - 1));
    header[11] = 0;
    header[12] = 0;
    uint8_t table[PALETTE_BYTES] = {};
    if (wh.palette) memcpy(table, wh.palette, static_cast<size_t>(3) << bits);
    uint8_t descriptor[1 + DESCRIPTOR_SIZE] = {BLOCK_IMAGE, 0, 0, 0, 0};
    memcpy(descriptor + 5, header + 6, 4);
    descriptor[9] = static_cast<uint8_t>((interlaced ? INTERLACED : 0) | (bits - 1));
    if (!writeBlock(stream, header, sizeof header) || !writeBlock(stream, table, static_cast<size_t>(3) << bits) ||
        !writeBlock(stream, descriptor, sizeof descriptor))
        st = ST_WRITE_ERROR;

    FileSink sink(stream);
    LzwEncoder encoder(&sink);
    if (st == ST_OK) st = encoder.begin();
    GifRowOrder order(request->height, interlaced);
    for (int32_t row = order.next(); st == ST_OK && row >= 0; row = order.next()) {
        st = getRows(row, 1);
        if (st == ST_OK) st = encoder.add(wh.rowBuffer, static_cast<size_t>(request->width));
    }
    if (st == ST_OK) st = encoder.finish();
    if (st == ST_OK && putc(BLOCK_TRAILER, stream) == EOF) st = ST_WRITE_ERROR;
    endWrite();
    return st;
}
