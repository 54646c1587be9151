// DICOM reader.
//
// The element parser (dicomparse.cpp) stops at the top-level Pixel Data. The
// pixel data are native little-endian samples, run-length encoded (RLE
// Lossless) or JPEG (DCT processes), the last two as a sequence of fragments:
// items after a first item holding the basic offset table. Frames of native
// data follow each other; frames of encapsulated data start a new fragment
// (a JPEG frame may span several fragments, each new frame starting with an
// SOI marker).
//
// Samples of 8, 12 (two packed in three bytes) or 16 bits allocated are
// brought to 8 bits through a table: grey pictures through the file's window
// (Window Center and Width, in rescaled units) when it has one, otherwise by
// scaling the whole range of the stored bits. MONOCHROME1 is inverted grey,
// PALETTE COLOR takes the red, green and blue lookup tables, YBR_FULL samples
// become R,G,B.
//
// RLE frames: a 64-byte header (segment count, then 15 offsets from the start
// of the frame), then one segment per byte plane: for each sample, its most
// significant byte plane first. A segment is PackBits: a control byte n below
// 128 copies n + 1 bytes, above 128 repeats the next byte 257 - n times, 128
// does nothing.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "dicom.h"
#include "jpegglue.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME[] = "Dicom";
const char MSG_BAD_SIZE[] = "DICOM : Bad picture's size !";
const char MSG_BAD_SAMPLES[] = "DICOM : Bad number of samples per pixel !";
const char MSG_BAD_BITS[] = "DICOM : Bad number of bits per sample !";
const char MSG_DEFLATE[] = "DICOM : No support for deflated data sets !";
const char MSG_LOSSLESS[] = "DICOM : No support for lossless JPEG !";
const char MSG_JPEG_DEPTH[] = "DICOM : No support for JPEG of more than 8 bits !";
const char MSG_CODING[] = "DICOM : No support for this compression !";
const char MSG_COLOUR[] = "DICOM : No support for this photometric interpretation !";

constexpr uint32_t RLE_HEADER = 64;
constexpr uint32_t RLE_MAX_SEGMENTS = 15;

enum Colour : uint8_t { CL_GREY, CL_INVERTED, CL_RGB, CL_YBR, CL_PALETTE };

bool startsWith(const char* s, const char* prefix) { return strncmp(s, prefix, strlen(prefix)) == 0; }

Status refuse(LoadRequest* request, const char* message) {
    setReaderMessage(request, message);
    return ST_BAD_FILE;
}

// Stored sample -> 8 bits, for every value of the stored bits.
Buffer buildMapping(const DicomHeader& h, Colour colour) {
    const int bits = h.bitsStored;
    const int64_t count = int64_t{1} << bits;
    Buffer map = allocBuffer(static_cast<uint64_t>(count));
    if (!map) return map;
    const bool isSigned = h.pixelRepresentation == 1;
    const double maximum = static_cast<double>(count - 1);
    const bool window = h.hasWindow && (colour == CL_GREY || colour == CL_INVERTED);
    const double low = h.windowCenter - static_cast<double>(static_cast<int64_t>(h.windowWidth) / 2);
    const double high = h.windowCenter + static_cast<double>(static_cast<int64_t>(h.windowWidth) / 2);
    for (int64_t i = 0; i < count; ++i) {
        int64_t v = i;
        if (isSigned && bits > 1 && (i >> (bits - 1)) != 0) v = i - count;
        double out;
        if (colour == CL_PALETTE) {
            out = static_cast<double>(i & 0xFF);
        } else if (window) {
            const double m = static_cast<double>(v) * h.rescaleSlope + h.rescaleIntercept;
            if (m < low) out = 0;
            else if (m > high) out = 255;
            else out = (m - low) * 255 / (high - low + 1);
        } else {
            const double base = isSigned && bits > 1 ? static_cast<double>(v + count / 2) : static_cast<double>(v);
            out = base * 255 / maximum;
        }
        if (!(out >= 0)) out = 0;  // NaN too
        if (out > 255) out = 255;
        map[i] = static_cast<uint8_t>(out);
    }
    return map;
}

// What the reader needs while it turns stored samples into delivered rows.
struct Frame {
    const DicomHeader* h;
    Colour colour;
    int32_t samples;       // samples per row: columns x samples per pixel
    int shift;             // the stored bits' position in the allocated ones
    uint32_t mask;
    const uint8_t* map;
    uint16_t* values;      // one row of stored samples
    uint8_t* out;          // one delivered row
};

