// The PNG writer's fast path for 8-bit grey, RGB and RGBA pictures: rows are
// filtered adaptively (the filter whose bytes sum smallest, as libpng picks
// it) and deflated by libdeflate, the picture's rows shared out in bands, one
// per processor, whose streams are spliced into the single zlib stream of the
// IDAT chunks.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec.h"
#include "stream.h"

// rows holds height lines of 1 + rowBytes bytes: a byte for the filter type,
// then the row's samples; they are filtered in place. bpp: bytes per pixel
// (1, 3 or 4). level: 1 to 12; smooth bands (filtered bytes mostly zero) are
// deflated one level deeper, up to 9. On success *stream holds the zlib stream and
// *streamSize its length.
Status pngDeflateRows(uint8_t* rows, size_t rowBytes, int32_t height, int bpp, int level, Buffer* stream,
                      size_t* streamSize);

// Splices raw deflate streams (each complete, ending with a final block) into
// one: every stream but the last has its final flag cleared and ends with an
// empty stored block, so that the next starts on a byte boundary. parts[i] of
// sizes[i] bytes; the result goes to out (room for the sum of the sizes plus
// 5 bytes per part) and its length is returned, 0 when a part is not a valid
// deflate stream.
size_t spliceDeflateStreams(const uint8_t* const* parts, const size_t* sizes, int count, uint8_t* out);
