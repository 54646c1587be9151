// Graphing calculator pictures: HP-48/49 graphic objects (GROB) and Texas
// Instruments pictures (readers and writers).
//
// GROB, binary form: "HPHP48-" or "HPHP49-" and a revision letter, then a
// header of twenty 4-bit units, low unit first (type tag 0x02B1E, size,
// height, width: five units each, least significant first), then the rows.
// A row holds ceil(width / 4) units rounded up to an even number; on screen
// the low unit of each byte comes first and the least significant bit of a
// unit is the leftmost pixel, so a byte is shown with its bits reversed. A set
// bit is black. ASCII form: a "%%HP: ...;" line, "GROB width height", then the
// rows as hexadecimal digits, each digit one unit in the same order. Grey
// pictures stack their bit planes vertically, the most significant first.
//
// TI pictures: an 8-byte signature names the calculator. TI-73/82/83 store a
// 96 x 63 picture, TI-85/86 a 128 x 63 one, each after a short variable
// header; TI-89/92 files carry a header with the picture's size and end with
// 0xDF and a 16-bit checksum. Rows of whole bytes, most significant bit
// leftmost, a set bit black.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

// ---- GROB ---------------------------------------------------------------------------

const char NAME_GROB_BINARY[] = "HP-%d Grob (Rev %c) Bitmap file";
const char NAME_GROB_ASCII[] = "HP-%d Grob Ascii Bitmap file";
const char NAME_GROB_WRITE[] = "HP-48 Grob file";
const char MSG_GROB_DIGIT[] = "GROB : Bad hexadecimal digit !";

constexpr uint32_t GROB_TAG = 0x02B1E;
constexpr size_t GROB_HEADER_SIZE = 18;
constexpr int ASCII_FIRST_LINE = 20;  // the ";" of the first line comes within this many characters
constexpr int ASCII_NUMBER_DIGITS = 6;

// Five 4-bit units, least significant first, starting at unit u of p.
uint32_t grobField(const uint8_t* p, int u) {
    uint32_t v = 0;
    for (int i = 4; i >= 0; --i) {
        const int k = u + i;
        v = (v << 4) | ((p[k / 2] >> (4 * (k & 1))) & 0xF);
    }
    return v;
}

void grobPutField(uint8_t* p, int u, uint32_t v) {
    for (int i = 0; i < 5; ++i, v >>= 4) {
        const int k = u + i;
        p[k / 2] = static_cast<uint8_t>(p[k / 2] | ((v & 0xF) << (4 * (k & 1))));
    }
}

// Stored bytes of one row: ceil(width / 4) units, made even, two a byte.
int64_t grobRowBytes(int64_t width) {
    const int64_t units = (width + 3) / 4;
    return (units + (units & 1)) / 2;
}

struct GrobHeader {
    bool ascii;
    int model;
    char revision;
    uint32_t width;
    uint32_t rows;  // stored rows, every plane
};

bool grobBinaryHeader(const uint8_t* p, size_t n, GrobHeader* h) {
    if (n < GROB_HEADER_SIZE || (memcmp(p, "HPHP48-", 7) != 0 && memcmp(p, "HPHP49-", 7) != 0)) return false;
    if (grobField(p + 8, 0) != GROB_TAG) return false;
    h->ascii = false;
    h->model = p[5] == '8' ? 48 : 49;
    h->revision = static_cast<char>(p[7]);
    h->rows = grobField(p + 8, 10);
    h->width = grobField(p + 8, 15);
    return true;
}

// A decimal number of the ASCII header; false when none is there.
bool grobNumber(const uint8_t* p, size_t n, size_t* at, uint32_t* value) {
    size_t i = *at;
    uint32_t v = 0;
    int digits = 0;
    while (i < n && p[i] >= '0' && p[i] <= '9' && digits < ASCII_NUMBER_DIGITS) {
        v = v * 10 + (p[i++] - '0');
        ++digits;
    }
    if (digits == 0 || (i < n && p[i] >= '0' && p[i] <= '9')) return false;
    *at = i;
    *value = v;
    return true;
}

