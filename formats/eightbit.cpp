// Screens of eight-bit home computers (readers): ZX Spectrum screen files and
// 48K snapshots, MSX 2 screen-2 files, Commodore 64 Koala Paint and Advanced
// Art Studio pictures, Amstrad CPC screens.
//
// None carries a real signature: each is known by its exact size (and a small
// header where there is one) and reached through its extension. Each rebuilds
// the machine's screen from its memory layout into rows of one byte per pixel
// and ends with the machine's fixed 16-colour palette.
//
// - ZX Spectrum: 6144 bytes of bitmap in the machine's row order, then 768
//   attribute bytes (ink in bits 0-2, paper in bits 3-5; brightness and
//   flashing are not shown). A snapshot is a 27-byte header and the 48K
//   memory image, which starts with the screen.
// - MSX 2: a BSAVE image (byte 0, start, end and execution addresses) of the
//   video memory from start to end (end included when the file holds it):
//   patterns at 0, colours at 8192, both 6144 bytes of 8 x 8 characters; a
//   set pattern bit takes the colour byte's high nibble.
// - Commodore 64: 160 x 200 multicolour bitmaps of 40 x 25 cells, two bits a
//   pixel: 0 background, 1 and 2 the screen byte's high and low nibbles, 3 the
//   colour memory's low nibble.
// - Amstrad CPC: a 128-byte AMSDOS header whose bytes 1-5 read "MODE" and the
//   mode digit, then the 16 KB screen of eight 2048-byte banks.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

constexpr uint8_t ZX_PALETTE[48] = {
    0, 0, 0,     0, 0, 191,   191, 0, 0,     191, 0, 191,   0, 191, 0,   0, 191, 191,   191, 191, 0,   191, 191, 191,
    0, 0, 0,     0, 0, 255,   255, 0, 0,     255, 0, 255,   0, 255, 0,   0, 255, 255,   255, 255, 0,   255, 255, 255,
};
constexpr uint8_t MSX_PALETTE[48] = {
    0, 0, 0,       0, 0, 0,       32, 192, 32,   96, 224, 96,   32, 32, 224,    64, 96, 224,    160, 32, 32,   64, 192, 224,
    224, 32, 32,   224, 96, 96,   192, 192, 32,  192, 192, 128, 32, 128, 32,    192, 64, 160,   160, 160, 160, 224, 224, 224,
};
constexpr uint8_t C64_PALETTE[48] = {
    0, 0, 0,       255, 255, 255, 136, 0, 0,     170, 255, 238, 204, 68, 204,   0, 204, 85,     0, 0, 170,     238, 238, 119,
    221, 136, 85,  102, 68, 0,    255, 119, 119, 51, 51, 51,    119, 119, 119,  170, 255, 102,  0, 136, 255,   187, 187, 187,
};
constexpr uint8_t CPC_PALETTE[48] = {
    0, 0, 127,     255, 255, 0,   0, 255, 255,   255, 0, 0,     255, 255, 255,  0, 0, 0,        0, 0, 255,     255, 0, 255,
    0, 127, 127,   127, 127, 0,   127, 127, 255, 255, 127, 127, 0, 255, 0,      127, 255, 127,  0, 0, 0,       0, 0, 0,
};

// Declares a picture of one byte per pixel, values below 2^bits.
Status beginBytePixels(int32_t width, int32_t height, int bits, const char* name) {
    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = width;
    rh.height = height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    rh.bytesPerPlane = width;
    setRasterName(rh.name, name);
    return beginImage(&rh);
}

// Reads n bytes at offset into dst.
bool readAt(FILE* f, long offset, uint8_t* dst, size_t n) {
    return fseek(f, offset, SEEK_SET) == 0 && readBlock(f, dst, n);
}

// ---- ZX Spectrum ----------------------------------------------------------------

constexpr int64_t ZX_SCREEN_SIZE = 6912;
constexpr int64_t ZX_SNAPSHOT_SIZE = 49179;
constexpr long ZX_SNAPSHOT_HEADER = 27;
constexpr int ZX_BITMAP = 6144;
constexpr int ZX_ATTRIBUTES = 768;
constexpr int ZX_WIDTH = 256;
constexpr int ZX_HEIGHT = 192;

// Where screen row y is stored: the thirds of the screen in order, inside a
// third the first line of every character row, then the second...
int zxStoredRow(int y) { return (y & 0xC0) + ((y & 7) << 3) + ((y & 0x38) >> 3); }

Status readZx(FILE* f, long offset, const char* name) {
    uint8_t screen[ZX_BITMAP + ZX_ATTRIBUTES];
    if (!readAt(f, offset, screen, sizeof screen)) return ST_READ_ERROR;
    const uint8_t* attributes = screen + ZX_BITMAP;
    Status st = beginBytePixels(ZX_WIDTH, ZX_HEIGHT, 4, name);
    if (st != ST_OK) return st;
    uint8_t row[ZX_WIDTH];
    for (int y = 0; y < ZX_HEIGHT && st == ST_OK; ++y) {
        const uint8_t* bits = screen + 32 * zxStoredRow(y);
        const uint8_t* cells = attributes + 32 * (y / 8);
        for (int x = 0; x < ZX_WIDTH; ++x) {
            const uint8_t a = cells[x / 8];
            row[x] = (bits[x / 8] >> (7 - x % 8)) & 1 ? (a & 7) : ((a >> 3) & 7);
        }
        st = deliverRow(row, ZX_WIDTH, y);
    }
    endImage(PF_TRIPLETS, 8, ZX_PALETTE);
    return st;
}

