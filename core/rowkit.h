// Row helpers for codecs: moving whole file rows between a stream and the
// scanline pipeline, so that a reader or a writer only describes its rows and
// says how one row is coded.
//
// Reading. After beginImage, rows go to the core in file order (row 0 is the
// first row stored; the core turns bottom-up files over by the header's
// orientation). Three levels, from the simplest:
//
//   Straight rows, each stored as rowBytes bytes (padding included):
//
//       Status st = beginImage(&rh);
//       if (st != ST_OK) return st;
//       st = readRows(f, paddedRowBytes, rh.height);   // short read: ST_READ_ERROR
//       endImage(PF_BGR, 8, palette);
//       return st;
//
//   Straight rows that need a touch first (byte order, bit fields, a fourth
//   byte to clear): a RowFilter writes the delivered row from the stored one.
//
//       void swapWords(const void* data, const uint8_t* stored, uint8_t* out) {
//           const int32_t width = *static_cast<const int32_t*>(data);
//           for (int32_t x = 0; x < width; ++x) { out[2*x] = stored[2*x+1]; out[2*x+1] = stored[2*x]; }
//       }
//       st = readRows(f, 2 * width, height, -1, swapWords, &width);
//
//   Decoded data that runs on from row to row (run-length packets): a RowFeed
//   collects bytes and delivers each row as soon as it is full.
//
//       Status readPackedRows(FILE* f, int64_t rowBytes, int32_t rows) {  // endImage follows
//           RowFeed feed;
//           Status st = feed.begin(rowBytes, rows);
//           while (st == ST_OK && !feed.done()) {
//               int c = getc(f), v;
//               if (c == EOF) return feed.cut();              // keeps the row begun; ST_READ_ERROR
//               if (c < 0xC0) st = feed.put(uint8_t(c));      // a literal byte
//               else if ((v = getc(f)) == EOF) return feed.cut();
//               else st = feed.repeat(uint8_t(v), c & 0x3F);  // a run, into the next rows if need be
//           }
//           return st;
//       }
//
//   Decoders that place pixels themselves (explicit end-of-row codes, strips,
//   tiles) hand each finished row over with deliverRow.
//
// Writing. After beginWrite, writeRows fetches every row in file order, pads it
// with zeros to the stored length and writes it, or passes it to a RowEncoder:
//
//       Status packRow(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
//           auto* out = static_cast<uint8_t*>(data);
//           size_t n = myEncode(row, rowBytes, out);
//           return writeBlock(f, out, n) ? ST_OK : ST_WRITE_ERROR;
//       }
//       Status st = beginWrite(&wh);
//       if (st != ST_OK) return st;
//       st = writeRows(f, paddedRowBytes, height, rle ? packRow : nullptr, encoded.get());
//       endWrite();
//
// fetchRow gives one row for writers that loop themselves.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>

#include "codec.h"
#include "kaleocore.h"
#include "stream.h"

// ---- Reading ----------------------------------------------------------------

// Copies rowBytes bytes of row (no more than the file row length the core
// expects: fileRowLength()) into the core's row buffer and delivers it as row
// fileRow in file order, of plane for PL_CHANNEL_PLANES rasters (-1 otherwise).
// Returns putRows' status: ST_OK or ST_STOPPED.
Status deliverRow(const uint8_t* row, int64_t rowBytes, int32_t fileRow, int plane = -1);

// Turns one stored row into the row the core expects, fileRowLength() bytes
// written at out (the core's row buffer). data is the reader's own.
using RowFilter = void (*)(const void* data, const uint8_t* stored, uint8_t* out);

// How many of the rows left from row (the next one) one read may put straight
// into the picture: those that follow one another there (directRun), up to
// 1 MiB, at least one; 0 when row cannot be placed directly.
int32_t directReadRun(int32_t row, int64_t rowBytes, int32_t rowsLeft);

// Reads rows rows of rowBytes bytes each (padding included) and delivers them
// as rows 0, 1, ... of plane, through filter when one is given. A short read
// stops with ST_READ_ERROR, the whole rows before it delivered; a stopped
// delivery returns ST_STOPPED; ST_NO_MEMORY when the row cannot be allocated.
Status readRows(FILE* f, int64_t rowBytes, int32_t rows, int plane = -1, RowFilter filter = nullptr,
                const void* data = nullptr);

// Collects decoded bytes into rows of rowBytes bytes and delivers each as it
// fills, in file order. Every row starts zeroed. Bytes offered once the last
// row is delivered are dropped. The put calls return the status of the
// deliveries they made (ST_OK or ST_STOPPED).
class RowFeed {
public:
    // Room for rows rows of rowBytes bytes, delivered to plane (-1: interleaved).
    Status begin(int64_t rowBytes, int32_t rows, int plane = -1);

