// TIFF reader: the image file directories and their tags, and the plan of
// a page (how its rows are decoded and delivered) drawn from them.
#include <cmath>
#include <cstring>

#include "tiffint.h"

namespace tiffreader {

namespace {

int typeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

}  // namespace

bool TiffReader::readAt(uint64_t offset, void* dst, size_t n) {
    if (offset > fileSize_ || n > fileSize_ - offset) return false;
    if (fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return readBlock(f_, dst, n);
}

Status TiffReader::readHeader(uint32_t* firstDirectory) {
    uint8_t h[8];
    if (!readBlock(f_, h, sizeof h)) return ST_UNKNOWN_FORMAT;
    if (h[0] == 'I' && h[1] == 'I') e_.big = false;
    else if (h[0] == 'M' && h[1] == 'M') e_.big = true;
    else return ST_UNKNOWN_FORMAT;
    // The magic is accepted in either byte order.
    if (!((h[2] == 42 && h[3] == 0) || (h[2] == 0 && h[3] == 42))) return ST_UNKNOWN_FORMAT;
    *firstDirectory = e_.u32(h + 4);
    return ST_OK;
}

// Follows the chain of directories; returns how many there are, their offsets
// in `offsets`. A chain that comes back to a directory already seen ends there.
int TiffReader::walkDirectories(uint32_t first, uint32_t* offsets) {
    int n = 0;
    uint32_t offset = first;
    while (offset != 0 && n < MAX_PAGES) {
        for (int i = 0; i < n; ++i)
            if (offsets[i] == offset) return n;
        uint8_t b[4];
        if (!readAt(offset, b, 2)) break;
        uint64_t entries = e_.u16(b);
        uint64_t next = static_cast<uint64_t>(offset) + 2 + entries * 12;
        if (next > fileSize_) break;
        offsets[n++] = offset;
        if (!readAt(next, b, 4)) break;
        offset = e_.u32(b);
    }
    return n;
}

bool TiffReader::scalar(const Entry& e, uint32_t* value) {
    if (!e.present || e.count == 0) return false;
    const int size = typeSize(e.type);
    uint8_t b[4];
    const uint8_t* p = e.raw;
    if (size == 0 || size > 4) return false;
    if (static_cast<uint64_t>(size) * e.count > 4) {
        if (!readAt(e_.u32(e.raw), b, static_cast<size_t>(size))) return false;
        p = b;
    }
    switch (e.type) {
    case TYPE_SHORT:
    case TYPE_SSHORT: *value = e_.u16(p); return true;
    case TYPE_LONG:
    case TYPE_SLONG: *value = e_.u32(p); return true;
    case TYPE_BYTE: *value = p[0]; return true;
    default: return false;
    }
}

bool TiffReader::rational(const Entry& e, double* value) {
    if (!e.present || e.count == 0 || e.type != TYPE_RATIONAL) return false;
    uint8_t b[8];
    if (!readAt(e_.u32(e.raw), b, 8)) return false;
    uint32_t num = e_.u32(b), den = e_.u32(b + 4);
    if (den == 0) return false;
    *value = static_cast<double>(num) / den;
    return true;
}

// Up to `want` values of a BYTE, SHORT or LONG array, as 32-bit numbers.
Buffer TiffReader::readArray(const Entry& e, uint32_t want, uint32_t* got) {
    *got = 0;
    if (!e.present || e.count == 0) return Buffer();
    const int size = typeSize(e.type);
    if (e.type != TYPE_BYTE && e.type != TYPE_SHORT && e.type != TYPE_LONG && e.type != TYPE_SSHORT &&
        e.type != TYPE_SLONG)
        return Buffer();
    uint32_t n = e.count < want ? e.count : want;
    uint64_t bytes = static_cast<uint64_t>(n) * size;
    Buffer raw = allocBuffer(bytes + 4);
    Buffer values = allocBuffer(static_cast<uint64_t>(n) * 4);
    if (!raw || !values) return Buffer();
    if (static_cast<uint64_t>(size) * e.count <= 4) memcpy(raw.get(), e.raw, static_cast<size_t>(bytes));
    else if (!readAt(e_.u32(e.raw), raw.get(), static_cast<size_t>(bytes))) return Buffer();
    uint32_t* v = reinterpret_cast<uint32_t*>(values.get());
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = raw.get() + static_cast<size_t>(i) * size;
        v[i] = size == 1 ? p[0] : size == 2 ? e_.u16(p) : e_.u32(p);
    }
    *got = n;
    return values;
}

void TiffReader::storeEntry(uint16_t tag, const Entry& e) {
    uint32_t v = 0;
    switch (tag) {
    case TAG_WIDTH: if (scalar(e, &v)) d_.width = v; break;
    case TAG_LENGTH: if (scalar(e, &v)) d_.height = v; break;
    case TAG_BITS_PER_SAMPLE:
        if (scalar(e, &v)) d_.bitsPerSample = v;
        d_.bitsArray = e;
        break;
    case TAG_COMPRESSION:
        if (scalar(e, &v)) {
            d_.compression = static_cast<uint16_t>(v);
            // Fax data are min-is-white unless a later tag says otherwise.
            if (v == COMP_CCITT_RLE || v == COMP_CCITT_G3 || v == COMP_CCITT_G4) d_.photometric = PHOTO_MIN_IS_WHITE;
        }
        break;
    case TAG_PHOTOMETRIC: if (scalar(e, &v)) d_.photometric = static_cast<uint16_t>(v); break;
    case TAG_FILL_ORDER: if (scalar(e, &v)) d_.fillOrder = static_cast<uint16_t>(v); break;
    case TAG_STRIP_OFFSETS: d_.stripOffsets = e; break;
    case TAG_ORIENTATION: if (scalar(e, &v)) d_.orientation = static_cast<uint16_t>(v); break;
    case TAG_SAMPLES_PER_PIXEL: if (scalar(e, &v)) d_.samplesPerPixel = v; break;
    case TAG_ROWS_PER_STRIP: if (scalar(e, &v)) d_.rowsPerStrip = v; break;
    case TAG_STRIP_BYTE_COUNTS: d_.stripByteCounts = e; break;
    case TAG_X_RESOLUTION: d_.xResolution = e; break;
    case TAG_Y_RESOLUTION: d_.yResolution = e; break;
    case TAG_PLANAR_CONFIGURATION: if (scalar(e, &v)) d_.planar = static_cast<uint16_t>(v); break;
    case TAG_T4_OPTIONS: if (scalar(e, &v)) d_.t4Options = v; break;
    case TAG_RESOLUTION_UNIT: if (scalar(e, &v)) d_.resolutionUnit = static_cast<uint16_t>(v); break;
    case TAG_PREDICTOR: if (scalar(e, &v)) d_.predictor = static_cast<uint16_t>(v); break;
    case TAG_COLOR_MAP: d_.colorMap = e; break;
    case TAG_TILE_WIDTH: if (scalar(e, &v)) d_.tileWidth = v; break;
    case TAG_TILE_LENGTH: if (scalar(e, &v)) d_.tileLength = v; break;
    case TAG_TILE_OFFSETS: d_.tileOffsets = e; break;
    case TAG_TILE_BYTE_COUNTS: d_.tileByteCounts = e; break;
    case TAG_SAMPLE_FORMAT: if (scalar(e, &v)) d_.sampleFormat = static_cast<uint16_t>(v); break;
    case TAG_JPEG_TABLES: d_.jpegTables = e; break;
    case TAG_YCBCR_COEFFICIENTS: d_.ycbcrCoefficients = e; break;
    case TAG_YCBCR_SUBSAMPLING:
        if (e.type == TYPE_SHORT && e.count == 2) {
            d_.subsamplingH = e_.u16(e.raw);
            d_.subsamplingV = e_.u16(e.raw + 2);
        }
        break;
    default: break;
    }
}

Status TiffReader::parseDirectory(uint32_t offset) {
    uint8_t b[2];
    if (!readAt(offset, b, 2)) return ST_READ_ERROR;
    const uint32_t count = e_.u16(b);
    Buffer entries = allocBuffer(static_cast<uint64_t>(count) * 12);
    if (!entries) return ST_NO_MEMORY;
    if (count && !readAt(static_cast<uint64_t>(offset) + 2, entries.get(), static_cast<size_t>(count) * 12))
        return ST_READ_ERROR;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = entries.get() + static_cast<size_t>(i) * 12;
        Entry e;
        e.present = true;
        uint16_t tag = e_.u16(p);
        e.type = e_.u16(p + 2);
        e.count = e_.u32(p + 4);
        memcpy(e.raw, p + 8, 4);
        // Values that cannot all lie inside the file are not there at all.
        const int size = typeSize(e.type);
        uint64_t bytes = static_cast<uint64_t>(e.count) * (size ? size : 1);
        if (size == 0 || bytes > fileSize_ || (bytes > 4 && e_.u32(e.raw) > fileSize_ - bytes)) continue;
        storeEntry(tag, e);
    }
    // Every BitsPerSample value must be the same.
    if (d_.bitsArray.present && d_.bitsArray.count > 1) {
        uint32_t n = 0;
        Buffer v = readArray(d_.bitsArray, d_.bitsArray.count < 16 ? d_.bitsArray.count : 16, &n);
        const uint32_t* bits = reinterpret_cast<const uint32_t*>(v.get());
        for (uint32_t i = 1; i < n; ++i)
            if (bits[i] != bits[0]) d_.bitsDiffer = true;
        if (n) d_.bitsPerSample = bits[0];
    }
    return ST_OK;
}

