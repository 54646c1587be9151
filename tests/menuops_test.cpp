// The image window's operation commands without windows: the value dialog's
// positions and labels, the resize dialog's presets and ratio arithmetic, the
// conversion choice codes, and every "&Image"/"Fi&ltre" command run on small
// true-colour and palette pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "dither.h"
#include "effects.h"
#include "menuops.h"
#include "optable.h"
#include "optestutil.h"
#include "resource.h"

namespace {

using optest::makeImage;

std::string label(const ValueRow& row, int position) {
    char text[32];
    valueLabel(row, position, text, sizeof text);
    return text;
}

// A 9 x 7 gradient with a ripple, so that no filter sees a straight ramp
// (medians and interpolations keep ramps as they are): every channel takes
// many different mid values.
void makeRgb(Image* img) {
    std::vector<uint8_t> v;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            int ripple = (x * 7 + y * 13) % 5 * 9;
            v.push_back(static_cast<uint8_t>(20 + x * 20 + ripple));
            v.push_back(static_cast<uint8_t>(30 + y * 25 + ripple));
            v.push_back(static_cast<uint8_t>(200 - x * 10 - y * 12 - ripple));
        }
    ASSERT_TRUE(makeImage(img, IMG_RGB, 9, 7, v));
}

// A 9 x 7 palette picture of 8 distinct colours, indices 0..7.
void makePalette(Image* img) {
    std::vector<uint8_t> v;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) v.push_back(static_cast<uint8_t>((x + 2 * y) % 8));
    ASSERT_TRUE(makeImage(img, IMG_PALETTE, 9, 7, v, 8));
    for (int i = 0; i < 8; ++i)
        optest::setPaletteEntry(img, i, static_cast<uint8_t>(10 + i * 30), static_cast<uint8_t>(200 - i * 20),
                                static_cast<uint8_t>(i * i * 4));
}

bool samePicture(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.kind != b.kind) return false;
    for (int y = 0; y < a.height; ++y)
        if (memcmp(imageRow(&a, y), imageRow(&b, y), static_cast<size_t>(a.width) * a.bytesPerPixel) != 0) return false;
    if (a.kind == IMG_PALETTE && memcmp(a.palette, b.palette, PALETTE_BYTES) != 0) return false;
    return true;
}

// ---- Value dialog ----

TEST(MenuOpsValue, LabelsAtTheEndsAndAtTheNeutralPosition) {
    // The neutral labels are the defaults that the operations name for their menus.
    struct Case {
        int command;
        int title;
        int slot;
        const char* first;
        const char* neutral;
        const char* last;
    } cases[] = {
        {CMD_BRIGHTNESS, 4200, 0, "-255", "0", "255"},
        {CMD_CONTRAST, 4201, 1, "-127", "0", "127"},
        {CMD_GAMMA, 4202, 2, "0.01", "1.00", "5.00"},
        {CMD_SOLARIZE, 4203, 3, "0", "128", "255"},
        {CMD_POSTERIZE, 4204, 4, "2", "256", "256"},
        {CMD_MOSAIC, 4205, 5, "1", "4", "64"},
        {CMD_CHECKERBOARD, 4216, 6, "1", "1", "64"},
        {CMD_OIL, 4217, 7, "1", "1", "16"},
        {CMD_SHARPEN, 4206, 8, "1", "50", "99"},
        {CMD_SPIRAL, 4219, 9, "0", "179", "359"},
        {CMD_BLUR, 4208, 10, "1", "5", "100"},
        {CMD_SOFTEN, 4210, 11, "1", "5", "100"},
        {CMD_ENHANCE_EDGES, 4211, 12, "1", "50", "100"},
        {CMD_SPREAD, 4218, 13, "1", "4", "32"},
        {CMD_LENS, 4220, 14, "1", "100", "100"},
        {CMD_NOISE_UNIFORM, 4221, 15, "0.1", "25.0", "50.0"},
        {CMD_NOISE_GAUSSIAN, 4222, 16, "0.1", "0.4", "10.0"},
        {CMD_NOISE_LAPLACIAN, 4223, 17, "0.1", "10.0", "50.0"},
        {CMD_NOISE_POISSON, 4224, 18, "0.01", "0.05", "1.00"},
        {CMD_ROTATE_FREE, 4225, 22, "0", "0", "359"},
    };
    ASSERT_EQ(sizeof cases / sizeof cases[0], static_cast<size_t>(VALUE_ROW_COUNT));
    std::set<int> slots;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const ValueRow* row = valueRow(c.command);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(menuOpDialog(c.command), MENU_DIALOG_VALUE);
        EXPECT_EQ(row->titleString, c.title);
        EXPECT_EQ(row->slot, c.slot);
        EXPECT_TRUE(slots.insert(row->slot).second) << "slot shared";
        EXPECT_EQ(label(*row, 0), c.first);
        EXPECT_EQ(label(*row, row->neutral), c.neutral);
        EXPECT_EQ(label(*row, row->range - 1), c.last);
        // Positions outside the bar read as its ends.
        EXPECT_EQ(label(*row, -5), c.first);
        EXPECT_EQ(label(*row, row->range + 40), c.last);
        MenuOpParams p;
        defaultMenuOpParams(c.command, nullptr, &p);
        EXPECT_EQ(p.value, valueAtPosition(*row, row->neutral));
    }
}

