// Helpers shared by the filters, the geometry and the effects: checking an
// image, building a result like its source, handing the result over, lifting
// palette, black-and-white and few-level grey pictures to intensities before
// byte-wise work, and the seeded pseudo-random generator of the effects.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image.h"
#include "status.h"

namespace oputil {

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
// A zeroed array from calloc (no exceptions: a failed allocation gives null).
template <typename T>
using Array = std::unique_ptr<T[], FreeDeleter>;
template <typename T>
Array<T> allocArray(size_t count) {
    if (count == 0) count = 1;
    if (count > SIZE_MAX / sizeof(T) / 2) return Array<T>();
    return Array<T>(static_cast<T*>(calloc(count, sizeof(T))));
}

// True when the record describes a picture an operation can read: pixels,
// sizes of at least 1, bytes per pixel matching the kind, a stride that holds
// a row, and a palette for IMG_PALETTE.
bool validImage(const Image* image);

// A target side clamped to 1..MAX_IMAGE_SIDE.
int32_t clampSide(int64_t side);

// Allocates a zeroed picture of the given kind and size with the source's
// alignment, orientation word and resolution; the palette and the colour count
// are copied when the kinds agree. False when memory runs out.
bool createLike(const Image* source, uint16_t kind, int32_t width, int32_t height, Image* out);

// Hands a finished picture over: into destination when it is given,
// otherwise into source; the old pixels of the record that receives it are
// freed first (a destination must therefore be empty or own its pixels).
// result is left empty.
void commitResult(Image* source, Image* destination, Image* result);

// Byte-wise work (averages, kernels, noise) must not run on palette indices or
// on 0/1 and few-level grey values. When the picture needs it, *promoted
// receives a copy lifted to IMG_RGB (palette) or 256-level IMG_GREY (binary,
// grey with fewer than 256 levels) and *work points at it; otherwise *work is
// source and *promoted stays empty. ST_NO_MEMORY when the copy cannot be made.
Status promoteForBytes(const Image* source, Image* promoted, const Image** work);

// Byte offset of the fourth (X) byte inside a pixel, or -1 for 1- and 3-byte kinds.
int extraByteOffset(uint16_t kind);

// The C library generator of the platform the viewer came from: 15-bit values
// 0..32767 from a 32-bit linear congruential state.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }
private:
    uint32_t state_;
};

// A generator seeded for one operation: from the clock, or from the seed fixed
// with setEffectSeed.
Random operationRandom();

}  // namespace oputil
