// The image window's parameter dialogs and the conversion choice dialog under
// Wine: titles and labels, scroll steps, "Vue Auto." through fake preview
// hooks, the remembered LastValue slots, the resize presets and ratio, the
// other dialogs' parameters, and the codes and greyed groups of "KaleoConv".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui.h"
#include "opdialogs_gui.h"
#include "resource.h"

namespace {

using opgui::Dialog;

constexpr int BUTTON_OK = 1;
constexpr int BUTTON_CANCEL = 2;
constexpr int RESULT_CANCELLED = 0;
constexpr int RESULT_APPLY = 1;
constexpr int RESULT_SHOWN = 2;

// A step of a scripted dialog run: what to do, then what to read.
struct Script {
    std::vector<std::string> seen;  // texts read while the dialog was open
    void (*act)(Dialog, Script*) = nullptr;
    std::string shot;               // screenshot name, or empty
};

void runScript(Dialog d, void* datum) {
    Script* s = static_cast<Script*>(datum);
    if (!s->shot.empty()) gui::screenshot(s->shot);
    s->act(d, s);
}

int runOp(int command, int width, int height, opgui::PreviewLog* log, Script* script, MenuOpParams* params) {
    return opgui::runOperation(command, width, height, log, runScript, script, params);
}

class OpDialog : public ::testing::Test {
protected:
    void SetUp() override {
        opgui::setAutoView(false);
        opgui::setResample(0);
    }
};

// ---- Value dialog ----

TEST_F(OpDialog, ValueDialogTitleLabelsAndNeutralPosition) {
    struct Case {
        int command;
        const char* title;  // Windows-1252, as the ANSI functions answer
        const char* minimum;
        const char* neutral;
        const char* maximum;
        int slot;
    } cases[] = {
        {CMD_BRIGHTNESS, "Luminosit\xe9", "-255", "0", "255", 0},
        {CMD_GAMMA, "Changer Gamma", "0.01", "1.00", "5.00", 2},
        {CMD_POSTERIZE, "Posteriser", "2", "256", "256", 4},
        {CMD_NOISE_UNIFORM, "Ajoute un bruit uniforme", "0.1", "25.0", "50.0", 15},
        {CMD_ENHANCE_EDGES, "R\xe9hausse Bords", "1", "50", "100", 12},
        {CMD_ROTATE_FREE, "Rotation", "0", "0", "359", 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        opgui::setLastValue(c.slot, -1);
        Script script;
        script.shot = c.command == CMD_BRIGHTNESS ? "value" : c.command == CMD_GAMMA ? "value-gamma" : "";
        script.act = [](Dialog d, Script* s) {
            s->seen = {opgui::title(d), opgui::text(d, IDC_VALUE_MIN), opgui::text(d, IDC_VALUE_CURRENT),
                       opgui::text(d, IDC_VALUE_MAX), opgui::text(d, IDC_VALUE_AUTO), opgui::text(d, IDC_VALUE_ZERO),
                       opgui::text(d, IDC_VALUE_PREVIOUS), opgui::text(d, 1), opgui::text(d, 2),
                       std::to_string(opgui::scrollPosition(d, IDC_VALUE_SCROLL)),
                       std::to_string(opgui::scrollMaximum(d, IDC_VALUE_SCROLL))};
            opgui::click(d, 1);
        };
        MenuOpParams params;
        ASSERT_EQ(runOp(c.command, 16, 12, nullptr, &script, &params), RESULT_APPLY);
        const ValueRow* row = valueRow(c.command);
        ASSERT_EQ(script.seen.size(), 11u);
        EXPECT_EQ(script.seen[0], c.title);
        EXPECT_EQ(script.seen[1], c.minimum);
        EXPECT_EQ(script.seen[2], c.neutral);
        EXPECT_EQ(script.seen[3], c.maximum);
        EXPECT_EQ(script.seen[4], "Vue Auto.");
        EXPECT_EQ(script.seen[5], "Z\xe9ro");
        EXPECT_EQ(script.seen[6], "Pr\xe9" "c\xe9" "dent");
        EXPECT_EQ(script.seen[7], "Appliquer");
        EXPECT_EQ(script.seen[8], "Annuler");
        EXPECT_EQ(script.seen[9], std::to_string(row->neutral));
        EXPECT_EQ(script.seen[10], std::to_string(row->range - 1));
        // "Appliquer" at once: the neutral value, and the position stored in the slot.
        EXPECT_EQ(params.value, valueAtPosition(*row, row->neutral));
        EXPECT_EQ(opgui::lastValue(c.slot), row->neutral);
    }
}

TEST_F(OpDialog, ValueDialogStepsByLineAndByATenthOfTheRange) {
    Script script;
    script.act = [](Dialog d, Script* s) {
        auto read = [&]() { s->seen.push_back(opgui::text(d, IDC_VALUE_CURRENT)); };
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::LINE_RIGHT);
        read();  // 1
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::PAGE_RIGHT);
        read();  // 1 + 51
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::PAGE_LEFT);
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::LINE_LEFT);
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::LINE_LEFT);
        read();  // -1
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::THUMB_TRACK, 400);
        read();  // 145 while dragging
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::THUMB_POSITION, 510);
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::LINE_RIGHT);  // stays at the end
        read();
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::THUMB_POSITION, 300);
        read();
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_BRIGHTNESS, 16, 12, nullptr, &script, &params), RESULT_APPLY);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"1", "52", "-1", "145", "255", "45"}));
    EXPECT_EQ(params.value, 45);
    EXPECT_EQ(opgui::lastValue(0), 300);

    // Posterise has 8 positions: a page click still moves by one.
    Script poster;
    poster.act = [](Dialog d, Script* s) {
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::PAGE_LEFT);
        s->seen.push_back(opgui::text(d, IDC_VALUE_CURRENT));
        opgui::click(d, 1);
    };
    ASSERT_EQ(runOp(CMD_POSTERIZE, 16, 12, nullptr, &poster, &params), RESULT_APPLY);
    EXPECT_EQ(poster.seen, (std::vector<std::string>{"128"}));
    EXPECT_EQ(params.value, 128);
}

