// Palm Pilot image databases (type "vIMG", creator "View"): reader and writer.
//
// A Palm database header of 78 bytes (name, attributes, version, dates, type
// and creator, record count), 8-byte record entries (offset, attributes 0x40,
// unique id 0x6F 0x80 0x00 or 0x01), then the image record: a 58-byte header
// (name, version 0 plain or 1 run-length coded, type 0 for 2 bits per pixel
// or 0xFF for 1 bit, last and anchor positions, width, height) and the rows,
// padded to 16 bits, leftmost pixel in the most significant bits. All numbers
// are big-endian. In 2-bit images 0 is white and 3 black; in 1-bit images a
// set bit is black as well (Palm's own bitmaps and netpbm's pdbimgtopam agree).
//
// Run-length coding: a control byte k >= 0 is followed by k + 1 literal
// bytes; k < 0 by one byte repeated (k & 0x7F) + 1 times. Runs go on across
// rows.
#include <cstring>
#include <ctime>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_PLAIN[] = "Palm Pilot Image";
const char NAME_RLE[] = "Palm Pilot Image (RLE)";
const char MSG_BAD_VERSION[] = "PDB : Bad version !";
const char MSG_BAD_TYPE[] = "PDB : Bad type !";

constexpr size_t DATABASE_HEADER_SIZE = 78;
constexpr size_t ENTRY_SIZE = 8;
constexpr size_t IMAGE_HEADER_SIZE = 58;
constexpr size_t NAME_SIZE = 32;
constexpr uint8_t ENTRY_ATTRIBUTES = 0x40;
constexpr uint8_t TYPE_GREY4 = 0x00;
constexpr uint8_t TYPE_MONO = 0xFF;
constexpr uint32_t SECONDS_1904_TO_1970 = 2082844800u;
const char TYPE_AND_CREATOR[] = "vIMGView";

bool palmEntryFits(const uint8_t* e) {
    return e[4] == ENTRY_ATTRIBUTES && e[5] == 0x6F && e[6] == 0x80 && (e[7] == 0x00 || e[7] == 0x01);
}

// Run-length coded rows, delivered as they fill.
Status palmReadCoded(FILE* f, int64_t rowBytes, int32_t rows) {
    RowFeed feed;
    Status st = feed.begin(rowBytes, rows);
    uint8_t literal[128];
    while (st == ST_OK && !feed.done()) {
        const int k = getc(f);
        if (k == EOF) return feed.cut();
        if (k < 0x80) {
            const size_t n = static_cast<size_t>(k) + 1;
            const size_t got = fread(literal, 1, n, f);
            st = feed.put(literal, static_cast<int64_t>(got));
            if (got < n) return st == ST_OK ? feed.cut() : st;
        } else {
            const int v = getc(f);
            if (v == EOF) return feed.cut();
            st = feed.repeat(static_cast<uint8_t>(v), (k & 0x7F) + 1);
        }
    }
    return st;
}

void putName(FILE* f, const char* fileName) {
    char name[NAME_SIZE] = {};
    memcpy(name, fileName, strnlen(fileName, NAME_SIZE - 1));
    fwrite(name, 1, NAME_SIZE, f);
}

}  // namespace

bool acceptPalm(const uint8_t* head, size_t n, int64_t) {
    return n >= DATABASE_HEADER_SIZE + ENTRY_SIZE && memcmp(head + 60, TYPE_AND_CREATOR, 8) == 0 &&
           loadU16BE(head + 76) >= 1 && palmEntryFits(head + DATABASE_HEADER_SIZE);
}