    Status put(uint8_t v) {
        if (next_ >= rows_) return ST_OK;
        row_[filled_++] = v;
        return filled_ < rowBytes_ ? ST_OK : rowFull();
    }
    Status put(const uint8_t* p, int64_t n) { return p ? place(p, 0, n) : ST_OK; }
    // n copies of v, running on into the following rows.
    Status repeat(uint8_t v, int64_t n) { return place(nullptr, v, n); }

    // For reading straight into the row: where the next byte goes and, in
    // *room, how many bytes the row still takes; advance(n) then counts the n
    // bytes placed there (n <= room) and delivers the row when it is full.
    uint8_t* space(int64_t* room);
    Status advance(int64_t n);

    // The data ended early: delivers the row begun when any byte of it was
    // placed, then returns why (or the delivery's ST_STOPPED).
    Status cut(Status why = ST_READ_ERROR);

    bool done() const { return next_ >= rows_; }
    int32_t rowsDelivered() const { return next_; }

private:
    Status place(const uint8_t* p, uint8_t v, int64_t n);
    Status rowFull();

    Buffer row_;
    int64_t rowBytes_ = 0;
    int64_t filled_ = 0;
    int32_t rows_ = 0;
    int32_t next_ = 0;
    int plane_ = -1;
};

// Reads a stream ahead in large blocks for decoders that take it a few bytes
// at a time (packets, opcodes, bit fields) and never seek while they do.
class ChunkReader {
public:
    explicit ChunkReader(FILE* f) : f_(f) {}
    // The next byte, or -1 at the end of the data.
    int get() { return at_ < end_ || fill() ? buf_[at_++] : -1; }
    // Copies n bytes; false (with fewer copied) at the end of the data.
    bool read(uint8_t* dst, size_t n) {
        while (n > 0) {
            if (at_ == end_ && !fill()) return false;
            const size_t k = n < end_ - at_ ? n : end_ - at_;
            for (size_t i = 0; i < k; ++i) dst[i] = buf_[at_ + i];
            at_ += k;
            dst += k;
            n -= k;
        }
        return true;
    }
    // Skips n bytes; false at the end of the data.
    bool skip(uint64_t n) {
        while (n > 0) {
            if (at_ == end_ && !fill()) return false;
            const size_t k = n < end_ - at_ ? static_cast<size_t>(n) : end_ - at_;
            at_ += k;
            n -= k;
        }
        return true;
    }

private:
    bool fill() {
        at_ = 0;
        end_ = fread(buf_, 1, sizeof buf_, f_);
        return end_ > 0;
    }
    FILE* f_;
    size_t at_ = 0, end_ = 0;
    uint8_t buf_[1 << 14];
};

// ---- Writing ----------------------------------------------------------------

// Fetches file row fileRow (-1: the next one) through getRows into row: the
// packed row, cut to rowBytes, then zeros up to rowBytes. ST_OK or ST_STOPPED.
Status fetchRow(int32_t fileRow, uint8_t* row, int64_t rowBytes);

// Stores one fetched row of rowBytes bytes (which it may change in place):
// encodes and writes it, returning ST_OK or ST_WRITE_ERROR.
using RowEncoder = Status (*)(void* data, FILE* f, uint8_t* row, int64_t rowBytes);

// Fetches rows rows in file order, each padded with zeros to rowBytes, and
// writes them as they are or through encode. Returns ST_OK, ST_WRITE_ERROR,
// ST_STOPPED or ST_NO_MEMORY; the caller still calls endWrite.
Status writeRows(FILE* f, int64_t rowBytes, int32_t rows, RowEncoder encode = nullptr, void* data = nullptr);

// ---- Bit order ----------------------------------------------------------------

// Reverses the order of the pixel fields of bits bits (1, 2 or 4; 8 leaves the
// bytes alone) within each of n bytes: for files that keep the leftmost pixel
// in the least significant bits, since rows reach the core leftmost first.
void reversePixelFields(uint8_t* p, int64_t n, int bits);

// The 16 colours of the PC's CGA and EGA screens, R,G,B: the palette of
// files that store indexes without a colour map of their own.
extern const uint8_t PC_COLOURS_16[48];

// ---- File names ---------------------------------------------------------------

// The lower-cased extension of a file name ("" without one), cut to room - 1
// characters: for readers of formats without a signature that go by it.
void extensionOf(const char* name, char* ext, size_t room);

// ---- Embedded pictures ---------------------------------------------------------

// Runs a reader on n bytes held in memory (a picture another file embeds) as
// on a file of their own: the request's size is theirs for the call, and the
// reader's message and page count come back in request.
Status readFromMemory(const uint8_t* bytes, size_t n, LoadRequest* request,
                      const std::function<Status(FILE*, LoadRequest*)>& reader);
