// CCITT fax decoding.
//
// A row is kept as its changing elements: the positions where the colour
// changes, the first one from white to black. The two-dimensional modes code
// the changing elements of a row (a1, a2) against those of the row above
// (b1, b2); one-dimensional rows code the runs between them.
#include "ccitt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One code word of the tables: its bits, most significant first.
struct CodeWord {
    uint16_t bits;
    uint8_t length;
    uint16_t run;
};

// Terminating codes, runs 0 to 63.
const CodeWord WHITE_TERMINATING[64] = {
    {0x35, 8, 0},  {0x07, 6, 1},  {0x07, 4, 2},  {0x08, 4, 3},  {0x0B, 4, 4},  {0x0C, 4, 5},
    {0x0E, 4, 6},  {0x0F, 4, 7},  {0x13, 5, 8},  {0x14, 5, 9},  {0x07, 5, 10}, {0x08, 5, 11},
    {0x08, 6, 12}, {0x03, 6, 13}, {0x34, 6, 14}, {0x35, 6, 15}, {0x2A, 6, 16}, {0x2B, 6, 17},
    {0x27, 7, 18}, {0x0C, 7, 19}, {0x08, 7, 20}, {0x17, 7, 21}, {0x03, 7, 22}, {0x04, 7, 23},
    {0x28, 7, 24}, {0x2B, 7, 25}, {0x13, 7, 26}, {0x24, 7, 27}, {0x18, 7, 28}, {0x02, 8, 29},
    {0x03, 8, 30}, {0x1A, 8, 31}, {0x1B, 8, 32}, {0x12, 8, 33}, {0x13, 8, 34}, {0x14, 8, 35},
    {0x15, 8, 36}, {0x16, 8, 37}, {0x17, 8, 38}, {0x28, 8, 39}, {0x29, 8, 40}, {0x2A, 8, 41},
    {0x2B, 8, 42}, {0x2C, 8, 43}, {0x2D, 8, 44}, {0x04, 8, 45}, {0x05, 8, 46}, {0x0A, 8, 47},
    {0x0B, 8, 48}, {0x52, 8, 49}, {0x53, 8, 50}, {0x54, 8, 51}, {0x55, 8, 52}, {0x24, 8, 53},
    {0x25, 8, 54}, {0x58, 8, 55}, {0x59, 8, 56}, {0x5A, 8, 57}, {0x5B, 8, 58}, {0x4A, 8, 59},
    {0x4B, 8, 60}, {0x32, 8, 61}, {0x33, 8, 62}, {0x34, 8, 63},
};

const CodeWord BLACK_TERMINATING[64] = {
    {0x37, 10, 0},  {0x02, 3, 1},   {0x03, 2, 2},   {0x02, 2, 3},   {0x03, 3, 4},   {0x03, 4, 5},
    {0x02, 4, 6},   {0x03, 5, 7},   {0x05, 6, 8},   {0x04, 6, 9},   {0x04, 7, 10},  {0x05, 7, 11},
    {0x07, 7, 12},  {0x04, 8, 13},  {0x07, 8, 14},  {0x18, 9, 15},  {0x17, 10, 16}, {0x18, 10, 17},
    {0x08, 10, 18}, {0x67, 11, 19}, {0x68, 11, 20}, {0x6C, 11, 21}, {0x37, 11, 22}, {0x28, 11, 23},
    {0x17, 11, 24}, {0x18, 11, 25}, {0xCA, 12, 26}, {0xCB, 12, 27}, {0xCC, 12, 28}, {0xCD, 12, 29},
    {0x68, 12, 30}, {0x69, 12, 31}, {0x6A, 12, 32}, {0x6B, 12, 33}, {0xD2, 12, 34}, {0xD3, 12, 35},
    {0xD4, 12, 36}, {0xD5, 12, 37}, {0xD6, 12, 38}, {0xD7, 12, 39}, {0x6C, 12, 40}, {0x6D, 12, 41},
    {0xDA, 12, 42}, {0xDB, 12, 43}, {0x54, 12, 44}, {0x55, 12, 45}, {0x56, 12, 46}, {0x57, 12, 47},
    {0x64, 12, 48}, {0x65, 12, 49}, {0x52, 12, 50}, {0x53, 12, 51}, {0x24, 12, 52}, {0x37, 12, 53},
    {0x38, 12, 54}, {0x27, 12, 55}, {0x28, 12, 56}, {0x58, 12, 57}, {0x59, 12, 58}, {0x2B, 12, 59},
    {0x2C, 12, 60}, {0x5A, 12, 61}, {0x66, 12, 62}, {0x67, 12, 63},
};

