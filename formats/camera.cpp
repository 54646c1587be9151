// Picture files of three early digital cameras (readers). Each wraps one JPEG
// stream, decoded exactly as a JPEG file is (jpegglue.h: same size check,
// same error handling, same fast-decode flag); they differ in where the
// stream starts and in the name of the variant.
//
// - Casio QV-10/100 (.cam): 07 20 4D 4D 00 03, the stream at offset 54.
// - Ricoh (.j6i): 80 3E "DSCIM", a big-endian 32-bit stream offset at 56.
// - Kodak DC120 (.kdc): the camera's name "Kodak DC120 ZOOM Digital Camera"
//   at offset 470, the compression byte at 707 (7: JPEG), the data from
//   offset 15680 with the two bytes of every 16-bit unit swapped. The first
//   unit stands for the start-of-image marker: the stream is rebuilt in
//   memory behind a JFIF prefix of our own.
// - Sega SJ-1 DIGIO (.sj1): a header of the camera's PC kit, unknown, then
//   the stream. Without a signature to test, only files named .sj1 are taken,
//   and only when a start-of-image marker followed by another marker lies in
//   their first 4 KB (a file that starts with one is a plain JPEG file).
#include <cctype>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "jpegglue.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

const char NAME_CASIO[] = "QV-10 Camera";
const char NAME_RICOH[] = "Ricoh Digital Camera";
const char NAME_DC120[] = "Kodak DC120 Digital Camera";
const char NAME_SJ1[] = "Sega SJ-1 DIGIO";
const char MSG_TOO_LARGE[] = "Kodak DC120 : File too large !";

constexpr uint8_t CASIO_MAGIC[6] = {0x07, 0x20, 0x4D, 0x4D, 0x00, 0x03};
constexpr long CASIO_STREAM_AT = 54;

constexpr uint8_t RICOH_MAGIC[7] = {0x80, 0x3E, 'D', 'S', 'C', 'I', 'M'};
constexpr long RICOH_OFFSET_AT = 56;

// The camera's name with its terminating zero, compared as a whole.
const char DC120_CAMERA[] = "Kodak DC120 ZOOM Digital Camera";
constexpr size_t DC120_CAMERA_AT = 470;
constexpr size_t DC120_COMPRESSION_AT = 707;
constexpr uint8_t DC120_JPEG = 7;
constexpr int64_t DC120_DATA_AT = 15680;
// Start of image and an APP0 "JFIF" segment: version 1.02, dots per inch,
// 100 x 75, no thumbnail.
constexpr uint8_t JFIF_PREFIX[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                                     0x00, 0x01, 0x02, 0x01, 0x00, 0x64, 0x00, 0x4B, 0x00, 0x00};
// The largest DC120 stream rebuilt in memory; the camera's files are far smaller.
constexpr int64_t DC120_MAX_DATA = int64_t{64} << 20;

// Where the SJ-1 stream may start: within this many bytes of the file.
constexpr size_t SJ1_SEARCH = 4096;

// Whether b[0..3] is a start-of-image marker followed by a marker that may
// open a stream (a frame, tables, an application segment, a comment).
bool jpegOpening(const uint8_t* b) {
    if (b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF) return false;
    const uint8_t m = b[3];
    return (m >= 0xC0 && m <= 0xC4) || m == 0xDB || m == 0xDD || (m >= 0xE0 && m <= 0xEF) || m == 0xFE;
}

// The offset of the first stream opening within n bytes, or -1.
long findJpegOpening(const uint8_t* b, size_t n) {
    for (size_t i = 0; i + 4 <= n; ++i)
        if (b[i] == 0xFF && jpegOpening(b + i)) return static_cast<long>(i);
    return -1;
}

bool namedSj1(const char* fileName) {
    const char* dot = strrchr(fileName, '.');
    if (!dot || strchr(dot, '/') || strchr(dot, '\\')) return false;
    const char* e = dot + 1;
    return strlen(e) == 3 && tolower(static_cast<unsigned char>(e[0])) == 's' &&
           tolower(static_cast<unsigned char>(e[1])) == 'j' && e[2] == '1';
}

Status decodeStream(FILE* f, const char* name, LoadRequest* request) {
    JpegReadJob job;
    job.stream = f;
    job.flags = request->flags;
    job.name = name;
    job.request = request;
    return jpegReadImage(job);
}

bool dc120Header(const uint8_t* head, size_t n) {
    return n > DC120_COMPRESSION_AT && memcmp(head + DC120_CAMERA_AT, DC120_CAMERA, sizeof DC120_CAMERA) == 0 &&
           head[DC120_COMPRESSION_AT] == DC120_JPEG;
}

}  // namespace

// ---- Casio QV-10/100 ------------------------------------------------------------

bool acceptCasio(const uint8_t* head, size_t n, int64_t) {
    return n >= sizeof CASIO_MAGIC && memcmp(head, CASIO_MAGIC, sizeof CASIO_MAGIC) == 0;
}

