// The operations dialog "KaleoOpConvert" without its window: which
// parameter controls each kind of operation shows, and how the radio
// buttons, scroll bars and size fields read and write a job entry.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "optable.h"

// The controls of the "Paramêtres" group that an entry of this kind shows
// (the others are hidden). Resize and canvas show the pixel or the percent
// fields after the entry's mode.
std::vector<int> opShownControls(const OpInstance& op);
// Every control of the group.
const std::vector<int>& opParameterControls();

// ---- Counts (colours and grey levels: radios 4, 8, ... 216, 256) ----
constexpr int OPC_COUNT_CHOICES = 8;
int countOfChoice(int choice);  // 4, 8, 16, 32, 64, 128, 216, 256
// Whether the choice exists for the kind (no 4 colours, no 216 grey levels).
bool countChoiceEnabled(int kind, int choice);
// The choice of a colours or grey entry's target; -1 for another kind.
int countChoiceOf(const OpInstance& op);
// Sets the target from a choice; false when the kind has no such choice.
bool setCountChoice(OpInstance* op, int choice);

// ---- Black and white methods (radios "Tramé", "Floyd Steinberg", "Demi Teinte 45", "Demi Teinte 90") ----
int binaryChoiceOf(const OpInstance& op);
void setBinaryChoice(OpInstance* op, int choice);

// ---- Scroll bar rows: one (integer, hundredths, levels) or three (balance, waves) ----
struct OpRow {
    const char* label;   // the parameter's label ("Rouge", "Longueur", or the operation's)
    int32_t minimum;     // positions minimum .. maximum
    int32_t maximum;
};
int opRowCount(const OpInstance& op);
OpRow opRow(const OpInstance& op, int row);
// The row's scroll position for the entry's value, and the value a position gives.
int32_t opRowPosition(const OpInstance& op, int row);
void setOpRowPosition(OpInstance* op, int row, int32_t position);
// The value as the dialog writes it beside the scroll bar ("-12", "1.25", "64").
std::string opRowText(const OpInstance& op, int row);

// ---- Resize, canvas and rectangle fields ----
// Stores a field typed by the user, clamped into the parameter's range;
// false for a field the entry does not have or text that is not a number.
bool setOpField(OpInstance* op, int control, const char* text);
// The text of a field for the entry ("" for a field it does not have).
std::string opFieldText(const OpInstance& op, int control);

// The job list's line for an entry: its label.
std::string opJobLine(const OpInstance& op);
