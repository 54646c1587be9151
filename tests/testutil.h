// Helpers shared by the tests: temporary files, peer programs, reference pictures.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "kaleocore.h"

namespace testutil {

// A fresh path inside this test run's temporary folder.
std::string tempPath(const std::string& name);
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool readFile(const std::string& path, std::vector<uint8_t>* bytes);

// Runs a shell command; returns its exit status (-1 when it could not run).
int run(const std::string& command);
// True when a program is on PATH.
bool haveProgram(const std::string& name);

// A decoded reference picture in plain 8-bit R,G,B triplets.
struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 3
};

// Reads a binary PPM (P6) or PGM (P5) with maxval 255 as written by netpbm or
// ImageMagick; grey is expanded to triplets. Independent of our own reader.
bool readPnmReference(const std::string& path, Rgb* out);
// Any Image as R,G,B triplets (palette, grey, binary and the four true-colour kinds).
Rgb toRgb(const Image& image);
// Number of bytes that differ by more than tolerance, or -1 when the sizes differ.
long compareRgb(const Rgb& a, const Rgb& b, int tolerance = 0);

// Loads a file with default options (plus the given flags).
Status load(const std::string& path, Image* image, uint16_t flags = 0, FileInfo* info = nullptr);

// Writes bytes to a fresh temporary file and loads it as the format named
// (forced, not identified), with the given flags. The picture already in
// *image (zeroed or loaded before) is freed first.
Status loadBytesAs(const char* shortName, const std::vector<uint8_t>& bytes, Image* image, uint16_t flags = 0,
                   FileInfo* info = nullptr);
// The same under a file name ending with name (for readers that go by the
// extension), loading page page.
Status loadBytesNamed(const char* shortName, const std::string& name, const std::vector<uint8_t>& bytes, Image* image,
                      FileInfo* info = nullptr, int page = 0);

}  // namespace testutil
