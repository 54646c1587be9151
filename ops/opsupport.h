// Helpers shared by the colour reductions and the tone operations: checking an
// image record, locating its colour bytes, grey levels, zeroed arrays, and
// building and handing back a result.
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
// and resolution. False when memory runs out.
bool createResult(Image* result, const Image* source, uint16_t kind);

// Moves result into destination when one is given (other than source), else
// into source; the record it replaces loses its pixels and palette first.
void commitResult(Image* source, Image* destination, Image* result);
