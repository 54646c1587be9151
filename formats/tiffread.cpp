// TIFF reader: the pages, the strips and tiles of a page in file order, and
// every decoded row made into the row the core takes (predictor, sample
// widths, YCbCr and LogLuv colours) and put in place.
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "tiffint.h"

namespace tiffreader {

namespace {

uint8_t clampByte(double v) {
    if (v <= 0.0) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v + 0.5);
}

// ---------------------------------------------------------------------------
// LogL and LogLuv, the encodings of SGI's log-luminance TIFF: 16-bit LogL
// (sign and 15 bits of log2 luminance), 32-bit LogLuv (LogL and 8-bit u', v')
// and 24-bit LogLuv (10-bit LogL and a 14-bit index of a (u', v') square).

double logL16ToY(int p16) {
    int le = p16 & 0x7FFF;
    if (!le) return 0.0;
    double y = exp(M_LN2 / 256.0 * (le + 0.5) - M_LN2 * 64.0);
    return (p16 & 0x8000) ? -y : y;
}

double logL10ToY(int p10) {
    if (p10 == 0) return 0.0;
    return exp(M_LN2 / 64.0 * (p10 + 0.5) - M_LN2 * 12.0);
}

uint8_t gammaByte(double v) {
    if (v <= 0.0) return 0;
    if (v >= 1.0) return 255;
    return static_cast<uint8_t>(static_cast<int>(256.0 * sqrt(v)));
}

void xyzToRgb(const float xyz[3], uint8_t* rgb) {
    double r = 2.690 * xyz[0] + -1.276 * xyz[1] + -0.414 * xyz[2];
    double g = -1.022 * xyz[0] + 1.978 * xyz[1] + 0.044 * xyz[2];
    double b = 0.061 * xyz[0] + -0.224 * xyz[1] + 1.163 * xyz[2];
    rgb[0] = gammaByte(r);
    rgb[1] = gammaByte(g);
    rgb[2] = gammaByte(b);
}

void uvToXyz(double luminance, double u, double v, float xyz[3]) {
    double s = 1.0 / (6.0 * u - 16.0 * v + 12.0);
    double x = 9.0 * u * s;
    double y = 4.0 * v * s;
    xyz[0] = static_cast<float>(x / y * luminance);
    xyz[1] = static_cast<float>(luminance);
    xyz[2] = static_cast<float>((1.0 - x - y) / y * luminance);
}

void logLuv32ToRgb(uint32_t p, uint8_t* rgb) {
    float xyz[3] = {0, 0, 0};
    double luminance = logL16ToY(static_cast<int>(p >> 16));
    if (luminance > 0.0) {
        constexpr double UV_SCALE = 410.0;
        double u = 1.0 / UV_SCALE * (((p >> 8) & 0xFF) + 0.5);
        double v = 1.0 / UV_SCALE * ((p & 0xFF) + 0.5);
        uvToXyz(luminance, u, v, xyz);
    }
    xyzToRgb(xyz, rgb);
}

// The (u', v') squares of 24-bit LogLuv: for each of the 163 rows of squares
// (v' from 0.016940 in steps of 0.0035), the u' of its first square and the
// number of squares; the 14-bit index counts squares row after row.
struct UvRow {
    float uStart;
    int16_t count;
};
const UvRow UV_ROWS[] = {
    {0.247663f, 4},   {0.243779f, 6},   {0.241684f, 7},   {0.237874f, 9},   {0.235906f, 10},  {0.232153f, 12},
    {0.228352f, 14},  {0.226259f, 15},  {0.222371f, 17},  {0.220410f, 18},  {0.214710f, 21},  {0.212714f, 22},
    {0.210721f, 23},  {0.204976f, 26},  {0.202986f, 27},  {0.199245f, 29},  {0.195525f, 31},  {0.193560f, 32},
    {0.189878f, 34},  {0.186216f, 36},  {0.186216f, 36},  {0.182592f, 38},  {0.179003f, 40},  {0.175466f, 42},
    {0.172001f, 44},  {0.172001f, 44},  {0.168612f, 46},  {0.168612f, 46},  {0.163575f, 49},  {0.158642f, 52},
    {0.158642f, 52},  {0.158642f, 52},  {0.153815f, 55},  {0.153815f, 55},  {0.149097f, 58},  {0.149097f, 58},
    {0.142746f, 62},  {0.142746f, 62},  {0.142746f, 62},  {0.138270f, 65},  {0.138270f, 65},  {0.138270f, 65},
    {0.132166f, 69},  {0.132166f, 69},  {0.126204f, 73},  {0.126204f, 73},  {0.126204f, 73},  {0.120381f, 77},
    {0.120381f, 77},  {0.120381f, 77},  {0.120381f, 77},  {0.112962f, 82},  {0.112962f, 82},  {0.112962f, 82},
    {0.107450f, 86},  {0.107450f, 86},  {0.107450f, 86},  {0.107450f, 86},  {0.100343f, 91},  {0.100343f, 91},
    {0.100343f, 91},  {0.095126f, 95},  {0.095126f, 95},  {0.095126f, 95},  {0.095126f, 95},  {0.088276f, 100},
    {0.088276f, 100}, {0.088276f, 100}, {0.088276f, 100}, {0.081523f, 105}, {0.081523f, 105}, {0.081523f, 105},
    {0.081523f, 105}, {0.074861f, 110}, {0.074861f, 110}, {0.074861f, 110}, {0.074861f, 110}, {0.068290f, 115},
    {0.068290f, 115}, {0.068290f, 115}, {0.068290f, 115}, {0.063573f, 119}, {0.063573f, 119}, {0.063573f, 119},
    {0.063573f, 119}, {0.057219f, 124}, {0.057219f, 124}, {0.057219f, 124}, {0.057219f, 124}, {0.050985f, 129},
    {0.050985f, 129}, {0.050985f, 129}, {0.050985f, 129}, {0.050985f, 129}, {0.044859f, 134}, {0.044859f, 134},
    {0.044859f, 134}, {0.044859f, 134}, {0.040571f, 138}, {0.040571f, 138}, {0.040571f, 138}, {0.040571f, 138},
    {0.036339f, 142}, {0.036339f, 142}, {0.036339f, 142}, {0.036339f, 142}, {0.032139f, 146}, {0.032139f, 146},
    {0.032139f, 146}, {0.032139f, 146}, {0.027947f, 150}, {0.027947f, 150}, {0.027947f, 150}, {0.023739f, 154},
    {0.023739f, 154}, {0.023739f, 154}, {0.023739f, 154}, {0.019504f, 158}, {0.019504f, 158}, {0.019504f, 158},
    {0.016976f, 161}, {0.016976f, 161}, {0.016976f, 161}, {0.016976f, 161}, {0.012639f, 165}, {0.012639f, 165},
    {0.012639f, 165}, {0.009991f, 168}, {0.009991f, 168}, {0.009991f, 168}, {0.009016f, 170}, {0.009016f, 170},
    {0.009016f, 170}, {0.006217f, 173}, {0.006217f, 173}, {0.005097f, 175}, {0.005097f, 175}, {0.005097f, 175},
    {0.003909f, 177}, {0.003909f, 177}, {0.002340f, 177}, {0.002389f, 170}, {0.001068f, 164}, {0.001653f, 157},
    {0.000717f, 150}, {0.001614f, 143}, {0.000270f, 136}, {0.000484f, 129}, {0.001103f, 123}, {0.001242f, 115},
    {0.001188f, 109}, {0.001011f, 103}, {0.000709f, 97},  {0.000301f, 89},  {0.002416f, 82},  {0.003251f, 76},
    {0.003246f, 69},  {0.004141f, 62},  {0.005963f, 55},  {0.008839f, 47},  {0.010490f, 40},  {0.016994f, 31},
    {0.023659f, 21},
};
constexpr int UV_ROW_COUNT = static_cast<int>(sizeof UV_ROWS / sizeof UV_ROWS[0]);
constexpr float UV_SQUARE = 0.003500f;
constexpr float UV_V_START = 0.016940f;

struct UvTable {
    int32_t first[UV_ROW_COUNT];  // index of each row's first square
    int32_t total;
};

const UvTable& uvTable() {
    static const UvTable table = [] {
        UvTable t{};
        int32_t n = 0;
        for (int i = 0; i < UV_ROW_COUNT; ++i) {
            t.first[i] = n;
            n += UV_ROWS[i].count;
        }
        t.total = n;
        return t;
    }();
    return table;
}

void logLuv24ToRgb(uint32_t p, uint8_t* rgb) {
    float xyz[3] = {0, 0, 0};
    double luminance = logL10ToY(static_cast<int>((p >> 14) & 0x3FF));
    if (luminance > 0.0) {
        const UvTable& t = uvTable();
        int32_t index = static_cast<int32_t>(p & 0x3FFF);
        double u = 0.210526316, v = 0.473684211;  // the neutral point, for indices off the table
        if (index < t.total) {
            int lower = 0, upper = UV_ROW_COUNT;
            while (upper - lower > 1) {
                int mid = (lower + upper) >> 1;
                int32_t d = index - t.first[mid];
                if (d > 0) lower = mid;
                else if (d < 0) upper = mid;
                else {
                    lower = mid;
                    break;
                }
            }
            u = UV_ROWS[lower].uStart + (index - t.first[lower] + 0.5) * UV_SQUARE;
            v = UV_V_START + (lower + 0.5) * UV_SQUARE;
        }
        uvToXyz(luminance, u, v, xyz);
    }
    xyzToRgb(xyz, rgb);
}

}  // namespace