// ---- MSX 2 ------------------------------------------------------------------------

constexpr int MSX_VRAM = 16384;
constexpr int MSX_HEADER = 7;
constexpr int MSX_COLOURS_AT = 8192;
constexpr int MSX_TABLE = 6144;

struct MsxHeader {
    unsigned start;
    unsigned end;
};

// The addresses must place the data inside the 16 KB of video memory.
bool msxHeader(const uint8_t* head, size_t n, int64_t fileSize, MsxHeader* h) {
    if (n < MSX_HEADER) return false;
    h->start = loadU16LE(head + 1);
    h->end = loadU16LE(head + 3);
    if (h->start >= h->end || h->end > MSX_VRAM) return false;
    return fileSize == 0 || fileSize >= MSX_HEADER + static_cast<int64_t>(h->end - h->start);
}

// ---- Commodore 64 ------------------------------------------------------------------

constexpr int64_t KOALA_SIZE = 10003;
constexpr int64_t ART_STUDIO_SIZE = 10018;
constexpr int C64_WIDTH = 160;
constexpr int C64_HEIGHT = 200;
constexpr int C64_BITMAP = 8000;
constexpr int C64_CELLS = 1000;

struct C64Layout {
    long bitmap;
    long screen;
    long colour;
    long background;
};
constexpr C64Layout KOALA = {2, 8002, 9002, 10002};
constexpr C64Layout ART_STUDIO = {2, 8002, 9018, 9002};

Status readC64(FILE* f, const C64Layout& at, const char* name) {
    uint8_t bitmap[C64_BITMAP], screen[C64_CELLS], colour[C64_CELLS], background = 0;
    if (!readAt(f, at.bitmap, bitmap, sizeof bitmap) || !readAt(f, at.screen, screen, sizeof screen) ||
        !readAt(f, at.colour, colour, sizeof colour) || !readAt(f, at.background, &background, 1))
        return ST_UNKNOWN_FORMAT;
    Status st = beginBytePixels(C64_WIDTH, C64_HEIGHT, 4, name);
    if (st != ST_OK) return st;
    uint8_t row[C64_WIDTH];
    for (int y = 0; y < C64_HEIGHT && st == ST_OK; ++y) {
        for (int c = 0; c < 40; ++c) {
            const int cell = 40 * (y / 8) + c;
            const uint8_t pens[4] = {static_cast<uint8_t>(background & 15), static_cast<uint8_t>(screen[cell] >> 4),
                                     static_cast<uint8_t>(screen[cell] & 15), static_cast<uint8_t>(colour[cell] & 15)};
            const uint8_t b = bitmap[320 * (y / 8) + (y % 8) + 8 * c];
            for (int k = 0; k < 4; ++k) row[4 * c + k] = pens[(b >> (6 - 2 * k)) & 3];
        }
        st = deliverRow(row, C64_WIDTH, y);
    }
    endImage(PF_TRIPLETS, 8, C64_PALETTE);
    return st;
}

// ---- Amstrad CPC ------------------------------------------------------------------

constexpr int64_t CPC_SIZE = 16512;
constexpr long CPC_HEADER = 128;
constexpr int CPC_SCREEN = 16384;
constexpr int CPC_HEIGHT = 200;

// Mode 0 pens: pixel 0 takes bits 7, 3, 5, 1 of its byte as pen bits 0 to 3,
// pixel 1 bits 6, 2, 4, 0.
inline uint8_t cpcMode0Pen(uint8_t b, int k) {
    const int s = 1 - k;  // the shift that brings pixel k's bits down to pixel 1's places
    const unsigned v = static_cast<unsigned>(b) >> s;
    return static_cast<uint8_t>(((v >> 6) & 1) | (((v >> 2) & 1) << 1) | (((v >> 4) & 1) << 2) | ((v & 1) << 3));
}

}  // namespace

// ---- ZX Spectrum ----------------------------------------------------------------

bool acceptZxScreen(const uint8_t*, size_t, int64_t size) { return size == ZX_SCREEN_SIZE; }
bool acceptZxSnapshot(const uint8_t*, size_t, int64_t size) { return size == ZX_SNAPSHOT_SIZE; }

Status readZxScreen(FILE* stream, LoadRequest* request) {
    if (request->fileSize != ZX_SCREEN_SIZE) return ST_UNKNOWN_FORMAT;
    return readZx(stream, 0, "Z80 Screen dump");
}

