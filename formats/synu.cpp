// Synthetic Universe object files, the SDSC renderer's pictures (reader only).
//
// A file is a sequence of objects. Each starts with a text line: the object's
// type word, then size items, each a number followed by a letter: "l" or "L"
// for that many text lines, "b" or "B" for that many bytes, which follow in
// the order listed. An image object is
//     image 4L <N>b
//     <width>
//     <height>
//     <bytes per pixel>
//     <mode>                 "gray" or "rgb"
//     <N bytes>
// with rows bottom first. Grey pictures take one byte a pixel; "rgb" takes
// R,G,B and, at 4 bytes a pixel, a fourth byte we keep as alpha. Every image
// object is a page; objects of other types are skipped.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_RGB[] = "Synthetic Universe (RGB)";
const char NAME_GREY[] = "Synthetic Universe (grey)";
const char MSG_MODE[] = "Synu : Unsupported mode !";
constexpr size_t MAX_LINE = 256;
constexpr int MAX_ITEMS = 16;
constexpr int MAX_OBJECTS = 4096;
constexpr int64_t MAX_LINES = 1 << 20;

// One text line at p[0..n): printable characters up to LF (a CR before it
// dropped). Returns the length, or -1 when there is none in reach.
int lineAt(const uint8_t* p, size_t n, char* out) {
    for (size_t i = 0; i < n && i < MAX_LINE; ++i) {
        if (p[i] == '\n') {
            size_t len = i;
            if (len > 0 && p[len - 1] == '\r') --len;
            memcpy(out, p, len);
            out[len] = 0;
            return static_cast<int>(i + 1);
        }
        if ((p[i] < 0x20 || p[i] > 0x7E) && p[i] != '\t' && p[i] != '\r') return -1;
    }
    return -1;
}

struct Item {
    int64_t count;
    bool lines;
};

// An object header line: a type word, then size items. Returns the number of
// items, -1 when the line does not follow the grammar.
int objectHeader(const char* s, char* type, Item* items) {
    size_t i = 0;
    while (s[i] >= 'a' && s[i] <= 'z' && i < 32) {
        type[i] = s[i];
        ++i;
    }
    type[i] = 0;
    if (i == 0) return -1;
    int count = 0;
    while (s[i]) {
        if (s[i] != ' ' && s[i] != '\t') return -1;
        while (s[i] == ' ' || s[i] == '\t') ++i;
        if (!s[i]) break;
        if (s[i] < '0' || s[i] > '9') return -1;
        int64_t v = 0;
        while (s[i] >= '0' && s[i] <= '9') {
            if (v > (int64_t(1) << 40)) return -1;
            v = v * 10 + (s[i++] - '0');
        }
        const char unit = s[i++];
        if (unit != 'l' && unit != 'L' && unit != 'b' && unit != 'B') return -1;
        if (count == MAX_ITEMS) return -1;
        items[count++] = {v, unit == 'l' || unit == 'L'};
    }
    return count;
}

bool positive(const char* s, int64_t limit, int64_t* out) {
    int64_t v = 0;
    if (!*s) return false;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9' || v > limit) return false;
        v = v * 10 + (*s - '0');
    }
    *out = v;
    return v >= 1 && v <= limit;
}

struct SynuImage {
    int64_t width, height, bytes;
    bool rgb;
    int64_t dataOffset;
};

