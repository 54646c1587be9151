// Raw Group 3 fax pages: a bit stream, most significant bit of each byte
// first, of lines coded with the one-dimensional modified Huffman code of
// ITU-T T.4, each line ended by an end-of-line code (eleven or more 0 bits and
// a 1). The page is 1728 pixels wide; six end-of-line codes in a row end it.
//
// The code words are looked up in the tables of the CCITT unit (ccitt.h).
#include <cstring>

#include "ccitt.h"
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME[] = "Fax G3";
constexpr int32_t PAGE_WIDTH = 1728;
constexpr int32_t LINE_BYTES = PAGE_WIDTH / 8;  // 216
constexpr int32_t MAX_LINES = 4300;
// Consecutive empty lines (end-of-line codes with nothing between them) that end the page.
constexpr int EMPTY_LINES_AT_END = 4;
// A raw page is read whole; real pages are far smaller.
constexpr uint64_t MAX_FILE_BYTES = 64ull << 20;

enum class LineEnd : uint8_t { Eol, EndOfData };

// Clears the bits of pixels [from, to) of a line of 1 bits (black on white).
void paintBlack(uint8_t* line, int32_t from, int32_t to) {
    for (int32_t x = from; x < to; ++x) line[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
}

// Decodes one line into `line` (all white on entry). A line ends at its
// end-of-line code; a line that reaches the page width, or holds a code that
// means nothing, skips to the next end-of-line code. *pixels receives how far
// the line got.
LineEnd decodeLine(CcittBitReader* bits, uint8_t* line, int32_t* pixels) {
    int32_t pos = 0;
    int32_t pending = 0;  // make-up runs waiting for their terminating code
    bool black = false;
    *pixels = 0;
    for (;;) {
        if (bits->atEnd()) {
            *pixels = pos;
            return LineEnd::EndOfData;
        }
        if (bits->peek(11) == 0) {
            ccittTakeEol(bits);
            *pixels = pos;
            return LineEnd::Eol;
        }
        const CcittCode& c = black ? ccittBlackCode(bits->peek(CCITT_BLACK_BITS))
                                   : ccittWhiteCode(bits->peek(CCITT_WHITE_BITS));
        switch (c.state) {
        case CCITT_WHITE_MAKEUP:
        case CCITT_BLACK_MAKEUP:
        case CCITT_COMMON_MAKEUP:
            bits->skip(c.length);
            if (pending <= PAGE_WIDTH) pending += c.param;
            break;
        case CCITT_WHITE_TERM:
        case CCITT_BLACK_TERM: {
            bits->skip(c.length);
            int32_t run = pending + c.param;
            pending = 0;
            if (run > PAGE_WIDTH - pos) run = PAGE_WIDTH - pos;
            if (black) paintBlack(line, pos, pos + run);
            pos += run;
            black = !black;
            if (pos >= PAGE_WIDTH) {
                *pixels = pos;
                return ccittSkipToEol(bits) ? LineEnd::Eol : LineEnd::EndOfData;
            }
            break;
        }
        default:
            // A code that means nothing: the line ends at the next end-of-line.
            *pixels = pos;
            return ccittSkipToEol(bits) ? LineEnd::Eol : LineEnd::EndOfData;
        }
    }
}

}  // namespace

Status readFax(FILE* stream, LoadRequest* request) {
    uint64_t size = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : MAX_FILE_BYTES;
    if (size > MAX_FILE_BYTES) size = MAX_FILE_BYTES;
    Buffer data = allocBuffer(size);
    if (!data) return ST_NO_MEMORY;
    size_t got = fread(data.get(), 1, static_cast<size_t>(size), stream);

    CcittBitReader bits;
    bits.reset(data.get(), got);
    // The page starts after its first end-of-line code; data without one is no fax.
    if (!ccittSkipToEol(&bits)) return ST_UNKNOWN_FORMAT;

    Buffer lines = allocBuffer(static_cast<uint64_t>(MAX_LINES) * LINE_BYTES);
    if (!lines) return ST_NO_MEMORY;
    int32_t count = 0;
    int empty = 0;
    while (count < MAX_LINES) {
        uint8_t* line = lines.get() + static_cast<size_t>(count) * LINE_BYTES;
        memset(line, 0xFF, LINE_BYTES);
        int32_t pixels = 0;
        LineEnd end = decodeLine(&bits, line, &pixels);
        if (pixels > 0) {
            ++count;
            empty = 0;
        } else if (end == LineEnd::Eol && ++empty >= EMPTY_LINES_AT_END) {
            break;  // the end of the page
        }
        if (end == LineEnd::EndOfData) break;
    }
    if (count == 0) return ST_UNKNOWN_FORMAT;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = PAGE_WIDTH;
    rh.height = count;
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = LINE_BYTES;
    setRasterName(rh.name, NAME);
    rh.compression = "CCITT G3";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    for (int32_t y = 0; y < count && st == ST_OK; ++y) {
        st = deliverRow(lines.get() + static_cast<size_t>(y) * LINE_BYTES, LINE_BYTES, y);
    }
    endImage(0, 8, nullptr);  // a set bit is white
    return st;
}