uint8_t clampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Maps a row of stored samples (frame.values) and delivers it.
Status deliverValues(const Frame& fr, int32_t y) {
    for (int32_t i = 0; i < fr.samples; ++i) fr.out[i] = fr.map[(fr.values[i] >> fr.shift) & fr.mask];
    if (fr.colour == CL_YBR) {
        for (int32_t i = 0; i + 2 < fr.samples; i += 3) {
            const int yv = fr.out[i], cb = fr.out[i + 1] - 128, cr = fr.out[i + 2] - 128;
            fr.out[i] = clampByte(yv + ((91881 * cr + 32768) >> 16));
            fr.out[i + 1] = clampByte(yv - ((22554 * cb + 46802 * cr - 32768) >> 16));
            fr.out[i + 2] = clampByte(yv + ((116130 * cb + 32768) >> 16));
        }
    }
    return deliverRow(fr.out, fr.samples, y);
}

// Native samples, pixels interleaved, row after row.
Status readNativeRows(FILE* f, const Frame& fr, int32_t rows) {
    const int bytes = fr.h->bitsAllocated == 16 ? 2 : 1;
    const int64_t rowBytes = static_cast<int64_t>(fr.samples) * bytes;
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    for (int32_t y = 0; y < rows; ++y) {
        if (!readBlock(f, row.get(), static_cast<size_t>(rowBytes))) return ST_READ_ERROR;
        for (int32_t i = 0; i < fr.samples; ++i)
            fr.values[i] = bytes == 2 ? loadU16LE(row.get() + 2 * i) : row[i];
        const Status st = deliverValues(fr, y);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// 12 bits allocated: two samples in three bytes, the pairs running on across rows.
Status readPackedRows(FILE* f, const Frame& fr, int32_t rows) {
    ChunkReader in(f);
    int64_t index = 0;
    int kept = 0;
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t i = 0; i < fr.samples; ++i, ++index) {
            const int a = in.get();
            if (a < 0) return ST_READ_ERROR;
            if ((index & 1) == 0) {
                const int b = in.get();
                if (b < 0) return ST_READ_ERROR;
                fr.values[i] = static_cast<uint16_t>((a << 4) | (b >> 4));
                kept = b & 0x0F;
            } else {
                fr.values[i] = static_cast<uint16_t>((kept << 8) | a);
            }
        }
        const Status st = deliverValues(fr, y);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// Rows gathered from whole byte planes (planar native frames, RLE frames):
// plane s x bytes + b holds byte b (most significant first) of sample s.
// Rows up to `available` are complete.
Status deliverPlanes(const Frame& fr, const uint8_t* const* planes, int bytes, int32_t rows, int32_t available) {
    const int spp = fr.h->samplesPerPixel;
    const int32_t width = fr.h->columns;
    for (int32_t y = 0; y < available && y < rows; ++y) {
        const int64_t at = static_cast<int64_t>(y) * width;
        for (int32_t x = 0; x < width; ++x)
            for (int s = 0; s < spp; ++s) {
                const uint8_t* p = planes[s * bytes];
                uint16_t v = p[at + x];
                if (bytes == 2) v = static_cast<uint16_t>((v << 8) | planes[s * bytes + 1][at + x]);
                fr.values[x * spp + s] = v;
            }
        const Status st = deliverValues(fr, y);
        if (st != ST_OK) return st;
    }
    return available < rows ? ST_READ_ERROR : ST_OK;
}

// Native planar frames (Planar Configuration 1): each sample's plane in turn.
Status readPlanarFrame(FILE* f, const Frame& fr, int32_t rows) {
    const int spp = fr.h->samplesPerPixel;
    const int64_t planeBytes = static_cast<int64_t>(fr.h->columns) * rows;
    Buffer frame = allocBuffer(static_cast<uint64_t>(planeBytes * spp));
    if (!frame) return ST_NO_MEMORY;
    const size_t got = fread(frame.get(), 1, static_cast<size_t>(planeBytes * spp), f);
    const int64_t last = static_cast<int64_t>(got) - planeBytes * (spp - 1);
    const int32_t available = last <= 0 ? 0 : static_cast<int32_t>(last / fr.h->columns);
    const uint8_t* planes[3] = {frame.get(), frame.get() + planeBytes, frame.get() + 2 * planeBytes};
    return deliverPlanes(fr, planes, 1, rows, available);
}

// A buffer that grows as fragments are appended.
struct Bytes {
    Buffer data;
    size_t size = 0;
    size_t room = 0;
    // Grows with the bytes that actually arrive, whatever n claims.
    bool append(FILE* f, size_t n) {
        constexpr size_t STEP = size_t{1} << 20;
        while (n > 0) {
            const size_t part = n < STEP ? n : STEP;
            if (size + part > room) {
                size_t want = room ? room : 4096;
                while (want < size + part) want *= 2;
                Buffer bigger = allocBuffer(want);
                if (!bigger) return false;
                if (size) memcpy(bigger.get(), data.get(), size);
                data = std::move(bigger);
                room = want;
            }
            const size_t got = fread(data.get() + size, 1, part, f);
            size += got;
            if (got != part) return false;
            n -= part;
        }
        return true;
    }
};

// The fragments of frame `page` of encapsulated pixel data, concatenated.
// ST_READ_ERROR when the file ends inside them (what was read is kept).
Status readFragments(FILE* f, uint64_t fileSize, const DicomHeader& h, int32_t page, Bytes* out) {
    int64_t fragment = -1;  // -1: the offset table
    int32_t frame = 0;
    uint64_t pos = static_cast<uint64_t>(ftell(f));
    for (;;) {
        uint8_t t[8];
        if (!readBlock(f, t, 8)) return out->size ? ST_OK : ST_READ_ERROR;
        pos += 8;
        const uint16_t group = loadU16LE(t), element = loadU16LE(t + 2);
        const uint32_t len = loadU32LE(t + 4);
        if (group != 0xFFFE || element != 0xE000) return out->size ? ST_OK : ST_CORRUPT;  // the delimiter
        if (len == 0xFFFFFFFFu) return ST_CORRUPT;
        if (fileSize && len > fileSize - pos) {
            if (frame == page && fragment >= 0) out->append(f, static_cast<size_t>(fileSize - pos));
            return ST_READ_ERROR;
        }
        ++fragment;
        if (fragment > 0 && h.frames > 1) {
            bool starts = h.coding != DC_JPEG;
            if (!starts && len >= 2) {
                uint8_t soi[2];
                if (!readBlock(f, soi, 2) || fseek(f, -2, SEEK_CUR) != 0) return ST_READ_ERROR;
                starts = soi[0] == 0xFF && soi[1] == 0xD8;
            }
            if (starts && fragment > 1) ++frame;
        }
        if (frame > page) return ST_OK;
        if (fragment > 0 && frame == page) {
            if (!out->append(f, len)) return ST_READ_ERROR;
        } else if (!seekTo(f, pos + len)) {
            return ST_READ_ERROR;
        }
        pos += len;
    }
}

// PackBits segment into dst (want bytes); the bytes produced.
int64_t unpackSegment(const uint8_t* src, size_t n, uint8_t* dst, int64_t want) {
    size_t i = 0;
    int64_t o = 0;
    while (o < want && i < n) {
        const int c = src[i++];
        if (c < 128) {
            int64_t k = c + 1;
            if (k > want - o) k = want - o;
            if (static_cast<uint64_t>(k) > n - i) k = static_cast<int64_t>(n - i);
            memcpy(dst + o, src + i, static_cast<size_t>(k));
            i += static_cast<size_t>(c + 1);
            o += k;
        } else if (c > 128) {
            if (i >= n) break;
            int64_t k = 257 - c;
            if (k > want - o) k = want - o;
            memset(dst + o, src[i++], static_cast<size_t>(k));
            o += k;
        }
    }
    return o;
}

Status decodeRle(const Frame& fr, const Bytes& data, Status readStatus, int32_t rows) {
    const int bytes = fr.h->bitsAllocated == 16 ? 2 : 1;
    const uint32_t segments = static_cast<uint32_t>(fr.h->samplesPerPixel * bytes);
    if (data.size < RLE_HEADER) return readStatus != ST_OK ? readStatus : ST_CORRUPT;
    const uint8_t* d = data.data.get();
    if (loadU32LE(d) != segments) return ST_CORRUPT;
    const int64_t planeBytes = static_cast<int64_t>(fr.h->columns) * rows;
    Buffer planeBuf = allocBuffer(static_cast<uint64_t>(planeBytes * segments));
    if (!planeBuf) return ST_NO_MEMORY;
    const uint8_t* planes[6] = {};
    int64_t fewest = planeBytes;
    for (uint32_t s = 0; s < segments; ++s) {
        const uint32_t start = loadU32LE(d + 4 + 4 * s);
        uint32_t end = s + 1 < segments ? loadU32LE(d + 8 + 4 * s) : 0;
        if (end == 0 || end > data.size) end = static_cast<uint32_t>(data.size);
        if (start < RLE_HEADER || start > end) return ST_CORRUPT;
        uint8_t* plane = planeBuf.get() + s * planeBytes;
        const int64_t got = unpackSegment(d + start, end - start, plane, planeBytes);
        if (got < fewest) fewest = got;
        planes[s] = plane;
    }
    const int32_t available = static_cast<int32_t>(fewest / fr.h->columns);
    const Status st = deliverPlanes(fr, planes, bytes, rows, available);
    return st == ST_OK ? readStatus : st;
}

// The SOF of a JPEG stream: its sample precision, and whether it is lossless.
void jpegFrameKind(const uint8_t* d, size_t n, int* precision, bool* lossless) {
    *precision = 8;
    *lossless = false;
    size_t i = 2;
    while (i + 4 < n && d[i] == 0xFF) {
        const int m = d[i + 1];
        if (m == 0xFF) { ++i; continue; }
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) { i += 2; continue; }
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            *precision = d[i + 4];
            *lossless = m == 0xC3 || m == 0xC7 || m == 0xCB || m == 0xCF;
            return;
        }
        i += 2 + loadU16BE(d + i + 2);
    }
}

