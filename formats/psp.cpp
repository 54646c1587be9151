// Paint Shop Pro images of file format version 3.0: the first layer.
//
// All numbers are little-endian. After a 32-byte signature and the version
// (major and minor, 16 bits each) come blocks: the marker "~BK\0", a 16-bit
// identifier, the initial data length and the total block length (32 bits each),
// then the data. The reader takes the general image attributes (block 0), the
// colour palette (block 2) and, inside the first layer start block (3), the
// layer (4) and its channels (5); other blocks are skipped by their length.
//
// Each channel holds one plane of the layer: the composite of a 1-, 4- or
// 8-bit image (rows padded to 4 bytes below 8 bits), the red, green or blue
// plane of a 24-bit image, or an alpha mask. Channel data are stored raw or
// run-length packed: a count n up to 128 is followed by n literal bytes, a
// larger one by a byte repeated n - 128 times; runs go on across rows.
#include <climits>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "lzw.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_VERSION[] = "PSP : Bad Version !";
const char MSG_BAD_IDENTIFIER[] = "PSP : Bad Identifier !";
const char MSG_UNKNOWN_COMPRESSION[] = "PSP : Unknown Compression !";
const char MSG_BAD_SIZE[] = "PSP : Bad picture's size !";
const char MSG_BAD_DEPTH[] = "PSP : Bad bit depth !";
const char MSG_BAD_BLOCK[] = "PSP : Bad block length !";

const char NAME[] = "Paint Shop Pro";
const char SIGNATURE[] = "Paint Shop Pro Image File\n";
constexpr size_t SIGNATURE_LEN = 26;
constexpr size_t FILE_HEADER_SIZE = 32;
const uint8_t BLOCK_MARKER[4] = {0x7E, 0x42, 0x4B, 0x00};
constexpr size_t BLOCK_HEADER_SIZE = 14;

constexpr uint16_t BLOCK_ATTRIBUTES = 0;
constexpr uint16_t BLOCK_PALETTE = 2;
constexpr uint16_t BLOCK_LAYER_START = 3;
constexpr uint16_t BLOCK_LAYER = 4;
constexpr uint16_t BLOCK_CHANNEL = 5;

// Record sizes: the general image attributes, the layer, the channel.
constexpr uint32_t ATTRIBUTES_SIZE = 38;
constexpr uint32_t LAYER_SIZE = 256 + 1 + 32 + 5 + 32 + 3 + 2 + 40 + 2 + 2;
constexpr uint32_t CHANNEL_SIZE = 12;

constexpr uint16_t BITMAP_IMAGE = 0;
constexpr uint16_t BITMAP_ALPHA_MASK = 4;
constexpr uint16_t CHANNEL_GREEN = 2;
constexpr uint16_t CHANNEL_COMPOSITE = 0;
constexpr uint16_t CHANNEL_RED = 1;

constexpr int RLE_LITERAL_MAX = 128;

struct PspBlock {
    uint16_t id;
    uint32_t initialLength;
    uint32_t totalLength;
    uint64_t dataStart;  // file offset of the block data
};

struct PspImage {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t compression = 0;
    uint16_t bitDepth = 0;
    bool havePalette = false;
    uint8_t palette[PALETTE_BYTES] = {};  // B,G,R triplets
    uint16_t channelCount = 0;            // of the first layer
};

// Reads a block header at the current position; false when it cannot be read
// or lacks the marker.
bool pspReadBlockHeader(FILE* f, uint64_t at, PspBlock* b) {
    uint8_t h[BLOCK_HEADER_SIZE];
    if (!readBlock(f, h, sizeof h) || memcmp(h, BLOCK_MARKER, sizeof BLOCK_MARKER) != 0) return false;
    b->id = loadU16LE(h + 4);
    b->initialLength = loadU32LE(h + 6);
    b->totalLength = loadU32LE(h + 10);
    b->dataStart = at + BLOCK_HEADER_SIZE;
    return true;
}

// The block's data must hold its record; the next block starts after the data.
Status pspCheckRecord(const PspBlock& b, uint32_t recordSize, LoadRequest* request) {
    if (b.totalLength < recordSize) {
        setReaderMessage(request, MSG_BAD_BLOCK);
        return ST_BAD_FILE;
    }
    return ST_OK;
}

