// Windows icons and cursors (readers) and icons (writer).
//
// Both files start with a 6-byte directory (reserved 0, type 1 for icons or
// 2 for cursors, number of images), then one 16-byte entry per image: width,
// height (a 0 stands for 256), colour count, reserved byte, two 16-bit fields
// (planes and bit count in icons, the hot spot in cursors), the image's byte
// size and its file offset. All numbers are little-endian.
//
// An image is either a PNG datastream or a device-independent bitmap: a
// 40-byte information header whose height counts both masks, the colour table
// for 8 bits or less, the colour (XOR) rows and the 1-bit transparency (AND)
// rows, all bottom row first. The transparency rows are not read; 32-bit
// images carry their alpha in the fourth byte of each pixel.
//
// Each image is a page. The writer stores one uncompressed bitmap of 1, 2, 4
// or 8 bits, fully opaque.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "dib.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_ICON[] = "Windows Icon";
const char NAME_ICON_PNG[] = "Windows Icon (PNG)";
const char NAME_CURSOR[] = "Windows Cursor Image";
const char NAME_CURSOR_PNG[] = "Windows Cursor Image (PNG)";
const char MSG_ICON_COMPRESSION[] = "Windows Icon : Bad compression !";
const char MSG_CURSOR_COMPRESSION[] = "Windows Cursor : Bad compression !";

constexpr uint16_t TYPE_ICON = 1;
constexpr uint16_t TYPE_CURSOR = 2;
constexpr uint32_t DIRECTORY_SIZE = 6;
constexpr uint32_t ENTRY_SIZE = 16;
constexpr uint32_t MAX_HEADER_SIZE = 124;  // the longest information header (version 5)
constexpr uint32_t BI_RGB = 0;
const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The checks both the identification test and the reader make on the
// directory and the entries at hand.
bool iconDirectoryFits(const uint8_t* head, size_t n, int64_t fileSize, uint16_t type) {
    if (n < DIRECTORY_SIZE + ENTRY_SIZE) return false;
    const uint16_t count = loadU16LE(head + 4);
    if (loadU16LE(head) != 0 || loadU16LE(head + 2) != type || count == 0) return false;
    const uint64_t dataStart = DIRECTORY_SIZE + uint64_t(ENTRY_SIZE) * count;
    if (fileSize > 0 && dataStart > static_cast<uint64_t>(fileSize)) return false;
    for (uint32_t i = 0; i < count && DIRECTORY_SIZE + ENTRY_SIZE * (i + 1) <= n; ++i) {
        const uint8_t* e = head + DIRECTORY_SIZE + ENTRY_SIZE * i;
        const uint32_t size = loadU32LE(e + 8);
        const uint32_t offset = loadU32LE(e + 12);
        if (e[3] != 0 || size == 0 || offset < dataStart) return false;
        if (fileSize > 0 && offset >= static_cast<uint64_t>(fileSize)) return false;
        // The first image must look like a bitmap header or a PNG datastream.
        if (i == 0 && offset + 8 <= n) {
            const uint32_t headerSize = loadU32LE(head + offset);
            const bool dib = headerSize >= DIB_INFO_HEADER_SIZE && headerSize <= MAX_HEADER_SIZE;
            if (!dib && memcmp(head + offset, PNG_SIGNATURE, 8) != 0) return false;
        }
    }
    return true;
}

struct IconKind {
    uint16_t type;
    const char* name;
    const char* pngName;
    const char* badCompression;
    bool cursor;
};

const IconKind ICON = {TYPE_ICON, NAME_ICON, NAME_ICON_PNG, MSG_ICON_COMPRESSION, false};
const IconKind CURSOR = {TYPE_CURSOR, NAME_CURSOR, NAME_CURSOR_PNG, MSG_CURSOR_COMPRESSION, true};

// Bit counts the reader takes: palette depths, and true colour in icons (32
// bits with alpha in cursors too).
bool iconDepthFits(uint32_t bits, bool cursor) {
    switch (bits) {
    case 1: case 2: case 4: case 8: case 32: return true;
    case 16: case 24: return !cursor;
    default: return false;
    }
}

