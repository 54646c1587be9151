// The variable-length LZW coder of GIF image data, shared by the GIF and HRU
// codecs. Both store their pixels the same way: a minimum code size byte, then
// the codes packed least significant bit first into sub-blocks (a length byte
// 1..255 and that many bytes), ended by a zero-length sub-block.
//
// The coder never touches a file: the decoder reads from a ByteCursor and the
// encoder writes to a ByteSink, so a codec can feed it from a stream, from
// memory or from anything else.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "status.h"

// A forward-only source of bytes.
class ByteCursor {
public:
    // The next byte (0..255), or -1 when there is none.
    virtual int next() = 0;

protected:
    ~ByteCursor() = default;
};

// The bytes of a bounded part of a stream (a chunk, a channel's data), read
// up to its end; a file that ends first is told apart from data that simply
// run out.
class StreamCursor final : public ByteCursor {
public:
    StreamCursor(FILE* f, uint64_t length) : f_(f), left_(length) {}
    int next() override {
        if (left_ == 0) return -1;
        int c = getc(f_);
        if (c == EOF) {
            endOfFile_ = true;
            left_ = 0;
            return -1;
        }
        --left_;
        return c;
    }
    // Reads up to n bytes; returns how many came.
    size_t read(uint8_t* dst, size_t n) {
        size_t want = n < left_ ? n : static_cast<size_t>(left_);
        size_t got = fread(dst, 1, want, f_);
        left_ -= got;
        if (got < want) {
            endOfFile_ = true;
            left_ = 0;
        }
        return got;
    }
    // The file ended before the part did.
    bool endOfFile() const { return endOfFile_; }
    // The status of data that ended early: the file was cut, or the part is too short.
    Status shortStatus() const { return endOfFile_ ? ST_READ_ERROR : ST_CORRUPT; }

private:
    FILE* f_;
    uint64_t left_;
    bool endOfFile_ = false;
};

// Bytes held in memory.
class MemoryCursor final : public ByteCursor {
public:
    MemoryCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int next() override { return pos_ < size_ ? data_[pos_++] : -1; }
    size_t position() const { return pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A whole stream from its current position.
class FileCursor final : public ByteCursor {
public:
    explicit FileCursor(FILE* f) : f_(f) {}
    int next() override { return getc(f_); }

private:
    FILE* f_;
};

// A destination of bytes.
class ByteSink {
public:
    // False when the bytes could not all be written.
    virtual bool write(const uint8_t* data, size_t size) = 0;

protected:
    ~ByteSink() = default;
};

// Writes to a stream.
class FileSink final : public ByteSink {
public:
    explicit FileSink(FILE* f) : f_(f) {}
    bool write(const uint8_t* data, size_t size) override { return fwrite(data, 1, size, f_) == size; }

private:
    FILE* f_;
};

// ---- Decoding ----------------------------------------------------------------

constexpr int LZW_MIN_CODE_SIZE = 2;
constexpr int LZW_MAX_CODE_SIZE = 11;  // codes never pass 12 bits

// One image's data as the decoder needs it.
struct LzwImage {
    int minCodeSize;   // LZW_MIN_CODE_SIZE..LZW_MAX_CODE_SIZE (GIF and HRU accept 2..9)
    int32_t width;     // pixels of a row, at least 1
    int32_t height;    // rows, at least 1
    bool interlaced;   // rows arrive in the four interlace passes
};

// Receives a completed row (width bytes) and the image row it belongs to.
// A status other than ST_OK ends decoding and is returned by lzwDecode.
using LzwRowFn = Status (*)(void* datum, const uint8_t* row, int32_t target);

// How the data ended.
enum class LzwEnd : uint8_t {
    Complete,      // every row was decoded
    EndOfInput,    // the cursor ran dry (a truncated file)
    EndOfData,     // the end code or the zero-length sub-block came before the last row
    BadCode,       // a code beyond the next free one (corrupt data)
    Stopped,       // the row receiver asked to stop
};

struct LzwOutcome {
    LzwEnd end = LzwEnd::Complete;
    int32_t rows = 0;  // rows handed to the receiver, a final partial row included
};

// Decodes one image from the sub-blocks that follow the minimum code size byte.
// Rows are assembled in `row` (width bytes at least) and handed to `deliver`;
// a null `deliver` only walks the data. When the data end inside a row, that
// partial row is still handed over, its missing pixels 0. Afterwards the cursor
// stands after the image's zero-length sub-block (or at the end of the input):
// whatever the data held after the last row is skipped. Returns ST_OK (the
// outcome tells how the data ended), ST_NO_MEMORY, or the receiver's status.
Status lzwDecode(ByteCursor* in, const LzwImage& image, uint8_t* row, LzwRowFn deliver, void* datum,
                 LzwOutcome* outcome);

// How the data ended, as a reader status: ST_OK when complete, ST_READ_ERROR
// for a file cut short, ST_CORRUPT for data that end early or hold a bad
// code, ST_STOPPED.
Status lzwOutcomeStatus(const LzwOutcome& outcome);

// The image row of the i-th decoded row (0-based) of an interlaced image of
// `height` rows: passes of every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1.
int32_t lzwInterlacedRow(int32_t i, int32_t height);

// Skips sub-blocks up to and including the zero-length one. False when the
// input ends first.
bool lzwSkipSubBlocks(ByteCursor* in);

// ---- Encoding ----------------------------------------------------------------

// Encodes 8-bit pixels: writes the minimum code size byte 8, the codes (9 to 12
// bits, clear code 256, end code 257, a clear code whenever the dictionary is
// full) in sub-blocks of at most 254 bytes, and the zero-length sub-block.
class LzwEncoder {
public:
    explicit LzwEncoder(ByteSink* out) : out_(out) {}
    ~LzwEncoder();
    LzwEncoder(const LzwEncoder&) = delete;
    LzwEncoder& operator=(const LzwEncoder&) = delete;

    // Allocates the dictionary and writes the code size byte and the first clear code.
    Status begin();
    // Encodes n more pixels.
    Status add(const uint8_t* pixels, size_t n);
    // Emits the last string and the end code, flushes, writes the terminator.
    Status finish();

private:
    struct Dictionary;
    void emit(uint32_t code);
    void flush();
    void resetDictionary();

    ByteSink* out_;
    Dictionary* dict_ = nullptr;
    int current_ = -1;       // code of the string matched so far, -1 before the first pixel
    int width_ = 9;          // bits of the next code
    int nextCode_ = 0;
    uint8_t block_[256] = {};  // byte 0 is the sub-block length
    int bitPos_ = 8;           // next free bit in block_, just past the length byte
    bool failed_ = false;      // a write failed
};
