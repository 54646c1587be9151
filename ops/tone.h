// Tone and colour adjustments: point operations that pass every pixel through
// lookup tables (negative, logarithm, brightness, contrast, gamma, solarise,
// posterise with one table; normalise, equalise and colour balance with one
// table per channel) and the five channel permutations.
//
// Every operation builds a new picture of the same kind, size, orientation and
// resolution, which replaces destination when one is given (its previous pixels
// are released), otherwise source. Palette pictures keep their indices: their
// palette changes. Binary and few-level grey pictures go through a table
// adapted to their levels (single tables) or are spread to 256-level grey first
// (per-channel tables). The fourth byte of 4-byte pixels is always copied.
// Returns ST_OK; ST_NO_MEMORY (nothing changed); ST_KIND_REFUSED for a record
// that is not a valid picture; ST_OP_BAD_PARAMETER for a parameter out of range.
#pragma once
#include <cstdint>

#include "image.h"
#include "optable.h"
#include "status.h"

// The 256-entry tables.
void negativeTable(uint8_t table[256]);
void logTable(uint8_t table[256]);
void brightnessTable(int delta, uint8_t table[256]);
// contrast -127..127 (false outside).
bool contrastTable(int contrast, uint8_t table[256]);
// gamma > 0 (false otherwise); 1.00 is neutral.
bool gammaTable(double gamma, uint8_t table[256]);
void solariseTable(int threshold, uint8_t table[256]);
// levels 2..256 (false outside).
bool posteriseTable(int levels, uint8_t table[256]);

// Passes source through one table.
Status applyTable(Image* source, Image* destination, const uint8_t table[256]);

Status negativeImage(Image* source, Image* destination);
Status logImage(Image* source, Image* destination);
Status brightnessImage(Image* source, Image* destination, int delta);       // any delta; -255..255 in the menus
Status contrastImage(Image* source, Image* destination, int contrast);      // -127..127
Status gammaImage(Image* source, Image* destination, double gamma);         // > 0, 0.01..5.00 in the menus
Status solariseImage(Image* source, Image* destination, int threshold);     // any threshold; 0..255 in the menus
Status posteriseImage(Image* source, Image* destination, int levels);       // 2..256
Status normaliseImage(Image* source, Image* destination);
Status equaliseImage(Image* source, Image* destination);
// One offset per colour, added with clamping to red, green and blue whatever
// the kind's byte order (grey pictures take the red offset).
Status colourBalanceImage(Image* source, Image* destination, int red, int green, int blue);

// Channel permutations: the label XYZ sends red to X, green to Y, blue to Z.
enum ChannelSwap {
    SWAP_RBG = 0,  // (R, B, G)
    SWAP_BGR = 1,  // (B, G, R)
    SWAP_BRG = 2,  // (G, B, R)
    SWAP_GRB = 3,  // (G, R, B)
    SWAP_GBR = 4,  // (B, R, G)
};
// Palette pictures have their palette permuted; binary and grey pictures are copied.
Status swapChannels(Image* source, Image* destination, int mode);

// Menu commands 83-92 and 100-104: French label and the range and default of
// the value dialog (gamma in hundredths; posterise as k for 2^(k+1) levels);
// 0, 0, 0 for commands without a value.
struct ToneCommand {
    int command;
    const char* label;
    int minimum;
    int maximum;
    int defaultValue;
};
constexpr int TONE_COMMAND_COUNT = 15;
const ToneCommand* toneCommands();

// Batch table entries (OpRun).
Status opNegate(Image* image, const OpInstance& op);
Status opBrightness(Image* image, const OpInstance& op);
Status opContrast(Image* image, const OpInstance& op);
Status opGamma(Image* image, const OpInstance& op);
Status opBalance(Image* image, const OpInstance& op);
Status opLog(Image* image, const OpInstance& op);
Status opSolarize(Image* image, const OpInstance& op);
Status opPosterize(Image* image, const OpInstance& op);
Status opNormalize(Image* image, const OpInstance& op);
Status opEqualize(Image* image, const OpInstance& op);
Status opSwap(Image* image, const OpInstance& op);
