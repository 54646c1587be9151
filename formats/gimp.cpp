// GIMP brushes (.gbr) and patterns (.pat): a big-endian header, a name, then
// plain interleaved pixel rows, top row first, without padding. GIMP 1 icons
// (.ico), a text format, close the file.
//
// Brush header (u32 words): header size, version (1, 2 or 3), width, height,
// bytes per pixel, then for versions 2 and 3 the magic "GIMP" and the spacing.
// The brush name fills the header up to its size. One byte per pixel is the
// brush's paint mask (255 paints fully): shown as GIMP previews it, black on
// white. Four bytes are R,G,B,A; three bytes R,G,B.
//
// Pattern header: header size, version 1, width, height, bytes per pixel
// (1 grey, 2 grey and alpha, 3 R,G,B, 4 R,G,B,A), the magic "GPAT", the name.
//
// Icons (.ico, the toolbox icons of GIMP 1) are C source text: a first
// comment line naming the "GIMP icon image format", a second naming the icon,
// "#define NAME_width W" and "#define NAME_height H", then
// "static char *NAME_bits [] = {" and one quoted string per row. Each
// character is a pixel: '.' transparent, 'a' to 'h' grey levels 0 to 7 from
// black to white. Transparent pixels are shown white, the toolbox's ground.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BRUSH_SIZE[] = "GBR : Bad picture's size !";
const char MSG_BRUSH_DEPTH[] = "GBR : Unsupported depth !";
const char MSG_PATTERN_SIZE[] = "PAT : Bad picture's size !";
const char MSG_PATTERN_DEPTH[] = "PAT : Unsupported depth !";

const char MSG_ICON_HEADER[] = "GIMP Icon : Bad header !";

const char NAME_BRUSH[] = "GIMP Brush";
const char NAME_BRUSH_COLOUR[] = "GIMP Brush (colour)";
const char NAME_PATTERN[] = "GIMP Pattern";
const char NAME_ICON[] = "GIMP Icon";

const char ICON_SIGNATURE[] = "GIMP icon image format";
constexpr uint8_t ICON_TRANSPARENT = 255;
// The longest number or name of a #define line worth reading.
constexpr int ICON_TOKEN = 64;

constexpr uint32_t GIMP_MAGIC = 0x47494D50;  // "GIMP"
constexpr uint32_t GPAT_MAGIC = 0x47504154;  // "GPAT"
constexpr uint32_t MAX_NAME = 4096;
constexpr uint32_t BRUSH_V1_HEADER = 20;
constexpr uint32_t BRUSH_HEADER = 28;
constexpr uint32_t PATTERN_HEADER = 24;
constexpr uint32_t BYTES_HALF_FLOAT = 18;

struct GimpHeader {
    uint32_t headerSize;
    uint32_t version;
    uint32_t width;
    uint32_t height;
    uint32_t bytes;
    uint32_t magic;
};

GimpHeader gimpHeader(const uint8_t* b) {
    return {loadU32BE(b), loadU32BE(b + 4), loadU32BE(b + 8), loadU32BE(b + 12), loadU32BE(b + 16), loadU32BE(b + 20)};
}

bool sidesFit(const GimpHeader& h) {
    return h.width >= 1 && h.width <= MAX_IMAGE_SIDE && h.height >= 1 && h.height <= MAX_IMAGE_SIDE;
}

// Version 1 brushes have no magic: only a header of the right size whose
// pixels fill the file exactly is taken for one.
bool brushHeaderFits(const GimpHeader& h, int64_t fileSize) {
    if (h.version == 2 || h.version == 3) {
        if (h.magic != GIMP_MAGIC) return false;
        if (h.headerSize < BRUSH_HEADER || h.headerSize > BRUSH_HEADER + MAX_NAME) return false;
        return h.bytes == 1 || h.bytes == 3 || h.bytes == 4 || (h.version == 3 && h.bytes == BYTES_HALF_FLOAT);
    }
    // A pattern of one byte per pixel has the same header with "GPAT" for its name.
    if (h.version != 1 || fileSize <= 0 || h.magic == GPAT_MAGIC) return false;
    if (h.headerSize <= BRUSH_V1_HEADER || h.headerSize > BRUSH_V1_HEADER + MAX_NAME) return false;
    if (h.bytes != 1 && h.bytes != 4) return false;
    if (!sidesFit(h)) return false;
    return fileSize == static_cast<int64_t>(h.headerSize) + static_cast<int64_t>(h.width) * h.height * h.bytes;
}

