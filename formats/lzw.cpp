// The LZW coder of GIF image data (also used by HRU).
//
// Decoding: a code of `width` bits is read least significant bit first from
// the sub-blocks. Codes below the clear code are pixel values; the clear code
// (2^min) empties the dictionary, the end code (clear + 1) ends the data, and
// every other code names a string of the dictionary, which grows by one entry
// (the previous string plus the first pixel of this one) per code read. The
// code width grows from min + 1 bits to at most 12 as the dictionary fills.
//
// Encoding: 8-bit pixels, codes of 9 bits growing to 12; the dictionary is a
// tree whose nodes are the strings, the extensions of one string held as a
// binary search tree ordered by their last byte.
#include "lzw.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stream.h"

namespace {

constexpr int MAX_CODES = 4096;
constexpr int MAX_WIDTH = 12;

struct DecoderTables {
    uint16_t prefix[MAX_CODES];
    uint8_t suffix[MAX_CODES];
    uint8_t stack[MAX_CODES];
};

// Reads codes across the sub-blocks of one image.
class CodeReader {
public:
    explicit CodeReader(ByteCursor* in) : in_(in) {}

    // The next code of `width` bits, or -1 when the data end (see end()).
    int read(int width) {
        while (bits_ < width) {
            if (left_ == 0) {
                int length = in_->next();
                if (length < 0) return stop(LzwEnd::EndOfInput);
                if (length == 0) {
                    terminated_ = true;
                    return stop(LzwEnd::EndOfData);
                }
                left_ = length;
            }
            int b = in_->next();
            if (b < 0) return stop(LzwEnd::EndOfInput);
            --left_;
            acc_ |= static_cast<uint32_t>(b) << bits_;
            bits_ += 8;
        }
        int code = static_cast<int>(acc_ & ((1u << width) - 1));
        acc_ >>= width;
        bits_ -= width;
        return code;
    }

    LzwEnd end() const { return end_; }

    // Moves past the rest of the image's sub-blocks.
    void drain() {
        if (terminated_ || end_ == LzwEnd::EndOfInput) return;
        for (; left_ > 0; --left_)
            if (in_->next() < 0) return;
        lzwSkipSubBlocks(in_);
    }

private:
    int stop(LzwEnd why) {
        end_ = why;
        return -1;
    }

    ByteCursor* in_;
    int left_ = 0;        // bytes left in the current sub-block
    uint32_t acc_ = 0;    // bit accumulator
    int bits_ = 0;        // valid bits in acc_
    bool terminated_ = false;
    LzwEnd end_ = LzwEnd::Complete;
};

// Assembles pixels into rows and hands them over.
class RowAssembler {
public:
    RowAssembler(const LzwImage& image, uint8_t* row, LzwRowFn deliver, void* datum)
        : image_(image), row_(row), deliver_(deliver), datum_(datum) {}

    // Adds one pixel; false when decoding must end (all rows done, or the receiver stopped).
    bool put(uint8_t pixel) {
        row_[x_++] = pixel;
        if (x_ < image_.width) return true;
        x_ = 0;
        if (!hand()) return false;
        return rows_ < image_.height;
    }

    // The data ended inside a row: it is handed over with its missing pixels 0.
    void finishPartial() {
        if (x_ == 0 || rows_ >= image_.height) return;
        memset(row_ + x_, 0, static_cast<size_t>(image_.width - x_));
        x_ = 0;
        hand();
    }

    bool complete() const { return rows_ >= image_.height; }
    int32_t rows() const { return rows_; }
    Status status() const { return status_; }

private:
    bool hand() {
        int32_t target = image_.interlaced ? lzwInterlacedRow(rows_, image_.height) : rows_;
        ++rows_;
        if (!deliver_) return true;
        status_ = deliver_(datum_, row_, target);
        return status_ == ST_OK;
    }

    const LzwImage& image_;
    uint8_t* row_;
    LzwRowFn deliver_;
    void* datum_;
    int32_t x_ = 0;
    int32_t rows_ = 0;
    Status status_ = ST_OK;
};

}  // namespace

Status lzwOutcomeStatus(const LzwOutcome& outcome) {
    switch (outcome.end) {
    case LzwEnd::Complete: return ST_OK;
    case LzwEnd::EndOfInput: return ST_READ_ERROR;
    case LzwEnd::EndOfData:
    case LzwEnd::BadCode: return ST_CORRUPT;
    case LzwEnd::Stopped: return ST_STOPPED;
    }
    return ST_CORRUPT;
}

int32_t lzwInterlacedRow(int32_t i, int32_t height) {
    if (height < 1) return 0;
    const int32_t a = (height - 1) / 8, b = (height - 1) / 4, c = (height - 1) / 2;
    int32_t row;
    if (i <= a) row = i * 8;
    else if (i <= b) row = (i - a) * 8 - 4;
    else if (i <= c) row = (i - b) * 4 - 2;
    else row = (i - c) * 2 - 1;
    if (row < 0) return 0;
    return row < height ? row : height - 1;
}

