// For fuzz targets of formats known by their exact file size: an input of any
// other length is laid into a zero-filled file of that size (its first bytes
// at the start, its last four, which choose the load options, at the end), so
// that mutations reach the reader instead of its size test.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "harness.h"

// fix, when given, rewrites the header bytes the format insists on.
inline int fuzzFixedSize(const uint8_t* data, size_t size, size_t fileSize, int formatIndex,
                         void (*fix)(uint8_t* file) = nullptr) {
    if (size == fileSize) return fuzzOneInput(data, size, formatIndex);
    std::vector<uint8_t> file(fileSize, 0);
    memcpy(file.data(), data, size < fileSize ? size : fileSize);
    for (size_t i = 0; i < 4 && i < size; ++i) file[fileSize - 1 - i] = data[size - 1 - i];
    if (fix) fix(file.data());
    return fuzzOneInput(file.data(), file.size(), formatIndex);
}
