// The batch operation table and its lookups.
#include "optable.h"

#include <cmath>
#include <cstring>

#include "dither.h"
#include "tone.h"
#include "effects.h"
#include "filter.h"
#include "geometry.h"

Status opNotAvailable(Image*, const OpInstance&) {
    return ST_OP_NOT_AVAILABLE;
}

namespace {

constexpr OpParam NOP = {"", 0, 0};

// One integer parameter.
constexpr OpEntry intEntry(const char* option, const char* label, int32_t lo, int32_t hi, int32_t def, OpRun run) {
    return OpEntry{option, label, OPK_INT, 1, {{"", lo, hi}, NOP, NOP}, {def, 0, 0, 0}, {0, 0, 0}, run};
}
// One real in hundredths.
constexpr OpEntry realEntry(const char* option, const char* label, int32_t lo, int32_t hi, double def, OpRun run) {
    return OpEntry{option, label, OPK_HUNDREDTHS, 1, {{"", lo, hi}, NOP, NOP}, {0, 0, 0, 0}, {def, 0, 0}, run};
}
// No parameter.
constexpr OpEntry plainEntry(const char* option, const char* label, OpRun run) {
    return OpEntry{option, label, OPK_NONE, 0, {NOP, NOP, NOP}, {0, 0, 0, 0}, {0, 0, 0}, run};
}
// A filter size chosen among 3x3 ... 13x13.
constexpr OpEntry sizeEntry(const char* option, const char* label, OpRun run) {
    return OpEntry{option, label, OPK_FILTER_SIZE, 1, {{"", 3, 13}, NOP, NOP}, {3, 0, 0, 0}, {0, 0, 0}, run};
}

const OpEntry kOps[OP_COUNT] = {
    /*  0 */ {"-truecolors", "Convertir en Vraies couleurs", OPK_TRUECOLOUR, 0, {NOP, NOP, NOP},
              {0, 0, 0, 0}, {0, 0, 0}, opTrueColour},
    /*  1 */ {"-colors", "Convertir en Couleurs", OPK_COLOURS, 2, {{"", 12, 18}, {"Tramé", 0, 1}, NOP},
              {18, 1, 0, 0}, {0, 0, 0}, opColours},
    /*  2 */ {"-grey", "Convertir en Niveaux de gris", OPK_GREY, 2, {{"", 2, 9}, {"Tramé", 0, 1}, NOP},
              {9, 1, 0, 0}, {0, 0, 0}, opGrey},
    /*  3 */ {"-binary", "Convertir en Binaire", OPK_BINARY, 1, {{"", 1, 5}, NOP, NOP},
              {1, 0, 0, 0}, {0, 0, 0}, opBinary},
    /*  4 */ {"-resize", "Redimensionner", OPK_RESIZE, 2, {{"Largeur", 1, 15999}, {"Hauteur", 1, 15999}, NOP},
              {100, 100, 0, 0}, {0, 0, 0}, opResize},
    /*  5 */ {"-crop", "Couper", OPK_RECT, 3,
              {{"X", 0, 15998}, {"Y", 0, 15998}, {"Largeur", 1, 15999}},
              {0, 0, 256, 256}, {0, 0, 0}, opCrop},
    /*  6 */ {"-canvas", "Taille", OPK_CANVAS, 2, {{"Largeur", 1, 15999}, {"Hauteur", 1, 15999}, NOP},
              {100, 100, 0, 0}, {0, 0, 0}, opCanvas},
    /*  7 */ plainEntry("-xflip", "Inversion Horizontale", opMirror),
    /*  8 */ plainEntry("-yflip", "Inversion Verticale", opFlip),
    /*  9 */ intEntry("-rotate", "Rotation", -180, 180, 0, opRotate),
    /* 10 */ plainEntry("-negate", "Négatif", opNegate),
    /* 11 */ intEntry("-brightness", "Luminosité", -255, 255, 0, opBrightness),
    /* 12 */ intEntry("-contrast", "Contraste", -127, 127, 0, opContrast),
    /* 13 */ realEntry("-gamma", "Changer Gamma", 1, 500, 1.00, opGamma),
    /* 14 */ {"-balance", "Balance des couleurs", OPK_THREE_INTS, 3,
              {{"Rouge", -100, 100}, {"Vert", -100, 100}, {"Bleu", -100, 100}},
              {0, 0, 0, 0}, {0, 0, 0}, opBalance},
    /* 15 */ plainEntry("-log", "Lut logarithmique", opLog),
    /* 16 */ intEntry("-solarize", "Solariser", 0, 255, 255, opSolarize),
    /* 17 */ {"-posterize", "Posteriser", OPK_LEVELS, 1, {{"", 2, 256}, NOP, NOP},
              {256, 0, 0, 0}, {0, 0, 0}, opPosterize},
    /* 18 */ plainEntry("-normalize", "Normaliser", opNormalize),
    /* 19 */ plainEntry("-equalize", "Egaliser", opEqualize),
    /* 20 */ {"-swap", "Inversion des composantes", OPK_CHANNELS, 1, {{"", 0, 4}, NOP, NOP},
              {0, 0, 0, 0}, {0, 0, 0}, opSwap},
    /* 21 */ plainEntry("-edetail", "Réhausse Détail", opDetail),
    /* 22 */ plainEntry("-efocus", "Réhausse Focus", opFocus),
    /* 23 */ plainEntry("-eedge", "Réhausse Bords", opEdgeEnhance),
    /* 24 */ plainEntry("-frestore", "Restaure Focus", opRestoreFocus),
    /* 25 */ plainEntry("-edgedetect light", "Détection des bords Léger", opEdgeLight),
    /* 26 */ plainEntry("-edgedetect medium", "Détection des bords Moyen", opEdgeMedium),
    /* 27 */ plainEntry("-edgedetect heavy", "Détection des bords Fort", opEdgeHeavy),
    /* 28 */ plainEntry("-emboss", "Emboss", opEmboss),
    /* 29 */ plainEntry("-embossmore", "Emboss More", opEmbossMore),
    /* 30 */ sizeEntry("-average", "Moyenne", opAverage),
    /* 31 */ intEntry("-soften", "Adoucit", 1, 100, 1, opSoften),
    /* 32 */ intEntry("-blur", "Blur", 1, 100, 1, opBlur),
    /* 33 */ sizeEntry("-gauss", "Blur Gaussien", opGauss),
    /* 34 */ sizeEntry("-maximum", "Maximum", opMaximum),
    /* 35 */ sizeEntry("-minimum", "Minimum", opMinimum),
    /* 36 */ sizeEntry("-medianb", "Median Boite", opMedianBox),
    /* 37 */ sizeEntry("-medianc", "Median Croix", opMedianCross),
    /* 38 */ intEntry("-sharpen", "Filtre Sharpen", 1, 100, 1, opSharpen),
    /* 39 */ plainEntry("-noise reduce", "Réduire le bruit", opNoiseReduce),
    /* 40 */ realEntry("-noise uniform", "Ajoute un bruit uniforme", 10, 5000, 0.10, opNoiseUniform),
    /* 41 */ realEntry("-noise gaussian", "Ajoute un bruit gaussien", 10, 1000, 0.40, opNoiseGaussian),
    /* 42 */ realEntry("-noise laplacian", "Ajoute un bruit laplacien", 10, 5000, 0.10, opNoiseLaplacian),
    /* 43 */ realEntry("-noise poisson", "Ajoute un bruit poisson", 1, 100, 1.00, opNoisePoisson),
    /* 44 */ intEntry("-mosaic", "Mosaique", 1, 64, 1, opMosaic),
    /* 45 */ plainEntry("-slice", "Slice", opSlice),
    /* 46 */ intEntry("-tile", "Damier", 1, 64, 1, opTiles),
    /* 47 */ plainEntry("-shear", "Shear", opShear),
    /* 48 */ intEntry("-oil", "Huile", 1, 16, 1, opOil),
    /* 49 */ intEntry("-swirl", "Spirale", 0, 359, 0, opSwirl),
    /* 50 */ intEntry("-spread", "Spread", 1, 32, 1, opSpread),
    /* 51 */ intEntry("-lens", "Lentille", 1, 100, 1, opLens),
    /* 52 */ {"-waves", "Vague", OPK_THREE_REALS, 3,
              {{"Longueur", 100, 5000}, {"Phase", 0, 36000}, {"Amplitude", 0, 10000}},
              {0, 0, 0, 0}, {3.00, 5.00, 0.00}, opWaves},
};

bool inRange(int32_t v, const OpParam& p) {
    return v >= p.minimum && v <= p.maximum;
}

// A real edited in hundredths lies within the hundredths range of its parameter.
bool realInRange(double v, const OpParam& p) {
    if (!std::isfinite(v)) return false;
    double h = std::floor(v * 100.0 + 0.5);
    return h >= p.minimum && h <= p.maximum;
}

bool isPowerOfTwoLevels(int32_t n) {
    return n >= 2 && n <= 256 && (n & (n - 1)) == 0;
}

}  // namespace

