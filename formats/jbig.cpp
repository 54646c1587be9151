// JBIG bi-level images (ITU-T T.82) through JBIG-KIT.
//
// A file is one bi-level image entity: a 20-byte header (first and last
// resolution layer, planes, width and height as 32-bit big-endian numbers,
// lines per stripe, template and order options) and the coded data. Files of
// several planes hold grey levels split into bit planes with Gray coding.
#include <cstring>

extern "C" {
#include <jbig.h>
}

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME[] = "JBIG";
const char NAME_WRITE[] = "Jbig";
const char MSG_BAD_SIZE[] = "JBIG : Bad picture's size !";
const char MSG_BAD_PLANES[] = "JBIG : Bad number of planes !";

constexpr size_t HEADER_BYTES = 20;
constexpr size_t CHUNK = 1024;
constexpr int MAX_PLANES = 8;

// The decoder state, freed on every path.
struct DecoderGuard {
    jbg_dec_state s;
    DecoderGuard() { jbg_dec_init(&s); }
    ~DecoderGuard() { jbg_dec_free(&s); }
    DecoderGuard(const DecoderGuard&) = delete;
    DecoderGuard& operator=(const DecoderGuard&) = delete;
};

// Gathers the merged grey bytes that JBIG-KIT hands out into rows.
struct MergeSink {
    uint8_t* row;
    size_t width;
    size_t filled;
    int32_t y;
    int32_t height;
    Status status;
};

void mergedBytes(unsigned char* start, size_t len, void* datum) {
    MergeSink* m = static_cast<MergeSink*>(datum);
    while (len > 0 && m->status == ST_OK && m->y < m->height) {
        size_t k = m->width - m->filled < len ? m->width - m->filled : len;
        memcpy(m->row + m->filled, start, k);
        m->filled += k;
        start += k;
        len -= k;
        if (m->filled == m->width) {
            m->filled = 0;
            m->status = putRows(-1, m->y++, 1);
        }
    }
}

void writeBytes(unsigned char* start, size_t len, void* datum) {
    FILE* f = static_cast<FILE*>(datum);
    if (len) fwrite(start, 1, len, f);
}

}  // namespace

