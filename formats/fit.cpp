// SGI FIT pictures of the ImageVision library (reader only).
//
// A big-endian header: "IT01" or "IT02", then x, y, z and channel sizes,
// the sample type (2 unsigned 8-bit, 4 signed 8-bit, 8 / 16 unsigned /
// signed 16-bit, 32 / 64 unsigned / signed 32-bit, 128 float, 256 double),
// the channel order (1 interleaved, 2 sequential within each line, 4 separate
// channel pages), the orientation (1 upper-left, 2 upper-right, 3 lower-right,
// 4 lower-left origin, rows across), the colour model and the four page
// sizes. IT01 keeps the data offset at 52; IT02 has the smallest and largest
// sample values as doubles at 56 and 64 and the data offset at 72.
//
// From the data offset the pages follow uncompressed: x pages fastest, then y
// pages, z pages and channel pages, each stored whole even at the picture's
// edges (what lies outside is padding). Inside a page, rows and columns run
// in the file's own orientation. Samples are reduced to 8 bits through the
// IT02 range when it is set, otherwise through the type's range (floats:
// through the values found). Only the first z slice is shown.
#include <cmath>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_FIT[] = "SGI FIT";
const char MSG_VARIANT[] = "FIT : Unsupported variant !";
constexpr int64_t MAX_PAGE_BYTES = int64_t(256) << 20;

enum Model { NEGATIVE = 1, LUMINANCE, RGB, PALETTE, RGBA, HSV, CMY, CMYK, BGR, ABGR, MULTI, YCC, LUM_ALPHA };

struct FitHeader {
    int64_t w, h, z, c;
    int64_t type, order, space, model;
    int64_t pw, ph, pz, pc;
    double low, high;
    bool range;
    int64_t dataOffset;
    int bytes;  // per sample
};

int typeBytes(int64_t t) {
    switch (t) {
    case 2: case 4: return 1;
    case 8: case 16: return 2;
    case 32: case 64: case 128: return 4;
    case 256: return 8;
    default: return 0;
    }
}

double loadDoubleBE(const uint8_t* p) {
    const uint64_t v = (static_cast<uint64_t>(loadU32BE(p)) << 32) | loadU32BE(p + 4);
    double d;
    memcpy(&d, &v, sizeof d);
    return d;
}

bool fitParse(const uint8_t* b, size_t n, int64_t fileSize, FitHeader* h) {
    if (n < 56 || b[0] != 'I' || b[1] != 'T' || b[2] != '0' || (b[3] != '1' && b[3] != '2')) return false;
    const bool v2 = b[3] == '2';
    const int64_t headerSize = v2 ? 76 : 56;
    if (fileSize < headerSize || static_cast<int64_t>(n) < headerSize) return false;
    int64_t f[13];
    for (int i = 0; i < 13; ++i) f[i] = static_cast<int32_t>(loadU32BE(b + 4 + 4 * i));
    h->w = f[0], h->h = f[1], h->z = f[2], h->c = f[3];
    h->type = f[4], h->order = f[5], h->space = f[6], h->model = f[7];
    h->pw = f[8], h->ph = f[9], h->pz = f[10], h->pc = f[11];
    h->dataOffset = v2 ? loadU32BE(b + 72) : loadU32BE(b + 52);
    h->low = v2 ? loadDoubleBE(b + 56) : 0;
    h->high = v2 ? loadDoubleBE(b + 64) : 0;
    h->range = v2 && std::isfinite(h->low) && std::isfinite(h->high) && h->high > h->low;
    if (h->w < 1 || h->w > 65535 || h->h < 1 || h->h > 65535 || h->z < 1 || h->c < 1 || h->c > 64) return false;
    if (h->type != 1 && typeBytes(h->type) == 0) return false;
    if (h->order != 1 && h->order != 2 && h->order != 4) return false;
    if (h->space < 1 || h->space > 8 || h->model < 1 || h->model > 13) return false;
    if (h->pw < 1 || h->ph < 1 || h->pz < 1 || h->pc < 1) return false;
    if (h->dataOffset < headerSize || h->dataOffset >= fileSize) return false;
    h->bytes = typeBytes(h->type);
    return true;
}

// Channels the colour model needs; 0 for models we do not show.
int64_t modelChannels(int64_t model) {
    switch (model) {
    case NEGATIVE: case LUMINANCE: case PALETTE: case MULTI: return 1;
    case LUM_ALPHA: return 2;
    case RGB: case BGR: case CMY: return 3;
    case RGBA: case ABGR: case CMYK: return 4;
    default: return 0;
    }
}

