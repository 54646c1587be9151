// Internals of the TIFF reader, shared by its three parts: the directory
// and its tags (tiffdir.cpp), the strip and tile loop with the row
// conversions (tiffread.cpp), and the decompressors (tiffdecode.cpp).
//
// A TIFF file starts with its byte order ("II" little-endian, "MM" big-endian),
// the magic number 42 and the offset of the first image file directory. Each
// directory (one per page) holds a count of 12-byte entries (tag, type, count,
// value or offset of the values) and the offset of the next directory.
//
// The picture is cut into strips of RowsPerStrip rows, or into tiles of
// TileWidth x TileLength pixels (cut at the right and bottom edges), each
// compressed on its own; with PlanarConfiguration 2 every sample has its own
// strips or tiles, one plane after the other. Every chunk is decoded row by
// row: the predictor is undone, the samples are brought to at most 8 bits,
// YCbCr and LogLuv data are made R,G,B, and the rows go to the core.
//
// Every offset, count and size in a directory is checked against the file
// before it is used: a chunk that lies beyond the end of the file or whose
// data end early gives the rows decoded so far.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "ccitt.h"
#include "codec.h"
#include "jpegglue.h"
#include "kaleocore.h"
#include "stream.h"

namespace tiffreader {

inline constexpr char MSG_BAD_COMPRESSION[] = "TIFF : Bad data compression algorithm !";
inline constexpr char MSG_BAD_PHOTOMETRIC[] = "TIFF : Bad photometric interpretation !";
inline constexpr char MSG_BAD_LZW[] = "TIFF : Bad LZW codes !";
inline constexpr char MSG_BAD_SIZE[] = "TIFF : Bad picture's size !";
inline constexpr char MSG_BAD_BITS[] = "TIFF : Bad number of bits per sample !";
inline constexpr char MSG_BAD_SAMPLES[] = "TIFF : Bad number of samples per pixel !";
inline constexpr char MSG_BAD_SAMPLE_FORMAT[] = "TIFF : Bad sample format !";
inline constexpr char MSG_BAD_PLANAR[] = "TIFF : Bad planar configuration !";
inline constexpr char MSG_BAD_TILES[] = "TIFF : Bad tile size !";
inline constexpr char MSG_BAD_OFFSETS[] = "TIFF : Bad strip offsets !";
inline constexpr char MSG_BAD_JPEG[] = "TIFF : Bad JPEG strip !";

// Tags.
constexpr uint16_t TAG_WIDTH = 256;
constexpr uint16_t TAG_LENGTH = 257;
constexpr uint16_t TAG_BITS_PER_SAMPLE = 258;
constexpr uint16_t TAG_COMPRESSION = 259;
constexpr uint16_t TAG_PHOTOMETRIC = 262;
constexpr uint16_t TAG_FILL_ORDER = 266;
constexpr uint16_t TAG_STRIP_OFFSETS = 273;
constexpr uint16_t TAG_ORIENTATION = 274;
constexpr uint16_t TAG_SAMPLES_PER_PIXEL = 277;
constexpr uint16_t TAG_ROWS_PER_STRIP = 278;
constexpr uint16_t TAG_STRIP_BYTE_COUNTS = 279;
constexpr uint16_t TAG_X_RESOLUTION = 282;
constexpr uint16_t TAG_Y_RESOLUTION = 283;
constexpr uint16_t TAG_PLANAR_CONFIGURATION = 284;
constexpr uint16_t TAG_T4_OPTIONS = 292;
constexpr uint16_t TAG_RESOLUTION_UNIT = 296;
constexpr uint16_t TAG_PREDICTOR = 317;
constexpr uint16_t TAG_COLOR_MAP = 320;
constexpr uint16_t TAG_TILE_WIDTH = 322;
constexpr uint16_t TAG_TILE_LENGTH = 323;
constexpr uint16_t TAG_TILE_OFFSETS = 324;
constexpr uint16_t TAG_TILE_BYTE_COUNTS = 325;
constexpr uint16_t TAG_SAMPLE_FORMAT = 339;
constexpr uint16_t TAG_JPEG_TABLES = 347;
constexpr uint16_t TAG_YCBCR_COEFFICIENTS = 529;
constexpr uint16_t TAG_YCBCR_SUBSAMPLING = 530;

// Field types.
constexpr uint16_t TYPE_BYTE = 1;
constexpr uint16_t TYPE_SHORT = 3;
constexpr uint16_t TYPE_LONG = 4;
constexpr uint16_t TYPE_RATIONAL = 5;
constexpr uint16_t TYPE_SSHORT = 8;
constexpr uint16_t TYPE_SLONG = 9;

// Compressions.
constexpr uint16_t COMP_NONE = 1;
constexpr uint16_t COMP_CCITT_RLE = 2;
constexpr uint16_t COMP_CCITT_G3 = 3;
constexpr uint16_t COMP_CCITT_G4 = 4;
constexpr uint16_t COMP_LZW = 5;
constexpr uint16_t COMP_JPEG = 7;
constexpr uint16_t COMP_DEFLATE = 8;
constexpr uint16_t COMP_PACKBITS = 32773;
constexpr uint16_t COMP_DEFLATE_OLD = 32946;
constexpr uint16_t COMP_SGILOG = 34676;
constexpr uint16_t COMP_SGILOG24 = 34677;

// Photometric interpretations.
constexpr uint16_t PHOTO_MIN_IS_WHITE = 0;
constexpr uint16_t PHOTO_MIN_IS_BLACK = 1;
constexpr uint16_t PHOTO_RGB = 2;
constexpr uint16_t PHOTO_PALETTE = 3;
constexpr uint16_t PHOTO_CMYK = 5;
constexpr uint16_t PHOTO_YCBCR = 6;
constexpr uint16_t PHOTO_LOGL = 32844;
constexpr uint16_t PHOTO_LOGLUV = 32845;

constexpr uint16_t SAMPLE_FORMAT_FLOAT = 3;

// Directories followed before a chain is taken as looping.
constexpr int MAX_PAGES = 4096;
// A compressed chunk is read up to this many times its decoded size (CCITT
// codes of alternating one-pixel runs take several bits a pixel), plus headers.
constexpr uint64_t COMPRESSED_FACTOR = 8;
constexpr uint64_t COMPRESSED_SLACK = 4096;
// Spare bytes after row buffers, so that bit readers may look a few bytes ahead.
constexpr uint64_t ROW_SLACK = 16;
// Resolutions above this are taken as absent (they would not fit the 16-bit fields).
constexpr double MAX_DPI = 32767.0;

struct Entry {
    bool present = false;
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t raw[4] = {};
};

// The fields of one directory, with the defaults in force before it is read.
struct Fields {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerSample = 1;
    bool bitsDiffer = false;
    uint16_t compression = COMP_NONE;
    uint16_t photometric = PHOTO_MIN_IS_BLACK;
    uint16_t fillOrder = 1;
    uint16_t orientation = 1;
    uint32_t samplesPerPixel = 1;
    uint32_t rowsPerStrip = 0;  // 0: not given
    uint16_t planar = 1;
    uint32_t t4Options = 0;
    uint16_t resolutionUnit = 2;
    uint16_t predictor = 1;
    uint16_t sampleFormat = 1;
    uint32_t tileWidth = 0;
    uint32_t tileLength = 0;
    uint16_t subsamplingH = 2;
    uint16_t subsamplingV = 2;
    Entry bitsArray;
    Entry stripOffsets, stripByteCounts, tileOffsets, tileByteCounts;
    Entry xResolution, yResolution, colorMap, jpegTables, ycbcrCoefficients;
};

// How the rows reach the core.
enum class Output : uint8_t {
    Packed,         // the file's packed 1, 2, 4 or 8-bit rows as they stand
    BytePixels,     // one sample a pixel (grey or index), one byte each
    Rgb,            // R,G,B bytes
    Rgba,           // R,G,B,A bytes
    Cmyk,           // C,M,Y,K bytes
    ChannelPlanes,  // one channel of one row, one byte a pixel
    YCbCrRgb,       // YCbCr data units made R,G,B
    LogLGrey,       // LogL made grey
    LogLuvRgb,      // LogLuv made R,G,B
};

enum class Model : uint8_t { Grey, Palette, Rgb, Cmyk, YCbCr, LogL, LogLuv };

// ---------------------------------------------------------------------------
// LZW data of TIFF: codes of 9 to 12 bits, clear code 256, end code 257. New
// data are packed most significant bit first and the code width grows one code
// early; old data (from early writers) least significant bit first, growing
// when the next free code passes the width.
constexpr int LZW_TABLE = 4096;

// One entry's fields side by side, so that walking a string back to its first
// byte touches one place per byte.
struct LzwEntry {
    uint16_t prefix;
    uint16_t length;
    uint8_t suffix;
    uint8_t first;
};

struct LzwTable {
    LzwEntry entry[LZW_TABLE];
    uint8_t string[LZW_TABLE];  // one decoded string
    // A chunk decoded whole into one buffer: every entry is a string already
    // written there, known by where it starts and its length.
    uint64_t span[LZW_TABLE];  // offset << 32 | length
};

// The JPEG glue's callbacks for strips and tiles (tiffdecode.cpp): the frame
// is checked against the chunk and the colour spaces set, then every row is
// handed on.
void jpegConfigure(void* datum, jpeg_decompress_struct* cinfo);
Status jpegRow(void* datum, const uint8_t* row, int32_t y, const jpeg_decompress_struct* cinfo);

struct Endian {
    bool big = false;
    uint16_t u16(const uint8_t* p) const { return big ? loadU16BE(p) : loadU16LE(p); }
    uint32_t u32(const uint8_t* p) const { return big ? loadU32BE(p) : loadU32LE(p); }
};

class TiffReader {
public:
    TiffReader(FILE* f, LoadRequest* request) : f_(f), request_(request) {}
    ~TiffReader() { free(lzw_); }
    Status run();

private:
    // File access.
    bool readAt(uint64_t offset, void* dst, size_t n);
    Status readHeader(uint32_t* firstDirectory);
    int walkDirectories(uint32_t first, uint32_t* offsets);
    Status parseDirectory(uint32_t offset);
    void storeEntry(uint16_t tag, const Entry& e);
    bool scalar(const Entry& e, uint32_t* value);
    bool rational(const Entry& e, double* value);
    Buffer readArray(const Entry& e, uint32_t want, uint32_t* got);