TEST(MenuOpsValue, FractionLabelsKeepTheirLeadingZeros) {
    struct Case {
        int command;
        int position;
        const char* text;
        int32_t value;
    } cases[] = {
        {CMD_GAMMA, 99, "1.00", 100},          {CMD_GAMMA, 104, "1.05", 105},
        {CMD_GAMMA, 249, "2.50", 250},         {CMD_NOISE_UNIFORM, 9, "1.0", 10},
        {CMD_NOISE_UNIFORM, 10, "1.1", 11},    {CMD_NOISE_POISSON, 8, "0.09", 9},
        {CMD_NOISE_POISSON, 9, "0.10", 10},    {CMD_POSTERIZE, 0, "2", 2},
        {CMD_POSTERIZE, 1, "4", 4},            {CMD_POSTERIZE, 6, "128", 128},
        {CMD_BRIGHTNESS, 254, "-1", -1},       {CMD_CONTRAST, 128, "1", 1},
    };
    for (const Case& c : cases) {
        const ValueRow* row = valueRow(c.command);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(label(*row, c.position), c.text) << c.command << " at " << c.position;
        EXPECT_EQ(valueAtPosition(*row, c.position), c.value) << c.command << " at " << c.position;
    }
    // A buffer too small for the label is cut, never overrun.
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(valueLabel(*valueRow(CMD_BRIGHTNESS), 0, small, 3), 2u);
    EXPECT_STREQ(small, "-2");
    EXPECT_EQ(small[3], 'x');
}

TEST(MenuOpsValue, EveryPositionMapsBackToItself) {
    for (int i = 0; i < VALUE_ROW_COUNT; ++i) {
        const ValueRow& row = valueRows()[i];
        for (int p = 0; p < row.range; ++p)
            ASSERT_EQ(positionOfValue(row, valueAtPosition(row, p)), p) << row.command;
        EXPECT_EQ(positionOfValue(row, valueAtPosition(row, 0) - 1), -1) << row.command;
        EXPECT_EQ(positionOfValue(row, valueAtPosition(row, row.range - 1) + 1), -1) << row.command;
    }
    EXPECT_EQ(positionOfValue(*valueRow(CMD_POSTERIZE), 3), -1);  // not a power of two
}

TEST(MenuOpsValue, RememberedSlotsAreClampedIntoTheBar) {
    const ValueRow& mosaic = *valueRow(CMD_MOSAIC);  // 64 positions
    struct Case {
        int32_t remembered;
        int position;
    } cases[] = {{-1, 0}, {-100000, 0}, {0, 0}, {17, 17}, {63, 63}, {64, 63}, {2000000000, 63}};
    for (const Case& c : cases) EXPECT_EQ(rememberedPosition(mosaic, c.remembered), c.position) << c.remembered;
}

