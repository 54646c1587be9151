// Two Sun formats with a text header (readers only).
//
// Sun TAAC image files: "ncaa" and a line feed, then keyword=value lines
// ("rank=2;", "size=W H;", "bands=1|3|4;", "bits=8;", "format=base;",
// "colormapsize=N;", "colormap=N hexadecimal numbers each followed by a
// space"), ended by a line holding a form feed (the byte after it belongs to
// the header too). Then the rows, bands bytes a pixel: grey, B,G,R or A,B,G,R.
// A colour map entry holds red in its lowest byte, then green, then blue.
//
// Sun icons and cursors: a C comment of name=number items (Format_version=1,
// Width, Height, Depth=1, Valid_bits_per_item=16; others are ignored), then
// the rows as hexadecimal 16-bit initialisers ("0x8888,"), (width + 15) / 16
// of them a row, the leftmost pixel in the top bit. A set bit is black.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

// ---- Sun TAAC -----------------------------------------------------------------

const char TAAC_NAME[] = "Sun TAAC Image";
const char TAAC_MSG_CHARACTER[] = "Sun TAAC : Bad character !";
const char TAAC_MSG_DEPTH[] = "Sun TAAC : Bad Depth !";
const char TAAC_MSG_BITS[] = "Sun TAAC : Bad number of bits !";
const char TAAC_MSG_FORMAT[] = "Sun TAAC : Bad Format !";
const char TAAC_MSG_CMAP_SIZE[] = "Sun TAAC : Bad Cmap size !";
const char TAAC_MSG_KEYWORD[] = "Sun TAAC : Bad keyword !";
const char TAAC_MSG_SIZE[] = "Sun TAAC : Bad picture's size !";
const uint8_t TAAC_SIGNATURE[5] = {'n', 'c', 'a', 'a', '\n'};
constexpr size_t TAAC_LINE_MAX = 8192;

struct TaacHeader {
    bool rank2 = false;
    int64_t width = 0;
    int64_t height = 0;
    int bits = 0;  // 0 until a "bands" line
    int mapSize = 0;
    bool mapped = false;
    uint8_t palette[PALETTE_BYTES];
};

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
int hexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%d" over text: optional white space and sign, at least one digit.
bool scanInt(const char** p, int64_t* out) {
    const char* s = *p;
    while (isSpace(*s)) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    if (*s < '0' || *s > '9') return false;
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if (v < (int64_t(1) << 40)) v = v * 10 + (*s - '0');
    *out = negative ? -v : v;
    *p = s;
    return true;
}

// "%x" over text: optional white space, an optional 0x, at least one digit.
bool scanHex(const char** p, uint32_t* out) {
    const char* s = *p;
    while (isSpace(*s)) ++s;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && hexDigit(s[2]) >= 0) s += 2;
    if (hexDigit(*s) < 0) return false;
    uint32_t v = 0;
    for (; hexDigit(*s) >= 0; ++s) v = (v << 4) | static_cast<uint32_t>(hexDigit(*s));
    *out = v;
    *p = s;
    return true;
}

// Applies one keyword=value line; the message on failure goes to *message.
Status taacKeyword(const char* key, const char* value, TaacHeader* h, const char** message) {
    int64_t a, b;
    const char* p = value;
    if (strcmp(key, "rank") == 0) {
        if (!scanInt(&p, &a) || a != 2) return ST_BAD_FILE;
        h->rank2 = true;
    } else if (strcmp(key, "size") == 0) {
        if (!h->rank2 || !scanInt(&p, &a) || !scanInt(&p, &b)) return ST_BAD_FILE;
        h->width = a;
        h->height = b;
    } else if (strcmp(key, "bands") == 0) {
        if (!scanInt(&p, &a)) return ST_BAD_FILE;
        if (a != 1 && a != 3 && a != 4) {
            *message = TAAC_MSG_DEPTH;
            return ST_BAD_FILE;
        }
        h->bits = static_cast<int>(8 * a);
    } else if (strcmp(key, "bits") == 0) {
        if (!scanInt(&p, &a) || a != 8) {
            *message = TAAC_MSG_BITS;
            return ST_BAD_FILE;
        }
    } else if (strcmp(key, "format") == 0) {
        while (isSpace(*p)) ++p;
        if (strncmp(p, "base", 4) != 0) {
            *message = TAAC_MSG_FORMAT;
            return ST_BAD_FILE;
        }
    } else if (strcmp(key, "colormapsize") == 0) {
        if (!scanInt(&p, &a) || a < 1 || a > 256) {
            *message = TAAC_MSG_CMAP_SIZE;
            return ST_BAD_FILE;
        }
        h->mapSize = static_cast<int>(a);
    } else if (strcmp(key, "colormap") == 0) {
        for (int i = 0; i < h->mapSize; ++i) {
            uint32_t v;
            if (!scanHex(&p, &v) || *p != ' ') return ST_BAD_FILE;
            h->palette[3 * i] = static_cast<uint8_t>(v);
            h->palette[3 * i + 1] = static_cast<uint8_t>(v >> 8);
            h->palette[3 * i + 2] = static_cast<uint8_t>(v >> 16);
        }
        h->mapped = true;
    } else {
        *message = TAAC_MSG_KEYWORD;
        return ST_BAD_FILE;
    }
    return ST_OK;
}