// Make-up codes, runs 64 to 1728 by 64.
const CodeWord WHITE_MAKEUP[27] = {
    {0x1B, 5, 64},    {0x12, 5, 128},   {0x17, 6, 192},   {0x37, 7, 256},   {0x36, 8, 320},
    {0x37, 8, 384},   {0x64, 8, 448},   {0x65, 8, 512},   {0x68, 8, 576},   {0x67, 8, 640},
    {0xCC, 9, 704},   {0xCD, 9, 768},   {0xD2, 9, 832},   {0xD3, 9, 896},   {0xD4, 9, 960},
    {0xD5, 9, 1024},  {0xD6, 9, 1088},  {0xD7, 9, 1152},  {0xD8, 9, 1216},  {0xD9, 9, 1280},
    {0xDA, 9, 1344},  {0xDB, 9, 1408},  {0x98, 9, 1472},  {0x99, 9, 1536},  {0x9A, 9, 1600},
    {0x18, 6, 1664},  {0x9B, 9, 1728},
};

const CodeWord BLACK_MAKEUP[27] = {
    {0x0F, 10, 64},   {0xC8, 12, 128},  {0xC9, 12, 192},  {0x5B, 12, 256},  {0x33, 12, 320},
    {0x34, 12, 384},  {0x35, 12, 448},  {0x6C, 13, 512},  {0x6D, 13, 576},  {0x4A, 13, 640},
    {0x4B, 13, 704},  {0x4C, 13, 768},  {0x4D, 13, 832},  {0x72, 13, 896},  {0x73, 13, 960},
    {0x74, 13, 1024}, {0x75, 13, 1088}, {0x76, 13, 1152}, {0x77, 13, 1216}, {0x52, 13, 1280},
    {0x53, 13, 1344}, {0x54, 13, 1408}, {0x55, 13, 1472}, {0x5A, 13, 1536}, {0x5B, 13, 1600},
    {0x64, 13, 1664}, {0x65, 13, 1728},
};

// The extended make-up codes shared by both colours, runs 1792 to 2560.
const CodeWord COMMON_MAKEUP[13] = {
    {0x08, 11, 1792}, {0x0C, 11, 1856}, {0x0D, 11, 1920}, {0x12, 12, 1984}, {0x13, 12, 2048},
    {0x14, 12, 2112}, {0x15, 12, 2176}, {0x16, 12, 2240}, {0x17, 12, 2304}, {0x1C, 12, 2368},
    {0x1D, 12, 2432}, {0x1E, 12, 2496}, {0x1F, 12, 2560},
};

constexpr uint16_t EOL_BITS = 0x001;
constexpr int EOL_LENGTH = 12;

struct Tables {
    CcittCode white[1 << CCITT_WHITE_BITS];
    CcittCode black[1 << CCITT_BLACK_BITS];
    CcittCode mode[1 << CCITT_MODE_BITS];
};

// Places a code at every index whose leading bits are the code.
void place(CcittCode* table, int tableBits, uint32_t bits, int length, CcittState state, uint16_t param) {
    uint32_t first = bits << (tableBits - length);
    uint32_t count = 1u << (tableBits - length);
    for (uint32_t i = 0; i < count; ++i)
        table[first + i] = CcittCode{state, static_cast<uint8_t>(length), param};
}