Status TiffReader::run() {
    uint32_t first = 0;
    Status st = readHeader(&first);
    if (st != ST_OK) return st;
    if (request_->fileSize > 0) {
        fileSize_ = static_cast<uint64_t>(request_->fileSize);
    } else {
        if (fseek(f_, 0, SEEK_END) != 0) return ST_READ_ERROR;
        long end = ftell(f_);
        if (end < 0) return ST_READ_ERROR;
        fileSize_ = static_cast<uint64_t>(end);
    }

    Buffer offsetStore = allocBuffer(sizeof(uint32_t) * MAX_PAGES);
    if (!offsetStore) return ST_NO_MEMORY;
    uint32_t* directories = reinterpret_cast<uint32_t*>(offsetStore.get());
    const int pages = walkDirectories(first, directories);
    request_->pageCount = pages > 0 ? pages : 1;
    if (pages == 0) return ST_READ_ERROR;
    int page = request_->pageIndex;
    if (page < 0 || page >= pages) page = 0;
    st = parseDirectory(directories[page]);
    if (st != ST_OK) return st;

    st = plan();
    if (st != ST_OK) return st;

    // Tables read before any row.
    if (d_.jpegTables.present && d_.compression == COMP_JPEG) {
        uint32_t n = d_.jpegTables.count;
        jpegTables_ = allocBuffer(n);
        if (!jpegTables_) return ST_NO_MEMORY;
        const uint8_t* src = d_.jpegTables.raw;
        if (n > 4 && !readAt(e_.u32(d_.jpegTables.raw), jpegTables_.get(), n)) jpegTables_.reset();
        else if (n <= 4) memcpy(jpegTables_.get(), src, n);
        jpegTablesSize_ = jpegTables_ ? n : 0;
    }
    if (model_ == Model::Palette) {
        st = readColorMap();
        if (st != ST_OK) return st;
    }
    readYCbCrCoefficients();

    const uint64_t perPlane = static_cast<uint64_t>(across_) * down_;
    const uint64_t needed = perPlane * storedPlanes_;
    const Entry& offs = tiled_ ? d_.tileOffsets : d_.stripOffsets;
    const Entry& counts = tiled_ ? d_.tileByteCounts : d_.stripByteCounts;
    const uint32_t want = needed > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(needed);
    offsets_ = readArray(offs, want, &offsetCount_);
    byteCounts_ = readArray(counts, want, &byteCountCount_);
    if (!offsets_) {
        setReaderMessage(request_, MSG_BAD_OFFSETS);
        return ST_BAD_FILE;
    }

    // Working buffers.
    chunkRow_ = allocBuffer(chunkRowBytes_ + ROW_SLACK);
    uint64_t convertedBytes = outRowBytes_ * unitRows_ + ROW_SLACK;
    converted_ = allocBuffer(convertedBytes);
    if (!chunkRow_ || !converted_) return ST_NO_MEMORY;
    if (tiled_) {
        uint64_t bandRows = chunkLength_ < height_ ? chunkLength_ : height_;
        band_ = allocBuffer(bandRows * outRowBytes_ + ROW_SLACK);
        if (!band_) return ST_NO_MEMORY;
    }
    if (d_.compression == COMP_LZW) {
        lzw_ = static_cast<LzwTable*>(calloc(1, sizeof(LzwTable)));
        if (!lzw_) return ST_NO_MEMORY;
    }
    if (d_.compression == COMP_CCITT_RLE || d_.compression == COMP_CCITT_G3 || d_.compression == COMP_CCITT_G4) {
        CcittCoding coding = d_.compression == COMP_CCITT_RLE ? CcittCoding::ModifiedHuffman
                             : d_.compression == COMP_CCITT_G4 ? CcittCoding::Group4
                             : (d_.t4Options & 1) ? CcittCoding::Group3TwoD : CcittCoding::Group3OneD;
        st = ccitt_.init(static_cast<int32_t>(chunkWidth_), coding);
        if (st != ST_OK) return st;
        ccitt_.setVerbose((request_->flags & OPT_VERBOSE) != 0);
    }

    st = beginImage(&rh_);
    if (st != ST_OK) return st;
    st = decodeImage();
    if (d_.compression == COMP_CCITT_RLE || d_.compression == COMP_CCITT_G3 || d_.compression == COMP_CCITT_G4) {
        endImage(0, 8, nullptr);
    } else if (colorMap_) {
        endImage(PF_PLANAR | PF_TRIPLETS, 16, colorMap_.get());
    } else if (d_.photometric == PHOTO_MIN_IS_WHITE && (model_ == Model::Grey)) {
        endImage(PF_INVERT, 8, nullptr);
    } else {
        endImage(0, 8, nullptr);
    }
    if (st == ST_BAD_FILE && badLzw_) setReaderMessage(request_, MSG_BAD_LZW);
    if (st == ST_BAD_FILE && jpegMismatch_) setReaderMessage(request_, MSG_BAD_JPEG);
    return st;
}