TEST(MenuOpsValue, ScrollStepsByOneAndByATenth) {
    struct Case {
        int position;
        int range;
        ScrollStep step;
        int expected;
    } cases[] = {
        {255, 511, STEP_LINE_DOWN, 256}, {255, 511, STEP_LINE_UP, 254},  {255, 511, STEP_PAGE_DOWN, 306},
        {255, 511, STEP_PAGE_UP, 204},   {500, 511, STEP_PAGE_DOWN, 510}, {3, 511, STEP_PAGE_UP, 0},
        {0, 511, STEP_LINE_UP, 0},       {510, 511, STEP_LINE_DOWN, 510}, {7, 8, STEP_PAGE_UP, 6},
        {0, 16, STEP_PAGE_DOWN, 1},      {100, 360, STEP_FIRST, 0},       {100, 360, STEP_LAST, 359},
    };
    for (const Case& c : cases)
        EXPECT_EQ(steppedPosition(c.position, c.range, c.step), c.expected)
            << c.position << "/" << c.range << " step " << c.step;
}

TEST(MenuOpsValue, ToneDialogsOpenOnAPositionThatChangesNothing) {
    // Opening the dialog and pressing "Appliquer" at once must leave the
    // picture as it was; the gamma bar still reaches 0.01 and 5.00.
    for (void (*make)(Image*) : {makeRgb, makePalette}) {
        OwnedImage source;
        make(&source);
        for (int command : {CMD_BRIGHTNESS, CMD_CONTRAST, CMD_GAMMA}) {
            SCOPED_TRACE(command);
            MenuOpParams p;
            defaultMenuOpParams(command, &source, &p);
            OwnedImage result;
            ASSERT_EQ(applyMenuOperation(command, p, &source, &result), ST_OK);
            EXPECT_TRUE(samePicture(result, source));
        }
    }
    const ValueRow& gamma = *valueRow(CMD_GAMMA);
    EXPECT_EQ(valueAtPosition(gamma, gamma.neutral), 100);
    EXPECT_EQ(valueAtPosition(gamma, 0), 1);
    EXPECT_EQ(valueAtPosition(gamma, gamma.range - 1), 500);
    OwnedImage source;
    makeRgb(&source);
    for (int position : {0, gamma.range - 1}) {
        MenuOpParams p;
        defaultMenuOpParams(CMD_GAMMA, &source, &p);
        p.value = valueAtPosition(gamma, position);
        OwnedImage result;
        ASSERT_EQ(applyMenuOperation(CMD_GAMMA, p, &source, &result), ST_OK);
        EXPECT_FALSE(samePicture(result, source)) << position;
    }
}

// ---- Resize dialog ----

TEST(MenuOpsResize, SizesOutsideTheDialogsRangeAreRefused) {
    struct Case {
        int32_t width, height;
        bool ok;
    } cases[] = {{1, 1, true},          {RESIZE_MAX_PIXELS, RESIZE_MAX_PIXELS, true},
                 {0, 10, false},        {10, 0, false},
                 {RESIZE_MAX_PIXELS + 1, 5, false}, {5, RESIZE_MAX_PIXELS + 1, false},
                 {-3, 5, false},        {20000, 13127, false}};
    for (const Case& c : cases) {
        ResizeFields f = resizeFieldsFor(227, 149);
        f.width = c.width;
        f.height = c.height;
        EXPECT_EQ(resizeFieldsInRange(f), c.ok) << c.width << "x" << c.height;
    }
}

