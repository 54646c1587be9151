// X11 bitmaps: black-and-white pictures stored as C source.
//
//   #define name_width 16
//   #define name_height 16
//   static unsigned char name_bits[] = {
//      0x00, 0xf0, ... };
//
// The "#define" lines give the size (hot-spot lines are ignored). The array
// holds the rows top to bottom, each padded to whole bytes, the first pixel in
// the least significant bit, a set bit being the foreground (black). The older
// X10 form declares "short" and stores 16-bit words, each row padded to whole
// words, the low byte first.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

const char NAME_READ[] = "X BitMap";
const char NAME_WRITE[] = "X BitMap file";

// Header lines are examined up to this length; the rest of a longer line is skipped.
constexpr int LINE_MAX = 1024;

enum class XbmUnit { None, Byte, Word };

struct XbmHeader {
    int64_t width = 0;
    int64_t height = 0;
    XbmUnit unit = XbmUnit::None;
};

uint8_t reverseBits(uint8_t v) {
    v = static_cast<uint8_t>((v & 0xF0) >> 4 | (v & 0x0F) << 4);
    v = static_cast<uint8_t>((v & 0xCC) >> 2 | (v & 0x33) << 2);
    return static_cast<uint8_t>((v & 0xAA) >> 1 | (v & 0x55) << 1);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
// Bytes no text file holds: the header scan gives up on them at once.
bool isBinaryByte(int c) { return c < 32 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v'; }

// One header line, without its line feed; characters past LINE_MAX are
// dropped. The line stops early at a "{" (atBrace) so that data on the
// declaration line stay in the stream. Returns false at the end of the stream
// before any character, or on a byte no text holds.
bool xbmReadLine(FILE* f, char* line, bool* atBrace, bool* binary) {
    int n = 0;
    int c = getc(f);
    *atBrace = false;
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        if (isBinaryByte(c)) {
            *binary = true;
            return false;
        }
        if (c == '{') {
            *atBrace = true;
            break;
        }
        if (n < LINE_MAX) line[n++] = static_cast<char>(c);
        c = getc(f);
    }
    line[n] = '\0';
    return true;
}

// The next word of a line (letters, digits and underscores) after blanks;
// null when something else comes first.
const char* nextWord(const char* p, const char** end) {
    while (isBlank(*p)) ++p;
    if (!isWordChar(*p)) return nullptr;
    const char* q = p;
    while (isWordChar(*q)) ++q;
    *end = q;
    return p;
}

// "#define name value": the width when the name holds "_width", the height when
// it holds "_height"; other definitions (hot spot) change nothing.
void xbmDefine(const char* line, XbmHeader* h) {
    const char* p = line;
    while (isBlank(*p)) ++p;
    if (*p++ != '#') return;
    while (isBlank(*p)) ++p;
    if (strncmp(p, "define", 6) != 0 || !isBlank(p[6])) return;
    p += 6;
    while (isBlank(*p)) ++p;
    const char* name = p;
    while (*p && !isBlank(*p)) ++p;
    size_t nameLength = static_cast<size_t>(p - name);
    while (isBlank(*p)) ++p;
    if (*p < '0' || *p > '9') return;
    int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value <= MAX_IMAGE_SIDE) value = value * 10 + (*p - '0');
        ++p;
    }
    auto names = [&](const char* part) {
        size_t k = strlen(part);
        for (size_t i = 0; i + k <= nameLength; ++i)
            if (memcmp(name + i, part, k) == 0) return true;
        return false;
    };
    if (names("_width")) h->width = value;
    else if (names("_height")) h->height = value;
}

// "static [const] [unsigned] char|short name[] = {": returns the unit of the
// data, or None when the line declares no bitmap array.
XbmUnit xbmDeclaration(const char* line) {
    bool sawChar = false, sawShort = false;
    int words = 0;
    const char* end = nullptr;
    const char* p = line;
    const char* word;
    while ((word = nextWord(p, &end)) != nullptr) {
        size_t n = static_cast<size_t>(end - word);
        auto is = [&](const char* w) { return strlen(w) == n && memcmp(word, w, n) == 0; };
        if (is("char")) sawChar = true;
        else if (is("short")) sawShort = true;
        else if (!is("static") && !is("const") && !is("unsigned")) break;  // the array's name
        ++words;
        p = end;
    }
    if (!word || sawChar == sawShort || words == 0) return XbmUnit::None;
    // The name must be followed by "[".
    const char* q = end;
    while (isBlank(*q)) ++q;
    if (*q != '[') return XbmUnit::None;
    return sawShort ? XbmUnit::Word : XbmUnit::Byte;
}