struct JpegFrame {
    const Frame* fr;
    int32_t delivered;
};

void configureJpeg(void* datum, jpeg_decompress_struct* cinfo) {
    const auto* jf = static_cast<JpegFrame*>(datum);
    if (cinfo->num_components == 3) {
        if (jf->fr->colour == CL_RGB) cinfo->jpeg_color_space = JCS_RGB;
        else if (jf->fr->colour == CL_YBR) cinfo->jpeg_color_space = JCS_YCbCr;
        cinfo->out_color_space = JCS_RGB;
    }
}

Status jpegRow(void* datum, const uint8_t* row, int32_t y, const jpeg_decompress_struct* cinfo) {
    auto* jf = static_cast<JpegFrame*>(datum);
    const DicomHeader& h = *jf->fr->h;
    if (static_cast<int32_t>(cinfo->output_width) != h.columns || cinfo->output_components != h.samplesPerPixel ||
        y >= h.rows)
        return ST_CORRUPT;
    const Status st = deliverRow(row, jf->fr->samples, y);
    if (st == ST_OK) jf->delivered = y + 1;
    return st;
}

Status decodeJpeg(const Frame& fr, const Bytes& data, Status readStatus, uint16_t flags, LoadRequest* request) {
    int precision;
    bool lossless;
    jpegFrameKind(data.data.get(), data.size, &precision, &lossless);
    if (lossless) return refuse(request, MSG_LOSSLESS);
    if (precision != 8) return refuse(request, MSG_JPEG_DEPTH);
    JpegFrame jf{&fr, 0};
    JpegScanlineJob job;
    job.data = data.data.get();
    job.size = data.size;
    job.flags = flags;
    job.configure = configureJpeg;
    job.row = jpegRow;
    job.datum = &jf;
    const Status st = jpegDecodeScanlines(job);
    if (st != ST_OK) return st == ST_READ_ERROR && readStatus == ST_OK ? ST_CORRUPT : st;
    if (jf.delivered < fr.h->rows) return ST_READ_ERROR;
    return readStatus;
}

