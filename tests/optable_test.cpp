// The batch operation table: 53 entries in order, unique options, defaults
// within their ranges, the lookups by option and by command-line words, and the
// entries of the colour and tone operations run through runOp.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dither.h"
#include "optable.h"
#include "optestutil.h"

using namespace optest;

TEST(OpTable, EntriesInOrder) {
    struct Case {
        int index;
        const char* option;
        const char* label;
        int kind;
    };
    const Case cases[] = {
        {0, "-truecolors", "Convertir en Vraies couleurs", 9},
        {1, "-colors", "Convertir en Couleurs", 10},
        {2, "-grey", "Convertir en Niveaux de gris", 11},
        {3, "-binary", "Convertir en Binaire", 12},
        {4, "-resize", "Redimensionner", 6},
        {5, "-crop", "Couper", 7},
        {6, "-canvas", "Taille", 8},
        {7, "-xflip", "Inversion Horizontale", 0},
        {8, "-yflip", "Inversion Verticale", 0},
        {9, "-rotate", "Rotation", 1},
        {10, "-negate", "Négatif", 0},
        {11, "-brightness", "Luminosité", 1},
        {12, "-contrast", "Contraste", 1},
        {13, "-gamma", "Changer Gamma", 2},
        {14, "-balance", "Balance des couleurs", 16},
        {15, "-log", "Lut logarithmique", 0},
        {16, "-solarize", "Solariser", 1},
        {17, "-posterize", "Posteriser", 13},
        {18, "-normalize", "Normaliser", 0},
        {19, "-equalize", "Egaliser", 0},
        {20, "-swap", "Inversion des composantes", 15},
        {21, "-edetail", "Réhausse Détail", 0},
        {25, "-edgedetect light", "Détection des bords Léger", 0},
        {27, "-edgedetect heavy", "Détection des bords Fort", 0},
        {30, "-average", "Moyenne", 14},
        {33, "-gauss", "Blur Gaussien", 14},
        {38, "-sharpen", "Filtre Sharpen", 1},
        {39, "-noise reduce", "Réduire le bruit", 0},
        {41, "-noise gaussian", "Ajoute un bruit gaussien", 2},
        {43, "-noise poisson", "Ajoute un bruit poisson", 2},
        {44, "-mosaic", "Mosaique", 1},
        {46, "-tile", "Damier", 1},
        {49, "-swirl", "Spirale", 1},
        {52, "-waves", "Vague", 3},
    };
    for (const Case& c : cases) {
        const OpEntry* e = opEntry(c.index);
        ASSERT_NE(e, nullptr) << c.index;
        EXPECT_STREQ(e->option, c.option) << c.index;
        EXPECT_STREQ(e->label, c.label) << c.index;
        EXPECT_STREQ(opLabel(c.index), c.label) << c.index;
        EXPECT_EQ(e->kind, c.kind) << c.index;
        EXPECT_EQ(findOp(c.option), c.index) << c.option;
    }
    EXPECT_EQ(opEntry(-1), nullptr);
    EXPECT_EQ(opEntry(OP_COUNT), nullptr);
    EXPECT_EQ(opLabel(53), nullptr);
}

TEST(OpTable, OptionsUniqueAndDefaultsValid) {
    std::set<std::string> options, labels;
    for (int i = 0; i < OP_COUNT; ++i) {
        const OpEntry* e = opEntry(i);
        ASSERT_NE(e, nullptr);
        ASSERT_NE(e->run, nullptr) << i;
        EXPECT_EQ(e->option[0], '-') << i;
        EXPECT_GT(strlen(e->label), 0u) << i;
        EXPECT_TRUE(options.insert(e->option).second) << e->option;
        EXPECT_TRUE(labels.insert(e->label).second) << e->label;
        EXPECT_LE(e->paramCount, 3) << i;
        for (int p = 0; p < e->paramCount; ++p) EXPECT_LE(e->params[p].minimum, e->params[p].maximum) << i;
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, i));
        EXPECT_EQ(op.index, i);
        EXPECT_TRUE(opInstanceValid(op)) << e->option;
    }
    EXPECT_EQ(options.size(), 53u);
    OpInstance op;
    EXPECT_FALSE(initOpInstance(&op, 53));
    EXPECT_FALSE(initOpInstance(&op, -1));
}

