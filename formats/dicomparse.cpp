// DICOM data sets: the element parser of the DICOM reader.
//
// A file is an optional 128-byte preamble and "DICM", then data elements: a
// tag (group, element; two little-endian 16-bit words), in explicit VR form
// two letters naming the value representation, then the value length, then
// the value. OB, OD, OF, OL, OV, OW, SQ, SV, UC, UN, UR, UT and UV take two
// reserved bytes and a 32-bit length, the other representations a 16-bit one.
// In implicit VR form (transfer syntax 1.2.840.10008.1.2) there are no letters
// and every length takes 32 bits. The file meta group (0002) is always
// explicit; the transfer syntax it names governs the rest. A file without the
// meta group shows its form in its first element.
//
// A length of 0xFFFFFFFF is undefined: the value is a sequence of items ended
// by a sequence delimiter (FFFE,E0DD), and each item of undefined length ends
// with an item delimiter (FFFE,E00D). Items and delimiters carry no VR. The
// parser walks through such sequences element by element, keeping values only
// at the top level, so that an icon image inside a sequence never stands for
// the picture. Values it does not need are sought over, however long.
#include <cstring>

#include "codec.h"
#include "dicom.h"
#include "stream.h"

namespace {

const char MSG_BIG_ENDIAN[] = "DICOM : No support for big endian !";
const char MSG_NO_PIXELS[] = "DICOM : No pixel data !";

constexpr uint32_t UNDEFINED = 0xFFFFFFFFu;
constexpr uint16_t ITEM_GROUP = 0xFFFE;
constexpr uint16_t ITEM = 0xE000;
constexpr uint16_t PIXEL_GROUP = 0x7FE0;
constexpr uint16_t PIXEL_DATA = 0x0010;
constexpr size_t PREAMBLE = 128;
constexpr size_t VALUE_KEPT = 64;     // longest text value kept
constexpr size_t LUT_KEPT = 512;      // 256 entries of 16 bits

const char IMPLICIT_LE[] = "1.2.840.10008.1.2";
const char EXPLICIT_BE[] = "1.2.840.10008.1.2.2";
const char DEFLATED[] = "1.2.840.10008.1.2.1.99";
const char RLE_LOSSLESS[] = "1.2.840.10008.1.2.5";
const char JPEG_FAMILY[] = "1.2.840.10008.1.2.4.";

// Every value representation, and those with a 32-bit length in explicit form.
const char ALL_VRS[] = "AEASATCSDADSDTFLFDISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
const char LONG_VRS[] = "OBODOFOLOVOWSQSVUCUNURUTUV";

bool vrIn(const char* list, uint8_t c1, uint8_t c2) {
    for (const char* p = list; p[0] && p[1]; p += 2)
        if (p[0] == c1 && p[1] == c2) return true;
    return false;
}

struct Cursor {
    FILE* f;
    uint64_t pos;
    uint64_t size;
    bool read(void* dst, size_t n) {
        if (!readBlock(f, dst, n)) return false;
        pos += n;
        return true;
    }
    bool skip(uint64_t n) {
        if (n > size - pos || !seekTo(f, pos + n)) return false;
        pos += n;
        return true;
    }
};

// The text of a value without its padding (spaces, NULs).
void keepText(char (&dst)[DICOM_TEXT_LEN], const uint8_t* v, size_t n) {
    if (n > DICOM_TEXT_LEN - 1) n = DICOM_TEXT_LEN - 1;
    while (n > 0 && (v[n - 1] == ' ' || v[n - 1] == 0)) --n;
    size_t start = 0;
    while (start < n && v[start] == ' ') ++start;
    memcpy(dst, v + start, n - start);
    dst[n - start] = 0;
}

DicomCoding codingOf(const char* ts) {
    if (strcmp(ts, RLE_LOSSLESS) == 0) return DC_RLE;
    if (strcmp(ts, DEFLATED) == 0) return DC_DEFLATE;
    const size_t jl = sizeof JPEG_FAMILY - 1;
    if (strncmp(ts, JPEG_FAMILY, jl) != 0) return DC_RAW;
    const char* p = ts + jl;
    // 50..56: DCT processes; 57, 58, 65, 66, 70: lossless processes.
    if (strcmp(p, "57") == 0 || strcmp(p, "58") == 0 || strcmp(p, "65") == 0 || strcmp(p, "66") == 0 ||
        strcmp(p, "70") == 0)
        return DC_LOSSLESS;
    if (p[0] == '5' && p[1] >= '0' && p[1] <= '6' && p[2] == 0) return DC_JPEG;
    return DC_OTHER;
}

// Stores a kept top-level value.
void keepValue(DicomHeader* h, uint16_t group, uint16_t element, const uint8_t* v, size_t n, uint64_t fullLength,
               uint8_t (*lut)[LUT_KEPT], uint32_t* lutLength) {
    const int32_t word = n >= 2 ? loadU16LE(v) : 0;
    char text[DICOM_TEXT_LEN];
    double d = 0;
    if (group == 0x0002) {
        if (element == 0x0010) keepText(h->transferSyntax, v, n);
        return;
    }
    switch (element) {
    case 0x0002: h->samplesPerPixel = word; break;
    case 0x0004: keepText(h->photometric, v, n); break;
    case 0x0006: h->planarByPlane = word == 1; break;
    case 0x0008:
        keepText(text, v, n);
        if (dicomDecimal(text, &d) && d >= 1 && d < 0x7FFFFFFF) h->frames = static_cast<int32_t>(d);
        break;
    case 0x0010: h->rows = word; break;
    case 0x0011: h->columns = word; break;
    case 0x0100: h->bitsAllocated = word; break;
    case 0x0101: h->bitsStored = word; break;
    case 0x0102: h->highBit = word; break;
    case 0x0103: h->pixelRepresentation = word; break;
    case 0x1050:
    case 0x1051:
    case 0x1052:
    case 0x1053:
        keepText(text, v, n);
        if (!dicomDecimal(text, &d)) break;
        if (element == 0x1050) h->windowCenter = d;
        else if (element == 0x1051) h->windowWidth = d;
        else if (element == 0x1052) h->rescaleIntercept = d;
        else if (d != 0) h->rescaleSlope = d;
        if (element == 0x1051) h->hasWindow = d >= 1;
        break;
    case 0x1101:
    case 0x1102:
    case 0x1103:
        if (n >= 6) {
            const int c = element - 0x1101;
            h->lutEntries[c] = loadU16LE(v) == 0 ? 65536 : loadU16LE(v);
            h->lutFirst[c] = loadU16LE(v + 2);
            h->lutBits[c] = loadU16LE(v + 4);
        }
        break;
    case 0x1201:
    case 0x1202:
    case 0x1203: {
        const int c = element - 0x1201;
        memcpy(lut[c], v, n);
        lutLength[c] = fullLength > LUT_KEPT ? LUT_KEPT : static_cast<uint32_t>(fullLength);
        h->hasPalette = true;
        break;
    }
    default: break;
    }
}

bool wanted(uint16_t group, uint16_t element) {
    if (group == 0x0002) return element == 0x0010;
    if (group != 0x0028) return false;
    return element <= 0x0011 || (element >= 0x0100 && element <= 0x0103) ||
           (element >= 0x1050 && element <= 0x1053) || (element >= 0x1101 && element <= 0x1103) ||
           (element >= 0x1201 && element <= 0x1203);
}

// The palette from the lookup tables: entry i of a colour is the table's
// entry i - first (clamped), its high byte for 16-bit entries.
void buildPalette(DicomHeader* h, const uint8_t (*lut)[LUT_KEPT], const uint32_t* lutLength) {
    for (int c = 0; c < 3; ++c) {
        const uint32_t len = lutLength[c];
        const bool bytes = h->lutBits[c] == 8 && h->lutEntries[c] > 0 && len == static_cast<uint32_t>(h->lutEntries[c]);
        const int32_t count = static_cast<int32_t>(bytes ? len : len / 2);
        if (count < 1) continue;
        for (int32_t i = 0; i < 256; ++i) {
            int32_t k = i - h->lutFirst[c];
            if (k < 0) k = 0;
            if (k >= count) k = count - 1;
            uint8_t v;
            if (bytes) v = lut[c][k];
            else if (h->lutBits[c] == 8) v = lut[c][2 * k];  // 8-bit entries in 16-bit words
            else v = lut[c][2 * k + 1];
            h->palette[3 * i + c] = v;
        }
    }
}

}  // namespace

