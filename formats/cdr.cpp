// CorelDRAW drawings: the preview bitmap they carry (reader only); the
// drawing itself is not rendered.
//
// CorelDRAW 3 and later: a RIFF file of form "CDR" and a version character
// ("CDRX" is a clip-art container, not a drawing). Little-endian chunks: an
// identifier, a length, the data padded to an even length; "LIST" chunks
// hold a list type and chunks of their own. The preview is the chunk "DISP":
// a clipboard format number, then for format 8 (or 17) a packed bitmap
// (information header, colour table, rows), read by the bitmap reader.
// Without one, the first bitmap of the "bmpt" list ("bmp " chunks: a 16-bit
// number, then a whole bitmap file) stands in. "cmpr" lists hold compressed
// data whose chunks do not follow the RIFF rules and are passed over.
//
// CorelDRAW 1 and 2: "WL", a version character (previews from 'f' on) and at
// offset 28 the position P of the preview, a Windows 2 device-dependent
// bitmap at P + 2: type (0), width, height, bytes a row (even), planes and
// bits a pixel as bytes, 4 unused bytes, then the rows top row first. One
// plane of 1 bit (1 is white), 8 bits (the Windows system colours) or 32 bits
// (B,G,R,x), or four planes of 1 bit, each row holding its four plane lines,
// plane 0 the least significant bit. The 1-bit previews of 90 x 90 and
// 128 x 128 carry a meaningless last column and last row, which are cut.
//
// CorelDRAW X4 and later: a ZIP archive whose member previews/thumbnail.png
// (or metadata/thumbnails/thumbnail.bmp) is the preview, stored or deflated.
// The central directory at the end of the archive says where it is.
#include <cstring>

#include <zlib.h>

#include "codec.h"
#include "codecs.h"
#include "dib.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_NO_PREVIEW[] = "CDR : No preview bitmap !";
const char MSG_BAD_PREVIEW[] = "CDR : Bad preview bitmap !";

const char NAME_RIFF[] = "CorelDRAW preview";
const char NAME_OLD[] = "CorelDRAW 2 preview";

constexpr uint32_t CF_DIB = 8;
constexpr uint32_t CF_DIBV5 = 17;
constexpr int MAX_LIST_DEPTH = 8;
constexpr size_t DDB_HEADER = 14;
constexpr uint32_t OLD_PREVIEW_AT = 28;

// The colours of the Windows system palette that every display has: the
// first eight and the last eight entries.
const uint8_t SYSTEM_LOW[24] = {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80, 0x00, 0x80, 0x80, 0x00,
                                0x00, 0x00, 0x80, 0x80, 0x00, 0x80, 0x00, 0x80, 0x80, 0xC0, 0xC0, 0xC0};
