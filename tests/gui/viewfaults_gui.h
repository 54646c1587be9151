// Helpers of the GUI test of the frame's layout, full screen, the tool bar's
// disabled images, the save dialog's options and the About box. Names no
// Win32 type, like gui.h.
#pragma once
#include <string>
#include <vector>

namespace viewgui {

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};
// The multiple-document client in the frame's client coordinates.
Box clientArea();
Box frameClient();  // the frame's client rectangle
int toolBarHeight();
int statusBarHeight();
// The active child's client area in screen coordinates.
Box activeChildOnScreen();
int screenWidth();
int screenHeight();
bool clientHasEdge();  // the multiple-document client draws its sunken edge
// The tool bar has a list of greyed images as many as its normal ones.
int toolBarImageCount();
// The colour the screen shows at a point of the frame's client area, 0xRRGGBB.
unsigned frameColour(int x, int y);
int toolBarDisabledImageCount();

// The texts of the dialog's labels (static controls) that do not fit their
// control in the dialog's font, wrapped where the control wraps.
std::vector<std::string> clippedLabels(void* dialog);

// The text of a command of the image menu ("KaleoMenu"), in UTF-8.
std::string imageMenuText(int id);

// Drops the paths on the frame as a file manager does (WM_DROPFILES).
void dropOnFrame(const std::vector<std::string>& paths);
bool frameAcceptsFiles();

// The text of a control anywhere in a dialog (its own part included).
std::string controlText(void* dialog, int id);
bool controlChecked(void* dialog, int id);
// In an open dialog: names a file of the current folder as a selection in the
// list does, and lets the dialog's part hear the change.
void selectInOpenDialog(void* dialog, const std::string& name);

// A click on a button of a dialog or of its own part (a file dialog's template).
void pressButton(void* dialog, int id);
// The dialog is above the frame and is the active window.
bool dialogOnTop(void* dialog);

}  // namespace viewgui