void placeAll(CcittCode* table, int tableBits, const CodeWord* words, int n, CcittState state) {
    for (int i = 0; i < n; ++i) place(table, tableBits, words[i].bits, words[i].length, state, words[i].run);
}

Tables* buildTables() {
    static Tables t;  // zero-initialised: every index starts invalid
    placeAll(t.white, CCITT_WHITE_BITS, WHITE_TERMINATING, 64, CCITT_WHITE_TERM);
    placeAll(t.white, CCITT_WHITE_BITS, WHITE_MAKEUP, 27, CCITT_WHITE_MAKEUP);
    placeAll(t.white, CCITT_WHITE_BITS, COMMON_MAKEUP, 13, CCITT_COMMON_MAKEUP);
    place(t.white, CCITT_WHITE_BITS, EOL_BITS, EOL_LENGTH, CCITT_EOL, 0);
    placeAll(t.black, CCITT_BLACK_BITS, BLACK_TERMINATING, 64, CCITT_BLACK_TERM);
    placeAll(t.black, CCITT_BLACK_BITS, BLACK_MAKEUP, 27, CCITT_BLACK_MAKEUP);
    placeAll(t.black, CCITT_BLACK_BITS, COMMON_MAKEUP, 13, CCITT_COMMON_MAKEUP);
    place(t.black, CCITT_BLACK_BITS, EOL_BITS, EOL_LENGTH, CCITT_EOL, 0);
    // Mode codes: pass 0001, horizontal 001, V0 1, VR1 011, VR2 000011, VR3 0000011,
    // VL1 010, VL2 000010, VL3 0000010, extension 0000001.
    place(t.mode, CCITT_MODE_BITS, 0x1, 4, CCITT_PASS, 0);
    place(t.mode, CCITT_MODE_BITS, 0x1, 3, CCITT_HORIZONTAL, 0);
    place(t.mode, CCITT_MODE_BITS, 0x1, 1, CCITT_VERTICAL_0, 0);
    place(t.mode, CCITT_MODE_BITS, 0x3, 3, CCITT_VERTICAL_RIGHT, 1);
    place(t.mode, CCITT_MODE_BITS, 0x3, 6, CCITT_VERTICAL_RIGHT, 2);
    place(t.mode, CCITT_MODE_BITS, 0x3, 7, CCITT_VERTICAL_RIGHT, 3);
    place(t.mode, CCITT_MODE_BITS, 0x2, 3, CCITT_VERTICAL_LEFT, 1);
    place(t.mode, CCITT_MODE_BITS, 0x2, 6, CCITT_VERTICAL_LEFT, 2);
    place(t.mode, CCITT_MODE_BITS, 0x2, 7, CCITT_VERTICAL_LEFT, 3);
    place(t.mode, CCITT_MODE_BITS, 0x1, 7, CCITT_EXTENSION, 0);
    return &t;
}

const Tables& tables() {
    static const Tables* t = buildTables();
    return *t;
}

const char MSG_BAD_CODE[] = "Fax3 : Bad code word...\n";
const char MSG_LENGTH[] = "Fax3 : Line length mismatch...\n";
const char MSG_UNCOMPRESSED[] = "Fax3 : Uncompressed data (not supported)...\n";
const char MSG_PREMATURE[] = "Fax3 : Premature EOF...\n";

// Sentinels after the reference row's changing elements.
constexpr int32_t SENTINELS = 4;

// Clears the bits of pixels [from, to) (black) in a row of 1 bits.
void clearRange(uint8_t* row, int32_t from, int32_t to) {
    if (from >= to) return;
    int32_t firstByte = from >> 3, lastByte = (to - 1) >> 3;
    uint8_t headMask = static_cast<uint8_t>(0xFF >> (from & 7));        // bits from `from` on
    uint8_t tailMask = static_cast<uint8_t>(0xFF << (7 - ((to - 1) & 7)));  // bits up to to - 1
    if (firstByte == lastByte) {
        row[firstByte] &= static_cast<uint8_t>(~(headMask & tailMask));
        return;
    }
    row[firstByte] &= static_cast<uint8_t>(~headMask);
    if (lastByte - firstByte > 1) memset(row + firstByte + 1, 0, static_cast<size_t>(lastByte - firstByte - 1));
    row[lastByte] &= static_cast<uint8_t>(~tailMask);
}

}  // namespace