// Grey and alpha pairs as R,G,B,A.
void greyAlphaToRgba(const void* data, const uint8_t* stored, uint8_t* out) {
    const int32_t width = *static_cast<const int32_t*>(data);
    for (int32_t x = width - 1; x >= 0; --x) {
        const uint8_t v = stored[2 * x], a = stored[2 * x + 1];
        out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = v;
        out[4 * x + 3] = a;
    }
}

// Reads rows of w x bytes interleaved samples: 1 grey (inverted for brush
// masks), 2 grey and alpha, 3 R,G,B, 4 R,G,B,A.
Status readInterleaved(FILE* f, const GimpHeader& h, const char* name, bool invertGrey) {
    const int32_t width = static_cast<int32_t>(h.width);
    RasterHeader rh{};
    rh.channels = static_cast<int16_t>(h.bytes == 2 ? 4 : h.bytes);
    rh.width = width;
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.layout = h.bytes == 1 ? PL_BYTE_PIXELS : 0;
    rh.bitsPerPlane = static_cast<int16_t>(h.bytes == 2 ? 32 : 8 * h.bytes);
    rh.bytesPerPlane = static_cast<int32_t>(h.bytes == 2 ? 4 * h.width : h.bytes * h.width);
    setRasterName(rh.name, name);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = h.bytes == 2 ? readRows(f, 2 * static_cast<int64_t>(width), rh.height, -1, greyAlphaToRgba, &width)
                      : readRows(f, rh.bytesPerPlane, rh.height);
    endImage(h.bytes == 1 && invertGrey ? PF_INVERT : 0, 8, nullptr);
    return st;
}

// Half floats 0..1 (CinePaint brushes) to bytes, inverted like 8-bit masks.
void halfToInvertedByte(const void* data, const uint8_t* stored, uint8_t* out) {
    const int32_t width = *static_cast<const int32_t*>(data);
    for (int32_t x = 0; x < width; ++x) {
        const uint16_t h = loadU16BE(stored + 2 * x);
        const int exponent = (h >> 10) & 0x1F;
        const double mantissa = h & 0x3FF;
        double v = exponent == 0 ? mantissa / 1024.0 / 16384.0
                 : exponent == 31 ? 1.0
                                  : (1.0 + mantissa / 1024.0) * static_cast<double>(1u << exponent) / 32768.0;
        if (h & 0x8000) v = 0;
        if (v > 1) v = 1;
        out[x] = static_cast<uint8_t>(255 - static_cast<int>(v * 255 + 0.5));
    }
}

Status readHalfBrush(FILE* f, const GimpHeader& h) {
    const int32_t width = static_cast<int32_t>(h.width);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = width;
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.layout = PL_BYTE_PIXELS;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = width;
    setRasterName(rh.name, NAME_BRUSH);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(f, 2 * static_cast<int64_t>(width), rh.height, -1, halfToInvertedByte, &width);
    endImage(0, 8, nullptr);
    return st;
}

