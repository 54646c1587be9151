// AIM grey pictures, .im / .ima (reader only, reached by extension or by
// choice).
//
// The pictures of AIM ("Another Image Manager", Atari ST, Archimedes and
// Amiga): no header, one byte a pixel, 0 black to 255 white, rows top first,
// the first byte the top-left corner. The picture is square: 65536 bytes
// (256 x 256) or 16384 bytes (128 x 128).
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_AIM[] = "AIM Grey Scale";

int32_t aimSide(int64_t fileSize) { return fileSize == 65536 ? 256 : fileSize == 16384 ? 128 : 0; }

}  // namespace

bool acceptAim(const uint8_t*, size_t, int64_t fileSize) { return aimSide(fileSize) != 0; }

Status readAim(FILE* stream, LoadRequest* request) {
    const int32_t side = aimSide(request->fileSize);
    if (side == 0) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = side;
    rh.height = side;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = side;
    setRasterName(rh.name, NAME_AIM);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, side, side);
    endImage(0, 0, nullptr);
    return st;
}
