// Helpers of the GUI test of the hexadecimal dump window (dump_win.cpp). Like
// gui.h, this header names no Win32 type.
#pragma once
#include <string>
#include <vector>

namespace dumpgui {

// Posts the frame's "open in hexadecimal" request for the path and lets it run.
void postOpenHexa(const std::string& path);
// "Voir en &hexa...": types the path into the open dialog and confirms it.
// False when the dialog never showed.
bool viewHexThroughOpenDialog(const std::string& path);

int dumpWindowCount();                    // children of class "VdumpClass"
std::string activeChildClass();           // "" without a child
std::string activeChildTitle();
bool activeChildMaximized();
void maximizeActiveChild();
bool dumpWindowHasFocus();                // the active child is a dump window and has the focus

// State of the active dump window (-1 when the active child is not one).
long long firstLine();
long long pageLines();
long long lineCount();
// The texts of the rows it shows, top to bottom.
std::vector<std::string> visibleLines();
// Its vertical scroll bar: position and largest position (nMax - nPage + 1).
int scrollPosition();
int scrollLimit();

enum Key { KEY_UP, KEY_DOWN, KEY_PAGE_UP, KEY_PAGE_DOWN, KEY_HOME, KEY_END };
void pressKey(Key key);
void turnWheel(int delta);                // multiples of 120 per notch; positive away from the user
int wheelLines();                         // lines per notch of the system setting
void dragThumb(int position);             // as a drag of the thumb ending at the position

// A file of `size` bytes, zeros (a hole where the system allows) ending with `tail`.
bool writeSparse(const std::string& path, long long size, const std::string& tail);
// The active dump window's left and right edges in the client, and the client's width.
bool activeChildSpan(int* left, int* right, int* clientWidth);
}  // namespace dumpgui