// The ASCII header within p; *length is where the digits start.
bool grobAsciiHeader(const uint8_t* p, size_t n, GrobHeader* h, size_t* length) {
    if (n < 5 || memcmp(p, "%%HP:", 5) != 0) return false;
    size_t i = 5;
    while (i < n && i < ASCII_FIRST_LINE && p[i] != ';') ++i;
    if (i >= n || p[i] != ';') return false;
    ++i;
    if (i >= n || p[i] != '\r') return false;
    ++i;
    if (i < n && p[i] == '\n') ++i;
    if (n - i < 5 || memcmp(p + i, "GROB ", 5) != 0) return false;
    i += 5;
    if (!grobNumber(p, n, &i, &h->width) || i >= n || p[i] != ' ') return false;
    ++i;
    if (!grobNumber(p, n, &i, &h->rows) || i >= n || (p[i] != '\r' && p[i] != ' ')) return false;
    ++i;
    if (i < n && p[i] == '\n') ++i;
    h->ascii = true;
    h->model = 48;
    h->revision = 0;
    *length = i;
    return true;
}

// Value of a hexadecimal digit, -1 for anything else.
int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Fills n bytes from the ASCII digits (line ends and spaces between them are
// skipped); returns the bytes read, *bad when a character is no digit.
int64_t grobReadDigits(FILE* f, uint8_t* out, int64_t n, bool* bad) {
    int64_t got = 0;
    int units = 0;
    uint8_t byte = 0;
    while (got < n) {
        const int c = getc(f);
        if (c == EOF) break;
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        const int v = hexValue(c);
        if (v < 0) {
            *bad = true;
            break;
        }
        // The first digit of a byte is its low unit.
        byte = static_cast<uint8_t>(units == 0 ? v : byte | (v << 4));
        if (++units == 2) {
            out[got++] = byte;
            units = 0;
        }
    }
    return got;
}

// ---- TI -------------------------------------------------------------------------------

const char NAME_TI92_WRITE[] = "TI-92 Bitmap file";
constexpr size_t TI_SIGNATURE_SIZE = 8;
constexpr size_t TI92_HEADER_SIZE = 92;
constexpr int TI92_MAX_WIDTH = 239;
constexpr int TI92_MAX_HEIGHT = 103;
const uint8_t TI92_PICTURE_TYPE[4] = {0x52, 0x00, 0x00, 0x00};
constexpr uint8_t TI92_END = 0xDF;

struct TiModel {
    const char* signature;
    const char* name;
    int family;  // 83: TI-73/82/83 layout, 85: TI-85/86, 92: TI-89/92
};

const TiModel TI_MODELS[] = {
    {"**TI73**", "Ti-73 Bitmap file", 83}, {"**TI82**", "Ti-82 Bitmap file", 83},
    {"**TI83**", "Ti-83 Bitmap file", 83}, {"**TI85**", "Ti-85 Bitmap file", 85},
    {"**TI86**", "Ti-86 Bitmap file", 85}, {"**TI89**", "Ti-89 Bitmap file", 92},
    {"**TI92**", "Ti-92 Bitmap file", 92},
};

const TiModel* tiModel(const uint8_t* p) {
    for (const TiModel& m : TI_MODELS)
        if (memcmp(p, m.signature, TI_SIGNATURE_SIZE) == 0) return &m;
    return nullptr;
}

struct TiPicture {
    int32_t width;
    int32_t height;
    size_t dataStart;
};

// Where the picture is and its size, from the file's first bytes.
bool tiLocate(const uint8_t* p, size_t n, const TiModel& m, TiPicture* pic) {
    if (m.family == 83) {
        if (n < 72) return false;
        const uint16_t size = loadU16LE(p + 70);
        if (size != 752 && size != 756 && size != 758) return false;
        *pic = {96, 63, size == 758 ? size_t(74) : size_t(72)};
        return true;
    }
    if (m.family == 85) {
        if (n < 69 || p[67] != 0xF0 || p[68] != 0x03) return false;
        *pic = {128, 63, 69};
        return true;
    }
    if (n < TI92_HEADER_SIZE || p[8] != 0x01 || p[9] != 0x00 || p[58] != 0x01 || p[59] != 0x00 ||
        loadU32BE(p + 60) != 0x52000000u || loadU32BE(p + 72) != 0x10000000u || loadU32BE(p + 80) != 0xA55A0000u)
        return false;
    const int height = loadU16BE(p + 88), width = loadU16BE(p + 90);
    if (height < 1 || height > TI92_MAX_HEIGHT || width < 1 || width > TI92_MAX_WIDTH) return false;
    *pic = {width, height, TI92_HEADER_SIZE};
    return true;
}

// Rows of the TI-92 writer (fetched with 1 for black): summed into the checksum, written.
Status tiWriteRow(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
    uint32_t& sum = *static_cast<uint32_t*>(data);
    for (int64_t i = 0; i < rowBytes; ++i) sum += row[i];
    return writeBlock(f, row, static_cast<size_t>(rowBytes)) ? ST_OK : ST_WRITE_ERROR;
}

}  // namespace

