// Adobe Photoshop documents (reader only).
//
// The reader takes the merged (composite) image that Photoshop stores after
// the layers: bitmap, grey, indexed, RGB and CMYK modes at 1, 2, 4, 8 or 16 bits
// per channel, raw or run-length coded. All numbers are big-endian.
//
// Layout: a 26-byte header ("8BPS", version 1, 6 reserved bytes, channels,
// height, width, depth, mode), then four sections each led by a 32-bit length:
// colour mode data (the palette of indexed documents: 256 reds, 256 greens,
// 256 blues), image resources ("8BIM" blocks), layer and mask information, and
// the image data: a compression word (0 raw, 1 run-length), for run-length data
// a table of channels x height row byte counts, then every row of channel 0,
// of channel 1, and so on. Run-length rows are PackBits rows.
//
// The mode's colour channels are delivered (1, 3 or 4, and one alpha channel
// for RGB); further channels (spot colours, masks) are not read.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "packbits.h"
#include "stream.h"

namespace {

const char MSG_BAD_DEPTH[] = "PSD: Depth != 8/16!";
const char MSG_BAD_MODE[] = "PSD: Invalid Picture Mode !";
const char MSG_BAD_RESOURCE[] = "PSD: Image Ressource invalid block !";

const char NAME_RLE[] = "Adobe Photoshop Document (RLE)";
const char NAME_RAW[] = "Adobe Photoshop Document (Raw)";

constexpr size_t HEADER_SIZE = 26;
constexpr uint16_t PSD_VERSION = 1;
constexpr size_t PALETTE_SIZE = 768;

enum PsdMode : uint16_t { MODE_BITMAP = 0, MODE_GREY = 1, MODE_INDEXED = 2, MODE_RGB = 3, MODE_CMYK = 4 };
constexpr uint16_t COMPRESSION_RAW = 0;
constexpr uint16_t COMPRESSION_RLE = 1;

// Channels delivered for each mode: its colour channels, plus alpha for RGB.
constexpr int MODE_COLOUR_CHANNELS[] = {1, 1, 1, 3, 4};
constexpr int MODE_MAX_CHANNELS[] = {1, 1, 1, 4, 4};

// Sequential reading that knows where the file ends.
class PsdInput {
public:
    PsdInput(FILE* f, int64_t size, int64_t position) : f_(f), size_(size), pos_(position) {}

    int64_t position() const { return pos_; }
    int64_t remaining() const { return size_ > 0 ? size_ - pos_ : INT64_MAX; }