// Defaults and ranges the dialogs and the scripts rely on.
TEST(OpTable, DefaultsAndRanges) {
    struct Case {
        const char* option;
        int param;  // -1: check ints[0] / reals[0] only
        int minimum, maximum;
        int defaultInt;
        double defaultReal;
    };
    const Case cases[] = {
        {"-brightness", 0, -255, 255, 0, 0},
        {"-contrast", 0, -127, 127, 0, 0},
        {"-gamma", 0, 1, 500, 0, 1.00},  // neutral gamma
        {"-balance", 2, -100, 100, 0, 0},
        {"-solarize", 0, 0, 255, 255, 0},
        {"-posterize", -1, 0, 0, 256, 0},
        {"-colors", -1, 0, 0, CT_COLOURS256, 0},
        {"-grey", -1, 0, 0, CT_GREY256, 0},
        {"-binary", -1, 0, 0, DM_ORDERED, 0},
        {"-swap", -1, 0, 0, 0, 0},
        {"-average", -1, 0, 0, 3, 0},
        {"-rotate", 0, -180, 180, 0, 0},
        {"-noise uniform", 0, 10, 5000, 0, 0.10},
        {"-noise gaussian", 0, 10, 1000, 0, 0.40},
        {"-noise poisson", 0, 1, 100, 0, 1.00},
        {"-oil", 0, 1, 16, 1, 0},
        {"-swirl", 0, 0, 359, 0, 0},
        {"-spread", 0, 1, 32, 1, 0},
    };
    for (const Case& c : cases) {
        int i = findOp(c.option);
        ASSERT_GE(i, 0) << c.option;
        const OpEntry* e = opEntry(i);
        if (c.param >= 0) {
            EXPECT_EQ(e->params[c.param].minimum, c.minimum) << c.option;
            EXPECT_EQ(e->params[c.param].maximum, c.maximum) << c.option;
        }
        if (e->kind == OPK_HUNDREDTHS)
            EXPECT_DOUBLE_EQ(e->reals[0], c.defaultReal) << c.option;
        else
            EXPECT_EQ(e->ints[0], c.defaultInt) << c.option;
    }
    const OpEntry* colors = opEntry(findOp("-colors"));
    EXPECT_EQ(colors->ints[1], 1);  // dithered
    const OpEntry* crop = opEntry(findOp("-crop"));
    EXPECT_EQ(crop->ints[2], 256);
    EXPECT_EQ(crop->ints[3], 256);
    const OpEntry* waves = opEntry(findOp("-waves"));
    EXPECT_DOUBLE_EQ(waves->reals[0], 3.00);
    EXPECT_DOUBLE_EQ(waves->reals[1], 5.00);
    EXPECT_DOUBLE_EQ(waves->reals[2], 0.00);
    EXPECT_STREQ(waves->params[1].label, "Phase");
    EXPECT_STREQ(opEntry(findOp("-balance"))->params[0].label, "Rouge");
}

TEST(OpTable, LookupByWords) {
    struct Case {
        const char* first;
        const char* second;
        int index;
        int words;
    };
    const Case cases[] = {
        {"-noise", "reduce", 39, 2},
        {"-noise", "laplacian", 42, 2},
        {"-edgedetect", "medium", 26, 2},
        {"-gamma", "1.5", 13, 1},
        {"-negate", nullptr, 10, 1},
        {"-negate", "-gamma", 10, 1},
        {"-noise", nullptr, -1, 0},
        {"-noise", "loud", -1, 0},
        {"-edgedetect", "-negate", -1, 0},
        {"negate", nullptr, -1, 0},
        {"-NEGATE", nullptr, -1, 0},
        {"", nullptr, -1, 0},
        {nullptr, nullptr, -1, 0},
    };
    for (const Case& c : cases) {
        int used = 99;
        EXPECT_EQ(findOpWords(c.first, c.second, &used), c.index) << (c.first ? c.first : "(null)");
        EXPECT_EQ(used, c.words) << (c.first ? c.first : "(null)");
    }
    EXPECT_EQ(findOp("-noise"), -1);
    EXPECT_EQ(findOp("-noise reduce"), 39);
    EXPECT_EQ(findOp(nullptr), -1);
}