TEST(MenuOpsResize, PresetsFillSizesOrPercentagesOfThePicture) {
    struct Case {
        int index;
        const char* label;
        ResizeFields expected;
    } cases[] = {
        {1, "160x120", {160, 120, 80, 120}},      {2, "320x240", {320, 240, 160, 240}},
        {3, "640x480", {640, 480, 320, 480}},     {4, "720x576", {720, 576, 360, 576}},
        {5, "800x600", {800, 600, 400, 600}},     {6, "1024x768", {1024, 768, 512, 768}},
        {7, "1280x1024", {1280, 1024, 640, 1024}}, {8, "1600x1200", {1600, 1200, 800, 1200}},
        {9, "25%", {50, 25, 25, 25}},             {10, "50%", {100, 50, 50, 50}},
        {11, "75%", {150, 75, 75, 75}},           {12, "100%", {200, 100, 100, 100}},
        {13, "200%", {400, 200, 200, 200}},       {14, "300%", {600, 300, 300, 300}},
        {15, "400%", {800, 400, 400, 400}},       {16, "500%", {1000, 500, 500, 500}},
    };
    for (const Case& c : cases) {
        ResizeFields f = resizeFieldsFor(200, 100);
        ASSERT_TRUE(applyResizePreset(c.index, 200, 100, &f)) << c.index;
        EXPECT_EQ(f.width, c.expected.width) << c.index;
        EXPECT_EQ(f.height, c.expected.height) << c.index;
        EXPECT_EQ(f.widthPercent, c.expected.widthPercent) << c.index;
        EXPECT_EQ(f.heightPercent, c.expected.heightPercent) << c.index;
        EXPECT_STREQ(resizePresets()[c.index - 1].label, c.label);
    }
    // "Prédéfinie" and indices outside the list change nothing.
    for (int index : {0, -1, RESIZE_PRESET_COUNT + 1}) {
        ResizeFields f = {11, 22, 33, 44};
        EXPECT_FALSE(applyResizePreset(index, 200, 100, &f));
        EXPECT_EQ(f.width, 11);
        EXPECT_EQ(f.heightPercent, 44);
    }
    // Integer arithmetic: 25 % of 7 x 3 is 1 x 1 (never 0).
    ResizeFields f = resizeFieldsFor(7, 3);
    ASSERT_TRUE(applyResizePreset(9, 7, 3, &f));
    EXPECT_EQ(f.width, 1);
    EXPECT_EQ(f.height, 1);
}

TEST(MenuOpsResize, EditingOneFieldMovesTheOthers) {
    struct Case {
        const char* what;
        int32_t imageW, imageH;
        ResizeField field;
        int32_t value;
        bool keepRatio;
        ResizeFields expected;
    } cases[] = {
        {"width, ratio", 640, 480, FIELD_WIDTH, 320, true, {320, 240, 50, 50}},
        {"height, ratio", 640, 480, FIELD_HEIGHT, 120, true, {160, 120, 25, 25}},
        {"width percent, ratio", 640, 480, FIELD_WIDTH_PERCENT, 25, true, {160, 120, 25, 25}},
        {"height percent, ratio", 640, 480, FIELD_HEIGHT_PERCENT, 150, true, {960, 720, 150, 150}},
        {"width alone", 640, 480, FIELD_WIDTH, 320, false, {320, 480, 50, 100}},
        {"height alone", 640, 480, FIELD_HEIGHT, 960, false, {640, 960, 100, 200}},
        {"width percent alone", 640, 480, FIELD_WIDTH_PERCENT, 10, false, {64, 480, 10, 100}},
        {"height percent alone", 640, 480, FIELD_HEIGHT_PERCENT, 10, false, {640, 48, 100, 10}},
        {"odd ratio truncates", 3, 7, FIELD_WIDTH, 2, true, {2, 4, 66, 57}},
        {"tiny percent gives 1 pixel", 50, 50, FIELD_WIDTH_PERCENT, 1, true, {1, 1, 1, 1}},
        {"huge percent stops at the largest side", 15999, 10, FIELD_WIDTH_PERCENT, 1000, true, {15999, 100, 1000, 1000}},
        {"wide picture, height 1", 1000, 2, FIELD_HEIGHT, 1, true, {500, 1, 50, 50}},
        {"very flat ratio never gives 0", 1000, 2, FIELD_WIDTH, 100, true, {100, 1, 10, 50}},
    };
    for (const Case& c : cases) {
        ResizeFields f = resizeFieldsFor(c.imageW, c.imageH);
        editResizeField(c.field, c.value, c.keepRatio, c.imageW, c.imageH, &f);
        EXPECT_EQ(f.width, c.expected.width) << c.what;
        EXPECT_EQ(f.height, c.expected.height) << c.what;
        EXPECT_EQ(f.widthPercent, c.expected.widthPercent) << c.what;
        EXPECT_EQ(f.heightPercent, c.expected.heightPercent) << c.what;
    }
    // Sizes near the limits of 32 bits do not overflow.
    EXPECT_EQ(percentOfSide(2000000000, 1), INT32_MAX);
    EXPECT_EQ(pixelsOfPercent(2000000000, 15999), MENU_MAX_SIDE);
    EXPECT_EQ(keepRatioSide(15999, 1, 15999), MENU_MAX_SIDE);
    EXPECT_EQ(percentOfSide(10, 0), 1);
}