bool lzwSkipSubBlocks(ByteCursor* in) {
    for (;;) {
        int length = in->next();
        if (length < 0) return false;
        if (length == 0) return true;
        for (int i = 0; i < length; ++i)
            if (in->next() < 0) return false;
    }
}

Status lzwDecode(ByteCursor* in, const LzwImage& image, uint8_t* row, LzwRowFn deliver, void* datum,
                 LzwOutcome* outcome) {
    *outcome = LzwOutcome{};
    if (image.minCodeSize < LZW_MIN_CODE_SIZE || image.minCodeSize > LZW_MAX_CODE_SIZE || image.width < 1 ||
        image.height < 1)
        return ST_CORRUPT;
    Buffer storage = allocBuffer(sizeof(DecoderTables));
    if (!storage) return ST_NO_MEMORY;
    DecoderTables* t = reinterpret_cast<DecoderTables*>(storage.get());

    // The pixels need a row even when nobody receives it.
    Buffer ownRow;
    if (!row) {
        ownRow = allocBuffer(static_cast<uint64_t>(image.width));
        if (!ownRow) return ST_NO_MEMORY;
        row = ownRow.get();
    }

    const int clear = 1 << image.minCodeSize;
    const int endCode = clear + 1;
    const int firstFree = clear + 2;
    int width = image.minCodeSize + 1;
    int limit = 1 << width;
    int next = firstFree;
    int prev = 0;           // a stream that does not begin with a clear code starts from here
    uint8_t first = 0;      // first pixel of the last string

    CodeReader reader(in);
    RowAssembler rows(image, row, deliver, datum);
    LzwEnd end = LzwEnd::Complete;
    bool going = true;
    while (going) {
        int code = reader.read(width);
        if (code < 0) {
            end = reader.end();
            break;
        }
        if (code == endCode) {
            end = LzwEnd::EndOfData;
            break;
        }
        if (code == clear) {
            width = image.minCodeSize + 1;
            limit = 1 << width;
            next = firstFree;
            do {
                code = reader.read(width);
            } while (code == clear);
            if (code < 0) {
                end = reader.end();
                break;
            }
            if (code == endCode) {
                end = LzwEnd::EndOfData;
                break;
            }
            if (code >= firstFree) code = 0;
            prev = code;
            first = static_cast<uint8_t>(code);
            going = rows.put(first);
            continue;
        }
        if (code > next) {
            end = LzwEnd::BadCode;
            break;
        }

        // Walk the string from its last pixel back to its first, onto the stack.
        int sp = 0;
        int c = code;
        if (code == next) {  // the string being defined: previous string + its own first pixel
            t->stack[sp++] = first;
            c = prev;
        }
        while (c >= firstFree && sp < MAX_CODES - 1) {
            t->stack[sp++] = t->suffix[c];
            c = t->prefix[c];
        }
        if (c >= firstFree) {  // cannot happen with a sound dictionary; never loop on one
            end = LzwEnd::BadCode;
            break;
        }
        t->stack[sp++] = static_cast<uint8_t>(c);
        first = static_cast<uint8_t>(c);

        if (next < limit) {
            t->prefix[next] = static_cast<uint16_t>(prev);
            t->suffix[next] = first;
            ++next;
        }
        if (next >= limit && width < MAX_WIDTH) {
            limit <<= 1;
            ++width;
        }
        prev = code;

        while (sp > 0 && going) going = rows.put(t->stack[--sp]);
    }

    if (rows.status() != ST_OK) {
        outcome->end = LzwEnd::Stopped;
        outcome->rows = rows.rows();
        return rows.status();
    }
    if (!rows.complete()) {
        rows.finishPartial();
        if (rows.status() != ST_OK) {
            outcome->end = LzwEnd::Stopped;
            outcome->rows = rows.rows();
            return rows.status();
        }
        outcome->end = end == LzwEnd::Complete ? LzwEnd::EndOfData : end;
    } else {
        outcome->end = LzwEnd::Complete;
    }
    outcome->rows = rows.rows();
    if (outcome->end != LzwEnd::EndOfInput) reader.drain();
    return ST_OK;
}

// ---- Encoding ----------------------------------------------------------------

namespace {

constexpr int ENC_CLEAR = 256;
constexpr int ENC_END = 257;
constexpr int ENC_FIRST_FREE = 258;
constexpr int ENC_LAST_CODE = 4095;
constexpr uint16_t NO_NODE = 0xFFFF;
constexpr int BLOCK_BITS = 2040;  // 255 bytes: the length byte and 254 data bytes

}  // namespace