Colour colourOf(const DicomHeader& h) {
    if (h.samplesPerPixel == 3) return startsWith(h.photometric, "YBR") ? CL_YBR : CL_RGB;
    if (startsWith(h.photometric, "MONOCHROME1")) return CL_INVERTED;
    if (startsWith(h.photometric, "PALETTE") || (h.hasPalette && h.photometric[0] == 0)) return CL_PALETTE;
    return CL_GREY;
}

// Refusals of what the header describes; ST_OK when it can be decoded.
Status checkHeader(const DicomHeader& h, Colour colour, LoadRequest* request) {
    if (h.rows < 1 || h.rows > MAX_IMAGE_SIDE || h.columns < 1 || h.columns > MAX_IMAGE_SIDE)
        return refuse(request, MSG_BAD_SIZE);
    if (h.samplesPerPixel != 1 && h.samplesPerPixel != 3) return refuse(request, MSG_BAD_SAMPLES);
    if ((h.bitsAllocated != 8 && h.bitsAllocated != 12 && h.bitsAllocated != 16) || h.bitsStored < 1 ||
        h.bitsStored > h.bitsAllocated)
        return refuse(request, MSG_BAD_BITS);
    switch (h.coding) {
    case DC_DEFLATE: return refuse(request, MSG_DEFLATE);
    case DC_LOSSLESS: return refuse(request, MSG_LOSSLESS);
    case DC_OTHER: return refuse(request, MSG_CODING);
    case DC_RAW: if (h.encapsulated) return refuse(request, MSG_CODING); break;
    case DC_RLE:
    case DC_JPEG:
        if (!h.encapsulated) return ST_CORRUPT;
        if (h.bitsAllocated == 12) return refuse(request, MSG_BAD_BITS);
        break;
    }
    if (h.samplesPerPixel == 3 && h.planarByPlane && h.coding == DC_RAW && h.bitsAllocated != 8)
        return refuse(request, MSG_BAD_BITS);
    if (colour == CL_PALETTE && h.bitsAllocated != 8) return refuse(request, MSG_COLOUR);
    if (colour == CL_YBR && h.coding != DC_JPEG && strcmp(h.photometric, "YBR_FULL") != 0)
        return refuse(request, MSG_COLOUR);
    return ST_OK;
}

}  // namespace