const uint8_t SYSTEM_HIGH[24] = {0x80, 0x80, 0x80, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00,
                                 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Where a preview was found in the RIFF chunks.
struct Found {
    uint64_t at = 0;  // its first byte
    uint64_t length = 0;
    bool packed = false;  // a packed bitmap (DISP) or a whole bitmap file (bmp )
    bool any = false;
};

class RiffWalk {
public:
    explicit RiffWalk(FILE* f) : f_(f) {}

    // Looks through the chunks of [at, end): the first DISP bitmap wins,
    // the first "bmp " of a bmpt list is kept for want of one.
    bool walk(uint64_t at, uint64_t end, int depth, bool inBitmaps) {
        while (at + 8 <= end) {
            uint8_t c[12];
            if (!seekTo(f_, at) || !readBlock(f_, c, 8)) return false;
            const uint64_t length = loadU32LE(c + 4);
            const uint64_t body = at + 8;
            const uint64_t stop = body + length < end ? body + length : end;
            if (memcmp(c, "DISP", 4) == 0 && !inBitmaps && stop > body + 4 + DIB_INFO_HEADER_SIZE) {
                if (!readBlock(f_, c + 8, 4)) return false;
                const uint32_t format = loadU32LE(c + 8);
                if (format == CF_DIB || format == CF_DIBV5) {
                    disp_ = {body + 4, stop - (body + 4), true, true};
                    return true;
                }
            } else if (memcmp(c, "bmp ", 4) == 0 && inBitmaps && !bitmap_.any && stop > body + 2) {
                bitmap_ = {body + 2, stop - (body + 2), false, true};
            } else if (memcmp(c, "LIST", 4) == 0 && length >= 4 && depth < MAX_LIST_DEPTH) {
                if (!readBlock(f_, c + 8, 4)) return false;
                if (memcmp(c + 8, "cmpr", 4) != 0) {
                    if (walk(body + 4, stop, depth + 1, memcmp(c + 8, "bmpt", 4) == 0)) return true;
                }
            }
            at = body + length + (length & 1);
        }
        return false;
    }

    Found preview() const { return disp_.any ? disp_ : bitmap_; }

private:
    FILE* f_;
    Found disp_, bitmap_;
};

Status readRiffPreview(FILE* f, LoadRequest* request, const uint8_t* head) {
    const uint64_t fileSize = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : UINT64_MAX;
    const uint64_t riffEnd = 8 + uint64_t(loadU32LE(head + 4));
    const uint64_t end = riffEnd < fileSize ? riffEnd : fileSize;
    RiffWalk walk(f);
    walk.walk(12, end, 0, false);
    const Found found = walk.preview();
    if (!found.any) {
        setReaderMessage(request, MSG_NO_PREVIEW);
        return ST_BAD_FILE;
    }
    // The chunk's bytes, as much of them as the file holds.
    const uint64_t held = found.length;
    if (held > (uint64_t(1) << 30)) return ST_NO_MEMORY;
    Buffer bytes = allocBuffer(held);
    if (!bytes) return ST_NO_MEMORY;
    if (!seekTo(f, found.at)) return ST_READ_ERROR;
    const size_t got = fread(bytes.get(), 1, static_cast<size_t>(held), f);
    const Status st = dibReadInMemory(bytes.get(), got, found.packed, request, NAME_RIFF);
    if (st == ST_UNKNOWN_FORMAT) {
        setReaderMessage(request, MSG_BAD_PREVIEW);
        return ST_BAD_FILE;
    }
    return st;
}

// ---- CorelDRAW 1 and 2 --------------------------------------------------------

struct Ddb {
    int32_t width;
    int32_t height;
    int32_t rowStride;  // bytes of one plane line
    int planes;
    int bits;
};

// The preview's bitmap structure, when it is one we read.
bool parseDdb(const uint8_t* b, Ddb* d) {
    d->width = loadU16LE(b + 2);
    d->height = loadU16LE(b + 4);
    d->rowStride = loadU16LE(b + 6);
    d->planes = b[8];
    d->bits = b[9];
    const bool kind = (d->planes == 1 && (d->bits == 1 || d->bits == 8 || d->bits == 32)) ||
                      (d->planes == 4 && d->bits == 1);
    return loadU16LE(b) == 0 && kind && d->width >= 1 && d->width <= MAX_IMAGE_SIDE && d->height >= 1 &&
           d->height <= MAX_IMAGE_SIDE && d->rowStride % 2 == 0 &&
           d->rowStride >= (int64_t(d->width) * d->bits + 15) / 16 * 2;
}

bool oldVersionHasPreview(uint8_t version) { return version > 'e'; }

// 32-bit B,G,R,x pixels as B,G,R.
void dropFourthByte(const void* data, const uint8_t* stored, uint8_t* out) {
    const int32_t width = *static_cast<const int32_t*>(data);
    for (int32_t x = 0; x < width; ++x) memcpy(out + 3 * x, stored + 4 * x, 3);
}

Status readOldPreview(FILE* f, LoadRequest* request, const uint8_t* head) {
    char ext[8];
    extensionOf(request->fileName, ext, sizeof ext);
    const bool named = strcmp(ext, "cdr") == 0;
    const uint64_t at = uint64_t(loadU32LE(head + OLD_PREVIEW_AT)) + 2;
    uint8_t b[DDB_HEADER];
    Ddb d{};
    const bool found = oldVersionHasPreview(head[2]) && seekTo(f, at) && readBlock(f, b, sizeof b) && parseDdb(b, &d);
    const uint64_t rowBytes = uint64_t(d.rowStride) * d.planes;
    // "WL" says little: without the name, the whole preview must be there.
    if (!named && (!found || request->fileSize <= 0 ||
                   at + DDB_HEADER + rowBytes * d.height > static_cast<uint64_t>(request->fileSize)))
        return ST_UNKNOWN_FORMAT;
    if (!found) {
        setReaderMessage(request, MSG_NO_PREVIEW);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.channels = d.bits == 32 ? 3 : 1;
    rh.width = d.width;
    rh.height = d.height;
    if (d.bits == 1 && d.planes == 1 && ((d.width == 90 && d.height == 90) || (d.width == 128 && d.height == 128))) {
        --rh.width;
        --rh.height;
    }
    rh.planes = static_cast<int16_t>(d.planes);
    rh.bitsPerPlane = static_cast<int16_t>(d.bits == 32 ? 24 : d.bits);
    rh.layout = d.bits == 32 ? PL_REVERSED : 0;
    rh.bytesPerPlane = d.bits == 32 ? 3 * d.width : d.rowStride;
    setRasterName(rh.name, NAME_OLD);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const int32_t width = rh.width;
    st = d.bits == 32 ? readRows(f, d.rowStride, rh.height, -1, dropFourthByte, &width)
                      : readRows(f, static_cast<int64_t>(rowBytes), rh.height);
    uint8_t table[PALETTE_BYTES] = {};
    if (d.planes == 4) {
        memcpy(table, PC_COLOURS_16, sizeof PC_COLOURS_16);
        endImage(0, 8, table);
    } else if (d.bits == 8) {
        memcpy(table, SYSTEM_LOW, sizeof SYSTEM_LOW);
        memcpy(table + 3 * 248, SYSTEM_HIGH, sizeof SYSTEM_HIGH);
        endImage(0, 8, table);
    } else {
        endImage(0, 8, nullptr);  // 1 is white
    }
    return st;
}

// ---- CorelDRAW X4 and later -----------------------------------------------------

constexpr size_t ZIP_END_RECORD = 22;
constexpr size_t ZIP_CENTRAL_ENTRY = 46;
constexpr size_t ZIP_LOCAL_HEADER = 30;
constexpr uint64_t ZIP_END_SEARCH = ZIP_END_RECORD + 0xFFFF;  // the record and the longest comment
constexpr uint64_t MAX_THUMBNAIL = uint64_t(64) << 20;
constexpr uint64_t DEFLATE_RATIO = 1032;  // the most deflate expands

const char* const THUMBNAILS[2] = {"previews/thumbnail.png", "metadata/thumbnails/thumbnail.bmp"};

struct ZipMember {
    int which = -1;  // index in THUMBNAILS
    uint16_t method = 0;
    uint64_t packed = 0;
    uint64_t size = 0;
    uint64_t localAt = 0;
};

// The thumbnail's entry in the central directory.
bool findThumbnail(FILE* f, uint64_t fileSize, ZipMember* m) {
    const uint64_t tail = fileSize < ZIP_END_SEARCH ? fileSize : ZIP_END_SEARCH;
    if (tail < ZIP_END_RECORD) return false;
    Buffer end = allocBuffer(tail);
    if (!end || !seekTo(f, fileSize - tail) || !readBlock(f, end.get(), static_cast<size_t>(tail))) return false;
    const uint8_t* e = nullptr;
    for (uint64_t i = tail - ZIP_END_RECORD + 1; i-- > 0;)
        if (memcmp(end.get() + i, "PK\5\6", 4) == 0) {
            e = end.get() + i;
            break;
        }
    if (!e) return false;
    const uint32_t entries = loadU16LE(e + 10);
    uint64_t at = loadU32LE(e + 16);
    const uint64_t stop = at + loadU32LE(e + 12);
    if (stop > fileSize) return false;
    for (uint32_t k = 0; k < entries && at + ZIP_CENTRAL_ENTRY <= stop; ++k) {
        uint8_t c[ZIP_CENTRAL_ENTRY];
        if (!seekTo(f, at) || !readBlock(f, c, sizeof c) || memcmp(c, "PK\1\2", 4) != 0) return false;
        const uint16_t nameLength = loadU16LE(c + 28);
        char name[64] = {};
        if (nameLength < sizeof name && !readBlock(f, name, nameLength)) return false;
        for (int t = 0; t < 2; ++t)
            if (nameLength < sizeof name && strcmp(name, THUMBNAILS[t]) == 0 && (m->which < 0 || t < m->which)) {
                m->which = t;
                m->method = loadU16LE(c + 10);
                m->packed = loadU32LE(c + 20);
                m->size = loadU32LE(c + 24);
                m->localAt = loadU32LE(c + 42);
            }
        at += ZIP_CENTRAL_ENTRY + nameLength + loadU16LE(c + 30) + loadU16LE(c + 32);
    }
    return m->which >= 0;
}

// The member's bytes, inflated when need be; as many as the file holds.
Status unpackMember(FILE* f, uint64_t fileSize, const ZipMember& m, Buffer* out, size_t* n) {
    uint8_t l[ZIP_LOCAL_HEADER];
    if (!seekTo(f, m.localAt) || !readBlock(f, l, sizeof l) || memcmp(l, "PK\3\4", 4) != 0) return ST_CORRUPT;
    const uint64_t dataAt = m.localAt + ZIP_LOCAL_HEADER + loadU16LE(l + 26) + loadU16LE(l + 28);
    if (dataAt > fileSize || (m.method != 0 && m.method != Z_DEFLATED)) return ST_CORRUPT;
    const uint64_t held = m.packed < fileSize - dataAt ? m.packed : fileSize - dataAt;
    if (m.size > MAX_THUMBNAIL || m.size > (held + 1) * DEFLATE_RATIO) return ST_CORRUPT;
    Buffer packed = allocBuffer(held + 1);
    *out = allocBuffer(m.size + 1);
    if (!packed || !*out) return ST_NO_MEMORY;
    if (!seekTo(f, dataAt) || !readBlock(f, packed.get(), static_cast<size_t>(held))) return ST_READ_ERROR;
    if (m.method == 0) {
        *n = static_cast<size_t>(held < m.size ? held : m.size);
        memcpy(out->get(), packed.get(), *n);
        return ST_OK;
    }
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return ST_NO_MEMORY;
    z.next_in = packed.get();
    z.avail_in = static_cast<uInt>(held);
    z.next_out = out->get();
    z.avail_out = static_cast<uInt>(m.size);
    const int zr = inflate(&z, Z_FINISH);
    *n = static_cast<size_t>(m.size - z.avail_out);
    inflateEnd(&z);
    return zr == Z_STREAM_END || zr == Z_BUF_ERROR ? ST_OK : ST_CORRUPT;  // a cut stream gives what it held
}

Status readZipPreview(FILE* f, LoadRequest* request) {
    if (request->fileSize <= 0) return ST_UNKNOWN_FORMAT;
    const uint64_t fileSize = static_cast<uint64_t>(request->fileSize);
    ZipMember m;
    if (!findThumbnail(f, fileSize, &m)) return ST_UNKNOWN_FORMAT;  // some other archive
    Buffer bytes;
    size_t n = 0;
    Status st = unpackMember(f, fileSize, m, &bytes, &n);
    if (st == ST_OK) {
        st = m.which == 0 ? readFromMemory(bytes.get(), n, request, readPng)
                          : dibReadInMemory(bytes.get(), n, false, request, NAME_RIFF);
    }
    if (st == ST_UNKNOWN_FORMAT || st == ST_CORRUPT) {
        setReaderMessage(request, MSG_BAD_PREVIEW);
        return ST_BAD_FILE;
    }
    return st;
}

bool isRiffDrawing(const uint8_t* head, size_t n) {
    return n >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "CDR", 3) == 0 && head[11] >= 0x20 &&
           head[11] < 0x7F && head[11] != 'X';
}

}  // namespace

bool acceptCdr(const uint8_t* head, size_t n, int64_t) {
    // "WL" says little: its reader judges the preview, and the file's name;
    // the reader of archives looks for the thumbnail.
    return isRiffDrawing(head, n) || (n >= ZIP_LOCAL_HEADER && memcmp(head, "PK\3\4", 4) == 0) ||
           (n >= OLD_PREVIEW_AT + 4 && head[0] == 'W' && head[1] == 'L' && head[2] >= 0x20 && head[2] < 0x7F);
}

Status readCdr(FILE* stream, LoadRequest* request) {
    uint8_t head[OLD_PREVIEW_AT + 4];
    const size_t n = fread(head, 1, sizeof head, stream);
    if (!acceptCdr(head, n, request->fileSize)) return ST_UNKNOWN_FORMAT;
    if (isRiffDrawing(head, n)) return readRiffPreview(stream, request, head);
    if (head[0] == 'P') return readZipPreview(stream, request);
    return readOldPreview(stream, request, head);
}