// Parses an image object whose header line (with its items) was read and
// whose four lines start at p[0..n). 1: an image; 0: not one; -1: bad mode.
int imageObject(const uint8_t* p, size_t n, const Item* items, int count, SynuImage* img) {
    if (count != 2 || !items[0].lines || items[0].count != 4 || items[1].lines) return 0;
    char line[4][MAX_LINE + 1];
    size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const int used = lineAt(p + at, n - at, line[k]);
        if (used < 0) return 0;
        at += static_cast<size_t>(used);
    }
    if (!positive(line[0], MAX_IMAGE_SIDE, &img->width) || !positive(line[1], MAX_IMAGE_SIDE, &img->height) ||
        !positive(line[2], 4, &img->bytes) || img->bytes == 2)
        return 0;
    if (img->width * img->height * img->bytes != items[1].count) return 0;
    img->dataOffset = static_cast<int64_t>(at);
    img->rgb = strcmp(line[3], "rgb") == 0 || strcmp(line[3], "rgba") == 0;
    if (!img->rgb && strcmp(line[3], "gray") != 0) return -1;
    if (img->rgb == (img->bytes == 1)) return -1;
    return 1;
}

}  // namespace

bool acceptSynu(const uint8_t* head, size_t n, int64_t) {
    char line[MAX_LINE + 1], type[40];
    Item items[MAX_ITEMS];
    const int used = lineAt(head, n, line);
    if (used < 0) return false;
    const int count = objectHeader(line, type, items);
    if (count < 1) return false;
    if (strcmp(type, "image") != 0) {
        // Another object first: its items must be sizes of lines and bytes.
        return count <= 4;
    }
    SynuImage img;
    return imageObject(head + used, n - static_cast<size_t>(used), items, count, &img) != 0;
}

Status readSynu(FILE* stream, LoadRequest* request) {
    // Walk the objects: count the images, remember the one asked for.
    int64_t at = 0, wanted = -1;
    int32_t pages = 0;
    SynuImage chosen{};
    Status bad = ST_UNKNOWN_FORMAT;
    for (int objects = 0; objects < MAX_OBJECTS && at < request->fileSize; ++objects) {
        uint8_t buf[5 * (MAX_LINE + 1)];
        if (!seekTo(stream, static_cast<uint64_t>(at))) break;
        const size_t n = fread(buf, 1, sizeof buf, stream);
        char line[MAX_LINE + 1], type[40];
        Item items[MAX_ITEMS];
        const int used = lineAt(buf, n, line);
        if (used < 0) break;
        const int count = objectHeader(line, type, items);
        if (count < 0) break;
        if (strcmp(type, "image") == 0) {
            SynuImage img;
            const int kind = imageObject(buf + used, n - static_cast<size_t>(used), items, count, &img);
            if (kind < 0 && pages == 0) bad = ST_BAD_FILE;
            if (kind > 0) {
                if (pages == 0 || pages == request->pageIndex) {
                    chosen = img;
                    wanted = at + used + img.dataOffset;
                }
                ++pages;
                at += used + img.dataOffset + img.width * img.height * img.bytes;
                continue;
            }
            if (objects == 0) break;
        }
        // Skip the object: its lines one by one, its byte blocks whole.
        at += used;
        for (int k = 0; k < count && at <= request->fileSize; ++k) {
            if (!items[k].lines) {
                at += items[k].count;
                continue;
            }
            if (items[k].count > MAX_LINES || !seekTo(stream, static_cast<uint64_t>(at))) {
                at = request->fileSize + 1;
                break;
            }
            for (int64_t l = 0; l < items[k].count; ++l) {
                int c;
                do { c = getc(stream); ++at; } while (c != EOF && c != '\n');
                if (c == EOF) break;
            }
        }
    }
    if (pages == 0) {
        if (bad == ST_BAD_FILE) setReaderMessage(request, MSG_MODE);
        return bad;
    }
    request->pageCount = pages;
    if (!seekTo(stream, static_cast<uint64_t>(wanted))) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = chosen.rgb ? 0 : PL_BYTE_PIXELS;
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(chosen.width);
    rh.height = static_cast<int32_t>(chosen.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * chosen.bytes);
    rh.bytesPerPlane = static_cast<int32_t>(chosen.width * chosen.bytes);
    setRasterName(rh.name, chosen.rgb ? NAME_RGB : NAME_GREY);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(0, 8, nullptr);
    return st;
}