TEST_F(OpDialog, ValueDialogZeroAndPrevious) {
    struct Case {
        int remembered;
        const char* previous;  // label after "Précédent"
    } cases[] = {{20, "21"}, {-1, "1"}, {1000, "64"}, {0, "1"}};
    for (const Case& c : cases) {
        opgui::setLastValue(5, c.remembered);  // Mosaique
        Script script;
        script.act = [](Dialog d, Script* s) {
            opgui::click(d, IDC_VALUE_PREVIOUS);
            s->seen.push_back(opgui::text(d, IDC_VALUE_CURRENT));
            opgui::click(d, IDC_VALUE_ZERO);
            s->seen.push_back(opgui::text(d, IDC_VALUE_CURRENT));
            opgui::click(d, IDC_VALUE_PREVIOUS);
            opgui::click(d, 2);
        };
        MenuOpParams params;
        ASSERT_EQ(runOp(CMD_MOSAIC, 16, 12, nullptr, &script, &params), RESULT_CANCELLED);
        EXPECT_EQ(script.seen, (std::vector<std::string>{c.previous, "4"})) << c.remembered;
        EXPECT_EQ(opgui::lastValue(5), c.remembered) << "Annuler stores nothing";
    }
}

TEST_F(OpDialog, AutoViewShowsEveryChangeAndCancelRestores) {
    opgui::PreviewLog log;
    Script script;
    script.act = [](Dialog d, Script* s) {
        s->seen.push_back(opgui::checked(d, IDC_VALUE_AUTO) ? "on" : "off");
        s->seen.push_back(opgui::enabled(d, IDC_VALUE_AUTO) ? "enabled" : "greyed");
        opgui::click(d, IDC_VALUE_AUTO);  // on: shows the current value at once
        s->seen.push_back(opgui::autoView() ? "stored" : "not stored");
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::LINE_RIGHT);
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::THUMB_TRACK, 100);  // dragging: the label only
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::THUMB_POSITION, 100);
        opgui::click(d, 2);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_CONTRAST, 16, 12, &log, &script, &params), RESULT_CANCELLED);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"off", "enabled", "stored"}));
    EXPECT_EQ(log.shows, 3);
    EXPECT_EQ(log.lastCommand, CMD_CONTRAST);
    EXPECT_EQ(log.last.value, 100 - 127);
    EXPECT_EQ(log.restores, 1);
    EXPECT_TRUE(opgui::autoView());
}

