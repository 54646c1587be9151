// Helpers of the GUI test of the slide show, the clipboard import, the web
// page, the wallpaper and printing (show_win.cpp). Names no Win32 type.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace showgui {

struct Show {
    bool exists = false;
    std::string title;
    int shown = -1, loads = 0;
    int imageWidth = 0, imageHeight = 0;
    bool timerRunning = false, cursorHidden = false;
    bool popup = false, caption = false;   // window styles
    int clientWidth = 0, clientHeight = 0;
};

// Starts a show of the files (flags of slidelogic.h); false when none started.
bool startShow(const std::vector<std::string>& files, uint16_t flags, int seconds);
Show show();
// A key pressed in the show's window (a virtual-key code), then a pump.
void key(int virtualKey);
void click(bool left);
// "-slide <file>" as the command line carries it out.
void runSlideFile(const std::string& path);
// The dialog's "Sauver..." and "Ouvrir..." without their file dialogs.
bool writeSlideFile(const std::string& path, const std::vector<std::string>& files, uint16_t flags, int seconds);
bool readSlideFile(const std::string& path, std::vector<std::string>* files, uint16_t* flags, int* seconds);
constexpr int KEY_ESCAPE = 0x1B, KEY_LEFT = 0x25, KEY_RIGHT = 0x27, KEY_SPACE = 0x20;

// Places a packed DIB on the clipboard as CF_DIB (the clipboard emptied first).
bool putDib(const std::vector<uint8_t>& bytes);
bool clipboardHasBitmap();
void emptyClipboard();
// A list box of a dialog: its rows.
std::vector<std::string> listRows(void* dialog, int id);

// The active image window: title, name, format, picture as R,G,B rows.
struct Picture {
    bool exists = false;
    std::string title, path;
    int formatIndex = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};
Picture activePicture();

// The web page of files of a folder, with the [Html] settings of this
// process (set through gui::setSettingValue) and the output folder.
bool makePage(const std::string& folder, const std::vector<std::string>& names, const std::string& title,
              const std::string& outputFolder);
std::string unixPathOf(const std::string& windowsPath);

// The wallpaper commands on a picture of w x h (null picture for "Précédent").
bool setWallpaper(int command, int width, int height);
std::string desktopValue(const std::string& name);   // "<none>" when missing
void setDesktopValue(const std::string& name, const std::string& value);
std::string windowsFolder();

// A capture of the whole screen (mode 0), as after "OK" in "KaleoCapture".
bool captureDesktop();
// The frame's client area captured as "Partie cliente" would; the expected size in *w, *h.
bool captureFrameClient(int* w, int* h);
// Saves a w x h picture as a JPEG with our writer (a small original).
bool writeJpeg(const std::string& path, int w, int h);
// Opens the web page dialog (through the runner of gui::withDialogWhile).
void runPageDialog(void* unused);
void runPrintDialog(void* unused);

// A PostScript printer of Wine's driver, described by a small PPD (A4, 300
// dpi, colour) written by the test, printing to FILE:. False when it cannot
// be installed.
bool installTestPrinter(const std::string& folder);
struct PrintedPage {
    bool ok = false;
    int width = 0, height = 0, dpiX = 0, dpiY = 0;  // the device context's page
};
// Prints a solid red w x h picture with the print options to a PostScript file.
PrintedPage printToFile(const std::string& psPath, int option, int w, int h, int xScale, int yScale);
// Runs a Unix program (arguments already quoted); its exit code or -1.
int runUnix(const std::string& commandLine);
// Loads a picture file (any format of the library) as R,G,B rows.
bool loadRgb(const std::string& windowsPath, int* width, int* height, std::vector<uint8_t>* rgb);

}  // namespace showgui
