// The image window's "&Image" and "Fi&ltre" commands without any window:
// which command opens which parameter dialog, the value dialog table
// (positions to values and their labels), the arithmetic of the resize
// dialog, the codes of the conversion choice dialog, and running a command's
// operation from one picture into another.
#pragma once
#include <cstddef>
#include <cstdint>

#include "filter.h"
#include "image.h"
#include "status.h"

enum MenuDialog {
    MENU_DIALOG_NONE,         // the command runs at once
    MENU_DIALOG_VALUE,        // "KaleoValue": one value on a scroll bar
    MENU_DIALOG_RESIZE,       // "KaleoResize"
    MENU_DIALOG_CANVAS,       // "KaleoCanvas" ("Taille")
    MENU_DIALOG_BALANCE,      // "KaleoBalance": red, green and blue offsets
    MENU_DIALOG_FILTER_SIZE,  // "KaleoFilterSize": 3X3 ... 13X13
    MENU_DIALOG_DEINTERLACE,  // "KaleoDeinterlace"
    MENU_DIALOG_USER_FILTER,  // "KaleoUserFilter": a 3x3 or 5x5 kernel, divisor and bias
    MENU_DIALOG_WAVES,        // "KaleoWaves": length, amplitude and phase
};

// Largest side of a picture the operations make.
constexpr int32_t MENU_MAX_SIDE = 15999;

// Everything the parameters of any of these commands can be. Only the fields
// of the command's own dialog are read.
struct MenuOpParams {
    // Value dialog: the value in the row's units (see ValueRow::scale: gamma
    // and Poisson noise in hundredths, the other noises in tenths).
    int32_t value;
    // Resize and canvas size: the new size; resize method RESAMPLE_NEAREST or RESAMPLE_AREA.
    int32_t width;
    int32_t height;
    int32_t method;
    // Colour balance: offsets added to red, green and blue (-255..255).
    int32_t red;
    int32_t green;
    int32_t blue;
    // Filter size dialog: 3, 5, 7, 9, 11 or 13.
    int32_t filterSize;
    // De-interlacing: parity of the rows kept (0 even, 1 odd) and DeinterlaceFill.
    int32_t keptParity;
    int32_t fill;
    // User filter: the 5x5 weights row by row (a 3x3 kernel sits in the middle,
    // its outer ring 0), divisor (not 0) and bias.
    UserKernel kernel;
    // Waves: length in pixels (at least 1), amplitude in pixels, phase in degrees.
    double waveLength;
    double waveAmplitude;
    double wavePhase;
};

// Parameters as a dialog opens them for the first time: the value dialog's
// neutral value for commandId (when it has one), the picture's own size for
// resize and canvas, nearest-pixel resizing, no balance offsets, 3X3, keeping
// the even rows with duplication, the identity kernel, waves of length 10,
// amplitude 5, phase 0.
void defaultMenuOpParams(int commandId, const Image* image, MenuOpParams* params);

// True for the commands that change the picture: 51-138.
bool isMenuOperation(int commandId);
MenuDialog menuOpDialog(int commandId);

// Runs the operation of a command from source into destination, a record
// that holds no pixels (it receives the new picture; source is not changed).
// ST_OP_BAD_PARAMETER for a command that is not an operation or a parameter
// outside its dialog's range; otherwise the operation's status.
Status applyMenuOperation(int commandId, const MenuOpParams& params, Image* source, Image* destination);

// ---- Value dialog ("KaleoValue") ----

enum ValueMapping : uint8_t {
    VALUE_OFFSET,  // value = position + offset
    VALUE_POWER,   // value = 2 to the power (position + 1)
};

struct ValueRow {
    int command;
    int titleString;     // string resource of the dialog's title
    int range;           // positions 0 .. range - 1
    int neutral;         // position the dialog opens at, and "Zéro"
    int slot;            // LastValue slot
    ValueMapping mapping;
    int offset;          // VALUE_OFFSET
    int scale;           // 1: whole numbers "%d"; 10: tenths "%d.%d"; 100: hundredths "%d.%02d"
};

constexpr int VALUE_ROW_COUNT = 20;
const ValueRow* valueRows();
// The row of a command, or null.
const ValueRow* valueRow(int commandId);
// The value (in the row's units) at a position, clamped into 0 .. range - 1.
int32_t valueAtPosition(const ValueRow& row, int position);
// The label of a position: "%d", "%d.%d" or "%d.%02d" after the row's scale.
// Returns the number of characters written (at most size - 1).
size_t valueLabel(const ValueRow& row, int position, char* text, size_t size);
// Position of a value, or -1 when no position gives it.
int positionOfValue(const ValueRow& row, int32_t value);
// Position read back from a LastValue slot: below 0 reads as 0, beyond the
// range as range - 1.
int rememberedPosition(const ValueRow& row, int32_t remembered);
// Position after a scroll bar request: line steps of 1, page steps of a tenth
// of the range (at least 1), clamped into 0 .. range - 1.
enum ScrollStep { STEP_LINE_DOWN, STEP_LINE_UP, STEP_PAGE_DOWN, STEP_PAGE_UP, STEP_FIRST, STEP_LAST };
int steppedPosition(int position, int range, ScrollStep step);

