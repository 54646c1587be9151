// The image window's "&Image" and "Fi&ltre" commands without any window.
#include "menuops.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dither.h"
#include "effects.h"
#include "geometry.h"
#include "optable.h"
#include "resource.h"
#include "tone.h"

namespace {

// The value dialog's operations: command, title string, range, neutral
// position, LastValue slot, and how a position becomes the value.
// Damier starts at 1 (a tile of 0 pixels is no tile) and Sharpen stops at 99
// (at 100 its weights add up to 0 and every flat area turns black). Gamma
// opens at 1.00, the position that leaves the picture as it is; its bar
// still runs from 0.01 to 5.00.
const ValueRow VALUE_ROWS[VALUE_ROW_COUNT] = {
    {CMD_BRIGHTNESS, 4200, 511, 255, 0, VALUE_OFFSET, -255, 1},
    {CMD_CONTRAST, 4201, 255, 127, 1, VALUE_OFFSET, -127, 1},
    {CMD_GAMMA, 4202, 500, 99, 2, VALUE_OFFSET, 1, 100},
    {CMD_SOLARIZE, 4203, 256, 128, 3, VALUE_OFFSET, 0, 1},
    {CMD_POSTERIZE, 4204, 8, 7, 4, VALUE_POWER, 0, 1},
    {CMD_MOSAIC, 4205, 64, 3, 5, VALUE_OFFSET, 1, 1},
    {CMD_CHECKERBOARD, 4216, 64, 0, 6, VALUE_OFFSET, 1, 1},
    {CMD_OIL, 4217, 16, 0, 7, VALUE_OFFSET, 1, 1},
    {CMD_SHARPEN, 4206, 99, 49, 8, VALUE_OFFSET, 1, 1},
    {CMD_SPIRAL, 4219, 360, 179, 9, VALUE_OFFSET, 0, 1},
    {CMD_BLUR, 4208, 100, 4, 10, VALUE_OFFSET, 1, 1},
    {CMD_SOFTEN, 4210, 100, 4, 11, VALUE_OFFSET, 1, 1},
    {CMD_ENHANCE_EDGES, 4211, 100, 49, 12, VALUE_OFFSET, 1, 1},
    {CMD_SPREAD, 4218, 32, 3, 13, VALUE_OFFSET, 1, 1},
    {CMD_LENS, 4220, 100, 99, 14, VALUE_OFFSET, 1, 1},
    {CMD_NOISE_UNIFORM, 4221, 500, 249, 15, VALUE_OFFSET, 1, 10},
    {CMD_NOISE_GAUSSIAN, 4222, 100, 3, 16, VALUE_OFFSET, 1, 10},
    {CMD_NOISE_LAPLACIAN, 4223, 500, 99, 17, VALUE_OFFSET, 1, 10},
    {CMD_NOISE_POISSON, 4224, 100, 4, 18, VALUE_OFFSET, 1, 100},
    {CMD_ROTATE_FREE, 4225, 360, 0, 22, VALUE_OFFSET, 0, 1},
};

const ResizePreset RESIZE_PRESETS[RESIZE_PRESET_COUNT] = {
    {"160x120", 160, 120, 0},   {"320x240", 320, 240, 0},     {"640x480", 640, 480, 0},
    {"720x576", 720, 576, 0},   {"800x600", 800, 600, 0},     {"1024x768", 1024, 768, 0},
    {"1280x1024", 1280, 1024, 0}, {"1600x1200", 1600, 1200, 0}, {"25%", 0, 0, 25},
    {"50%", 0, 0, 50},          {"75%", 0, 0, 75},            {"100%", 0, 0, 100},
    {"200%", 0, 0, 200},        {"300%", 0, 0, 300},          {"400%", 0, 0, 400},
    {"500%", 0, 0, 500},
};

int32_t clampInt(int64_t v, int64_t lo, int64_t hi) {
    return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

bool validPicture(const Image* image) {
    return image && image->pixels && image->width > 0 && image->height > 0;
}

// The value dialog operations, with the value in the row's units.
Status applyValue(int commandId, int32_t value, Image* s, Image* d) {
    switch (commandId) {
    case CMD_BRIGHTNESS: return brightnessImage(s, d, value);
    case CMD_CONTRAST: return contrastImage(s, d, value);
    case CMD_GAMMA: return gammaImage(s, d, value / 100.0);
    case CMD_SOLARIZE: return solariseImage(s, d, value);
    case CMD_POSTERIZE: return posteriseImage(s, d, value);
    case CMD_MOSAIC: return mosaicImage(s, d, value);
    case CMD_CHECKERBOARD: return randomTiles(s, d, value);
    case CMD_OIL: return oilPaint(s, d, value);
    case CMD_SHARPEN: return sharpenImage(s, d, value);
    case CMD_SPIRAL: return spiralImage(s, d, value);
    case CMD_BLUR: return blurImage(s, d, value);
    case CMD_SOFTEN: return softenImage(s, d, value);
    case CMD_ENHANCE_EDGES: return enhanceEdges(s, d, value);
    case CMD_SPREAD: return spreadImage(s, d, value);
    case CMD_LENS: return lensImage(s, d, value);
    case CMD_NOISE_UNIFORM: return addNoise(s, d, NOISE_UNIFORM, value / 10.0);
    case CMD_NOISE_GAUSSIAN: return addNoise(s, d, NOISE_GAUSSIAN, value / 10.0);
    case CMD_NOISE_LAPLACIAN: return addNoise(s, d, NOISE_LAPLACIAN, value / 10.0);
    case CMD_NOISE_POISSON: return addNoise(s, d, NOISE_POISSON, value / 100.0);
    case CMD_ROTATE_FREE: return rotateImage(s, d, value);
    }
    return ST_OP_BAD_PARAMETER;
}

Status applyFilterSize(int commandId, int size, Image* s, Image* d) {
    if (filterSizeIndex(size) < 0) return ST_OP_BAD_PARAMETER;
    switch (commandId) {
    case CMD_AVERAGE: return meanFilter(s, d, size);
    case CMD_GAUSSIAN_BLUR: return gaussianBlur(s, d, size);
    case CMD_MAXIMUM: return maximumFilter(s, d, size);
    case CMD_MINIMUM: return minimumFilter(s, d, size);
    case CMD_MEDIAN_BOX: return medianBox(s, d, size);
    case CMD_MEDIAN_CROSS: return medianCross(s, d, size);
    }
    return ST_OP_BAD_PARAMETER;
}

// The commands without a dialog.
Status applyPlain(int commandId, Image* s, Image* d) {
    if (commandId >= CMD_REDUCE_FIRST && commandId <= CMD_REDUCE_LAST)
        return convertWithCode(s, d, commandId - (CMD_REDUCE_FIRST - 1));
    if (commandId >= CMD_SWAP_RBG && commandId <= CMD_SWAP_GBR) return swapChannels(s, d, commandId - CMD_SWAP_RBG);
    switch (commandId) {
    case CMD_NEGATE: return negativeImage(s, d);
    case CMD_LOG_LUT: return logImage(s, d);
    case CMD_NORMALIZE: return normaliseImage(s, d);
    case CMD_EQUALIZE: return equaliseImage(s, d);
    case CMD_FLIP_VERTICAL: return flipVertical(s, d);
    case CMD_FLIP_HORIZONTAL: return mirrorHorizontal(s, d);
    case CMD_ROTATE_RIGHT: return rotateImage(s, d, 90);
    case CMD_ROTATE_LEFT: return rotateImage(s, d, -90);
    case CMD_ENHANCE_DETAIL: return applyKernel(s, d, KERNEL_DETAIL);
    case CMD_ENHANCE_FOCUS: return applyKernel(s, d, KERNEL_FOCUS);
    case CMD_RESTORE_FOCUS: return applyKernel(s, d, KERNEL_RESTORE);
    case CMD_EDGE_FIRST: return applyKernel(s, d, KERNEL_EDGE_LIGHT);
    case CMD_EDGE_FIRST + 1: return applyKernel(s, d, KERNEL_EDGE_MEDIUM);
    case CMD_EDGE_FIRST + 2: return applyKernel(s, d, KERNEL_EDGE_HEAVY);
    case CMD_EMBOSS: return applyKernel(s, d, KERNEL_EMBOSS);
    case CMD_EMBOSS_MORE: return applyKernel(s, d, KERNEL_EMBOSS_MORE);
    case CMD_REDUCE_NOISE: return reduceNoise(s, d);
    case CMD_SLICE: return sliceImage(s, d);
    case CMD_SHEAR: return shearImage(s, d);
    }
    return ST_OP_BAD_PARAMETER;
}

}  // namespace

// ---- Commands ----

bool isMenuOperation(int commandId) { return commandId >= CMD_REDUCE_FIRST && commandId <= CMD_WAVES; }

MenuDialog menuOpDialog(int commandId) {
    if (!isMenuOperation(commandId)) return MENU_DIALOG_NONE;
    if (valueRow(commandId)) return MENU_DIALOG_VALUE;
    switch (commandId) {
    case CMD_RESIZE: return MENU_DIALOG_RESIZE;
    case CMD_CANVAS: return MENU_DIALOG_CANVAS;
    case CMD_BALANCE: return MENU_DIALOG_BALANCE;
    case CMD_AVERAGE:
    case CMD_GAUSSIAN_BLUR:
    case CMD_MAXIMUM:
    case CMD_MINIMUM:
    case CMD_MEDIAN_BOX:
    case CMD_MEDIAN_CROSS: return MENU_DIALOG_FILTER_SIZE;
    case CMD_DEINTERLACE: return MENU_DIALOG_DEINTERLACE;
    case CMD_USER_FILTER: return MENU_DIALOG_USER_FILTER;
    case CMD_WAVES: return MENU_DIALOG_WAVES;
    }
    return MENU_DIALOG_NONE;
}

void defaultMenuOpParams(int commandId, const Image* image, MenuOpParams* params) {
    memset(params, 0, sizeof *params);
    const ValueRow* row = valueRow(commandId);
    if (row) params->value = valueAtPosition(*row, row->neutral);
    params->width = image && image->width > 0 ? image->width : 1;
    params->height = image && image->height > 0 ? image->height : 1;
    params->method = RESAMPLE_NEAREST;
    params->filterSize = 3;
    params->keptParity = 0;
    params->fill = DEINTERLACE_DUPLICATE;
    params->kernel.weights[12] = 1;
    params->kernel.divisor = 1;
    params->kernel.bias = 0;
    params->waveLength = 10.0;
    params->waveAmplitude = 5.0;
    params->wavePhase = 0.0;
}

Status applyMenuOperation(int commandId, const MenuOpParams& params, Image* source, Image* destination) {
    if (!isMenuOperation(commandId)) return ST_OP_BAD_PARAMETER;
    if (!validPicture(source) || !destination || destination == source) return ST_KIND_REFUSED;
    switch (menuOpDialog(commandId)) {
    case MENU_DIALOG_NONE: return applyPlain(commandId, source, destination);
    case MENU_DIALOG_VALUE: {
        const ValueRow* row = valueRow(commandId);
        if (positionOfValue(*row, params.value) < 0) return ST_OP_BAD_PARAMETER;
        return applyValue(commandId, params.value, source, destination);
    }
    case MENU_DIALOG_RESIZE:
        if (params.width < 1 || params.height < 1 || params.width > MENU_MAX_SIDE || params.height > MENU_MAX_SIDE)
            return ST_OP_BAD_PARAMETER;
        return resizeImage(source, destination, params.width, params.height, params.method);
    case MENU_DIALOG_CANVAS:
        if (params.width < 1 || params.height < 1 || params.width > MENU_MAX_SIDE || params.height > MENU_MAX_SIDE)
            return ST_OP_BAD_PARAMETER;
        return canvasSize(source, destination, params.width, params.height);
    case MENU_DIALOG_BALANCE:
        if (std::abs(params.red) > 255 || std::abs(params.green) > 255 || std::abs(params.blue) > 255)
            return ST_OP_BAD_PARAMETER;
        return colourBalanceImage(source, destination, params.red, params.green, params.blue);
    case MENU_DIALOG_FILTER_SIZE: return applyFilterSize(commandId, params.filterSize, source, destination);
    case MENU_DIALOG_DEINTERLACE: return deinterlace(source, destination, params.keptParity, params.fill);
    case MENU_DIALOG_USER_FILTER: return userFilter(source, destination, params.kernel);
    case MENU_DIALOG_WAVES:
        if (!(params.waveLength >= WAVE_LENGTH_MIN / 100.0 && params.waveLength <= WAVE_LENGTH_MAX / 100.0) ||
            !(params.waveAmplitude >= 0.0 && params.waveAmplitude <= WAVE_AMPLITUDE_MAX / 100.0) ||
            !(params.wavePhase >= 0.0 && params.wavePhase <= WAVE_PHASE_MAX))
            return ST_OP_BAD_PARAMETER;
        return waveImage(source, destination, params.waveLength, params.waveAmplitude, params.wavePhase);
    }
    return ST_OP_BAD_PARAMETER;
}

// ---- Value dialog ----

const ValueRow* valueRows() { return VALUE_ROWS; }

const ValueRow* valueRow(int commandId) {
    for (const ValueRow& row : VALUE_ROWS)
        if (row.command == commandId) return &row;
    return nullptr;
}

int32_t valueAtPosition(const ValueRow& row, int position) {
    int p = clampInt(position, 0, row.range - 1);
    if (row.mapping == VALUE_POWER) return int32_t{1} << (p + 1);
    return p + row.offset;
}

size_t valueLabel(const ValueRow& row, int position, char* text, size_t size) {
    if (!text || size == 0) return 0;
    int32_t v = valueAtPosition(row, position);
    int n;
    const char* sign = v < 0 ? "-" : "";
    int32_t a = v < 0 ? -v : v;
    if (row.scale == 100)
        n = snprintf(text, size, "%s%d.%02d", sign, static_cast<int>(a / 100), static_cast<int>(a % 100));
    else if (row.scale == 10)
        n = snprintf(text, size, "%s%d.%d", sign, static_cast<int>(a / 10), static_cast<int>(a % 10));
    else
        n = snprintf(text, size, "%d", static_cast<int>(v));
    if (n < 0) return 0;
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

int positionOfValue(const ValueRow& row, int32_t value) {
    if (row.mapping == VALUE_POWER) {
        for (int p = 0; p < row.range; ++p)
            if (valueAtPosition(row, p) == value) return p;
        return -1;
    }
    int64_t p = static_cast<int64_t>(value) - row.offset;
    return p >= 0 && p < row.range ? static_cast<int>(p) : -1;
}

int rememberedPosition(const ValueRow& row, int32_t remembered) { return clampInt(remembered, 0, row.range - 1); }

int steppedPosition(int position, int range, ScrollStep step) {
    if (range < 1) return 0;
    int page = range / 10 > 0 ? range / 10 : 1;
    int64_t p = position;
    switch (step) {
    case STEP_LINE_DOWN: p += 1; break;
    case STEP_LINE_UP: p -= 1; break;
    case STEP_PAGE_DOWN: p += page; break;
    case STEP_PAGE_UP: p -= page; break;
    case STEP_FIRST: p = 0; break;
    case STEP_LAST: p = range - 1; break;
    }
    return clampInt(p, 0, range - 1);
}

// ---- Resize dialog ----

const ResizePreset* resizePresets() { return RESIZE_PRESETS; }

int32_t percentOfSide(int32_t pixels, int32_t side) {
    if (side < 1) return 1;
    return clampInt(static_cast<int64_t>(pixels) * 100 / side, 1, INT32_MAX);
}

int32_t pixelsOfPercent(int32_t percent, int32_t side) {
    return clampInt(static_cast<int64_t>(percent) * side / 100, 1, MENU_MAX_SIDE);
}

int32_t keepRatioSide(int32_t side, int32_t imageSide, int32_t imageOther) {
    if (imageSide < 1) return 1;
    return clampInt(static_cast<int64_t>(side) * imageOther / imageSide, 1, MENU_MAX_SIDE);
}

ResizeFields resizeFieldsFor(int32_t imageWidth, int32_t imageHeight) {
    return ResizeFields{imageWidth, imageHeight, 100, 100};
}

bool applyResizePreset(int listIndex, int32_t imageWidth, int32_t imageHeight, ResizeFields* fields) {
    if (listIndex < 1 || listIndex > RESIZE_PRESET_COUNT) return false;
    const ResizePreset& p = RESIZE_PRESETS[listIndex - 1];
    if (p.percent) {
        fields->width = pixelsOfPercent(p.percent, imageWidth);
        fields->height = pixelsOfPercent(p.percent, imageHeight);
        fields->widthPercent = p.percent;
        fields->heightPercent = p.percent;
    } else {
        fields->width = p.width;
        fields->height = p.height;
        fields->widthPercent = percentOfSide(p.width, imageWidth);
        fields->heightPercent = percentOfSide(p.height, imageHeight);
    }
    return true;
}

void editResizeField(ResizeField field, int32_t value, bool keepRatio, int32_t imageWidth, int32_t imageHeight,
                     ResizeFields* f) {
    switch (field) {
    case FIELD_WIDTH:
        f->width = value;
        f->widthPercent = percentOfSide(value, imageWidth);
        if (keepRatio) {
            f->height = keepRatioSide(value, imageWidth, imageHeight);
            f->heightPercent = percentOfSide(f->height, imageHeight);
        }
        break;
    case FIELD_HEIGHT:
        f->height = value;
        f->heightPercent = percentOfSide(value, imageHeight);
        if (keepRatio) {
            f->width = keepRatioSide(value, imageHeight, imageWidth);
            f->widthPercent = percentOfSide(f->width, imageWidth);
        }
        break;
    case FIELD_WIDTH_PERCENT:
        f->widthPercent = value;
        f->width = pixelsOfPercent(value, imageWidth);
        if (keepRatio) {
            f->heightPercent = value;
            f->height = pixelsOfPercent(value, imageHeight);
        }
        break;
    case FIELD_HEIGHT_PERCENT:
        f->heightPercent = value;
        f->height = pixelsOfPercent(value, imageHeight);
        if (keepRatio) {
            f->widthPercent = value;
            f->width = pixelsOfPercent(value, imageWidth);
        }
        break;
    }
}

bool resizeFieldsInRange(const ResizeFields& f) {
    return f.width >= 1 && f.width <= RESIZE_MAX_PIXELS && f.height >= 1 && f.height <= RESIZE_MAX_PIXELS;
}

// ---- Filter sizes ----

int filterSizeAt(int index) { return index >= 0 && index < FILTER_SIZE_COUNT ? 3 + 2 * index : -1; }

int filterSizeIndex(int size) {
    return size >= 3 && size <= 13 && size % 2 == 1 ? (size - 3) / 2 : -1;
}

// ---- Conversion choice dialog ----

int conversionCodeOfControl(int control, bool greyDithered, bool colourDithered) {
    if (control >= IDC_CONV_BINARY_FIRST && control <= IDC_CONV_BINARY_LAST) return control - IDC_CONV_BINARY_FIRST + 1;
    if (control >= IDC_CONV_GREY_FIRST && control <= IDC_CONV_GREY_LAST) {
        // There is no dithered 256-level grey.
        if (greyDithered && control < IDC_CONV_GREY_LAST) return control - IDC_CONV_GREY_FIRST + 12;
        return control - IDC_CONV_GREY_FIRST + 5;
    }
    if (control >= IDC_CONV_COLOUR_FIRST && control <= IDC_CONV_COLOUR_LAST)
        return control - IDC_CONV_COLOUR_FIRST + (colourDithered ? 25 : 18);
    if (control == IDC_CONV_TRUE_COLOUR) return 32;
    return 0;
}

unsigned conversionGroupOfControl(int control) {
    if (control >= IDC_CONV_BINARY_FIRST && control <= IDC_CONV_BINARY_LAST) return 1;
    if (control >= IDC_CONV_GREY_FIRST && control <= IDC_CONV_GREY_LAST) return 2;
    if (control >= IDC_CONV_COLOUR_FIRST && control <= IDC_CONV_COLOUR_LAST) return 4;
    if (control == IDC_CONV_TRUE_COLOUR) return 8;
    return 0;
}
