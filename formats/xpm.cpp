// X11 pixmaps: colour pictures stored as text.
//
// The usual (XPM3) form is a C array of strings:
//
//   /* XPM */
//   static char *name[] = {
//   "width height colours chars_per_pixel",
//   "a c #FF0000",            one string per colour: the pixel characters,
//   "b c navy m black",       then key/value pairs (c, g, g4, m, s)
//   "abba",                   one string per row
//   };
//
// The older XPM2 form starts with the line "! XPM2" and has the same strings
// as bare lines, without quotes. Colours are "#" and 3, 6, 9 or 12 hexadecimal
// digits, X11 colour names (any case, any spacing) or "None" (transparent,
// read as white). Pixel characters are printable ASCII, 1 to 4 per pixel.
#include <algorithm>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"
#include "x11colours.h"

namespace {

const char NAME_READ[] = "X PixMap";
const char NAME_WRITE[] = "X PixMap";
const char MSG_BAD_CHARACTERS[] = "X PixMap : Bad pixel characters !";

constexpr int64_t MAX_SIDE = 32000;
constexpr int MAX_CHARS_PER_PIXEL = 4;
// The values and colour strings are examined up to this length; the rest is skipped.
constexpr size_t STRING_MAX = 4096;
// Pixel codes of 1 or 2 characters index this table directly (first * 128 + second).
constexpr size_t CODE_TABLE_SIZE = 16384;

// The characters our writer uses: one per pixel below 64 colours, two otherwise.
const char WRITE_CHARS[] = "`.#abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isPixelChar(int c) { return c >= 32 && c <= 126; }
bool isBinaryByte(int c) { return c < 32 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The strings of the file, in either form.
class XpmText {
public:
    XpmText(FILE* f, bool bare) : f_(f), bare_(bare) {}

    enum class Open { Found, End, Binary };

    // Moves to the first character of the next string: past its opening quote,
    // over C comments and whatever else lies between strings; for the bare
    // form, to the start of the next non-empty line. With checkText, a byte
    // that no text holds gives Binary.
    Open open(bool checkText) {
        for (;;) {
            int c = getc(f_);
            if (c == EOF) return Open::End;
            if (checkText && isBinaryByte(c)) return Open::Binary;
            if (bare_) {
                if (c == '\n' || c == '\r') continue;
                ungetc(c, f_);
                return Open::Found;
            }
            if (c == '"') return Open::Found;
            if (c != '/') continue;
            int d = getc(f_);
            if (d == '*') {
                int last = 0;
                while ((c = getc(f_)) != EOF && !(last == '*' && c == '/')) last = c;
                if (c == EOF) return Open::End;
            } else if (d == '/') {
                while ((c = getc(f_)) != EOF && c != '\n') {
                }
            } else if (d != EOF) {
                ungetc(d, f_);
            }
        }
    }

    // The next character inside a string.
    int get() { return getc(f_); }
    bool isEnd(int c) const { return bare_ ? (c == '\n' || c == '\r') : c == '"'; }

    // Reads the rest of the current string into buf (at most cap characters
    // kept, the rest skipped). False when the stream ends before the closing
    // quote (the bare form's last line may end with the stream).
    bool rest(char* buf, size_t cap, size_t* length) {
        size_t n = 0;
        int c;
        while ((c = getc(f_)) != EOF && !isEnd(c))
            if (n < cap) buf[n++] = static_cast<char>(c);
        buf[n] = '\0';
        *length = n;
        return c != EOF || bare_;
    }

    // Skips to the end of the current string; false when the stream ends first.
    bool close() {
        int c;
        while ((c = getc(f_)) != EOF && !isEnd(c)) {
        }
        return c != EOF || bare_;
    }

private:
    FILE* f_;
    bool bare_;
};

// "width height colours chars_per_pixel" and anything after (hot spot, XPMEXT).
bool xpmValues(const char* s, int64_t values[4]) {
    const char* p = s;
    for (int i = 0; i < 4; ++i) {
        while (isBlank(*p)) ++p;
        if (*p < '0' || *p > '9') return false;
        int64_t v = 0;
        while (*p >= '0' && *p <= '9') {
            if (v < 1000000000) v = v * 10 + (*p - '0');
            ++p;
        }
        values[i] = v;
        if (*p && !isBlank(*p)) return false;
    }
    return true;
}

// One colour value: "#" and 3, 6, 9 or 12 hexadecimal digits (each component
// scaled to 8 bits), "None" (white) or an X11 colour name. Unknown values give black.
void xpmColour(const char* text, size_t length, uint8_t rgb[3]) {
    rgb[0] = rgb[1] = rgb[2] = 0;
    if (length == 4 && (text[0] | 0x20) == 'n' && (text[1] | 0x20) == 'o' && (text[2] | 0x20) == 'n' &&
        (text[3] | 0x20) == 'e') {
        rgb[0] = rgb[1] = rgb[2] = 255;
        return;
    }
    if (text[0] != '#') {
        findX11Colour(text, length, rgb);
        return;
    }
    const size_t digits = length - 1;
    if (digits == 0 || digits % 3 != 0 || digits > 12) return;
    for (size_t i = 1; i < length; ++i)
        if (hexDigit(text[i]) < 0) return;
    const size_t per = digits / 3;
    for (int k = 0; k < 3; ++k) {
        uint32_t v = 0;
        for (size_t i = 0; i < per; ++i) v = v << 4 | static_cast<uint32_t>(hexDigit(text[1 + k * per + i]));
        switch (per) {
        case 1: rgb[k] = static_cast<uint8_t>(v * 17); break;
        case 2: rgb[k] = static_cast<uint8_t>(v); break;
        case 3: rgb[k] = static_cast<uint8_t>(v >> 4); break;
        default: rgb[k] = static_cast<uint8_t>(v >> 8); break;
        }
    }
}

// The keys of a colour string, in the order a colour is taken from them: the
// colour visual first, then grey-scale, four-level grey and monochrome.
// "s" (a symbolic name) is a key whose value is no colour.
const char* const COLOUR_KEYS[] = {"c", "g", "g4", "m", "s"};
constexpr int KEY_COUNT = 5;
constexpr int COLOUR_KEY_COUNT = 4;

// Splits the part of a colour string after the pixel characters into keys and
// values (the words after a key up to the next key) and sets the colour from
// the first key present. False when no key names a colour.
bool xpmColourString(const char* s, uint8_t rgb[3]) {
    const char* valueStart[KEY_COUNT] = {};
    const char* valueEnd[KEY_COUNT] = {};
    int key = -1;
    const char* p = s;
    for (;;) {
        while (isBlank(*p)) ++p;
        if (!*p) break;
        const char* word = p;
        while (*p && !isBlank(*p)) ++p;
        const size_t n = static_cast<size_t>(p - word);
        int k = -1;
        for (int i = 0; i < KEY_COUNT; ++i)
            if (strlen(COLOUR_KEYS[i]) == n && memcmp(COLOUR_KEYS[i], word, n) == 0) k = i;
        if (k >= 0) {
            key = k;
            valueStart[k] = valueEnd[k] = nullptr;
            continue;
        }
        if (key < 0) continue;  // words before any key mean nothing
        if (!valueStart[key]) valueStart[key] = word;
        valueEnd[key] = p;
    }
    for (int k = 0; k < COLOUR_KEY_COUNT; ++k) {
        if (!valueStart[k]) continue;
        xpmColour(valueStart[k], static_cast<size_t>(valueEnd[k] - valueStart[k]), rgb);
        return true;
    }
    rgb[0] = rgb[1] = rgb[2] = 0;
    return false;
}

// A pixel code of 3 or 4 characters and the colour it stands for.
struct LongCode {
    uint32_t key;
    uint32_t index;
};

uint32_t packCode(const char* chars, int count) {
    uint32_t key = 0;
    for (int i = 0; i < count; ++i) key = key << 8 | static_cast<uint8_t>(chars[i]);
    return key;
}

// Finds the colour of a pixel code; unknown codes give colour 0.
class CodeLookup {
public:
    CodeLookup(int charsPerPixel, int64_t colours) : cpp_(charsPerPixel), colours_(colours) {}

    bool allocate() {
        if (cpp_ <= 2) table_ = allocBuffer(CODE_TABLE_SIZE * sizeof(uint32_t));
        else table_ = allocBuffer(static_cast<uint64_t>(colours_) * sizeof(LongCode));
        return static_cast<bool>(table_);
    }

    // Colour index of the code chars (all printable); a later definition of a
    // code replaces an earlier one.
    void define(const char* chars, uint32_t index) {
        if (cpp_ <= 2) {
            codes()[slot(chars)] = index;
        } else {
            longCodes()[defined_++] = LongCode{packCode(chars, cpp_), index};
        }
    }

    void finish() {
        if (cpp_ <= 2) return;
        std::sort(longCodes(), longCodes() + defined_, [](const LongCode& a, const LongCode& b) {
            return a.key != b.key ? a.key < b.key : a.index < b.index;
        });
    }

    uint32_t find(const char* chars) const {
        if (cpp_ <= 2) return codes()[slot(chars)];
        const uint32_t key = packCode(chars, cpp_);
        const LongCode* begin = longCodes();
        const LongCode* end = begin + defined_;
        const LongCode* it = std::upper_bound(begin, end, key, [](uint32_t k, const LongCode& c) { return k < c.key; });
        if (it == begin || (it - 1)->key != key) return 0;
        return (it - 1)->index;
    }

private:
    size_t slot(const char* chars) const {
        size_t s = static_cast<uint8_t>(chars[0]) & 0x7F;
        if (cpp_ == 2) s = s * 128 + (static_cast<uint8_t>(chars[1]) & 0x7F);
        return s;
    }
    uint32_t* codes() const { return reinterpret_cast<uint32_t*>(table_.get()); }
    LongCode* longCodes() const { return reinterpret_cast<LongCode*>(table_.get()); }

    int cpp_;
    int64_t colours_;
    int64_t defined_ = 0;
    Buffer table_;
};

int64_t streamSize(FILE* f, int64_t known) {
    if (known > 0) return known;
    long here = ftell(f);
    if (here < 0 || fseek(f, 0, SEEK_END) != 0) return -1;
    long end = ftell(f);
    if (fseek(f, here, SEEK_SET) != 0) return -1;
    return end;
}

// True when the stream starts with the bare form's first line ("! XPM2"),
// which is then consumed; otherwise the stream is back where it was.
bool xpmBareForm(FILE* f) {
    static const char MARK[] = "! XPM2";
    const long start = ftell(f);
    char head[sizeof MARK - 1];
    if (readBlock(f, head, sizeof head) && memcmp(head, MARK, sizeof head) == 0) {
        int c;
        while ((c = getc(f)) != EOF && c != '\n') {
        }
        return true;
    }
    if (start < 0 || fseek(f, start, SEEK_SET) != 0) rewind(f);
    return false;
}

// Bits that hold indices below the colour count (1 for 2 colours, 8 above 128).
int16_t bitsForColours(int64_t colours) {
    int16_t bits = 1;
    while ((int64_t{1} << bits) < colours) ++bits;
    return bits;
}

}  // namespace

Status readXpm(FILE* stream, LoadRequest* request) {
    const bool bare = xpmBareForm(stream);
    XpmText text(stream, bare);

    // The values string; anything else is not a pixmap.
    char buf[STRING_MAX + 1];
    size_t length = 0;
    if (text.open(true) != XpmText::Open::Found) return ST_UNKNOWN_FORMAT;
    if (!text.rest(buf, STRING_MAX, &length)) return ST_UNKNOWN_FORMAT;
    int64_t values[4];
    if (!xpmValues(buf, values)) return ST_UNKNOWN_FORMAT;
    const int64_t width = values[0], height = values[1], colours = values[2];
    const int cpp = static_cast<int>(values[3]);
    if (width < 1 || width > MAX_SIDE || height < 1 || height > MAX_SIDE || colours < 1 || values[3] < 1 ||
        values[3] > MAX_CHARS_PER_PIXEL)
        return ST_UNKNOWN_FORMAT;

    // Every colour string takes at least its pixel characters and two quotes:
    // a count the file cannot hold is a file cut short.
    const int64_t fileSize = streamSize(stream, request->fileSize);
    if (fileSize >= 0 && colours > fileSize / (cpp + 2)) return ST_READ_ERROR;

    const bool palette = colours <= 256;
    CodeLookup lookup(cpp, colours);
    Buffer rgbTable = allocBuffer(static_cast<uint64_t>(colours) * 3);
    if (!lookup.allocate() || !rgbTable) return ST_NO_MEMORY;

    for (int64_t i = 0; i < colours; ++i) {
        if (text.open(false) != XpmText::Open::Found) return ST_READ_ERROR;
        if (!text.rest(buf, STRING_MAX, &length)) return ST_READ_ERROR;
        if (length < static_cast<size_t>(cpp)) {
            setReaderMessage(request, MSG_BAD_CHARACTERS);
            return ST_BAD_FILE;
        }
        for (int k = 0; k < cpp; ++k)
            if (!isPixelChar(static_cast<uint8_t>(buf[k]))) {
                setReaderMessage(request, MSG_BAD_CHARACTERS);
                return ST_BAD_FILE;
            }
        lookup.define(buf, static_cast<uint32_t>(i));
        xpmColourString(buf + cpp, &rgbTable[3 * i]);
    }
    lookup.finish();

    RasterHeader rh{};
    rh.orientation = 0;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    if (palette) {
        rh.layout = PL_BYTE_PIXELS;
        rh.bitsPerPlane = bitsForColours(colours);
        rh.bytesPerPlane = rh.width;
    } else {
        rh.layout = 0;
        rh.bitsPerPlane = 24;
        rh.bytesPerPlane = 3 * rh.width;
    }
    setRasterName(rh.name, NAME_READ);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    char code[MAX_CHARS_PER_PIXEL] = {};
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y) {
        if (text.open(false) != XpmText::Open::Found) {
            st = ST_READ_ERROR;
            break;
        }
        uint8_t* row = rh.rowBuffer;
        memset(row, 0, static_cast<size_t>(rh.bytesPerPlane));
        bool rowEnded = false;
        for (int32_t x = 0; x < rh.width && st == ST_OK; ++x) {
            for (int k = 0; k < cpp; ++k) {
                int c = text.get();
                if (c == EOF) {
                    st = ST_READ_ERROR;
                } else if (text.isEnd(c)) {
                    rowEnded = true;  // a row shorter than the width
                    st = ST_CORRUPT;
                } else if (!isPixelChar(c)) {
                    st = ST_CORRUPT;
                }
                if (st != ST_OK) break;
                code[k] = static_cast<char>(c);
            }
            if (st != ST_OK) break;
            const uint32_t index = lookup.find(code);
            if (palette) row[x] = static_cast<uint8_t>(index);
            else memcpy(row + 3 * static_cast<size_t>(x), &rgbTable[3 * static_cast<size_t>(index)], 3);
        }
        // Characters after the last pixel are skipped; only the last row may end with the stream.
        if (st == ST_OK && !rowEnded && !text.close() && y + 1 < rh.height) st = ST_READ_ERROR;
        Status put = putRows(-1, y, 1);
        if (st == ST_OK) st = put;
    }
    if (palette) {
        uint8_t table[PALETTE_BYTES] = {};
        memcpy(table, rgbTable.get(), static_cast<size_t>(colours) * 3);
        endImage(PF_TRIPLETS, 8, table);
    } else {
        endImage(0, 8, nullptr);
    }
    return st;
}

