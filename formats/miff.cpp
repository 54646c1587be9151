// ImageMagick's own file format, 8-bit samples.
//
// A text header of key=value pairs (keys in any case), comments in braces,
// ended by ":" and one more byte (ImageMagick writes Ctrl-Z). The first pair is
// id=ImageMagick. Direct-colour pixels are R,G,B (and alpha with matte=True),
// or one grey byte in a grey colour space; pseudo-colour pixels are an index
// byte (and alpha with matte) after a colour map of R,G,B triplets. Run-length
// data are packets of one pixel followed by a count byte n for n + 1 pixels,
// running on across rows; their fourth byte is opacity (255 - alpha). Only the first picture of a file is read.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_QENCODED[] = "MIFF : Compression QEncoded not supported !";
const char MSG_COMPRESSION[] = "MIFF : Compression not supported !";
const char MSG_DEPTH[] = "MIFF : Depth not supported !";
const char MSG_COLORS[] = "MIFF : Too many colors !";
const char MSG_COLORSPACE[] = "MIFF : Colorspace not supported !";
const char MSG_SIZE[] = "MIFF : Bad picture's size !";

constexpr size_t MAX_TOKEN = 255;
constexpr long MAX_HEADER = 1 << 20;  // a header is a few hundred bytes

struct MiffHeader {
    bool pseudo = false;
    bool matte = false;
    bool rle = false;
    bool grey = false;
    int64_t colors = 0;
    int64_t columns = 0;
    int64_t rows = 0;
};

bool equalNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) return false;
    return *a == *b;
}

int64_t number(const char* v) {
    int64_t n = 0;
    if (!isdigit(static_cast<unsigned char>(*v))) return -1;
    for (; isdigit(static_cast<unsigned char>(*v)); ++v) {
        n = n * 10 + (*v - '0');
        if (n > 0x7FFFFFFF) return -1;
    }
    return *v ? -1 : n;
}

// A byte source over the stream or over the accept test's head.
struct Source {
    FILE* f = nullptr;
    const uint8_t* p = nullptr;
    size_t n = 0, at = 0;
    long used = 0;
    int get() {
        if (++used > MAX_HEADER) return EOF;
        if (f) return getc(f);
        return at < n ? p[at++] : EOF;
    }
};

// Reads key=value items until ':' (then one more byte). The first pair must be
// id=ImageMagick. onPair(key, value) sees every pair; false when it refuses.
// Returns ST_OK, ST_UNKNOWN_FORMAT, or the refusal onPair set.
template <typename F>
Status parseHeader(Source* s, F onPair) {
    bool first = true;
    int c = s->get();
    for (;;) {
        while (c != EOF && isspace(c)) c = s->get();
        if (c == EOF) return first ? ST_UNKNOWN_FORMAT : ST_READ_ERROR;
        if (c == '{') {
            while (c != EOF && c != '}') c = s->get();
            c = s->get();
            continue;
        }
        if (c == ':') {
            if (first) return ST_UNKNOWN_FORMAT;
            s->get();
            return ST_OK;
        }
        char key[MAX_TOKEN + 1], value[MAX_TOKEN + 1];
        size_t k = 0, v = 0;
        while (c != EOF && c != '=' && !isspace(c) && k < MAX_TOKEN) key[k++] = static_cast<char>(c), c = s->get();
        key[k] = '\0';
        if (c != '=' || k == 0) return first ? ST_UNKNOWN_FORMAT : ST_CORRUPT;
        c = s->get();
        if (c == '{') {  // a value in braces may hold spaces
            c = s->get();
            while (c != EOF && c != '}') {
                if (v < MAX_TOKEN) value[v++] = static_cast<char>(c);
                c = s->get();
            }
            c = s->get();
        } else {
            while (c != EOF && !isspace(c)) {
                if (v < MAX_TOKEN) value[v++] = static_cast<char>(c);
                c = s->get();
            }
        }
        value[v] = '\0';
        if (first) {
            if (!equalNoCase(key, "id") || !equalNoCase(value, "ImageMagick")) return ST_UNKNOWN_FORMAT;
            first = false;
            continue;
        }
        const Status st = onPair(key, value);
        if (st != ST_OK) return st;
    }
}

