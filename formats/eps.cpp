// Encapsulated PostScript: the preview picture a file carries, never the
// PostScript itself.
//
// DOS binary files open with C5 D0 D3 C6 and a header of little-endian
// offsets and lengths: the PostScript section, a Windows metafile preview and
// a TIFF preview. The TIFF is read by the TIFF reader from its own bytes (its
// offsets count from its first byte).
//
// Plain files ("%!PS-Adobe-... EPSF-...") may hold an EPSI preview among the
// first comments: "%%BeginPreview: width height depth lines", then that many
// comment lines of hexadecimal rows, top row first, 0 white and the largest
// value black.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_NO_PREVIEW[] = "EPS : No preview !";
const char MSG_BAD_PREVIEW[] = "EPS : Bad preview !";
const char NAME_EPSI[] = "Encapsulated Postscript (EPSI preview)";

constexpr uint32_t DOS_MAGIC = 0xC6D3D0C5;
constexpr size_t DOS_HEADER = 30;
constexpr int64_t PREVIEW_SCAN = 64 * 1024;  // the preview sits among the first comments
constexpr size_t LINE = 256;

// One line (CR, LF or CR LF ends it), cut to the buffer; false at the end.
bool readLine(FILE* f, char* line, int64_t* used) {
    size_t n = 0;
    int c;
    while ((c = getc(f)) != EOF) {
        ++*used;
        if (c == '\n') break;
        if (c == '\r') {
            const int d = getc(f);
            if (d == '\n') ++*used;
            else if (d != EOF) ungetc(d, f);
            break;
        }
        if (n + 1 < LINE) line[n++] = static_cast<char>(c);
    }
    line[n] = '\0';
    return c != EOF || n > 0;
}

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Status readEpsi(FILE* f, LoadRequest* request) {
    char line[LINE];
    int64_t used = 0;
    long width = 0, height = 0, depth = 0, lines = 0;
    bool found = false;
    while (used < PREVIEW_SCAN && readLine(f, line, &used)) {
        if (strncmp(line, "%%BeginProlog", 13) == 0 || strncmp(line, "%%EndProlog", 11) == 0) break;
        if (strncmp(line, "%%BeginPreview:", 15) == 0) {
            found = sscanf(line + 15, "%ld %ld %ld %ld", &width, &height, &depth, &lines) == 4;
            break;
        }
    }
    if (!found) {
        setReaderMessage(request, MSG_NO_PREVIEW);
        return ST_BAD_FILE;
    }
    if (width < 1 || height < 1 || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE ||
        (depth != 1 && depth != 2 && depth != 4 && depth != 8) || lines < 0) {
        setReaderMessage(request, MSG_BAD_PREVIEW);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(depth);
    rh.bytesPerPlane = static_cast<int32_t>((width * depth + 7) / 8);
    setRasterName(rh.name, NAME_EPSI);
    rh.compression = "ASCII";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    RowFeed feed;
    st = feed.begin(rh.bytesPerPlane, rh.height);
    // Hex digits of the comment lines, up to %%EndPreview.
    int high = -1;
    for (long l = 0; st == ST_OK && l < lines && !feed.done(); ++l) {
        int64_t ignored = 0;
        if (!readLine(f, line, &ignored)) break;
        if (strncmp(line, "%%EndPreview", 12) == 0) break;
        for (const char* p = line + (line[0] == '%' ? 1 : 0); *p && st == ST_OK; ++p) {
            const int v = hexValue(static_cast<unsigned char>(*p));
            if (v < 0) continue;
            if (high < 0) {
                high = v;
            } else {
                st = feed.put(static_cast<uint8_t>(high << 4 | v));
                high = -1;
            }
        }
    }
    if (st == ST_OK && !feed.done()) st = feed.cut();
    endImage(PF_INVERT, 8, nullptr);  // 0 is white
    return st;
}

// The TIFF preview from its own bytes.
Status readTiffPreview(FILE* f, uint32_t offset, uint32_t length, LoadRequest* request) {
    const int64_t end = static_cast<int64_t>(offset) + length;
    if (request->fileSize > 0 ? end > request->fileSize : length > (1u << 28)) return ST_READ_ERROR;
    Buffer bytes = allocBuffer(length);
    if (!bytes) return ST_NO_MEMORY;
    if (!seekTo(f, offset) || !readBlock(f, bytes.get(), length)) return ST_READ_ERROR;
    if (!acceptTiff(bytes.get(), length < ACCEPT_HEAD_BYTES ? length : ACCEPT_HEAD_BYTES, length)) {
        setReaderMessage(request, MSG_BAD_PREVIEW);
        return ST_BAD_FILE;
    }
    const Status st = readFromMemory(bytes.get(), length, request, readTiff);
    // Not a TIFF after all is a bad preview, not some other format.
    if (st == ST_UNKNOWN_FORMAT) {
        setReaderMessage(request, MSG_BAD_PREVIEW);
        return ST_BAD_FILE;
    }
    return st;
}

}  // namespace

bool acceptEps(const uint8_t* head, size_t n, int64_t) {
    if (n >= DOS_HEADER && loadU32LE(head) == DOS_MAGIC) return true;
    if (n < 11 || memcmp(head, "%!PS-Adobe-", 11) != 0) return false;
    for (size_t i = 11; i + 6 <= n && head[i] != '\n' && head[i] != '\r'; ++i)
        if (memcmp(head + i, " EPSF-", 6) == 0) return true;
    return false;
}

Status readEps(FILE* stream, LoadRequest* request) {
    uint8_t h[DOS_HEADER];
    const size_t got = fread(h, 1, sizeof h, stream);
    if (!acceptEps(h, got, 0)) return ST_UNKNOWN_FORMAT;
    if (loadU32LE(h) != DOS_MAGIC) {
        if (!seekTo(stream, 0)) return ST_READ_ERROR;
        return readEpsi(stream, request);
    }
    const uint32_t tiffAt = loadU32LE(h + 20), tiffLength = loadU32LE(h + 24);
    if (tiffLength > 0 && tiffAt >= DOS_HEADER) return readTiffPreview(stream, tiffAt, tiffLength, request);
    // A metafile preview alone, or none: only the PostScript, which is not drawn here.
    setReaderMessage(request, MSG_NO_PREVIEW);
    return ST_BAD_FILE;
}
