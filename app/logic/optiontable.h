// The controls of the options dialog "KaleoOption": which settings key each
// control shows, and which category shows it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings.h"
#include "writeoptions.h"

enum OptionControlKind {
    OPT_CHECK,   // check box: 0 or 1
    OPT_LIST,    // drop-down list: the selected index
    OPT_NUMBER,  // edit field holding a decimal number
    OPT_RADIO,   // radio button: checked when the key holds radioValue
};

struct OptionControl {
    int control;
    OptionControlKind kind;
    const char* section;
    const char* key;
    int radioValue;
};

const OptionControl* optionControls(size_t* count);

struct OptionCategory {
    int nameString;  // IDS_OPT_…
    int firstControl;
    int lastControl;
};

constexpr int OPTION_CATEGORY_COUNT = 4;
constexpr int OPTION_CATEGORY_MISC = 2;
constexpr int OPTION_CATEGORY_BROWSER = 3;
const OptionCategory* optionCategories();
// The category whose range holds a control, or -1.
int optionCategoryOf(int control);

// A quality spin button: one step up or down, kept within 0…100.
int stepQuality(int value, int delta);

// The writer switches of a save in the format `shortName`: every slot at
// what a save carries when its writer reads nothing there, then each option
// of the format (core/writeoptions.h) from its [Save] key.
void writerOptionsFromSettings(const Settings& s, const char* shortName, IoOptions* options);
// The names of a writer option's values for its drop-down list, or null.
const char* const* writerOptionChoices(const char* settingsKey);