Status readZxSnapshot(FILE* stream, LoadRequest* request) {
    if (request->fileSize != ZX_SNAPSHOT_SIZE) return ST_UNKNOWN_FORMAT;
    return readZx(stream, ZX_SNAPSHOT_HEADER, "Spectrum Snapshot");
}

// ---- MSX 2 ------------------------------------------------------------------------

bool acceptMsx2(const uint8_t* head, size_t n, int64_t size) {
    MsxHeader h;
    return msxHeader(head, n, size, &h);
}

Status readMsx2(FILE* stream, LoadRequest* request) {
    uint8_t head[MSX_HEADER];
    MsxHeader h;
    if (!readBlock(stream, head, sizeof head) || !msxHeader(head, sizeof head, request->fileSize, &h))
        return ST_UNKNOWN_FORMAT;
    Buffer vram = allocBuffer(MSX_VRAM);
    if (!vram) return ST_NO_MEMORY;
    // BASIC's BSAVE stores the end address itself too: the byte at end is
    // taken when the file holds it (a screen-2 save ends on the last colour
    // byte, 0x37FF).
    const size_t need = h.end - h.start;
    const size_t room = need + (h.end < MSX_VRAM ? 1 : 0);
    if (fread(vram.get() + h.start, 1, room, stream) < need) return ST_UNKNOWN_FORMAT;
    Status st = beginBytePixels(256, 192, 4, "Msx 2 Screen");
    if (st != ST_OK) return st;
    const uint8_t* patterns = vram.get();
    const uint8_t* colours = vram.get() + MSX_COLOURS_AT;
    uint8_t row[256];
    for (int y = 0; y < 192 && st == ST_OK; ++y) {
        for (int c = 0; c < 32; ++c) {
            const int i = 256 * (y / 8) + 8 * c + y % 8;
            const uint8_t p = patterns[i], k = colours[i];
            for (int b = 0; b < 8; ++b) row[8 * c + b] = (p >> (7 - b)) & 1 ? (k >> 4) : (k & 15);
        }
        st = deliverRow(row, 256, y);
    }
    static_assert(MSX_COLOURS_AT + MSX_TABLE <= MSX_VRAM, "tables inside the video memory");
    endImage(PF_TRIPLETS, 8, MSX_PALETTE);
    return st;
}

// ---- Commodore 64 ------------------------------------------------------------------

bool acceptKoala(const uint8_t*, size_t, int64_t size) { return size == KOALA_SIZE; }
bool acceptArtStudio(const uint8_t* head, size_t n, int64_t size) {
    return size == ART_STUDIO_SIZE && n >= 2 && head[0] == 0x00 && head[1] == 0x20;
}

Status readKoala(FILE* stream, LoadRequest* request) {
    if (request->fileSize != KOALA_SIZE) return ST_UNKNOWN_FORMAT;
    return readC64(stream, KOALA, "Koala Paint");
}

Status readArtStudio(FILE* stream, LoadRequest* request) {
    uint8_t load[2];
    if (request->fileSize != ART_STUDIO_SIZE || !readBlock(stream, load, 2) || load[0] != 0x00 || load[1] != 0x20)
        return ST_UNKNOWN_FORMAT;
    return readC64(stream, ART_STUDIO, "Advanced Art Studio");
}

// ---- Amstrad CPC ------------------------------------------------------------------

bool acceptCpc(const uint8_t* head, size_t n, int64_t size) {
    return size == CPC_SIZE && n >= 6 && memcmp(head + 1, "MODE", 4) == 0;
}

Status readCpc(FILE* stream, LoadRequest* request) {
    uint8_t head[6];
    if (request->fileSize != CPC_SIZE || !readBlock(stream, head, sizeof head) || memcmp(head + 1, "MODE", 4) != 0)
        return ST_UNKNOWN_FORMAT;
    const int bits = head[5] == '2' ? 1 : head[5] == '1' ? 2 : 4;
    const int32_t width = 640 / bits;  // 80 bytes a row
    Buffer screen = allocBuffer(CPC_SCREEN);
    if (!screen) return ST_NO_MEMORY;
    if (!readAt(stream, CPC_HEADER, screen.get(), CPC_SCREEN)) return ST_READ_ERROR;
    Status st = beginBytePixels(width, CPC_HEIGHT, bits, "CPC screen");
    if (st != ST_OK) return st;
    uint8_t row[640];
    for (int y = 0; y < CPC_HEIGHT && st == ST_OK; ++y) {
        const uint8_t* line = screen.get() + (y % 8) * 2048 + (y / 8) * 80;
        for (int x = 0; x < width; ++x) {
            const uint8_t b = line[x * bits / 8];
            if (bits == 1) row[x] = (b >> (7 - x % 8)) & 1;
            else if (bits == 2) row[x] = static_cast<uint8_t>(((b >> (7 - x % 4)) & 1) | (((b >> (3 - x % 4)) & 1) << 1));
            else row[x] = cpcMode0Pen(b, x % 2);
        }
        st = deliverRow(row, width, y);
    }
    endImage(PF_TRIPLETS, 8, CPC_PALETTE);
    return st;
}
