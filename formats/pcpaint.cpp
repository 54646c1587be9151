// PC Paint / Pictor pictures (.pic), little-endian.
//
// Header: the magic 0x1234, width, height, x and y offsets, a byte of plane
// and bit counts (high nibble planes - 1, low nibble bits per plane), 0xFF for
// the version 2 header, the video mode, a palette type and the palette's
// length, the palette, then the number of coded blocks (0: plain data).
// A block is its coded size (its 5-byte header included), its decoded size and
// a marker byte: the marker brings a run (a count byte, or 0 and a 16-bit
// count, then the value), any other byte stands for itself. The decoded
// picture is stored bottom row first; pictures of several 1-bit planes keep
// each plane whole, one after the other.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "PIC : Bad picture's size !";
const char MSG_TEXT[] = "PIC : Text mode picture !";
const char MSG_BAD_BLOCK[] = "PIC : Bad compressed block !";
const char NAME_PLAIN[] = "PC Paint (Pictor)";
const char NAME_RLE[] = "PC Paint (Pictor) RLE";

constexpr uint16_t MAGIC = 0x1234;
constexpr size_t HEADER = 17;
constexpr uint32_t MAX_PALETTE = 768;
constexpr uint32_t BLOCK_HEADER = 5;

// The three colours after the background of the six CGA palettes (indexes into PC_COLOURS_16).
const uint8_t CGA[6][3] = {{3, 5, 7}, {2, 4, 6}, {3, 4, 7}, {11, 13, 15}, {10, 12, 14}, {11, 12, 15}};

bool planeInfoKnown(uint8_t p) { return p == 0x01 || p == 0x02 || p == 0x04 || p == 0x08 || p == 0x11 || p == 0x31; }

void setPc16(uint8_t* entry, int index) { memcpy(entry, PC_COLOURS_16 + 3 * (index & 15), 3); }

// The palette from its type and data; bits per pixel (all planes) tell the defaults.
void buildPalette(int type, const uint8_t* data, uint32_t length, int bits, uint8_t* table) {
    const int colours = 1 << bits;
    if (type == 1 && length >= 1 && bits == 2) {
        const int id = data[0] < 6 ? data[0] : 3;
        setPc16(table, length >= 2 ? data[1] : 0);
        for (int i = 0; i < 3; ++i) setPc16(table + 3 * (i + 1), CGA[id][i]);
        return;
    }
    if (type == 2 || type == 3) {
        for (uint32_t i = 0; i < length && i < 16; ++i) {
            const uint8_t v = data[i];
            if (type == 2) {
                setPc16(table + 3 * i, v);
            } else {
                // EGA: bits 5..0 are r g b R G B, primaries worth 0xAA, secondaries 0x55.
                table[3 * i] = static_cast<uint8_t>((v & 4 ? 0xAA : 0) + (v & 32 ? 0x55 : 0));
                table[3 * i + 1] = static_cast<uint8_t>((v & 2 ? 0xAA : 0) + (v & 16 ? 0x55 : 0));
                table[3 * i + 2] = static_cast<uint8_t>((v & 1 ? 0xAA : 0) + (v & 8 ? 0x55 : 0));
            }
        }
        return;
    }
    if ((type == 4 || type == 5) && length >= 3) {
        const uint32_t n = length / 3 < 256 ? length / 3 : 256;
        bool sixBits = true;
        for (uint32_t i = 0; i < 3 * n; ++i)
            if (data[i] > 63) sixBits = false;
        for (uint32_t i = 0; i < 3 * n; ++i) table[i] = sixBits ? static_cast<uint8_t>(data[i] * 255 / 63) : data[i];
        return;
    }
    // Defaults: black and white, CGA palette 1 high, the 16 PC colours, a grey ramp.
    if (colours == 2) {
        memset(table + 3, 0xFF, 3);
    } else if (colours == 4) {
        for (int i = 0; i < 3; ++i) setPc16(table + 3 * (i + 1), CGA[3][i]);
    } else if (colours == 16) {
        memcpy(table, PC_COLOURS_16, sizeof PC_COLOURS_16);
    } else {
        for (int i = 0; i < 256; ++i) memset(table + 3 * i, i, 3);
    }
}