// Pixels as stored: bytes per pixel in the file.
int storedPixelBytes(const MiffHeader& h) {
    if (h.pseudo || h.grey) return h.matte ? 2 : 1;
    return h.matte ? 4 : 3;
}

struct Expand {
    const uint8_t* map;  // pseudo colour with alpha: 256 R,G,B entries
    int32_t width;
    int storedBytes;
};

// Index and alpha pairs (or grey and alpha) become R,G,B,A pixels.
void expandRow(const void* data, const uint8_t* in, uint8_t* out) {
    const auto* e = static_cast<const Expand*>(data);
    for (int32_t x = 0; x < e->width; ++x) {
        const uint8_t v = in[2 * x];
        if (e->map) memcpy(out + 4 * x, e->map + 3 * v, 3);
        else out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = v;
        out[4 * x + 3] = in[2 * x + 1];
    }
}

// Run-length packets: one stored pixel, then a count byte for count + 1 pixels.
Status readRuns(FILE* f, int storedBytes, int64_t rowBytes, int32_t rows, const Expand* expand) {
    RowFeed feed;
    Status st = feed.begin(rowBytes, rows);
    ChunkReader in(f);
    uint8_t packet[5], pixel[4];
    const int outBytes = expand ? 4 : storedBytes;
    while (st == ST_OK && !feed.done()) {
        if (!in.read(packet, static_cast<size_t>(storedBytes) + 1)) return feed.cut();
        if (expand) {
            Expand one = *expand;
            one.width = 1;
            expandRow(&one, packet, pixel);
        } else {
            memcpy(pixel, packet, static_cast<size_t>(storedBytes));
        }
        // Run-length packets carry opacity where plain pixels carry alpha.
        if (outBytes == 4) pixel[3] = static_cast<uint8_t>(255 - pixel[3]);
        // Whole pixels straight into the row; rows hold whole pixels.
        for (int64_t left = packet[storedBytes] + 1; st == ST_OK && left > 0 && !feed.done();) {
            int64_t room;
            uint8_t* dst = feed.space(&room);
            const int64_t k = std::min<int64_t>(left, room / outBytes);
            if (k <= 0) return ST_CORRUPT;
            for (int64_t i = 0; i < k; ++i) memcpy(dst + i * outBytes, pixel, static_cast<size_t>(outBytes));
            st = feed.advance(k * outBytes);
            left -= k;
        }
    }
    return st;
}

}  // namespace

bool acceptMiff(const uint8_t* head, size_t n, int64_t) {
    Source s;
    s.p = head;
    s.n = n;
    // Only the identification pair matters here: stop at the first other pair.
    const Status st = parseHeader(&s, [](const char*, const char*) { return ST_STOPPED; });
    return st == ST_STOPPED || st == ST_OK;
}

