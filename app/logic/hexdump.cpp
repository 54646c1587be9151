// Lines and scrolling of the hexadecimal dump window.
#include "hexdump.h"

#include <cstdio>

bool hexPrintable(uint8_t byte) { return (byte >= 0x20 && byte <= 0x7E) || byte >= 0xA0; }

uint64_t hexLineCount(uint64_t size) { return size / HEX_BYTES_PER_LINE + (size % HEX_BYTES_PER_LINE != 0); }

size_t formatHexLine(const uint8_t* data, uint64_t size, uint64_t line, char* out, size_t outSize) {
    if (outSize > 0) out[0] = '\0';
    if (!data || line >= hexLineCount(size)) return 0;
    const uint64_t offset = line * HEX_BYTES_PER_LINE;
    const uint64_t left = size - offset;
    const int n = left < HEX_BYTES_PER_LINE ? static_cast<int>(left) : HEX_BYTES_PER_LINE;
    return formatHexLineBytes(data + offset, n, line, out, outSize);
}

size_t formatHexLineBytes(const uint8_t* bytes, int n, uint64_t line, char* out, size_t outSize) {
    if (outSize > 0) out[0] = '\0';
    if (!bytes || n < 1 || n > HEX_BYTES_PER_LINE || line > UINT64_MAX / HEX_BYTES_PER_LINE) return 0;
    const uint64_t offset = line * HEX_BYTES_PER_LINE;
    char head[24];
    int headLength = snprintf(head, sizeof head, "%08llx: ", static_cast<unsigned long long>(offset));
    if (headLength <= 0) return 0;
    const size_t length = static_cast<size_t>(headLength) + HEX_PAIRS_WIDTH + HEX_BYTES_PER_LINE;
    if (outSize < length + 1) return 0;
    static const char DIGITS[] = "0123456789abcdef";
    char* p = out;
    for (int i = 0; i < headLength; ++i) *p++ = head[i];
    for (int i = 0; i < HEX_BYTES_PER_LINE; ++i) {
        if (i < n) {
            *p++ = DIGITS[bytes[i] >> 4];
            *p++ = DIGITS[bytes[i] & 15];
        } else {
            *p++ = ' ';
            *p++ = ' ';
        }
        *p++ = ' ';
    }
    for (int i = 0; i < HEX_BYTES_PER_LINE; ++i)
        *p++ = i < n ? (hexPrintable(bytes[i]) ? static_cast<char>(bytes[i]) : '.') : ' ';
    *p = '\0';
    return length;
}

std::string hexLine(const uint8_t* data, uint64_t size, uint64_t line) {
    char text[HEX_LINE_MAX + 1];
    size_t n = formatHexLine(data, size, line, text, sizeof text);
    return std::string(text, n);
}

HexScrollMap hexScrollMap(uint64_t lineCount, int pageLines) {
    if (pageLines < 1) pageLines = 1;
    HexScrollMap map;
    map.maxFirst = lineCount > static_cast<uint64_t>(pageLines) ? lineCount - static_cast<uint64_t>(pageLines) : 0;
    map.step = map.maxFirst <= static_cast<uint64_t>(HEX_SCROLL_LIMIT) ? 1 : map.maxFirst / HEX_SCROLL_LIMIT + 1;
    map.range = static_cast<int>(map.maxFirst / map.step);
    uint64_t page = static_cast<uint64_t>(pageLines) / map.step;
    map.page = page < 1 ? 1 : static_cast<int>(page);
    return map;
}

int hexScrollPosition(const HexScrollMap& map, uint64_t first) {
    if (first >= map.maxFirst) return map.range;
    uint64_t position = first / map.step;
    return position > static_cast<uint64_t>(map.range) ? map.range : static_cast<int>(position);
}

uint64_t hexFirstForPosition(const HexScrollMap& map, int position) {
    if (position <= 0) return 0;
    if (position >= map.range) return map.maxFirst;
    return static_cast<uint64_t>(position) * map.step;
}

uint64_t hexMoveFirst(uint64_t first, int64_t delta, uint64_t maxFirst) {
    if (first > maxFirst) first = maxFirst;
    if (delta < 0) {
        uint64_t up = static_cast<uint64_t>(-(delta + 1)) + 1;  // no overflow for INT64_MIN
        return up >= first ? 0 : first - up;
    }
    uint64_t down = static_cast<uint64_t>(delta);
    return down >= maxFirst - first ? maxFirst : first + down;
}

uint64_t hexRowsToLines(uint64_t first, uint64_t lineCount, int topRow, int bottomRow, uint64_t* from) {
    if (topRow < 0) topRow = 0;
    *from = first;
    if (bottomRow <= topRow || first >= lineCount) return 0;
    uint64_t start = first + static_cast<uint64_t>(topRow);
    if (start >= lineCount || start < first) return 0;
    uint64_t rows = static_cast<uint64_t>(bottomRow - topRow);
    *from = start;
    return rows < lineCount - start ? rows : lineCount - start;
}
