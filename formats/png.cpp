// Portable Network Graphics through libpng, and the PNG images inside MNG files.
//
// PNG reader: every colour type and bit depth; 16-bit samples are cut to 8,
// grey with alpha loses its alpha, RGB with alpha keeps it; interlaced files
// are gathered in a whole-picture buffer and delivered after the last pass.
// Gamma, transparency (tRNS), background and text chunks are not applied.
// PNG writer: black and white as 1-bit grey, grey as 8-bit grey, palette
// images at 4 bits (up to 16 colours) or 8 bits, true colour as RGB, or RGBA
// when the picture carries alpha; never interlaced. Compressed 8-bit grey and
// true colour pictures are filtered and deflated by our own fast path
// (pngdeflate.h) and written chunk by chunk here; the rest goes through libpng.
//
// MNG reader: an MNG file is its own signature followed by chunks (32-bit
// big-endian length, 4-byte type, data, 32-bit CRC) up to MEND. Each embedded
// PNG datastream (IHDR ... IEND) is one page; the page asked for is handed to
// libpng as if it were a PNG file whose signature was already read.
#include <csetjmp>
#include <cstring>
#include <utility>

#include <png.h>
#include <zlib.h>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "pngdeflate.h"
#include "stream.h"

namespace {

const char NAME_PNG[] = "Portable Network Graphics";
const char NAME_PNG_INTERLACED[] = "Portable Network Graphics (Interlaced)";
const char NAME_MNG[] = "Multiple Network Graphics";
const char NAME_MNG_INTERLACED[] = "Multiple Network Graphics (Interlaced)";
const char NAME_WRITE[] = "Png";
const char MSG_BAD_SIZE[] = "PNG : Bad picture's size !";

constexpr size_t SIGNATURE_SIZE = 8;
const uint8_t MNG_SIGNATURE[SIGNATURE_SIZE] = {0x8A, 0x4D, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// PNG chunk lengths are at most 2^31 - 1.
constexpr uint32_t MAX_CHUNK_LENGTH = 0x7FFFFFFFu;
constexpr int MAX_COMPRESSION_LEVEL = 9;

// The stream libpng reads. libpng asks for whole pieces of a chunk (up to
// 8 KB of image data at once) and fails when a piece is incomplete, which
// would lose every row of a cut-off file that the piece began. The first
// short read is therefore padded with zeros: the rows that the real bytes
// hold come out, then the padding fails (bad data or CRC) and any later read
// is an error.
struct PngSource {
    FILE* stream;
    bool ended;
};

void pngRead(png_structp png, png_bytep data, size_t length) {
    PngSource* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (src->ended) png_error(png, "Read Error");
    size_t got = fread(data, 1, length, src->stream);
    if (got < length) {
        src->ended = true;
        if (got == 0) png_error(png, "Read Error");
        memset(data + got, 0, length - got);
    }
}

// Errors jump back to the stage that armed the structure's jump buffer.
[[noreturn]] void pngJump(png_structp png, png_const_charp) { png_longjmp(png, 1); }
// Warnings (known-incorrect profiles, a damaged ancillary chunk...) do not end the read.
void pngWarning(png_structp, png_const_charp) {}

class PngReadStructs {
public:
    PngReadStructs() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngJump, pngWarning);
        if (!png) return;
        info = png_create_info_struct(png);
        end = png_create_info_struct(png);
    }
    ~PngReadStructs() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, end ? &end : nullptr);
    }
    PngReadStructs(const PngReadStructs&) = delete;
    PngReadStructs& operator=(const PngReadStructs&) = delete;
    bool ok() const { return png && info && end; }

    png_structp png = nullptr;
    png_infop info = nullptr;
    png_infop end = nullptr;
};

