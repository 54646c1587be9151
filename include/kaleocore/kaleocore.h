// Kaleocore, the image-format library: identify, examine, load and save
// picture files in the formats of its registry.
//
//   #include <kaleocore/kaleocore.h>
//   OwnedImage image;
//   IoOptions options = defaultIoOptions();
//   if (loadImage("in.gif", &image, &options, nullptr) == ST_OK) {
//       char out[FILE_NAME_LEN] = "out.png";
//       options.formatIndex = static_cast<int16_t>(findFormat("png"));
//       saveImage(out, &image, &options);
//   }
//
// Loads and saves keep their state per thread: one load or save at a time
// in each thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "export.h"
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
// Loading: a picture stored whole in a regular file exactly as the picture
// holds it (plain PPM, PGM...) may take its pixels from a private,
// copy-on-write mapping of the file instead of a copy. The file must keep
// its length while the picture lives: for a program that converts and exits.
constexpr uint16_t OPT_MAP_FILE = 0x0020;
constexpr uint16_t OPT_SET_EXTENSION = 0x0040;
constexpr uint16_t OPT_NAME_IN_PLACE = 0x0080;
constexpr uint16_t OPT_PROGRESS_BAR = 0x0100;
constexpr uint16_t OPT_ACCEPT_DAMAGED = 0x0400;
constexpr uint16_t OPT_FAST_DECODE = 0x0800;
constexpr uint16_t OPT_NO_SCAN = 0x1000;
// Saving: the file receives the picture turned a quarter clockwise (right) or
// anticlockwise (left), as rotateImage by 90 or 270 degrees would leave it,
// without the turned copy. Both at once: no turn.
constexpr uint16_t OPT_TURN_RIGHT = 0x2000;
constexpr uint16_t OPT_TURN_LEFT = 0x4000;

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
KALEOCORE_API IoOptions defaultIoOptions();

struct WriteVariant {
    uint16_t kindMask;        // 0xFFFF ends the list
    int32_t width;            // -1 = any
    int32_t height;
    int32_t maxColours;
    const char* extension;    // null = the format's first extension
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
KALEOCORE_API int formatCount();
KALEOCORE_API int getFormatInfo(int index, FormatInfo* info);
KALEOCORE_API int findFormat(const char* shortName);
// Returns 1 when the format accepts the image (variant null for an empty list), 0 otherwise.
KALEOCORE_API int findWriteVariant(int index, const Image* image, const WriteVariant** variant);

// The most pixels a picture may have (width x height, before any shrinking);
// beyond it beginImage refuses the file as out of memory. Generous by default
// (larger than any picture of the largest sides); a caller may lower it. The
// limit belongs to the calling thread, as loads do.
KALEOCORE_API void setPixelLimit(uint64_t pixels);
KALEOCORE_API uint64_t pixelLimit();
constexpr uint64_t DEFAULT_PIXEL_LIMIT = uint64_t(1) << 28;

// Warnings of the codecs (a damaged file that still reads): the calling
// thread's handler receives the name of the file and the message; without a
// handler they go to the standard error stream as "FILE: message".
using WarningHandler = void (*)(const char* fileName, const char* message, void* datum);
KALEOCORE_API void setWarningHandler(WarningHandler handler, void* datum);

// Saving beside loading: a converter may write its output on a second thread
// while the picture still decodes, each row as soon as it is final.
// On the loading thread, the follower hears of the next loads' rows:
// follower(rows, picture, datum) with rows > 0 says rows 0 .. rows-1 of the
// picture hold their final bytes, and *picture is the record the load returns
// if it succeeds (the same at every call of one load). Only 24-bit true colour
// pictures whose rows arrive top first, in order, and need nothing more at the
// end are followed. Before reported rows are freed or written again (a failed
// load, a decoder starting over or going back), the follower gets
// FOLLOW_WITHDRAWN and must return only once nothing reads them any more; that
// load reports nothing after it. Null stops following.
constexpr int32_t FOLLOW_WITHDRAWN = -1;
using LoadFollower = void (*)(int32_t rows, const Image* picture, void* datum);
KALEOCORE_API void setLoadFollower(LoadFollower follower, void* datum);
// On the saving thread: the next saves read the picture's rows 0 .. rows-1
// only once gate(rows, datum) has returned; it returns how many rows may be
// read from then on (at least rows), or a negative number to stop the save
// (ST_STOPPED). Null: every row may be read.
using SaveGate = int32_t (*)(int32_t rows, void* datum);
KALEOCORE_API void setSaveGate(SaveGate gate, void* datum);

// Library entry points.
KALEOCORE_API Status loadImage(const char* fileName, Image* image, const IoOptions* options, FileInfo* info);
KALEOCORE_API Status readImageInfo(const char* fileName, int formatIndex, int scanFlag, FileInfo* info);
// fileName is changed in place under OPT_SET_EXTENSION | OPT_NAME_IN_PLACE; it
// must then hold FILE_NAME_LEN bytes.
KALEOCORE_API Status saveImage(char* fileName, Image* image, const IoOptions* options);
// Writes to an open, seekable stream (the caller closes it) as saveImage
// writes the file fileName: the name is the one the writer records in the
// file (a file written under a temporary name and renamed afterwards).
KALEOCORE_API Status saveImageToStream(FILE* stream, const char* fileName, Image* image, const IoOptions* options);

// Loads from an open, seekable stream (memory streams, fuzzing); the name
// drives identification by extension.
KALEOCORE_API Status loadImageFromStream(FILE* stream, const char* fileName, int64_t fileSize, Image* image,
                                         const IoOptions* options, FileInfo* info);

// The version line of the library, "Kaleocore Version 2.90".
KALEOCORE_API const char* libraryVersion();
