// FITS primary arrays (reader only).
//
// The file is a run of 2880-byte records. The header is made of 80-column
// text cards, SIMPLE = T first, then BITPIX, NAXIS and the NAXISn, up to an
// END card; the data begin at the record after it. Samples are big-endian:
// bytes (BITPIX 8), signed 16, 32 and 64-bit integers, or IEEE single and
// double floats (BITPIX -32 and -64), stored plane after plane, row after row,
// the first row being the bottom of the picture.
//
// The physical value of a sample is BZERO + BSCALE x stored; the values are
// spread over 0..255 between DATAMIN and DATAMAX, or between the smallest and
// largest values of the planes shown when those are not given (BLANK samples
// and NaNs are left out and shown black). Bytes without scaling are shown as
// they are. Three planes are one R,G,B picture; other counts of planes are
// pages. A file whose primary array is empty keeps its picture in the first
// IMAGE extension; the units before it are skipped by their sizes.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_BITPIX[] = "FITS : Unsupported BITPIX !";
const char MSG_NO_IMAGE[] = "FITS : No image in file !";

constexpr int RECORD = 2880;
constexpr int CARD = 80;
constexpr int MAX_HEADER_RECORDS = 1000;
constexpr int MAX_UNITS = 256;

struct FitsHeader {
    int bitpix = 0;
    int64_t naxis = -1;
    int64_t axes[3] = {1, 1, 1};
    double bzero = 0;
    double bscale = 1;
    double dataMin = 0;
    double dataMax = 0;
    bool haveMin = false;
    bool haveMax = false;
    bool haveBlank = false;
    int64_t blank = 0;
    uint64_t dataStart = 0;
    bool image = true;      // a primary array or an IMAGE extension
    uint64_t dataBytes = 0;  // the data's length, 0 when it cannot be told
    int64_t pcount = 0;
    int64_t gcount = 1;
    uint64_t samples = 1;   // product of the axes
    bool samplesKnown = true;
};

bool bitpixValid(long v) { return v == 8 || v == 16 || v == 32 || v == 64 || v == -32 || v == -64; }

// The keyword of a card, without its trailing spaces, into kw (9 bytes).
void keywordOf(const char* card, char* kw) {
    int n = 8;
    while (n > 0 && card[n - 1] == ' ') --n;
    memcpy(kw, card, n);
    kw[n] = '\0';
}

