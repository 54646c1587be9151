// Kaleocore inside the library: the public interface (include/kaleocore) and
// what the registry and the codecs share beyond it.
#pragma once
#include <cstdint>
#include <cstdio>

#include "codec.h"
#include "image.h"
#include "kaleocore/kaleocore.h"
#include "status.h"

struct LoadRequest {
    char fileName[FILE_NAME_LEN];
    int64_t fileSize;
    uint16_t flags;
    int16_t readerParameter1;
    int16_t readerParameter2;
    int16_t rawParameter;
    int16_t rawLayout;
    int32_t rawWidth;
    int32_t rawHeight;
    int32_t rawOffset;
    int32_t pageIndex;
    int32_t pageCount;        // 1 on entry; multi-image readers store their count
    char message[MESSAGE_LEN];
};

struct SaveRequest {
    char fileName[FILE_NAME_LEN];
    uint16_t kind;            // 0x0F00 for any true colour, else the image's kind
    int16_t bitsPerPixel;     // 24, 32 or 8
    int32_t width;
    int32_t height;
    int16_t colours;
    int16_t xdpi;
    int16_t ydpi;
    uint16_t flags;
    int16_t writerOption1;
    int16_t writerOption2;
    int16_t writerOption3;
    const WriteVariant* variant;
};

using ReaderFn = Status (*)(FILE* stream, LoadRequest* request);
// Whether the first bytes of a file (n of them, ACCEPT_HEAD_BYTES or fewer
// when the file is shorter; the file's size too, 0 when unknown) may be of a
// format. The registry asks before it runs the format's reader, by extension,
// by index or in the trial pass, so a reader sees only files its test took.
// Cheap and without side effects: the trial pass asks every format in turn.
using AcceptFn = bool (*)(const uint8_t* head, size_t n, int64_t fileSize);
constexpr size_t ACCEPT_HEAD_BYTES = 2048;
using WriterFn = Status (*)(FILE* stream, SaveRequest* request);

// How many bytes of decoded picture one byte of a file may give at most. A
// header that claims more than its file can hold (a few hundred bytes that
// claim 15999 x 15999) is refused before anything is allocated, as a file cut
// short. The default suits formats stored plain or with byte runs, with room
// for files cut short; formats with dictionary, entropy or fax coding name
// their own.
constexpr uint32_t RATIO_RUNS = 512;         // plain rows, PackBits and other byte runs
constexpr uint32_t RATIO_DICTIONARY = 4096;  // LZW
constexpr uint32_t RATIO_ENTROPY = 8192;     // deflate, JPEG, fax and JBIG coding
// Whatever the ratio, a picture of this many bytes may come from any file: a
// blank A4, Letter or Legal page scanned at 600 dpi (up to 43 million pixels)
// takes a few hundred bytes of fax coding. A small file costs no more.
constexpr uint64_t PICTURE_BYTES_FLOOR = uint64_t(48) << 20;

struct FormatRecord {
    int32_t trial;
    const char* shortName;
    const char* description;
    ReaderFn reader;
    WriterFn writer;                        // null when the format cannot be written
    const char* extensions[MAX_EXTENSIONS];  // ends at the first null
    WriteVariant modes[MAX_WRITE_VARIANTS];  // ends at the first mask 0xFFFF
    AcceptFn accept = nullptr;              // the format's identification test, or null
    uint32_t maxRatio = 0;                  // RATIO_*; 0 = RATIO_RUNS
    // False for a format whose reader only recognises its files and refuses
    // them with a reason (no public layout to decode): it takes part in
    // identification but is not offered as readable.
    bool decodes = true;
};

// Registry internals.
Status tryReaders(FILE* stream, int index, LoadRequest* request);
// The record itself, or null when index is out of range.
const FormatRecord* formatRecord(int index);
// True while a format still points at the placeholder reader of formats to come.
bool formatReaderIsPlaceholder(int index);

// Copies a reader's reason into a request (truncating to the field).
void setReaderMessage(LoadRequest* request, const char* message);