TEST_F(OpDialog, AutoViewResultIsKeptByApply) {
    struct Case {
        bool failShows;
        bool untick;  // "Vue Auto." switched off again before "Appliquer"
        int result;
        int restores;
    } cases[] = {{false, false, RESULT_SHOWN, 0}, {true, false, RESULT_APPLY, 0}, {false, true, RESULT_APPLY, 1}};
    for (const Case& c : cases) {
        opgui::setAutoView(true);
        opgui::PreviewLog log;
        log.failShows = c.failShows;
        Script script;
        static bool untick;
        untick = c.untick;
        script.act = [](Dialog d, Script* s) {
            s->seen.push_back(opgui::checked(d, IDC_VALUE_AUTO) ? "on" : "off");
            opgui::scroll(d, IDC_VALUE_SCROLL, opgui::PAGE_RIGHT);
            if (untick) opgui::click(d, IDC_VALUE_AUTO);
            opgui::click(d, 1);
        };
        MenuOpParams params;
        EXPECT_EQ(runOp(CMD_SOLARIZE, 16, 12, &log, &script, &params), c.result) << c.failShows << c.untick;
        EXPECT_EQ(script.seen, (std::vector<std::string>{"on"}));
        EXPECT_EQ(log.shows, 1) << "nothing is shown before the first change";
        EXPECT_EQ(log.last.value, 128 + 25);
        EXPECT_EQ(params.value, 128 + 25);
        EXPECT_EQ(log.restores, c.restores);
        EXPECT_EQ(opgui::autoView(), !c.untick);
    }
}

TEST_F(OpDialog, AutoViewIsGreyedWithoutPreviewHooks) {
    opgui::setAutoView(true);
    Script script;
    script.act = [](Dialog d, Script* s) {
        s->seen.push_back(opgui::enabled(d, IDC_VALUE_AUTO) ? "enabled" : "greyed");
        opgui::scroll(d, IDC_VALUE_SCROLL, opgui::LINE_RIGHT);
        opgui::click(d, 1);
    };
    MenuOpParams params;
    EXPECT_EQ(runOp(CMD_BLUR, 16, 12, nullptr, &script, &params), RESULT_APPLY);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"greyed"}));
    EXPECT_EQ(params.value, 6);
}

// ---- Resize dialog ----

