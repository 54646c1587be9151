// Device-independent bitmap pieces shared by the codecs whose files hold them
// (bitmaps, icons and cursors, clipboard files): the row length, the colour
// table and the layout of true-colour pixels.
#pragma once
#include <cstdint>
#include <cstdio>

#include "codec.h"
#include "kaleocore.h"
#include "status.h"

constexpr uint32_t DIB_INFO_HEADER_SIZE = 40;

// The fields of a Windows information header (40 bytes, little-endian).
struct DibInfo {
    uint32_t headerSize;
    int32_t width;
    int32_t height;       // as stored: negative for top-down rows, doubled in icons
    uint32_t planes;
    uint32_t bits;
    uint32_t compression;
    uint32_t imageSize;
    int32_t xPixelsPerMetre;
    int32_t yPixelsPerMetre;
    uint32_t coloursUsed;
};

// Decodes the 40 bytes of an information header.
DibInfo dibParseInfo(const uint8_t* p);

// Bytes of one stored row, padded to a multiple of 4 bytes.
inline int64_t dibRowBytes(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

// Entries of the colour table for a depth of 8 bits or less: colours used,
// where 0 means all 2^bits of the depth and more than those are capped.
uint32_t dibPaletteEntries(uint32_t bits, uint32_t coloursUsed);

// Reads entries colour-table entries of entrySize bytes (3: B,G,R, 4:
// B,G,R,x) at the stream's position into table as B,G,R triplets. The entries
// read before a short read are kept; it returns ST_READ_ERROR then.
Status dibReadPalette(FILE* f, uint32_t entries, uint32_t entrySize, uint8_t* table);

// How uncompressed pixels of more than 8 bits reach the core: 16 bits as
// little-endian 5-5-5 words, 24 bits as B,G,R, 32 bits as B,G,R and a fourth
// byte (alpha in icons) passed on as it stands.
uint16_t dibTrueColourLayout(uint32_t bits);

// Reads a whole bitmap file (its 14-byte file header first) from the stream
// as the bitmap reader does, showing it under name (null: the bitmap's own
// names). For files that embed a bitmap: give it a stream of those bytes.
Status dibReadBitmapFile(FILE* stream, LoadRequest* request, const char* name);

// Reads a bitmap held in memory: a whole bitmap file, or when packed only
// the information header, the colour table and the rows (a clipboard or
// preview bitmap), which reads as if the file header were before it.
// ST_UNKNOWN_FORMAT when the bytes are no bitmap.
Status dibReadInMemory(const uint8_t* bytes, size_t n, bool packed, LoadRequest* request, const char* name);
