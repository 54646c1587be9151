// Effects: slice, shear, spread, spiral, random tiles ("Damier"), mosaic,
// oil painting, lens, wave and de-interlacing.
//
// The pixel-moving effects (slice, shear, spread, tiles, lens, wave, oil,
// de-interlacing by duplication) keep the kind, palette and colour count;
// places that no source pixel reaches are black (index 0 of a palette). The
// averaging ones (mosaic, spiral, de-interlacing by interpolation) first lift
// palette pictures to IMG_RGB and black-and-white or few-level grey ones to
// 256-level IMG_GREY. The result replaces destination when one is given (its
// old pixels are freed), otherwise the source, whose pixels are freed. On
// failure nothing changes: ST_NO_MEMORY, ST_KIND_REFUSED for a record without
// a readable picture, ST_OP_BAD_PARAMETER for a parameter outside its range.
//
// Slice, shear, spread, tiles and the noise additions draw on a pseudo-random
// generator seeded from the clock at the start of each operation, so two runs
// differ; setEffectSeed fixes the seed every such operation starts from, so
// that a result can be reproduced, and setEffectSeedFromClock goes back to the clock.
#pragma once
#include <cstdint>

#include "image.h"
#include "optable.h"
#include "status.h"

// setEffectSeed and setEffectSeedFromClock are declared with the operation table.

Status sliceImage(Image* source, Image* destination);
Status shearImage(Image* source, Image* destination);
// distance 1..32; 1 leaves the picture unchanged.
Status spreadImage(Image* source, Image* destination, int distance);
// Turn of angle degrees (-360..360) at the centre, fading to none at the edge.
Status spiralImage(Image* source, Image* destination, int angle);
// Tiles of size x size (1..64) thrown by up to 16 pixels.
Status randomTiles(Image* source, Image* destination, int size);
// Blocks of size (1..64), each byte position averaged.
Status mosaicImage(Image* source, Image* destination, int size);
// The most frequent value of each byte position in the window of the given radius (1..16).
Status oilPaint(Image* source, Image* destination, int radius);
// Magnifying lens of strength 1..100 (100: an ellipse filling the picture).
Status lensImage(Image* source, Image* destination, int strength);
// Concentric waves of length (at least 1), amplitude and phase in degrees.
Status waveImage(Image* source, Image* destination, double length, double amplitude, double phase);

// De-interlacing: keptParity 0 keeps the even rows (0, 2, 4...), 1 the odd
// rows; the others are filled by duplication or by interpolation.
enum DeinterlaceFill { DEINTERLACE_DUPLICATE = 0, DEINTERLACE_INTERPOLATE = 1 };
Status deinterlace(Image* source, Image* destination, int keptParity, int fill);

// Batch table entries (OpRun).
Status opMosaic(Image* image, const OpInstance& op);
Status opSlice(Image* image, const OpInstance& op);
Status opTiles(Image* image, const OpInstance& op);
Status opShear(Image* image, const OpInstance& op);
Status opOil(Image* image, const OpInstance& op);
Status opSwirl(Image* image, const OpInstance& op);
Status opSpread(Image* image, const OpInstance& op);
Status opLens(Image* image, const OpInstance& op);
Status opWaves(Image* image, const OpInstance& op);