TEST_F(OpDialog, ResizePresetsRatioAndMethod) {
    opgui::setResample(1);
    Script script;
    script.shot = "resize";
    script.act = [](Dialog d, Script* s) {
        auto fields = [&]() {
            s->seen.push_back(opgui::text(d, IDC_RESIZE_WIDTH) + " " + opgui::text(d, IDC_RESIZE_HEIGHT) + " " +
                              opgui::text(d, IDC_RESIZE_WIDTH_PERCENT) + " " +
                              opgui::text(d, IDC_RESIZE_HEIGHT_PERCENT) + " list " +
                              std::to_string(opgui::comboSelection(d, IDC_RESIZE_PRESET)));
        };
        s->seen.push_back(opgui::title(d));
        s->seen.push_back(std::to_string(opgui::comboCount(d, IDC_RESIZE_PRESET)) + " " +
                          opgui::comboText(d, IDC_RESIZE_PRESET, 0) + " " + opgui::comboText(d, IDC_RESIZE_PRESET, 1) +
                          " " + opgui::comboText(d, IDC_RESIZE_PRESET, 16));
        s->seen.push_back(opgui::comboText(d, IDC_RESIZE_METHOD, 0) + "|" + opgui::comboText(d, IDC_RESIZE_METHOD, 1) +
                          "|" + std::to_string(opgui::comboSelection(d, IDC_RESIZE_METHOD)));
        fields();  // the picture at 100 %
        opgui::chooseCombo(d, IDC_RESIZE_PRESET, 2);  // 320x240
        fields();
        opgui::chooseCombo(d, IDC_RESIZE_PRESET, 9);  // 25%
        fields();
        opgui::chooseCombo(d, IDC_RESIZE_PRESET, 0);  // "Prédéfinie" changes nothing
        fields();
        opgui::type(d, IDC_RESIZE_WIDTH, "100");  // ratio kept (checked at first)
        fields();
        opgui::type(d, IDC_RESIZE_HEIGHT_PERCENT, "30");
        fields();
        opgui::click(d, IDC_RESIZE_RATIO);
        opgui::type(d, IDC_RESIZE_HEIGHT, "7");
        fields();
        opgui::chooseCombo(d, IDC_RESIZE_METHOD, 0);
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_RESIZE, 200, 100, nullptr, &script, &params), RESULT_APPLY);
    EXPECT_EQ(script.seen, (std::vector<std::string>{
                               "Redimensionner",
                               "17 Pr\xe9" "d\xe9" "finie 160x120 500%",
                               "Le plus proche|Bi-lin\xe9" "aire|1",
                               "200 100 100 100 list 0",
                               "320 240 160 240 list 2",
                               "50 25 25 25 list 9",
                               "50 25 25 25 list 0",
                               "100 50 50 50 list 0",
                               "60 30 30 30 list 0",
                               "60 7 30 7 list 0",
                           }));
    EXPECT_EQ(params.width, 60);
    EXPECT_EQ(params.height, 7);
    EXPECT_EQ(params.method, 0);
    EXPECT_EQ(opgui::resample(), 0);
}

TEST_F(OpDialog, ResizeFieldsDoNotRewriteWhatTheUserTyped) {
    // On a 3 x 7 picture, width 2 is 66 %, and 66 % of 3 is 1: a field fed
    // back by its counterpart would turn the typed 2 into 1.
    Script script;
    script.act = [](Dialog d, Script* s) {
        opgui::type(d, IDC_RESIZE_WIDTH, "2");
        s->seen.push_back(opgui::text(d, IDC_RESIZE_WIDTH) + " " + opgui::text(d, IDC_RESIZE_HEIGHT) + " " +
                          opgui::text(d, IDC_RESIZE_WIDTH_PERCENT) + " " + opgui::text(d, IDC_RESIZE_HEIGHT_PERCENT));
        opgui::type(d, IDC_RESIZE_HEIGHT_PERCENT, "110");
        s->seen.push_back(opgui::text(d, IDC_RESIZE_WIDTH) + " " + opgui::text(d, IDC_RESIZE_HEIGHT) + " " +
                          opgui::text(d, IDC_RESIZE_WIDTH_PERCENT) + " " + opgui::text(d, IDC_RESIZE_HEIGHT_PERCENT));
        opgui::type(d, IDC_RESIZE_WIDTH, "");  // emptied while typing: nothing moves
        s->seen.push_back(opgui::text(d, IDC_RESIZE_HEIGHT));
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_RESIZE, 3, 7, nullptr, &script, &params), RESULT_APPLY);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"2 4 66 57", "3 7 110 110", "7"}));
    EXPECT_EQ(params.width, 3);
    EXPECT_EQ(params.height, 7);
}

