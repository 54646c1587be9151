// Whole-row transfers between streams and the scanline pipeline.
#include "rowkit.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "rowconv.h"

namespace {

// The core's row buffer during a decode or an encode, null otherwise.
uint8_t* pipelineRowBuffer() {
    RowConverter& c = rowConverter();
    return c.phase == ConvPhase::Idle ? nullptr : c.rowBuffer.get();
}

}  // namespace

Status deliverRow(const uint8_t* row, int64_t rowBytes, int32_t fileRow, int plane) {
    const int64_t n = std::min(fileRowLength(), rowBytes);
    uint8_t* dst = pipelineRowBuffer();
    if (n > 0 && dst) memcpy(dst, row, static_cast<size_t>(n));
    return putRows(plane, fileRow, 1);
}

int32_t directReadRun(int32_t row, int64_t rowBytes, int32_t rowsLeft) {
    constexpr int64_t MOST = int64_t{1} << 20;
    int32_t run = directRun(row, rowBytes);
    if (run > rowsLeft) run = rowsLeft;
    if (run > 1 && int64_t(run) * rowBytes > MOST) run = static_cast<int32_t>(std::max<int64_t>(1, MOST / rowBytes));
    return run;
}

Status readRows(FILE* f, int64_t rowBytes, int32_t rows, int plane, RowFilter filter, const void* data) {
    if (rowBytes < 1) return ST_CORRUPT;
    if (!filter && plane < 0 && mapDirectRows(f, ftello(f), rowBytes, rows)) return rowsPlaced(rows);
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    for (int32_t y = 0; y < rows; ++y) {
        // Rows the image holds as the file does are read straight into it, as
        // many at once as follow one another there.
        const int32_t run = filter || plane >= 0 ? 0 : directReadRun(y, rowBytes, rows - y);
        if (run > 0) {
            uint8_t* direct = directRow(y);
            const size_t want = static_cast<size_t>(int64_t(run) * rowBytes);
            const size_t got = fread(direct, 1, want, f);
            const int32_t whole = static_cast<int32_t>(got / static_cast<size_t>(rowBytes));
            // A row begun but not finished is not kept: its bytes go back to zero.
            if (got < want) memset(direct + static_cast<size_t>(whole) * static_cast<size_t>(rowBytes), 0,
                                   got - static_cast<size_t>(whole) * static_cast<size_t>(rowBytes));
            Status st = rowsPlaced(whole);
            if (st != ST_OK) return st;
            if (got < want) return ST_READ_ERROR;
            y += run - 1;
            continue;
        }
        if (!readBlock(f, row.get(), static_cast<size_t>(rowBytes))) return ST_READ_ERROR;
        Status st;
        if (filter) {
            uint8_t* out = pipelineRowBuffer();
            if (out) filter(data, row.get(), out);
            st = putRows(plane, y, 1);
        } else {
            st = deliverRow(row.get(), rowBytes, y, plane);
        }
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// ---- RowFeed ----------------------------------------------------------------

Status RowFeed::begin(int64_t rowBytes, int32_t rows, int plane) {
    row_ = rowBytes > 0 ? allocBuffer(static_cast<uint64_t>(rowBytes)) : Buffer();
    if (!row_) return rowBytes > 0 ? ST_NO_MEMORY : ST_CORRUPT;
    rowBytes_ = rowBytes;
    filled_ = 0;
    rows_ = rows < 0 ? 0 : rows;
    next_ = 0;
    plane_ = plane;
    return ST_OK;
}

Status RowFeed::rowFull() {
    Status st = deliverRow(row_.get(), rowBytes_, next_++, plane_);
    memset(row_.get(), 0, static_cast<size_t>(rowBytes_));
    filled_ = 0;
    return st;
}

// n bytes from p, or n copies of v when p is null.
Status RowFeed::place(const uint8_t* p, uint8_t v, int64_t n) {
    while (n > 0 && next_ < rows_) {
        const int64_t take = std::min(n, rowBytes_ - filled_);
        if (p) {
            memcpy(row_.get() + filled_, p, static_cast<size_t>(take));
            p += take;
        } else {
            memset(row_.get() + filled_, v, static_cast<size_t>(take));
        }
        filled_ += take;
        n -= take;
        if (filled_ == rowBytes_) {
            Status st = rowFull();
            if (st != ST_OK) return st;
        }
    }
    return ST_OK;
}

uint8_t* RowFeed::space(int64_t* room) {
    *room = done() ? 0 : rowBytes_ - filled_;
    return row_.get() + filled_;
}

Status RowFeed::advance(int64_t n) {
    if (done() || n <= 0) return ST_OK;
    filled_ += std::min(n, rowBytes_ - filled_);
    return filled_ == rowBytes_ ? rowFull() : ST_OK;
}

Status RowFeed::cut(Status why) {
    if (filled_ == 0 || done()) return why;
    Status st = deliverRow(row_.get(), rowBytes_, next_, plane_);
    return st == ST_OK ? why : st;
}

// ---- Writing ----------------------------------------------------------------

Status fetchRow(int32_t fileRow, uint8_t* row, int64_t rowBytes) {
    Status st = getRows(fileRow, 1);
    if (st != ST_OK) return st;
    const uint8_t* src = pipelineRowBuffer();
    const int64_t n = src ? std::max<int64_t>(0, std::min(writeRowLength(), rowBytes)) : 0;
    if (n > 0) memcpy(row, src, static_cast<size_t>(n));
    if (rowBytes > n) memset(row + n, 0, static_cast<size_t>(rowBytes - n));
    return ST_OK;
}

Status writeRows(FILE* f, int64_t rowBytes, int32_t rows, RowEncoder encode, void* data) {
    if (rowBytes < 1) return ST_KIND_REFUSED;
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    // Up to a megabyte at a time, so that a save following a load keeps close to it.
    const int32_t most = static_cast<int32_t>(std::max<int64_t>(1, (int64_t{1} << 20) / rowBytes));
    for (int32_t y = 0; y < rows; ++y) {
        // Rows the file stores as the picture holds them are written from the picture.
        const uint8_t* inPlace = nullptr;
        int32_t run = 0;
        Status st = encode ? ST_OK : savedRowsInPlace(y, rowBytes, std::min(most, rows - y), &inPlace, &run);
        if (st != ST_OK) return st;
        if (run > 0) {
            if (!writeBlock(f, inPlace, static_cast<size_t>(int64_t(run) * rowBytes))) return ST_WRITE_ERROR;
            y += run - 1;
            continue;
        }
        st = fetchRow(y, row.get(), rowBytes);
        if (st != ST_OK) return st;
        if (encode) st = encode(data, f, row.get(), rowBytes);
        else if (!writeBlock(f, row.get(), static_cast<size_t>(rowBytes))) st = ST_WRITE_ERROR;
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

namespace {

uint8_t reversedFields(unsigned v, int bits) {
    const unsigned mask = (1u << bits) - 1;
    unsigned r = 0;
    for (int i = 0; i < 8; i += bits) r |= ((v >> i) & mask) << (8 - bits - i);
    return static_cast<uint8_t>(r);
}

struct FieldTables {
    uint8_t t[3][256];  // 1, 2 and 4 bits
    FieldTables() {
        for (int k = 0; k < 3; ++k)
            for (unsigned v = 0; v < 256; ++v) t[k][v] = reversedFields(v, 1 << k);
    }
};

}  // namespace

void reversePixelFields(uint8_t* p, int64_t n, int bits) {
    static const FieldTables tables;
    const int k = bits == 1 ? 0 : bits == 2 ? 1 : bits == 4 ? 2 : -1;
    if (k < 0) return;
    const uint8_t* t = tables.t[k];
    for (int64_t i = 0; i < n; ++i) p[i] = t[p[i]];
}

const uint8_t PC_COLOURS_16[48] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x00, 0xAA, 0x00, 0x00, 0xAA, 0xAA,
    0xAA, 0x00, 0x00, 0xAA, 0x00, 0xAA, 0xAA, 0x55, 0x00, 0xAA, 0xAA, 0xAA,
    0x55, 0x55, 0x55, 0x55, 0x55, 0xFF, 0x55, 0xFF, 0x55, 0x55, 0xFF, 0xFF,
    0xFF, 0x55, 0x55, 0xFF, 0x55, 0xFF, 0xFF, 0xFF, 0x55, 0xFF, 0xFF, 0xFF,
};

// The lower-cased extension of a file name ("" without one).
void extensionOf(const char* name, char* ext, size_t room) {
    ext[0] = '\0';
    const char* dot = strrchr(name, '.');
    if (!dot || strchr(dot, '/') || strchr(dot, '\\')) return;
    size_t i = 0;
    for (const char* p = dot + 1; *p && i + 1 < room; ++p) ext[i++] = static_cast<char>(tolower(*p));
    ext[i] = '\0';
}

Status readFromMemory(const uint8_t* bytes, size_t n, LoadRequest* request,
                      const std::function<Status(FILE*, LoadRequest*)>& reader) {
    if (n == 0) return ST_UNKNOWN_FORMAT;
    FILE* f = fmemopen(const_cast<uint8_t*>(bytes), n, "rb");
    if (!f) return ST_NO_MEMORY;
    const StreamPtr closer(f);
    LoadRequest inner = *request;
    inner.fileSize = static_cast<int64_t>(n);
    const Status st = reader(f, &inner);
    memcpy(request->message, inner.message, sizeof request->message);
    request->pageCount = inner.pageCount;
    return st;
}