// The bitmap at the stream's position, its header's first 8 bytes in start.
Status iconReadBitmap(FILE* f, LoadRequest* request, const IconKind& kind, const uint8_t* start) {
    uint8_t header[DIB_INFO_HEADER_SIZE];
    memcpy(header, start, 8);
    if (!readBlock(f, header + 8, sizeof header - 8)) return ST_READ_ERROR;
    const DibInfo d = dibParseInfo(header);
    if (d.headerSize < DIB_INFO_HEADER_SIZE || d.headerSize > MAX_HEADER_SIZE || d.planes != 1 || d.width < 1 ||
        d.width > MAX_IMAGE_SIDE || d.height < 2 || d.height / 2 > MAX_IMAGE_SIDE || !iconDepthFits(d.bits, kind.cursor))
        return ST_UNKNOWN_FORMAT;
    if (d.compression != BI_RGB) {
        setReaderMessage(request, kind.badCompression);
        return ST_BAD_FILE;
    }
    if (d.headerSize > DIB_INFO_HEADER_SIZE && !skipBytes(f, static_cast<long>(d.headerSize - DIB_INFO_HEADER_SIZE)))
        return ST_READ_ERROR;

    const int64_t rowBytes = dibRowBytes(d.width, static_cast<int>(d.bits));
    RasterHeader rh{};
    rh.layout = dibTrueColourLayout(d.bits);
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = d.width;
    rh.height = d.height / 2;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(d.bits);
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, kind.name);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    uint8_t table[PALETTE_BYTES] = {};
    const uint32_t entries = dibPaletteEntries(d.bits, d.coloursUsed);
    st = dibReadPalette(f, entries, 4, table);
    if (st == ST_OK) st = readRows(f, rowBytes, rh.height);
    if (entries > 0) endImage(PF_BGR, 8, table);
    else endImage(0, 8, nullptr);
    return st;
}

Status iconRead(FILE* f, LoadRequest* request, const IconKind& kind) {
    uint8_t directory[DIRECTORY_SIZE];
    if (!readBlock(f, directory, sizeof directory)) return ST_UNKNOWN_FORMAT;
    const uint16_t count = loadU16LE(directory + 4);
    if (loadU16LE(directory) != 0 || loadU16LE(directory + 2) != kind.type || count == 0) return ST_UNKNOWN_FORMAT;

    const uint32_t entryBytes = ENTRY_SIZE * count;
    const int64_t fileSize = request->fileSize;
    if (fileSize > 0 && DIRECTORY_SIZE + entryBytes > static_cast<uint64_t>(fileSize)) return ST_READ_ERROR;
    Buffer entries = allocBuffer(entryBytes);
    if (!entries) return ST_NO_MEMORY;
    if (!readBlock(f, entries.get(), entryBytes)) return ST_READ_ERROR;
    for (uint32_t i = 0; i < count; ++i)
        if (entries[ENTRY_SIZE * i + 3] != 0) return ST_UNKNOWN_FORMAT;

    // The page asked for, or, past the last, whatever follows the directory.
    request->pageCount = count;
    uint64_t offset = DIRECTORY_SIZE + entryBytes;
    if (request->pageIndex >= 0 && request->pageIndex < count)
        offset = loadU32LE(entries.get() + ENTRY_SIZE * request->pageIndex + 12);
    if (!seekTo(f, offset)) return ST_READ_ERROR;

    uint8_t start[8];
    if (!readBlock(f, start, sizeof start)) return ST_READ_ERROR;
    if (memcmp(start, PNG_SIGNATURE, sizeof start) != 0) return iconReadBitmap(f, request, kind, start);
    // A PNG image is the PNG codec's; a damaged one fails this page alone.
    if (!seekTo(f, offset)) return ST_READ_ERROR;
    const Status st = readEmbeddedPng(f, request, kind.pngName);
    return st == ST_UNKNOWN_FORMAT ? ST_CORRUPT : st;
}