Status pspReadAttributes(FILE* f, const PspBlock& b, PspImage* img, LoadRequest* request) {
    Status st = pspCheckRecord(b, ATTRIBUTES_SIZE, request);
    if (st != ST_OK) return st;
    uint8_t a[ATTRIBUTES_SIZE];
    if (!readBlock(f, a, sizeof a)) return ST_READ_ERROR;
    uint32_t width = loadU32LE(a);
    uint32_t height = loadU32LE(a + 4);
    // The resolution (8 bytes) and its metric (1 byte) are not used.
    img->width = width > MAX_IMAGE_SIDE ? MAX_IMAGE_SIDE + 1 : static_cast<int32_t>(width);
    img->height = height > MAX_IMAGE_SIDE ? MAX_IMAGE_SIDE + 1 : static_cast<int32_t>(height);
    img->compression = loadU16LE(a + 17);
    img->bitDepth = loadU16LE(a + 19);
    return ST_OK;
}

Status pspReadPalette(FILE* f, const PspBlock& b, PspImage* img, LoadRequest* request) {
    Status st = pspCheckRecord(b, 4, request);
    if (st != ST_OK) return st;
    uint8_t n[4];
    if (!readBlock(f, n, sizeof n)) return ST_READ_ERROR;
    uint64_t entries = loadU32LE(n);
    if (entries > (b.totalLength - 4) / 4) {
        setReaderMessage(request, MSG_BAD_BLOCK);
        return ST_BAD_FILE;
    }
    if (entries > 256) entries = 256;  // a depth of 8 bits or fewer uses no more
    uint8_t raw[256 * 4];
    if (!readBlock(f, raw, static_cast<size_t>(entries) * 4)) return ST_READ_ERROR;
    memset(img->palette, 0, sizeof img->palette);
    for (uint64_t i = 0; i < entries; ++i) memcpy(img->palette + 3 * i, raw + 4 * i, 3);
    img->havePalette = true;
    return ST_OK;
}

// Uncompressed rows of the channel; the data ending inside a row keeps that row.
Status pspReadRawChannel(StreamCursor* in, RowFeed* feed) {
    while (!feed->done()) {
        int64_t room = 0;
        uint8_t* at = feed->space(&room);
        const size_t got = in->read(at, static_cast<size_t>(room));
        Status st = feed->advance(static_cast<int64_t>(got));
        if (st != ST_OK) return st;
        if (got < static_cast<size_t>(room)) return feed->cut(in->shortStatus());
    }
    return ST_OK;
}

Status pspReadRleChannel(StreamCursor* in, RowFeed* feed) {
    while (!feed->done()) {
        const int n = in->next();
        if (n < 0) break;
        Status st = ST_OK;
        if (n <= RLE_LITERAL_MAX) {
            for (int i = 0; st == ST_OK && i < n && !feed->done(); ++i) {
                const int v = in->next();
                if (v < 0) break;
                st = feed->put(static_cast<uint8_t>(v));
            }
        } else {
            const int v = in->next();
            if (v < 0) break;
            st = feed->repeat(static_cast<uint8_t>(v), n - RLE_LITERAL_MAX);
        }
        if (st != ST_OK) return st;
    }
    // The data ended inside the channel: the row begun is kept.
    return feed->done() ? ST_OK : feed->cut(in->shortStatus());
}