// Header lines up to the form feed.
Status taacReadHeader(FILE* f, TaacHeader* h, LoadRequest* request) {
    Buffer line = allocBuffer(TAAC_LINE_MAX + 1);
    if (!line) return ST_NO_MEMORY;
    char* text = reinterpret_cast<char*>(line.get());
    for (;;) {
        size_t n = 0;
        int c;
        while ((c = getc(f)) != EOF && c != '\n' && c != '\f') {
            if (n == TAAC_LINE_MAX) {
                setReaderMessage(request, TAAC_MSG_CHARACTER);
                return ST_BAD_FILE;
            }
            text[n++] = static_cast<char>(c == 0 ? ' ' : c);
        }
        if (c == EOF) return ST_READ_ERROR;
        if (c == '\f') {
            getc(f);
            return ST_OK;
        }
        text[n] = 0;
        if (n == 0) continue;
        char* equals = strchr(text, '=');
        const char* message = TAAC_MSG_CHARACTER;
        Status st = ST_BAD_FILE;
        if (equals) {
            *equals = 0;
            st = taacKeyword(text, equals + 1, h, &message);
        }
        if (st != ST_OK) {
            setReaderMessage(request, message);
            return st;
        }
    }
}

// ---- Sun icons ---------------------------------------------------------------

const char ICON_NAME[] = "Sun Icon/Cursor";
const char ICON_MSG_VERSION[] = "ICON : Bad Format_version value !";
const char ICON_MSG_DEPTH[] = "ICON : Bad Depth value !";
const char ICON_MSG_ITEM_BITS[] = "ICON : Bad Valid_bits_per_item value !";
constexpr int ICON_TEXT_BEFORE_COMMENT = 129;
constexpr size_t ICON_NAME_MAX = 1023;

// Finds the opening of the comment within the first characters of text.
bool iconFindComment(const uint8_t* p, size_t n, size_t* after) {
    for (size_t i = 0; i + 1 < n && i <= ICON_TEXT_BEFORE_COMMENT; ++i) {
        if (p[i] == '/' && p[i + 1] == '*') {
            *after = i + 2;
            return true;
        }
    }
    return false;
}

// A decimal number as "%d" reads it from a stream; false when none.
bool iconReadNumber(FILE* f, int64_t* out) {
    int c;
    while ((c = getc(f)) != EOF && isSpace(c)) {}
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = getc(f);
    }
    if (c < '0' || c > '9') {
        if (c != EOF) ungetc(c, f);
        return false;
    }
    int64_t v = 0;
    for (; c >= '0' && c <= '9'; c = getc(f))
        if (v < (int64_t(1) << 40)) v = v * 10 + (c - '0');
    if (c != EOF) ungetc(c, f);
    *out = negative ? -v : v;
    return true;
}

// One "%x," item from a stream.
bool iconReadHex(FILE* f, uint32_t* out) {
    int c;
    while ((c = getc(f)) != EOF && isSpace(c)) {}
    uint32_t v = 0;
    bool digits = false;
    if (c == '0') {
        digits = true;
        c = getc(f);
        if (c == 'x' || c == 'X') c = getc(f);
    }
    for (; hexDigit(c) >= 0; c = getc(f)) {
        v = (v << 4) | static_cast<uint32_t>(hexDigit(c));
        digits = true;
    }
    if (c != ',' && c != EOF) ungetc(c, f);
    *out = v;
    return digits;
}

struct IconHeader {
    int64_t width = 0;
    int64_t height = 0;
};