Status readMiff(FILE* stream, LoadRequest* request) {
    MiffHeader h;
    const char* refusal = nullptr;
    Source s;
    s.f = stream;
    Status st = parseHeader(&s, [&](const char* key, const char* value) {
        if (equalNoCase(key, "class")) {
            h.pseudo = equalNoCase(value, "PseudoClass");
        } else if (equalNoCase(key, "colors")) {
            h.colors = number(value);
        } else if (equalNoCase(key, "columns")) {
            h.columns = number(value);
        } else if (equalNoCase(key, "rows")) {
            h.rows = number(value);
        } else if (equalNoCase(key, "matte")) {
            h.matte = equalNoCase(value, "True");
        } else if (equalNoCase(key, "alpha-trait")) {
            h.matte = !equalNoCase(value, "Undefined");
        } else if (equalNoCase(key, "depth")) {
            if (number(value) != 8) refusal = MSG_DEPTH;
        } else if (equalNoCase(key, "colorspace")) {
            if (equalNoCase(value, "CMYK")) refusal = MSG_COLORSPACE;
            h.grey = equalNoCase(value, "Gray") || equalNoCase(value, "Grey");
        } else if (equalNoCase(key, "compression")) {
            if (equalNoCase(value, "QEncoded")) refusal = MSG_QENCODED;
            else if (equalNoCase(value, "RLE") || equalNoCase(value, "RunlengthEncoded")) h.rle = true;
            else if (!equalNoCase(value, "None") && !equalNoCase(value, "Undefined")) refusal = MSG_COMPRESSION;
        }
        return ST_OK;
    });
    if (st == ST_UNKNOWN_FORMAT) return st;
    if (st != ST_OK) return st == ST_CORRUPT ? ST_CORRUPT : ST_READ_ERROR;
    if (!refusal && h.pseudo && (h.colors < 0 || h.colors > 256)) refusal = MSG_COLORS;
    if (!refusal && (h.columns < 1 || h.rows < 1 || h.columns > MAX_IMAGE_SIDE || h.rows > MAX_IMAGE_SIDE))
        refusal = MSG_SIZE;
    if (refusal) {
        setReaderMessage(request, refusal);
        return ST_BAD_FILE;
    }
    if (!h.pseudo) h.colors = 0;

    const int stored = storedPixelBytes(h);
    // Alpha pairs are widened to R,G,B,A; other pixels go as stored.
    const bool widen = stored == 2;
    const int outBytes = widen ? 4 : stored;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.columns);
    rh.height = static_cast<int32_t>(h.rows);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * outBytes);
    rh.bytesPerPlane = outBytes * rh.width;
    if (outBytes == 1) {
        rh.layout = PL_BYTE_PIXELS;
        if (h.colors > 0) {
            int bits = 1;
            while ((int64_t(1) << bits) < h.colors) ++bits;
            rh.bitsPerPlane = static_cast<int16_t>(bits);
        }
    }
    const char* name = h.pseudo ? (h.rle ? "Image Magick (PseudoClass - RLE)" : "Image Magick (PseudoClass)")
                       : h.matte ? (h.rle ? "Image Magick (DirectClass+Alpha - RLE)" : "Image Magick (DirectClass+Alpha)")
                                 : (h.rle ? "Image Magick (DirectClass - RLE)" : "Image Magick (DirectClass)");
    setRasterName(rh.name, name);
    rh.compression = h.rle ? "RLE" : nullptr;

    // The colour map comes before the pixels; a palette without alpha is the image's.
    uint8_t map[PALETTE_BYTES] = {};
    st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (h.colors > 0 && !readBlock(stream, map, static_cast<size_t>(3 * h.colors))) st = ST_READ_ERROR;
    Expand expand{h.pseudo ? map : nullptr, rh.width, stored};
    if (st == ST_OK) {
        if (h.rle) st = readRuns(stream, stored, rh.bytesPerPlane, rh.height, widen ? &expand : nullptr);
        else if (widen) st = readRows(stream, int64_t(stored) * rh.width, rh.height, -1, expandRow, &expand);
        else st = readRows(stream, rh.bytesPerPlane, rh.height);
    }
    if (h.pseudo && !widen && h.colors > 0) endImage(PF_TRIPLETS, 8, map);
    else endImage(0, 8, nullptr);
    return st;
}

Status writeMiff(FILE* stream, SaveRequest* request) {
    const bool direct = request->kind == KIND_ANY_TRUECOLOUR;
    if (!direct && request->kind != IMG_PALETTE && request->kind != IMG_GREY && request->kind != IMG_BINARY)
        return ST_KIND_REFUSED;
    const bool alpha = direct && request->bitsPerPixel == 32 && savedImageHasAlpha();
    const int bytes = direct ? (alpha ? 4 : 3) : 1;
    int colours = request->kind == IMG_BINARY ? 2 : request->colours;
    if (colours < 1 || colours > 256) colours = 256;

    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(8 * bytes);
    wh.bytesPerPlane = bytes * request->width;
    wh.paletteFormat = direct ? 0 : PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, "Image Magick");
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    int ok = fputs("{\n  Created with KAleos\n}\nid=ImageMagick\n", stream) >= 0;
    if (direct) ok = ok && fputs(alpha ? "class=DirectClass\nmatte=True\n" : "class=DirectClass\n", stream) >= 0;
    else ok = ok && fprintf(stream, "class=PseudoClass colors=%d\n", colours) >= 0;
    ok = ok && fprintf(stream, "columns=%d rows=%d\n\n:\n", static_cast<int>(request->width),
                       static_cast<int>(request->height)) >= 0;
    if (!ok) st = ST_WRITE_ERROR;
    if (st == ST_OK && !direct && (!wh.palette || !writeBlock(stream, wh.palette, static_cast<size_t>(3 * colours))))
        st = ST_WRITE_ERROR;
    if (st == ST_OK) st = writeRows(stream, wh.bytesPerPlane, request->height);
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