    bool read(uint8_t* dst, size_t n) {
        size_t got = fread(dst, 1, n, f_);
        pos_ += static_cast<int64_t>(got);
        return got == n;
    }
    // Reads a big-endian number of n bytes; false on a short read.
    bool number(int n, uint32_t* value) {
        uint8_t b[4];
        if (!read(b, static_cast<size_t>(n))) return false;
        *value = n == 2 ? loadU16BE(b) : loadU32BE(b);
        return true;
    }
    // Skips n bytes; false when they are not all in the file.
    bool skip(uint64_t n) {
        if (n == 0) return true;
        if (static_cast<uint64_t>(remaining()) < n) return false;
        if (size_ > 0) {
            if (fseek(f_, static_cast<long>(n), SEEK_CUR) != 0) return false;
            pos_ += static_cast<int64_t>(n);
            return true;
        }
        for (uint64_t i = 0; i < n; ++i) {
            if (getc(f_) == EOF) return false;
            ++pos_;
        }
        return true;
    }

private:
    FILE* f_;
    int64_t size_;
    int64_t pos_;
};

// The stream as a source of PackBits groups.
class StreamCursor final : public ByteCursor {
public:
    explicit StreamCursor(FILE* f) : f_(f) {}
    int next() override {
        int c = getc(f_);
        return c == EOF ? -1 : c;
    }

private:
    FILE* f_;
};

struct PsdHeader {
    uint16_t channels;
    uint32_t height;
    uint32_t width;
    uint16_t depth;
    uint16_t mode;
};

// How a section ended before the image data.
enum class Walk { Ok, Cut, BadBlock };

// Walks the image resource blocks of a section of `length` bytes, then leaves
// the stream at its end. Each block: "8BIM", an identifier word, a name (length
// byte and characters, padded to an even size), a 32-bit data size and the data
// padded to an even size. A block that reaches past the section ends the walk.
Walk walkResources(PsdInput* in, uint32_t length) {
    if (static_cast<uint64_t>(in->remaining()) < length) return Walk::Cut;
    const int64_t end = in->position() + length;
    while (end - in->position() >= 4) {
        uint8_t sig[4];
        if (!in->read(sig, 4)) return Walk::Cut;
        if (memcmp(sig, "8BIM", 4) != 0) return Walk::BadBlock;
        uint8_t idAndName[3];
        if (end - in->position() < 3 || !in->read(idAndName, 3)) break;
        // The name field, length byte included, is padded to an even size.
        const int64_t nameRest = (idAndName[2] + 2) / 2 * 2 - 1;
        uint32_t size = 0;
        if (end - in->position() < nameRest + 4 || !in->skip(static_cast<uint64_t>(nameRest)) ||
            !in->number(4, &size))
            break;
        const int64_t data = int64_t(size) + (size & 1);
        if (end - in->position() < data) break;
        if (!in->skip(static_cast<uint64_t>(data))) return Walk::Cut;
    }
    return in->skip(static_cast<uint64_t>(end - in->position())) ? Walk::Ok : Walk::Cut;
}

// Delivers the channels' rows; returns the status of the last step.
Status readChannels(FILE* f, const PsdHeader& h, uint16_t compression, int planes, RasterHeader* rh) {
    const bool wide = h.depth == 16;
    const int64_t rowBytes = wide ? 2 * int64_t(h.width) : (int64_t(h.width) * h.depth + 7) / 8;
    const int64_t delivered = wide ? h.width : rowBytes;
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    StreamCursor cursor(f);
    for (int c = 0; c < planes; ++c) {
        for (uint32_t y = 0; y < h.height; ++y) {
            bool cut;
            if (compression == COMPRESSION_RLE) {
                memset(row.get(), 0, static_cast<size_t>(rowBytes));
                cut = packBitsDecode(&cursor, row.get(), static_cast<size_t>(rowBytes)).end == PackBitsEnd::EndOfInput;
            } else {
                size_t got = fread(row.get(), 1, static_cast<size_t>(rowBytes), f);
                if (got < static_cast<size_t>(rowBytes)) memset(row.get() + got, 0, static_cast<size_t>(rowBytes) - got);
                cut = got < static_cast<size_t>(rowBytes);
            }
            uint8_t* dst = rh->rowBuffer;
            if (wide) {
                // Keep the high-order byte of each big-endian sample.
                for (int64_t x = 0; x < delivered; ++x) dst[x] = row[2 * x];
            } else {
                memcpy(dst, row.get(), static_cast<size_t>(delivered));
            }
            Status st = putRows(c, static_cast<int32_t>(y), 1);
            if (st != ST_OK) return st;
            if (cut) return ST_READ_ERROR;
        }
    }
    return ST_OK;
}

}  // namespace

bool acceptPsd(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER_SIZE && memcmp(head, "8BPS", 4) == 0 && loadU16BE(head + 4) == PSD_VERSION;
}