// Node i is the string of code i; nodes 0..255 are the one-pixel roots.
struct LzwEncoder::Dictionary {
    uint8_t byte[MAX_CODES];       // last pixel of the string
    uint16_t lesser[MAX_CODES];    // sibling with a smaller last pixel
    uint16_t greater[MAX_CODES];   // sibling with a larger last pixel
    uint16_t firstExt[MAX_CODES];  // root of the tree of this string's extensions
};

LzwEncoder::~LzwEncoder() { free(dict_); }

void LzwEncoder::resetDictionary() {
    for (int i = 0; i < 256; ++i) {
        dict_->byte[i] = static_cast<uint8_t>(i);
        dict_->lesser[i] = dict_->greater[i] = dict_->firstExt[i] = NO_NODE;
    }
    nextCode_ = ENC_FIRST_FREE;
    width_ = 9;
}

Status LzwEncoder::begin() {
    if (!dict_) dict_ = static_cast<Dictionary*>(calloc(1, sizeof(Dictionary)));
    if (!dict_) {
        fputs("can't allocate heap\n", stdout);
        return ST_NO_MEMORY;
    }
    resetDictionary();
    current_ = -1;
    memset(block_, 0, sizeof block_);
    bitPos_ = 8;
    failed_ = false;
    const uint8_t codeSize = 8;
    if (!out_->write(&codeSize, 1)) failed_ = true;
    flush();
    emit(ENC_CLEAR);
    return failed_ ? ST_WRITE_ERROR : ST_OK;
}

// Places the low `n` bits of v at the current bit position.
static inline void putBits(uint8_t* block, int* bitPos, uint32_t v, int n) {
    while (n > 0) {
        int at = *bitPos & 7;
        int take = 8 - at < n ? 8 - at : n;
        block[*bitPos >> 3] = static_cast<uint8_t>(block[*bitPos >> 3] | ((v & ((1u << take) - 1)) << at));
        v >>= take;
        n -= take;
        *bitPos += take;
    }
}

void LzwEncoder::emit(uint32_t code) {
    int n = width_;
    if (bitPos_ + n > BLOCK_BITS) {
        // Complete the last byte with the code's lowest bits, then start a new block.
        int k = (8 - (bitPos_ & 7)) & 7;
        putBits(block_, &bitPos_, code, k);
        code >>= k;
        n -= k;
        int length = bitPos_ / 8 - 1;
        block_[0] = static_cast<uint8_t>(length);
        if (length != 0 && !out_->write(block_, static_cast<size_t>(length) + 1)) failed_ = true;
        memset(block_, 0, sizeof block_);
        bitPos_ = 8;
    }
    putBits(block_, &bitPos_, code, n);
}

void LzwEncoder::flush() {
    int k = (8 - (bitPos_ & 7)) & 7;
    putBits(block_, &bitPos_, 0xFF, k);  // padding bits are 1
    int length = bitPos_ / 8 - 1;
    block_[0] = static_cast<uint8_t>(length);
    if (length != 0 && !out_->write(block_, static_cast<size_t>(length) + 1)) failed_ = true;
    memset(block_, 0, sizeof block_);
    bitPos_ = 8;
}

Status LzwEncoder::add(const uint8_t* pixels, size_t n) {
    if (!dict_) return ST_NO_MEMORY;
    Dictionary& d = *dict_;
    size_t i = 0;
    if (current_ < 0 && n > 0) current_ = pixels[i++];
    for (; i < n; ++i) {
        const uint8_t c = pixels[i];
        uint16_t* slot = &d.firstExt[current_];
        bool found = false;
        while (*slot != NO_NODE) {
            const uint16_t node = *slot;
            if (d.byte[node] == c) {
                current_ = node;
                found = true;
                break;
            }
            slot = c < d.byte[node] ? &d.lesser[node] : &d.greater[node];
        }
        if (found) continue;

        const int code = nextCode_;
        d.byte[code] = c;
        d.lesser[code] = d.greater[code] = d.firstExt[code] = NO_NODE;
        *slot = static_cast<uint16_t>(code);
        emit(static_cast<uint32_t>(current_));
        if ((1 << width_) - 1 < code) ++width_;
        if (code >= ENC_LAST_CODE) {
            for (int r = 0; r < 256; ++r) d.firstExt[r] = NO_NODE;
            emit(ENC_CLEAR);
            width_ = 9;
            nextCode_ = ENC_FIRST_FREE;
        } else {
            ++nextCode_;
        }
        current_ = c;
    }
    return failed_ ? ST_WRITE_ERROR : ST_OK;
}

Status LzwEncoder::finish() {
    if (!dict_) return ST_NO_MEMORY;
    if (current_ < 0) {
        fputs("premature end of data\n", stdout);
        return ST_CORRUPT;
    }
    emit(static_cast<uint32_t>(current_));
    emit(ENC_END);
    flush();
    const uint8_t terminator = 0;
    if (!out_->write(&terminator, 1)) failed_ = true;
    return failed_ ? ST_WRITE_ERROR : ST_OK;
}