class PngWriteStructs {
public:
    PngWriteStructs() {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngJump, pngWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~PngWriteStructs() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    PngWriteStructs(const PngWriteStructs&) = delete;
    PngWriteStructs& operator=(const PngWriteStructs&) = delete;
    bool ok() const { return png && info; }

    png_structp png = nullptr;
    png_infop info = nullptr;
};

// What the header says and how the rows come out of libpng.
struct PngLayout {
    png_uint_32 width;
    png_uint_32 height;
    int colourType;
    int bitDepth;
    bool interlaced;
    int passes;
    size_t fileRowBytes;   // a row as the file stores it
    size_t rowBytes;       // a row as libpng hands it over, after the transformations
    int bits;              // bits per pixel delivered
    bool hasPalette;
    uint8_t palette[PALETTE_BYTES];  // R,G,B triplets, unused entries 0
};

// Reads the chunks up to the image data and sets the transformations. Any
// error here means the file is not (or not quite) a PNG: ST_UNKNOWN_FORMAT.
Status pngReadHeader(png_structp png, png_infop info, PngSource* src, PngLayout* lay) {
    if (setjmp(png_jmpbuf(png))) return ST_UNKNOWN_FORMAT;
    png_set_read_fn(png, src, pngRead);
    png_set_sig_bytes(png, static_cast<int>(SIGNATURE_SIZE));
    png_read_info(png, info);
    int interlace = 0;
    png_get_IHDR(png, info, &lay->width, &lay->height, &lay->bitDepth, &lay->colourType, &interlace, nullptr,
                 nullptr);
    lay->interlaced = interlace != PNG_INTERLACE_NONE;
    if (lay->colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_strip_alpha(png);
    lay->fileRowBytes = png_get_rowbytes(png, info);
    if (lay->bitDepth == 16) png_set_strip_16(png);
    lay->passes = lay->interlaced ? png_set_interlace_handling(png) : 1;
    png_read_update_info(png, info);
    lay->rowBytes = png_get_rowbytes(png, info);

    const int depth = lay->bitDepth > 8 ? 8 : lay->bitDepth;
    switch (lay->colourType) {
    case PNG_COLOR_TYPE_RGB: lay->bits = 24; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: lay->bits = 32; break;
    default: lay->bits = depth; break;  // grey, grey with alpha (stripped), palette
    }
    memset(lay->palette, 0, sizeof lay->palette);
    lay->hasPalette = lay->colourType == PNG_COLOR_TYPE_PALETTE;
    if (lay->hasPalette) {
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &entries, &count) && entries) {
            if (count > 256) count = 256;
            for (int i = 0; i < count; ++i) {
                lay->palette[3 * i] = entries[i].red;
                lay->palette[3 * i + 1] = entries[i].green;
                lay->palette[3 * i + 2] = entries[i].blue;
            }
        }
    }
    return ST_OK;
}

// Hands every row of the whole-picture buffer to the core.
Status pngDeliverWhole(const PngLayout& lay, RasterHeader* rh, const uint8_t* whole) {
    Status st = ST_OK;
    for (png_uint_32 y = 0; y < lay.height && st == ST_OK; ++y) {
        memcpy(rh->rowBuffer, whole + static_cast<size_t>(y) * lay.rowBytes, lay.rowBytes);
        st = putRows(-1, static_cast<int32_t>(y), 1);
    }
    return st;
}

// Reads the rows and delivers them. A libpng error (damaged or cut-off data)
// gives ST_READ_ERROR; what was decoded before stays delivered.
Status pngReadRows(png_structp png, const PngLayout& lay, RasterHeader* rh, uint8_t* whole) {
    if (setjmp(png_jmpbuf(png))) {
        // The passes read so far still make a picture.
        if (whole) pngDeliverWhole(lay, rh, whole);
        return ST_READ_ERROR;
    }
    if (whole) {
        for (int pass = 0; pass < lay.passes; ++pass)
            for (png_uint_32 y = 0; y < lay.height; ++y)
                png_read_row(png, whole + static_cast<size_t>(y) * lay.rowBytes, nullptr);
        return pngDeliverWhole(lay, rh, whole);
    }
    Status st = ST_OK;
    for (png_uint_32 y = 0; y < lay.height && st == ST_OK; ++y) {
        png_read_row(png, rh->rowBuffer, nullptr);
        st = putRows(-1, static_cast<int32_t>(y), 1);
    }
    return st;
}

Status pngReadEnd(png_structp png, png_infop end) {
    if (setjmp(png_jmpbuf(png))) return ST_READ_ERROR;
    png_read_end(png, end);
    return ST_OK;
}