// Decodes the blocks into raw (rawBytes); returns the bytes produced in *made.
Status unpackBlocks(FILE* f, uint32_t blocks, uint8_t* raw, uint64_t rawBytes, uint64_t* made) {
    Buffer coded = allocBuffer(0x10000);
    if (!coded) return ST_NO_MEMORY;
    uint64_t out = 0;
    for (uint32_t b = 0; b < blocks && out < rawBytes; ++b) {
        uint8_t h[BLOCK_HEADER];
        if (!readBlock(f, h, sizeof h)) return ST_READ_ERROR;
        const uint32_t packed = loadU16LE(h), unpacked = loadU16LE(h + 2);
        const uint8_t marker = h[4];
        if (packed < BLOCK_HEADER) return ST_CORRUPT;
        const size_t n = packed - BLOCK_HEADER;
        const size_t got = fread(coded.get(), 1, n, f);
        const uint8_t* in = coded.get();
        const uint64_t end = out + unpacked < rawBytes ? out + unpacked : rawBytes;
        size_t at = 0;
        while (at < got && out < end) {
            const uint8_t x = in[at++];
            if (x != marker) {
                raw[out++] = x;
                continue;
            }
            if (at >= got) break;
            uint32_t count = in[at++];
            if (count == 0) {
                if (at + 2 > got) break;
                count = loadU16LE(in + at);
                at += 2;
            }
            if (at >= got) break;
            const uint8_t v = in[at++];
            for (uint32_t i = 0; i < count && out < end; ++i) raw[out++] = v;
        }
        *made = out;
        if (got < n) return ST_READ_ERROR;
    }
    *made = out;
    return ST_OK;
}

}  // namespace

bool acceptPcPaint(const uint8_t* head, size_t n, int64_t) {
    if (n < HEADER + 2 || loadU16LE(head) != MAGIC || head[11] != 0xFF) return false;
    const uint16_t w = loadU16LE(head + 2), h = loadU16LE(head + 4);
    return w >= 1 && h >= 1 && planeInfoKnown(head[10]) && loadU16LE(head + 13) <= 5 &&
           loadU16LE(head + 15) <= MAX_PALETTE;
}

Status readPcPaint(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER];
    if (!readBlock(stream, h, sizeof h) || !acceptPcPaint(h, sizeof h + 2, 0)) return ST_UNKNOWN_FORMAT;
    if (h[12] >= '0' && h[12] <= '3') {
        setReaderMessage(request, MSG_TEXT);
        return ST_BAD_FILE;
    }
    const int32_t width = loadU16LE(h + 2), height = loadU16LE(h + 4);
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    const int planes = (h[10] >> 4) + 1, bits = h[10] & 15;
    const uint32_t paletteLength = loadU16LE(h + 15);
    uint8_t paletteData[MAX_PALETTE];
    uint8_t countBytes[2];
    if (!readBlock(stream, paletteData, paletteLength) || !readBlock(stream, countBytes, 2)) return ST_READ_ERROR;
    const uint32_t blocks = loadU16LE(countBytes);
    uint8_t table[PALETTE_BYTES] = {};
    buildPalette(loadU16LE(h + 13), paletteData, paletteLength, planes * bits, table);

    const int64_t lineBytes = (static_cast<int64_t>(width) * bits + 7) / 8;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = width;
    rh.height = height;
    rh.orientation = OR_BOTTOM_UP;
    rh.planes = static_cast<int16_t>(planes);
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    rh.bytesPerPlane = static_cast<int32_t>(lineBytes);
    setRasterName(rh.name, blocks ? NAME_RLE : NAME_PLAIN);
    rh.compression = blocks ? "RLE" : nullptr;
    const uint64_t rawBytes = static_cast<uint64_t>(lineBytes) * height * planes;
    Status st = planes > 1 || blocks ? checkPictureBudget(width, height, planes) : ST_OK;
    if (st != ST_OK) return st;
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    if (planes == 1 && blocks == 0) {
        st = readRows(stream, lineBytes, height);
    } else {
        // The whole decoded picture, then each row gathered from its planes.
        Buffer raw = allocBuffer(rawBytes);
        Buffer row = allocBuffer(static_cast<uint64_t>(lineBytes) * planes);
        uint64_t made = 0;
        if (!raw || !row) st = ST_NO_MEMORY;
        else if (blocks) st = unpackBlocks(stream, blocks, raw.get(), rawBytes, &made);
        else made = fread(raw.get(), 1, rawBytes, stream);
        if (st == ST_OK && made < rawBytes) st = ST_READ_ERROR;
        if (st == ST_CORRUPT) setReaderMessage(request, MSG_BAD_BLOCK);
        if (st != ST_NO_MEMORY) {
            // Rows whose bytes all came (in every plane: the last one comes last).
            const uint64_t planeBytes = static_cast<uint64_t>(lineBytes) * height;
            const uint64_t lastPlane = planeBytes * static_cast<uint64_t>(planes - 1);
            const int32_t rows = made <= lastPlane ? 0 : static_cast<int32_t>((made - lastPlane) / lineBytes);
            for (int32_t y = 0; y < rows; ++y) {
                for (int p = 0; p < planes; ++p)
                    memcpy(row.get() + p * lineBytes, raw.get() + p * planeBytes + y * lineBytes,
                           static_cast<size_t>(lineBytes));
                const Status d = deliverRow(row.get(), lineBytes * planes, y);
                if (d != ST_OK) {
                    st = d;
                    break;
                }
            }
        }
    }
    endImage(PF_TRIPLETS, 8, table);
    return st;
}
