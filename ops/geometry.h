// Geometry: flips, quarter turns, free rotation, resizing, cropping and canvas
// size. Every operation moves whole pixels and keeps the kind, the palette, the
// colour count and the orientation word of its source. The result replaces
// destination when one is given (its old pixels are freed), otherwise the
// source, whose pixels are freed. On any failure nothing changes: ST_NO_MEMORY
// when memory runs out, ST_KIND_REFUSED for a record without a readable
// picture, ST_OP_BAD_PARAMETER for a parameter outside its range.
#pragma once
#include <cstdint>

#include "image.h"
#include "optable.h"
#include "status.h"

// Top row to bottom ("Verticale").
Status flipVertical(Image* source, Image* destination);
// Left column to right ("Horizontale").
Status mirrorHorizontal(Image* source, Image* destination);

// Rotation by angle degrees, clockwise on screen. 90 and -90 (270) are exact
// quarter turns, 0 a copy and 180 an exact half turn; any other angle is a free
// rotation into the bounding box of the turned picture (at most 15999 pixels a
// side, cut around the centre), the uncovered corners black (index 0).
Status rotateImage(Image* source, Image* destination, int angle);

// Resizing to width x height, each clamped to 1..15999. method is
// RESAMPLE_NEAREST or RESAMPLE_AREA (area averaging when shrinking, linear
// interpolation when enlarging); palette images always use the nearest pixel.
// Any other method is refused.
Status resizeImage(Image* source, Image* destination, int32_t width, int32_t height, int method);

// Resizing with a Lanczos-3 filter (stretched to the shrink factor), the
// quality resize of thumbnails: grey and true-colour pictures (an alpha channel
// too); palette pictures take the nearest pixel and bitmaps the area average.
Status resizeSmooth(Image* source, Image* destination, int32_t width, int32_t height);

// Cropping to the rectangle (x, y, width, height): a negative width or height
// turns the rectangle round its x or y, the rectangle is intersected with the
// picture, and an empty intersection is refused.
Status cropImage(Image* source, Image* destination, int32_t x, int32_t y, int32_t width, int32_t height);

// Canvas of width x height (each clamped to 1..15999), black (index 0) where
// the picture does not reach: a wider or taller canvas centres the picture in
// that direction, a narrower or lower one keeps its left or top part.
Status canvasSize(Image* source, Image* destination, int32_t width, int32_t height);

// Target size of a batch resize or canvas entry: width and height in pixels
// or percent of the picture, fitted into that box with the picture's aspect
// ratio when keepRatio is set, each side clamped to 1..15999.
void batchTargetSize(const Image* image, int32_t width, int32_t height, bool percent, bool keepRatio,
                     int32_t* outWidth, int32_t* outHeight);

// Batch table entries (OpRun).
Status opResize(Image* image, const OpInstance& op);
Status opCrop(Image* image, const OpInstance& op);
Status opCanvas(Image* image, const OpInstance& op);
Status opMirror(Image* image, const OpInstance& op);
Status opFlip(Image* image, const OpInstance& op);
Status opRotate(Image* image, const OpInstance& op);