const CcittCode& ccittWhiteCode(uint32_t next12) { return tables().white[next12 & 0xFFF]; }
const CcittCode& ccittBlackCode(uint32_t next13) { return tables().black[next13 & 0x1FFF]; }
const CcittCode& ccittModeCode(uint32_t next7) { return tables().mode[next7 & 0x7F]; }

bool ccittTakeEol(CcittBitReader* bits) {
    if (bits->atEnd() || bits->peek(11) != 0) return false;
    // Eleven zeros: an EOL, perhaps after fill bits. Find its 1.
    while (!bits->atEnd()) {
        if (bits->peek(12) == EOL_BITS) {
            bits->skip(EOL_LENGTH);
            return true;
        }
        bits->skip(1);
    }
    return true;  // zeros up to the end: as good as an EOL
}

bool ccittSkipToEol(CcittBitReader* bits) {
    while (!bits->atEnd()) {
        if (bits->peek(12) == EOL_BITS) {
            bits->skip(EOL_LENGTH);
            return true;
        }
        bits->skip(1);
    }
    return false;
}

void ccittReverseBits(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = data[i];
        b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
        b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
        b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
        data[i] = b;
    }
}

CcittDecoder::~CcittDecoder() {
    free(current_);
    free(reference_);
}

Status CcittDecoder::init(int32_t width, CcittCoding coding) {
    free(current_);
    free(reference_);
    current_ = reference_ = nullptr;
    if (width < 1) return ST_CORRUPT;
    width_ = width;
    coding_ = coding;
    // A row has at most one changing element a pixel; a few more allow for
    // zero-length runs at the ends, and the reference row needs its sentinels.
    capacity_ = width + 8;
    const size_t entries = static_cast<size_t>(capacity_) + SENTINELS;
    current_ = static_cast<int32_t*>(calloc(entries, sizeof(int32_t)));
    reference_ = static_cast<int32_t*>(calloc(entries, sizeof(int32_t)));
    if (!current_ || !reference_) return ST_NO_MEMORY;
    (void)tables();
    return ST_OK;
}

void CcittDecoder::beginStrip(const uint8_t* data, size_t size) {
    bits_.reset(data, size);
    eolSeen_ = false;
    referenceCount_ = 0;
    for (int32_t i = 0; i < SENTINELS; ++i) reference_[i] = width_;
}

void CcittDecoder::message(const char* text) const {
    if (verbose_) fputs(text, stderr);
}

bool CcittDecoder::addChange(int32_t* count, int32_t position) {
    if (*count >= capacity_) return false;
    current_[(*count)++] = position;
    return true;
}

// Reads the codes of one run of the given colour: make-up codes add up until
// a terminating code ends the run.
CcittDecoder::RunEnd CcittDecoder::readRun(bool black, int32_t* run) {
    int32_t sum = 0;
    for (;;) {
        if (bits_.atEnd()) {
            *run = sum;
            return RunEnd::NoData;
        }
        if (bits_.peek(11) == 0) {
            *run = sum;
            return RunEnd::Eol;
        }
        const CcittCode& c = black ? ccittBlackCode(bits_.peek(CCITT_BLACK_BITS))
                                   : ccittWhiteCode(bits_.peek(CCITT_WHITE_BITS));
        switch (c.state) {
        case CCITT_WHITE_TERM:
        case CCITT_BLACK_TERM:
            bits_.skip(c.length);
            *run = sum + c.param;
            return RunEnd::Run;
        case CCITT_WHITE_MAKEUP:
        case CCITT_BLACK_MAKEUP:
        case CCITT_COMMON_MAKEUP:
            bits_.skip(c.length);
            // Runs beyond the row are cut anyway; keep the sum bounded.
            if (sum <= width_) sum += c.param;
            break;
        default:
            *run = sum;
            return RunEnd::Invalid;
        }
    }
}