Status readPsd(FILE* stream, LoadRequest* request) {
    uint8_t raw[HEADER_SIZE];
    if (!readBlock(stream, raw, sizeof raw)) return ST_UNKNOWN_FORMAT;
    if (memcmp(raw, "8BPS", 4) != 0 || loadU16BE(raw + 4) != PSD_VERSION) return ST_UNKNOWN_FORMAT;
    PsdHeader h;
    h.channels = loadU16BE(raw + 12);
    h.height = loadU32BE(raw + 14);
    h.width = loadU32BE(raw + 18);
    h.depth = loadU16BE(raw + 22);
    h.mode = loadU16BE(raw + 24);

    if (h.depth != 1 && h.depth != 2 && h.depth != 4 && h.depth != 8 && h.depth != 16) {
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }
    if (h.mode > MODE_CMYK || h.channels < MODE_COLOUR_CHANNELS[h.mode]) {
        setReaderMessage(request, MSG_BAD_MODE);
        return ST_BAD_FILE;
    }
    const int planes = h.channels < MODE_MAX_CHANNELS[h.mode] ? h.channels : MODE_MAX_CHANNELS[h.mode];
    if (planes > 1 && h.depth != 8 && h.depth != 16) {
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }

    PsdInput in(stream, request->fileSize, static_cast<int64_t>(HEADER_SIZE));
    bool cut = false;

    // Colour mode data: the palette of indexed documents, into a zeroed table.
    uint8_t palette[PALETTE_SIZE] = {};
    uint32_t length = 0;
    if (!in.number(4, &length) || static_cast<uint64_t>(in.remaining()) < length) {
        cut = true;
    } else {
        const uint32_t kept = h.mode == MODE_INDEXED ? (length < PALETTE_SIZE ? length : PALETTE_SIZE) : 0;
        cut = !in.read(palette, kept) || !in.skip(length - kept);
    }

    // Image resources, walked block by block.
    if (!cut) {
        if (!in.number(4, &length)) {
            cut = true;
        } else {
            Walk w = walkResources(&in, length);
            if (w == Walk::BadBlock) {
                setReaderMessage(request, MSG_BAD_RESOURCE);
                return ST_BAD_FILE;
            }
            cut = w == Walk::Cut;
        }
    }

    // Layer and mask information, then the compression word and, for
    // run-length data, the row byte counts, which decoding does not need.
    uint32_t compression = COMPRESSION_RAW;
    if (!cut) cut = !in.number(4, &length) || !in.skip(length) || !in.number(2, &compression);
    if (!cut && compression != COMPRESSION_RAW && compression != COMPRESSION_RLE) return ST_CORRUPT;
    if (!cut && compression == COMPRESSION_RLE)
        cut = !in.skip(uint64_t{2} * h.channels * h.height);

    RasterHeader rh{};
    rh.layout = planes > 1 ? PL_CHANNEL_PLANES : 0;
    if (h.mode == MODE_CMYK) rh.layout |= PL_CMYK_INV;
    rh.channels = 1;
    rh.width = h.width > static_cast<uint32_t>(MAX_IMAGE_SIDE) ? MAX_IMAGE_SIDE + 1 : static_cast<int32_t>(h.width);
    rh.height = h.height > static_cast<uint32_t>(MAX_IMAGE_SIDE) ? MAX_IMAGE_SIDE + 1 : static_cast<int32_t>(h.height);
    rh.planes = static_cast<int16_t>(planes);
    rh.bitsPerPlane = static_cast<int16_t>(h.depth == 16 ? 8 : h.depth);
    rh.bytesPerPlane = static_cast<int32_t>((int64_t(rh.width) * rh.bitsPerPlane + 7) / 8);
    setRasterName(rh.name, compression == COMPRESSION_RLE ? NAME_RLE : NAME_RAW);
    rh.compression = compression == COMPRESSION_RLE ? "PackBits" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    st = cut ? ST_READ_ERROR : readChannels(stream, h, static_cast<uint16_t>(compression), planes, &rh);
    if (h.mode == MODE_INDEXED) endImage(PF_PLANAR | PF_TRIPLETS, 8, palette);
    else endImage(h.depth == 1 ? PF_INVERT : 0, 8, nullptr);
    return st;
}
