#include "opsupport.h"

#include <cstring>

bool opImageValid(const Image* image) {
    if (!image || !image->pixels || image->width < 1 || image->height < 1) return false;
    switch (image->kind) {
    case IMG_BINARY:
    case IMG_GREY:
    case IMG_RGB:
    case IMG_RGB32:
    case IMG_BGR:
    case IMG_BGR32:
        break;
    case IMG_PALETTE:
        if (!image->palette) return false;
        break;
    default:
        return false;
    }
    if (image->bytesPerPixel != kindBytesPerPixel(image->kind)) return false;
    return static_cast<int64_t>(image->stride) >= static_cast<int64_t>(image->bytesPerPixel) * image->width;
}

ChannelOffsets channelOffsets(uint16_t kind) {
    switch (kind) {
    case IMG_RGB: return {0, 1, 2, -1};
    case IMG_RGB32: return {0, 1, 2, 3};
    case IMG_BGR: return {2, 1, 0, -1};
    case IMG_BGR32: return {3, 2, 1, 0};
    default: return {0, 0, 0, -1};
    }
}

int greyLevels(const Image* image) {
    if (image->kind == IMG_BINARY) return 2;
    if (image->colours <= 1 || image->colours > 256) return 256;
    return image->colours;
}

void greySpreadTable(const Image* image, uint8_t spread[256]) {
    if (image->kind == IMG_BINARY) {
        spread[0] = 0;
        for (int v = 1; v < 256; ++v) spread[v] = 255;
        return;
    }
    int k = greyLevels(image);
    for (int v = 0; v < 256; ++v) spread[v] = v >= k ? 255 : static_cast<uint8_t>(v * 255 / (k - 1));
}

bool createResult(Image* result, const Image* source, uint16_t kind) {
    if (!createImage(result, kind, source->alignment, source->width, source->height)) return false;
    result->orientation = source->orientation;
    result->xdpi = source->xdpi;
    result->ydpi = source->ydpi;
    return true;
}

void commitResult(Image* source, Image* destination, Image* result) {
    Image* target = (destination && destination != source) ? destination : source;
    freeImage(target);
    *target = *result;
    result->pixels = nullptr;
    result->palette = nullptr;
}
