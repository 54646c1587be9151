// Helpers shared by every operation (colour reductions, tones, filters,
// geometry, effects): checking an image record, locating its colour bytes,
// grey levels, zeroed arrays, building and handing back a result, lifting
// palette, black-and-white and few-level grey pictures to intensities before
// byte-wise work, and the seeded pseudo-random generator of the effects.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image.h"
#include "status.h"
#include "stream.h"

// A zeroed heap array of plain values released on every path; empty when
// memory runs out (no exceptions).
template <class T>
using OpArray = std::unique_ptr<T[], FreeDeleter>;
template <class T>
OpArray<T> allocOpArray(uint64_t count) {
    if (count == 0) count = 1;
    if (count > SIZE_MAX / 2 / sizeof(T)) return OpArray<T>();
    return OpArray<T>(static_cast<T*>(calloc(static_cast<size_t>(count), sizeof(T))));
}

// True when the record describes a picture the operations can walk: a known
// kind, bytes per pixel matching the kind, a positive size, a stride that holds
// a row, and pixels (and a palette for palette images).
bool opImageValid(const Image* image);

// A target side clamped to 1..MAX_IMAGE_SIDE.
int32_t clampSide(int64_t side);

// Byte positions of red, green and blue inside a pixel of a true-colour kind,
// and of the fourth byte X (-1 for 3-byte kinds). One-byte kinds give 0, 0, 0, -1.
struct ChannelOffsets {
    int r;
    int g;
    int b;
    int x;
};
ChannelOffsets channelOffsets(uint16_t kind);

// Grey levels a one-byte image uses: 2 for black and white; for grey images
// the colours field, where 0, 1 or anything above 256 counts as 256.
int greyLevels(const Image* image);

// Fills spread[v] with the 0..255 grey of stored value v of a binary or grey
// image (v x 255 div (levels - 1); values beyond the levels give 255).
void greySpreadTable(const Image* image, uint8_t spread[256]);

// Creates the result record with the source's size, alignment, orientation
// and resolution; the colour count is the fresh one of the kind. False when
// memory runs out.
bool createResult(Image* result, const Image* source, uint16_t kind);

// Allocates a zeroed picture of the given kind and size with the source's
// alignment, orientation word and resolution; the palette and the colour count
// are copied when the kinds agree. False (and out empty) when memory runs out.
bool createLike(const Image* source, uint16_t kind, int32_t width, int32_t height, Image* out);

// Hands a finished picture over: into destination when it is given (other
// than source), otherwise into source; the old pixels and palette of the
// record that receives it are freed first (a destination must therefore be
// empty or own its pixels). result is left empty.
void commitResult(Image* source, Image* destination, Image* result);

// Binary and few-level grey pictures hold 0/1 or 0..k-1 values, not
// intensities. For them *spread receives a 256-level IMG_GREY copy and *work
// points at it; otherwise *work is source and *spread stays empty.
// ST_NO_MEMORY when the copy cannot be made.
Status spreadGreyLevels(const Image* source, Image* spread, const Image** work);

// Byte-wise work (averages, kernels, noise) must not run on palette indices
// either: as spreadGreyLevels, and palette pictures are lifted to IMG_RGB.
Status promoteForBytes(const Image* source, Image* promoted, const Image** work);

// The C library generator of the platform the viewer came from: 15-bit values
// 0..32767 from a 32-bit linear congruential state.
class OpRandom {
public:
    explicit OpRandom(uint32_t seed) : state_(seed) {}
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }
private:
    uint32_t state_;
};

// A generator seeded for one operation: from the clock, or from the seed fixed
// with setEffectSeed (effects.h).
OpRandom operationRandom();

// Rows first..end-1 of a picture: the share of one worker.
struct Band {
    int32_t first;
    int32_t end;
};
using BandWork = Status (*)(void* data, Band band);

// Runs work over rows 0..rows-1 split into bands, one per processor on large
// pictures (pixels counts the work), on the calling thread alone for small ones
// or when no thread can start. Every band runs to its end; the first failure
// is returned. work must write only its own rows.
Status runInBands(int32_t rows, int64_t pixels, BandWork work, void* data);
// Items 0..count-1 worked side by side, at most window of them in flight:
// load(item, slot) runs on the calling thread in item order (reading input),
// work(slot, worker) on any worker, deliver(item, slot) on the calling thread
// in item order; item i has slot i % window until delivered. A failed load
// ends the items there: those before it are still worked and delivered, then
// its status is returned. A failed delivery stops everything and is returned.
struct OrderedWork {
    Status (*load)(void* data, int64_t item, int slot);
    void (*work)(void* data, int slot, int worker);
    Status (*deliver)(void* data, int64_t item, int slot);
    void* data;
};
constexpr int MAX_ORDERED_WINDOW = 16;
Status runOrdered(int64_t count, int window, int workers, const OrderedWork& w);
// How many workers to share count independent items over pixels of work
// among: 1 for small work, for one item, or when work keeps to one thread.
int taskWorkers(int count, int64_t pixels);
// How many bands a large picture is split into: 0 (the default) for one per
// processor, 1 to keep every operation on its calling thread (a caller already
// running one picture per processor does so).
void setOperationThreads(unsigned count);