// Every chunk in file order: plane by plane, then row of chunks by row of chunks.
Status TiffReader::decodeImage() {
    const int workers = lzwStripWorkers();
    if (workers > 1) return decodeLzwStrips(workers);
    const uint64_t perPlane = static_cast<uint64_t>(across_) * down_;
    for (uint32_t p = 0; p < planesToDecode_; ++p) {
        plane_ = out_ == Output::ChannelPlanes ? static_cast<int>(p) : -1;
        for (uint32_t b = 0; b < down_; ++b) {
            const uint32_t y0 = b * chunkLength_;
            const uint32_t rows = height_ - y0 < chunkLength_ ? height_ - y0 : chunkLength_;
            if (tiled_) {
                memset(band_.get(), 0, static_cast<size_t>(rows * outRowBytes_));
                bandY0_ = y0;
            }
            for (uint32_t c = 0; c < across_; ++c) {
                const uint64_t index = p * perPlane + static_cast<uint64_t>(b) * across_ + c;
                const uint32_t x0 = c * chunkWidth_;
                const uint32_t cols = width_ - x0 < chunkWidth_ ? width_ - x0 : chunkWidth_;
                Status st = index < offsetCount_ ? decodeChunk(static_cast<uint32_t>(index), x0, y0, cols, rows)
                                                 : ST_CORRUPT;  // the directory lists too few chunks
                if (st != ST_OK) {
                    if (tiled_ && st != ST_STOPPED) flushBand(y0, rows);
                    return st;
                }
            }
            if (tiled_) {
                Status st = flushBand(y0, rows);
                if (st != ST_OK) return st;
            }
        }
    }
    return ST_OK;
}