Status readCasio(FILE* stream, LoadRequest* request) {
    uint8_t magic[sizeof CASIO_MAGIC];
    if (!readBlock(stream, magic, sizeof magic) || memcmp(magic, CASIO_MAGIC, sizeof magic) != 0)
        return ST_UNKNOWN_FORMAT;
    if (fseek(stream, CASIO_STREAM_AT, SEEK_SET) != 0) return ST_READ_ERROR;
    return decodeStream(stream, NAME_CASIO, request);
}

// ---- Ricoh ---------------------------------------------------------------------

bool acceptRicoh(const uint8_t* head, size_t n, int64_t) {
    return n >= RICOH_OFFSET_AT + 4 && memcmp(head, RICOH_MAGIC, sizeof RICOH_MAGIC) == 0;
}

Status readRicoh(FILE* stream, LoadRequest* request) {
    uint8_t head[RICOH_OFFSET_AT + 4];
    if (!readBlock(stream, head, sizeof head) || memcmp(head, RICOH_MAGIC, sizeof RICOH_MAGIC) != 0)
        return ST_UNKNOWN_FORMAT;
    const uint32_t at = loadU32BE(head + RICOH_OFFSET_AT);
    // The stream lies past the header (else the offset is nonsense) and inside
    // the file (else the file is cut short).
    if (at < sizeof head) return ST_CORRUPT;
    if (at > 0x7FFFFFFF || (request->fileSize > 0 && at >= request->fileSize)) return ST_READ_ERROR;
    if (fseek(stream, static_cast<long>(at), SEEK_SET) != 0) return ST_READ_ERROR;
    return decodeStream(stream, NAME_RICOH, request);
}

// ---- Kodak DC120 ------------------------------------------------------------------

bool acceptDc120(const uint8_t* head, size_t n, int64_t fileSize) {
    return fileSize > DC120_DATA_AT - 1 && dc120Header(head, n);
}

Status readDc120(FILE* stream, LoadRequest* request) {
    const int64_t size = request->fileSize;
    uint8_t head[DC120_COMPRESSION_AT + 1];
    if (size < DC120_DATA_AT || !readBlock(stream, head, sizeof head) || !dc120Header(head, sizeof head))
        return ST_UNKNOWN_FORMAT;
    // The swapped units after the first, a trailing odd byte left out.
    int64_t units = (size - DC120_DATA_AT) / 2 - 1;
    if (units < 0) units = 0;
    if (2 * units > DC120_MAX_DATA) {
        setReaderMessage(request, MSG_TOO_LARGE);
        return ST_BAD_FILE;
    }
    const int64_t total = static_cast<int64_t>(sizeof JFIF_PREFIX) + 2 * units;
    Buffer data = allocBuffer(static_cast<uint64_t>(total));
    if (!data) return ST_NO_MEMORY;
    memcpy(data.get(), JFIF_PREFIX, sizeof JFIF_PREFIX);
    uint8_t* body = data.get() + sizeof JFIF_PREFIX;
    if (fseek(stream, static_cast<long>(DC120_DATA_AT + 2), SEEK_SET) != 0) return ST_READ_ERROR;
    // A file shorter than its size said keeps the whole units read.
    const size_t got = fread(body, 1, static_cast<size_t>(2 * units), stream) & ~static_cast<size_t>(1);
    for (size_t i = 0; i < got; i += 2) {
        const uint8_t a = body[i];
        body[i] = body[i + 1];
        body[i + 1] = a;
    }
    JpegReadJob job;
    job.data = data.get();
    job.size = sizeof JFIF_PREFIX + got;
    job.flags = request->flags;
    job.name = NAME_DC120;
    job.request = request;
    return jpegReadImage(job);
}

// ---- Sega SJ-1 DIGIO ---------------------------------------------------------------

// The opening lies in the first bytes, or further than they go (a longer file:
// the reader looks further).
bool acceptSj1(const uint8_t* head, size_t n, int64_t) {
    if (n < 4 || (head[0] == 0xFF && head[1] == 0xD8)) return false;
    return findJpegOpening(head, n) >= 0 || n == ACCEPT_HEAD_BYTES;
}

Status readSj1(FILE* stream, LoadRequest* request) {
    if (!namedSj1(request->fileName)) return ST_UNKNOWN_FORMAT;
    uint8_t head[SJ1_SEARCH];
    const size_t n = fread(head, 1, sizeof head, stream);
    if (n < 4 || (head[0] == 0xFF && head[1] == 0xD8)) return ST_UNKNOWN_FORMAT;
    const long at = findJpegOpening(head, n);
    if (at < 0 || fseek(stream, at, SEEK_SET) != 0) return ST_UNKNOWN_FORMAT;
    return decodeStream(stream, NAME_SJ1, request);
}
