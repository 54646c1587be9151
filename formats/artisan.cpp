// Artisan pictures (.art), of a workstation paint program: recognised, not
// decoded. A file starts with the 32-bit number 0x42F00F24 and the picture's
// type (1: 24-bit, 2: 8-bit with a colour map, 3: 24-bit with a matte), both
// in the byte order of the machine that wrote it. Nothing of the rest of the
// layout is known, so the reader names the file and refuses it. Every other
// .art file (Art Director screens and the like) fails the test and goes on
// to its own reader.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

constexpr uint32_t ARTISAN_MAGIC = 0x42F00F24;
constexpr size_t ARTISAN_HEAD = 8;
const char MSG_UNSUPPORTED[] = "Artisan : Unsupported format !";

// Sizes of Atari ST screen files that share the extension: never Artisan.
bool stScreenSize(int64_t size) { return size == 32000 || size == 32032 || size == 32512; }

}  // namespace

bool acceptArtisan(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < ARTISAN_HEAD || stScreenSize(fileSize)) return false;
    uint32_t type;
    if (loadU32BE(head) == ARTISAN_MAGIC) type = loadU32BE(head + 4);
    else if (loadU32LE(head) == ARTISAN_MAGIC) type = loadU32LE(head + 4);
    else return false;
    return type >= 1 && type <= 3;
}

Status readArtisan(FILE* stream, LoadRequest* request) {
    uint8_t b[ARTISAN_HEAD];
    if (!readBlock(stream, b, sizeof b) || !acceptArtisan(b, sizeof b, request->fileSize)) return ST_UNKNOWN_FORMAT;
    setReaderMessage(request, MSG_UNSUPPORTED);
    return ST_BAD_FILE;
}
