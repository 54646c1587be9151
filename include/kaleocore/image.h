// The in-memory picture and its palette.
#pragma once
#include <cstddef>
#include <cstdint>

#include "export.h"

enum ImageKind : uint16_t {
    IMG_BINARY = 0x0001,   // one byte per pixel, 0 = black, 1 = white
    IMG_GREY = 0x0002,     // one byte per pixel, grey level, 0 = black
    IMG_PALETTE = 0x0004,  // one byte per pixel, index into the palette
    IMG_RGB = 0x0100,      // R, G, B
    IMG_RGB32 = 0x0200,    // R, G, B, X
    IMG_BGR = 0x0400,      // B, G, R
    IMG_BGR32 = 0x0800,    // X, B, G, R (the exact reverse of IMG_RGB32)
};

// Group masks, tested with a bitwise and.
constexpr uint16_t IMG_24BIT = 0x0500;
constexpr uint16_t IMG_32BIT = 0x0A00;
constexpr uint16_t IMG_TRUECOLOUR = 0x0F00;

// Orientation flags (image, raster and options words).
constexpr uint16_t OR_MIRRORED = 0x0001;   // rows run right to left
constexpr uint16_t OR_BOTTOM_UP = 0x0010;  // first row in the file is the bottom row

// 768 bytes: 256 reds, then 256 greens, then 256 blues.
constexpr int PALETTE_BYTES = 768;

struct Image {
    int32_t width;
    int32_t height;
    int32_t stride;          // bytes from one row to the next
    uint16_t kind;           // ImageKind
    int16_t bytesPerPixel;   // 1, 3 or 4
    int16_t alignment;       // row length multiple in bytes, at least 1
    uint16_t orientation;    // orientation word of the load options that produced the image
    int32_t xdpi;
    int32_t ydpi;
    int32_t colours;         // colours of an 8-bit kind; 0 for true colour
    uint8_t* palette;        // 768 bytes, IMG_PALETTE only
    uint8_t* pixels;         // stride x height bytes, row 0 at the top
};

// Allocates a zeroed image; returns 1 on success, 0 when the pixels cannot be allocated.
KALEOCORE_API int createImage(Image* image, uint16_t kind, int alignment, int32_t width, int32_t height);
// As createImage with the stride given and the kind stored as given; colours 0.
KALEOCORE_API int createImageStrided(Image* image, uint16_t kind, int32_t stride, int32_t width, int32_t height);
// Releases pixels and palette and clears both pointers; the other fields stay.
KALEOCORE_API void freeImage(Image* image);

inline uint8_t* imageRow(const Image* image, int32_t y) {
    return image->pixels + static_cast<ptrdiff_t>(y) * image->stride;
}

// True when a 4-byte image carries something in its fourth byte. Files without
// an alpha channel load with that byte 0, so writers store alpha only when this holds.
KALEOCORE_API bool imageHasAlpha(const Image* image);

// Bytes per pixel of a kind: 4 for 32-bit kinds, 3 for 24-bit kinds, else 1.
KALEOCORE_API int kindBytesPerPixel(uint16_t kind);

// Frees the image on every path unless released (the loader's guard).
class ImageGuard {
public:
    explicit ImageGuard(Image* image) : image_(image) {}
    ~ImageGuard() { if (image_) freeImage(image_); }
    void release() { image_ = nullptr; }
    ImageGuard(const ImageGuard&) = delete;
    ImageGuard& operator=(const ImageGuard&) = delete;
private:
    Image* image_;
};

// An Image that frees itself: for callers that own a picture for a scope.
struct OwnedImage : Image {
    OwnedImage() : Image{} {}
    ~OwnedImage() { freeImage(this); }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
};