TEST_F(OpDialog, ResizeSpinButtonsAndCancel) {
    opgui::setResample(1);
    Script script;
    script.act = [](Dialog d, Script* s) {
        opgui::arrowUp(d, IDC_RESIZE_WIDTH);
        s->seen.push_back(opgui::text(d, IDC_RESIZE_WIDTH) + " " + opgui::text(d, IDC_RESIZE_HEIGHT) + " " +
                          opgui::text(d, IDC_RESIZE_WIDTH_PERCENT));
        opgui::chooseCombo(d, IDC_RESIZE_METHOD, 0);
        opgui::click(d, 2);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_RESIZE, 40, 20, nullptr, &script, &params), RESULT_CANCELLED);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"41 20 102"}));
    EXPECT_EQ(opgui::resample(), 1) << "Annuler keeps the stored method";
}

// A size above the dialog's range is refused with the range stated, never
// clamped on one side; what is accepted keeps the proportions.
TEST_F(OpDialog, ResizeRefusesSizesOutOfRange) {
    Script script;
    script.act = [](Dialog d, Script* s) {
        opgui::type(d, IDC_RESIZE_WIDTH, "20000");  // ratio kept: 13128 high
        opgui::answerNextBox("Error", BUTTON_OK);
        opgui::click(d, 1);  // refused: the dialog stays
        s->seen.push_back(opgui::title(d));
        opgui::click(d, IDC_RESIZE_RATIO);
        opgui::type(d, IDC_RESIZE_WIDTH, "300");
        opgui::type(d, IDC_RESIZE_HEIGHT, "10001");
        opgui::answerNextBox("Error", BUTTON_OK);
        opgui::click(d, 1);  // the height alone out of range: refused too
        s->seen.push_back(opgui::title(d));
        opgui::click(d, IDC_RESIZE_RATIO);
        opgui::type(d, IDC_RESIZE_WIDTH, "10000");
        s->seen.push_back(opgui::text(d, IDC_RESIZE_WIDTH) + " " + opgui::text(d, IDC_RESIZE_HEIGHT));
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_RESIZE, 227, 149, nullptr, &script, &params), RESULT_APPLY);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"Redimensionner", "Redimensionner", "10000 6563"}));
    EXPECT_EQ(params.width, 10000);
    EXPECT_EQ(params.height, 6563);  // 10000 x 149 / 227, truncated
}

// ---- The other dialogs ----

TEST_F(OpDialog, CanvasSizeWithAndWithoutRatio) {
    struct Case {
        bool ratio;
        int width, height;
    } cases[] = {{false, 300, 100}, {true, 300, 150}};
    for (const Case& c : cases) {
        Script script;
        script.shot = c.ratio ? "" : "canvas";
        static bool ratio;
        ratio = c.ratio;
        script.act = [](Dialog d, Script* s) {
            s->seen.push_back(opgui::text(d, IDC_CANVAS_WIDTH) + "x" + opgui::text(d, IDC_CANVAS_HEIGHT));
            if (ratio) opgui::click(d, IDC_CANVAS_RATIO);
            opgui::type(d, IDC_CANVAS_WIDTH, "300");
            opgui::click(d, 1);
        };
        MenuOpParams params;
        ASSERT_EQ(runOp(CMD_CANVAS, 200, 100, nullptr, &script, &params), RESULT_APPLY);
        EXPECT_EQ(script.seen, (std::vector<std::string>{"200x100"}));
        EXPECT_EQ(params.width, c.width);
        EXPECT_EQ(params.height, c.height);
    }
}

