// The batch operation table: the 53 operations that a conversion job can apply
// to every picture, shared by kaleocmd and the viewer's "Opérations avancées".
//
// Each entry gives the converter option (also its key), the French label of the
// lists, a parameter kind, up to three parameters with their ranges, the
// defaults (four integers, three reals) and the function that runs it. A job
// entry (OpInstance) starts as a copy of the defaults and is edited by the user.
#pragma once
#include <cstdint>

#include "export.h"
#include "image.h"
#include "status.h"

// Parameter kinds of the table.
enum OpParamKind : int16_t {
    OPK_NONE = 0,          // no parameter
    OPK_INT = 1,           // one integer: ints[0]
    OPK_HUNDREDTHS = 2,    // one real edited as an integer in hundredths: reals[0]
    OPK_THREE_REALS = 3,   // three reals in hundredths: reals[0..2]
    OPK_RESIZE = 6,        // ints[0] width, ints[1] height (pixels or percent) + resize fields
    OPK_RECT = 7,          // ints[0..3]: x, y, width, height
    OPK_CANVAS = 8,        // ints[0] width, ints[1] height (pixels or percent) + keepRatio, percent
    OPK_TRUECOLOUR = 9,    // no parameter
    OPK_COLOURS = 10,      // ints[0] target 12..18 (8..256 colours), ints[1] dither flag
    OPK_GREY = 11,         // ints[0] target 2..9 (4..256 levels), ints[1] dither flag
    OPK_BINARY = 12,       // ints[0] method: 1 pattern, 2 halftone 45, 3 halftone 90, 5 Floyd-Steinberg
    OPK_LEVELS = 13,       // ints[0] one integer from a fixed choice (posterisation levels)
    OPK_FILTER_SIZE = 14,  // ints[0] filter size 3, 5, 7, 9, 11 or 13
    OPK_CHANNELS = 15,     // ints[0] channel order 0..4 (RBG, BGR, BRG, GRB, GBR)
    OPK_THREE_INTS = 16,   // ints[0..2]
};

constexpr int OP_COUNT = 53;

// Statuses of the operations beyond the core's codes; callers report them
// with opStatusText.
// Returned by operations that are not built yet: "operation not available".
constexpr Status ST_OP_NOT_AVAILABLE = static_cast<Status>(16);
// A parameter outside its range, an unknown target or method: "bad parameter".
constexpr Status ST_OP_BAD_PARAMETER = static_cast<Status>(17);


// Resample methods of the resize entry (OpInstance::method).
constexpr int16_t RESAMPLE_NEAREST = 0;  // "quick" in scripts
constexpr int16_t RESAMPLE_AREA = 1;     // "linear" in scripts

struct OpInstance {
    int32_t index;         // entry of the table
    int32_t ints[4];
    double reals[3];
    // Resize and canvas fields.
    int16_t percent;       // 0: ints[0..1] in pixels, 1: in percent
    int16_t keepRatio;     // keep the aspect ratio
    int16_t method;        // RESAMPLE_*
    int16_t onlySmaller;   // resize only pictures smaller than the target
    int16_t onlyLarger;    // resize only pictures larger than the target
};

typedef Status (*OpRun)(Image* image, const OpInstance& op);

struct OpParam {
    const char* label;     // French label of the control, or "" when the dialog shows none
    int32_t minimum;
    int32_t maximum;
};

struct OpEntry {
    const char* option;    // converter option, may hold two words ("-noise reduce")
    const char* label;     // French label of the lists
    int16_t kind;          // OpParamKind
    int16_t paramCount;    // parameters used in params
    OpParam params[3];
    int32_t ints[4];       // defaults
    double reals[3];
    OpRun run;
};

// Placeholder of the operations that are not built yet: returns ST_OP_NOT_AVAILABLE.
KALEOCORE_API Status opNotAvailable(Image* image, const OpInstance& op);

// The entry at index, or null outside 0..OP_COUNT-1.
KALEOCORE_API const OpEntry* opEntry(int index);
// French label of the entry, or null.
KALEOCORE_API const char* opLabel(int index);
// Index of the entry whose option is exactly option ("-gamma", "-noise reduce"), or -1.
KALEOCORE_API int findOp(const char* option);
// Index of the entry named by one or two command-line words: "-noise" "reduce"
// gives the two-word entry and *wordsUsed = 2; "-gamma" "1.5" gives "-gamma" and
// *wordsUsed = 1. second may be null. Returns -1 (and *wordsUsed = 0) when none matches.
KALEOCORE_API int findOpWords(const char* first, const char* second, int* wordsUsed);

// Fills a job entry with the defaults of entry index; false when index is out of range.
KALEOCORE_API bool initOpInstance(OpInstance* op, int index);
// True when every parameter of the job entry lies within its entry's ranges and choices.
KALEOCORE_API bool opInstanceValid(const OpInstance& op);
// Runs the job entry on image (replaced in place on success, untouched on failure).
// ST_OP_BAD_PARAMETER when the index or a parameter is out of range.
KALEOCORE_API Status runOp(Image* image, const OpInstance& op);

// Text for a status of an operation: "operation not available", "bad parameter",
// otherwise the core status name.
KALEOCORE_API const char* opStatusText(Status st);

// The effects that draw random numbers (slice, shear, spread, tiles, noise)
// start from a seed taken from the clock; setEffectSeed fixes it so that a
// result can be reproduced, setEffectSeedFromClock goes back to the clock.
KALEOCORE_API void setEffectSeed(uint32_t seed);
KALEOCORE_API void setEffectSeedFromClock();
