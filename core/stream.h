// Byte streams: the standard runtime's buffered FILE streams opened in binary
// mode, plus the endian helpers every codec shares, and the memory helpers.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "status.h"

// Opens "stdin" / "stdout" as the standard streams, any other name as a file
// with mode "rb" or "wb". A non-null buffer sets full buffering with it.
FILE* openStream(const char* name, const char* mode, char* buffer, size_t bufferSize);
// Once a process has started a thread, every getc and putc takes the stream's
// lock. A stream that one thread at a time reads or writes (the file a load
// or a save opened for itself) can go without: openStream does so for the
// files it opens, not for the standard streams.
void streamOfOneThread(FILE* f);

// The multi-byte helpers cannot report the end of the file: each missing byte
// reads as 0xFF. Codecs check the values for plausibility instead.
uint16_t readU16LE(FILE* f);
uint16_t readU16BE(FILE* f);
uint32_t readU32LE(FILE* f);
uint32_t readU32BE(FILE* f);
void writeU16LE(FILE* f, uint32_t v);
void writeU16BE(FILE* f, uint32_t v);
void writeU32LE(FILE* f, uint32_t v);
void writeU32BE(FILE* f, uint32_t v);
// Reads an IEEE single; returns ST_READ_ERROR (output unchanged) when fewer than 4 bytes remain.
Status readFloatBE(FILE* f, double* out);
Status readFloatLE(FILE* f, double* out);

inline uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// Reads exactly n bytes; false on a short read.
inline bool readBlock(FILE* f, void* dst, size_t n) { return fread(dst, 1, n, f) == n; }
inline bool writeBlock(FILE* f, const void* src, size_t n) { return fwrite(src, 1, n, f) == n; }
// Skips n bytes forward; false when the stream cannot move.
bool skipBytes(FILE* f, long n);
// Positions the stream at an absolute offset, reading forward where it
// cannot seek; false for an offset behind a stream that cannot go back, or
// beyond what the stream functions can address.
bool seekTo(FILE* f, uint64_t offset);

// Unaligned little/big-endian loads from memory.
inline uint16_t loadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint16_t loadU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t loadU32LE(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t loadU32BE(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline void storeU32BE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
struct FileCloser {
    void operator()(FILE* f) const { if (f && f != stdin && f != stdout) fclose(f); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;
using StreamPtr = std::unique_ptr<FILE, FileCloser>;

// Zeroed allocation of n bytes (n computed in 64 bits by the caller); empty on failure or n == 0 overflow.
inline Buffer allocBuffer(uint64_t n) {
    if (n == 0) n = 1;
    if (n > SIZE_MAX / 2) return Buffer();
    return Buffer(static_cast<uint8_t*>(calloc(static_cast<size_t>(n), 1)));
}

// a * b without overflow past limit; false when it would exceed it.
inline bool mulFits(uint64_t a, uint64_t b, uint64_t limit, uint64_t* out) {
    if (a != 0 && b > limit / a) return false;
    *out = a * b;
    return true;
}