TEST_F(OpDialog, BalanceOffsetsPreviewAndMemory) {
    for (int slot : {19, 20, 21}) opgui::setLastValue(slot, -1);
    opgui::PreviewLog log;
    Script script;
    script.shot = "balance";
    script.act = [](Dialog d, Script* s) {
        s->seen.push_back(opgui::title(d));
        opgui::click(d, IDC_BALANCE_AUTO);
        opgui::scroll(d, IDC_BALANCE_RED, opgui::PAGE_RIGHT);
        opgui::scroll(d, IDC_BALANCE_GREEN, opgui::LINE_LEFT);
        opgui::scroll(d, IDC_BALANCE_BLUE, opgui::THUMB_POSITION, 0);
        s->seen.push_back(opgui::text(d, IDC_BALANCE_RED_VALUE) + " " + opgui::text(d, IDC_BALANCE_GREEN_VALUE) + " " +
                          opgui::text(d, IDC_BALANCE_BLUE_VALUE));
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_BALANCE, 16, 12, &log, &script, &params), RESULT_SHOWN);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"Balance des couleurs", "20 -1 -100"}));
    EXPECT_EQ(log.shows, 4);
    EXPECT_EQ(log.last.red, 20);
    EXPECT_EQ(log.last.blue, -100);
    EXPECT_EQ(params.red, 20);
    EXPECT_EQ(params.green, -1);
    EXPECT_EQ(params.blue, -100);

    // "Précédent" brings them back; "Zéro" clears them.
    Script again;
    again.act = [](Dialog d, Script* s) {
        s->seen.push_back(opgui::text(d, IDC_BALANCE_RED_VALUE) + " " + opgui::text(d, IDC_BALANCE_GREEN_VALUE));
        opgui::click(d, IDC_BALANCE_PREVIOUS);
        s->seen.push_back(opgui::text(d, IDC_BALANCE_RED_VALUE) + " " + opgui::text(d, IDC_BALANCE_GREEN_VALUE) + " " +
                          opgui::text(d, IDC_BALANCE_BLUE_VALUE));
        opgui::click(d, IDC_BALANCE_ZERO);
        s->seen.push_back(opgui::text(d, IDC_BALANCE_BLUE_VALUE));
        opgui::click(d, 2);
    };
    opgui::PreviewLog log2;
    ASSERT_EQ(runOp(CMD_BALANCE, 16, 12, &log2, &again, &params), RESULT_CANCELLED);
    EXPECT_EQ(again.seen, (std::vector<std::string>{"0 0", "20 -1 -100", "0"}));
    EXPECT_EQ(log2.shows, 2);  // "Vue Auto." stayed on
    EXPECT_EQ(log2.restores, 1);
}

TEST_F(OpDialog, FilterSizeIsRemembered) {
    opgui::setLastValue(23, -1);
    struct Case {
        int click;  // radio to click, or 0
        int expected;
    } cases[] = {{IDC_FILTER_SIZE_FIRST + 2, 7}, {0, 7}, {IDC_FILTER_SIZE_LAST, 13}};
    for (const Case& c : cases) {
        static int toClick;
        toClick = c.click;
        Script script;
        script.shot = c.click == IDC_FILTER_SIZE_FIRST + 2 ? "filtersize" : "";
        script.act = [](Dialog d, Script* s) {
            s->seen.push_back(opgui::title(d));
            if (toClick) opgui::click(d, toClick);
            opgui::click(d, 1);
        };
        MenuOpParams params;
        ASSERT_EQ(runOp(CMD_MEDIAN_BOX, 16, 12, nullptr, &script, &params), RESULT_APPLY);
        EXPECT_EQ(script.seen, (std::vector<std::string>{"Taille filtre"}));
        EXPECT_EQ(params.filterSize, c.expected);
    }
}

TEST_F(OpDialog, DeinterlaceNamesTheRowsItDrops) {
    opgui::setLastValue(24, -1);
    struct Case {
        int drop;
        int fill;
        int keptParity;
        int fillMode;
    } cases[] = {{IDC_DEINTERLACE_EVEN, IDC_DEINTERLACE_INTERPOLATE, 1, 1},
                 {IDC_DEINTERLACE_ODD, IDC_DEINTERLACE_DUPLICATE, 0, 0}};
    for (const Case& c : cases) {
        static const Case* current;
        current = &c;
        Script script;
        script.shot = c.keptParity ? "deinterlace" : "";
        script.act = [](Dialog d, Script*) {
            opgui::click(d, current->drop);
            opgui::click(d, current->fill);
            opgui::click(d, 1);
        };
        MenuOpParams params;
        ASSERT_EQ(runOp(CMD_DEINTERLACE, 16, 12, nullptr, &script, &params), RESULT_APPLY);
        EXPECT_EQ(params.keptParity, c.keptParity);
        EXPECT_EQ(params.fill, c.fillMode);
    }
}

