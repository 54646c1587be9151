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
