// Small pictures built in memory for the image operation tests: every kind,
// deterministic contents, exact comparison and PPM output for the peers.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image.h"

namespace testpictures {

struct KindCase {
    const char* name;
    uint16_t kind;
};

// The seven kinds of picture.
inline const std::vector<KindCase>& allKinds() {
    static const std::vector<KindCase> kinds = {
        {"binary", IMG_BINARY}, {"grey", IMG_GREY}, {"palette", IMG_PALETTE}, {"rgb", IMG_RGB},
        {"rgb32", IMG_RGB32},   {"bgr", IMG_BGR},   {"bgr32", IMG_BGR32},
    };
    return kinds;
}

// A byte for (x, y, byte position) that makes neighbouring pixels differ.
inline uint8_t patternByte(int x, int y, int c) {
    return static_cast<uint8_t>((x * 37 + y * 91 + c * 53 + x * y * 7) & 0xFF);
}

// Builds a picture of the given kind with value(x, y, byte) in every byte
// (masked to 0/1 for black and white). Palette pictures get a palette whose
// entry i is (i, 255 - i, i * 7). The picture is row-aligned to alignment.
inline bool makePicture(Image* image, uint16_t kind, int32_t width, int32_t height,
                        const std::function<uint8_t(int, int, int)>& value = patternByte, int alignment = 4) {
    if (!createImage(image, kind, alignment, width, height)) return false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = imageRow(image, y);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < image->bytesPerPixel; ++c) {
                uint8_t v = value(x, y, c);
                row[x * image->bytesPerPixel + c] = kind == IMG_BINARY ? (v & 1) : v;
            }
    }
    if (kind == IMG_PALETTE) {
        for (int i = 0; i < 256; ++i) {
            image->palette[i] = static_cast<uint8_t>(i);
            image->palette[256 + i] = static_cast<uint8_t>(255 - i);
            image->palette[512 + i] = static_cast<uint8_t>(i * 7);
        }
    }
    image->xdpi = 300;
    image->ydpi = 150;
    image->orientation = OR_BOTTOM_UP;
    return true;
}

inline const uint8_t* pixelOf(const Image& image, int x, int y) {
    return imageRow(&image, y) + static_cast<size_t>(x) * image.bytesPerPixel;
}

// Empty when the two pictures have the same kind, size and pixel bytes,
// otherwise a description of the first difference.
inline std::string differences(const Image& a, const Image& b) {
    char text[160];
    if (a.kind != b.kind || a.width != b.width || a.height != b.height) {
        snprintf(text, sizeof text, "kind/size %#x %dx%d vs %#x %dx%d", a.kind, a.width, a.height, b.kind, b.width,
                 b.height);
        return text;
    }
    for (int y = 0; y < a.height; ++y)
        for (int k = 0; k < a.width * a.bytesPerPixel; ++k)
            if (imageRow(&a, y)[k] != imageRow(&b, y)[k]) {
                snprintf(text, sizeof text, "byte %d of row %d: %d vs %d", k, y, imageRow(&a, y)[k], imageRow(&b, y)[k]);
                return text;
            }
    return "";
}

// A copy of a picture (same kind, alignment, palette and fields).
inline bool copyPicture(const Image& source, Image* out) {
    if (!createImage(out, source.kind, source.alignment, source.width, source.height)) return false;
    for (int y = 0; y < source.height; ++y)
        memcpy(imageRow(out, y), imageRow(&source, y), static_cast<size_t>(source.width) * source.bytesPerPixel);
    if (source.palette && out->palette) memcpy(out->palette, source.palette, PALETTE_BYTES);
    out->colours = source.colours;
    out->xdpi = source.xdpi;
    out->ydpi = source.ydpi;
    out->orientation = source.orientation;
    return true;
}

// A photograph-like RGB picture: smooth gradients, a disc, stripes and a
// little deterministic grain, so that resampling and rotation errors show.
inline bool makePhoto(Image* image, int32_t width, int32_t height) {
    return makePicture(
        image, IMG_RGB, width, height,
        [width, height](int x, int y, int c) {
            double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            double dx = fx - 0.4, dy = fy - 0.55;
            bool disc = dx * dx + dy * dy < 0.06;
            int base = c == 0 ? static_cast<int>(255 * fx) : c == 1 ? static_cast<int>(255 * fy)
                                                                    : static_cast<int>(128 + 100 * (fx - fy));
            if (disc) base = 255 - base;
            if ((x / 5 + y / 7) % 9 == 0) base += 40;
            base += static_cast<int>((x * 7919 + y * 104729 + c * 31) % 11) - 5;
            return static_cast<uint8_t>(base < 0 ? 0 : base > 255 ? 255 : base);
        },
        1);
}

// Writes an RGB picture as a binary PPM.
inline bool writePpm(const std::string& path, const Image& image) {
    if (image.kind != IMG_RGB) return false;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    fprintf(f, "P6\n%d %d\n255\n", image.width, image.height);
    bool ok = true;
    for (int y = 0; y < image.height && ok; ++y)
        ok = fwrite(imageRow(&image, y), 3, image.width, f) == static_cast<size_t>(image.width);
    return fclose(f) == 0 && ok;
}

// As makePicture, stored top row first as files are read (orientation 0).
inline bool makeUpright(Image* image, uint16_t kind, int32_t width, int32_t height,
                        const std::function<uint8_t(int, int, int)>& value = patternByte) {
    if (!makePicture(image, kind, width, height, value)) return false;
    image->orientation = 0;
    return true;
}

}  // namespace testpictures
