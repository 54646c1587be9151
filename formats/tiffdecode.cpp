// TIFF reader: the decompressors of strips and tiles (none, PackBits, LZW,
// deflate, CCITT, JPEG through the shared libjpeg glue, SGI LogL/LogLuv runs),
// each handing complete rows to TiffReader::onRow.
#include <cstring>

#include <zlib.h>

#include "opsupport.h"
#include "packbits.h"
#include "tiffint.h"
#include <jerror.h>  // after jpeglib.h (through jpegglue.h)

namespace tiffreader {

namespace {

// LZW codes with a meaning of their own, and the first free code.
constexpr int LZW_CLEAR = 256;
constexpr int LZW_END = 257;
constexpr int LZW_FIRST = 258;

enum class LzwEnd : uint8_t { Done, EndCode, EndOfInput, BadCodes };

// Codes of 9 to 12 bits, most significant bit first (least significant first
// in old-style data), taken from a 64-bit reservoir refilled a byte at a time.
class LzwBits {
public:
    LzwBits(const uint8_t* data, size_t size, bool lsbFirst) : data_(data), size_(size), lsbFirst_(lsbFirst) {}
    // The next code of `width` bits, or -1 when the data end.
    int read(int width) { return lsbFirst_ ? readAs<true>(width) : readAs<false>(width); }
    template <bool LsbFirst>
    int readAs(int width) {
        if (count_ < width) {
            // Whole bytes up to 56 bits at once while eight remain to be read.
            if (pos_ + 8 <= size_) {
                const uint8_t* p = data_ + pos_;
                const int take = (63 - count_) >> 3;  // 6 or 7: a code is at most 12 bits
                uint64_t v = 0;
                if (LsbFirst) {
                    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
                    acc_ |= (v & ((uint64_t{1} << (8 * take)) - 1)) << count_;
                } else {
                    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
                    acc_ = (acc_ << (8 * take)) | (v >> (64 - 8 * take));
                }
                pos_ += static_cast<size_t>(take);
                count_ += 8 * take;
            }
            while (count_ <= 56 && pos_ < size_) {
                const uint64_t byte = data_[pos_++];
                if (LsbFirst) acc_ |= byte << count_;
                else acc_ = (acc_ << 8) | byte;
                count_ += 8;
            }
            if (count_ < width) return -1;
        }
        const uint64_t mask = (uint64_t{1} << width) - 1;
        int code;
        if (LsbFirst) {
            code = static_cast<int>(acc_ & mask);
            acc_ >>= width;
        } else {
            code = static_cast<int>((acc_ >> (count_ - width)) & mask);
        }
        count_ -= width;
        return code;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t acc_ = 0;
    int count_ = 0;
    bool lsbFirst_;
};

// Receives the decoded bytes of a chunk and cuts them into rows.
class RowAssembler {
public:
    using RowFn = Status (*)(void* datum, uint8_t* row);
    RowAssembler(uint8_t* row, size_t rowBytes, uint32_t rows, RowFn fn, void* datum)
        : row_(row), rowBytes_(rowBytes), rows_(rows), fn_(fn), datum_(datum) {}
    // Adds bytes; false once every row is complete or the receiver failed.
    bool put(const uint8_t* p, size_t n) {
        while (n > 0 && !done()) {
            size_t k = rowBytes_ - filled_ < n ? rowBytes_ - filled_ : n;
            memcpy(row_ + filled_, p, k);
            filled_ += k;
            p += k;
            n -= k;
            if (filled_ == rowBytes_) finishRow();
        }
        return !done();
    }
    // Where the next bytes go directly (zlib), and how many fit there.
    uint8_t* space() { return row_ + filled_; }
    size_t room() const { return rowBytes_ - filled_; }
    void commit(size_t k) {
        filled_ += k;
        if (filled_ == rowBytes_) finishRow();
    }
    // Hands over a row begun but not finished, its missing bytes 0.
    void flushPartial() {
        if (filled_ == 0 || done()) return;
        memset(row_ + filled_, 0, rowBytes_ - filled_);
        filled_ = rowBytes_;
        finishRow();
    }
    bool done() const { return rowsDone_ >= rows_ || status_ != ST_OK; }
    bool complete() const { return rowsDone_ >= rows_; }
    Status status() const { return status_; }

private:
    void finishRow() {
        filled_ = 0;
        ++rowsDone_;
        Status st = fn_(datum_, row_);
        if (st != ST_OK) status_ = st;
    }
    uint8_t* row_;
    size_t rowBytes_;
    uint32_t rows_;
    RowFn fn_;
    void* datum_;
    size_t filled_ = 0;
    uint32_t rowsDone_ = 0;
    Status status_ = ST_OK;
};

LzwEnd lzwDecode(LzwTable* t, const uint8_t* in, size_t n, bool oldStyle, RowAssembler* out) {
    LzwEntry* e = t->entry;
    for (int i = 0; i < 256; ++i) e[i] = {0, 1, static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
    LzwBits bits(in, n, oldStyle);
    int width = 9;
    int next = LZW_FIRST;
    int previous = -1;  // -1 right after a clear code
    int code = bits.read(width);
    if (code < 0) return LzwEnd::EndOfInput;
    if (code != LZW_CLEAR) return LzwEnd::BadCodes;
    for (;;) {
        code = bits.read(width);
        if (code < 0) return LzwEnd::EndOfInput;
        if (code == LZW_CLEAR) {
            width = 9;
            next = LZW_FIRST;
            previous = -1;
            continue;
        }
        if (code == LZW_END) return LzwEnd::EndCode;
        if (previous < 0) {
            // After a clear code only a single byte can come.
            if (code > 255) return LzwEnd::BadCodes;
            uint8_t b = static_cast<uint8_t>(code);
            if (!out->put(&b, 1)) return LzwEnd::Done;
            previous = code;
            continue;
        }
        if (code > next || (code == next && next >= LZW_TABLE)) return LzwEnd::BadCodes;
        // A new entry: the previous string and the first byte of this one
        // (of the previous one itself when the code is the entry being made).
        if (next < LZW_TABLE) {
            const uint8_t firstByte = code == next ? e[previous].first : e[code].first;
            e[next] = {static_cast<uint16_t>(previous), static_cast<uint16_t>(e[previous].length + 1), firstByte,
                       e[previous].first};
            ++next;
        }
        // Write the string out, last byte first: straight into the row when it
        // fits there, else through the string buffer.
        const int len = e[code].length;
        const bool fits = static_cast<size_t>(len) <= out->room();
        uint8_t* d = fits ? out->space() : t->string;
        int c = code;
        for (int i = len - 1; i >= 0; --i) {
            d[i] = e[c].suffix;
            c = e[c].prefix;
        }
        if (fits) {
            out->commit(static_cast<size_t>(len));
            if (out->done()) return LzwEnd::Done;
        } else if (!out->put(t->string, static_cast<size_t>(len))) {
            return LzwEnd::Done;
        }
        previous = code;
        int limit = oldStyle ? (1 << width) : (1 << width) - 1;
        if (next >= limit && width < 12) ++width;
    }
}

// The decoder of a chunk decoded whole into one buffer. Each string is
// written right after the one before, so the entry made from the previous
// string and the first byte of this one is the stretch of output starting at
// the previous string: no string is ever walked back through the table, each
// is one copy from earlier output (overlapping for a code that names the entry
// being made). Stops with Done when the buffer is full.
template <bool OldStyle>
__attribute__((noinline)) LzwEnd lzwDecodeFlatAs(LzwTable* t, const uint8_t* in, size_t n, uint8_t* out, size_t cap,
                                                 size_t* produced) {
    constexpr bool oldStyle = OldStyle;
    LzwBits bits(in, n, oldStyle);
    int width = 9;
    int next = LZW_FIRST;
    bool fresh = true;  // right after a clear code
    size_t pos = 0, prevPos = 0, prevLen = 0;
    LzwEnd end;
    int code = bits.template readAs<OldStyle>(width);
    if (code < 0) {
        end = LzwEnd::EndOfInput;
    } else if (code != LZW_CLEAR) {
        end = LzwEnd::BadCodes;
    } else {
        for (;;) {
            code = bits.template readAs<OldStyle>(width);
            if (code < 0) {
                end = LzwEnd::EndOfInput;
                break;
            }
            if (code == LZW_CLEAR) {
                width = 9;
                next = LZW_FIRST;
                fresh = true;
                continue;
            }
            if (code == LZW_END) {
                end = LzwEnd::EndCode;
                break;
            }
            if (fresh) {
                // After a clear code only a single byte can come.
                if (code > 255) {
                    end = LzwEnd::BadCodes;
                    break;
                }
                out[pos] = static_cast<uint8_t>(code);
                prevPos = pos++;
                prevLen = 1;
                fresh = false;
                if (pos >= cap) {
                    end = LzwEnd::Done;
                    break;
                }
                continue;
            }
            if (code > next || (code == next && next >= LZW_TABLE)) {
                end = LzwEnd::BadCodes;
                break;
            }
            if (next < LZW_TABLE) {
                t->span[next] = static_cast<uint64_t>(prevPos) << 32 | (prevLen + 1);
                ++next;
            }
            const size_t room = cap - pos;
            size_t len;
            if (code < 256) {
                out[pos] = static_cast<uint8_t>(code);
                len = 1;
            } else {
                const uint64_t span = t->span[code];
                len = static_cast<uint32_t>(span);
                const size_t from = static_cast<size_t>(span >> 32);
                const size_t k = len < room ? len : room;
                if (k <= 8 && from + 8 <= pos && pos + 8 <= cap) {
                    memcpy(out + pos, out + from, 8);  // the bytes past k are written over next
                } else if (k <= 32 && from + 32 <= pos && pos + 32 <= cap) {
                    memcpy(out + pos, out + from, 16);
                    memcpy(out + pos + 16, out + from + 16, 16);
                } else if (from + k <= pos) {
                    memcpy(out + pos, out + from, k);
                } else {
                    for (size_t i = 0; i < k; ++i) out[pos + i] = out[from + i];
                }
            }
            prevPos = pos;
            prevLen = len;
            if (len >= room) {
                pos = cap;
                end = LzwEnd::Done;
                break;
            }
            pos += len;
            const int limit = oldStyle ? (1 << width) : (1 << width) - 1;
            if (next >= limit && width < 12) ++width;
        }
    }
    *produced = pos;
    return end;
}

LzwEnd lzwDecodeFlat(LzwTable* t, const uint8_t* in, size_t n, bool oldStyle, uint8_t* out, size_t cap, size_t* produced) {
    return oldStyle ? lzwDecodeFlatAs<true>(t, in, n, out, cap, produced) : lzwDecodeFlatAs<false>(t, in, n, out, cap, produced);
}

}  // namespace

Status TiffReader::rowThunk(void* datum, uint8_t* row) { return static_cast<TiffReader*>(datum)->onRow(row); }

// Data that end before the chunk's rows: the file was cut, or the chunk is damaged.
inline Status endedEarly(bool cut) { return cut ? ST_READ_ERROR : ST_CORRUPT; }

// Plain rows are read one at a time straight from the file, so a strip of
// any size needs no more memory than one row.
Status TiffReader::decodeRaw(uint32_t index, uint32_t units) {
    const uint32_t* offsets = reinterpret_cast<const uint32_t*>(offsets_.get());
    const uint64_t offset = offsets[index];
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    if (offset >= fileSize_ || fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return ST_READ_ERROR;
    for (uint32_t r = 0; r < units; ++r) {
        size_t got = fread(chunkRow_.get(), 1, rowBytes, f_);
        if (got < rowBytes) {
            // The last row begun: keep what there is of it.
            if (got > 0) {
                memset(chunkRow_.get() + got, 0, rowBytes - got);
                Status st = onRow(chunkRow_.get());
                if (st != ST_OK) return st;
            }
            return ST_READ_ERROR;
        }
        Status st = onRow(chunkRow_.get());
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

Status TiffReader::decodePackBits(size_t size, uint32_t units, bool cut) {
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    size_t consumed = 0;
    for (uint32_t r = 0; r < units; ++r) {
        memset(chunkRow_.get(), 0, rowBytes);
        PackBitsResult res = packBitsDecode(input_.get() + consumed, size - consumed, chunkRow_.get(), rowBytes);
        consumed += res.consumed;
        if (res.end == PackBitsEnd::EndOfInput) {
            if (res.produced > 0) {
                Status st = onRow(chunkRow_.get());
                if (st != ST_OK) return st;
            }
            return endedEarly(cut);
        }
        Status st = onRow(chunkRow_.get());
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// Chunks up to this size decode whole into one buffer, the fast way; larger
// ones (a picture stored as one strip) a row at a time through the table.
constexpr size_t LZW_FLAT_LIMIT = size_t{8} << 20;

namespace {

// How an LZW chunk decoded whole ends once its rows are delivered: complete,
// its codes bad, or cut short (the file ends there) or damaged.
Status lzwChunkEnded(Status delivered, bool complete, LzwEnd end, bool cut, bool* badLzw) {
    if (delivered != ST_OK || complete) return delivered;
    if (end == LzwEnd::BadCodes) {
        *badLzw = true;
        return ST_BAD_FILE;
    }
    return endedEarly(cut);
}

}  // namespace

Status TiffReader::decodeLzw(size_t size, uint32_t units, bool cut) {
    // Old-style data begin with a clear code written least significant bit first.
    if (!oldLzwKnown_) {
        oldLzw_ = size >= 2 && input_[0] == 0x00 && (input_[1] & 0x01);
        oldLzwKnown_ = true;
    }
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    const size_t chunkBytes = rowBytes * units;
    if (chunkBytes > 0 && chunkBytes <= LZW_FLAT_LIMIT) {
        if (chunkBytes > lzwChunkBytes_) {
            lzwChunk_ = allocBuffer(chunkBytes + ROW_SLACK);
            lzwChunkBytes_ = lzwChunk_ ? chunkBytes : 0;
            if (!lzwChunk_) return ST_NO_MEMORY;
        }
        size_t produced = 0;
        const LzwEnd end = lzwDecodeFlat(lzw_, input_.get(), size, oldLzw_, lzwChunk_.get(), chunkBytes, &produced);
        bool complete = false;
        Status st = deliverChunk(lzwChunk_.get(), produced, units, false, &complete);
        return lzwChunkEnded(st, complete, end, cut, &badLzw_);
    }
    RowAssembler rows(chunkRow_.get(), rowBytes, units, rowThunk, this);
    LzwEnd end = lzwDecode(lzw_, input_.get(), size, oldLzw_, &rows);
    if (rows.status() != ST_OK || rows.complete()) return rows.status();
    rows.flushPartial();
    return lzwChunkEnded(rows.status(), false, end, cut, &badLzw_);
}

// The rows of a chunk decoded whole (produced bytes of units rows), through
// onRow, or through placeRow when already prepared; a row begun but not
// finished is completed with zeros. *complete tells whether all units were there.
Status TiffReader::deliverChunk(uint8_t* chunk, size_t produced, uint32_t units, bool prepared, bool* complete) {
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    size_t rows = produced / rowBytes;
    if (rows < units && produced % rowBytes) {
        if (!prepared) memset(chunk + produced, 0, rowBytes - produced % rowBytes);
        ++rows;
    }
    for (size_t r = 0; r < rows; ++r) {
        uint8_t* row = chunk + r * rowBytes;
        Status st = prepared ? placeRow(row) : onRow(row);
        if (st != ST_OK) return st;
    }
    *complete = produced / rowBytes >= units;
    return ST_OK;
}

// ---- LZW strips side by side ---------------------------------------------------
// Strips are independent: on large pictures the compressed bytes of a few
// strips are read in file order, each strip is decoded and its rows'
// predictor undone by one worker, then the rows are delivered strip by strip,
// as the strips decoded one at a time would be, their ends included.

namespace {

struct LzwStrip {
    Buffer input;
    size_t inputCapacity = 0;
    size_t size = 0;
    bool cut = true;
    Buffer output;
    size_t outputCapacity = 0;
    size_t produced = 0;
    LzwEnd end = LzwEnd::Done;
    uint32_t plane = 0, y0 = 0, rows = 0, units = 0;
};

constexpr size_t STRIP_WINDOW_BYTES = size_t{6} << 20;  // decoded bytes in flight
constexpr int MAX_STRIP_WORKERS = 8;

}  // namespace

// The strips in flight, one slot each, and the workers' tables.
struct TiffReader::StripQueue {
    TiffReader* reader = nullptr;
    LzwStrip strips[MAX_ORDERED_WINDOW];
    LzwTable* tables[MAX_STRIP_WORKERS] = {};
};

// Whether strips are decoded side by side, and by how many workers (1: one at a time).
int TiffReader::lzwStripWorkers() const {
    if (tiled_ || d_.compression != COMP_LZW || across_ != 1 || chunkRowBytes_ == 0) return 1;
    const uint64_t stripRows = chunkLength_ < height_ ? chunkLength_ : height_;
    const uint64_t stripBytes = chunkRowBytes_ * ((stripRows + unitRows_ - 1) / unitRows_);
    if (stripBytes > LZW_FLAT_LIMIT) return 1;
    const uint64_t strips = static_cast<uint64_t>(down_) * planesToDecode_;
    const int workers = taskWorkers(strips > MAX_ORDERED_WINDOW ? MAX_ORDERED_WINDOW : static_cast<int>(strips),
                                    static_cast<int64_t>(width_) * height_);
    return workers > MAX_STRIP_WORKERS ? MAX_STRIP_WORKERS : workers;
}

// Reads the compressed bytes of strip `item` (in file order: plane by plane).
Status TiffReader::loadStrip(void* data, int64_t item, int slot) {
    StripQueue* q = static_cast<StripQueue*>(data);
    TiffReader& r = *q->reader;
    LzwStrip& s = q->strips[slot];
    const uint64_t next = static_cast<uint64_t>(item);
    s.plane = static_cast<uint32_t>(next / r.down_);
    const uint32_t b = static_cast<uint32_t>(next % r.down_);
    const uint64_t index = static_cast<uint64_t>(s.plane) * r.down_ + b;
    if (index >= r.offsetCount_) return ST_CORRUPT;  // the directory lists too few strips
    s.y0 = b * r.chunkLength_;
    s.rows = r.height_ - s.y0 < r.chunkLength_ ? r.height_ - s.y0 : r.chunkLength_;
    s.units = (s.rows + r.unitRows_ - 1) / r.unitRows_;
    const size_t bytes = static_cast<size_t>(r.chunkRowBytes_) * s.units;
    Status st = r.loadChunkInto(static_cast<uint32_t>(index), bytes, &s.input, &s.inputCapacity, &s.size, &s.cut);
    if (st != ST_OK) return st;
    if (bytes > s.outputCapacity) {
        s.output = allocBuffer(bytes + ROW_SLACK);
        s.outputCapacity = s.output ? bytes : 0;
        if (!s.output) return ST_NO_MEMORY;
    }
    if (!r.oldLzwKnown_) {
        // Old-style data begin with a clear code written least significant bit first.
        r.oldLzw_ = s.size >= 2 && s.input[0] == 0x00 && (s.input[1] & 0x01);
        r.oldLzwKnown_ = true;
    }
    return ST_OK;
}

// Decodes a strip whole and undoes its rows' predictor (on any thread).
void TiffReader::decodeStrip(void* data, int slot, int worker) {
    StripQueue* q = static_cast<StripQueue*>(data);
    const TiffReader& r = *q->reader;
    LzwStrip& s = q->strips[slot];
    const size_t rowBytes = static_cast<size_t>(r.chunkRowBytes_);
    s.produced = 0;
    s.end = lzwDecodeFlat(q->tables[worker], s.input.get(), s.size, r.oldLzw_, s.output.get(), rowBytes * s.units,
                          &s.produced);
    size_t rows = s.produced / rowBytes;
    if (rows < s.units && s.produced % rowBytes) {
        memset(s.output.get() + s.produced, 0, rowBytes - s.produced % rowBytes);
        ++rows;
    }
    for (size_t k = 0; k < rows; ++k) r.prepareRow(s.output.get() + k * rowBytes);
}

// The decoded strip's rows, the strip ending as it would decoded alone.
Status TiffReader::deliverStrip(void* data, int64_t, int slot) {
    StripQueue* q = static_cast<StripQueue*>(data);
    TiffReader& r = *q->reader;
    const LzwStrip& s = q->strips[slot];
    r.plane_ = r.out_ == Output::ChannelPlanes ? static_cast<int>(s.plane) : -1;
    r.chunkX0_ = 0;
    r.chunkY0_ = s.y0;
    r.chunkValidWidth_ = r.width_ < r.chunkWidth_ ? r.width_ : r.chunkWidth_;
    r.chunkValidRows_ = s.rows;
    r.chunkRowIndex_ = 0;
    bool complete = false;
    Status st = r.deliverChunk(s.output.get(), s.produced, s.units, true, &complete);
    return lzwChunkEnded(st, complete, s.end, s.cut, &r.badLzw_);
}

Status TiffReader::decodeLzwStrips(int workers) {
    Buffer ownTables[MAX_STRIP_WORKERS];
    StripQueue queue;
    queue.reader = this;
    queue.tables[0] = lzw_;
    for (int w = 1; w < workers; ++w) {
        ownTables[w] = allocBuffer(sizeof(LzwTable));
        if (!ownTables[w]) return ST_NO_MEMORY;
        memset(ownTables[w].get(), 0, sizeof(LzwTable));
        queue.tables[w] = reinterpret_cast<LzwTable*>(ownTables[w].get());
    }
    const uint64_t stripRows = chunkLength_ < height_ ? chunkLength_ : height_;
    const size_t stripBytes = static_cast<size_t>(chunkRowBytes_) * static_cast<size_t>((stripRows + unitRows_ - 1) / unitRows_);
    size_t window = STRIP_WINDOW_BYTES / stripBytes;
    if (window < 2 * static_cast<size_t>(workers)) window = 2 * static_cast<size_t>(workers);
    if (window > MAX_ORDERED_WINDOW) window = MAX_ORDERED_WINDOW;
    const OrderedWork work{loadStrip, decodeStrip, deliverStrip, &queue};
    return runOrdered(static_cast<int64_t>(down_) * planesToDecode_, static_cast<int>(window), workers, work);
}

Status TiffReader::decodeDeflate(size_t size, uint32_t units, bool cut) {
    RowAssembler rows(chunkRow_.get(), static_cast<size_t>(chunkRowBytes_), units, rowThunk, this);
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return ST_NO_MEMORY;
    z.next_in = input_.get();
    z.avail_in = static_cast<uInt>(size);
    int zr = Z_OK;
    while (!rows.done()) {
        z.next_out = rows.space();
        z.avail_out = static_cast<uInt>(rows.room());
        zr = inflate(&z, Z_NO_FLUSH);
        size_t produced = rows.room() - z.avail_out;
        if (produced) rows.commit(produced);
        if (zr == Z_STREAM_END || (zr != Z_OK && zr != Z_BUF_ERROR)) break;
        if (produced == 0) break;  // no input left
    }
    inflateEnd(&z);
    if (rows.status() != ST_OK) return rows.status();
    if (rows.complete()) return ST_OK;
    rows.flushPartial();
    if (rows.status() != ST_OK) return rows.status();
    if (zr == Z_DATA_ERROR || zr == Z_NEED_DICT || zr == Z_STREAM_END) return ST_CORRUPT;
    return endedEarly(cut);
}

Status TiffReader::decodeCcitt(size_t size, uint32_t units) {
    ccitt_.beginStrip(input_.get(), size);
    const size_t rowBytes = static_cast<size_t>(chunkRowBytes_);
    for (uint32_t r = 0; r < units; ++r) {
        CcittRow result = ccitt_.decodeRow(chunkRow_.get());
        if (result == CcittRow::EndOfBlock) {
            // The page ends here: the rows left are white.
            memset(chunkRow_.get(), 0xFF, rowBytes);
            for (; r < units; ++r) {
                Status st = onRow(chunkRow_.get());
                if (st != ST_OK) return st;
            }
            return ST_OK;
        }
        Status st = onRow(chunkRow_.get());
        if (st != ST_OK) return st;
        if (result == CcittRow::Premature) return ST_READ_ERROR;
        // Group 4 rows hang on each other: after a bad code nothing more can be trusted.
        if (result == CcittRow::Repaired && d_.compression == COMP_CCITT_G4) return ST_CORRUPT;
    }
    return ST_OK;
}

// SGI LogL and 32-bit LogLuv: each row is stored as byte planes (the high
// bytes of every pixel first), each plane run-length coded: a byte of 128 or
// more is followed by one byte repeated (n - 126) times, a smaller byte n by
// n literal bytes.
Status TiffReader::decodeSgiLog(size_t size, uint32_t units, bool cut) {
    const bool logL = model_ == Model::LogL;
    const int bytesPerPixel = logL ? 2 : 4;
    const uint32_t n = chunkWidth_;
    const uint8_t* p = input_.get();
    size_t left = size;
    uint8_t* row = chunkRow_.get();
    for (uint32_t r = 0; r < units; ++r) {
        memset(row, 0, static_cast<size_t>(chunkRowBytes_));
        bool complete = true;
        for (int plane = 0; plane < bytesPerPixel && complete; ++plane) {
            // Byte `plane` of each pixel, most significant first; pixels are
            // stored in the row as native 16 or 32-bit words.
            const int shift = 8 * (bytesPerPixel - 1 - plane);
            uint32_t i = 0;
            while (i < n) {
                if (left == 0) {
                    complete = false;
                    break;
                }
                int c = *p++;
                --left;
                if (c >= 128) {
                    if (left == 0) {
                        complete = false;
                        break;
                    }
                    uint32_t run = static_cast<uint32_t>(c) - 126;
                    uint32_t value = *p++;
                    --left;
                    for (; run > 0 && i < n; --run, ++i) {
                        if (logL) reinterpret_cast<uint16_t*>(row)[i] |= static_cast<uint16_t>(value << shift);
                        else reinterpret_cast<uint32_t*>(row)[i] |= value << shift;
                    }
                } else {
                    uint32_t count = static_cast<uint32_t>(c);
                    for (; count > 0 && i < n; --count, ++i) {
                        if (left == 0) break;
                        uint32_t value = *p++;
                        --left;
                        if (logL) reinterpret_cast<uint16_t*>(row)[i] |= static_cast<uint16_t>(value << shift);
                        else reinterpret_cast<uint32_t*>(row)[i] |= value << shift;
                    }
                    if (count > 0 && left == 0 && i < n) {
                        complete = false;
                        break;
                    }
                }
            }
        }
        Status st = onRow(row);
        if (st != ST_OK) return st;
        if (!complete) return endedEarly(cut);
    }
    return ST_OK;
}

// JPEG strips and tiles: each holds a whole JPEG stream (abbreviated, its
// tables in JPEGTables), whose frame must fit the chunk.
void jpegConfigure(void* datum, jpeg_decompress_struct* cinfo) {
    TiffReader* r = static_cast<TiffReader*>(datum);
    const uint32_t w = cinfo->image_width, h = cinfo->image_height;
    if (w < r->chunkValidWidth_ || w > r->chunkWidth_ || h < r->chunkValidRows_ ||
        h > (r->chunkLength_ > r->chunkValidRows_ ? r->chunkLength_ : r->chunkValidRows_) ||
        static_cast<uint32_t>(cinfo->num_components) != r->jpegComponents_) {
        r->jpegMismatch_ = true;
        return;
    }
    switch (r->jpegComponents_) {
    case 1:
        cinfo->jpeg_color_space = JCS_GRAYSCALE;
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case 3:
        cinfo->jpeg_color_space = r->model_ == Model::YCbCr && !r->separate_ ? JCS_YCbCr : JCS_RGB;
        cinfo->out_color_space = JCS_RGB;
        break;
    case 4:
        if (r->model_ == Model::Cmyk) {
            cinfo->jpeg_color_space = JCS_CMYK;
            cinfo->out_color_space = JCS_CMYK;
            break;
        }
        [[fallthrough]];
    default:  // colour and alpha: the components as they stand
        cinfo->jpeg_color_space = JCS_UNKNOWN;
        cinfo->out_color_space = JCS_UNKNOWN;
        break;
    }
}

Status jpegRow(void* datum, const uint8_t* row, int32_t y, const jpeg_decompress_struct* cinfo) {
    TiffReader* r = static_cast<TiffReader*>(datum);
    if (r->jpegMismatch_) return ST_BAD_FILE;
    // The data ended: libjpeg would go on with grey rows.
    if (cinfo->err->num_warnings > 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) return ST_READ_ERROR;
    if (y < 0 || static_cast<uint32_t>(y) >= r->chunkValidRows_) return ST_OK;
    size_t bytes = static_cast<size_t>(cinfo->output_width) * cinfo->output_components;
    if (bytes > r->chunkRowBytes_) bytes = static_cast<size_t>(r->chunkRowBytes_);
    memset(r->chunkRow_.get(), 0, static_cast<size_t>(r->chunkRowBytes_));
    memcpy(r->chunkRow_.get(), row, bytes);
    return r->onRow(r->chunkRow_.get());
}

Status TiffReader::decodeJpeg(size_t size, uint32_t rows) {
    if (model_ == Model::Palette) return ST_CORRUPT;
    jpegComponents_ = spp_;
    JpegScanlineJob job;
    job.tables = jpegTables_.get();
    job.tablesSize = jpegTablesSize_;
    job.data = input_.get();
    job.size = size;
    job.flags = request_->flags;
    job.configure = jpegConfigure;
    job.row = jpegRow;
    job.datum = this;
    jpegMismatch_ = false;
    Status st = jpegDecodeScanlines(job);
    if (st == ST_OK && chunkRowIndex_ < rows) st = ST_READ_ERROR;
    return st;
}

}  // namespace tiffreader