// The number in the value field of a valued card (columns 11 to the comment),
// 'D' exponents accepted.
bool cardNumber(const char* card, double* out) {
    if (card[8] != '=') return false;
    char text[CARD];
    int n = 0;
    for (int i = 10; i < CARD && card[i] != '/'; ++i) {
        const char c = card[i];
        if (c == ' ') continue;
        text[n++] = c == 'D' || c == 'd' ? 'E' : c;
    }
    text[n] = '\0';
    if (n == 0) return false;
    char* end = nullptr;
    const double v = strtod(text, &end);
    if (end != text + n || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool cardInteger(const char* card, long* out) {
    double v;
    if (!cardNumber(card, &v) || v != std::floor(v) || std::fabs(v) > 9.0e15) return false;
    *out = static_cast<long>(v);
    return true;
}

bool cardIs(const char* card, const char* keyword) {
    char kw[9];
    keywordOf(card, kw);
    return strcmp(kw, keyword) == 0;
}

// The first cards as identification wants them: SIMPLE = T, BITPIX, NAXIS.
bool fitsSignature(const uint8_t* head, size_t n) {
    if (n < 3 * CARD) return false;
    const char* c = reinterpret_cast<const char*>(head);
    if (!cardIs(c, "SIMPLE") || c[8] != '=') return false;
    int i = 10;
    while (i < CARD && c[i] == ' ') ++i;
    if (i == CARD || c[i] != 'T') return false;
    long bitpix, naxis;
    if (!cardIs(c + CARD, "BITPIX") || !cardInteger(c + CARD, &bitpix) || !bitpixValid(bitpix)) return false;
    return cardIs(c + 2 * CARD, "NAXIS") && cardInteger(c + 2 * CARD, &naxis) && (naxis == 0 || naxis >= 2) &&
           naxis <= 999;
}

// The string value of a card, without quotes and trailing spaces.
void cardString(const char* card, char* out, size_t size) {
    size_t n = 0;
    int i = 10;
    while (i < CARD && card[i] == ' ') ++i;
    if (i < CARD && card[i] == '\'') ++i;
    while (i < CARD && card[i] != '\'' && n + 1 < size) out[n++] = card[i++];
    while (n > 0 && out[n - 1] == ' ') --n;
    out[n] = '\0';
}

// Reads the header of the unit at start (the primary one when start is 0).
Status fitsReadHeader(FILE* f, uint64_t start, FitsHeader* h) {
    char record[RECORD];
    for (int r = 0; r < MAX_HEADER_RECORDS; ++r) {
        if (!readBlock(f, record, sizeof record)) return ST_READ_ERROR;
        if (r == 0 && start == 0 && !fitsSignature(reinterpret_cast<const uint8_t*>(record), sizeof record))
            return ST_UNKNOWN_FORMAT;
        if (r == 0 && start > 0) {
            if (!cardIs(record, "XTENSION")) return ST_CORRUPT;
            char type[16];
            cardString(record, type, sizeof type);
            h->image = strcmp(type, "IMAGE") == 0;
        }
        for (int k = 0; k < RECORD / CARD; ++k) {
            const char* card = record + k * CARD;
            char kw[9];
            keywordOf(card, kw);
            if (strcmp(kw, "END") == 0) {
                h->dataStart = start + static_cast<uint64_t>(r + 1) * RECORD;
                // |BITPIX| / 8 x GCOUNT x (PCOUNT + the product of the axes)
                uint64_t total = 0;
                const bool sized = h->samplesKnown && h->pcount >= 0 && h->gcount >= 0 && bitpixValid(h->bitpix);
                if (h->naxis == 0) h->dataBytes = 0;
                else if (sized && mulFits(h->samples + h->pcount, static_cast<uint64_t>(h->gcount), 1ull << 50, &total))
                    h->dataBytes = total * static_cast<uint64_t>(std::abs(h->bitpix) / 8);
                else h->dataBytes = 0, h->samplesKnown = false;
                return ST_OK;
            }
            long iv;
            double dv;
            if (strcmp(kw, "BITPIX") == 0 && cardInteger(card, &iv)) h->bitpix = static_cast<int>(iv);
            else if (strcmp(kw, "NAXIS") == 0 && cardInteger(card, &iv)) h->naxis = iv;
            else if (strncmp(kw, "NAXIS", 5) == 0 && kw[5] >= '1' && kw[5] <= '9' && cardInteger(card, &iv)) {
                if (kw[6] == '\0' && kw[5] <= '3') h->axes[kw[5] - '1'] = iv;
                if (iv < 0 || !mulFits(h->samples, static_cast<uint64_t>(iv), 1ull << 48, &h->samples))
                    h->samplesKnown = false;
            }
            else if (strcmp(kw, "PCOUNT") == 0 && cardInteger(card, &iv)) h->pcount = iv;
            else if (strcmp(kw, "GCOUNT") == 0 && cardInteger(card, &iv)) h->gcount = iv;
            else if (strcmp(kw, "BZERO") == 0 && cardNumber(card, &dv)) h->bzero = dv;
            else if (strcmp(kw, "BSCALE") == 0 && cardNumber(card, &dv)) h->bscale = dv;
            else if (strcmp(kw, "DATAMIN") == 0 && cardNumber(card, &dv)) h->dataMin = dv, h->haveMin = true;
            else if (strcmp(kw, "DATAMAX") == 0 && cardNumber(card, &dv)) h->dataMax = dv, h->haveMax = true;
            else if (strcmp(kw, "BLANK") == 0 && cardInteger(card, &iv)) h->blank = iv, h->haveBlank = true;
        }
    }
    return ST_CORRUPT;  // no END within the records we allow
}

struct FitsDecoder {
    const FitsHeader* h;
    int sampleBytes;
    int64_t width;
    bool plain;  // bytes as they are
    double low;
    double span;
    Buffer stored;
    Buffer out;
};

// The physical value of sample i of a stored row; false for BLANK and NaN.
bool sampleAt(const FitsDecoder& d, int64_t i, double* v) {
    const uint8_t* p = d.stored.get() + i * d.sampleBytes;
    const FitsHeader& h = *d.h;
    double raw;
    switch (h.bitpix) {
        case 8:
            if (h.haveBlank && p[0] == h.blank) return false;
            raw = p[0];
            break;
        case 16: {
            const int16_t s = static_cast<int16_t>(loadU16BE(p));
            if (h.haveBlank && s == h.blank) return false;
            raw = s;
            break;
        }
        case 32: {
            const int32_t s = static_cast<int32_t>(loadU32BE(p));
            if (h.haveBlank && s == h.blank) return false;
            raw = s;
            break;
        }
        case 64: {
            const int64_t s = static_cast<int64_t>((static_cast<uint64_t>(loadU32BE(p)) << 32) | loadU32BE(p + 4));
            if (h.haveBlank && s == h.blank) return false;
            raw = static_cast<double>(s);
            break;
        }
        case -32: {
            const uint32_t u = loadU32BE(p);
            float f;
            memcpy(&f, &u, sizeof f);
            raw = f;
            break;
        }
        default: {
            const uint64_t u = (static_cast<uint64_t>(loadU32BE(p)) << 32) | loadU32BE(p + 4);
            memcpy(&raw, &u, sizeof raw);
            break;
        }
    }
    if (!std::isfinite(raw)) return false;
    *v = h.bzero + h.bscale * raw;
    return std::isfinite(*v);
}

void convertRow(const FitsDecoder& d) {
    uint8_t* o = d.out.get();
    for (int64_t x = 0; x < d.width; ++x) {
        if (d.plain) {
            o[x] = d.stored[x];
            continue;
        }
        double v;
        if (!sampleAt(d, x, &v)) {
            o[x] = 0;
        } else if (d.span <= 0) {
            o[x] = v > 0 ? 255 : 0;
        } else {
            const double s = std::floor((v - d.low) / d.span * 255.0);
            o[x] = static_cast<uint8_t>(s < 0 ? 0 : s > 255 ? 255 : s);
        }
    }
}

// The smallest and largest values of the next rows rows of the stream; a cut
// file gives the range of what is there.
void scanRange(FILE* f, FitsDecoder* d, int64_t rows, double* low, double* high) {
    bool any = false;
    *low = *high = 0;
    const int64_t rowBytes = d->width * d->sampleBytes;
    for (int64_t y = 0; y < rows; ++y) {
        if (!readBlock(f, d->stored.get(), static_cast<size_t>(rowBytes))) break;
        for (int64_t x = 0; x < d->width; ++x) {
            double v;
            if (!sampleAt(*d, x, &v)) continue;
            if (!any || v < *low) *low = v;
            if (!any || v > *high) *high = v;
            any = true;
        }
    }
}

}  // namespace

bool acceptFits(const uint8_t* head, size_t n, int64_t fileSize) {
    return fileSize >= RECORD && fitsSignature(head, n);
}

Status readFits(FILE* stream, LoadRequest* request) {
    FitsHeader h;
    Status st = fitsReadHeader(stream, 0, &h);
    if (st != ST_OK) return st;
    // An empty primary array: the picture is in the first IMAGE extension.
    for (int unit = 0; h.naxis == 0 && unit < MAX_UNITS; ++unit) {
        if (!h.samplesKnown) break;
        const uint64_t next = h.dataStart + (h.dataBytes + RECORD - 1) / RECORD * RECORD;
        if (static_cast<int64_t>(next) >= request->fileSize || !seekTo(stream, next)) break;
        FitsHeader x;
        st = fitsReadHeader(stream, next, &x);
        if (st != ST_OK) break;
        h = x;
        if (!x.image) h.naxis = 0;  // tables are skipped
    }
    if (h.naxis == 0) {
        setReaderMessage(request, MSG_NO_IMAGE);
        return ST_BAD_FILE;
    }
    if (!bitpixValid(h.bitpix)) {
        setReaderMessage(request, MSG_BAD_BITPIX);
        return ST_BAD_FILE;
    }
    if (h.naxis < 2 || h.axes[0] < 1 || h.axes[1] < 1 || (h.naxis >= 3 && h.axes[2] < 1)) {
        setReaderMessage(request, MSG_NO_IMAGE);
        return ST_BAD_FILE;
    }
    const int64_t planes = h.naxis >= 3 ? h.axes[2] : 1;
    const bool rgb = planes == 3;
    const int64_t page = !rgb && request->pageIndex > 0 && request->pageIndex < planes ? request->pageIndex : 0;
    request->pageCount = rgb || planes > INT32_MAX ? 1 : static_cast<int32_t>(planes);

    FitsDecoder d{};
    d.h = &h;
    d.sampleBytes = std::abs(h.bitpix) / 8;
    d.width = h.axes[0];
    const int64_t side = MAX_IMAGE_SIDE + 1;  // larger sides are refused by beginImage
    RasterHeader rh{};
    rh.layout = rgb ? PL_CHANNEL_PLANES : PL_BYTE_PIXELS;
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.axes[0] < side ? h.axes[0] : side);
    rh.height = static_cast<int32_t>(h.axes[1] < side ? h.axes[1] : side);
    rh.planes = rgb ? 3 : 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, h.bitpix == 8    ? "FITS (8 bits)"
                           : h.bitpix == 16 ? "FITS (16 bits)"
                           : h.bitpix == 32 ? "FITS (32 bits)"
                           : h.bitpix == 64 ? "FITS (64 bits)"
                                            : "FITS (float)");
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    const int64_t rowBytes = d.width * d.sampleBytes;
    const int64_t planeBytes = rowBytes * rh.height;
    const uint64_t first = h.dataStart + static_cast<uint64_t>(page * planeBytes);
    const int64_t shown = rgb ? 3 : 1;
    d.stored = allocBuffer(static_cast<uint64_t>(rowBytes));
    d.out = allocBuffer(static_cast<uint64_t>(d.width));
    if (!d.stored || !d.out) st = ST_NO_MEMORY;

    d.plain = h.bitpix == 8 && h.bzero == 0 && h.bscale == 1 && !h.haveBlank && !(h.haveMin && h.haveMax);
    if (st == ST_OK && !d.plain) {
        double low, high;
        if (h.haveMin && h.haveMax && h.dataMax > h.dataMin) {
            low = h.dataMin;
            high = h.dataMax;
        } else if (seekTo(stream, first)) {
            scanRange(stream, &d, shown * rh.height, &low, &high);
        } else {
            low = high = 0;
        }
        d.low = low;
        d.span = high - low;
    }
    if (st == ST_OK && !seekTo(stream, first)) st = ST_READ_ERROR;
    for (int64_t p = 0; st == ST_OK && p < shown; ++p) {
        for (int32_t y = 0; y < rh.height; ++y) {
            if (!readBlock(stream, d.stored.get(), static_cast<size_t>(rowBytes))) {
                st = ST_READ_ERROR;
                break;
            }
            convertRow(d);
            st = deliverRow(d.out.get(), d.width, y, rgb ? static_cast<int>(p) : -1);
            if (st != ST_OK) break;
        }
    }
    endImage(0, 0, nullptr);
    return st;
}