// A stored sample as a number.
double sampleAt(const uint8_t* p, int64_t type) {
    switch (type) {
    case 2: return p[0];
    case 4: return static_cast<int8_t>(p[0]);
    case 8: return loadU16BE(p);
    case 16: return static_cast<int16_t>(loadU16BE(p));
    case 32: return loadU32BE(p);
    case 64: return static_cast<int32_t>(loadU32BE(p));
    case 128: {
        const uint32_t v = loadU32BE(p);
        float x;
        memcpy(&x, &v, sizeof x);
        return x;
    }
    default: return loadDoubleBE(p);
    }
}

// The type's own range for integer samples.
void typeRange(int64_t type, double* low, double* high) {
    switch (type) {
    case 2: *low = 0, *high = 255; break;
    case 4: *low = -128, *high = 127; break;
    case 8: *low = 0, *high = 65535; break;
    case 16: *low = -32768, *high = 32767; break;
    case 32: *low = 0, *high = 4294967295.0; break;
    default: *low = -2147483648.0, *high = 2147483647.0; break;
    }
}

struct Walk {
    const FitHeader* h;
    int64_t pageBytes, tilesX, tilesY, channelPages;
    uint8_t* samples;      // w x h x c bytes, by file row and display column; null: range scan
    double low, high;      // scan results / mapping
    int64_t rowsDone;      // file rows complete
};

// Reads the pages of slice 0 in file order and places (or scans) their samples.
Status walkPages(FILE* f, Walk* wk, uint8_t* page) {
    const FitHeader& h = *wk->h;
    const double span = wk->high - wk->low;
    const uint64_t slicePages = static_cast<uint64_t>(wk->tilesX * wk->tilesY);
    const uint64_t room = static_cast<uint64_t>(INT64_MAX / 2);
    for (int64_t cp = 0; cp < wk->channelPages; ++cp) {
        // Channel page cp starts after cp channel pages of every slice.
        uint64_t pages = 0, skip = 0;
        if (!mulFits(static_cast<uint64_t>(cp), static_cast<uint64_t>(h.z), room, &pages) ||
            !mulFits(pages, slicePages, room, &pages) ||
            !mulFits(pages, static_cast<uint64_t>(wk->pageBytes), room, &skip) ||
            !seekTo(f, static_cast<uint64_t>(h.dataOffset) + skip))
            return ST_READ_ERROR;
        const int64_t kinds = h.order == 4 ? 1 : h.c;
        for (int64_t ty = 0; ty < wk->tilesY; ++ty) {
            for (int64_t tx = 0; tx < wk->tilesX; ++tx) {
                if (!readBlock(f, page, static_cast<size_t>(wk->pageBytes))) return ST_READ_ERROR;
                for (int64_t r = 0; r < h.ph && ty * h.ph + r < h.h; ++r) {
                    const int64_t fy = ty * h.ph + r;
                    for (int64_t q = 0; q < h.pw && tx * h.pw + q < h.w; ++q) {
                        const int64_t fx = tx * h.pw + q;
                        const int64_t x = h.space == 2 || h.space == 3 ? h.w - 1 - fx : fx;
                        for (int64_t k = 0; k < kinds; ++k) {
                            int64_t at;
                            if (h.order == 1) at = (r * h.pw + q) * h.c + k;
                            else if (h.order == 2) at = (r * h.c + k) * h.pw + q;
                            else at = r * h.pw + q;
                            const double v = sampleAt(page + at * h.bytes, h.type);
                            if (!wk->samples) {
                                if (std::isfinite(v)) {
                                    if (v < wk->low) wk->low = v;
                                    if (v > wk->high) wk->high = v;
                                }
                                continue;
                            }
                            double s = std::isfinite(v) ? (v - wk->low) * 255.0 / span : 0;
                            s = s > 0 ? (s < 255 ? s : 255) : 0;  // NaN too becomes 0
                            wk->samples[(fy * h.w + x) * h.c + (h.order == 4 ? cp : k)] = static_cast<uint8_t>(s + 0.5);
                        }
                    }
                }
            }
            if (cp == wk->channelPages - 1) wk->rowsDone = (ty + 1) * h.ph < h.h ? (ty + 1) * h.ph : h.h;
        }
    }
    return ST_OK;
}