// ---- Conversion choice dialog ----

TEST(MenuOpsConversion, EachChoiceGivesTheCodeOfItsConversion) {
    // What each radio button stands for, checked against the conversions table.
    const int greyLevels[] = {4, 8, 16, 32, 64, 128, 256};
    const int colourCounts[] = {8, 16, 32, 64, 128, 216, 256};
    const int binaryMethods[] = {DM_ORDERED, DM_DIFFUSION, DM_HALFTONE45, DM_HALFTONE90};
    for (int dither = 0; dither < 4; ++dither) {
        bool greyDithered = dither & 1, colourDithered = dither & 2;
        for (int i = 0; i < 4; ++i) {
            int code = conversionCodeOfControl(IDC_CONV_BINARY_FIRST + i, greyDithered, colourDithered);
            const Conversion* c = conversionByCode(code);
            ASSERT_NE(c, nullptr);
            EXPECT_EQ(c->target, CT_BINARY);
            EXPECT_EQ(c->method, binaryMethods[i]);
            EXPECT_EQ(conversionGroupOfControl(IDC_CONV_BINARY_FIRST + i), 1u);
        }
        for (int i = 0; i < 7; ++i) {
            int code = conversionCodeOfControl(IDC_CONV_GREY_FIRST + i, greyDithered, colourDithered);
            const Conversion* c = conversionByCode(code);
            ASSERT_NE(c, nullptr) << i;
            EXPECT_EQ(targetLevels(c->target), greyLevels[i]);
            // There is no dithered 256-level grey: that choice stays plain.
            EXPECT_EQ(c->method == DM_ORDERED, greyDithered && greyLevels[i] < 256) << i;
            EXPECT_EQ(conversionGroupOfControl(IDC_CONV_GREY_FIRST + i), 2u);
        }
        for (int i = 0; i < 7; ++i) {
            int code = conversionCodeOfControl(IDC_CONV_COLOUR_FIRST + i, greyDithered, colourDithered);
            const Conversion* c = conversionByCode(code);
            ASSERT_NE(c, nullptr) << i;
            EXPECT_EQ(targetLevels(c->target), colourCounts[i]);
            EXPECT_EQ(c->method == DM_ORDERED, colourDithered) << i;
            EXPECT_EQ(conversionGroupOfControl(IDC_CONV_COLOUR_FIRST + i), 4u);
        }
        EXPECT_EQ(conversionCodeOfControl(IDC_CONV_TRUE_COLOUR, greyDithered, colourDithered), 32);
    }
    EXPECT_EQ(conversionGroupOfControl(IDC_CONV_TRUE_COLOUR), 8u);
    for (int other : {IDC_CONV_TEXT, IDC_CONV_GREY_DITHER, IDC_CONV_COLOUR_DITHER, 1, 2, 2030})
        EXPECT_EQ(conversionCodeOfControl(other, true, true), 0) << other;
    // The spot values of the dialog's description.
    EXPECT_EQ(conversionCodeOfControl(IDC_CONV_GREY_FIRST, false, false), 5);
    EXPECT_EQ(conversionCodeOfControl(IDC_CONV_GREY_FIRST, true, false), 12);
    EXPECT_EQ(conversionCodeOfControl(IDC_CONV_COLOUR_LAST, false, true), 31);
}

// ---- Commands ----