Status readJbig(FILE* stream, LoadRequest* request) {
    unsigned char header[HEADER_BYTES];
    if (!readBlock(stream, header, sizeof header)) return ST_UNKNOWN_FORMAT;
    // The header: DL, D, P, a zero byte, XD, YD, L0, MX, MY, order, options.
    const int planes = header[2];
    const uint32_t width = loadU32BE(header + 4);
    const uint32_t height = loadU32BE(header + 8);
    const uint32_t stripe = loadU32BE(header + 12);
    if (header[3] != 0 || planes == 0 || stripe == 0 || (header[18] & 0xF0) || (header[19] & 0x80))
        return ST_UNKNOWN_FORMAT;
    if (planes > MAX_PLANES) {
        setReaderMessage(request, MSG_BAD_PLANES);
        return ST_BAD_FILE;
    }
    // JBIG-KIT cannot be trusted with sizes far beyond what it is told to accept.
    if (width < 1 || height < 1 || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    // JBIG-KIT decodes the whole picture before a single row is handed over,
    // and its work grows with the picture, not with the file: a few bytes
    // that claim a large picture would take seconds. Ask first, counting a
    // byte a pixel for each plane, as each is a bi-level picture of its own.
    const Status budget = checkPictureBudget(width, height, planes);
    if (budget != ST_OK) return budget;

    DecoderGuard dec;
    jbg_dec_maxsize(&dec.s, MAX_IMAGE_SIDE, MAX_IMAGE_SIDE);
    Buffer buffer = allocBuffer(CHUNK);
    if (!buffer) return ST_NO_MEMORY;
    memcpy(buffer.get(), header, sizeof header);
    size_t length = sizeof header;
    int result = JBG_EAGAIN;
    for (;;) {
        size_t offset = 0;
        while (offset < length) {
            size_t used = 0;
            result = jbg_dec_in(&dec.s, buffer.get() + offset, length - offset, &used);
            offset += used;
            if ((result & 0xF0) != JBG_EAGAIN) break;
            if (used == 0) break;
        }
        if ((result & 0xF0) != JBG_EAGAIN) break;
        length = fread(buffer.get(), 1, CHUNK, stream);
        if (length == 0) break;
    }
    const int code = result & 0xF0;
    if (code == JBG_EAGAIN) return ST_READ_ERROR;  // the file ends before the image does
    if (code != JBG_EOK && code != JBG_EOK_INTR) {
        setReaderMessage(request, jbg_strerror(result));
        return ST_BAD_FILE;
    }

    const int n = jbg_dec_getplanes(&dec.s);
    const unsigned long w = jbg_dec_getwidth(&dec.s);
    const unsigned long h = jbg_dec_getheight(&dec.s);
    if (n < 1 || n > MAX_PLANES || w < 1 || h < 1 || w > MAX_IMAGE_SIDE || h > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.layout = n == 1 ? 0 : PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(w);
    rh.height = static_cast<int32_t>(h);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(n);
    rh.bytesPerPlane = static_cast<int32_t>((static_cast<unsigned long>(n) * w + 7) / 8);
    setRasterName(rh.name, NAME);
    rh.compression = "JBIG";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    if (n == 1) {
        const unsigned char* image = jbg_dec_getimage(&dec.s, 0);
        const size_t rowBytes = (w + 7) / 8;
        for (unsigned long y = 0; image && y < h && st == ST_OK; ++y) {
            st = deliverRow(image + y * rowBytes, static_cast<int64_t>(rowBytes), static_cast<int32_t>(y));
        }
        endImage(PF_INVERT, 8, nullptr);  // a set bit is black
        return st;
    }
    // The merged grey bytes (one a pixel) are gathered in the row buffer itself.
    MergeSink sink{rh.rowBuffer, w, 0, 0, static_cast<int32_t>(h), ST_OK};
    jbg_dec_merge_planes(&dec.s, 1, mergedBytes, &sink);
    endImage(0, 8, nullptr);
    return sink.status;
}

Status writeJbig(FILE* stream, SaveRequest* request) {
    const bool binary = request->kind == IMG_BINARY;
    if (!binary && request->kind != IMG_GREY) return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;
    const unsigned long width = static_cast<unsigned long>(request->width);
    const unsigned long height = static_cast<unsigned long>(request->height);
    // Planes: the fewest bits that hold every level.
    int planes = 1;
    while (!binary && planes < MAX_PLANES && (1 << planes) < request->colours) ++planes;

    WriteHeader wh{};
    wh.layout = binary ? 0 : PL_BYTE_PIXELS;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(binary ? 1 : 8);
    wh.bytesPerPlane = static_cast<int32_t>(binary ? (width + 7) / 8 : width);
    setRasterName(wh.name, NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    const size_t rowBytes = (width + 7) / 8;
    const uint64_t planeBytes = static_cast<uint64_t>(rowBytes) * height;
    Buffer planeStore[MAX_PLANES];
    unsigned char* planePointers[MAX_PLANES] = {};
    for (int p = 0; p < planes; ++p) {
        planeStore[p] = allocBuffer(planeBytes);
        if (!planeStore[p]) {
            endWrite();
            return ST_NO_MEMORY;
        }
        planePointers[p] = planeStore[p].get();
    }
    Buffer grey = binary ? Buffer() : allocBuffer(static_cast<uint64_t>(width) * height);
    if (!binary && !grey) {
        endWrite();
        return ST_NO_MEMORY;
    }
    const int64_t rowLength = writeRowLength();
    for (unsigned long y = 0; y < height && st == ST_OK; ++y) {
        st = getRows(-1, 1);
        if (st != ST_OK) break;
        if (binary) {
            unsigned char* dst = planePointers[0] + y * rowBytes;
            for (size_t i = 0; i < rowBytes && static_cast<int64_t>(i) < rowLength; ++i)
                dst[i] = static_cast<unsigned char>(~wh.rowBuffer[i]);  // in JBIG a set bit is black
            if (width & 7) dst[rowBytes - 1] &= static_cast<unsigned char>(0xFF << (8 - (width & 7)));
        } else {
            memcpy(grey.get() + y * width, wh.rowBuffer, width);
        }
    }
    endWrite();
    if (st != ST_OK) return st;
    if (!binary) jbg_split_planes(width, height, planes, planes, grey.get(), planePointers, 1);

    jbg_enc_state enc;
    jbg_enc_init(&enc, width, height, planes, planePointers, writeBytes, stream);
    jbg_enc_out(&enc);
    jbg_enc_free(&enc);
    if (ferror(stream)) return ST_WRITE_ERROR;
    return ST_OK;
}
