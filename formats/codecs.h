// Entry points of the codecs, named by the registry table (formats.cpp).
#pragma once
#include <cstdio>

#include "kaleocore.h"

// The registry table: 124 records in index order.
extern const FormatRecord FORMAT_TABLE[FORMAT_COUNT];

// Scaffold for formats whose codec is still to be built: the reader recognises
// nothing and the writer refuses. Every record that uses them sits in formats.cpp.
Status placeholderReader(FILE* stream, LoadRequest* request);
Status placeholderWriter(FILE* stream, SaveRequest* request);

// Windows and OS/2 bitmap.
Status readBmp(FILE* stream, LoadRequest* request);
Status writeBmp(FILE* stream, SaveRequest* request);
