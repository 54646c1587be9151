// Utah Raster Toolkit run-length files (reader only).
//
// Header, little-endian: magic 0xCC52, x and y position, x and y size (16
// bits each), then flags, colour channels, bits per sample (8), colour-map
// channels and log2 of the map length. Then the background (1 + 2 x
// (channels / 2) bytes, or one filler byte when there is none), the colour map
// (16-bit entries, channel after channel, high byte kept), a comment block
// (16-bit length, padded to even) when flagged, then opcodes. An opcode is a
// byte and an operand byte; the long form (0x40) takes a 16-bit word instead.
// Lines go from the bottom of the picture up. Channel 255 is alpha, kept with
// three colour channels (0 where a line codes none).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_RLE[] = "Utah Raster Rle";
const char MSG_CHANNELS[] = "RLE : Too many channels !";
const char MSG_NO_IMAGE[] = "RLE : No Image !";

constexpr uint16_t RLE_MAGIC = 0xCC52;
constexpr size_t HEADER_BYTES = 15;
constexpr uint8_t FLAG_NO_BACKGROUND = 0x02;
constexpr uint8_t FLAG_ALPHA = 0x04;
constexpr uint8_t FLAG_COMMENTS = 0x08;
constexpr int MAX_CHANNELS = 4;
constexpr int MAP_ENTRIES = 256;  // entries kept per map channel; the rest are skipped

enum : int { OP_SKIP_LINES = 1, OP_SET_COLOUR = 2, OP_SKIP_PIXELS = 3, OP_BYTE_DATA = 5, OP_RUN_DATA = 6, OP_EOF = 7 };
constexpr int OP_LONG = 0x40;
constexpr int ALPHA_CHANNEL = 255;

struct Decoder {
    FILE* f;
    int32_t width, height;
    int planes;       // planes delivered (channels, or 3 for two; a fourth for alpha)
    int channels;     // colour channels in the file
    int alphaPlane;   // the plane alpha goes to, or -1 when it is dropped
    Buffer line;      // planes lines of width bytes
    uint8_t background[MAX_CHANNELS] = {};
    int32_t next = 0;  // next row to deliver
    const uint8_t* channelMap[MAX_CHANNELS] = {};  // per-channel maps of a 3-channel picture

    int64_t rowBytes() const { return int64_t(planes) * width; }

    void clear() {
        for (int p = 0; p < planes; ++p) memset(line.get() + int64_t(p) * width, p < channels ? background[p] : 0,
                                                static_cast<size_t>(width));
    }

    Status deliver() {
        if (next >= height) return ST_OK;  // lines past the picture are dropped
        if (channelMap[0]) {
            for (int p = 0; p < 3; ++p) {
                uint8_t* l = line.get() + int64_t(p) * width;
                for (int32_t x = 0; x < width; ++x) l[x] = channelMap[p][l[x]];
            }
        }
        return deliverRow(line.get(), rowBytes(), next++);
    }
};

bool readWord(FILE* f, int* v) {
    uint8_t b[2];
    if (!readBlock(f, b, 2)) return false;
    *v = loadU16LE(b);
    return true;
}

bool readWord(ChunkReader* in, int* v) {
    const int lo = in->get(), hi = in->get();
    if (lo < 0 || hi < 0) return false;
    *v = lo | hi << 8;
    return true;
}

// Runs the opcodes to the end of the image.
Status decode(Decoder* d) {
    ChunkReader in(d->f);
    int channel = 0;
    int64_t x = 0;
    d->clear();
    for (;;) {
        uint8_t op[2];
        if (!in.read(op, 2)) {
            d->deliver();  // the line begun
            return ST_READ_ERROR;
        }
        int operand = op[1];
        const int code = op[0] & ~OP_LONG;
        if ((op[0] & OP_LONG) && code != OP_SET_COLOUR && code != OP_EOF && !readWord(&in, &operand)) {
            d->deliver();
            return ST_READ_ERROR;
        }
        // Channels past the planes delivered are read and dropped.
        const int plane = channel == ALPHA_CHANNEL ? d->alphaPlane : channel < d->channels ? channel : -1;
        uint8_t* dst = plane >= 0 ? d->line.get() + int64_t(plane) * d->width : nullptr;
        Status st = ST_OK;
        switch (code) {
        case OP_SKIP_LINES:
            if (operand == 0) break;
            st = d->deliver();
            d->clear();
            for (int i = 1; st == ST_OK && i < operand && d->next < d->height; ++i) st = d->deliver();
            x = 0;
            if (st == ST_OK && d->next >= d->height) return ST_OK;
            break;
        case OP_SET_COLOUR:
            channel = operand;
            x = 0;
            break;
        case OP_SKIP_PIXELS:
            x += operand;
            break;
        case OP_BYTE_DATA: {
            // Literal bytes, padded to even, read in bounded pieces and clipped to the line.
            int64_t n = int64_t(operand) + 1;
            const int64_t total = n + (n & 1);
            uint8_t piece[512];
            for (int64_t done = 0; done < total;) {
                const size_t take = static_cast<size_t>(std::min<int64_t>(total - done, sizeof piece));
                if (!in.read(piece, take)) {
                    d->deliver();
                    return ST_READ_ERROR;
                }
                const int64_t data = std::min<int64_t>(static_cast<int64_t>(take), n - done);  // not the pad
                const int64_t at = x + done;
                if (dst && data > 0 && at < d->width)
                    memcpy(dst + at, piece, static_cast<size_t>(std::min<int64_t>(data, d->width - at)));
                done += static_cast<int64_t>(take);
            }
            x += n;
            break;
        }
        case OP_RUN_DATA: {
            int value;
            if (!readWord(&in, &value)) {
                d->deliver();
                return ST_READ_ERROR;
            }
            const int64_t n = int64_t(operand) + 1;
            if (dst && x < d->width) memset(dst + x, value & 0xFF, static_cast<size_t>(std::min<int64_t>(n, d->width - x)));
            x += n;
            break;
        }
        case OP_EOF:
            return d->deliver();
        default: {
            char message[40];
            snprintf(message, sizeof message, "Unkown RLE opcode %x", op[0]);
            reportWarning(message);
            break;
        }
        }
        if (st != ST_OK) return st;
        if (x > 0x7FFFFFFF) x = 0x7FFFFFFF;
    }
}

}  // namespace