TEST_F(OpDialog, UserFilterRefusesADivisorOfZero) {
    Script script;
    script.shot = "userfilter";
    script.act = [](Dialog d, Script* s) {
        s->seen.push_back(std::string(opgui::enabled(d, IDC_USER_WEIGHT_FIRST) ? "outer on" : "outer off") + " " +
                          opgui::text(d, IDC_USER_WEIGHT_FIRST + 12) + "/" + opgui::text(d, IDC_USER_DIVISOR));
        opgui::type(d, IDC_USER_WEIGHT_FIRST + 11, "-1");
        opgui::type(d, IDC_USER_WEIGHT_FIRST + 12, "3");
        opgui::type(d, IDC_USER_WEIGHT_FIRST + 24, "9");  // outer ring: ignored in 3x3
        opgui::type(d, IDC_USER_BIAS, "-4");
        opgui::type(d, IDC_USER_DIVISOR, "0");
        opgui::answerNextBox("Error", BUTTON_OK);
        opgui::click(d, 1);  // refused: the dialog stays
        s->seen.push_back(opgui::title(d));
        opgui::type(d, IDC_USER_DIVISOR, "2");
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_USER_FILTER, 16, 12, nullptr, &script, &params), RESULT_APPLY);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"outer off 1/1", "Filtre utilisateur"}));
    EXPECT_EQ(params.kernel.weights[11], -1);
    EXPECT_EQ(params.kernel.weights[12], 3);
    EXPECT_EQ(params.kernel.weights[24], 0);
    EXPECT_EQ(params.kernel.divisor, 2);
    EXPECT_EQ(params.kernel.bias, -4);

    // The next time the same kernel is there; 5x5 takes the outer ring too.
    Script five;
    five.act = [](Dialog d, Script* s) {
        s->seen.push_back(opgui::text(d, IDC_USER_WEIGHT_FIRST + 11) + " " + opgui::text(d, IDC_USER_DIVISOR));
        opgui::click(d, IDC_USER_5X5);
        s->seen.push_back(opgui::enabled(d, IDC_USER_WEIGHT_FIRST) ? "outer on" : "outer off");
        opgui::type(d, IDC_USER_WEIGHT_FIRST, "5");
        opgui::click(d, 1);
    };
    ASSERT_EQ(runOp(CMD_USER_FILTER, 16, 12, nullptr, &five, &params), RESULT_APPLY);
    EXPECT_EQ(five.seen, (std::vector<std::string>{"-1 2", "outer on"}));
    EXPECT_EQ(params.kernel.weights[0], 5);
    EXPECT_EQ(params.kernel.weights[12], 3);
}

TEST_F(OpDialog, WavesLabelsAndPreview) {
    opgui::PreviewLog log;
    Script script;
    script.shot = "waves";
    script.act = [](Dialog d, Script* s) {
        s->seen.push_back(opgui::title(d));
        s->seen.push_back(opgui::text(d, IDC_WAVES_LENGTH_VALUE) + " " + opgui::text(d, IDC_WAVES_AMPLITUDE_VALUE) + " " +
                          opgui::text(d, IDC_WAVES_PHASE_VALUE));
        opgui::click(d, IDC_WAVES_AUTO);
        opgui::scroll(d, IDC_WAVES_LENGTH, opgui::LINE_RIGHT);
        opgui::scroll(d, IDC_WAVES_PHASE, opgui::PAGE_RIGHT);
        opgui::scroll(d, IDC_WAVES_AMPLITUDE, opgui::THUMB_POSITION, 0);
        s->seen.push_back(opgui::text(d, IDC_WAVES_LENGTH_VALUE) + " " + opgui::text(d, IDC_WAVES_AMPLITUDE_VALUE) + " " +
                          opgui::text(d, IDC_WAVES_PHASE_VALUE));
        opgui::click(d, 1);
    };
    MenuOpParams params;
    ASSERT_EQ(runOp(CMD_WAVES, 16, 12, &log, &script, &params), RESULT_SHOWN);
    EXPECT_EQ(script.seen,
              (std::vector<std::string>{"Param\xeatres vagues", "10.00 5.00 0", "10.01 0.00 36"}));
    EXPECT_EQ(log.shows, 4);
    EXPECT_DOUBLE_EQ(params.waveLength, 10.01);
    EXPECT_DOUBLE_EQ(params.waveAmplitude, 0.0);
    EXPECT_DOUBLE_EQ(params.wavePhase, 36.0);
}