Status xbmReadHeader(FILE* f, XbmHeader* h) {
    char line[LINE_MAX + 1];
    bool atBrace = false;
    bool binary = false;
    while (xbmReadLine(f, line, &atBrace, &binary)) {
        xbmDefine(line, h);
        XbmUnit unit = xbmDeclaration(line);
        if (unit != XbmUnit::None) {
            h->unit = unit;
            break;
        }
        // Any other line stopped at a "{" is skipped to its end.
        int c = 0;
        if (atBrace)
            while ((c = getc(f)) != EOF && c != '\n') {
            }
    }
    if (binary || h->unit == XbmUnit::None) return ST_UNKNOWN_FORMAT;
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE)
        return ST_UNKNOWN_FORMAT;
    return ST_OK;
}

// The next number of the data: skips to the next "x" (over C comments), then
// reads its hexadecimal digits. ST_READ_ERROR at the end of the data ("}" or
// the end of the stream) or when no digit follows the "x".
Status xbmNextNumber(FILE* f, uint32_t* value) {
    int c;
    for (;;) {
        c = getc(f);
        if (c == EOF || c == '}') return ST_READ_ERROR;
        if (c == 'x' || c == 'X') break;
        if (c == '/') {
            int d = getc(f);
            if (d == '*') {
                int last = 0;
                while ((c = getc(f)) != EOF && !(last == '*' && c == '/')) last = c;
                if (c == EOF) return ST_READ_ERROR;
            } else if (d != EOF) {
                ungetc(d, f);
            }
        }
    }
    uint32_t v = 0;
    int digits = 0;
    for (;;) {
        c = getc(f);
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        v = (v << 4) | static_cast<uint32_t>(d);  // only the low bits matter
        ++digits;
    }
    if (c != EOF) ungetc(c, f);
    if (digits == 0) return ST_READ_ERROR;
    *value = v;
    return ST_OK;
}

}  // namespace

Status readXbm(FILE* stream, LoadRequest* request) {
    (void)request;
    XbmHeader h;
    Status st = xbmReadHeader(stream, &h);
    if (st != ST_OK) return st;

    const bool words = h.unit == XbmUnit::Word;
    const int32_t width = static_cast<int32_t>(h.width);
    const int32_t rowBytes = (width + 7) / 8;
    RasterHeader rh{};
    rh.layout = 0;
    rh.orientation = 0;
    rh.channels = 1;
    rh.width = width;
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = words ? (width + 15) / 16 * 2 : rowBytes;
    setRasterName(rh.name, NAME_READ);
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    const int32_t numbers = words ? (width + 15) / 16 : rowBytes;
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y) {
        uint8_t* row = rh.rowBuffer;
        memset(row, 0, static_cast<size_t>(rh.bytesPerPlane));
        for (int32_t i = 0; i < numbers; ++i) {
            uint32_t v = 0;
            st = xbmNextNumber(stream, &v);
            if (st != ST_OK) break;
            if (words) {
                row[2 * i] = reverseBits(static_cast<uint8_t>(v));
                row[2 * i + 1] = reverseBits(static_cast<uint8_t>(v >> 8));
            } else {
                row[i] = reverseBits(static_cast<uint8_t>(v));
            }
        }
        // A row cut short is delivered with what it holds.
        Status put = putRows(-1, y, 1);
        if (st == ST_OK) st = put;
    }
    // A set bit is black: inverted so that 0 is black in the image.
    endImage(PF_INVERT, 0, nullptr);
    return st;
}

Status writeXbm(FILE* stream, SaveRequest* request) {
    if (request->kind != IMG_BINARY) return ST_KIND_REFUSED;
    WriteHeader wh{};
    // Black (0 in the image) is written as a set bit.
    wh.layout = PL_MIN_IS_WHITE;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 1;
    wh.bytesPerPlane = (request->width + 7) / 8;
    setRasterName(wh.name, NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    if (fprintf(stream, "#define x_width %d\n#define x_height %d\nstatic char x_bits[] = {\n", request->width,
                request->height) < 0)
        st = ST_WRITE_ERROR;
    const int64_t rowBytes = wh.bytesPerPlane;
    for (int32_t y = 0; st == ST_OK && y < request->height; ++y) {
        st = getRows(y, 1);
        if (st != ST_OK) break;
        for (int64_t i = 0; i < rowBytes; ++i) fprintf(stream, "0x%02x, ", reverseBits(wh.rowBuffer[i]));
        if (putc('\n', stream) == EOF) st = ST_WRITE_ERROR;
    }
    if (st == ST_OK && fputs("}; \n", stream) == EOF) st = ST_WRITE_ERROR;
    if (st == ST_OK && ferror(stream)) st = ST_WRITE_ERROR;
    endWrite();
    return st;
}
