// JPEG (JFIF and other baseline or progressive streams) through libjpeg.
//
// Reader: grey, colour (YCbCr or RGB) and CMYK/YCCK streams, decoded one
// scanline at a time into the scanline pipeline (jpegglue.h does the work).
// Writer: black-and-white and grey images as one grey component, true colour
// as three R,G,B components, at the requested quality, baseline tables, and
// progressive on request.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "jpegglue.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

const char NAME_WRITE[] = "Jpeg";

constexpr int JPEG_SOI_MARKER = 0xD8;

// Every JPEG stream starts with the start-of-image marker.
bool jpegSignature(FILE* f) {
    int a = getc(f);
    int b = getc(f);
    return a == 0xFF && b == JPEG_SOI_MARKER;
}

// Components written for an image kind: 1 for black and white and grey, 3 for
// true colour, 0 for kinds the format cannot hold.
int jpegComponents(uint16_t kind) {
    switch (kind) {
    case IMG_BINARY:
    case IMG_GREY: return 1;
    case KIND_ANY_TRUECOLOUR: return 3;
    default: return 0;
    }
}

}  // namespace

// Every JPEG stream starts with the start-of-image marker.
bool acceptJpeg(const uint8_t* head, size_t n, int64_t) { return n >= 2 && head[0] == 0xFF && head[1] == JPEG_SOI_MARKER; }

Status readJpeg(FILE* stream, LoadRequest* request) {
    const long start = ftell(stream);
    if (start < 0 || !jpegSignature(stream)) return ST_UNKNOWN_FORMAT;
    if (fseek(stream, start, SEEK_SET) != 0) return ST_READ_ERROR;
    JpegReadJob job;
    job.stream = stream;
    job.flags = request->flags;
    job.request = request;
    return jpegReadImage(job);
}

Status writeJpeg(FILE* stream, SaveRequest* request) {
    volatile const int components = jpegComponents(request->kind);
    if (components == 0) return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;

    JpegErrorManager err;
    jpeg_compress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpegInitErrors(&err);
    volatile bool created = false;
    volatile bool writing = false;  // between beginWrite and endWrite
    if (setjmp(err.jump)) {
        if (writing) endWrite();
        if (created) jpeg_destroy_compress(&cinfo);
        return ST_JPEG_ERROR;
    }
    jpeg_create_compress(&cinfo);
    created = true;
    jpegStreamDestination(&cinfo, stream);
    cinfo.image_width = static_cast<JDIMENSION>(request->width);
    cinfo.image_height = static_cast<JDIMENSION>(request->height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, request->writerOption2, TRUE);
    if (request->writerOption3) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);

    WriteHeader wh{};
    wh.layout = 0;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(8 * components);
    wh.bytesPerPlane = request->width * components;
    wh.paletteFormat = 0;
    setRasterName(wh.name, NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) {
        jpeg_destroy_compress(&cinfo);
        return st;
    }
    writing = true;
    for (int32_t y = 0; y < request->height && st == ST_OK; ++y) {
        st = getRows(-1, 1);
        if (st != ST_OK) break;
        JSAMPROW row = wh.rowBuffer;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    endWrite();
    writing = false;
    if (st == ST_OK) jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return st;
}
