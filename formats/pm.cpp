// PM pictures of the University of Pennsylvania picture library, as xv
// reads and writes them (reader only).
//
// Seven 32-bit header fields: the magic "VIEW" (fields and samples
// big-endian) or "WEIV" (little-endian), planes, rows, columns, bands per
// element (1 for pictures), element format and comment length. The planes
// follow from offset 28, one after another, each rows x columns elements,
// top row first, no padding; the comment comes last. Byte elements (0x8001):
// one plane of grey levels, or red, green, blue and an optional alpha plane.
// Integer elements (0x8004): one plane of 32-bit values holding red in the
// low byte, then green, blue and alpha.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_PM[] = "PM";
const char NAME_PM_RGB[] = "PM (RGB)";
const char MSG_FORMAT[] = "PM : Unsupported pixel format !";
constexpr size_t PM_HEADER = 28;
constexpr uint32_t PM_C = 0x8001;
constexpr uint32_t PM_S = 0x8002;
constexpr uint32_t PM_I = 0x8004;
constexpr uint32_t PM_F = 0xC004;
constexpr uint32_t PM_A = 0x8000;

struct PmHeader {
    bool big;
    uint32_t planes, rows, cols, bands, form;
};

// 0: not PM; 1: a picture we show; -1: a PM header of data we do not show.
int pmParse(const uint8_t* b, size_t n, PmHeader* h) {
    if (n < PM_HEADER) return 0;
    if (b[0] == 'V' && b[1] == 'I' && b[2] == 'E' && b[3] == 'W') h->big = true;
    else if (b[0] == 'W' && b[1] == 'E' && b[2] == 'I' && b[3] == 'V') h->big = false;
    else return 0;
    auto field = [&](size_t off) { return h->big ? loadU32BE(b + off) : loadU32LE(b + off); };
    h->planes = field(4);
    h->rows = field(8);
    h->cols = field(12);
    h->bands = field(16);
    h->form = field(20);
    if (h->rows < 1 || h->rows > MAX_IMAGE_SIDE || h->cols < 1 || h->cols > MAX_IMAGE_SIDE) return 0;
    if (h->planes < 1 || h->planes > 1024 || h->bands < 1 || h->bands > 1024) return 0;
    if (h->form != PM_C && h->form != PM_S && h->form != PM_I && h->form != PM_F && h->form != PM_A) return 0;
    if (h->bands != 1) return -1;
    if (h->form == PM_C && (h->planes == 1 || h->planes == 3 || h->planes == 4)) return 1;
    if (h->form == PM_I && h->planes == 1) return 1;
    return -1;
}

}  // namespace

bool acceptPm(const uint8_t* head, size_t n, int64_t) {
    PmHeader h;
    return pmParse(head, n, &h) != 0;
}

Status readPm(FILE* stream, LoadRequest* request) {
    uint8_t head[PM_HEADER];
    PmHeader h;
    if (!readBlock(stream, head, sizeof head)) return ST_UNKNOWN_FORMAT;
    const int parsed = pmParse(head, sizeof head, &h);
    if (parsed == 0) return ST_UNKNOWN_FORMAT;
    if (parsed < 0) {
        setReaderMessage(request, MSG_FORMAT);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.cols);
    rh.height = static_cast<int32_t>(h.rows);
    if (h.form == PM_I) {
        // R,G,B,A in "WEIV" files; the whole word turned round in "VIEW" files.
        rh.layout = h.big ? PL_REVERSED : 0;
        rh.planes = 1;
        rh.bitsPerPlane = 32;
        rh.bytesPerPlane = static_cast<int32_t>(4 * h.cols);
    } else if (h.planes == 1) {
        rh.layout = PL_BYTE_PIXELS;
        rh.planes = 1;
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = rh.width;
    } else {
        rh.layout = PL_CHANNEL_PLANES;
        rh.planes = static_cast<int16_t>(h.planes);
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = rh.width;
    }
    setRasterName(rh.name, h.planes == 1 && h.form == PM_C ? NAME_PM : NAME_PM_RGB);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (rh.layout == PL_CHANNEL_PLANES) {
        for (int p = 0; p < rh.planes && st == ST_OK; ++p) st = readRows(stream, rh.bytesPerPlane, rh.height, p);
    } else {
        st = readRows(stream, rh.bytesPerPlane, rh.height);
    }
    endImage(0, 8, nullptr);
    return st;
}
