// SBIG CCD camera pictures (reader only).
//
// The CCDOPS files of the ST-4X, ST-5, ST-6, ST-7, ST-8 and later cameras:
// a 2048-byte text header whose first line names the camera and the variety
// ("ST-7 Image", "ST-6 Compressed Image"), then "Keyword = value" lines up to
// "End" (lines end LF CR; CR LF and bare LF are taken too). Height and Width
// size the picture; Background and Range give the display window the camera
// software used, Sat_level the saturation value (65535 when missing). From
// offset 2048, 16-bit little-endian samples, rows top first. A compressed
// file starts each row with a 16-bit length L of the bytes that follow; when
// L is twice the width the row is stored plain, otherwise the first sample is
// whole and each next byte is a signed difference from the previous sample,
// 0x80 escaping a whole 16-bit sample.
//
// The ST-4 camera's own files are 192 x 165 bytes of 8-bit samples, rows top
// first, then a 192-byte footer: 'v', a comment and text numbers (exposure,
// focal length, aperture, calibration). They are known by their size and
// footer.
//
// Samples are shown through the display window when the header gives a
// range, otherwise spread from 0 to the saturation value.
#include <cstdio>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_ROW[] = "SBIG : Bad row length !";
const char NAME_ST4[] = "SBIG CCD ST-4";

constexpr size_t HEADER_BYTES = 2048;
constexpr int32_t ST4_WIDTH = 192;
constexpr int32_t ST4_HEIGHT = 165;
constexpr int64_t ST4_SIZE = (ST4_HEIGHT + 1) * ST4_WIDTH;  // the footer is one row long
constexpr int ST4_FOOTER = ST4_WIDTH;

struct SbigHeader {
    char model[16] = {};  // "ST-7"
    bool compressed = false;
    int64_t width = 0, height = 0;
    int64_t background = 0, range = 0, saturation = 65535;
};

