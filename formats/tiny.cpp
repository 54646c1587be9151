// Tiny pictures (reader): an ST screen of any of the three ST modes, packed
// as word runs laid down the screen column by column.
//
// Header: the mode byte (0, 1, 2; 3 to 5 are the same modes followed by four
// bytes of colour-animation data), 16 palette words, the number of control
// bytes and the number of data words (big-endian). Then the control bytes and
// the data words. A signed control byte c < 0 copies -c data words; 0 takes a
// 16-bit count from the next two control bytes and repeats the next data word
// that often; 1 takes such a count and copies that many words; c >= 2 repeats
// the next data word c times.
//
// Words go down the 200 rows of one word column, then on to the column four
// words to the right; after the twentieth column back to the top, one word
// right of the first: columns 0, 4 ... 76, 1, 5 ... 77, 2 ... 78, 3 ... 79.
// The 32000-byte screen then holds rows in screen order.
#include <cstring>

#include "atari.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

constexpr int32_t SCREEN_WORDS = 16000;
constexpr int32_t ROWS = 200;
constexpr int32_t ROW_WORDS = 80;

struct TinyHeader {
    int mode;
    size_t headerBytes;
    uint16_t controls;
    uint16_t words;
};

bool tinyHeader(const uint8_t* b, size_t n, TinyHeader* h) {
    if (n < 1 || b[0] > 5) return false;
    h->mode = b[0] > 2 ? b[0] - 3 : b[0];
    const size_t at = b[0] > 2 ? 5 : 1;
    if (n < at + 36 || !stPaletteWordsPlausible(b + at, 16)) return false;
    h->controls = loadU16BE(b + at + 32);
    h->words = loadU16BE(b + at + 34);
    h->headerBytes = at + 36;
    return h->controls > 0 && h->words > 0;
}

// Places the words the control bytes describe; stops at the end of either
// array or when the screen is full.
void tinyUnpack(const uint8_t* control, size_t controls, const uint8_t* data, size_t words, uint8_t* screen) {
    int32_t placed = 0;
    size_t w = 0;
    auto place = [&](const uint8_t* word) {
        const int32_t column = placed / ROWS;
        const int32_t at = (placed % ROWS) * ROW_WORDS + (column % 20) * 4 + column / 20;
        memcpy(screen + 2 * at, word, 2);
        ++placed;
    };
    size_t i = 0;
    while (i < controls && placed < SCREEN_WORDS) {
        const int c = static_cast<int8_t>(control[i++]);
        int32_t count;
        bool run;
        if (c < 0) {
            count = -c;
            run = false;
        } else if (c <= 1) {
            if (i + 2 > controls) return;
            count = loadU16BE(control + i);
            i += 2;
            run = c == 0;
        } else {
            count = c;
            run = true;
        }
        if (run) {
            if (w >= words) return;
            const uint8_t* word = data + 2 * w++;
            for (int32_t k = 0; k < count && placed < SCREEN_WORDS; ++k) place(word);
        } else {
            for (int32_t k = 0; k < count && placed < SCREEN_WORDS; ++k) {
                if (w >= words) return;
                place(data + 2 * w++);
            }
        }
    }
}

}  // namespace

bool acceptTiny(const uint8_t* head, size_t n, int64_t) {
    TinyHeader h;
    return tinyHeader(head, n, &h);
}

Status readTiny(FILE* stream, LoadRequest*) {
    uint8_t b[41];
    const size_t got = fread(b, 1, sizeof b, stream);
    TinyHeader h;
    if (!tinyHeader(b, got, &h)) return ST_UNKNOWN_FORMAT;
    uint8_t palette[32];
    memcpy(palette, b + h.headerBytes - 36, 32);
    if (fseek(stream, static_cast<long>(h.headerBytes), SEEK_SET) != 0) return ST_UNKNOWN_FORMAT;

    Buffer control = allocBuffer(h.controls);
    Buffer data = allocBuffer(2 * static_cast<uint64_t>(h.words));
    Buffer screen = allocBuffer(2 * SCREEN_WORDS);
    if (!control || !data || !screen) return ST_NO_MEMORY;
    memset(screen.get(), 0, 2 * SCREEN_WORDS);
    const size_t controls = fread(control.get(), 1, h.controls, stream);
    size_t words = 0;
    if (controls == h.controls) words = fread(data.get(), 2, h.words, stream);
    const bool cut = controls < h.controls || words < h.words;

    RasterHeader rh;
    Status st = stBeginScreen(h.mode, PL_WORD_PLANES, "Tiny", "RLE", &rh);
    if (st != ST_OK) return st;
    tinyUnpack(control.get(), controls, data.get(), words, screen.get());
    st = stDeliverRows(screen.get(), stRowBytes(h.mode), rh.height);
    endImage(PF_ST9, 3, palette);
    return st == ST_OK && cut ? ST_READ_ERROR : st;
}