bool acceptGrob(const uint8_t* head, size_t n, int64_t) {
    GrobHeader h;
    size_t length;
    return grobBinaryHeader(head, n, &h) || grobAsciiHeader(head, n, &h, &length);
}

Status readGrob(FILE* stream, LoadRequest* request) {
    uint8_t head[64];
    const size_t n = fread(head, 1, sizeof head, stream);
    GrobHeader h{};
    size_t dataStart = GROB_HEADER_SIZE;
    if (!grobBinaryHeader(head, n, &h) && !grobAsciiHeader(head, n, &h, &dataStart)) return ST_UNKNOWN_FORMAT;
    if (!seekTo(stream, dataStart)) return ST_READ_ERROR;

    // Planes: 2 or 3 stacked when asked and the height allows it.
    int planes = request->readerParameter2 >= 1 && request->readerParameter2 <= 3 ? request->readerParameter2 : 1;
    if (h.rows % planes != 0) planes = 1;
    const int64_t rowBytes = grobRowBytes(h.width);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.rows / planes);
    rh.planes = static_cast<int16_t>(planes);
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    char name[RASTER_NAME_LEN];
    if (h.ascii) snprintf(name, sizeof name, NAME_GROB_ASCII, h.model);
    else snprintf(name, sizeof name, NAME_GROB_BINARY, h.model, h.revision);
    setRasterName(rh.name, name);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // The whole stored picture, in screen order.
    const int64_t total = rowBytes * h.rows;
    Buffer all = allocBuffer(static_cast<uint64_t>(total));
    Buffer line = allocBuffer(static_cast<uint64_t>(rowBytes * planes));
    if (!all || !line) {
        endImage(PF_INVERT, 8, nullptr);
        return ST_NO_MEMORY;
    }
    bool bad = false;
    const int64_t got = h.ascii ? grobReadDigits(stream, all.get(), total, &bad)
                                : static_cast<int64_t>(fread(all.get(), 1, static_cast<size_t>(total), stream));
    reversePixelFields(all.get(), got, 1);
    if (bad) setReaderMessage(request, MSG_GROB_DIGIT);

    // Output row y takes plane i from stored row (planes - 1 - i) x height + y.
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y) {
        for (int i = 0; i < planes; ++i)
            memcpy(line.get() + i * rowBytes, all.get() + ((planes - 1 - i) * int64_t(rh.height) + y) * rowBytes,
                   static_cast<size_t>(rowBytes));
        st = deliverRow(line.get(), rowBytes * planes, y);
    }
    endImage(PF_INVERT, 8, nullptr);  // a set bit is black
    if (st != ST_OK) return st;
    if (bad) return ST_CORRUPT;
    return got < total ? ST_READ_ERROR : ST_OK;
}