TEST(MenuOpsCommands, OperationsAndTheirDialogs) {
    struct Case {
        int command;
        bool operation;
        MenuDialog dialog;
    } cases[] = {
        {CMD_UNDO, false, MENU_DIALOG_NONE},          {CMD_COUNT_COLOURS, false, MENU_DIALOG_NONE},
        {CMD_REDUCE_FIRST, true, MENU_DIALOG_NONE},    {CMD_REDUCE_LAST, true, MENU_DIALOG_NONE},
        {CMD_BRIGHTNESS, true, MENU_DIALOG_VALUE},     {CMD_BALANCE, true, MENU_DIALOG_BALANCE},
        {CMD_NEGATE, true, MENU_DIALOG_NONE},          {CMD_EQUALIZE, true, MENU_DIALOG_NONE},
        {CMD_POSTERIZE, true, MENU_DIALOG_VALUE},      {CMD_FLIP_VERTICAL, true, MENU_DIALOG_NONE},
        {CMD_ROTATE_LEFT, true, MENU_DIALOG_NONE},     {CMD_ROTATE_FREE, true, MENU_DIALOG_VALUE},
        {CMD_RESIZE, true, MENU_DIALOG_RESIZE},        {CMD_CANVAS, true, MENU_DIALOG_CANVAS},
        {CMD_SWAP_GBR, true, MENU_DIALOG_NONE},        {CMD_AVERAGE, true, MENU_DIALOG_FILTER_SIZE},
        {CMD_BLUR, true, MENU_DIALOG_VALUE},           {CMD_GAUSSIAN_BLUR, true, MENU_DIALOG_FILTER_SIZE},
        {CMD_ENHANCE_DETAIL, true, MENU_DIALOG_NONE},  {CMD_SHARPEN, true, MENU_DIALOG_VALUE},
        {CMD_EDGE_FIRST + 2, true, MENU_DIALOG_NONE},  {CMD_REDUCE_NOISE, true, MENU_DIALOG_NONE},
        {CMD_NOISE_POISSON, true, MENU_DIALOG_VALUE},  {CMD_MAXIMUM, true, MENU_DIALOG_FILTER_SIZE},
        {CMD_MEDIAN_CROSS, true, MENU_DIALOG_FILTER_SIZE}, {CMD_DEINTERLACE, true, MENU_DIALOG_DEINTERLACE},
        {CMD_USER_FILTER, true, MENU_DIALOG_USER_FILTER}, {CMD_SLICE, true, MENU_DIALOG_NONE},
        {CMD_SHEAR, true, MENU_DIALOG_NONE},           {CMD_SPREAD, true, MENU_DIALOG_VALUE},
        {CMD_LENS, true, MENU_DIALOG_VALUE},           {CMD_WAVES, true, MENU_DIALOG_WAVES},
        {139, false, MENU_DIALOG_NONE},                {CMD_FULL_SCREEN, false, MENU_DIALOG_NONE},
        {CMD_ZOOM_IN, false, MENU_DIALOG_NONE},        {0, false, MENU_DIALOG_NONE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isMenuOperation(c.command), c.operation) << c.command;
        EXPECT_EQ(menuOpDialog(c.command), c.dialog) << c.command;
    }
}

// Parameters that make each command do something visible on the gradient.
MenuOpParams strongParams(int command, const Image& image) {
    MenuOpParams p;
    defaultMenuOpParams(command, &image, &p);
    if (const ValueRow* row = valueRow(command)) {
        int position = row->range - 1;
        if (command == CMD_POSTERIZE || command == CMD_SOLARIZE) position = 0;  // at the top they change nothing
        if (command == CMD_ROTATE_FREE) position = 45;  // 359 degrees hardly moves a 9 x 7 picture
        p.value = valueAtPosition(*row, position);
    }
    switch (command) {
    case CMD_RESIZE: p.width = 5, p.height = 11, p.method = RESAMPLE_AREA; break;
    case CMD_CANVAS: p.width = 12, p.height = 4; break;
    case CMD_BALANCE: p.red = 40, p.green = -30, p.blue = 20; break;
    case CMD_DEINTERLACE: p.keptParity = 1, p.fill = 1; break;
    case CMD_USER_FILTER:
        memset(&p.kernel, 0, sizeof p.kernel);
        p.kernel.weights[11] = -1, p.kernel.weights[12] = 3, p.kernel.divisor = 2, p.kernel.bias = 7;
        break;
    case CMD_WAVES: p.waveLength = 3.0, p.waveAmplitude = 2.5, p.wavePhase = 90; break;
    default: break;
    }
    return p;
}

struct Outcome {
    int32_t width, height;
    char kind;  // 'b' binary, 'g' grey, 'p' palette, 't' true colour, '=' as the source
};