// Decodes the PNG datastream that follows its signature at the stream's position.
Status pngDecode(FILE* f, LoadRequest* request, const char* name, const char* interlacedName) {
    PngReadStructs s;
    if (!s.ok()) return ST_NO_MEMORY;
    PngLayout lay;
    PngSource src{f, false};
    Status st = pngReadHeader(s.png, s.info, &src, &lay);
    if (st != ST_OK) return st;
    if (lay.width < 1 || lay.height < 1 || lay.width > MAX_IMAGE_SIDE || lay.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }

    RasterHeader rh{};
    rh.layout = 0;
    rh.orientation = 0;
    rh.channels = 1;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(lay.bits);
    rh.width = static_cast<int32_t>(lay.width);
    rh.height = static_cast<int32_t>(lay.height);
    rh.bytesPerPlane = static_cast<int32_t>(lay.fileRowBytes > lay.rowBytes ? lay.fileRowBytes : lay.rowBytes);
    setRasterName(rh.name, lay.interlaced ? interlacedName : name);
    rh.compression = "deflate";
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    // The passes of an interlaced file build the picture in a buffer of its own.
    Buffer whole;
    if (lay.interlaced) {
        uint64_t size;
        if (!mulFits(lay.height, lay.rowBytes, UINT64_MAX, &size) || !(whole = allocBuffer(size))) {
            endImage(0, 8, nullptr);
            return ST_NO_MEMORY;
        }
    }
    st = pngReadRows(s.png, lay, &rh, whole.get());
    endImage(lay.hasPalette ? PF_TRIPLETS : 0, 8, lay.hasPalette ? lay.palette : nullptr);
    if (st == ST_OK) st = pngReadEnd(s.png, s.end);
    return st;
}

// ---- Writing ------------------------------------------------------------------

struct PngWritePlan {
    int colourType;
    int bitDepth;
    int bitsPerPixel;   // of the rows fetched from the core
    int paletteEntries; // 0 without palette
    int level;          // zlib compression level
};

// Photographs (and decoded JPEGs) hardly ever repeat a pixel exactly; their
// filtered rows hold short matches that zlib's chain search spends most of its
// time failing to extend. Run-length matching finds what there is several times
// faster and, on photographs, packs within a few percent of level 9. Drawings and
// screenshots repeat pixels and keep zlib's own search.
constexpr int32_t SAMPLE_ROWS = 16;

bool looksPhotographic(const uint8_t* rows, size_t rowBytes, int32_t count, int pixelBytes) {
    int64_t pixels = 0, repeats = 0;
    const size_t px = static_cast<size_t>(pixelBytes);
    for (int32_t y = 0; y < count; ++y) {
        const uint8_t* r = rows + rowBytes * static_cast<size_t>(y);
        for (size_t x = px; x + px <= rowBytes; x += px, ++pixels)
            if (memcmp(r + x, r + x - px, px) == 0) ++repeats;
    }
    return pixels >= 64 && repeats * 8 < pixels;
}

WriteHeader pngWriteHeader(const SaveRequest* request, const PngWritePlan& plan) {
    WriteHeader wh{};
    wh.layout = 0;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(plan.bitsPerPixel);
    wh.bytesPerPlane = static_cast<int32_t>((static_cast<int64_t>(request->width) * plan.bitsPerPixel + 7) / 8);
    wh.paletteFormat = plan.paletteEntries ? PF_TRIPLETS : 0;
    wh.componentBits = 8;
    setRasterName(wh.name, NAME_WRITE);
    return wh;
}

bool writeChunk(FILE* f, const char* type, const uint8_t* data, size_t size) {
    uint8_t head[8];
    storeU32BE(head, static_cast<uint32_t>(size));
    memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size) crc = crc32_z(crc, data, size);
    uint8_t tail[4];
    storeU32BE(tail, static_cast<uint32_t>(crc));
    return fwrite(head, 1, 8, f) == 8 && (!size || fwrite(data, 1, size, f) == size) && fwrite(tail, 1, 4, f) == 4;
}

// The fast path takes 8-bit grey, RGB and RGBA pictures whose rows, one filter
// byte each, fit in memory at once.
constexpr uint64_t MAX_DEFLATED_PICTURE = uint64_t(1) << 31;
constexpr size_t IDAT_BYTES = 1 << 20;

bool deflatedPath(const SaveRequest* request, const PngWritePlan& plan) {
    const uint64_t rowBytes = static_cast<uint64_t>(request->width) * static_cast<uint64_t>(plan.bitsPerPixel / 8);
    return plan.level > 0 && !plan.paletteEntries && plan.bitDepth == 8 &&
           (rowBytes + 1) * static_cast<uint64_t>(request->height) <= MAX_DEFLATED_PICTURE;
}

