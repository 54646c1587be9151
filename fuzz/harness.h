// Shared body of the fuzz targets: loads one input through the library's
// entry points with options taken from its last bytes, checks what comes back,
// and aborts (a crash for libFuzzer) when an invariant is broken.
#pragma once
#include <cstddef>
#include <cstdint>

// formatIndex -1 identifies the input automatically; otherwise that reader only.
// Always returns 0, as libFuzzer expects.
int fuzzOneInput(const uint8_t* data, size_t size, int formatIndex);
// As fuzzOneInput, loading under the given name (for formats known by their extension).
int fuzzOneInputNamed(const uint8_t* data, size_t size, int formatIndex, const char* name);

// Rewrites the CRC of every PNG-style chunk from byte `start` on, so that
// mutated chunks reach the reader instead of failing their checksum.
void fixChunkCrcs(uint8_t* data, size_t size, size_t start);