Outcome expectedOutcome(int command, const Image& source) {
    if (command >= CMD_REDUCE_FIRST && command <= CMD_REDUCE_LAST) {
        int code = command - 50;
        char k = code <= 4 ? 'b' : code <= 17 ? 'g' : code <= 31 ? 'p' : 't';
        return {source.width, source.height, k};
    }
    switch (command) {
    case CMD_ROTATE_RIGHT:
    case CMD_ROTATE_LEFT: return {source.height, source.width, '='};
    case CMD_RESIZE: return {5, 11, '='};
    case CMD_CANVAS: return {12, 4, '='};
    case CMD_ROTATE_FREE: return {-1, -1, '='};  // a turn by 45 degrees: a larger box
    }
    return {source.width, source.height, '?'};  // '?': kind free (filters lift palettes)
}

char kindClass(uint16_t kind) {
    switch (kind) {
    case IMG_BINARY: return 'b';
    case IMG_GREY: return 'g';
    case IMG_PALETTE: return 'p';
    default: return 't';
    }
}

void runEveryCommand(void (*make)(Image*), const char* what) {
    setEffectSeed(1234);
    OwnedImage source;
    make(&source);
    OwnedImage copy;
    make(&copy);
    for (int command = 0; command < 160; ++command) {
        if (!isMenuOperation(command)) continue;
        SCOPED_TRACE(std::string(what) + " command " + std::to_string(command));
        MenuOpParams p = strongParams(command, source);
        OwnedImage result;
        ASSERT_EQ(applyMenuOperation(command, p, &source, &result), ST_OK);
        ASSERT_NE(result.pixels, nullptr);
        EXPECT_TRUE(samePicture(source, copy)) << "the source was changed";
        Outcome o = expectedOutcome(command, source);
        if (o.width > 0) {
            EXPECT_EQ(result.width, o.width);
            EXPECT_EQ(result.height, o.height);
        } else {
            EXPECT_GT(result.width, source.width);
            EXPECT_GT(result.height, source.height);
        }
        if (o.kind == '=') EXPECT_EQ(result.kind, source.kind);
        if (o.kind != '=' && o.kind != '?') EXPECT_EQ(kindClass(result.kind), o.kind);
        // Every command does something to these pictures, except conversions
        // to what the picture already is: the 8-colour palette picture into an
        // adaptive or dithered palette may stay as it is, and so may the true-colour
        // picture into true colour; those compare kinds only.
        if (source.kind == IMG_PALETTE && command >= 68 && command <= 81) continue;
        if (source.kind == IMG_RGB && command == CMD_REDUCE_LAST) continue;  // already true colour
        EXPECT_FALSE(samePicture(result, source)) << "nothing changed";
    }
}

TEST(MenuOpsCommands, EveryOperationRunsOnTrueColour) { runEveryCommand(makeRgb, "rgb"); }

TEST(MenuOpsCommands, EveryOperationRunsOnAPalettePicture) { runEveryCommand(makePalette, "palette"); }