    // Set-up.
    Status plan();
    Status readColorMap();
    void readResolution(int32_t* xdpi, int32_t* ydpi);
    void readYCbCrCoefficients();
    const char* nameFormat() const;

    // Decoding.
    Status decodeImage();
    Status decodeChunk(uint32_t index, uint32_t x0, uint32_t y0, uint32_t validWidth, uint32_t validRows);
    Status loadChunk(uint32_t index, uint64_t decodedBytes, size_t* size, bool* cut);
    Status loadChunkInto(uint32_t index, uint64_t decodedBytes, Buffer* input, size_t* capacity, size_t* size, bool* cut);
    Status decodeRaw(uint32_t index, uint32_t units);
    Status decodePackBits(size_t size, uint32_t units, bool cut);
    Status decodeLzw(size_t size, uint32_t units, bool cut);
    struct StripQueue;
    int lzwStripWorkers() const;
    Status decodeLzwStrips(int workers);
    static Status loadStrip(void* data, int64_t item, int slot);
    static void decodeStrip(void* data, int slot, int worker);
    static Status deliverStrip(void* data, int64_t item, int slot);
    Status deliverChunk(uint8_t* chunk, size_t produced, uint32_t units, bool prepared, bool* complete);
    Status decodeDeflate(size_t size, uint32_t units, bool cut);
    Status decodeCcitt(size_t size, uint32_t units);
    Status decodeJpeg(size_t size, uint32_t rows);
    Status decodeSgiLog(size_t size, uint32_t units, bool cut);
    static Status rowThunk(void* datum, uint8_t* row);
    Status onRow(uint8_t* row);
    void prepareRow(uint8_t* row) const;
    Status placeRow(uint8_t* row);
    void convertRow(const uint8_t* src, uint32_t n, uint8_t* dst) const;
    void convertYCbCr(const uint8_t* src, uint32_t n);
    Status place(uint32_t y, const uint8_t* data, size_t bytes, uint64_t byteOffset);
    Status flushBand(uint32_t y0, uint32_t rows);
    void undoPredictor(uint8_t* row) const;
    uint32_t sample(const uint8_t* row, uint64_t index) const;