// Reads the channel blocks of the layer. Returns the status of the load.
Status pspReadChannels(FILE* f, uint64_t at, const PspImage& img, RasterHeader* rh, LoadRequest* request) {
    const int planes = rh->planes;
    for (int c = 0; c < img.channelCount; ++c) {
        PspBlock b;
        if (!seekTo(f, at) || !pspReadBlockHeader(f, at, &b)) return ST_READ_ERROR;
        if (b.id != BLOCK_CHANNEL) {
            setReaderMessage(request, MSG_BAD_IDENTIFIER);
            return ST_BAD_FILE;
        }
        uint8_t rec[CHANNEL_SIZE];
        if (!readBlock(f, rec, sizeof rec)) return ST_READ_ERROR;
        const uint32_t compressedLength = loadU32LE(rec);
        const uint16_t bitmapType = loadU16LE(rec + 8);
        const uint16_t channelType = loadU16LE(rec + 10);
        const uint64_t dataStart = b.dataStart + CHANNEL_SIZE;
        at = dataStart + compressedLength;

        int plane;
        if (bitmapType == BITMAP_ALPHA_MASK) {
            if (planes < 4) continue;  // no plane to hold it
            plane = 3;
        } else if (bitmapType == BITMAP_IMAGE) {
            plane = channelType == CHANNEL_COMPOSITE || channelType == CHANNEL_RED ? 0
                    : channelType == CHANNEL_GREEN                                ? 1
                                                                                  : 2;
            if (plane >= planes) plane = 0;
        } else {
            continue;
        }
        StreamCursor in(f, compressedLength);
        RowFeed feed;
        Status st = feed.begin(rh->bytesPerPlane, rh->height, plane);
        if (st == ST_OK) st = img.compression ? pspReadRleChannel(&in, &feed) : pspReadRawChannel(&in, &feed);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

}  // namespace

bool acceptPsp(const uint8_t* head, size_t n, int64_t) {
    return n >= SIGNATURE_LEN && memcmp(head, SIGNATURE, SIGNATURE_LEN) == 0;
}

Status readPsp(FILE* stream, LoadRequest* request) {
    uint8_t head[FILE_HEADER_SIZE + 4];
    if (!readBlock(stream, head, FILE_HEADER_SIZE) || memcmp(head, SIGNATURE, SIGNATURE_LEN) != 0)
        return ST_UNKNOWN_FORMAT;
    if (!readBlock(stream, head + FILE_HEADER_SIZE, 4)) return ST_READ_ERROR;
    if (loadU16LE(head + FILE_HEADER_SIZE) != 3 || loadU16LE(head + FILE_HEADER_SIZE + 2) != 0) {
        setReaderMessage(request, MSG_BAD_VERSION);
        return ST_BAD_FILE;
    }

    const uint64_t fileSize = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : UINT64_MAX;
    PspImage img;
    uint64_t at = sizeof head;
    uint64_t channelsAt = 0;
    for (;;) {
        PspBlock b;
        if (!seekTo(stream, at) || !pspReadBlockHeader(stream, at, &b)) return ST_READ_ERROR;
        const uint64_t next = b.dataStart + b.totalLength;
        // A block to be read or skipped that reaches past the end of the file
        // means the file was cut; the layer's channels keep the rows they hold.
        if (next > fileSize && b.id != BLOCK_LAYER_START) return ST_READ_ERROR;
        Status st = ST_OK;
        if (b.id == BLOCK_ATTRIBUTES) {
            st = pspReadAttributes(stream, b, &img, request);
        } else if (b.id == BLOCK_PALETTE) {
            st = pspReadPalette(stream, b, &img, request);
        } else if (b.id == BLOCK_LAYER_START) {
            PspBlock layer;
            if (!pspReadBlockHeader(stream, b.dataStart, &layer)) return ST_READ_ERROR;
            if (layer.id != BLOCK_LAYER) {
                setReaderMessage(request, MSG_BAD_IDENTIFIER);
                return ST_BAD_FILE;
            }
            uint8_t rec[LAYER_SIZE];
            if (!readBlock(stream, rec, sizeof rec)) return ST_READ_ERROR;
            img.channelCount = loadU16LE(rec + LAYER_SIZE - 2);
            channelsAt = layer.dataStart + LAYER_SIZE;
            break;
        }
        if (st != ST_OK) return st;
        at = next;
    }

    if (img.compression > 1) {
        setReaderMessage(request, MSG_UNKNOWN_COMPRESSION);
        return ST_BAD_FILE;
    }
    if (img.width < 1 || img.width > MAX_IMAGE_SIDE || img.height < 1 || img.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    switch (img.bitDepth) {
    case 1:
        rh.bytesPerPlane = ((img.width + 7) / 8 + 3) & ~3;
        rh.planes = 1;
        break;
    case 4:
        rh.bytesPerPlane = ((img.width + 1) / 2 + 3) & ~3;
        rh.planes = 1;
        break;
    case 8:
        rh.bytesPerPlane = img.width;
        rh.planes = 1;
        break;
    case 24:
        // Red, green and blue, and the alpha mask when the layer has a fourth channel.
        rh.bytesPerPlane = img.width;
        rh.planes = img.channelCount >= 4 ? 4 : 3;
        break;
    default:
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }
    rh.bitsPerPlane = static_cast<int16_t>(img.bitDepth > 8 ? 8 : img.bitDepth);
    rh.layout = rh.planes >= 2 ? PL_CHANNEL_PLANES : 0;
    rh.orientation = 0;
    rh.channels = 1;
    rh.width = img.width;
    rh.height = img.height;
    setRasterName(rh.name, NAME);
    rh.compression = img.compression ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    st = pspReadChannels(stream, channelsAt, img, &rh, request);
    if (img.havePalette) endImage(PF_BGR, 8, img.palette);
    else endImage(0, 8, nullptr);
    return st;
}