Status iconReadHeader(FILE* f, IconHeader* h, LoadRequest* request) {
    uint8_t head[ICON_TEXT_BEFORE_COMMENT + 2];
    const size_t got = fread(head, 1, sizeof head, f);
    size_t after;
    if (!iconFindComment(head, got, &after) || !seekTo(f, after)) return ST_UNKNOWN_FORMAT;
    char name[ICON_NAME_MAX + 1];
    for (;;) {
        int c = getc(f);
        if (c == EOF) return ST_UNKNOWN_FORMAT;
        if (isSpace(c) || c == ',') continue;
        if (c == '*') {
            const int d = getc(f);
            if (d == '/') return ST_OK;
            if (d != EOF) ungetc(d, f);
            continue;  // a '*' that leads a comment line
        }
        size_t n = 0;
        while (c != EOF && !isSpace(c) && c != ',' && c != '=' && c != '*') {
            if (n == ICON_NAME_MAX) return ST_UNKNOWN_FORMAT;
            name[n++] = static_cast<char>(c);
            c = getc(f);
        }
        if (c == EOF) return ST_UNKNOWN_FORMAT;
        name[n] = 0;
        if (c != '=') {
            ungetc(c, f);
            continue;  // a word of a description
        }
        int64_t v;
        if (!iconReadNumber(f, &v)) return ST_UNKNOWN_FORMAT;
        const char* message = nullptr;
        if (strcmp(name, "Format_version") == 0 && v != 1) message = ICON_MSG_VERSION;
        else if (strcmp(name, "Depth") == 0 && v != 1) message = ICON_MSG_DEPTH;
        else if (strcmp(name, "Valid_bits_per_item") == 0 && v != 16) message = ICON_MSG_ITEM_BITS;
        else if (strcmp(name, "Width") == 0) h->width = v;
        else if (strcmp(name, "Height") == 0) h->height = v;
        if (message) {
            setReaderMessage(request, message);
            return ST_BAD_FILE;
        }
    }
}

}  // namespace

bool acceptTaac(const uint8_t* head, size_t n, int64_t) {
    return n >= sizeof TAAC_SIGNATURE && memcmp(head, TAAC_SIGNATURE, sizeof TAAC_SIGNATURE) == 0;
}

Status readTaac(FILE* stream, LoadRequest* request) {
    uint8_t b[sizeof TAAC_SIGNATURE];
    if (!readBlock(stream, b, sizeof b) || memcmp(b, TAAC_SIGNATURE, sizeof b) != 0) return ST_UNKNOWN_FORMAT;
    TaacHeader h;
    memset(h.palette, 0, sizeof h.palette);
    Status st = taacReadHeader(stream, &h, request);
    if (st != ST_OK) return st;
    if (h.bits == 0 || h.width < 1 || h.width > MAX_IMAGE_SIDE || h.height < 1 || h.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, TAAC_MSG_SIZE);
        return ST_BAD_FILE;
    }
    request->message[0] = 0;

    RasterHeader rh{};
    rh.layout = PL_REVERSED;  // B,G,R and A,B,G,R
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(h.bits);
    rh.bytesPerPlane = h.bits / 8 * rh.width;
    setRasterName(rh.name, TAAC_NAME);
    st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.bytesPerPlane, rh.height);
    if (h.mapped) endImage(PF_TRIPLETS, 8, h.palette);
    else endImage(0, 8, nullptr);  // grey without a colour map
    return st;
}

// The comment must name the size; C sources and X pixmaps open with comments too.
bool acceptIcon(const uint8_t* head, size_t n, int64_t) {
    size_t after;
    if (!iconFindComment(head, n, &after)) return false;
    const char* text = reinterpret_cast<const char*>(head + after);
    const size_t left = n - after;
    auto holds = [&](const char* word) {
        const size_t k = strlen(word);
        for (size_t i = 0; i + k <= left; ++i)
            if (memcmp(text + i, word, k) == 0) return true;
        return false;
    };
    return holds("Width") && holds("Height");
}

Status readIcon(FILE* stream, LoadRequest* request) {
    IconHeader h;
    Status st = iconReadHeader(stream, &h, request);
    if (st != ST_OK) return st;
    if (h.width < 1 || h.width > MAX_IMAGE_SIDE || h.height < 1 || h.height > MAX_IMAGE_SIDE)
        return ST_UNKNOWN_FORMAT;

    const int32_t words = static_cast<int32_t>((h.width + 15) / 16);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = words * 2;
    setRasterName(rh.name, ICON_NAME);
    st = beginImage(&rh);
    if (st != ST_OK) return st;
    Buffer row = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane));
    if (!row) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
        for (int32_t i = 0; i < words; ++i) {
            uint32_t v;
            if (!iconReadHex(stream, &v)) {
                st = ST_READ_ERROR;
                break;
            }
            row[2 * i] = static_cast<uint8_t>(v >> 8);
            row[2 * i + 1] = static_cast<uint8_t>(v);
        }
        if (st == ST_OK) st = deliverRow(row.get(), rh.bytesPerPlane, y);
    }
    endImage(PF_INVERT, 8, nullptr);  // a set bit is black
    return st;
}
