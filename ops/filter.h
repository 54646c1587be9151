// Convolution and neighbourhood filters: fixed 3x3 kernels, weighted 3x3
// smoothing and sharpening, n x n mean, Gaussian, maximum, minimum and
// medians, the 5-point noise reduction, a user 5x5 kernel, and the addition
// of random noise.
//
// Every filter works on each stored byte position separately and samples
// outside the picture repeat the nearest edge pixel. Palette pictures are
// first lifted to IMG_RGB, black-and-white and few-level grey pictures to
// 256-level IMG_GREY, so that no filter averages indices or writes mid-grey
// into a two-value picture; other kinds are kept. The fourth byte of 4-byte
// pixels (alpha or unused) is copied unchanged. The result replaces
// destination when one is given (its old pixels are freed), otherwise the
// source, whose pixels are freed. On failure nothing changes: ST_NO_MEMORY,
// ST_KIND_REFUSED for a record without a readable picture, or
// ST_OP_BAD_PARAMETER for a parameter outside its range.
#pragma once
#include <cstdint>

#include "image.h"
#include "optable.h"
#include "status.h"

// The fixed 3x3 kernels: (sum of weight x sample) / divisor + bias, clamped.
enum FixedKernel {
    KERNEL_DETAIL = 0,       // "Réhausse Détail"
    KERNEL_FOCUS = 1,        // "Réhausse Focus"
    KERNEL_RESTORE = 2,      // "Restaure Focus"
    KERNEL_SHARP = 3,        // no menu command
    KERNEL_EDGE_LIGHT = 4,   // "Détection des bords Léger"
    KERNEL_EDGE_MEDIUM = 5,  // "Détection des bords Moyen"
    KERNEL_EDGE_HEAVY = 6,   // "Détection des bords Fort"
    KERNEL_EMBOSS = 7,       // "Emboss"
    KERNEL_EMBOSS_MORE = 8,  // "Emboss More"
    KERNEL_COUNT = 9,
};
Status applyKernel(Image* source, Image* destination, int kernel);

// Weighted 3x3 filters; a small strength gives a strong centre (weak effect).
Status softenImage(Image* source, Image* destination, int strength);   // 1..100
Status blurImage(Image* source, Image* destination, int strength);     // 1..100
Status enhanceEdges(Image* source, Image* destination, int strength);  // 1..100
// 1..99: at 100 the weights would add up to 0.
Status sharpenImage(Image* source, Image* destination, int strength);

// n x n window filters, n = 3, 5, 7, 9, 11 or 13.
Status meanFilter(Image* source, Image* destination, int size);
Status gaussianBlur(Image* source, Image* destination, int size);
Status maximumFilter(Image* source, Image* destination, int size);
Status minimumFilter(Image* source, Image* destination, int size);
Status medianBox(Image* source, Image* destination, int size);
// Median of the 2n - 1 samples of the centre row and column.
Status medianCross(Image* source, Image* destination, int size);

// 5-point noise reduction: (7 C + 3 (distance-1 neighbours) - (distance-2 neighbours)) / 15.
Status reduceNoise(Image* source, Image* destination);

// User 5x5 kernel, weights row by row. A divisor of 0 is refused.
struct UserKernel {
    int32_t weights[25];
    int32_t divisor;
    int32_t bias;
};
Status userFilter(Image* source, Image* destination, const UserKernel& kernel);

// Random noise of amplitude A: uniform 0.1..50, Gaussian 0.1..10, Laplacian
// 0.1..50, Poisson 0.01..1. The generator is seeded from the clock, or from
// the seed fixed with setEffectSeed (effects.h).
enum NoiseKind { NOISE_UNIFORM = 0, NOISE_GAUSSIAN = 1, NOISE_LAPLACIAN = 2, NOISE_POISSON = 3 };
Status addNoise(Image* source, Image* destination, int kind, double amplitude);

// Batch table entries (OpRun).
Status opDetail(Image* image, const OpInstance& op);
Status opFocus(Image* image, const OpInstance& op);
Status opEdgeEnhance(Image* image, const OpInstance& op);
Status opRestoreFocus(Image* image, const OpInstance& op);
Status opEdgeLight(Image* image, const OpInstance& op);
Status opEdgeMedium(Image* image, const OpInstance& op);
Status opEdgeHeavy(Image* image, const OpInstance& op);
Status opEmboss(Image* image, const OpInstance& op);
Status opEmbossMore(Image* image, const OpInstance& op);
Status opAverage(Image* image, const OpInstance& op);
Status opSoften(Image* image, const OpInstance& op);
Status opBlur(Image* image, const OpInstance& op);
Status opGauss(Image* image, const OpInstance& op);
Status opMaximum(Image* image, const OpInstance& op);
Status opMinimum(Image* image, const OpInstance& op);
Status opMedianBox(Image* image, const OpInstance& op);
Status opMedianCross(Image* image, const OpInstance& op);
Status opSharpen(Image* image, const OpInstance& op);
Status opNoiseReduce(Image* image, const OpInstance& op);
Status opNoiseUniform(Image* image, const OpInstance& op);
Status opNoiseGaussian(Image* image, const OpInstance& op);
Status opNoiseLaplacian(Image* image, const OpInstance& op);
Status opNoisePoisson(Image* image, const OpInstance& op);