// ---- Conversion choice dialog ----

TEST_F(OpDialog, ConversionChoiceCodesAndGreyedGroups) {
    constexpr unsigned B = 1, G = 2, C = 4, T = 8;
    struct Case {
        unsigned groups;
        std::vector<int> clicks;  // controls clicked in order, then OK (or Annuler when last is 2)
        int code;
    } cases[] = {
        {B | G | C, {}, 24},                                      // 256 colours pre-selected
        {B | G | C | T, {}, 32},                                  // true colour pre-selected
        {G, {}, 11},                                              // 256 grey levels
        {B, {}, 2},                                               // Floyd Steinberg
        {B | G | C, {IDC_CONV_GREY_FIRST + 2, IDC_CONV_GREY_DITHER}, 14},
        {B | G | C, {IDC_CONV_GREY_LAST, IDC_CONV_GREY_DITHER}, 11},  // no dithered 256 levels
        {B | G | C, {IDC_CONV_COLOUR_FIRST + 5, IDC_CONV_COLOUR_DITHER}, 30},
        {B | G | C, {IDC_CONV_BINARY_FIRST + 3}, 4},
        {G, {IDC_CONV_BINARY_FIRST, IDC_CONV_TRUE_COLOUR}, 11},   // greyed choices do nothing
        {T, {IDC_CONV_TRUE_COLOUR}, 32},
        {B | G | C | T, {IDC_CONV_COLOUR_FIRST, 2}, 0},           // Annuler
    };
    for (const Case& c : cases) {
        static const Case* current;
        static std::vector<std::string> seen;
        current = &c;
        seen.clear();
        int code = opgui::runConversion(
            "photo.gif", c.groups,
            [](Dialog d, void*) {
                seen.push_back(opgui::title(d));
                seen.push_back(opgui::text(d, IDC_CONV_TEXT));
                std::string state;
                for (int id = IDC_CONV_BINARY_FIRST; id <= IDC_CONV_TRUE_COLOUR; ++id)
                    state += opgui::enabled(d, id) ? 'e' : '-';
                seen.push_back(state);
                if (current->groups == (1 | 2 | 4)) gui::screenshot("conv");
                for (int id : current->clicks) opgui::click(d, id);
                // Exactly one choice is marked.
                int marked = 0;
                for (int id = IDC_CONV_BINARY_FIRST; id <= IDC_CONV_TRUE_COLOUR; ++id)
                    if (id != IDC_CONV_GREY_DITHER && id != IDC_CONV_COLOUR_DITHER && opgui::checked(d, id)) ++marked;
                seen.push_back(std::to_string(marked));
                if (current->clicks.empty() || current->clicks.back() != 2) opgui::click(d, 1);
            },
            nullptr);
        SCOPED_TRACE(c.groups);
        EXPECT_EQ(code, c.code);
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[0], "Sauver sous...");
        EXPECT_EQ(seen[1], "Convert \"photo.gif\"");
        std::string expected;
        for (int id = IDC_CONV_BINARY_FIRST; id <= IDC_CONV_TRUE_COLOUR; ++id) {
            unsigned group = id <= IDC_CONV_BINARY_LAST ? B : id <= IDC_CONV_GREY_DITHER ? G
                                                          : id <= IDC_CONV_COLOUR_DITHER ? C : T;
            expected += (c.groups & group) ? 'e' : '-';
        }
        EXPECT_EQ(seen[2], expected);
        EXPECT_EQ(seen[3], "1");
    }
}

}  // namespace