// rows: room for the picture's rows, a filter byte before each.
Status pngWriteDeflated(FILE* f, const SaveRequest* request, const PngWritePlan& plan, Buffer rows) {
    const size_t rowBytes = static_cast<size_t>(request->width) * static_cast<size_t>(plan.bitsPerPixel / 8);
    const size_t stride = rowBytes + 1;
    WriteHeader wh = pngWriteHeader(request, plan);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    for (int32_t y = 0; y < request->height && st == ST_OK; ++y) {
        st = getRows(y, 1);
        if (st == ST_OK) memcpy(rows.get() + stride * static_cast<size_t>(y) + 1, wh.rowBuffer, rowBytes);
    }
    endWrite();
    if (st != ST_OK) return st;
    Buffer stream;
    size_t streamSize = 0;
    st = pngDeflateRows(rows.get(), rowBytes, request->height, plan.bitsPerPixel / 8, plan.level, &stream, &streamSize);
    rows.reset();
    if (st != ST_OK) return st == ST_NO_MEMORY ? ST_NO_MEMORY : ST_WRITE_ERROR;
    static const uint8_t SIGNATURE[SIGNATURE_SIZE] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    uint8_t ihdr[13];
    storeU32BE(ihdr, static_cast<uint32_t>(request->width));
    storeU32BE(ihdr + 4, static_cast<uint32_t>(request->height));
    ihdr[8] = static_cast<uint8_t>(plan.bitDepth);
    ihdr[9] = static_cast<uint8_t>(plan.colourType);
    ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, adaptive filters, not interlaced
    bool ok = fwrite(SIGNATURE, 1, sizeof SIGNATURE, f) == sizeof SIGNATURE && writeChunk(f, "IHDR", ihdr, sizeof ihdr);
    for (size_t at = 0; ok && at < streamSize; at += IDAT_BYTES)
        ok = writeChunk(f, "IDAT", stream.get() + at, streamSize - at < IDAT_BYTES ? streamSize - at : IDAT_BYTES);
    ok = ok && writeChunk(f, "IEND", nullptr, 0);
    return ok ? ST_OK : ST_WRITE_ERROR;
}

// sample lives with the caller: a jump back from libpng skips this frame's destructors.
Status pngWriteAll(png_structp png, png_infop info, FILE* f, const SaveRequest* request, const PngWritePlan& plan,
                   Buffer& sample) {
    volatile bool writing = false;  // between beginWrite and endWrite
    if (setjmp(png_jmpbuf(png))) {
        if (writing) endWrite();
        return ST_WRITE_ERROR;
    }
    png_init_io(png, f);
    png_set_compression_level(png, plan.level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(request->width), static_cast<png_uint_32>(request->height),
                 plan.bitDepth, plan.colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);

    WriteHeader wh = pngWriteHeader(request, plan);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    writing = true;

    if (plan.paletteEntries) {
        png_color entries[256];
        memset(entries, 0, sizeof entries);
        for (int i = 0; i < plan.paletteEntries && wh.palette; ++i) {
            entries[i].red = wh.palette[3 * i];
            entries[i].green = wh.palette[3 * i + 1];
            entries[i].blue = wh.palette[3 * i + 2];
        }
        png_set_PLTE(png, info, entries, plan.paletteEntries);
    }
    // The first rows decide how zlib looks for matches (before its stream starts).
    const int32_t sampled = request->height < SAMPLE_ROWS ? request->height : SAMPLE_ROWS;
    const size_t rowBytes = static_cast<size_t>(wh.bytesPerPlane);
    if (plan.level > 0 && !plan.paletteEntries && plan.bitsPerPixel >= 8) {
        sample = allocBuffer(static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(sampled));
        if (!sample) st = ST_NO_MEMORY;
        for (int32_t y = 0; y < sampled && st == ST_OK; ++y) {
            st = getRows(y, 1);
            memcpy(sample.get() + rowBytes * static_cast<size_t>(y), wh.rowBuffer, rowBytes);
        }
        if (st == ST_OK && looksPhotographic(sample.get(), rowBytes, sampled, plan.bitsPerPixel / 8))
            png_set_compression_strategy(png, Z_RLE);
    }
    png_write_info(png, info);
    for (int32_t y = 0; y < request->height && st == ST_OK; ++y) {
        if (sample && y < sampled) {
            png_write_row(png, sample.get() + rowBytes * static_cast<size_t>(y));
            continue;
        }
        st = getRows(y, 1);
        if (st == ST_OK) png_write_row(png, wh.rowBuffer);
    }
    endWrite();
    writing = false;
    if (st == ST_OK) png_write_end(png, info);
    return st;
}

}  // namespace

bool acceptPng(const uint8_t* head, size_t n, int64_t) {
    return n >= SIGNATURE_SIZE && png_sig_cmp(const_cast<uint8_t*>(head), 0, SIGNATURE_SIZE) == 0;
}