bool caseEqual(const char* a, size_t n, const char* b) {
    if (strlen(b) != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

// A decimal integer (an optional sign) filling p[0..n) but for spaces.
bool parseInteger(const char* p, size_t n, int64_t* out) {
    size_t i = 0;
    while (i < n && p[i] == ' ') ++i;
    bool negative = false;
    if (i < n && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
    if (i == n || p[i] < '0' || p[i] > '9') return false;
    int64_t v = 0;
    while (i < n && p[i] >= '0' && p[i] <= '9') {
        if (v < 1000000000) v = v * 10 + (p[i] - '0');
        ++i;
    }
    while (i < n && p[i] == ' ') ++i;
    if (i != n) return false;
    *out = negative ? -v : v;
    return true;
}

// The header's lines: the camera line, keywords, "End". False when it is not
// a CCDOPS header with a usable size.
bool sbigParse(const uint8_t* b, size_t n, SbigHeader* h) {
    if (n < 8 || memcmp(b, "ST-", 3) != 0) return false;
    const char* text = reinterpret_cast<const char*>(b);
    size_t at = 0, lineNo = 0;
    bool haveWidth = false, haveHeight = false;
    while (at < n) {
        size_t end = at;
        while (end < n && b[end] != '\n' && b[end] != '\r') ++end;
        if (end == n) return false;  // no "End" line
        const char* line = text + at;
        size_t len = end - at;
        for (size_t i = 0; i < len; ++i)
            if (static_cast<uint8_t>(line[i]) < 0x20 && line[i] != '\t') return false;
        // Skip the line end, whichever pair it is.
        at = end + 1;
        if (at < n && (b[at] == '\n' || b[at] == '\r') && b[at] != b[end]) ++at;
        if (lineNo++ == 0) {
            if (len < 9 || len > 40 || memcmp(line + len - 5, "Image", 5) != 0) return false;
            size_t m = 3;
            while (m < len && line[m] != ' ') ++m;
            if (m > 10) return false;
            memcpy(h->model, line, m);
            for (size_t i = 0; i + 10 <= len; ++i)
                if (memcmp(line + i, "Compressed", 10) == 0) h->compressed = true;
            continue;
        }
        if (len == 0) continue;
        if (caseEqual(line, len, "end")) return haveWidth && haveHeight;
        const char* eq = static_cast<const char*>(memchr(line, '=', len));
        if (!eq) continue;  // free text (Note, History) may hold anything
        size_t keyLen = static_cast<size_t>(eq - line);
        while (keyLen > 0 && line[keyLen - 1] == ' ') --keyLen;
        const char* value = eq + 1;
        const size_t valueLen = len - static_cast<size_t>(value - line);
        int64_t v;
        if (caseEqual(line, keyLen, "width")) {
            if (!parseInteger(value, valueLen, &v) || v < 1 || v > MAX_IMAGE_SIDE) return false;
            h->width = v;
            haveWidth = true;
        } else if (caseEqual(line, keyLen, "height")) {
            if (!parseInteger(value, valueLen, &v) || v < 1 || v > MAX_IMAGE_SIDE) return false;
            h->height = v;
            haveHeight = true;
        } else if (caseEqual(line, keyLen, "background")) {
            if (parseInteger(value, valueLen, &v)) h->background = v;
        } else if (caseEqual(line, keyLen, "range")) {
            if (parseInteger(value, valueLen, &v) && v > 0 && v <= 1000000) h->range = v;
        } else if (caseEqual(line, keyLen, "sat_level")) {
            if (parseInteger(value, valueLen, &v) && v > 0 && v <= 1000000) h->saturation = v;
        }
    }
    return false;
}

// The ST-4 footer: 'v', a text comment, then numbers as text.
bool st4Footer(const uint8_t* f) {
    if (f[0] != 'v') return false;
    for (int i = 1; i < 79; ++i)
        if ((f[i] < 0x20 || f[i] > 0x7E) && f[i] != 0) return false;
    for (int i = 79; i < 119; ++i) {
        const uint8_t c = f[i];
        if (!(c == ' ' || c == 0 || c == '.' || c == '-' || c == '+' || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

struct Window {
    int32_t width;
    int64_t low, span;  // samples low .. low + span map to 0 .. 255
};

uint8_t toByte(const Window& w, int64_t v) {
    v -= w.low;
    if (v <= 0) return 0;
    if (v >= w.span) return 255;
    return static_cast<uint8_t>(v * 255 / w.span);
}

void plainRow(const void* data, const uint8_t* stored, uint8_t* out) {
    const Window& w = *static_cast<const Window*>(data);
    for (int32_t x = 0; x < w.width; ++x) out[x] = toByte(w, loadU16LE(stored + 2 * x));
}

// Compressed rows: a length, then a whole first sample and differences.
Status readCompressed(FILE* f, const Window& w, int32_t height) {
    Buffer coded = allocBuffer(65536);
    Buffer row = allocBuffer(static_cast<uint64_t>(w.width));
    if (!coded || !row) return ST_NO_MEMORY;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t lb[2];
        if (!readBlock(f, lb, 2)) return ST_READ_ERROR;
        const uint32_t length = loadU16LE(lb);
        if (length < 2) return ST_CORRUPT;
        const size_t got = fread(coded.get(), 1, length, f);
        const uint8_t* p = coded.get();
        bool whole = true;
        if (length == 2u * static_cast<uint32_t>(w.width)) {
            if (got < length) return ST_READ_ERROR;
            for (int32_t x = 0; x < w.width; ++x) row[x] = toByte(w, loadU16LE(p + 2 * x));
        } else {
            size_t at = 2;
            uint32_t v = got >= 2 ? loadU16LE(p) : 0;
            whole = got >= 2;
            if (whole) row[0] = toByte(w, v);
            for (int32_t x = 1; x < w.width && whole; ++x) {
                if (at >= got) {
                    whole = false;
                    break;
                }
                const uint8_t d = p[at++];
                if (d == 0x80) {
                    if (at + 2 > got) {
                        whole = false;
                        break;
                    }
                    v = loadU16LE(p + at);
                    at += 2;
                } else {
                    v = (v + static_cast<uint32_t>(static_cast<int8_t>(d))) & 0xFFFF;
                }
                row[x] = toByte(w, v);
            }
        }
        if (!whole) {
            if (got < length) return ST_READ_ERROR;  // the file ends inside the row
            return ST_CORRUPT;                        // a row coding fewer samples than the width
        }
        const Status st = deliverRow(row.get(), w.width, y);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

Status readSt4(FILE* f, LoadRequest*) {
    uint8_t footer[ST4_FOOTER];
    if (!seekTo(f, ST4_SIZE - ST4_FOOTER) || !readBlock(f, footer, sizeof footer) || !st4Footer(footer))
        return ST_UNKNOWN_FORMAT;
    if (!seekTo(f, 0)) return ST_READ_ERROR;
    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = ST4_WIDTH;
    rh.height = ST4_HEIGHT;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = ST4_WIDTH;
    setRasterName(rh.name, NAME_ST4);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(f, ST4_WIDTH, ST4_HEIGHT);
    endImage(0, 0, nullptr);
    return st;
}

}  // namespace

bool acceptSbig(const uint8_t* head, size_t n, int64_t fileSize) {
    if (fileSize == ST4_SIZE && !(n >= 3 && memcmp(head, "ST-", 3) == 0)) return true;  // footer checked by the reader
    SbigHeader h;
    return fileSize > static_cast<int64_t>(HEADER_BYTES) && sbigParse(head, n < HEADER_BYTES ? n : HEADER_BYTES, &h);
}

Status readSbig(FILE* stream, LoadRequest* request) {
    uint8_t head[HEADER_BYTES];
    const size_t n = fread(head, 1, sizeof head, stream);
    SbigHeader h;
    if (n < 3 || memcmp(head, "ST-", 3) != 0) {
        if (request->fileSize == ST4_SIZE) return readSt4(stream, request);
        return ST_UNKNOWN_FORMAT;
    }
    if (!sbigParse(head, n, &h)) return ST_UNKNOWN_FORMAT;
    if (!seekTo(stream, HEADER_BYTES)) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    char name[RASTER_NAME_LEN];
    snprintf(name, sizeof name, "SBIG CCD %s%s", h.model, h.compressed ? " (Compressed)" : "");
    setRasterName(rh.name, name);
    rh.compression = h.compressed ? "Delta" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    Window w{rh.width, h.range > 0 ? h.background : 0, h.range > 0 ? h.range : h.saturation};
    if (h.compressed) {
        st = readCompressed(stream, w, rh.height);
        if (st == ST_CORRUPT) setReaderMessage(request, MSG_BAD_ROW);
    } else {
        st = readRows(stream, 2 * h.width, rh.height, -1, plainRow, &w);
    }
    endImage(0, 0, nullptr);
    return st;
}