const char* TiffReader::nameFormat() const {
    switch (d_.compression) {
    case COMP_CCITT_RLE: return "TIFF CCITT Rle %s";
    case COMP_CCITT_G3: return "TIFF CCITT Group 3 %s";
    case COMP_CCITT_G4: return "TIFF CCITT Group 4 %s";
    case COMP_LZW: return "TIFF LZW %s";
    case COMP_JPEG: return "TIFF Jpeg %s";
    case COMP_DEFLATE:
    case COMP_DEFLATE_OLD: return "TIFF Deflate %s";
    case COMP_PACKBITS: return "TIFF PackBits %s";
    case COMP_SGILOG: return "TIFF SGILog %s";
    case COMP_SGILOG24: return "TIFF SGILog24 %s";
    default: return "TIFF %s";
    }
}

void TiffReader::readResolution(int32_t* xdpi, int32_t* ydpi) {
    double x = 0, y = 0;
    auto toDpi = [this](double v) -> int32_t {
        switch (d_.resolutionUnit) {
        case 1: v = floor(v); break;    // no unit: the ratio as it stands
        case 3: v = v * 2.54 + 0.5; break;  // per centimetre
        default: break;
        }
        if (!(v >= 0.0) || v > MAX_DPI) return 0;
        return static_cast<int32_t>(v);
    };
    *xdpi = rational(d_.xResolution, &x) ? toDpi(x) : 0;
    *ydpi = rational(d_.yResolution, &y) ? toDpi(y) : 0;
}