// The pattern's name: the file's base name without its extension, in plain
// ASCII, or "Untitled".
void patternName(const char* fileName, char* out, size_t room) {
    const char* base = fileName;
    for (const char* p = fileName; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    size_t n = 0;
    for (const char* p = base; *p && *p != '.' && n + 1 < room; ++p)
        out[n++] = static_cast<unsigned char>(*p) >= 0x20 && static_cast<unsigned char>(*p) < 0x7F ? *p : '_';
    out[n] = '\0';
    if (n == 0) snprintf(out, room, "%s", "Untitled");
}

// ---- GIMP icons ---------------------------------------------------------------

// The text of an icon, a character at a time.
class IconText {
public:
    explicit IconText(FILE* f) : in_(f) {}
    int get() { return in_.get(); }

    // Skips to the end of the line; false at the end of the text.
    bool skipLine() {
        for (int c = get(); c != '\n'; c = get())
            if (c < 0) return false;
        return true;
    }

    // Skips past the next occurrence of word; false at the end of the text.
    bool skipPast(const char* word) {
        const size_t n = strlen(word);
        size_t matched = 0;
        while (matched < n) {
            const int c = get();
            if (c < 0) return false;
            if (c == word[matched]) ++matched;
            else matched = c == word[0] ? 1 : 0;
        }
        return true;
    }

    // The next word of non-blank characters, at most room - 1 kept; false when
    // the text ends first. The blank after it is consumed.
    bool word(char* out, size_t room) {
        int c = get();
        while (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = get();
        if (c < 0) return false;
        size_t k = 0;
        for (; c >= 0 && !isspace(c); c = get())
            if (k + 1 < room) out[k++] = static_cast<char>(c);
        out[k] = '\0';
        return true;
    }

    // One "#define NAME value" line: the value when it is a whole number.
    bool define(long* value) {
        char token[ICON_TOKEN];
        if (!skipPast("#define") || !word(token, sizeof token) || !word(token, sizeof token)) return false;
        char* end = nullptr;
        *value = strtol(token, &end, 10);
        return end != token && *end == '\0';
    }

    // The characters of the next quoted string into out (width pixels, the
    // rest transparent); false when the list closes or the text ends first.
    bool row(uint8_t* out, int32_t width) {
        for (int c = get(); c != '"'; c = get())
            if (c < 0 || c == '}') return false;
        memset(out, ICON_TRANSPARENT, static_cast<size_t>(width));
        int32_t x = 0;
        for (int c = get(); c != '"' && c != '\n'; c = get()) {
            if (c < 0) return false;
            if (x >= width) continue;
            const int level = c == '.' ? -1 : c >= 'a' && c <= 'h' ? c - 'a' : 0;
            out[x++] = level < 0 ? ICON_TRANSPARENT : static_cast<uint8_t>(level * 255 / 7);
        }
        return true;
    }

private:
    ChunkReader in_;
};

// Whether the first line (as far as head goes) is an icon's first comment.
bool iconFirstLine(const uint8_t* head, size_t n) {
    if (n < 2 || head[0] != '/' || head[1] != '*') return false;
    const void* lf = memchr(head, '\n', n);
    const size_t line = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - head) : n;
    const size_t k = sizeof ICON_SIGNATURE - 1;
    for (size_t i = 2; i + k <= line; ++i)
        if (memcmp(head + i, ICON_SIGNATURE, k) == 0) return true;
    return false;
}

}  // namespace

bool acceptGbr(const uint8_t* head, size_t n, int64_t fileSize) {
    return n >= BRUSH_V1_HEADER && brushHeaderFits(gimpHeader(head), fileSize);
}

Status readGbr(FILE* stream, LoadRequest* request) {
    uint8_t b[BRUSH_HEADER];
    if (!readBlock(stream, b, BRUSH_V1_HEADER)) return ST_UNKNOWN_FORMAT;
    GimpHeader h = gimpHeader(b);
    if (h.version != 1) {
        if (!readBlock(stream, b + BRUSH_V1_HEADER, BRUSH_HEADER - BRUSH_V1_HEADER)) return ST_UNKNOWN_FORMAT;
        h = gimpHeader(b);
    }
    if (!brushHeaderFits(h, request->fileSize)) return ST_UNKNOWN_FORMAT;
    if (!sidesFit(h)) {
        setReaderMessage(request, MSG_BRUSH_SIZE);
        return ST_BAD_FILE;
    }
    if (h.bytes != 1 && h.bytes != 3 && h.bytes != 4 && h.bytes != BYTES_HALF_FLOAT) {
        setReaderMessage(request, MSG_BRUSH_DEPTH);
        return ST_BAD_FILE;
    }
    // The name runs up to the header size, sometimes with more after it.
    if (!seekTo(stream, h.headerSize)) return ST_READ_ERROR;
    if (h.bytes == BYTES_HALF_FLOAT) return readHalfBrush(stream, h);
    return readInterleaved(stream, h, h.bytes == 1 ? NAME_BRUSH : NAME_BRUSH_COLOUR, true);
}