// One-dimensional row: alternate white and black runs until the width is
// reached. A row cut short keeps the run begun (its make-up codes).
CcittRow CcittDecoder::decodeOneD(int32_t* count, int32_t* a0) {
    bool black = false;
    while (*a0 < width_) {
        int32_t run = 0;
        RunEnd end = readRun(black, &run);
        if (end != RunEnd::Run) {
            if (run > 0) {
                *a0 += run;
                addChange(count, *a0);
            }
            if (end == RunEnd::NoData) {
                message(MSG_PREMATURE);
                return CcittRow::Premature;
            }
            if (end == RunEnd::Eol) {
                if (ccittTakeEol(&bits_)) eolSeen_ = true;
            } else {
                message(MSG_BAD_CODE);
            }
            return CcittRow::Repaired;
        }
        *a0 += run;
        if (!addChange(count, *a0)) return CcittRow::Repaired;
        black = !black;
    }
    return CcittRow::Ok;
}

// Two-dimensional row against the reference row.
CcittRow CcittDecoder::decodeTwoD(int32_t* count, int32_t* a0) {
    const int32_t* ref = reference_;
    bool start = true;   // a0 is the imaginary white element before the row
    bool black = false;  // colour of the pixels from a0 on
    int32_t j = 0;       // search position among the reference changing elements
    while (*a0 < width_) {
        // b1: the first changing element of the reference row right of a0 whose
        // colour is opposite to a0's; changing elements at even indices turn to black.
        const int32_t limit = start ? -1 : *a0;
        while (j > 0 && ref[j - 1] > limit) --j;
        while (j < referenceCount_ && ref[j] <= limit) ++j;
        if ((j & 1) != (black ? 1 : 0)) ++j;
        if (j > referenceCount_) j = referenceCount_;  // the sentinels stand for the row's end
        const int32_t b1 = j < referenceCount_ ? ref[j] : width_;
        const int32_t b2 = j + 1 < referenceCount_ ? ref[j + 1] : width_;

        if (bits_.atEnd()) {
            message(MSG_PREMATURE);
            return CcittRow::Premature;
        }
        if (bits_.peek(11) == 0) {
            if (ccittTakeEol(&bits_)) eolSeen_ = true;
            return CcittRow::Repaired;
        }
        const CcittCode& c = ccittModeCode(bits_.peek(CCITT_MODE_BITS));
        switch (c.state) {
        case CCITT_PASS:
            bits_.skip(c.length);
            *a0 = b2;
            start = false;
            break;
        case CCITT_HORIZONTAL: {
            bits_.skip(c.length);
            for (int k = 0; k < 2; ++k) {
                int32_t run = 0;
                RunEnd end = readRun(k == 0 ? black : !black, &run);
                *a0 += run;
                if (end == RunEnd::Run || run > 0) {
                    if (!addChange(count, *a0)) return CcittRow::Repaired;
                }
                if (end == RunEnd::NoData) {
                    message(MSG_PREMATURE);
                    return CcittRow::Premature;
                }
                if (end == RunEnd::Eol) {
                    if (ccittTakeEol(&bits_)) eolSeen_ = true;
                    return CcittRow::Repaired;
                }
                if (end == RunEnd::Invalid) {
                    message(MSG_BAD_CODE);
                    return CcittRow::Repaired;
                }
            }
            start = false;
            break;
        }
        case CCITT_VERTICAL_0:
        case CCITT_VERTICAL_RIGHT:
        case CCITT_VERTICAL_LEFT: {
            bits_.skip(c.length);
            int32_t offset = c.state == CCITT_VERTICAL_0 ? 0 : c.state == CCITT_VERTICAL_RIGHT ? c.param : -c.param;
            int32_t a1 = b1 + offset;
            if (a1 < *a0) {
                message(MSG_BAD_CODE);
                return CcittRow::Repaired;
            }
            *a0 = a1;
            if (!addChange(count, a1)) return CcittRow::Repaired;
            start = false;
            black = !black;
            break;
        }
        case CCITT_EXTENSION:
            bits_.skip(c.length);
            message(MSG_UNCOMPRESSED);
            return CcittRow::Repaired;
        default:
            message(MSG_BAD_CODE);
            return CcittRow::Repaired;
        }
    }
    return CcittRow::Ok;
}