// The "DICM" prefix after the preamble, or a data set starting at once with
// a meta (0002) or identifying (0008) element, or (older files) the length
// of its command group (0000,0000).
bool acceptDicom(const uint8_t* head, size_t n, int64_t) {
    if (n >= 132 && memcmp(head + 128, "DICM", 4) == 0) return true;
    if (n < 8) return false;
    const uint16_t group = loadU16LE(head);
    if (group == 0x0000 && loadU16LE(head + 2) == 0)
        return loadU32LE(head + 4) == 4 || (head[4] == 'U' && head[5] == 'L' && loadU16LE(head + 6) == 4);
    if (group != 0x0002 && group != 0x0008) return false;
    const bool letters = head[4] >= 'A' && head[4] <= 'Z' && head[5] >= 'A' && head[5] <= 'Z';
    return letters || loadU32LE(head + 4) < 0x10000;
}

Status readDicom(FILE* stream, LoadRequest* request) {
    DicomHeader h;
    Status st = dicomParse(stream, request->fileSize, &h, request);
    if (st != ST_OK) return st;
    const Colour colour = colourOf(h);
    st = checkHeader(h, colour, request);
    if (st != ST_OK) return st;

    const int32_t frames = h.frames > 0 ? h.frames : 1;
    request->pageCount = frames;
    const int32_t page = request->pageIndex > 0 && request->pageIndex < frames ? request->pageIndex : 0;
    const int32_t spp = h.samplesPerPixel;
    const int64_t samples = static_cast<int64_t>(h.columns) * spp;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = h.columns;
    rh.height = h.rows;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * spp);
    rh.bytesPerPlane = static_cast<int32_t>(samples);
    setRasterName(rh.name, NAME);
    rh.compression = h.coding == DC_RLE ? "RLE" : h.coding == DC_JPEG ? "JPEG" : nullptr;
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    Buffer map = buildMapping(h, colour);
    Buffer values = allocBuffer(static_cast<uint64_t>(samples) * 2);
    Buffer out = allocBuffer(static_cast<uint64_t>(samples));
    if (!map || !values || !out) {
        endImage(0, 8, nullptr);
        return ST_NO_MEMORY;
    }
    Frame fr{};
    fr.h = &h;
    fr.colour = colour;
    fr.samples = static_cast<int32_t>(samples);
    fr.shift = h.highBit + 1 >= h.bitsStored && h.highBit < h.bitsAllocated ? h.highBit + 1 - h.bitsStored : 0;
    fr.mask = (1u << h.bitsStored) - 1;
    fr.map = map.get();
    fr.values = reinterpret_cast<uint16_t*>(values.get());
    fr.out = out.get();

    const uint64_t fileSize = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : 0;
    if (h.coding == DC_RAW) {
        const int64_t n = samples * h.rows;
        const int64_t frameBytes = h.bitsAllocated == 8 ? n : h.bitsAllocated == 16 ? 2 * n : (3 * n + 1) / 2;
        if (page > 0 && !seekTo(stream, static_cast<uint64_t>(ftell(stream)) + static_cast<uint64_t>(page) * frameBytes))
            st = ST_READ_ERROR;
        else if (h.bitsAllocated == 12) st = readPackedRows(stream, fr, h.rows);
        else if (spp == 3 && h.planarByPlane && h.bitsAllocated == 8) st = readPlanarFrame(stream, fr, h.rows);
        else st = readNativeRows(stream, fr, h.rows);
    } else {
        Bytes data;
        const Status readStatus = readFragments(stream, fileSize, h, page, &data);
        if (readStatus != ST_OK && readStatus != ST_READ_ERROR) st = readStatus;
        else if (!data.size) st = ST_READ_ERROR;
        else if (h.coding == DC_RLE) st = decodeRle(fr, data, readStatus, h.rows);
        else st = decodeJpeg(fr, data, readStatus, request->flags, request);
    }
    if (colour == CL_PALETTE) endImage(PF_TRIPLETS, 8, h.palette);
    else endImage(colour == CL_INVERTED ? PF_INVERT : 0, 8, nullptr);
    return st;
}
