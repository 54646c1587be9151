// PackBits run-length coding of byte rows.
#include "packbits.h"

#include <cstring>

namespace {

constexpr int NO_OP_HEADER = 128;
constexpr size_t MAX_GROUP = 128;

// A span as a cursor, so that both decoders share one loop.
class SpanCursor final : public ByteCursor {
public:
    SpanCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int next() override { return pos_ < size_ ? data_[pos_++] : -1; }
    // Copies up to n bytes; returns how many were there.
    size_t take(uint8_t* dst, size_t n) {
        size_t k = size_ - pos_ < n ? size_ - pos_ : n;
        if (dst && k) memcpy(dst, data_ + pos_, k);
        pos_ += k;
        return k;
    }
    size_t position() const { return pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Reads n literal bytes, keeping those that fit in `room`; false when the input ends.
bool readLiteral(ByteCursor* in, SpanCursor* span, uint8_t* dst, size_t n, size_t room, size_t* kept) {
    size_t keep = n < room ? n : room;
    *kept = 0;
    if (span) {
        size_t got = span->take(dst, keep);
        *kept = got;
        if (got < keep) return false;
        return span->take(nullptr, n - keep) == n - keep;
    }
    for (size_t i = 0; i < n; ++i) {
        int c = in->next();
        if (c < 0) return false;
        if (i < keep) {
            dst[i] = static_cast<uint8_t>(c);
            ++*kept;
        }
    }
    return true;
}

PackBitsResult decodeGroups(ByteCursor* in, SpanCursor* span, uint8_t* out, size_t outSize) {
    PackBitsResult r;
    size_t pos = 0;
    while (pos < outSize) {
        int header = in->next();
        if (header < 0) {
            r.end = PackBitsEnd::EndOfInput;
            break;
        }
        if (header == NO_OP_HEADER) continue;
        const size_t room = outSize - pos;
        if (header < NO_OP_HEADER) {
            size_t n = static_cast<size_t>(header) + 1, kept = 0;
            bool whole = readLiteral(in, span, out + pos, n, room, &kept);
            pos += kept;
            if (!whole) {
                r.end = PackBitsEnd::EndOfInput;
                break;
            }
            if (n > room) r.end = PackBitsEnd::Overrun;
        } else {
            size_t n = 257 - static_cast<size_t>(header);
            int value = in->next();
            if (value < 0) {
                r.end = PackBitsEnd::EndOfInput;
                break;
            }
            size_t keep = n < room ? n : room;
            memset(out + pos, value, keep);
            pos += keep;
            if (n > room) r.end = PackBitsEnd::Overrun;
        }
    }
    r.produced = pos;
    if (span) r.consumed = span->position();
    return r;
}

}  // namespace

PackBitsResult packBitsDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    SpanCursor span(in, in ? inSize : 0);
    return decodeGroups(&span, &span, out, outSize);
}

PackBitsResult packBitsDecode(ByteCursor* in, uint8_t* out, size_t outSize) {
    return decodeGroups(in, nullptr, out, outSize);
}

size_t packBitsEncode(const uint8_t* in, size_t n, uint8_t* out, size_t outCapacity) {
    if (outCapacity < packBitsMaxEncodedSize(n)) return 0;
    size_t o = 0;
    size_t literalStart = 0, literalLength = 0;  // the literal group being gathered
    auto flushLiteral = [&]() {
        if (literalLength == 0) return;
        out[o++] = static_cast<uint8_t>(literalLength - 1);
        memcpy(out + o, in + literalStart, literalLength);
        o += literalLength;
        literalLength = 0;
    };
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < MAX_GROUP && in[i + run] == in[i]) ++run;
        if (run >= 3 || (run == 2 && literalLength == 0)) {
            flushLiteral();
            out[o++] = static_cast<uint8_t>(257 - run);  // 1 - run in two's complement
            out[o++] = in[i];
            i += run;
            continue;
        }
        // One or two bytes join the literal group.
        for (size_t k = 0; k < run; ++k) {
            if (literalLength == 0) literalStart = i;
            ++literalLength;
            ++i;
            if (literalLength == MAX_GROUP) flushLiteral();
        }
    }
    flushLiteral();
    return o;
}

void packBitsDecodeWords(const uint8_t* in, size_t n, uint8_t* out, size_t outSize) {
    outSize &= ~static_cast<size_t>(1);
    size_t i = 0, o = 0;
    while (o < outSize && i < n) {
        const unsigned header = in[i++];
        if (header < 128) {
            for (size_t k = 0; k <= header && i + 2 <= n && o < outSize; ++k, i += 2, o += 2) {
                out[o] = in[i];
                out[o + 1] = in[i + 1];
            }
        } else if (header > 128) {
            if (i + 2 > n) break;
            for (size_t k = 0; k < 257 - header && o < outSize; ++k, o += 2) {
                out[o] = in[i];
                out[o + 1] = in[i + 1];
            }
            i += 2;
        }
    }
}