    FILE* f_;
    LoadRequest* request_;
    Endian e_;
    uint64_t fileSize_ = 0;
    Fields d_;

    // What the directory asks for.
    Model model_ = Model::Grey;
    Output out_ = Output::Packed;
    uint32_t width_ = 0, height_ = 0;
    uint32_t bps_ = 1;            // bits of one sample in the decoded rows
    uint32_t spp_ = 1;            // samples a pixel in one decoded row (1 for separate planes)
    uint32_t usedSamples_ = 1;    // samples delivered: 1, 3 or 4
    bool separate_ = false;       // PlanarConfiguration 2 with several samples
    uint32_t storedPlanes_ = 1;
    uint32_t planesToDecode_ = 1;
    bool tiled_ = false;
    uint32_t chunkWidth_ = 0, chunkLength_ = 0;
    uint32_t across_ = 1, down_ = 1;
    uint64_t chunkRowBytes_ = 0;  // bytes of one decoded row (or YCbCr unit row) of a chunk
    uint32_t unitRows_ = 1;       // image rows per decoded row (YCbCr vertical subsampling)
    uint32_t unitWidth_ = 1;      // pixels per data unit across (YCbCr horizontal subsampling)
    int outBits_ = 8;             // bits a pixel of the delivered row
    uint64_t outRowBytes_ = 0;
    bool scaleSmall_ = false;     // colour samples below 8 bits are stretched to 0..255
    bool invertRows_ = false;     // CCITT rows of a min-is-black page
    bool reverseRows_ = false;    // fill order 2, undone after decoding
    bool reverseInput_ = false;   // fill order 2, undone before decoding
    bool predictor_ = false;
    bool oldLzw_ = false;
    bool oldLzwKnown_ = false;
    double luma_[3] = {0.299, 0.587, 0.114};