Status writeGrob(FILE* stream, SaveRequest* request) {
    int planes;
    if (request->kind == IMG_BINARY) planes = 1;
    else if (request->kind == IMG_GREY && request->colours <= 8) planes = request->colours <= 4 ? 2 : 3;
    else return ST_KIND_REFUSED;
    const int64_t rows = int64_t(planes) * request->height;
    if (request->width < 1 || request->height < 1 || request->width > 0xFFFFF || rows > 0xFFFFF)
        return ST_KIND_REFUSED;
    const int64_t rowBytes = grobRowBytes(request->width);
    const int64_t units = rowBytes * 2;
    if (units * rows + 15 > 0xFFFFF) return ST_KIND_REFUSED;

    uint8_t head[GROB_HEADER_SIZE] = {'H', 'P', 'H', 'P', '4', '8', '-', 'E'};
    grobPutField(head + 8, 0, GROB_TAG);
    grobPutField(head + 8, 5, static_cast<uint32_t>(units * rows + 15));
    grobPutField(head + 8, 10, static_cast<uint32_t>(rows));
    grobPutField(head + 8, 15, static_cast<uint32_t>(request->width));

    // Line planes of one bit, 1 black; the whole stacked picture is built first.
    Buffer all = allocBuffer(static_cast<uint64_t>(rowBytes * rows));
    if (!all) return ST_NO_MEMORY;
    WriteHeader wh{};
    wh.layout = PL_MIN_IS_WHITE;
    wh.channels = 1;
    wh.planes = static_cast<int16_t>(planes);
    wh.bitsPerPlane = 1;
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(wh.name, NAME_GROB_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    Buffer line = allocBuffer(static_cast<uint64_t>(rowBytes * planes));
    if (!line) st = ST_NO_MEMORY;
    for (int32_t y = 0; y < request->height && st == ST_OK; ++y) {
        st = fetchRow(y, line.get(), rowBytes * planes);
        for (int i = 0; i < planes && st == ST_OK; ++i)
            memcpy(all.get() + ((planes - 1 - i) * int64_t(request->height) + y) * rowBytes, line.get() + i * rowBytes,
                   static_cast<size_t>(rowBytes));
    }
    endWrite();
    if (st != ST_OK) return st;
    reversePixelFields(all.get(), rowBytes * rows, 1);
    if (!writeBlock(stream, head, sizeof head) || !writeBlock(stream, all.get(), static_cast<size_t>(rowBytes * rows)) ||
        fflush(stream) != 0)
        return ST_WRITE_ERROR;
    return ST_OK;
}

bool acceptTi(const uint8_t* head, size_t n, int64_t) {
    if (n < TI_SIGNATURE_SIZE) return false;
    const TiModel* m = tiModel(head);
    TiPicture pic;
    return m && tiLocate(head, n, *m, &pic);
}

Status readTi(FILE* stream, LoadRequest* request) {
    (void)request;
    uint8_t head[TI92_HEADER_SIZE];
    const size_t n = fread(head, 1, sizeof head, stream);
    const TiModel* m = n >= TI_SIGNATURE_SIZE ? tiModel(head) : nullptr;
    TiPicture pic{};
    if (!m || !tiLocate(head, n, *m, &pic)) return ST_UNKNOWN_FORMAT;
    if (!seekTo(stream, pic.dataStart)) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = pic.width;
    rh.height = pic.height;
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = (pic.width + 7) / 8;
    setRasterName(rh.name, m->name);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(PF_INVERT, 8, nullptr);  // a set bit is black
    return st;
}

Status writeTi(FILE* stream, SaveRequest* request) {
    if (request->kind != IMG_BINARY) return ST_KIND_REFUSED;
    // Larger pictures would not read back.
    if (request->width < 1 || request->height < 1 || request->width > TI92_MAX_WIDTH ||
        request->height > TI92_MAX_HEIGHT)
        return ST_KIND_REFUSED;
    const int64_t rowBytes = (request->width + 7) / 8;
    const uint32_t dataBytes = static_cast<uint32_t>(rowBytes * request->height);

    uint8_t h[TI92_HEADER_SIZE] = {};
    memcpy(h, "**TI92**", TI_SIGNATURE_SIZE);
    h[8] = 0x01;
    memcpy(h + 10, "KAleos", 6);
    h[58] = 0x01;
    memcpy(h + 60, TI92_PICTURE_TYPE, 4);
    memcpy(h + 64, "KAleos", 6);
    h[72] = 0x10;
    for (int i = 0; i < 4; ++i) h[76 + i] = static_cast<uint8_t>((dataBytes + 95) >> (8 * i));
    h[80] = 0xA5;
    h[81] = 0x5A;
    h[86] = static_cast<uint8_t>((dataBytes + 5) >> 8);
    h[87] = static_cast<uint8_t>(dataBytes + 5);
    h[88] = static_cast<uint8_t>(request->height >> 8);
    h[89] = static_cast<uint8_t>(request->height);
    h[90] = static_cast<uint8_t>(request->width >> 8);
    h[91] = static_cast<uint8_t>(request->width);
    uint32_t sum = TI92_END;
    for (int i = 86; i < 92; ++i) sum += h[i];
    if (!writeBlock(stream, h, sizeof h)) return ST_WRITE_ERROR;

    WriteHeader wh{};
    wh.layout = PL_MIN_IS_WHITE;  // a set bit is black
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 1;
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(wh.name, NAME_TI92_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    st = writeRows(stream, rowBytes, request->height, tiWriteRow, &sum);
    endWrite();
    if (st != ST_OK) return st;
    putc(TI92_END, stream);
    writeU16LE(stream, sum & 0xFFFF);
    if (fflush(stream) != 0 || ferror(stream)) return ST_WRITE_ERROR;
    return ST_OK;
}