TEST(MenuOpsCommands, ParametersOutsideTheDialogsAreRefused) {
    struct Case {
        const char* what;
        int command;
        void (*spoil)(MenuOpParams*);
    } cases[] = {
        {"brightness 256", CMD_BRIGHTNESS, [](MenuOpParams* p) { p->value = 256; }},
        {"gamma 0.00", CMD_GAMMA, [](MenuOpParams* p) { p->value = 0; }},
        {"gamma 5.01", CMD_GAMMA, [](MenuOpParams* p) { p->value = 501; }},
        {"posterise 3 levels", CMD_POSTERIZE, [](MenuOpParams* p) { p->value = 3; }},
        {"tiles of 0", CMD_CHECKERBOARD, [](MenuOpParams* p) { p->value = 0; }},
        {"sharpen 100", CMD_SHARPEN, [](MenuOpParams* p) { p->value = 100; }},
        {"rotation 360", CMD_ROTATE_FREE, [](MenuOpParams* p) { p->value = 360; }},
        {"poisson 1.01", CMD_NOISE_POISSON, [](MenuOpParams* p) { p->value = 101; }},
        {"resize width 0", CMD_RESIZE, [](MenuOpParams* p) { p->width = 0; }},
        {"resize height 16000", CMD_RESIZE, [](MenuOpParams* p) { p->height = 16000; }},
        {"resize method 2", CMD_RESIZE, [](MenuOpParams* p) { p->method = 2; }},
        {"canvas height -3", CMD_CANVAS, [](MenuOpParams* p) { p->height = -3; }},
        {"balance 256", CMD_BALANCE, [](MenuOpParams* p) { p->green = 256; }},
        {"filter size 4", CMD_MEDIAN_BOX, [](MenuOpParams* p) { p->filterSize = 4; }},
        {"filter size 15", CMD_AVERAGE, [](MenuOpParams* p) { p->filterSize = 15; }},
        {"parity 2", CMD_DEINTERLACE, [](MenuOpParams* p) { p->keptParity = 2; }},
        {"fill 2", CMD_DEINTERLACE, [](MenuOpParams* p) { p->fill = 2; }},
        {"divisor 0", CMD_USER_FILTER, [](MenuOpParams* p) { p->kernel.divisor = 0; }},
        {"wave length 0.5", CMD_WAVES, [](MenuOpParams* p) { p->waveLength = 0.5; }},
        {"wave amplitude -1", CMD_WAVES, [](MenuOpParams* p) { p->waveAmplitude = -1; }},
        {"wave phase 400", CMD_WAVES, [](MenuOpParams* p) { p->wavePhase = 400; }},
        {"not an operation", CMD_COUNT_COLOURS, [](MenuOpParams*) {}},
        {"zoom", CMD_ZOOM_IN, [](MenuOpParams*) {}},
    };
    OwnedImage source, copy;
    makeRgb(&source);
    makeRgb(&copy);
    for (const Case& c : cases) {
        MenuOpParams p;
        defaultMenuOpParams(c.command, &source, &p);
        c.spoil(&p);
        OwnedImage result;
        EXPECT_EQ(applyMenuOperation(c.command, p, &source, &result), ST_OP_BAD_PARAMETER) << c.what;
        EXPECT_EQ(result.pixels, nullptr) << c.what;
        EXPECT_TRUE(samePicture(source, copy)) << c.what;
    }
    // No picture, or the source as its own destination.
    MenuOpParams p;
    defaultMenuOpParams(CMD_NEGATE, &source, &p);
    OwnedImage empty, result;
    EXPECT_EQ(applyMenuOperation(CMD_NEGATE, p, &empty, &result), ST_KIND_REFUSED);
    EXPECT_EQ(applyMenuOperation(CMD_NEGATE, p, nullptr, &result), ST_KIND_REFUSED);
    EXPECT_EQ(applyMenuOperation(CMD_NEGATE, p, &source, nullptr), ST_KIND_REFUSED);
    EXPECT_EQ(applyMenuOperation(CMD_NEGATE, p, &source, &source), ST_KIND_REFUSED);
    EXPECT_TRUE(samePicture(source, copy));
}

TEST(MenuOpsCommands, DefaultsOfTheOtherDialogsAreNeutralOrUsable) {
    OwnedImage source;
    makeRgb(&source);
    MenuOpParams p;
    // Resize and canvas start at the picture's size: the picture comes back unchanged.
    for (int command : {CMD_RESIZE, CMD_CANVAS, CMD_BALANCE, CMD_USER_FILTER}) {
        defaultMenuOpParams(command, &source, &p);
        OwnedImage result;
        ASSERT_EQ(applyMenuOperation(command, p, &source, &result), ST_OK) << command;
        EXPECT_TRUE(samePicture(result, source)) << command;
    }
    for (int command : {CMD_AVERAGE, CMD_DEINTERLACE, CMD_WAVES}) {
        defaultMenuOpParams(command, &source, &p);
        OwnedImage result;
        EXPECT_EQ(applyMenuOperation(command, p, &source, &result), ST_OK) << command;
    }
    EXPECT_EQ(filterSizeAt(0), 3);
    EXPECT_EQ(filterSizeAt(5), 13);
    EXPECT_EQ(filterSizeAt(6), -1);
    EXPECT_EQ(filterSizeIndex(9), 3);
    EXPECT_EQ(filterSizeIndex(8), -1);
    EXPECT_EQ(filterSizeIndex(1), -1);
}

}  // namespace