bool acceptPat(const uint8_t* head, size_t n, int64_t) {
    if (n < PATTERN_HEADER) return false;
    const GimpHeader h = gimpHeader(head);
    return h.magic == GPAT_MAGIC && h.version == 1 && h.headerSize > PATTERN_HEADER &&
           h.headerSize <= PATTERN_HEADER + MAX_NAME;
}

Status readPat(FILE* stream, LoadRequest* request) {
    uint8_t b[PATTERN_HEADER];
    if (!readBlock(stream, b, sizeof b) || !acceptPat(b, sizeof b, 0)) return ST_UNKNOWN_FORMAT;
    const GimpHeader h = gimpHeader(b);
    if (!sidesFit(h)) {
        setReaderMessage(request, MSG_PATTERN_SIZE);
        return ST_BAD_FILE;
    }
    if (h.bytes < 1 || h.bytes > 4) {
        setReaderMessage(request, MSG_PATTERN_DEPTH);
        return ST_BAD_FILE;
    }
    if (!seekTo(stream, h.headerSize)) return ST_READ_ERROR;
    return readInterleaved(stream, h, NAME_PATTERN, false);
}

// True colour as R,G,B (R,G,B,A when the picture has alpha), grey as one
// byte, black and white as 0 and 255.
Status writePat(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR && request->kind != IMG_GREY && request->kind != IMG_BINARY)
        return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;
    const bool colour = request->kind == KIND_ANY_TRUECOLOUR;
    const bool alpha = colour && savedImageHasAlpha();
    const uint32_t bytes = colour ? (alpha ? 4 : 3) : 1;

    WriteHeader wh{};
    wh.channels = static_cast<int16_t>(bytes);
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(8 * bytes);
    wh.bytesPerPlane = static_cast<int32_t>(bytes * static_cast<uint32_t>(request->width));
    setRasterName(wh.name, NAME_PATTERN);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    char name[256];
    patternName(request->fileName, name, sizeof name);
    const uint32_t nameBytes = static_cast<uint32_t>(strlen(name)) + 1;
    uint8_t header[PATTERN_HEADER];
    const uint32_t fields[6] = {PATTERN_HEADER + nameBytes, 1, static_cast<uint32_t>(request->width),
                                static_cast<uint32_t>(request->height), bytes, GPAT_MAGIC};
    for (int i = 0; i < 6; ++i)
        for (int k = 0; k < 4; ++k) header[4 * i + k] = static_cast<uint8_t>(fields[i] >> (24 - 8 * k));
    if (!writeBlock(stream, header, sizeof header) || !writeBlock(stream, name, nameBytes)) st = ST_WRITE_ERROR;
    if (st == ST_OK) st = writeRows(stream, wh.bytesPerPlane, request->height);
    endWrite();
    return st;
}

// ---- GIMP icons ---------------------------------------------------------------

bool acceptGicon(const uint8_t* head, size_t n, int64_t) { return iconFirstLine(head, n); }

Status readGicon(FILE* stream, LoadRequest* request) {
    IconText text(stream);
    long width = 0, height = 0;
    // The first comment line, the sizes (the name's comment line before them
    // holds no #define), then the opening brace of the rows.
    if (!text.skipLine() || !text.define(&width) || !text.define(&height) ||
        !text.skipPast("{") || width < 1 || width > MAX_IMAGE_SIDE || height < 1 || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_ICON_HEADER);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.layout = PL_BYTE_PIXELS;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, NAME_ICON);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    Buffer row = allocBuffer(static_cast<uint64_t>(rh.width));
    if (!row) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y)
        st = text.row(row.get(), rh.width) ? deliverRow(row.get(), rh.width, y) : ST_READ_ERROR;
    endImage(0, 0, nullptr);
    return st;
}
