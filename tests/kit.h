// The test kit: what every codec test needs, in one include.
//   - temporary files, peers on PATH and shell commands with placeholders;
//   - reference decoders independent of our readers (readPnmReference,
//     readPeerPnm), pictures as R,G,B triplets (toRgb) and their comparison
//     within a tolerance (compareRgb);
//   - loading hand-made bytes as a given format (loadBytesAs), saving in a
//     format with writer options (saveAs) and round trips (roundTrip);
//   - deterministic pictures (patternP6 here; testpictures.h builds every kind).
// A codec test is a table of cases run through these, e.g.
//   for (const Case& c : cases) {
//       SCOPED_TRACE(c.name);
//       OwnedImage img;
//       EXPECT_EQ(loadBytesAs("ras", c.bytes, &img), c.status);
//   }
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "testutil.h"

namespace testutil {

// Whether the shared folder of independent sample files is there (tests that
// compare against it skip without it).
bool corpusPresent();
// A file of that folder, by its path inside it ("jpeg/testorig.jpg").
std::string corpusPath(const std::string& rel);
// Whether Debian's Python 3 with Pillow (python3-pil) is there.
bool havePillow();

// Integers appended to hand-made files, least significant byte first (LE) or
// most significant first (BE).
void putLE16(std::vector<uint8_t>* v, uint32_t x);
void putLE32(std::vector<uint8_t>* v, uint32_t x);
void putBE16(std::vector<uint8_t>* v, uint32_t x);
void putBE32(std::vector<uint8_t>* v, uint32_t x);


// A raw P4, P5 or P6 of any maximum as R,G,B triplets: samples scaled as
// value x 255 / maximum, P4 bits 1 black. The oracle for files that peers
// write or convert.
bool readPeerPnm(const std::string& path, Rgb* out, unsigned* maxvalOut);
// A deterministic picture with many colours, as a P6 with maximum 255.
std::vector<uint8_t> patternP6(int w, int h);
// The image's bytes row after row, without the row padding.
std::vector<uint8_t> pixelsOf(const Image& img);
// The fourth byte of every pixel of a 4-byte image, as a grey picture.
Rgb alphaOf(const Image& img);
// A shell command with its placeholders replaced, in order; errors go nowhere.
std::string shell(std::string cmd, const std::vector<std::pair<std::string, std::string>>& names);

// Saves with these options in the format named (flags, callbacks and writer
// options as the caller set them).
Status saveWithOptions(Image* image, const std::string& path, const char* shortName, IoOptions options);
// Saves in the format named, with its writer options.
Status saveAs(Image* image, const std::string& path, const char* shortName, int16_t option1 = 0,
              int16_t option2 = 0, int16_t option3 = 0);
// Saves in the format named and loads the file back into *back (freed first).
Status roundTrip(Image* image, const char* shortName, Image* back, int16_t option1 = 0, int16_t option2 = 0,
                 int16_t option3 = 0);

}  // namespace testutil