Status TiffReader::flushBand(uint32_t y0, uint32_t rows) {
    const size_t n = static_cast<size_t>(outRowBytes_ < static_cast<uint64_t>(fileRowLength())
                                             ? outRowBytes_
                                             : static_cast<uint64_t>(fileRowLength()));
    for (uint32_t r = 0; r < rows; ++r) {
        memcpy(rh_.rowBuffer, band_.get() + r * outRowBytes_, n);
        Status st = putRows(plane_, static_cast<int32_t>(y0 + r), 1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// Reads the compressed bytes of a chunk into input_. `cut` tells whether the
// data reach the end of the file (data ending early then mean a truncated file).
Status TiffReader::loadChunk(uint32_t index, uint64_t decodedBytes, size_t* size, bool* cut) {
    return loadChunkInto(index, decodedBytes, &input_, &inputCapacity_, size, cut);
}

Status TiffReader::loadChunkInto(uint32_t index, uint64_t decodedBytes, Buffer* input, size_t* capacity, size_t* size,
                                 bool* cut) {
    const uint32_t* offsets = reinterpret_cast<const uint32_t*>(offsets_.get());
    const uint32_t* counts = reinterpret_cast<const uint32_t*>(byteCounts_.get());
    const uint64_t offset = offsets[index];
    *size = 0;
    *cut = true;
    if (offset >= fileSize_) return ST_OK;
    const uint64_t available = fileSize_ - offset;
    uint64_t want;
    if (index < byteCountCount_ && counts[index] > 0) {
        want = counts[index];
        *cut = want > available;
    } else {
        want = available;  // no byte count: up to the end of the file
        *cut = true;
    }
    const uint64_t limit = decodedBytes * COMPRESSED_FACTOR + COMPRESSED_SLACK;
    if (want > limit) {
        want = limit;
        *cut = false;
    }
    if (want > available) want = available;
    if (want + 8 > *capacity) {
        *input = allocBuffer(want + 8);
        if (!*input) {
            *capacity = 0;
            return ST_NO_MEMORY;
        }
        *capacity = static_cast<size_t>(want + 8);
    }
    if (fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return ST_OK;
    size_t got = fread(input->get(), 1, static_cast<size_t>(want), f_);
    if (got < want) *cut = true;
    memset(input->get() + got, 0, 8);
    *size = got;
    if (reverseInput_) ccittReverseBits(input->get(), got);
    return ST_OK;
}

Status TiffReader::decodeChunk(uint32_t index, uint32_t x0, uint32_t y0, uint32_t validWidth, uint32_t validRows) {
    chunkX0_ = x0;
    chunkY0_ = y0;
    chunkValidWidth_ = validWidth;
    chunkValidRows_ = validRows;
    chunkRowIndex_ = 0;
    const uint32_t units = (validRows + unitRows_ - 1) / unitRows_;
    if (d_.compression == COMP_NONE || d_.compression == COMP_SGILOG24) return decodeRaw(index, units);
    size_t size = 0;
    bool cut = true;
    Status st = loadChunk(index, units * chunkRowBytes_, &size, &cut);
    if (st != ST_OK) return st;
    switch (d_.compression) {
    case COMP_PACKBITS: return decodePackBits(size, units, cut);
    case COMP_LZW: return decodeLzw(size, units, cut);
    case COMP_DEFLATE:
    case COMP_DEFLATE_OLD: return decodeDeflate(size, units, cut);
    case COMP_CCITT_RLE:
    case COMP_CCITT_G3:
    case COMP_CCITT_G4: return decodeCcitt(size, units);
    case COMP_JPEG: return decodeJpeg(size, validRows);
    case COMP_SGILOG: return decodeSgiLog(size, units, cut);
    default: return ST_CORRUPT;
    }
}

// Samples of any width: 8, 16, 24 and 32-bit samples follow the file's byte
// order, other widths are bit strings, most significant bit first.
uint32_t TiffReader::sample(const uint8_t* row, uint64_t index) const {
    switch (bps_) {
    case 8: return row[index];
    case 16: return e_.big ? loadU16BE(row + 2 * index) : loadU16LE(row + 2 * index);
    case 32: return e_.big ? loadU32BE(row + 4 * index) : loadU32LE(row + 4 * index);
    case 24: {
        const uint8_t* p = row + 3 * index;
        return e_.big ? (uint32_t{p[0]} << 16 | p[1] << 8 | p[2]) : (uint32_t{p[2]} << 16 | p[1] << 8 | p[0]);
    }
    default: {
        const uint64_t bit = index * bps_;
        const uint8_t* p = row + (bit >> 3);
        uint32_t window = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        return (window >> (24 - (bit & 7) - bps_)) & ((1u << bps_) - 1);
    }
    }
}

// Undoes horizontal differencing along one decoded row: each sample is the sum
// of itself and the same sample of the pixel before it, in the file's sample
// size and byte order.
// Horizontal differencing of S-byte pixels: the running sums of each sample
// stay in registers instead of being reloaded from the row.
template <size_t S>
void undoBytePrediction(uint8_t* row, size_t bytes) {
    if (bytes < S) return;
    uint8_t sum[S];
    for (size_t k = 0; k < S; ++k) sum[k] = row[k];
    size_t i = S;
    for (; i + S <= bytes; i += S)
        for (size_t k = 0; k < S; ++k) row[i + k] = sum[k] = static_cast<uint8_t>(sum[k] + row[i + k]);
    for (size_t k = 0; i + k < bytes; ++k) row[i + k] = static_cast<uint8_t>(sum[k] + row[i + k]);
}

void TiffReader::undoPredictor(uint8_t* row) const {
    const size_t bytes = static_cast<size_t>(chunkRowBytes_);
    const size_t stride = spp_;
    if (bps_ == 8 && stride == 3) {
        undoBytePrediction<3>(row, bytes);
    } else if (bps_ == 8 && stride == 4) {
        undoBytePrediction<4>(row, bytes);
    } else if (bps_ == 8) {
        for (size_t i = stride; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
    } else if (bps_ == 16) {
        const size_t n = bytes / 2;
        for (size_t i = stride; i < n; ++i) {
            uint8_t* p = row + 2 * i;
            const uint8_t* q = row + 2 * (i - stride);
            uint16_t v = static_cast<uint16_t>(e_.big ? loadU16BE(p) + loadU16BE(q) : loadU16LE(p) + loadU16LE(q));
            if (e_.big) {
                p[0] = static_cast<uint8_t>(v >> 8);
                p[1] = static_cast<uint8_t>(v);
            } else {
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
            }
        }
    } else if (bps_ == 32) {
        const size_t n = bytes / 4;
        for (size_t i = stride; i < n; ++i) {
            uint8_t* p = row + 4 * i;
            const uint8_t* q = row + 4 * (i - stride);
            uint32_t v = e_.big ? loadU32BE(p) + loadU32BE(q) : loadU32LE(p) + loadU32LE(q);
            for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (e_.big ? 24 - 8 * k : 8 * k));
        }
    } else {
        for (size_t i = 1; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
    }
}

// Brings n pixels of a decoded row to the delivered layout.
void TiffReader::convertRow(const uint8_t* src, uint32_t n, uint8_t* dst) const {
    const uint32_t maxValue = bps_ >= 32 ? 0xFFFFFFFFu : (1u << bps_) - 1;
    auto toByte = [&](uint32_t v) -> uint8_t {
        if (bps_ > 8) return static_cast<uint8_t>(v >> (bps_ - 8));
        if (bps_ < 8 && scaleSmall_) return static_cast<uint8_t>(v * 255 / maxValue);
        return static_cast<uint8_t>(v);
    };
    if (bps_ == 8) {
        // Bytes already: copy them, or pick the used samples out of each pixel.
        const uint32_t k = out_ == Output::Rgb ? 3
                           : out_ == Output::Rgba || out_ == Output::Cmyk ? 4
                           : out_ == Output::BytePixels || out_ == Output::ChannelPlanes ? 1
                                                                                        : 0;
        const uint32_t step = out_ == Output::ChannelPlanes ? 1 : spp_;
        if (k != 0 && step == k) {
            memcpy(dst, src, static_cast<size_t>(n) * k);
            return;
        }
        if (k != 0 && step > k) {
            for (uint32_t i = 0; i < n; ++i, src += step, dst += k)
                for (uint32_t s = 0; s < k; ++s) dst[s] = src[s];
            return;
        }
    }
    switch (out_) {
    case Output::BytePixels:
        for (uint32_t i = 0; i < n; ++i) dst[i] = toByte(sample(src, static_cast<uint64_t>(i) * spp_));
        break;
    case Output::ChannelPlanes:
        for (uint32_t i = 0; i < n; ++i) dst[i] = toByte(sample(src, i));
        break;
    case Output::Rgb:
    case Output::Rgba:
    case Output::Cmyk: {
        const uint32_t k = out_ == Output::Rgb ? 3 : 4;
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t s = 0; s < k; ++s)
                dst[i * k + s] = toByte(sample(src, static_cast<uint64_t>(i) * spp_ + s));
        break;
    }
    case Output::LogLGrey:
        for (uint32_t i = 0; i < n; ++i) dst[i] = gammaByte(logL16ToY(reinterpret_cast<const uint16_t*>(src)[i]));
        break;
    case Output::LogLuvRgb:
        if (d_.compression == COMP_SGILOG24) {
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* p = src + 3 * i;
                logLuv24ToRgb(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2], dst + 3 * i);
            }
        } else {
            for (uint32_t i = 0; i < n; ++i) logLuv32ToRgb(reinterpret_cast<const uint32_t*>(src)[i], dst + 3 * i);
        }
        break;
    case Output::Packed:
    case Output::YCbCrRgb:
        break;
    }
}

// One row of YCbCr data units (h x v luma samples, then Cb and Cr) made into
// v rows of R,G,B in converted_.
void TiffReader::convertYCbCr(const uint8_t* src, uint32_t n) {
    const uint32_t h = unitWidth_, v = unitRows_;
    const uint32_t unitBytes = h * v + 2;
    const double lr = luma_[0], lg = luma_[1], lb = luma_[2];
    const uint32_t units = (n + h - 1) / h;
    for (uint32_t u = 0; u < units; ++u) {
        const uint8_t* p = src + static_cast<size_t>(u) * unitBytes;
        const double cb = p[h * v] - 128.0, cr = p[h * v + 1] - 128.0;
        const double rAdd = cr * (2.0 - 2.0 * lr);
        const double bAdd = cb * (2.0 - 2.0 * lb);
        const double gSub = (lb * bAdd + lr * rAdd) / lg;
        for (uint32_t j = 0; j < v; ++j) {
            uint8_t* row = converted_.get() + static_cast<size_t>(j) * outRowBytes_;
            for (uint32_t i = 0; i < h; ++i) {
                const uint32_t x = u * h + i;
                if (x >= n) break;
                const double y = p[j * h + i];
                uint8_t* d = row + 3 * static_cast<size_t>(x);
                d[0] = clampByte(y + rAdd);
                d[1] = clampByte(y - gSub);
                d[2] = clampByte(y + bAdd);
            }
        }
    }
}

// Puts one delivered row (or the part of it a tile covers) in place.
Status TiffReader::place(uint32_t y, const uint8_t* data, size_t bytes, uint64_t byteOffset) {
    if (byteOffset >= outRowBytes_) return ST_OK;
    if (bytes > outRowBytes_ - byteOffset) bytes = static_cast<size_t>(outRowBytes_ - byteOffset);
    if (tiled_) {
        memcpy(band_.get() + (y - bandY0_) * outRowBytes_ + byteOffset, data, bytes);
        return ST_OK;
    }
    const int64_t rowLength = fileRowLength();
    if (rowLength <= 0) return ST_CORRUPT;
    if (static_cast<int64_t>(bytes) > rowLength) bytes = static_cast<size_t>(rowLength);
    if (uint8_t* direct = byteOffset == 0 ? directRow(static_cast<int32_t>(y)) : nullptr) {
        memcpy(direct, data, bytes);
        return rowsPlaced(1);
    }
    memcpy(rh_.rowBuffer, data, bytes);
    return putRows(plane_, static_cast<int32_t>(y), 1);
}

// One decoded row of the chunk: undo the fill order and the predictor, convert, place.
Status TiffReader::onRow(uint8_t* row) {
    prepareRow(row);
    return placeRow(row);
}

// What depends on the row alone (and may run on any thread).
void TiffReader::prepareRow(uint8_t* row) const {
    if (reverseRows_) ccittReverseBits(row, static_cast<size_t>(chunkRowBytes_));
    if (predictor_) undoPredictor(row);
    if (invertRows_)
        for (size_t i = 0; i < chunkRowBytes_; ++i) row[i] = static_cast<uint8_t>(~row[i]);
}

Status TiffReader::placeRow(uint8_t* row) {
    const uint32_t index = chunkRowIndex_++;
    const uint32_t n = chunkValidWidth_;
    if (out_ == Output::YCbCrRgb) {
        convertYCbCr(row, n);
        for (uint32_t j = 0; j < unitRows_; ++j) {
            const uint32_t r = index * unitRows_ + j;
            if (r >= chunkValidRows_) break;
            Status st = place(chunkY0_ + r, converted_.get() + static_cast<size_t>(j) * outRowBytes_,
                              3 * static_cast<size_t>(n), 3 * static_cast<uint64_t>(chunkX0_));
            if (st != ST_OK) return st;
        }
        return ST_OK;
    }
    if (index >= chunkValidRows_) return ST_OK;
    if (out_ == Output::Packed) {
        const size_t bytes = static_cast<size_t>((static_cast<uint64_t>(n) * outBits_ + 7) / 8);
        return place(chunkY0_ + index, row, bytes, static_cast<uint64_t>(chunkX0_) * outBits_ / 8);
    }
    convertRow(row, n, converted_.get());
    const uint64_t pixelBytes = out_ == Output::ChannelPlanes || out_ == Output::BytePixels || out_ == Output::LogLGrey
                                    ? 1
                                    : out_ == Output::Rgba || out_ == Output::Cmyk ? 4 : 3;
    return place(chunkY0_ + index, converted_.get(), static_cast<size_t>(n * pixelBytes), chunkX0_ * pixelBytes);
}

}  // namespace tiffreader

// "II" or "MM" and 42 (in either byte order, as some writers get it wrong). A
// DICOM file may start with a TIFF header in its preamble so that TIFF readers
// show it: it is a DICOM file ("DICM" after the 128-byte preamble).
bool acceptTiff(const uint8_t* head, size_t n, int64_t) {
    if (n < 8 || !((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) return false;
    if (!((head[2] == 42 && head[3] == 0) || (head[2] == 0 && head[3] == 42))) return false;
    return !(n >= 132 && memcmp(head + 128, "DICM", 4) == 0);
}

Status readTiff(FILE* stream, LoadRequest* request) {
    tiffreader::TiffReader reader(stream, request);
    return reader.run();
}