// ---- Writing ------------------------------------------------------------------

Status iconWriteMask(FILE* f, int64_t bytes) {
    uint8_t zeros[4096] = {};
    while (bytes > 0) {
        const size_t n = bytes < static_cast<int64_t>(sizeof zeros) ? static_cast<size_t>(bytes) : sizeof zeros;
        if (!writeBlock(f, zeros, n)) return ST_WRITE_ERROR;
        bytes -= static_cast<int64_t>(n);
    }
    return ST_OK;
}

}  // namespace

bool acceptIco(const uint8_t* head, size_t n, int64_t fileSize) {
    return iconDirectoryFits(head, n, fileSize, TYPE_ICON);
}

bool acceptCur(const uint8_t* head, size_t n, int64_t fileSize) {
    return iconDirectoryFits(head, n, fileSize, TYPE_CURSOR);
}

Status readIco(FILE* stream, LoadRequest* request) { return iconRead(stream, request, ICON); }

Status readCur(FILE* stream, LoadRequest* request) { return iconRead(stream, request, CURSOR); }

Status writeIco(FILE* stream, SaveRequest* request) {
    int colours;
    switch (request->kind) {
    case IMG_BINARY: colours = 2; break;
    case IMG_GREY:
    case IMG_PALETTE: colours = request->colours; break;
    default: return ST_KIND_REFUSED;
    }
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;
    const int bits = colours > 16 ? 8 : colours > 4 ? 4 : colours > 2 ? 2 : 1;
    const uint32_t entries = 1u << bits;
    const int64_t rowBytes = dibRowBytes(request->width, bits);
    const int64_t maskBytes = dibRowBytes(request->width, 1);
    const int64_t imageSize = (rowBytes + maskBytes) * request->height;
    const int64_t byteSize = DIB_INFO_HEADER_SIZE + 4 * entries + imageSize;
    if (byteSize > 0xFFFFFFFFLL) return ST_KIND_REFUSED;

    // Directory and its one entry; a side of 256 is stored as 0.
    writeU16LE(stream, 0);
    writeU16LE(stream, TYPE_ICON);
    writeU16LE(stream, 1);
    putc(request->width & 0xFF, stream);
    putc(request->height & 0xFF, stream);
    putc(static_cast<int>(entries & 0xFF), stream);
    putc(0, stream);
    writeU16LE(stream, 1);
    writeU16LE(stream, static_cast<uint32_t>(bits));
    writeU32LE(stream, static_cast<uint32_t>(byteSize));
    writeU32LE(stream, DIRECTORY_SIZE + ENTRY_SIZE);
    // The information header: the height counts both masks.
    writeU32LE(stream, DIB_INFO_HEADER_SIZE);
    writeU32LE(stream, static_cast<uint32_t>(request->width));
    writeU32LE(stream, 2u * static_cast<uint32_t>(request->height));
    writeU16LE(stream, 1);
    writeU16LE(stream, static_cast<uint32_t>(bits));
    writeU32LE(stream, BI_RGB);
    writeU32LE(stream, static_cast<uint32_t>(imageSize));
    for (int i = 0; i < 4; ++i) writeU32LE(stream, 0);
    if (ferror(stream)) return ST_WRITE_ERROR;

    WriteHeader wh{};
    wh.orientation = OR_BOTTOM_UP;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(bits);
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    wh.paletteFormat = PF_BGR;
    wh.componentBits = 8;
    setRasterName(wh.name, NAME_ICON);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    uint8_t table[256 * 4] = {};
    for (uint32_t i = 0; i < entries && wh.palette; ++i) memcpy(table + 4 * i, wh.palette + 3 * i, 3);
    if (!writeBlock(stream, table, 4 * entries)) st = ST_WRITE_ERROR;
    if (st == ST_OK) st = writeRows(stream, rowBytes, request->height);
    endWrite();
    // Every pixel opaque.
    if (st == ST_OK) st = iconWriteMask(stream, maskBytes * request->height);
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