bool dicomDecimal(const char* s, double* out) {
    while (*s == ' ') ++s;
    double sign = 1;
    if (*s == '+' || *s == '-') sign = *s++ == '-' ? -1 : 1;
    double v = 0;
    int digits = 0;
    for (; *s >= '0' && *s <= '9'; ++s, ++digits) v = v * 10 + (*s - '0');
    if (*s == '.') {
        double scale = 0.1;
        for (++s; *s >= '0' && *s <= '9'; ++s, ++digits, scale /= 10) v += (*s - '0') * scale;
    }
    if (digits == 0) return false;
    if (*s == 'e' || *s == 'E') {
        ++s;
        int esign = 1, e = 0;
        if (*s == '+' || *s == '-') esign = *s++ == '-' ? -1 : 1;
        for (; *s >= '0' && *s <= '9'; ++s)
            if (e < 400) e = e * 10 + (*s - '0');
        for (; e > 0; --e) v = esign > 0 ? v * 10 : v / 10;
    }
    // Sides of windows and scales past a billion mean nothing in a picture.
    constexpr double LIMIT = 1e9;
    if (!(v <= LIMIT)) v = LIMIT;
    *out = sign * v;
    return true;
}

Status dicomParse(FILE* f, int64_t fileSize, DicomHeader* h, LoadRequest* request) {
    memset(h, 0, sizeof *h);
    h->samplesPerPixel = 1;
    h->bitsAllocated = 8;
    h->bitsStored = 8;
    h->highBit = -1;
    h->rescaleSlope = 1;
    uint8_t lut[3][LUT_KEPT] = {};
    uint32_t lutLength[3] = {};

    Cursor c{f, 0, fileSize > 0 ? static_cast<uint64_t>(fileSize) : UINT64_MAX / 2};
    uint8_t b[PREAMBLE + 4];
    if (c.read(b, sizeof b) && memcmp(b + PREAMBLE, "DICM", 4) == 0) {
        // the elements follow the prefix
    } else {
        if (fseek(f, 0, SEEK_SET) != 0) return ST_READ_ERROR;
        c.pos = 0;
    }

    int mode = 0;  // data set form after the meta group: 0 not known yet, 1 explicit, 2 implicit
    int64_t depth = 0;
    for (;;) {
        uint8_t t[8];
        if (!c.read(t, 4)) {
            if (c.pos == 0 || c.pos == PREAMBLE + 4) return ST_UNKNOWN_FORMAT;
            setReaderMessage(request, MSG_NO_PIXELS);
            return ST_BAD_FILE;
        }
        const uint16_t group = loadU16LE(t);
        const uint16_t element = loadU16LE(t + 2);
        if (group == ITEM_GROUP) {  // items and delimiters: a 32-bit length, no VR
            if (!c.read(t, 4)) return ST_READ_ERROR;
            const uint32_t len = loadU32LE(t);
            if (element == ITEM && len != UNDEFINED) {
                if (!c.skip(len)) return ST_READ_ERROR;
            } else if (element == ITEM) {
                ++depth;
            } else if (depth > 0) {
                --depth;
            }
            continue;
        }
        if (!c.read(t, 2)) return ST_READ_ERROR;
        bool explicitVr;
        if (group == 0x0002) {
            explicitVr = vrIn(ALL_VRS, t[0], t[1]);
        } else {
            if (mode == 0) {
                if (h->transferSyntax[0]) mode = strcmp(h->transferSyntax, IMPLICIT_LE) == 0 ? 2 : 1;
                else mode = vrIn(ALL_VRS, t[0], t[1]) ? 1 : 2;
            }
            explicitVr = mode == 1;
        }
        uint32_t len;
        bool sequence = false;
        if (explicitVr) {
            sequence = t[0] == 'S' && t[1] == 'Q';
            if (vrIn(LONG_VRS, t[0], t[1])) {
                if (!c.read(t + 2, 6)) return ST_READ_ERROR;
                len = loadU32LE(t + 4);
            } else {
                if (!c.read(t + 2, 2)) return ST_READ_ERROR;
                len = loadU16LE(t + 2);
            }
        } else {
            if (!c.read(t + 2, 2)) return ST_READ_ERROR;
            len = loadU32LE(t);
        }

        if (group == PIXEL_GROUP && element == PIXEL_DATA && depth == 0) {
            h->encapsulated = len == UNDEFINED;
            h->pixelLength = len == UNDEFINED ? 0 : len;
            h->coding = codingOf(h->transferSyntax);
            if (h->hasPalette) buildPalette(h, lut, lutLength);
            return ST_OK;
        }
        if (len == UNDEFINED) {  // a sequence or encapsulated data, read through to its delimiter
            ++depth;
            continue;
        }
        if (sequence || depth > 0 || !wanted(group, element)) {
            if (!c.skip(len)) return ST_READ_ERROR;
            continue;
        }
        uint8_t v[LUT_KEPT + 1] = {};
        const size_t room = element >= 0x1201 && group == 0x0028 ? LUT_KEPT : VALUE_KEPT;
        const size_t n = len < room ? len : room;
        if (!c.read(v, n) || !c.skip(len - n)) return ST_READ_ERROR;
        keepValue(h, group, element, v, n, len, lut, lutLength);
        if (group == 0x0002 && element == 0x0010 && strcmp(h->transferSyntax, EXPLICIT_BE) == 0) {
            setReaderMessage(request, MSG_BIG_ENDIAN);
            return ST_BAD_FILE;
        }
    }
}