void TiffReader::readYCbCrCoefficients() {
    const Entry& e = d_.ycbcrCoefficients;
    if (!e.present || e.type != TYPE_RATIONAL || e.count < 3) return;
    uint8_t b[24];
    if (!readAt(e_.u32(e.raw), b, sizeof b)) return;
    double c[3];
    for (int i = 0; i < 3; ++i) {
        uint32_t num = e_.u32(b + 8 * i), den = e_.u32(b + 8 * i + 4);
        if (den == 0) return;
        c[i] = static_cast<double>(num) / den;
    }
    if (!(c[1] > 0.0) || !(c[0] >= 0.0) || !(c[2] >= 0.0) || c[0] >= 1.0 || c[2] >= 1.0) return;
    memcpy(luma_, c, sizeof c);
}

// The colour map: 2^bits reds, greens and blues of 16 bits, copied into a
// zeroed planar table of 16-bit little-endian components for endImage.
Status TiffReader::readColorMap() {
    const Entry& e = d_.colorMap;
    if (!e.present || e.type != TYPE_SHORT || e.count < 3 || outBits_ > 8) return ST_OK;
    const uint32_t entries = 1u << outBits_;
    colorMap_ = allocBuffer(6 * static_cast<uint64_t>(entries));
    if (!colorMap_) return ST_NO_MEMORY;
    const uint32_t perPlane = e.count / 3;
    const uint32_t used = perPlane < entries ? perPlane : entries;
    uint32_t got = 0;
    Buffer values = readArray(e, e.count, &got);
    if (!values || got < e.count) {
        colorMap_.reset();  // unreadable: the picture comes out grey
        return ST_OK;
    }
    const uint32_t* v = reinterpret_cast<const uint32_t*>(values.get());
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < used; ++i) {
            uint32_t x = v[c * perPlane + i];
            uint8_t* d = colorMap_.get() + 2 * (c * entries + i);
            d[0] = static_cast<uint8_t>(x & 0xFF);
            d[1] = static_cast<uint8_t>(x >> 8);
        }
    return ST_OK;
}

