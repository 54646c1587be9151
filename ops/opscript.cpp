// Operations written back as kaleocmd command-line items: the viewer's
// exported scripts and kaleocmd's own job lines say them alike.
#include <string>
#include <vector>

#include "optable.h"

std::string scriptWord(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"'\\") == std::string::npos) return word;
    std::string q = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

namespace {

std::string hundredths(double v) {
    char b[64];
    snprintf(b, sizeof b, "%.2f", v);
    return b;
}

std::string sizes(const OpInstance& op) {
    if (op.percent) return std::to_string(op.ints[0]) + "% " + std::to_string(op.ints[1]) + "%";
    return std::to_string(op.ints[0]) + " " + std::to_string(op.ints[1]);
}

}  // namespace

std::string scriptOperations(const std::vector<OpInstance>& ops) {
    std::string s;
    auto item = [&s](const std::string& t) { s += (s.empty() ? "" : " ") + t; };
    for (const OpInstance& op : ops) {
        const OpEntry* e = opEntry(op.index);
        if (!e) continue;
        const std::string o = e->option;
        switch (e->kind) {
        case OPK_INT:
        case OPK_LEVELS:
        case OPK_FILTER_SIZE: item(o + " " + std::to_string(op.ints[0])); break;
        case OPK_HUNDREDTHS: item(o + " " + hundredths(op.reals[0])); break;
        case OPK_THREE_REALS:
            item(o + " " + hundredths(op.reals[0]) + " " + hundredths(op.reals[1]) + " " + hundredths(op.reals[2]));
            break;
        case OPK_THREE_INTS:
            item(o + " " + std::to_string(op.ints[0]) + " " + std::to_string(op.ints[1]) + " " +
                 std::to_string(op.ints[2]));
            break;
        case OPK_RECT:
            item(o + " " + std::to_string(op.ints[0]) + " " + std::to_string(op.ints[1]) + " " +
                 std::to_string(op.ints[2]) + " " + std::to_string(op.ints[3]));
            break;
        case OPK_RESIZE:
            if (op.keepRatio) item("-ratio");
            // The two limits of the dialog, which the resize obeys as well.
            if (op.onlySmaller) item("-onlysmaller");
            if (op.onlyLarger) item("-onlylarger");
            item(std::string("-rtype ") + (op.method == RESAMPLE_AREA ? "linear" : "quick"));
            item(o + " " + sizes(op));
            break;
        case OPK_CANVAS:
            if (op.keepRatio) item("-ratio");
            item(o + " " + sizes(op));
            break;
        case OPK_COLOURS: {
            static const int COUNTS[] = {8, 16, 32, 64, 128, 216};
            if (op.ints[1]) item("-dither");
            int k = op.ints[0] - 12;
            item(o + " " + std::to_string(k >= 0 && k < 6 ? COUNTS[k] : 256));
            break;
        }
        case OPK_GREY: {
            static const int LEVELS[] = {4, 8, 16, 32, 64, 128};
            if (op.ints[1]) item("-dither");
            int k = op.ints[0] - 2;
            item(o + " " + std::to_string(k >= 0 && k < 6 ? LEVELS[k] : 256));
            break;
        }
        case OPK_BINARY:
            item(o + (op.ints[0] == 2   ? " halft45"
                      : op.ints[0] == 3 ? " halft90"
                      : op.ints[0] == 5 ? " floyd"
                                        : " pattern"));
            break;
        case OPK_CHANNELS: {
            static const char* const ORDERS[] = {"rbg", "bgr", "brg", "grb"};
            item(o + " " + (op.ints[0] >= 0 && op.ints[0] < 4 ? ORDERS[op.ints[0]] : "gbr"));
            break;
        }
        default: item(o); break;
        }
    }
    return s;
}