bool acceptMng(const uint8_t* head, size_t n, int64_t) {
    return n >= SIGNATURE_SIZE && memcmp(head, MNG_SIGNATURE, SIGNATURE_SIZE) == 0;
}

Status readPng(FILE* stream, LoadRequest* request) {
    uint8_t signature[SIGNATURE_SIZE];
    if (!readBlock(stream, signature, sizeof signature) || png_sig_cmp(signature, 0, sizeof signature) != 0)
        return ST_UNKNOWN_FORMAT;
    return pngDecode(stream, request, NAME_PNG, NAME_PNG_INTERLACED);
}

Status readEmbeddedPng(FILE* stream, LoadRequest* request, const char* name) {
    uint8_t signature[SIGNATURE_SIZE];
    if (!readBlock(stream, signature, sizeof signature) || png_sig_cmp(signature, 0, sizeof signature) != 0)
        return ST_UNKNOWN_FORMAT;
    return pngDecode(stream, request, name, name);
}

Status readMng(FILE* stream, LoadRequest* request) {
    uint8_t signature[SIGNATURE_SIZE];
    if (!readBlock(stream, signature, sizeof signature) || memcmp(signature, MNG_SIGNATURE, sizeof signature) != 0)
        return ST_UNKNOWN_FORMAT;

    // Walk the chunks, counting the embedded images and noting where the wanted one starts.
    request->pageCount = 0;
    int64_t wanted = -1;
    int64_t pos = static_cast<int64_t>(SIGNATURE_SIZE);
    const int64_t fileSize = request->fileSize;
    for (;;) {
        uint8_t head[8];
        if (!readBlock(stream, head, sizeof head)) break;
        const uint32_t length = loadU32BE(head);
        if (length > MAX_CHUNK_LENGTH || memcmp(head + 4, "MEND", 4) == 0) break;
        if (memcmp(head + 4, "IHDR", 4) == 0) {
            if (request->pageCount == request->pageIndex) wanted = pos;
            ++request->pageCount;
        }
        const int64_t next = pos + 8 + static_cast<int64_t>(length) + 4;
        if (next <= pos || (fileSize > 0 && next > fileSize)) break;
        if (fseek(stream, static_cast<long>(next), SEEK_SET) != 0) break;
        pos = next;
    }
    if (wanted < 0) return ST_READ_ERROR;
    if (fseek(stream, static_cast<long>(wanted), SEEK_SET) != 0) return ST_READ_ERROR;
    clearerr(stream);
    return pngDecode(stream, request, NAME_MNG, NAME_MNG_INTERLACED);
}

Status writePng(FILE* stream, SaveRequest* request) {
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;
    PngWritePlan plan{};
    switch (request->kind) {
    case IMG_BINARY:
        plan = {PNG_COLOR_TYPE_GRAY, 1, 1, 0, 0};
        break;
    case IMG_GREY:
        plan = {PNG_COLOR_TYPE_GRAY, 8, 8, 0, 0};
        break;
    case IMG_PALETTE:
        // libpng takes no more palette entries than the bit depth can index.
        if (request->colours <= 16) plan = {PNG_COLOR_TYPE_PALETTE, 4, 4, 16, 0};
        else plan = {PNG_COLOR_TYPE_PALETTE, 8, 8, 256, 0};
        break;
    case KIND_ANY_TRUECOLOUR: {
        // A fourth byte that holds nothing is no alpha: such pictures are written as RGB.
        const bool alpha = savedImageHasAlpha();
        plan = alpha ? PngWritePlan{PNG_COLOR_TYPE_RGB_ALPHA, 8, 32, 0, 0} : PngWritePlan{PNG_COLOR_TYPE_RGB, 8, 24, 0, 0};
        break;
    }
    default:
        return ST_KIND_REFUSED;
    }
    const int quality = request->writerOption2 < 0 ? 0 : request->writerOption2;
    plan.level = quality / 10 > MAX_COMPRESSION_LEVEL ? MAX_COMPRESSION_LEVEL : quality / 10;

    if (deflatedPath(request, plan)) {
        // Without the memory for the whole picture, libpng streams its rows.
        Buffer rows = allocBuffer((static_cast<uint64_t>(request->width) * static_cast<uint64_t>(plan.bitsPerPixel / 8) + 1) *
                                  static_cast<uint64_t>(request->height));
        if (rows) return pngWriteDeflated(stream, request, plan, std::move(rows));
    }
    PngWriteStructs s;
    if (!s.ok()) return ST_NO_MEMORY;
    Buffer sample;
    return pngWriteAll(s.png, s.info, stream, request, plan, sample);
}