bool acceptUtahRle(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER_BYTES && loadU16LE(head) == RLE_MAGIC && head[12] == 8;
}

Status readUtahRle(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER_BYTES];
    if (!readBlock(stream, h, sizeof h) || !acceptUtahRle(h, sizeof h, 0)) return ST_UNKNOWN_FORMAT;
    const uint8_t flags = h[10];
    const int channels = h[11];
    const int mapChannels = h[13];
    const int mapLog2 = h[14];
    if (channels > MAX_CHANNELS) {
        setReaderMessage(request, MSG_CHANNELS);
        return ST_BAD_FILE;
    }
    if (channels == 0) {
        setReaderMessage(request, MSG_NO_IMAGE);
        return ST_BAD_FILE;
    }
    if (mapLog2 > 16 || mapChannels > 8) return ST_CORRUPT;

    Decoder d{};
    d.f = stream;
    d.width = loadU16LE(h + 6);
    d.height = loadU16LE(h + 8);
    d.channels = channels;
    d.planes = channels == 2 ? 3 : channels;
    // Alpha goes with three colour channels as the fourth byte of each pixel.
    d.alphaPlane = channels == 3 && (flags & FLAG_ALPHA) ? 3 : -1;
    if (d.alphaPlane >= 0) d.planes = 4;
    RasterHeader rh{};
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = d.width;
    rh.height = d.height;
    rh.planes = static_cast<int16_t>(d.planes);
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = d.width;
    setRasterName(rh.name, NAME_RLE);
    rh.compression = "RLE";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    d.line = allocBuffer(uint64_t(d.rowBytes()) + 2);
    if (!d.line) {
        endImage(0, 8, nullptr);
        return ST_NO_MEMORY;
    }

    // Background values, or one filler byte.
    uint8_t bg[1 + 2 * (MAX_CHANNELS / 2)] = {};
    const size_t bgBytes = (flags & FLAG_NO_BACKGROUND) ? 1 : 1 + 2 * static_cast<size_t>(channels / 2);
    if (!readBlock(stream, bg, bgBytes)) st = ST_READ_ERROR;
    if (!(flags & FLAG_NO_BACKGROUND)) memcpy(d.background, bg, static_cast<size_t>(channels));

    // The colour map: up to 256 entries per channel kept (high bytes).
    uint8_t maps[3][MAP_ENTRIES] = {};
    const int64_t entries = mapChannels > 0 ? int64_t(1) << mapLog2 : 0;
    const int64_t kept = std::min<int64_t>(entries, MAP_ENTRIES);
    for (int c = 0; st == ST_OK && c < mapChannels; ++c) {
        for (int64_t i = 0; i < entries; ++i) {
            int v;
            if (!readWord(stream, &v)) {
                st = ST_READ_ERROR;
                break;
            }
            if (c < 3 && i < kept) maps[c][i] = static_cast<uint8_t>(v >> 8);
        }
    }
    if (st == ST_OK && (flags & FLAG_COMMENTS)) {
        int length;
        if (!readWord(stream, &length) || !skipBytes(stream, length + (length & 1))) st = ST_READ_ERROR;
    }

    // One channel with a map is a palette picture; three with three maps pass
    // each channel through its own.
    uint8_t palette[PALETTE_BYTES] = {};
    const bool paletted = channels == 1 && mapChannels > 0;
    if (paletted) {
        for (int i = 0; i < MAP_ENTRIES; ++i)
            for (int k = 0; k < 3; ++k) palette[3 * i + k] = maps[mapChannels >= 3 ? k : 0][i];
    } else if (channels >= 3 && mapChannels >= 3 && kept == MAP_ENTRIES) {
        for (int k = 0; k < 3; ++k) d.channelMap[k] = maps[k];
    }
    if (st == ST_OK) st = decode(&d);
    if (paletted) endImage(PF_TRIPLETS, 8, palette);
    else endImage(0, 8, nullptr);
    return st;
}
