// Helpers of the GUI test that drive the image window's operation dialogs and
// the conversion choice dialog directly, over a plain owner window, with fake
// "Vue Auto." hooks. Names no Win32 type: the GoogleTest cases that include
// it are compiled as plain Linux C++.
#pragma once
#include <string>

#include "menuops.h"

namespace opgui {

typedef void* Dialog;
typedef void (*Act)(Dialog dialog, void* datum);

// What the fake preview hooks saw.
struct PreviewLog {
    int shows = 0;
    int restores = 0;
    int lastCommand = 0;
    MenuOpParams last{};
    bool failShows = false;  // show answers false (the window could not compute it)
};

// Runs runOperationDialog for `command` on a width x height true-colour
// picture; `act` runs on the dialog once it shows and should close it. With
// preview null the dialog gets no hooks. Returns the dialog's result
// (0 cancelled, 1 apply, 2 already shown), or -1 when no dialog showed.
int runOperation(int command, int width, int height, PreviewLog* preview, Act act, void* datum,
                 MenuOpParams* params);
// Runs runConversionChoiceDialog; returns its code, or -1 when no dialog showed.
int runConversion(const std::string& fileName, unsigned groups, Act act, void* datum);

// ---- On the dialog ----
std::string title(Dialog d);
std::string text(Dialog d, int id);
bool enabled(Dialog d, int id);
bool checked(Dialog d, int id);
// A click as the mouse makes it (BM_CLICK): check boxes toggle, buttons notify.
void click(Dialog d, int id);
enum ScrollAction { LINE_LEFT, LINE_RIGHT, PAGE_LEFT, PAGE_RIGHT, THUMB_TRACK, THUMB_POSITION };
void scroll(Dialog d, int id, ScrollAction action, int position = 0);
int scrollPosition(Dialog d, int id);
int scrollMaximum(Dialog d, int id);
// Replaces the text of an edit field, as typing does (the field notifies its change).
void type(Dialog d, int id, const std::string& text);
// The up arrow key in the edit field of a spin button (its buddy).
void arrowUp(Dialog d, int editId);
int comboCount(Dialog d, int id);
int comboSelection(Dialog d, int id);
std::string comboText(Dialog d, int id, int index);
// Selects an entry as the user does (the dialog hears CBN_SELCHANGE).
void chooseCombo(Dialog d, int id, int index);
// Clicks the button of the next message box titled `title` that shows.
void answerNextBox(const std::string& title, int button);

// ---- Settings of this process ----
int lastValue(int slot);
void setLastValue(int slot, int value);
bool autoView();
void setAutoView(bool on);
int resample();
void setResample(int method);

}  // namespace opgui