const OpEntry* opEntry(int index) {
    if (index < 0 || index >= OP_COUNT) return nullptr;
    return &kOps[index];
}

const char* opLabel(int index) {
    const OpEntry* e = opEntry(index);
    return e ? e->label : nullptr;
}

int findOp(const char* option) {
    if (!option) return -1;
    for (int i = 0; i < OP_COUNT; ++i)
        if (strcmp(kOps[i].option, option) == 0) return i;
    return -1;
}

int findOpWords(const char* first, const char* second, int* wordsUsed) {
    int used = 0;
    int found = -1;
    if (first) {
        if (second) {
            size_t a = strlen(first), b = strlen(second);
            for (int i = 0; i < OP_COUNT && found < 0; ++i) {
                const char* o = kOps[i].option;
                if (strlen(o) == a + 1 + b && strncmp(o, first, a) == 0 && o[a] == ' ' && strcmp(o + a + 1, second) == 0) {
                    found = i;
                    used = 2;
                }
            }
        }
        if (found < 0) {
            found = findOp(first);
            if (found >= 0) used = 1;
        }
    }
    if (wordsUsed) *wordsUsed = used;
    return found;
}

bool initOpInstance(OpInstance* op, int index) {
    const OpEntry* e = opEntry(index);
    if (!op || !e) return false;
    memset(op, 0, sizeof *op);
    op->index = index;
    for (int i = 0; i < 4; ++i) op->ints[i] = e->ints[i];
    for (int i = 0; i < 3; ++i) op->reals[i] = e->reals[i];
    op->method = RESAMPLE_NEAREST;
    return true;
}