// One output row from the samples of a pixel row.
void modelRow(const FitHeader& h, const uint8_t* s, uint8_t* out) {
    for (int64_t x = 0; x < h.w; ++x, s += h.c) {
        switch (h.model) {
        case NEGATIVE: out[x] = static_cast<uint8_t>(255 - s[0]); break;
        case LUMINANCE: case PALETTE: case MULTI: out[x] = s[0]; break;
        case LUM_ALPHA: out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = s[0], out[4 * x + 3] = s[1]; break;
        case RGB: memcpy(out + 3 * x, s, 3); break;
        case BGR: out[3 * x] = s[2], out[3 * x + 1] = s[1], out[3 * x + 2] = s[0]; break;
        case CMY: for (int k = 0; k < 3; ++k) out[3 * x + k] = static_cast<uint8_t>(255 - s[k]); break;
        case RGBA: memcpy(out + 4 * x, s, 4); break;
        case ABGR: out[4 * x] = s[3], out[4 * x + 1] = s[2], out[4 * x + 2] = s[1], out[4 * x + 3] = s[0]; break;
        default:  // CMYK
            for (int k = 0; k < 3; ++k) out[3 * x + k] = static_cast<uint8_t>((255 - s[k]) * (255 - s[3]) / 255);
            break;
        }
    }
}

}  // namespace

bool acceptFit(const uint8_t* head, size_t n, int64_t fileSize) {
    FitHeader h;
    return fitParse(head, n, fileSize, &h);
}

Status readFit(FILE* stream, LoadRequest* request) {
    uint8_t head[76];
    const size_t n = fread(head, 1, sizeof head, stream);
    FitHeader h;
    if (!fitParse(head, n, request->fileSize, &h)) return ST_UNKNOWN_FORMAT;
    const int64_t needed = modelChannels(h.model);
    const bool interleaved = (h.order == 1 || h.order == 2) && h.pc == h.c;
    const bool separate = h.order == 4 && h.pc == 1;
    if (h.type == 1 || h.space > 4 || h.pz != 1 || needed == 0 || h.c < needed || !(interleaved || separate) ||
        h.w > MAX_IMAGE_SIDE || h.h > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_VARIANT);
        return ST_BAD_FILE;
    }
    Walk wk{};
    wk.h = &h;
    wk.pageBytes = h.pw <= 65536 && h.ph <= 65536 ? h.pw * h.ph * h.pc * h.bytes : MAX_PAGE_BYTES + 1;
    if (wk.pageBytes > MAX_PAGE_BYTES) {
        setReaderMessage(request, MSG_VARIANT);
        return ST_BAD_FILE;
    }
    wk.tilesX = (h.w + h.pw - 1) / h.pw;
    wk.tilesY = (h.h + h.ph - 1) / h.ph;
    wk.channelPages = separate ? h.c : 1;
    Status st = checkPictureBudget(h.w, h.h, static_cast<int>(h.c));
    if (st != ST_OK) return st;

    const bool grey = needed == 1;
    const bool alpha = h.model == RGBA || h.model == ABGR || h.model == LUM_ALPHA;
    RasterHeader rh{};
    rh.layout = grey ? PL_BYTE_PIXELS : 0;
    rh.orientation = h.space == 3 || h.space == 4 ? OR_BOTTOM_UP : 0;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.w);
    rh.height = static_cast<int32_t>(h.h);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(grey ? 8 : alpha ? 32 : 24);
    rh.bytesPerPlane = static_cast<int32_t>(h.w * (rh.bitsPerPlane / 8));
    setRasterName(rh.name, NAME_FIT);
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    Buffer samples, page, row;
    if (wk.pageBytes > request->fileSize - h.dataOffset) {
        st = ST_READ_ERROR;  // not even one page: nothing large is asked for
    } else {
        samples = allocBuffer(static_cast<uint64_t>(h.w * h.h * h.c));
        page = allocBuffer(static_cast<uint64_t>(wk.pageBytes));
        row = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane));
        if (!samples || !page || !row) st = ST_NO_MEMORY;
    }
    if (st == ST_OK) {
        if (h.range) {
            wk.low = h.low, wk.high = h.high;
        } else if (h.type == 128 || h.type == 256) {
            wk.low = INFINITY, wk.high = -INFINITY;
            walkPages(stream, &wk, page.get());  // a cut file is told by the second walk
            if (!(wk.high > wk.low)) wk.high = wk.low + 1;
            if (!std::isfinite(wk.low)) wk.low = 0, wk.high = 1;
        } else {
            typeRange(h.type, &wk.low, &wk.high);
        }
        wk.samples = samples.get();
        wk.rowsDone = 0;
        st = walkPages(stream, &wk, page.get());
        const int64_t rows = st == ST_OK ? h.h : wk.rowsDone;
        for (int64_t y = 0; y < rows; ++y) {
            modelRow(h, samples.get() + y * h.w * h.c, row.get());
            const Status d = deliverRow(row.get(), rh.bytesPerPlane, static_cast<int32_t>(y));
            if (d != ST_OK) {
                st = d;
                break;
            }
        }
    }
    endImage(0, 8, nullptr);
    return st;
}