// A row whose runs do not end at the width: the runs that pass it are
// dropped from the end, and a short row is made up with white (a zero-length
// black run first when the last run is white, so the colours stay in order).
bool CcittDecoder::mendLength(int32_t* count, int32_t a0) {
    if (a0 == width_) return false;
    while (a0 > width_ && *count > 0) {
        --*count;
        a0 = *count > 0 ? current_[*count - 1] : 0;
    }
    if (a0 > width_) a0 = 0;
    if (a0 < width_ && (*count & 1)) addChange(count, a0);
    return true;
}

// Paints the changing elements into the row: white is 1, black 0.
void CcittDecoder::fillRow(int32_t count, uint8_t* row) const {
    const size_t bytes = (static_cast<size_t>(width_) + 7) / 8;
    memset(row, 0xFF, bytes);
    int32_t from = 0;
    bool black = false;
    for (int32_t i = 0; i < count && from < width_; ++i) {
        int32_t to = current_[i] < width_ ? current_[i] : width_;
        if (to < from) to = from;
        if (black) clearRange(row, from, to);
        from = to;
        black = !black;
    }
    if (black) clearRange(row, from, width_);
}

CcittRow CcittDecoder::decodeRow(uint8_t* row) {
    int32_t count = 0;
    CcittRow result;
    bool twoD = coding_ == CcittCoding::Group4;
    if (coding_ == CcittCoding::Group3OneD || coding_ == CcittCoding::Group3TwoD) {
        if (!eolSeen_ && !ccittSkipToEol(&bits_)) {
            message(MSG_PREMATURE);
            fillRow(0, row);
            return CcittRow::Premature;
        }
        eolSeen_ = false;
        if (coding_ == CcittCoding::Group3TwoD) {
            if (bits_.atEnd()) {
                message(MSG_PREMATURE);
                fillRow(0, row);
                return CcittRow::Premature;
            }
            twoD = bits_.peek(1) == 0;
            bits_.skip(1);
        }
    } else if (coding_ == CcittCoding::Group4) {
        eolSeen_ = false;
        if (!bits_.atEnd() && bits_.peek(11) == 0) {
            // The end-of-block mark: two EOL codes.
            ccittTakeEol(&bits_);
            if (!bits_.atEnd() && !ccittTakeEol(&bits_)) message(MSG_BAD_CODE);
            return CcittRow::EndOfBlock;
        }
    }
    int32_t a0 = 0;
    result = twoD ? decodeTwoD(&count, &a0) : decodeOneD(&count, &a0);
    if (mendLength(&count, a0)) {
        message(MSG_LENGTH);
        if (result == CcittRow::Ok) result = CcittRow::Repaired;
    }
    fillRow(count, row);

    // This row becomes the reference of the next one.
    int32_t* swap = reference_;
    reference_ = current_;
    current_ = swap;
    referenceCount_ = count;
    while (referenceCount_ > 0 && reference_[referenceCount_ - 1] >= width_) --referenceCount_;
    for (int32_t i = 0; i < SENTINELS; ++i) reference_[referenceCount_ + i] = width_;

    if (coding_ == CcittCoding::ModifiedHuffman) bits_.alignToByte();
    return result;
}