Status writeXpm(FILE* stream, SaveRequest* request) {
    int colours;
    switch (request->kind) {
    case IMG_BINARY:
        colours = 2;
        break;
    case IMG_GREY:
        // As the core builds the grey ramp: 256 levels when the count makes no sense.
        colours = request->colours >= 2 && request->colours <= 256 ? request->colours : 256;
        break;
    case IMG_PALETTE:
        colours = request->colours >= 1 && request->colours <= 256 ? request->colours : 256;
        break;
    default:
        return ST_KIND_REFUSED;
    }
    const int cpp = colours < 64 ? 1 : 2;

    WriteHeader wh{};
    wh.layout = 0;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = request->width;
    wh.paletteFormat = PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    // The array's name: the file name without its folder and extension, made
    // a C identifier.
    const char* base = request->fileName;
    for (const char* p = request->fileName; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    const char* dot = strrchr(base, '.');
    size_t nameLength = dot ? static_cast<size_t>(dot - base) : strlen(base);
    char name[FILE_NAME_LEN + 2];
    size_t n = 0;
    if (nameLength == 0 || (base[0] >= '0' && base[0] <= '9')) name[n++] = '_';
    for (size_t i = 0; i < nameLength && n < FILE_NAME_LEN; ++i) {
        const char c = base[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        name[n++] = ok ? c : '_';
    }
    name[n] = '\0';

    fprintf(stream, "/* XPM */\nstatic char *%s[] = {\n", name);
    fputs("/* width height num_colors chars_per_pixel */\n", stream);
    fprintf(stream, "\"   %3d   %3d   %6d            %1d\",\n", request->width, request->height, colours, cpp);
    fputs("/* colors */\n", stream);
    const uint8_t* pal = wh.palette;
    for (int i = 0; i < colours; ++i) {
        const uint8_t r = pal ? pal[3 * i] : 0, g = pal ? pal[3 * i + 1] : 0, b = pal ? pal[3 * i + 2] : 0;
        if (cpp == 1) fprintf(stream, "\"%c c #%02x%02x%02x\",\n", WRITE_CHARS[i], r, g, b);
        else fprintf(stream, "\"%c%c c #%02x%02x%02x\",\n", WRITE_CHARS[i / 64], WRITE_CHARS[i % 64], r, g, b);
    }
    fputs("/* pixels */\n", stream);

    for (int32_t y = 0; st == ST_OK && y < request->height; ++y) {
        st = getRows(y, 1);
        if (st != ST_OK) break;
        putc('"', stream);
        for (int32_t x = 0; x < request->width; ++x) {
            // Values past the colour count (the second colour of a two-colour
            // picture takes every non-zero value) are written as the last colour.
            int v = wh.rowBuffer[x];
            if (v >= colours) v = colours - 1;
            if (cpp == 1) {
                putc(WRITE_CHARS[v], stream);
            } else {
                putc(WRITE_CHARS[v / 64], stream);
                putc(WRITE_CHARS[v % 64], stream);
            }
        }
        fputs(y + 1 < request->height ? "\",\n" : "\"\n};\n", stream);
    }
    if (st == ST_OK && ferror(stream)) st = ST_WRITE_ERROR;
    endWrite();
    return st;
}