TEST(OpTable, ParameterValidation) {
    struct Case {
        const char* option;
        int slot;  // ints index, or -1 for reals[0]
        double value;
        bool valid;
    };
    const Case cases[] = {
        {"-brightness", 0, 255, true},   {"-brightness", 0, 256, false}, {"-contrast", 0, -128, false},
        {"-gamma", -1, 0.01, true},      {"-gamma", -1, 0.0, false},     {"-gamma", -1, 5.0, true},
        {"-gamma", -1, 5.01, false},     {"-posterize", 0, 4, true},     {"-posterize", 0, 3, false},
        {"-posterize", 0, 512, false},   {"-grey", 0, 8, false},         {"-grey", 0, 7, true},
        {"-grey", 0, 10, false},         {"-colors", 0, 11, false},      {"-colors", 0, 17, true},
        {"-colors", 1, 2, false},        {"-binary", 0, 5, true},        {"-binary", 0, 4, false},
        {"-binary", 0, 0, false},        {"-swap", 0, 4, true},          {"-swap", 0, 5, false},
        {"-balance", 1, -101, false},    {"-average", 0, 4, false},      {"-average", 0, 13, true},
        {"-average", 0, 15, false},      {"-solarize", 0, -1, false},
    };
    for (const Case& c : cases) {
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, findOp(c.option)));
        if (c.slot < 0)
            op.reals[0] = c.value;
        else
            op.ints[c.slot] = static_cast<int32_t>(c.value);
        EXPECT_EQ(opInstanceValid(op), c.valid) << c.option << " " << c.value;
        if (!c.valid) {
            OwnedImage img;
            ASSERT_TRUE(makeImage(&img, IMG_RGB, 1, 1, {1, 2, 3}));
            EXPECT_EQ(runOp(&img, op), ST_OP_BAD_PARAMETER) << c.option;
            EXPECT_EQ(colourAt(img, 0, 0), (Rgb3{1, 2, 3}));
        }
    }
    OpInstance op;
    ASSERT_TRUE(initOpInstance(&op, 10));
    op.index = 53;
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_RGB, 1, 1, {1, 2, 3}));
    EXPECT_EQ(runOp(&img, op), ST_OP_BAD_PARAMETER);
    op.index = 10;
    EXPECT_EQ(runOp(nullptr, op), ST_OP_BAD_PARAMETER);
}

// The colour and tone entries through runOp, on their defaults and edited values.
TEST(OpTable, ColourAndToneEntriesRun) {
    struct Case {
        const char* option;
        int int0, int1, int2;
        double real0;
        uint16_t kind;   // of the result
        int colours;
        Rgb3 expect;     // of the pixel (200, 100, 0)
    };
    const int keep = -1000;  // leave the default
    const Case cases[] = {
        {"-truecolors", keep, keep, keep, 0, IMG_RGB, 0, {200, 100, 0}},
        {"-negate", keep, keep, keep, 0, IMG_RGB, 0, {55, 155, 255}},
        {"-brightness", 100, keep, keep, 0, IMG_RGB, 0, {255, 200, 100}},
        {"-contrast", 127, keep, keep, 0, IMG_RGB, 0, {255, 0, 0}},
        {"-gamma", keep, keep, keep, 1.00, IMG_RGB, 0, {200, 100, 0}},
        {"-balance", -100, 10, 20, 0, IMG_RGB, 0, {100, 110, 20}},
        {"-log", keep, keep, keep, 0, IMG_RGB, 0, {243, 212, 0}},  // 255 ln 201 / ln 256 = 243.9
        {"-solarize", 128, keep, keep, 0, IMG_RGB, 0, {55, 100, 0}},
        {"-posterize", 4, keep, keep, 0, IMG_RGB, 0, {255, 85, 0}},
        {"-swap", 1, keep, keep, 0, IMG_RGB, 0, {0, 100, 200}},
        {"-grey", 9, 0, keep, 0, IMG_GREY, 256, {118, 118, 118}},  // (77 x 200 + 150 x 100) shr 8 = 118
        {"-grey", 4, 0, keep, 0, IMG_GREY, 16, {102, 102, 102}},   // 118 x 15 / 255 = 6, shown as 6 x 17
        {"-colors", 18, 0, keep, 0, IMG_PALETTE, 1, {200, 100, 0}},
        {"-binary", 5, keep, keep, 0, IMG_BINARY, 2, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, findOp(c.option)));
        if (c.int0 != keep) op.ints[0] = c.int0;
        if (c.int1 != keep) op.ints[1] = c.int1;
        if (c.int2 != keep) op.ints[2] = c.int2;
        if (opEntry(op.index)->kind == OPK_HUNDREDTHS) op.reals[0] = c.real0;
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, IMG_RGB, 2, 2, std::vector<uint8_t>{200, 100, 0, 200, 100, 0, 200, 100, 0, 200, 100, 0}));
        ASSERT_EQ(runOp(&img, op), ST_OK) << c.option;
        EXPECT_EQ(img.kind, c.kind) << c.option;
        EXPECT_EQ(img.colours, c.colours) << c.option;
        EXPECT_EQ(colourAt(img, 1, 1), c.expect) << c.option;
    }
}