    // Chunk tables.
    Buffer offsets_, byteCounts_;
    uint32_t offsetCount_ = 0, byteCountCount_ = 0;
    Buffer colorMap_;  // 16-bit little-endian planar table for endImage
    Buffer jpegTables_;
    uint32_t jpegTablesSize_ = 0;

    // Decoding state.
    RasterHeader rh_{};
    Buffer input_;
    size_t inputCapacity_ = 0;
    Buffer chunkRow_;      // one decoded row (or unit row) of a chunk
    Buffer converted_;     // one delivered row (or YCbCr unit rows)
    Buffer band_;          // tiles: the delivered rows of one row of tiles
    LzwTable* lzw_ = nullptr;
    Buffer lzwChunk_;      // a whole decoded LZW chunk, when small enough
    size_t lzwChunkBytes_ = 0;
    CcittDecoder ccitt_;
    int plane_ = -1;       // the putRows plane of the rows being decoded
    uint32_t chunkX0_ = 0, chunkY0_ = 0, chunkValidWidth_ = 0, chunkValidRows_ = 0;
    uint32_t chunkRowIndex_ = 0;
    uint32_t bandY0_ = 0;
    bool badLzw_ = false;
    bool jpegMismatch_ = false;
    uint32_t jpegComponents_ = 0;
    friend Status jpegRow(void*, const uint8_t*, int32_t, const jpeg_decompress_struct*);
    friend void jpegConfigure(void*, jpeg_decompress_struct*);
};

}  // namespace tiffreader
