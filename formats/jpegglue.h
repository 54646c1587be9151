// The glue between libjpeg (IJG interface 62, as libjpeg-turbo provides it)
// and the codecs that carry JPEG streams: the JPEG codec itself, JPEG strips
// of TIFF files, camera files, DICOM files.
//
// - An error manager whose exit jumps back to the caller (setjmp/longjmp):
//   libjpeg never ends the program. A caller arms the jump with
//   setjmp(err.jump) in a function that holds no object with a destructor.
// - Sources: a stream from its current position (optionally limited to a
//   number of bytes) and a block of memory; both end a cut-off stream with
//   an end-of-image marker, so libjpeg fills the missing part, and say so in
//   the error manager: rows made of that filling are not delivered.
// - A stream destination.
// - jpegReadImage: decodes one whole stream into the image being loaded
//   (beginImage / putRows / endImage), the JPEG reader's whole algorithm.
// - jpegDecodeScanlines: decodes one stream and hands its scanlines to the
//   caller, for readers that deliver the rows themselves.
#pragma once
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "codec.h"
#include "kaleocore.h"

// libjpeg's standard error manager, its exit replaced by a jump to `jump`.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];  // the text of the error that jumped, empty before
    bool inputEnded;                // the source ran dry and an end marker was supplied
    bool dataMissing;               // ... and entropy-coded data were needed past it
    void (*defaultEmit)(j_common_ptr, int);
};

// Sets up `err` (trace level 0, warnings printed as libjpeg does) and returns
// the pointer to store in a decompressor's or compressor's `err`.
jpeg_error_mgr* jpegInitErrors(JpegErrorManager* err);

// Memory libjpeg may use for whole-image buffers (progressive and multi-scan
// files keep every coefficient): a small file claiming a huge picture fails
// instead of asking for gigabytes.
constexpr long JPEG_MEMORY_LIMIT = 256L << 20;
// Scans of one file; real files have a dozen at most.
constexpr int JPEG_MAX_SCANS = 500;

// Applies the limits above to a created decompressor.
void jpegLimitDecompressor(j_decompress_ptr cinfo);

// Reads the stream from its current position; `limit` bytes at most (0 = to
// the end). Allocated in the decompressor's permanent pool.
void jpegStreamSource(j_decompress_ptr cinfo, FILE* stream, uint64_t limit);
// Reads `size` bytes at `data`, which must outlive the decompression.
void jpegMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t size);
// Writes to the stream; a short write is a libjpeg error.
void jpegStreamDestination(j_compress_ptr cinfo, FILE* stream);

// One stream to decode into the image being loaded.
struct JpegReadJob {
    // The stream: a file from its current position (`limit` bytes, 0 = to the
    // end), or, when `stream` is null, `size` bytes of memory at `data`.
    FILE* stream = nullptr;
    uint64_t limit = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint16_t flags = 0;             // the load's flags; OPT_FAST_DECODE is used
    const char* name = nullptr;     // the variant's display name; null: by colour space as below
    bool allowCmyk = true;          // four-component streams (CMYK, YCCK) are accepted
    uint16_t orientation = 0;       // the raster's OR_* flags
    LoadRequest* request = nullptr; // where refusal messages go, or null
};

// Display names by output colour space.
extern const char JPEG_NAME_GREY[];   // "JPEG Grayscale"
extern const char JPEG_NAME_RGB[];    // "JPEG TrueColor"
extern const char JPEG_NAME_CMYK[];   // "JPEG CMYK"

// Decodes one stream into the image being loaded: grey streams as 8-bit grey,
// colour streams as 24-bit R,G,B, CMYK and YCCK streams as 32-bit inverted
// C,M,Y,K (the core makes R,G,B of them). A bounded load lets libjpeg scale
// the picture down by a multiple of 1/8 first, as far as the core's result
// stays the same. Returns:
// - ST_UNKNOWN_FORMAT for a libjpeg error before the picture is set up (not
//   JPEG, a damaged header);
// - ST_BAD_FILE (message in the request) for a size of 16000 or more, or a
//   component count other than 1, 3 and 4;
// - beginImage's status when it refuses, ST_INFO_ONLY when examining;
// - ST_CORRUPT after a libjpeg error while decoding (the rows decoded so far
//   stay, endImage has been called);
// - ST_STOPPED, or ST_OK.
Status jpegReadImage(const JpegReadJob& job);

// Receives one decoded scanline: `row` holds output_width x
// output_components bytes; `y` is the scanline's number.
using JpegRowFn = Status (*)(void* datum, const uint8_t* row, int32_t y, const jpeg_decompress_struct* cinfo);
// Called after the header is read and before decompression starts (output
// colour space, scaling...); may be null.
using JpegConfigureFn = void (*)(void* datum, jpeg_decompress_struct* cinfo);

struct JpegScanlineJob {
    const uint8_t* tables = nullptr;  // an abbreviated table-only stream read first, or null
    size_t tablesSize = 0;
    const uint8_t* data = nullptr;    // the image stream
    size_t size = 0;
    uint16_t flags = 0;               // OPT_FAST_DECODE
    JpegConfigureFn configure = nullptr;
    JpegRowFn row = nullptr;
    void* datum = nullptr;
};

// Decodes one stream from memory and hands every scanline to job.row. Returns
// ST_OK, the row receiver's first non-OK status, ST_NO_MEMORY, or
// ST_READ_ERROR after a libjpeg error (the rows handed over so far stand).
Status jpegDecodeScanlines(const JpegScanlineJob& job);