bool opInstanceValid(const OpInstance& op) {
    const OpEntry* e = opEntry(op.index);
    if (!e) return false;
    switch (e->kind) {
    case OPK_NONE:
    case OPK_TRUECOLOUR:
        return true;
    case OPK_INT:
        return inRange(op.ints[0], e->params[0]);
    case OPK_HUNDREDTHS:
        return realInRange(op.reals[0], e->params[0]);
    case OPK_THREE_REALS:
        for (int i = 0; i < 3; ++i)
            if (!realInRange(op.reals[i], e->params[i])) return false;
        return true;
    case OPK_THREE_INTS:
        for (int i = 0; i < 3; ++i)
            if (!inRange(op.ints[i], e->params[i])) return false;
        return true;
    case OPK_RESIZE:
    case OPK_CANVAS:
        return inRange(op.ints[0], e->params[0]) && inRange(op.ints[1], e->params[1]) &&
               (op.method == RESAMPLE_NEAREST || op.method == RESAMPLE_AREA);
    case OPK_RECT:
        return inRange(op.ints[0], e->params[0]) && inRange(op.ints[1], e->params[1]) &&
               inRange(op.ints[2], e->params[2]) && op.ints[3] >= 1 && op.ints[3] <= 15999;
    case OPK_COLOURS:
        return inRange(op.ints[0], e->params[0]) && (op.ints[1] == 0 || op.ints[1] == 1);
    case OPK_GREY:
        return ((op.ints[0] >= 2 && op.ints[0] <= 7) || op.ints[0] == 9) && (op.ints[1] == 0 || op.ints[1] == 1);
    case OPK_BINARY:
        return op.ints[0] == 1 || op.ints[0] == 2 || op.ints[0] == 3 || op.ints[0] == 5;
    case OPK_LEVELS:
        return isPowerOfTwoLevels(op.ints[0]);
    case OPK_FILTER_SIZE:
        return op.ints[0] >= 3 && op.ints[0] <= 13 && (op.ints[0] & 1);
    case OPK_CHANNELS:
        return inRange(op.ints[0], e->params[0]);
    default:
        return false;
    }
}

Status runOp(Image* image, const OpInstance& op) {
    if (!image || !image->pixels || !opInstanceValid(op)) return ST_OP_BAD_PARAMETER;
    return kOps[op.index].run(image, op);
}

const char* opStatusText(Status st) {
    if (st == ST_OP_NOT_AVAILABLE) return "operation not available";
    if (st == ST_OP_BAD_PARAMETER) return "bad parameter";
    return statusName(st);
}