Status readPalm(FILE* stream, LoadRequest* request) {
    uint8_t db[DATABASE_HEADER_SIZE];
    if (!readBlock(stream, db, sizeof db) || memcmp(db + 60, TYPE_AND_CREATOR, 8) != 0) return ST_UNKNOWN_FORMAT;
    const uint16_t records = loadU16BE(db + 76);
    if (records == 0) return ST_UNKNOWN_FORMAT;
    // The image record follows the entries read (one, or two when there are
    // more); an entry pointing 2 bytes past its end has 2 filler bytes after it.
    uint64_t position = DATABASE_HEADER_SIZE;
    for (int i = 0; i < (records >= 2 ? 2 : 1); ++i) {
        uint8_t e[ENTRY_SIZE];
        if (!readBlock(stream, e, sizeof e)) return ST_READ_ERROR;
        if (!palmEntryFits(e)) return ST_UNKNOWN_FORMAT;
        const bool filler = loadU32BE(e) == position + 4 + 6;
        position += ENTRY_SIZE;
        if (filler) {
            if (!skipBytes(stream, 2)) return ST_READ_ERROR;
            position += 2;
        }
    }

    uint8_t h[IMAGE_HEADER_SIZE];
    if (!readBlock(stream, h, sizeof h)) return ST_READ_ERROR;
    const uint8_t version = h[32];
    const uint8_t type = h[33];
    if (version > 1) {
        setReaderMessage(request, MSG_BAD_VERSION);
        return ST_BAD_FILE;
    }
    if (type != TYPE_GREY4 && type != TYPE_MONO) {
        setReaderMessage(request, MSG_BAD_TYPE);
        return ST_BAD_FILE;
    }
    const int bits = type == TYPE_MONO ? 1 : 2;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16BE(h + 54);
    rh.height = loadU16BE(h + 56);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    const int64_t rowBytes = (static_cast<int64_t>(bits) * rh.width + 15) / 16 * 2;
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, version == 1 ? NAME_RLE : NAME_PLAIN);
    rh.compression = version == 1 ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = version == 1 ? palmReadCoded(stream, rowBytes, rh.height) : readRows(stream, rowBytes, rh.height);
    endImage(PF_INVERT, 8, nullptr);  // 0 is white
    return st;
}

Status writePalm(FILE* stream, SaveRequest* request) {
    int bits;
    if (request->kind == IMG_BINARY) bits = 1;
    else if (request->kind == IMG_GREY && request->colours <= 4) bits = 2;
    else return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1 || request->width > 0xFFFF || request->height > 0xFFFF)
        return ST_KIND_REFUSED;

    // Database header: dates in seconds since 1904.
    const uint32_t now = static_cast<uint32_t>(time(nullptr)) + SECONDS_1904_TO_1970;
    putName(stream, request->fileName);
    writeU16BE(stream, 0);  // attributes
    writeU16BE(stream, 0);  // version
    writeU32BE(stream, now);
    writeU32BE(stream, now);
    for (int i = 0; i < 4; ++i) writeU32BE(stream, 0);
    fwrite(TYPE_AND_CREATOR, 1, 8, stream);
    writeU32BE(stream, 0);  // unique-id seed
    writeU32BE(stream, 0);  // next record list
    writeU16BE(stream, 1);
    // The one record entry, pointing just past itself.
    writeU32BE(stream, DATABASE_HEADER_SIZE + ENTRY_SIZE);
    const uint8_t entry[4] = {ENTRY_ATTRIBUTES, 0x6F, 0x80, 0x00};
    fwrite(entry, 1, sizeof entry, stream);
    // The image record header.
    putName(stream, request->fileName);
    putc(0, stream);  // plain rows
    putc(bits == 1 ? TYPE_MONO : TYPE_GREY4, stream);
    writeU32BE(stream, 0);  // reserved
    writeU32BE(stream, 0);  // note
    writeU16BE(stream, 0);  // last x
    writeU16BE(stream, 0);  // last y
    writeU32BE(stream, 0);  // reserved
    writeU16BE(stream, 0xFFFF);
    writeU16BE(stream, 0xFFFF);
    writeU16BE(stream, static_cast<uint32_t>(request->width));
    writeU16BE(stream, static_cast<uint32_t>(request->height));
    if (ferror(stream)) return ST_WRITE_ERROR;

    const int64_t rowBytes = (static_cast<int64_t>(bits) * request->width + 15) / 16 * 2;
    WriteHeader wh{};
    wh.layout = PL_MIN_IS_WHITE;  // values count from white
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(bits);
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(wh.name, NAME_PLAIN);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    st = writeRows(stream, rowBytes, request->height);
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
