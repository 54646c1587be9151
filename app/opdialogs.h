// The parameter dialogs of the image window's "&Image" and "Fi&ltre" commands
// ("KaleoValue", "KaleoResize", "KaleoBalance", "KaleoFilterSize",
// "KaleoDeinterlace", "KaleoUserFilter", "KaleoWaves" and the canvas size
// dialog). The window-free part (which command opens which dialog, positions
// to values, the resize arithmetic, running a command's operation) lives in
// app/logic/menuops.h.
#pragma once
#include <windows.h>

#include "image.h"
#include "menuops.h"

// What the image window lends a dialog so that "Vue Auto." can show the
// operation on the window while the dialog is open. The preview is always
// computed from `original` (the image as it was when the dialog opened).
struct OpPreview {
    void* context;
    const Image* original;
    // Shows `params` applied to the original in the window; false on failure
    // (the window then shows the original again).
    bool (*show)(void* context, int commandId, const MenuOpParams& params);
    // Puts the original back on screen.
    void (*restore)(void* context);
};

enum OpDialogResult {
    OPDLG_CANCELLED = 0,  // nothing to do; the original is on screen again
    OPDLG_APPLY = 1,      // apply *params to the image
    OPDLG_SHOWN = 2,      // *params is already shown by the preview: keep that result
};

// Runs the dialog of a command that has one (menuOpDialog(commandId) !=
// MENU_DIALOG_NONE). `image` is the window's current image (for sizes and
// kinds); `preview` may be null (no "Vue Auto."). Remembered values
// (LastValue slots, AutoView, Resample) are read from and stored into
// g_settings. *params is filled from defaultMenuOpParams first, then by the
// dialog; a command without a dialog returns OPDLG_APPLY at once with those
// defaults (OPDLG_CANCELLED for a command that is not an operation).
OpDialogResult runOperationDialog(HWND owner, int commandId, const Image& image, const OpPreview* preview,
                                  MenuOpParams* params);

// Groups of the conversion choice dialog that the output format can write.
enum ConversionGroups : unsigned {
    CONV_GROUP_BINARY = 1,
    CONV_GROUP_GREY = 2,
    CONV_GROUP_COLOURS = 4,
    CONV_GROUP_TRUE_COLOUR = 8,
};

// The conversion choice dialog "KaleoConv" ("Sauver sous..."): shows
// "Convert \"%s\"" with fileName, enables only the groups in `groups`, and
// returns the chosen conversion code 1..32, or 0 for "Annuler". A
// preferred code (1..32) whose choice is enabled is selected at first,
// otherwise the richest choice the format can write.
int runConversionChoiceDialog(HWND owner, const char* fileName, unsigned groups, int preferredCode = 0);
