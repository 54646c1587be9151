// Kaleocore: the public interface of the image-format library.
#pragma once
#include <cstdint>
#include <cstdio>

#include "codec.h"
#include "image.h"
#include "status.h"

constexpr int FORMAT_COUNT = 124;
constexpr int MAX_EXTENSIONS = 10;
constexpr int MAX_WRITE_VARIANTS = 10;
constexpr int MESSAGE_LEN = 64;
constexpr int FILE_NAME_LEN = 1024;

// IoOptions flags.
constexpr uint16_t OPT_VERBOSE = 0x0001;
constexpr uint16_t OPT_TRUECOLOUR = 0x0002;
constexpr uint16_t OPT_ODD_TO_24 = 0x0004;
constexpr uint16_t OPT_PREFER_32 = 0x0008;
constexpr uint16_t OPT_SET_EXTENSION = 0x0040;
constexpr uint16_t OPT_NAME_IN_PLACE = 0x0080;
constexpr uint16_t OPT_PROGRESS_BAR = 0x0100;
constexpr uint16_t OPT_ACCEPT_DAMAGED = 0x0400;
constexpr uint16_t OPT_FAST_DECODE = 0x0800;
constexpr uint16_t OPT_NO_SCAN = 0x1000;

// Kind masks of save modes.
constexpr uint16_t KIND_ANY_TRUECOLOUR = 0x0F00;
constexpr uint16_t WV_END = 0xFFFF;

// Called after each row with (row delivered, total rows, datum); nonzero stops.
using ProgressCallback = int (*)(int32_t row, int32_t total, void* datum);

struct IoOptions {
    uint16_t bgrOrder;
    int16_t formatIndex;      // -1 = identify automatically (load); the format to write (save)
    uint16_t orientation;     // OR_MIRRORED, OR_BOTTOM_UP
    uint16_t flags;           // OPT_*
    int32_t pageIndex;
    int32_t rawWidth;
    int32_t rawHeight;
    int32_t rawOffset;
    int16_t rawParameter;
    int16_t rawLayout;
    int16_t writerOption1;    // compression
    int16_t writerOption2;    // quality
    int16_t writerOption3;    // progressive / interlaced
    int16_t readerParameter1;
    int16_t readerParameter2;
    int16_t rowAlignment;
    int32_t streamBufferSize;
    int32_t maxWidth;         // bounded loading (thumbnails), 0 = none
    int32_t maxHeight;
    void* callbackDatum;
    ProgressCallback progressCallback;
};

// Options with automatic identification and nothing else set.
IoOptions defaultIoOptions();

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

struct WriteVariant {
    uint16_t kindMask;        // 0xFFFF ends the list
    int32_t width;            // -1 = any
    int32_t height;
    int32_t maxColours;
    const char* extension;    // null = the format's first extension
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

struct FileInfo {
    char formatName[512];
    int16_t formatIndex;
    uint16_t orientation;
    int32_t width;
    int32_t height;
    int16_t planes;
    int16_t bitsPerPlane;
    int32_t bytesPerPlane;
    int16_t xdpi;
    int16_t ydpi;
    int32_t pageCount;
    char message[MESSAGE_LEN];
    char compression[32];     // how the file codes its pixels: "none", "LZW", "RLE8", "JPEG"...
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
};

constexpr uint16_t CAP_READ = 1;
constexpr uint16_t CAP_WRITE = 2;

struct FormatInfo {
    char shortName[16];
    int16_t index;
    uint16_t capabilities;                  // CAP_READ | CAP_WRITE
    char description[256];
    char extensions[MAX_EXTENSIONS][16];
    WriteVariant modes[MAX_WRITE_VARIANTS];
};

// Registry.
int formatCount();
int getFormatInfo(int index, FormatInfo* info);
int findFormat(const char* shortName);
// Returns 1 when the format accepts the image (variant null for an empty list), 0 otherwise.
int findWriteVariant(int index, const Image* image, const WriteVariant** variant);
Status tryReaders(FILE* stream, int index, LoadRequest* request);
// The record itself, or null when index is out of range.
const FormatRecord* formatRecord(int index);
// True while a format still points at the placeholder reader of formats to come.
bool formatReaderIsPlaceholder(int index);

// The most pixels a picture may have (width x height, before any shrinking);
// beyond it beginImage refuses the file as out of memory. Generous by default
// (larger than any picture of the largest sides); a caller may lower it. The
// limit belongs to the calling thread, as loads do.
void setPixelLimit(uint64_t pixels);
uint64_t pixelLimit();
constexpr uint64_t DEFAULT_PIXEL_LIMIT = uint64_t(1) << 28;

// Warnings of the codecs (a damaged file that still reads): the calling
// thread's handler receives the name of the file and the message; without a
// handler they go to the standard error stream as "FILE: message".
using WarningHandler = void (*)(const char* fileName, const char* message, void* datum);
void setWarningHandler(WarningHandler handler, void* datum);

// Library entry points.
Status loadImage(const char* fileName, Image* image, const IoOptions* options, FileInfo* info);
Status readImageInfo(const char* fileName, int formatIndex, int scanFlag, FileInfo* info);
// fileName is changed in place under OPT_SET_EXTENSION | OPT_NAME_IN_PLACE; it
// must then hold FILE_NAME_LEN bytes.
Status saveImage(char* fileName, Image* image, const IoOptions* options);

// Loads from an open, seekable stream (memory streams, fuzzing); the name
// drives identification by extension.
Status loadImageFromStream(FILE* stream, const char* fileName, int64_t fileSize, Image* image,
                           const IoOptions* options, FileInfo* info);

// Copies a reader's reason into a request (truncating to the field).
void setReaderMessage(LoadRequest* request, const char* message);

// English reader messages and status names for command-line tools.
const char* libraryVersion();
