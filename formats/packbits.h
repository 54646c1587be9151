// PackBits run-length coding of byte rows, shared by the TIFF, IFF, Photoshop and PICT
// codecs (Degas runs differ: there 128 is a run, so they have their own decoder).
//
// The data are a series of groups, each led by a header byte n:
// - n of 0 to 127: the next n + 1 bytes are copied as they stand (a literal);
// - n of 129 to 255: the next byte is repeated 257 - n times (a run of 2 to 128);
// - n of 128: nothing (a no-op that some writers use as padding).
//
// The coder never touches a file: the decoder reads from a span of memory or
// from a ByteCursor (lzw.h), the encoder writes into a caller's buffer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "lzw.h"

// How a decode ended.
enum class PackBitsEnd : uint8_t {
    Complete,    // the output is full and every group fitted in it
    Overrun,     // the output is full; the last group reached past its end and was cut
    EndOfInput,  // the input ran dry first; the bytes not produced are left as they were
};

struct PackBitsResult {
    PackBitsEnd end = PackBitsEnd::Complete;
    size_t consumed = 0;  // input bytes used (span decoding)
    size_t produced = 0;  // output bytes written
};

// Decodes groups from `in` (inSize bytes) until `outSize` bytes are produced.
// A literal or run longer than the room left is cut at the end of the output,
// and the input bytes of a cut literal are consumed all the same, so that a
// caller decoding row after row stays in step with the groups.
PackBitsResult packBitsDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// The same from a cursor: reads groups until `outSize` bytes are produced.
PackBitsResult packBitsDecode(ByteCursor* in, uint8_t* out, size_t outSize);

// The variant of 16-bit QuickDraw pixmaps: the same header bytes counting
// units of two bytes. Stops when the output (rounded down to whole units) is
// full or the input ends; the bytes not produced are left as they were.
void packBitsDecodeWords(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// The largest encoded size of n bytes: one header byte for every 128 literal bytes.
constexpr size_t packBitsMaxEncodedSize(size_t n) { return n + (n + 127) / 128 + 1; }

// Encodes n bytes into `out`, which holds at least packBitsMaxEncodedSize(n)
// bytes; returns the encoded length (0 when out is too small). Runs of three
// or more identical bytes (up to 128) become run groups, and so does a run of
// two that no literal group is waiting for; other short runs stay in the
// literal group around them (up to 128 bytes each).
size_t packBitsEncode(const uint8_t* in, size_t n, uint8_t* out, size_t outCapacity);
