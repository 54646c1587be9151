#include "opconvlogic.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "resource.h"

namespace {

const int COUNTS[OPC_COUNT_CHOICES] = {4, 8, 16, 32, 64, 128, 216, 256};
const int BINARY_METHODS[4] = {1, 5, 2, 3};  // pattern, Floyd-Steinberg, halftone 45, halftone 90
constexpr int32_t PERCENT_MAX = 1000;

int kindOf(const OpInstance& op) {
    const OpEntry* e = opEntry(op.index);
    return e ? e->kind : -1;
}

// Colour targets 12..18 are 8..256 colours; grey targets 2..7 are 4..128 levels, 9 is 256.
int countOfTarget(int kind, int target) {
    static const int colours[] = {8, 16, 32, 64, 128, 216, 256};
    if (kind == OPK_COLOURS) return target >= 12 && target <= 18 ? colours[target - 12] : 0;
    if (target >= 2 && target <= 7) return 4 << (target - 2);
    return target == 9 ? 256 : 0;
}

void appendRange(std::vector<int>* ids, int first, int count) {
    for (int i = 0; i < count; ++i) ids->push_back(first + i);
}

int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

const std::vector<int>& opParameterControls() {
    static const std::vector<int> all = [] {
        std::vector<int> ids;
        appendRange(&ids, IDC_OPC_BINARY_FIRST, 4);
        appendRange(&ids, IDC_OPC_COUNT_FIRST, OPC_COUNT_CHOICES + 1);  // the counts and "Tramé"
        appendRange(&ids, IDC_OPC_ROW_FIRST, 9);
        appendRange(&ids, IDC_OPC_SIZE_FIRST, 6);
        appendRange(&ids, IDC_OPC_SWAP_FIRST, 5);
        for (int id : {IDC_OPC_PIXELS, IDC_OPC_PERCENT, IDC_OPC_WIDTH_LABEL, IDC_OPC_WIDTH, IDC_OPC_WIDTH_PERCENT,
                       IDC_OPC_HEIGHT_LABEL, IDC_OPC_HEIGHT, IDC_OPC_HEIGHT_PERCENT, IDC_OPC_RATIO, IDC_OPC_METHOD_LABEL,
                       IDC_OPC_METHOD, IDC_OPC_ONLY_SMALLER, IDC_OPC_ONLY_LARGER, IDC_OPC_X_LABEL, IDC_OPC_X,
                       IDC_OPC_Y_LABEL, IDC_OPC_Y, IDC_OPC_RWIDTH_LABEL, IDC_OPC_RWIDTH, IDC_OPC_RHEIGHT_LABEL,
                       IDC_OPC_RHEIGHT})
            ids.push_back(id);
        return ids;
    }();
    return all;
}

std::vector<int> opShownControls(const OpInstance& op) {
    std::vector<int> ids;
    switch (kindOf(op)) {
    case OPK_BINARY: appendRange(&ids, IDC_OPC_BINARY_FIRST, 4); break;
    case OPK_COLOURS:
    case OPK_GREY: appendRange(&ids, IDC_OPC_COUNT_FIRST, OPC_COUNT_CHOICES + 1); break;
    case OPK_FILTER_SIZE: appendRange(&ids, IDC_OPC_SIZE_FIRST, 6); break;
    case OPK_CHANNELS: appendRange(&ids, IDC_OPC_SWAP_FIRST, 5); break;
    case OPK_INT:
    case OPK_HUNDREDTHS:
    case OPK_LEVELS:
    case OPK_THREE_INTS:
    case OPK_THREE_REALS: appendRange(&ids, IDC_OPC_ROW_FIRST, 3 * opRowCount(op)); break;
    case OPK_RESIZE:
    case OPK_CANVAS:
        for (int id : {IDC_OPC_PIXELS, IDC_OPC_PERCENT, IDC_OPC_WIDTH_LABEL, IDC_OPC_HEIGHT_LABEL, IDC_OPC_RATIO})
            ids.push_back(id);
        ids.push_back(op.percent ? IDC_OPC_WIDTH_PERCENT : IDC_OPC_WIDTH);
        ids.push_back(op.percent ? IDC_OPC_HEIGHT_PERCENT : IDC_OPC_HEIGHT);
        if (kindOf(op) == OPK_RESIZE)
            for (int id : {IDC_OPC_METHOD_LABEL, IDC_OPC_METHOD, IDC_OPC_ONLY_SMALLER, IDC_OPC_ONLY_LARGER})
                ids.push_back(id);
        break;
    case OPK_RECT:
        for (int id : {IDC_OPC_X_LABEL, IDC_OPC_X, IDC_OPC_Y_LABEL, IDC_OPC_Y, IDC_OPC_RWIDTH_LABEL, IDC_OPC_RWIDTH,
                       IDC_OPC_RHEIGHT_LABEL, IDC_OPC_RHEIGHT})
            ids.push_back(id);
        break;
    default: break;
    }
    return ids;
}

int countOfChoice(int choice) { return choice >= 0 && choice < OPC_COUNT_CHOICES ? COUNTS[choice] : 0; }

bool countChoiceEnabled(int kind, int choice) {
    if (choice < 0 || choice >= OPC_COUNT_CHOICES) return false;
    if (kind == OPK_COLOURS) return COUNTS[choice] != 4;
    if (kind == OPK_GREY) return COUNTS[choice] != 216;
    return false;
}

int countChoiceOf(const OpInstance& op) {
    int kind = kindOf(op);
    if (kind != OPK_COLOURS && kind != OPK_GREY) return -1;
    int count = countOfTarget(kind, op.ints[0]);
    for (int c = 0; c < OPC_COUNT_CHOICES; ++c)
        if (COUNTS[c] == count) return c;
    return -1;
}

bool setCountChoice(OpInstance* op, int choice) {
    int kind = kindOf(*op);
    if (!countChoiceEnabled(kind, choice)) return false;
    int first = kind == OPK_COLOURS ? 12 : 2, last = kind == OPK_COLOURS ? 18 : 9;
    for (int t = first; t <= last; ++t)
        if (countOfTarget(kind, t) == COUNTS[choice]) {
            op->ints[0] = t;
            return true;
        }
    return false;
}

int binaryChoiceOf(const OpInstance& op) {
    for (int c = 0; c < 4; ++c)
        if (BINARY_METHODS[c] == op.ints[0]) return c;
    return 0;
}

void setBinaryChoice(OpInstance* op, int choice) {
    if (choice >= 0 && choice < 4) op->ints[0] = BINARY_METHODS[choice];
}

int opRowCount(const OpInstance& op) {
    switch (kindOf(op)) {
    case OPK_INT:
    case OPK_HUNDREDTHS:
    case OPK_LEVELS: return 1;
    case OPK_THREE_INTS:
    case OPK_THREE_REALS: return 3;
    default: return 0;
    }
}

OpRow opRow(const OpInstance& op, int row) {
    const OpEntry* e = opEntry(op.index);
    if (!e || row < 0 || row >= opRowCount(op)) return OpRow{"", 0, 0};
    if (e->kind == OPK_LEVELS) return OpRow{e->label, 0, 7};  // 2, 4, ... 256 levels
    const OpParam& p = e->params[row];
    return OpRow{p.label && *p.label ? p.label : e->label, p.minimum, p.maximum};
}

int32_t opRowPosition(const OpInstance& op, int row) {
    OpRow r = opRow(op, row);
    int32_t v;
    switch (kindOf(op)) {
    case OPK_HUNDREDTHS:
    case OPK_THREE_REALS: v = static_cast<int32_t>(std::floor(op.reals[row] * 100.0 + 0.5)); break;
    case OPK_LEVELS: {
        v = 0;
        while (v < 7 && (2 << v) < op.ints[0]) ++v;
        break;
    }
    default: v = op.ints[row]; break;
    }
    return clampTo(v, r.minimum, r.maximum);
}

void setOpRowPosition(OpInstance* op, int row, int32_t position) {
    OpRow r = opRow(*op, row);
    if (row < 0 || row >= opRowCount(*op)) return;
    position = clampTo(position, r.minimum, r.maximum);
    switch (kindOf(*op)) {
    case OPK_HUNDREDTHS:
    case OPK_THREE_REALS: op->reals[row] = position / 100.0; break;
    case OPK_LEVELS: op->ints[0] = 2 << position; break;
    default: op->ints[row] = position; break;
    }
}

std::string opRowText(const OpInstance& op, int row) {
    char text[32];
    int kind = kindOf(op);
    if (kind == OPK_HUNDREDTHS || kind == OPK_THREE_REALS)
        snprintf(text, sizeof text, "%.2f", op.reals[row < 0 || row > 2 ? 0 : row]);
    else if (kind == OPK_LEVELS)
        snprintf(text, sizeof text, "%d", 2 << opRowPosition(op, 0));
    else
        snprintf(text, sizeof text, "%d", op.ints[row < 0 || row > 3 ? 0 : row]);
    return text;
}

namespace {

// The integer a field holds and its range, or null for a field the entry does not have.
int32_t* fieldOf(OpInstance* op, int control, int32_t* lo, int32_t* hi) {
    int kind = kindOf(*op);
    if (kind == OPK_RESIZE || kind == OPK_CANVAS) {
        bool percentField = control == IDC_OPC_WIDTH_PERCENT || control == IDC_OPC_HEIGHT_PERCENT;
        bool pixelField = control == IDC_OPC_WIDTH || control == IDC_OPC_HEIGHT;
        if ((!percentField && !pixelField) || percentField != (op->percent != 0)) return nullptr;
        *lo = 1;
        *hi = percentField ? PERCENT_MAX : 15999;
        return &op->ints[control == IDC_OPC_WIDTH || control == IDC_OPC_WIDTH_PERCENT ? 0 : 1];
    }
    if (kind == OPK_RECT) {
        static const int FIELDS[] = {IDC_OPC_X, IDC_OPC_Y, IDC_OPC_RWIDTH, IDC_OPC_RHEIGHT};
        for (int k = 0; k < 4; ++k)
            if (FIELDS[k] == control) {
                *lo = k < 2 ? 0 : 1;
                *hi = k < 2 ? 15998 : 15999;
                return &op->ints[k];
            }
    }
    return nullptr;
}

}  // namespace

bool setOpField(OpInstance* op, int control, const char* text) {
    int32_t lo, hi;
    int32_t* field = fieldOf(op, control, &lo, &hi);
    if (!field || !text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno || *end) return false;
    *field = clampTo(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v), lo, hi);
    return true;
}

std::string opFieldText(const OpInstance& op, int control) {
    OpInstance copy = op;
    int32_t lo, hi;
    int32_t* field = fieldOf(&copy, control, &lo, &hi);
    return field ? std::to_string(*field) : "";
}

std::string opJobLine(const OpInstance& op) {
    const char* label = opLabel(op.index);
    return label ? label : "";
}
