// CCITT fax decoding: the code tables of ITU-T T.4 (white and black runs,
// the make-up codes common to both colours, the end-of-line code and the
// two-dimensional mode codes), a bit reader over memory, and the decoder of
// bi-level rows coded with modified Huffman, Group 3 one- and two-dimensional
// coding and Group 4. Used by the TIFF reader (compressions 2, 3 and 4) and,
// for its tables and bit reader, by the raw Group 3 fax reader.
//
// Decoded rows hold one bit per pixel, most significant bit first, with 1 for
// white and 0 for black.
#pragma once
#include <cstddef>
#include <cstdint>

#include "status.h"

// What a code word means.
enum CcittState : uint8_t {
    CCITT_INVALID = 0,
    CCITT_PASS = 1,
    CCITT_HORIZONTAL = 2,
    CCITT_VERTICAL_0 = 3,
    CCITT_VERTICAL_RIGHT = 4,   // parameter: offset 1..3
    CCITT_VERTICAL_LEFT = 5,    // parameter: offset 1..3
    CCITT_EXTENSION = 6,        // uncompressed mode, not supported
    CCITT_WHITE_TERM = 7,       // parameter: run 0..63
    CCITT_BLACK_TERM = 8,
    CCITT_WHITE_MAKEUP = 9,     // parameter: run 64..1728
    CCITT_BLACK_MAKEUP = 10,
    CCITT_COMMON_MAKEUP = 11,   // parameter: run 1792..2560
    CCITT_EOL = 12,
};

struct CcittCode {
    uint8_t state;
    uint8_t length;   // bits of the code word
    uint16_t param;
};

// Bits looked at by each table, most significant first.
constexpr int CCITT_WHITE_BITS = 12;
constexpr int CCITT_BLACK_BITS = 13;
constexpr int CCITT_MODE_BITS = 7;

// The code that the next bits start with (peeked with the table's width).
const CcittCode& ccittWhiteCode(uint32_t next12);
const CcittCode& ccittBlackCode(uint32_t next13);
const CcittCode& ccittModeCode(uint32_t next7);

// Reads bits most significant first from memory; past the end it reads zeros.
class CcittBitReader {
public:
    void reset(const uint8_t* data, size_t size) {
        data_ = data;
        totalBits_ = static_cast<uint64_t>(size) * 8;
        pos_ = 0;
    }
    // The next n bits (1..24) without consuming them.
    uint32_t peek(int n) const {
        uint64_t byte = pos_ >> 3;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byteAt(byte + i);
        return (v << (pos_ & 7)) >> (32 - n);
    }
    void skip(int n) { pos_ += static_cast<uint64_t>(n); }
    // Moves to the next byte boundary.
    void alignToByte() { pos_ = (pos_ + 7) & ~uint64_t{7}; }
    bool atEnd() const { return pos_ >= totalBits_; }
    uint64_t position() const { return pos_; }
    uint64_t bitsLeft() const { return pos_ >= totalBits_ ? 0 : totalBits_ - pos_; }

private:
    uint32_t byteAt(uint64_t i) const { return i < (totalBits_ >> 3) ? data_[i] : 0; }
    const uint8_t* data_ = nullptr;
    uint64_t totalBits_ = 0;
    uint64_t pos_ = 0;
};

// Consumes an end-of-line code (eleven or more 0 bits and a 1) when the bits
// start with one; true when it did.
bool ccittTakeEol(CcittBitReader* bits);
// Discards bits up to and including the next end-of-line code; false when the
// data end first.
bool ccittSkipToEol(CcittBitReader* bits);

// Reverses the bit order of every byte (data stored least significant bit first).
void ccittReverseBits(uint8_t* data, size_t size);

enum class CcittCoding : uint8_t {
    ModifiedHuffman,  // one-dimensional rows, each starting on a byte boundary, no EOL codes
    Group3OneD,       // each row after an EOL code
    Group3TwoD,       // each row after an EOL code and a tag bit (1: one-dimensional row)
    Group4,           // two-dimensional rows, the first against an all-white row
};

// How one row came out.
enum class CcittRow : uint8_t {
    Ok,          // decoded whole
    Repaired,    // a bad code or a wrong length: the row was completed and the data go on
    Premature,   // the data ended inside the row (or before it): the row was completed
    EndOfBlock,  // Group 4 end-of-block mark where a row starts: no row, decoding ends
};

// The decoder of one file's rows. init() once per file, beginStrip() for each
// strip or tile, then decodeRow() for each row.
class CcittDecoder {
public:
    CcittDecoder() = default;
    ~CcittDecoder();
    CcittDecoder(const CcittDecoder&) = delete;
    CcittDecoder& operator=(const CcittDecoder&) = delete;

    // Allocates the run arrays for rows of `width` pixels: ST_OK or ST_NO_MEMORY.
    Status init(int32_t width, CcittCoding coding);
    // Starts on the data of one strip (most significant bit first; reverse the
    // bytes of fill order 2 data first); the reference row becomes all white.
    void beginStrip(const uint8_t* data, size_t size);
    // Decodes the next row into `row` ((width + 7) / 8 bytes).
    CcittRow decodeRow(uint8_t* row);

    // Diagnostic lines ("Fax3 : Bad code word...") go to the error stream when set.
    void setVerbose(bool verbose) { verbose_ = verbose; }
    int32_t width() const { return width_; }

private:
    enum class RunEnd : uint8_t { Run, Eol, Invalid, NoData };
    RunEnd readRun(bool black, int32_t* run);
    CcittRow decodeOneD(int32_t* count, int32_t* a0);
    CcittRow decodeTwoD(int32_t* count, int32_t* a0);
    bool mendLength(int32_t* count, int32_t a0);
    bool addChange(int32_t* count, int32_t position);
    void fillRow(int32_t count, uint8_t* row) const;
    void message(const char* text) const;

    int32_t width_ = 0;
    CcittCoding coding_ = CcittCoding::Group4;
    CcittBitReader bits_;
    int32_t* current_ = nullptr;    // changing elements of the row being decoded
    int32_t* reference_ = nullptr;  // changing elements of the row above, then sentinels
    int32_t referenceCount_ = 0;
    int32_t capacity_ = 0;          // changing elements a row may hold
    bool eolSeen_ = false;          // an EOL was consumed inside the last row
    bool verbose_ = false;
};