// ---- Resize dialog ("KaleoResize") ----

constexpr int32_t RESIZE_MAX_PIXELS = 10000;  // spin ranges of the dialog
constexpr int32_t RESIZE_MAX_PERCENT = 1000;

// The preset list after "Prédéfinie" (list entry 0): 8 sizes, then 8 percentages.
struct ResizePreset {
    const char* label;
    int32_t width;    // 0 for a percentage
    int32_t height;
    int32_t percent;  // 0 for a size
};
constexpr int RESIZE_PRESET_COUNT = 16;
const ResizePreset* resizePresets();

// The four numbers of the "Taille" group.
struct ResizeFields {
    int32_t width;
    int32_t height;
    int32_t widthPercent;
    int32_t heightPercent;
};

// Percentage of the picture's side that pixels make (pixels x 100 / side) and
// the pixels that a percentage makes (percent x side / 100); 64-bit
// arithmetic, never below 1, pixels at most MENU_MAX_SIDE.
int32_t percentOfSide(int32_t pixels, int32_t side);
int32_t pixelsOfPercent(int32_t percent, int32_t side);
// The side that keeps the picture's aspect ratio: other x imageOther / imageSide.
int32_t keepRatioSide(int32_t side, int32_t imageSide, int32_t imageOther);

// The fields for the picture at 100 %.
ResizeFields resizeFieldsFor(int32_t imageWidth, int32_t imageHeight);
// Choosing list entry listIndex (0 "Prédéfinie", then the presets): false and
// nothing changed for "Prédéfinie" or an index outside the list.
bool applyResizePreset(int listIndex, int32_t imageWidth, int32_t imageHeight, ResizeFields* fields);
// Editing one field: the field takes the value, its counterpart in the other
// unit follows, and with keepRatio the other side follows as well (the
// width sets the height through the aspect ratio, a percentage is copied
// into the other percentage).
enum ResizeField { FIELD_WIDTH, FIELD_HEIGHT, FIELD_WIDTH_PERCENT, FIELD_HEIGHT_PERCENT };
void editResizeField(ResizeField field, int32_t value, bool keepRatio, int32_t imageWidth, int32_t imageHeight,
                     ResizeFields* fields);
// Whether the sizes may be applied: both within 1 … RESIZE_MAX_PIXELS, the
// dialog's range. Sizes outside are refused rather than clamped, which
// would change one side only and so the proportions.
bool resizeFieldsInRange(const ResizeFields& fields);

// ---- Colour balance, filter size, waves: dialog ranges ----

constexpr int BALANCE_LIMIT = 100;  // each offset -100..100 in the dialog
// LastValue slots that the other dialogs use (the value dialog uses 0-18 and 22).
constexpr int SLOT_BALANCE_RED = 19;
constexpr int SLOT_BALANCE_GREEN = 20;
constexpr int SLOT_BALANCE_BLUE = 21;
constexpr int SLOT_FILTER_SIZE = 23;   // 3 ... 13
constexpr int SLOT_DEINTERLACE = 24;   // keptParity + 2 x fill

constexpr int FILTER_SIZE_COUNT = 6;   // 3X3, 5X5, 7X7, 9X9, 11X11, 13X13
// Size of choice i (0..5): 3 + 2 i; index of a size, or -1.
int filterSizeAt(int index);
int filterSizeIndex(int size);

// Wave dialog scroll bars: length 1.00 .. 50.00 and amplitude 0.00 .. 100.00
// in hundredths, phase 0 .. 360 degrees.
constexpr int WAVE_LENGTH_MIN = 100;
constexpr int WAVE_LENGTH_MAX = 5000;
constexpr int WAVE_AMPLITUDE_MAX = 10000;
constexpr int WAVE_PHASE_MAX = 360;

// ---- Conversion choice dialog ("KaleoConv") ----

// Code of the choice `control` (one of the dialog's radio buttons 2001-2011,
// 2013-2019, 2021) with the two "Tramé" boxes; 0 for any other control.
int conversionCodeOfControl(int control, bool greyDithered, bool colourDithered);
// Group (ConversionGroups of the dialog: 1 binary, 2 grey, 4 colours, 8 true
// colour) of a radio button control, 0 for any other.
unsigned conversionGroupOfControl(int control);
