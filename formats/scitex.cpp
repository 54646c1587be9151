// SciTex continuous-tone files (reader only).
//
// A 1024-byte control block (a name, then "CT" at offset 80) and a parameter
// block at 1024: units (1), the number of colour separations (1 grey, 3 R,G,B
// or 4 C,M,Y,K), a separation mask, then the picture size as text: two
// physical sizes in exponent notation and the height and the width in pixels,
// each led by a '+' ("+.26666666E+01+.26666666E+01+00000000256+00000000256").
// Some writers put the parameter block at 942 instead; both are read.
// Pixels start at 2048: for each line from the top, each separation in turn,
// width bytes, padded to an even length. C,M,Y,K values are stored inverted.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_GREY[] = "SciTex (Grayscale)";
const char NAME_RGB[] = "SciTex (RGB)";
const char NAME_CMYK[] = "SciTex (CMYK)";
const char MSG_BAD_SIZE[] = "SciTex : Bad picture's size !";

constexpr size_t SIGNATURE_AT = 80;
constexpr size_t PARAMETERS_AT = 1024;
constexpr size_t PARAMETERS_AT_SHORT = 942;
constexpr size_t SIZE_TEXT_BYTES = 64;  // room for the four numbers
constexpr long PIXELS_AT = 2048;
constexpr size_t HEADER_BYTES = PARAMETERS_AT + 4 + SIZE_TEXT_BYTES;

struct SctHeader {
    int separations;
    int64_t width;
    int64_t height;
};

// Reads one number as "%d" would after the literal text before it: optional
// spaces, an optional sign, at least one digit. Large values saturate.
bool parseNumber(const char** p, const char* end, int64_t* out) {
    const char* s = *p;
    while (s < end && (*s == ' ' || *s == '\t')) ++s;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) negative = *s++ == '-';
    if (s >= end || *s < '0' || *s > '9') return false;
    int64_t v = 0;
    while (s < end && *s >= '0' && *s <= '9') {
        if (v < (int64_t(1) << 40)) v = v * 10 + (*s - '0');
        ++s;
    }
    *out = negative ? -v : v;
    *p = s;
    return true;
}

bool expect(const char** p, const char* end, const char* text) {
    const size_t n = strlen(text);
    if (static_cast<size_t>(end - *p) < n || memcmp(*p, text, n) != 0) return false;
    *p += n;
    return true;
}

// "+.%*dE+%*d+.%*dE+%*d+%d+%d": height and width.
bool parseSize(const uint8_t* text, size_t n, int64_t* height, int64_t* width) {
    const char* p = reinterpret_cast<const char*>(text);
    const char* end = p + n;
    int64_t skipped;
    for (int i = 0; i < 2; ++i) {
        if (!expect(&p, end, "+.") || !parseNumber(&p, end, &skipped) || !expect(&p, end, "E+") ||
            !parseNumber(&p, end, &skipped))
            return false;
    }
    return expect(&p, end, "+") && parseNumber(&p, end, height) && expect(&p, end, "+") &&
           parseNumber(&p, end, width);
}

// The parameter block at `at`: units 1, 1, 3 or 4 separations, a size text.
bool parseParameters(const uint8_t* head, size_t n, size_t at, SctHeader* h) {
    if (n < at + 4) return false;
    const uint8_t* b = head + at;
    if (b[0] != 1 || (b[1] != 1 && b[1] != 3 && b[1] != 4)) return false;
    h->separations = b[1];
    const size_t textBytes = n - at - 4 < SIZE_TEXT_BYTES ? n - at - 4 : SIZE_TEXT_BYTES;
    return parseSize(b + 4, textBytes, &h->height, &h->width);
}

bool parseHeader(const uint8_t* head, size_t n, SctHeader* h) {
    if (n < SIGNATURE_AT + 2 || head[SIGNATURE_AT] != 'C' || head[SIGNATURE_AT + 1] != 'T') return false;
    return parseParameters(head, n, PARAMETERS_AT, h) || parseParameters(head, n, PARAMETERS_AT_SHORT, h);
}

}  // namespace

bool acceptScitex(const uint8_t* head, size_t n, int64_t) {
    SctHeader h{};
    return parseHeader(head, n, &h);
}

Status readScitex(FILE* stream, LoadRequest* request) {
    uint8_t head[HEADER_BYTES];
    const size_t got = fread(head, 1, sizeof head, stream);
    SctHeader h{};
    if (!parseHeader(head, got, &h)) return ST_UNKNOWN_FORMAT;
    if (h.width < 1 || h.width > MAX_IMAGE_SIDE || h.height < 1 || h.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (!seekTo(stream, PIXELS_AT)) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = PL_CHANNEL_PLANES | (h.separations == 4 ? PL_CMYK_INV : 0);
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = static_cast<int16_t>(h.separations);
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, h.separations == 1 ? NAME_GREY : h.separations == 3 ? NAME_RGB : NAME_CMYK);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // Each separation line is padded to an even number of bytes.
    Buffer line = allocBuffer(static_cast<uint64_t>(rh.width));
    if (!line) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
        for (int p = 0; st == ST_OK && p < h.separations; ++p) {
            if (!readBlock(stream, line.get(), static_cast<size_t>(rh.width))) {
                st = ST_READ_ERROR;
                break;
            }
            if (rh.width & 1) getc(stream);  // the pad byte; the file's last one may be missing
            st = deliverRow(line.get(), rh.width, y, p);
        }
    }
    endImage(0, 8, nullptr);
    return st;
}
