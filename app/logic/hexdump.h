// The hexadecimal dump window's text and scrolling, without windows: one line
// per 16 bytes ("%08x: ", the bytes as "%02x " pairs padded to 48 characters,
// then the 16 bytes as characters), and the mapping between the first visible
// line and a scroll bar position that stays within 30 bits however long the
// file is.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int HEX_BYTES_PER_LINE = 16;
constexpr int HEX_OFFSET_WIDTH = 10;  // "%08x: "
constexpr int HEX_PAIRS_WIDTH = 48;   // 16 × "%02x "
constexpr int HEX_LINE_LENGTH = HEX_OFFSET_WIDTH + HEX_PAIRS_WIDTH + HEX_BYTES_PER_LINE;  // 74
// Offsets from 4 GB on take more than 8 digits ("%08llx"): up to 16.
constexpr int HEX_LINE_MAX = HEX_LINE_LENGTH + 8;

// Bytes shown as themselves in the character column: the graphic characters of
// ASCII (0x20-0x7E) and of the upper half of Latin-1 (0xA0-0xFF), which the
// Windows code page 1252 maps the same way. Controls, DEL and 0x80-0x9F (the C1
// range, where 1252 has holes) show as ".".
bool hexPrintable(uint8_t byte);

// Lines for a file of `size` bytes: ceil(size / 16); 0 for an empty file.
uint64_t hexLineCount(uint64_t size);

// Writes line `line` of data[0..size) into out with a terminating zero (outSize
// of at least HEX_LINE_MAX + 1 always suffices). Returns the number of
// characters (HEX_LINE_LENGTH below 4 GB), or 0 (and an empty string when
// outSize allows) when the line is past the end or the buffer too small.
// Offsets of 4 GB and more are written in full rather than cut to 32 bits.
size_t formatHexLine(const uint8_t* data, uint64_t size, uint64_t line, char* out, size_t outSize);
// The same from the line's own bytes only (`count` of them, 1 to 16), as a
// window reading the file a line at a time has them.
size_t formatHexLineBytes(const uint8_t* bytes, int count, uint64_t line, char* out, size_t outSize);
std::string hexLine(const uint8_t* data, uint64_t size, uint64_t line);

// ---- Scrolling ----

// The largest position a scroll bar takes here. Positions are read back as
// 32-bit numbers (the scroll bar's tracking position, not the 16-bit word of
// WM_VSCROLL); files of more lines than this are scaled, with room left for
// the page within an int.
constexpr int HEX_SCROLL_LIMIT = 0x3FFFFFFF;

// How `lineCount` lines in a window of `pageLines` whole lines map onto a scroll bar.
struct HexScrollMap {
    uint64_t maxFirst;  // the last line that can be the first visible one
    uint64_t step;      // lines per scroll unit (1 unless scaled)
    int range;          // positions 0…range
    int page;           // page size in scroll units (the thumb's length), at least 1
};

HexScrollMap hexScrollMap(uint64_t lineCount, int pageLines);
// The scroll position of a first visible line; maxFirst maps to range.
int hexScrollPosition(const HexScrollMap& map, uint64_t first);
// The first visible line of a scroll position; range maps to maxFirst.
uint64_t hexFirstForPosition(const HexScrollMap& map, int position);
// The first visible line after moving by `delta` lines (negative: up), kept
// within 0…maxFirst.
uint64_t hexMoveFirst(uint64_t first, int64_t delta, uint64_t maxFirst);

// The lines a paint of rows [topRow, bottomRow) of a window showing `first`
// at row 0 has to draw: *from and the count (0 when nothing is there).
uint64_t hexRowsToLines(uint64_t first, uint64_t lineCount, int topRow, int bottomRow, uint64_t* from);
