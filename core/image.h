// The in-memory picture and its palette (public header).
#pragma once
#include "kaleocore/image.h"

// How many threads the library's work on one picture may use: 0 (the default)
// for one per processor, 1 to keep it on the calling thread (a caller already
// running one picture per processor does so).
void setWorkThreads(unsigned count);
unsigned workThreads();

// A freed picture's rows can no longer be followed (see setLoadFollower).
void followedPixelsFreed(const uint8_t* pixels);

// Rows first .. end - 1 of the picture turned a quarter (height x width
// pixels): clockwise, row i is column i read from the bottom row up;
// anticlockwise, row i is column width - 1 - i read from the top down. Row i
// lands at out + (i - first) * outStride. Works in square tiles so that the
// rows read and the rows written both stay in cache.
void turnedRows(const Image* source, bool clockwise, int32_t first, int32_t end, uint8_t* out, size_t outStride);
// The picture's record as a quarter turn leaves it (sides and resolutions
// swapped), its pixels unchanged: for choosing how the turned picture is saved.
Image quarterTurnedShape(const Image& image);

// Replaces the picture's pixels (stride x height bytes, still untouched) with a
// private, copy-on-write mapping of bytes of the file fd from offset, which
// must hold the rows exactly as the picture does. False, the picture
// unchanged, when the system cannot map it. The file must keep its length
// while the picture lives (reading a page cut from it stops the process).
bool mapFilePixels(Image* image, int fd, int64_t offset, int64_t bytes);
