// Quantel Paintbox pictures, .vpb (reader only).
//
// A 1024-byte header of tagged big-endian records, then a description block
// at 1024 and the pictures. String records (tags 0x02 name, 0x03 file type
// "Picture", "Stencil" or "Cutout", 0x0A owner, 0x0B categories) hold a
// 16-bit length and the text; block records (0x04, 0x0D, 0x10, 0x1F, 0x98)
// a count, a size and count x size bytes; 0xFF ends the list. Block 0x10 is
// the image directory, 20-byte entries: kind (0x10 picture, 0x11 stencil),
// index (0 the full picture, 1 the browse picture), width, height, two
// unknown words, the data offset counted from byte 1024 and the data size
// (width x height x 2). Pictures are 4:2:2 Y'CbCr rows, top first, each pair
// of pixels stored Cb, Y0, Cr, Y1 (studio range); a stencil keeps its matte
// in the Y bytes. A cutout is a picture with the stencil as its alpha. The
// full picture is page 0, the browse picture page 1.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_VPB[] = "Quantel VPB";
constexpr size_t VPB_HEADER = 1024;
constexpr int MAX_ENTRIES = 16;
constexpr uint16_t KIND_PICTURE = 0x10;
constexpr uint16_t KIND_STENCIL = 0x11;

struct VpbEntry {
    uint16_t kind, index;
    int32_t width, height;
    int64_t offset;  // in the file
};

struct VpbHeader {
    VpbEntry entries[MAX_ENTRIES];
    int count = 0;
    bool typed = false;
};

// Parses the records of the header; true when it names a picture type and
// lists at least one entry the file holds.
bool vpbParse(const uint8_t* b, size_t n, int64_t fileSize, VpbHeader* h) {
    if (n < VPB_HEADER) return false;
    size_t at = 0;
    while (at < VPB_HEADER) {
        const uint8_t tag = b[at++];
        if (tag == 0xFF) break;
        if (tag == 0x02 || tag == 0x03 || tag == 0x0A || tag == 0x0B) {
            if (at + 2 > VPB_HEADER) return false;
            const size_t len = loadU16BE(b + at);
            at += 2;
            if (at + len > VPB_HEADER) return false;
            if (tag == 0x03) {
                const char* s = reinterpret_cast<const char*>(b + at);
                h->typed = (len == 7 && memcmp(s, "Picture", 7) == 0) || (len == 7 && memcmp(s, "Stencil", 7) == 0) ||
                           (len == 6 && memcmp(s, "Cutout", 6) == 0);
            }
            at += len;
        } else if (tag == 0x04 || tag == 0x0D || tag == 0x10 || tag == 0x1F || tag == 0x98) {
            if (at + 2 > VPB_HEADER) return false;
            const size_t count = b[at], size = b[at + 1];
            at += 2;
            if (at + count * size > VPB_HEADER) return false;
            if (tag == 0x10) {
                if (size < 20) return false;  // longer entries keep their first 20 bytes as described
                for (size_t i = 0; i < count; ++i) {
                    const uint8_t* e = b + at + size * i;
                    VpbEntry v{loadU16BE(e), loadU16BE(e + 2), loadU16BE(e + 4), loadU16BE(e + 6),
                               static_cast<int64_t>(VPB_HEADER) + loadU32BE(e + 12)};
                    const int64_t bytes = loadU32BE(e + 16);
                    if ((v.kind != KIND_PICTURE && v.kind != KIND_STENCIL) || v.width < 1 || v.width > 4096 ||
                        v.height < 1 || v.height > 4096 || bytes != 2ll * v.width * v.height ||
                        v.offset + bytes > fileSize)
                        continue;
                    if (h->count < MAX_ENTRIES) h->entries[h->count++] = v;
                }
            }
            at += count * size;
        } else {
            break;  // unknown record: the rest is not ours to read
        }
    }
    return h->typed && h->count > 0;
}

const VpbEntry* findEntry(const VpbHeader& h, uint16_t kind, uint16_t index, int32_t w = 0, int32_t ht = 0) {
    for (int i = 0; i < h.count; ++i) {
        const VpbEntry& e = h.entries[i];
        if (e.kind == kind && e.index == index && (w == 0 || (e.width == w && e.height == ht))) return &e;
    }
    return nullptr;
}