// Judges the directory and decides how its rows reach the core.
Status TiffReader::plan() {
    const uint16_t comp = d_.compression;
    switch (comp) {
    case COMP_NONE: case COMP_CCITT_RLE: case COMP_CCITT_G3: case COMP_CCITT_G4: case COMP_LZW:
    case COMP_JPEG: case COMP_DEFLATE: case COMP_DEFLATE_OLD: case COMP_PACKBITS: case COMP_SGILOG:
    case COMP_SGILOG24:
        break;
    default:
        setReaderMessage(request_, MSG_BAD_COMPRESSION);
        return ST_BAD_FILE;
    }
    const uint16_t photo = d_.photometric;
    switch (photo) {
    case PHOTO_MIN_IS_WHITE: case PHOTO_MIN_IS_BLACK: case PHOTO_RGB: case PHOTO_PALETTE: case PHOTO_CMYK:
    case PHOTO_YCBCR: case PHOTO_LOGL: case PHOTO_LOGLUV:
        break;
    default:
        setReaderMessage(request_, MSG_BAD_PHOTOMETRIC);
        return ST_BAD_FILE;
    }
    const bool ccitt = comp == COMP_CCITT_RLE || comp == COMP_CCITT_G3 || comp == COMP_CCITT_G4;
    const bool sgiLog = comp == COMP_SGILOG || comp == COMP_SGILOG24;
    if ((photo == PHOTO_LOGL || photo == PHOTO_LOGLUV) && !sgiLog) {
        setReaderMessage(request_, MSG_BAD_COMPRESSION);
        return ST_BAD_FILE;
    }
    if (d_.width < 1 || d_.height < 1 || d_.width > MAX_IMAGE_SIDE || d_.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request_, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    width_ = d_.width;
    height_ = d_.height;

    // The colour model.
    if (sgiLog) model_ = photo == PHOTO_LOGL && comp == COMP_SGILOG ? Model::LogL : Model::LogLuv;
    else if (photo == PHOTO_RGB) model_ = Model::Rgb;
    else if (photo == PHOTO_PALETTE) model_ = Model::Palette;
    else if (photo == PHOTO_CMYK) model_ = Model::Cmyk;
    else if (photo == PHOTO_YCBCR) model_ = Model::YCbCr;
    else model_ = Model::Grey;
    if (ccitt) model_ = Model::Grey;

    const uint32_t spp = d_.samplesPerPixel;
    const uint32_t bps = d_.bitsPerSample;
    const uint32_t colourSamples = model_ == Model::Rgb || model_ == Model::YCbCr || model_ == Model::LogLuv ? 3
                                   : model_ == Model::Cmyk ? 4 : 1;
    if (spp < colourSamples || spp > 64) {
        setReaderMessage(request_, MSG_BAD_SAMPLES);
        return ST_BAD_FILE;
    }
    if (!sgiLog) {
        bool bitsOk = bps >= 1 && (bps <= 16 || bps == 24 || bps == 32) && !d_.bitsDiffer;
        if (model_ == Model::Palette && bps > 8) bitsOk = false;
        if ((ccitt && (bps != 1 || spp != 1)) || ((comp == COMP_JPEG || model_ == Model::YCbCr) && bps != 8))
            bitsOk = false;
        if (!bitsOk) {
            setReaderMessage(request_, MSG_BAD_BITS);
            return ST_BAD_FILE;
        }
        if (d_.sampleFormat == SAMPLE_FORMAT_FLOAT) {
            setReaderMessage(request_, MSG_BAD_SAMPLE_FORMAT);
            return ST_BAD_FILE;
        }
    }
    separate_ = d_.planar == 2 && spp > 1 && !sgiLog;
    storedPlanes_ = separate_ ? spp : 1;
    bps_ = sgiLog ? 8 : bps;
    spp_ = separate_ ? 1 : spp;
    if (model_ == Model::YCbCr && separate_) {
        setReaderMessage(request_, MSG_BAD_PLANAR);
        return ST_BAD_FILE;
    }

    // Strips or tiles.
    tiled_ = d_.tileWidth > 0 && d_.tileLength > 0 && d_.tileOffsets.present;
    if (tiled_) {
        if (d_.tileWidth > 65536 || d_.tileLength > 65536) {
            setReaderMessage(request_, MSG_BAD_TILES);
            return ST_BAD_FILE;
        }
        chunkWidth_ = d_.tileWidth;
        chunkLength_ = d_.tileLength;
        across_ = (width_ + chunkWidth_ - 1) / chunkWidth_;
        down_ = (height_ + chunkLength_ - 1) / chunkLength_;
    } else {
        if (!d_.stripOffsets.present) {
            setReaderMessage(request_, MSG_BAD_OFFSETS);
            return ST_BAD_FILE;
        }
        uint32_t rps = d_.rowsPerStrip;
        if (rps == 0 || rps > height_) rps = height_;
        chunkWidth_ = width_;
        chunkLength_ = rps;
        across_ = 1;
        down_ = (height_ + rps - 1) / rps;
    }

    // Decoded rows of one chunk.
    const uint16_t h = d_.subsamplingH, v = d_.subsamplingV;
    const bool ycbcrRaw = model_ == Model::YCbCr && comp != COMP_JPEG;
    if (ycbcrRaw && (h == 1 || h == 2 || h == 4) && (v == 1 || v == 2 || v == 4)) {
        unitWidth_ = h;
        unitRows_ = v;
    }
    if (ycbcrRaw) {
        uint64_t units = (static_cast<uint64_t>(chunkWidth_) + unitWidth_ - 1) / unitWidth_;
        chunkRowBytes_ = units * (unitWidth_ * unitRows_ + 2);
    } else if (model_ == Model::LogL && comp == COMP_SGILOG) {
        chunkRowBytes_ = 2ull * chunkWidth_;
    } else if (model_ == Model::LogLuv) {
        chunkRowBytes_ = (comp == COMP_SGILOG24 ? 3ull : 4ull) * chunkWidth_;
    } else {
        chunkRowBytes_ = (static_cast<uint64_t>(chunkWidth_) * spp_ * bps_ + 7) / 8;
    }

    // What is delivered.
    uint16_t layout = 0;
    int planes = 1;
    usedSamples_ = colourSamples;
    const bool packedFits = !tiled_ || (static_cast<uint64_t>(chunkWidth_) * bps_) % 8 == 0;
    switch (model_) {
    case Model::Grey:
    case Model::Palette:
        if (ccitt || ((bps_ == 1 || bps_ == 2 || bps_ == 4 || bps_ == 8) && spp_ == 1 && packedFits)) {
            out_ = Output::Packed;
            outBits_ = static_cast<int>(bps_);
        } else {
            out_ = Output::BytePixels;
            outBits_ = bps_ > 8 ? 8 : static_cast<int>(bps_);
            layout = PL_BYTE_PIXELS;
        }
        break;
    case Model::Rgb:
        usedSamples_ = spp >= 4 ? 4 : 3;
        out_ = separate_ ? Output::ChannelPlanes : usedSamples_ == 4 ? Output::Rgba : Output::Rgb;
        break;
    case Model::Cmyk:
        usedSamples_ = 4;
        out_ = separate_ ? Output::ChannelPlanes : Output::Cmyk;
        layout = PL_CMYK;
        break;
    case Model::YCbCr:
        out_ = ycbcrRaw ? Output::YCbCrRgb : separate_ ? Output::ChannelPlanes : Output::Rgb;
        break;
    case Model::LogL:
        out_ = Output::LogLGrey;
        break;
    case Model::LogLuv:
        out_ = Output::LogLuvRgb;
        break;
    }
    if (out_ == Output::ChannelPlanes) {
        planes = static_cast<int>(usedSamples_);
        layout |= PL_CHANNEL_PLANES;
        outBits_ = 8;
        outRowBytes_ = width_;
    } else if (out_ == Output::Packed) {
        outRowBytes_ = (static_cast<uint64_t>(width_) * outBits_ + 7) / 8;
    } else if (out_ == Output::BytePixels || out_ == Output::LogLGrey) {
        if (out_ == Output::LogLGrey) outBits_ = 8;
        outRowBytes_ = width_;
    } else {
        int bytes = out_ == Output::Rgba || out_ == Output::Cmyk ? 4 : 3;
        outBits_ = 8 * bytes;
        outRowBytes_ = static_cast<uint64_t>(bytes) * width_;
    }
    planesToDecode_ = separate_ ? (out_ == Output::ChannelPlanes ? usedSamples_ : 1) : 1;
    scaleSmall_ = model_ == Model::Rgb || model_ == Model::Cmyk;
    invertRows_ = ccitt && photo == PHOTO_MIN_IS_BLACK;
    const bool bitReversed = d_.fillOrder == 2;
    reverseInput_ = bitReversed && (ccitt || comp == COMP_LZW || comp == COMP_DEFLATE || comp == COMP_DEFLATE_OLD);
    reverseRows_ = bitReversed && (comp == COMP_NONE || comp == COMP_PACKBITS);
    predictor_ = d_.predictor != 1 && (comp == COMP_LZW || comp == COMP_DEFLATE || comp == COMP_DEFLATE_OLD);

    rh_.layout = layout;
    switch (d_.orientation) {
    case 2: rh_.orientation = OR_MIRRORED; break;
    case 3: rh_.orientation = OR_MIRRORED | OR_BOTTOM_UP; break;
    case 4: rh_.orientation = OR_BOTTOM_UP; break;
    default: rh_.orientation = 0; break;
    }
    rh_.channels = 1;
    rh_.width = static_cast<int32_t>(width_);
    rh_.height = static_cast<int32_t>(height_);
    rh_.planes = static_cast<int16_t>(planes);
    rh_.bitsPerPlane = static_cast<int16_t>(out_ == Output::ChannelPlanes ? 8 : outBits_);
    rh_.bytesPerPlane = static_cast<int32_t>(outRowBytes_);
    readResolution(&rh_.xdpi, &rh_.ydpi);
    const char* suffix = photo == PHOTO_CMYK ? "(CMYK)"
                         : photo == PHOTO_YCBCR ? "(YCbCr)"
                         : photo == PHOTO_LOGL ? "(CIE Log2(L))"
                         : photo == PHOTO_LOGLUV ? "(CIE Log2(L) (u',v'))" : "(RGB)";
    char name[RASTER_NAME_LEN];
    snprintf(name, sizeof name, nameFormat(), suffix);
    setRasterName(rh_.name, name);
    switch (d_.compression) {
    case COMP_CCITT_RLE: rh_.compression = "CCITT RLE"; break;
    case COMP_CCITT_G3: rh_.compression = "CCITT G3"; break;
    case COMP_CCITT_G4: rh_.compression = "CCITT G4"; break;
    case COMP_LZW: rh_.compression = "LZW"; break;
    case COMP_JPEG: rh_.compression = "JPEG"; break;
    case COMP_DEFLATE:
    case COMP_DEFLATE_OLD: rh_.compression = "deflate"; break;
    case COMP_PACKBITS: rh_.compression = "PackBits"; break;
    case COMP_SGILOG:
    case COMP_SGILOG24: rh_.compression = "SGI Log"; break;
    default: rh_.compression = nullptr; break;
    }
    return ST_OK;
}

}  // namespace tiffreader