// The defaults of the reductions: 256 dithered colours, 256 grey levels, the
// ordered pattern in black and white.
TEST(OpTable, ReductionDefaults) {
    struct Case {
        const char* option;
        uint16_t kind;
        int colours;
    };
    const Case cases[] = {{"-colors", IMG_PALETTE, 256}, {"-grey", IMG_GREY, 256}, {"-binary", IMG_BINARY, 2}};
    for (const Case& c : cases) {
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, findOp(c.option)));
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, IMG_BGR32, 2, 1, {5, 6, 7, 200, 201, 202}));
        ASSERT_EQ(runOp(&img, op), ST_OK) << c.option;
        EXPECT_EQ(img.kind, c.kind) << c.option;
        EXPECT_EQ(img.colours, c.colours) << c.option;
    }
}

// Every entry on its defaults answers with a status and leaves a valid picture.
TEST(OpTable, EveryEntryAnswers) {
    for (int i = 0; i < OP_COUNT; ++i) {
        for (uint16_t kind : {IMG_RGB, IMG_PALETTE, IMG_BINARY}) {
            OpInstance op;
            ASSERT_TRUE(initOpInstance(&op, i));
            OwnedImage img;
            std::vector<uint8_t> v;
            for (int k = 0; k < 12 * 10 * 3; ++k) v.push_back(static_cast<uint8_t>(kind == IMG_BINARY ? k & 1 : k * 7));
            ASSERT_TRUE(makeImage(&img, kind, 12, 10, v, kind == IMG_PALETTE ? 256 : 0));
            Status st = runOp(&img, op);
            EXPECT_TRUE(st == ST_OK || st == ST_OP_NOT_AVAILABLE) << opEntry(i)->option << " " << statusName(st);
            EXPECT_NE(img.pixels, nullptr) << opEntry(i)->option;
            EXPECT_GE(img.width, 1);
            EXPECT_GE(img.height, 1);
            EXPECT_GE(img.stride, img.width * img.bytesPerPixel);
        }
    }
}

TEST(OpTable, NotAvailableStatus) {
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 1, 1, {7}));
    OpInstance op;
    ASSERT_TRUE(initOpInstance(&op, 7));
    EXPECT_EQ(opNotAvailable(&img, op), ST_OP_NOT_AVAILABLE);
    EXPECT_EQ(valueAt(img, 0, 0), 7);
    EXPECT_STREQ(opStatusText(ST_OP_NOT_AVAILABLE), "operation not available");
    EXPECT_STREQ(opStatusText(ST_OP_BAD_PARAMETER), "bad parameter");
    EXPECT_STREQ(opStatusText(ST_NO_MEMORY), "ST_NO_MEMORY");
    EXPECT_FALSE(isKnownStatus(ST_OP_NOT_AVAILABLE));  // never confused with a core status
    EXPECT_FALSE(isKnownStatus(ST_OP_BAD_PARAMETER));
}
