// Kodak Photo CD image packs (reader): the three uncompressed PhotoYCC
// resolutions, Base/16 (192 x 128), Base/4 (384 x 256) and Base (768 x 512).
//
// An image pack starts with "PCD_OPA" (overview packs) or carries "PCD" at
// offset 2048 (the image-pack information sector). Each resolution is stored
// from a fixed sector as pairs of rows: luma row 2k, luma row 2k + 1 (width
// bytes each), then one chroma-1 and one chroma-2 row of width / 2 bytes that
// both luma rows share (chroma sample i serves pixels 2i and 2i + 1).
//
// The resolution comes from the load's first reader parameter: 0 Base,
// 1 Base/4, 2 Base/16, anything else Base. The higher resolutions (4Base,
// 16Base) are Huffman-coded residuals over Base and are not read.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME[] = "Kodak Photo CD";
const char OVERVIEW_SIGNATURE[] = "PCD_OPA";
const char PACK_SIGNATURE[] = "PCD";

constexpr size_t HEAD_BYTES = 3840;     // what the signature test reads
constexpr long PACK_SIGNATURE_AT = 2048;

struct Resolution {
    int32_t width;
    int32_t height;
    long offset;
};

// By reader parameter: Base, Base/4, Base/16.
constexpr Resolution RESOLUTIONS[3] = {
    {768, 512, 196608},
    {384, 256, 47104},
    {192, 128, 8192},
};

const Resolution& resolutionFor(int parameter) {
    return parameter == 1 || parameter == 2 ? RESOLUTIONS[parameter] : RESOLUTIONS[0];
}

// PhotoYCC to R,G,B, in double precision, truncated toward zero and clamped:
//   R = 1.407488 Y + 1.3230336 (C2 - 137)
//   G = 1.407488 Y - 0.3954176 (C1 - 156) - 0.67392 (C2 - 137)
//   B = 1.407488 Y + 2.0360448 (C1 - 156)
// The products are tabulated once; the sums are made in the same order.
struct YccTables {
    double luma[256];
    double redC2[256];
    double greenC1[256];
    double greenC2[256];
    double blueC1[256];
};

YccTables makeYccTables() {
    YccTables t{};
    for (int i = 0; i < 256; ++i) {
        t.luma[i] = 1.407488 * i;
        t.redC2[i] = 1.3230336 * (i - 137);
        t.greenC1[i] = 0.3954176 * (i - 156);
        t.greenC2[i] = 0.67392 * (i - 137);
        t.blueC1[i] = 2.0360448 * (i - 156);
    }
    return t;
}

inline uint8_t clampTruncated(double v) {
    if (!(v > 0.0)) return 0;  // NaN cannot occur; negatives and zero give 0
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(static_cast<int>(v));
}

// One output row of R,G,B from a luma row and the two chroma rows of its pair.
void yccRow(const YccTables& t, const uint8_t* luma, const uint8_t* c1, const uint8_t* c2, int32_t width,
            uint8_t* out) {
    for (int32_t x = 0; x < width; ++x) {
        const double y = t.luma[luma[x]];
        const uint8_t a = c1[x / 2], b = c2[x / 2];
        out[3 * x] = clampTruncated(y + t.redC2[b]);
        out[3 * x + 1] = clampTruncated(y - t.greenC1[a] - t.greenC2[b]);
        out[3 * x + 2] = clampTruncated(y + t.blueC1[a]);
    }
}

bool hasSignature(const uint8_t* head, size_t n) {
    if (n >= 7 && memcmp(head, OVERVIEW_SIGNATURE, 7) == 0) return true;
    return n >= PACK_SIGNATURE_AT + 3 && memcmp(head + PACK_SIGNATURE_AT, PACK_SIGNATURE, 3) == 0;
}

// The pairs of rows of one resolution, converted and delivered two by two.
Status pcdReadPairs(FILE* f, const Resolution& r) {
    const int64_t pairBytes = 3 * static_cast<int64_t>(r.width);  // two luma rows, two half chroma rows
    Buffer pair = allocBuffer(pairBytes);
    Buffer rgb = allocBuffer(3 * static_cast<int64_t>(r.width));
    if (!pair || !rgb) return ST_NO_MEMORY;
    static const YccTables tables = makeYccTables();
    const uint8_t* luma0 = pair.get();
    const uint8_t* luma1 = luma0 + r.width;
    const uint8_t* chroma1 = luma1 + r.width;
    const uint8_t* chroma2 = chroma1 + r.width / 2;
    for (int32_t k = 0; k < r.height / 2; ++k) {
        if (!readBlock(f, pair.get(), static_cast<size_t>(pairBytes))) return ST_READ_ERROR;
        yccRow(tables, luma0, chroma1, chroma2, r.width, rgb.get());
        Status st = deliverRow(rgb.get(), 3 * static_cast<int64_t>(r.width), 2 * k);
        if (st != ST_OK) return st;
        yccRow(tables, luma1, chroma1, chroma2, r.width, rgb.get());
        st = deliverRow(rgb.get(), 3 * static_cast<int64_t>(r.width), 2 * k + 1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

}  // namespace

// The pack signature lies just past the bytes the test sees: a file long
// enough to hold it goes to the reader, which checks it.
bool acceptPcd(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n >= 7 && memcmp(head, OVERVIEW_SIGNATURE, 7) == 0) return true;
    return n == ACCEPT_HEAD_BYTES && (fileSize == 0 || fileSize >= static_cast<int64_t>(HEAD_BYTES));
}

Status readPcd(FILE* stream, LoadRequest* request) {
    uint8_t head[HEAD_BYTES];
    if (!readBlock(stream, head, sizeof head) || !hasSignature(head, sizeof head)) return ST_UNKNOWN_FORMAT;
    const Resolution& r = resolutionFor(request->readerParameter1);
    if (fseek(stream, r.offset, SEEK_SET) != 0) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = 0;  // R,G,B
    rh.channels = 1;
    rh.width = r.width;
    rh.height = r.height;
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 3 * r.width;
    setRasterName(rh.name, NAME);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = pcdReadPairs(stream, r);
    endImage(0, 8, nullptr);
    return st;
}