uint8_t clampByte(double v) { return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(v); }

// One 4:2:2 row (Cb, Y0, Cr, Y1 a pair) to R,G,B(,A) at step bytes a pixel.
void convertRow(const uint8_t* s, int32_t width, uint8_t* out, int step) {
    const int64_t rowBytes = 2ll * width;
    for (int32_t x = 0; x < width; ++x) {
        const int64_t pair = 4ll * (x / 2);
        const double y = 1.164 * (s[pair + 1 + 2 * (x % 2)] - 16);
        const double cb = s[pair] - 128.0;
        const double cr = pair + 2 < rowBytes ? s[pair + 2] - 128.0 : 0;
        out[step * x] = clampByte(y + 1.596 * cr);
        out[step * x + 1] = clampByte(y - 0.392 * cb - 0.813 * cr);
        out[step * x + 2] = clampByte(y + 2.017 * cb);
    }
}

}  // namespace

bool acceptVpb(const uint8_t* head, size_t n, int64_t fileSize) {
    VpbHeader h;
    return vpbParse(head, n, fileSize, &h);
}

Status readVpb(FILE* stream, LoadRequest* request) {
    uint8_t head[VPB_HEADER];
    VpbHeader h;
    if (!readBlock(stream, head, sizeof head) || !vpbParse(head, sizeof head, request->fileSize, &h))
        return ST_UNKNOWN_FORMAT;
    // Page 0 the full picture (or stencil), page 1 the browse one.
    const VpbEntry* pages[2] = {};
    for (uint16_t index = 0; index < 2; ++index) {
        pages[index] = findEntry(h, KIND_PICTURE, index);
        if (!pages[index]) pages[index] = findEntry(h, KIND_STENCIL, index);
    }
    if (!pages[0]) {
        pages[0] = pages[1];
        pages[1] = nullptr;
    }
    if (!pages[0]) return ST_UNKNOWN_FORMAT;
    request->pageCount = pages[1] ? 2 : 1;
    const VpbEntry& main = *pages[request->pageIndex == 1 && pages[1] ? 1 : 0];
    const VpbEntry* matte =
        main.kind == KIND_PICTURE ? findEntry(h, KIND_STENCIL, main.index, main.width, main.height) : nullptr;
    const bool stencil = main.kind == KIND_STENCIL;

    RasterHeader rh{};
    rh.layout = stencil ? PL_BYTE_PIXELS : 0;
    rh.channels = 1;
    rh.width = main.width;
    rh.height = main.height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(stencil ? 8 : matte ? 32 : 24);
    rh.bytesPerPlane = rh.width * (rh.bitsPerPlane / 8);
    setRasterName(rh.name, NAME_VPB);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    const int64_t stored = 2ll * main.width;
    Buffer in = allocBuffer(static_cast<uint64_t>(stored));
    Buffer out = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane));
    if (!in || !out) st = ST_NO_MEMORY;
    for (int32_t y = 0; y < main.height && st == ST_OK; ++y) {
        if (!seekTo(stream, static_cast<uint64_t>(main.offset + y * stored)) ||
            !readBlock(stream, in.get(), static_cast<size_t>(stored))) {
            st = ST_READ_ERROR;
            break;
        }
        if (stencil) {
            for (int32_t x = 0; x < main.width; ++x) out[x] = in[2 * x + 1];
        } else {
            convertRow(in.get(), main.width, out.get(), matte ? 4 : 3);
            if (matte) {
                if (!seekTo(stream, static_cast<uint64_t>(matte->offset + y * stored)) ||
                    !readBlock(stream, in.get(), static_cast<size_t>(stored))) {
                    st = ST_READ_ERROR;
                    break;
                }
                for (int32_t x = 0; x < main.width; ++x) out[4 * x + 3] = in[2 * x + 1];
            }
        }
        st = deliverRow(out.get(), rh.bytesPerPlane, y);
    }
    endImage(0, 8, nullptr);
    return st;
}
