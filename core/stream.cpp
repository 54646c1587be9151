#include "stream.h"

#include <climits>
#include <cstring>

#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif

void streamOfOneThread(FILE* f) {
#if defined(__GLIBC__)
    if (f) __fsetlocking(f, FSETLOCKING_BYCALLER);
#else
    (void)f;
#endif
}

FILE* openStream(const char* name, const char* mode, char* buffer, size_t bufferSize) {
    FILE* f;
    if (strcmp(name, "stdin") == 0) {
        f = stdin;
    } else if (strcmp(name, "stdout") == 0) {
        f = stdout;
    } else {
        f = fopen(name, mode[0] == 'w' ? "wb" : "rb");
        streamOfOneThread(f);
    }
    if (f && buffer && bufferSize > 0) setvbuf(f, buffer, _IOFBF, bufferSize);
    return f;
}

// A missing byte reads as -1, of which only the low 8 bits enter the result.
static inline uint32_t byteOrFF(FILE* f) { return static_cast<uint32_t>(getc(f)) & 0xFFu; }

uint16_t readU16LE(FILE* f) {
    uint32_t b0 = byteOrFF(f), b1 = byteOrFF(f);
    return static_cast<uint16_t>(b1 << 8 | b0);
}

uint16_t readU16BE(FILE* f) {
    uint32_t b0 = byteOrFF(f), b1 = byteOrFF(f);
    return static_cast<uint16_t>(b0 << 8 | b1);
}

uint32_t readU32LE(FILE* f) {
    uint32_t lo = readU16LE(f), hi = readU16LE(f);
    return hi << 16 | lo;
}

uint32_t readU32BE(FILE* f) {
    uint32_t hi = readU16BE(f), lo = readU16BE(f);
    return hi << 16 | lo;
}

void writeU16LE(FILE* f, uint32_t v) {
    putc(static_cast<int>(v & 0xFF), f);
    putc(static_cast<int>((v >> 8) & 0xFF), f);
}

void writeU16BE(FILE* f, uint32_t v) {
    putc(static_cast<int>((v >> 8) & 0xFF), f);
    putc(static_cast<int>(v & 0xFF), f);
}

void writeU32LE(FILE* f, uint32_t v) {
    writeU16LE(f, v & 0xFFFF);
    writeU16LE(f, v >> 16);
}

void writeU32BE(FILE* f, uint32_t v) {
    writeU16BE(f, v >> 16);
    writeU16BE(f, v & 0xFFFF);
}

static Status readFloat(FILE* f, double* out, bool bigEndian) {
    uint8_t b[4];
    if (fread(b, 1, 4, f) != 4) return ST_READ_ERROR;
    uint32_t bits = bigEndian ? loadU32BE(b) : loadU32LE(b);
    float v;
    memcpy(&v, &bits, sizeof v);
    *out = v;
    return ST_OK;
}

Status readFloatBE(FILE* f, double* out) { return readFloat(f, out, true); }
Status readFloatLE(FILE* f, double* out) { return readFloat(f, out, false); }

bool seekTo(FILE* f, uint64_t offset) {
    if (offset > static_cast<uint64_t>(LONG_MAX)) return false;
    if (fseek(f, static_cast<long>(offset), SEEK_SET) == 0) return true;
    long here = ftell(f);
    if (here < 0 || static_cast<uint64_t>(here) > offset) return false;
    return skipBytes(f, static_cast<long>(offset - static_cast<uint64_t>(here)));
}

bool skipBytes(FILE* f, long n) {
    if (n <= 0) return n == 0;
    if (fseek(f, n, SEEK_CUR) == 0) return true;
    // Pipes cannot seek: read the bytes instead.
    while (n-- > 0)
        if (getc(f) == EOF) return false;
    return true;
}
