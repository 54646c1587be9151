// Helpers of the GUI test that drive the real frame of the viewer in this
// process (or a second copy of the program). This header names no Win32
// type: the GoogleTest cases that include it are compiled as plain Linux C++.
#pragma once
#include <string>
#include <vector>

namespace gui {

// ---- Files (Windows paths unless said otherwise) ----
std::string tempFolder();  // a fresh folder, ending with "\"
// Writes a small bitmap with our own writer; returns its Windows path.
std::string writeBitmap(const std::string& folder, const std::string& name, int width, int height);
bool writeText(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
std::string profileString(const std::string& ini, const std::string& section, const std::string& key);

// ---- The frame in this process ----
// Starts as the entry point does, up to the message loop.
bool start(const std::string& commandLine);
void pump(int milliseconds);
// Closes the frame (WM_CLOSE), ends the loop and writes the settings.
// Returns true when the frame was destroyed.
bool closeFrame();
bool frameAlive();
void sendCommand(int id, int pumpMilliseconds = 50);
void openFile(const std::string& path);
std::string frameClass();
std::string frameTitle();
std::string menuBar();                    // pop-up titles joined by "|"
std::string filePopupItems();             // texts of the "&Fichier" pop-up joined by "|" ("-" for separators)
bool menuItemEnabled(int id);             // as the menu shows it when it drops down
bool menuItemChecked(int id);
std::vector<int> menuCommandIds();        // every command of the current menu bar, pop-ups included
int toolbarContext();                     // 0 none, 1 image, 2 browser
std::vector<int> visibleToolButtons();    // command identifiers, separators included
bool toolButtonEnabled(int id);
bool toolBarVisible();
std::string statusText(int part);
int childCount();
std::vector<std::string> childTitles();
bool frameTopMost();
void setActiveChildModified();
// Sends the bytes (no terminating zero added) as WM_COPYDATA; returns the answer.
int sendCopyData(const std::string& bytes);
bool queryEndSession();
void moveFrame(int x, int y, int width, int height);
void minimizeFrame();

// ---- Settings of this process ----
int settingInt(const std::string& section, const std::string& key);
bool setSettingValue(const std::string& section, const std::string& key, int value);
std::string recentFile(int slot);
std::string browsePath();
std::string settingsPath();

// ---- Modal dialogs and message boxes ----
// Runs the command; meanwhile, once the window titled `title` shows, `act`
// runs on it (as an opaque handle) and should close it. False when the
// window never appeared.
bool withDialog(int command, const std::string& title, void (*act)(void* dialog, void* datum), void* datum);
// The same around any action that opens a modal window.
bool withDialogWhile(void (*run)(void* runDatum), void* runDatum, const std::string& title,
                     void (*act)(void* dialog, void* datum), void* datum);
// Answers the next message box titled `title` with the button id.
void answerNextMessageBox(const std::string& title, int button);
// Dialog helpers on the opaque handle.
std::string itemText(void* dialog, int id);
bool itemVisible(void* dialog, int id);
bool itemChecked(void* dialog, int id);
void clickItem(void* dialog, int id);
void setChecked(void* dialog, int id, bool on);
void selectCategory(void* dialog, int index);
void spin(void* dialog, int spinId, int delta);
int listViewCount(void* dialog, int id);
std::string listViewText(void* dialog, int id, int row, int column);
int listViewColumns(void* dialog, int id);
bool listViewChecked(void* dialog, int id, int row);
void clickListViewCheck(void* dialog, int id, int row);
// Saves the screen as a BMP into the folder named by KALEO_SCREENSHOTS, if set.
void screenshot(const std::string& name);

// ---- Registry and shell integration ----
std::string classesDefault(const std::string& key);  // "<none>" when it cannot be read
void setClassesDefault(const std::string& key, const std::string& value);
void deleteClassesKey(const std::string& key);
bool registerImageClass();
bool associate(const std::string& ext);
bool restore(const std::string& ext);
bool isAssociated(const std::string& ext);
bool addVerb();
bool removeVerb();
bool hasVerb();
std::string openCommand();
bool createDesktopShortcut(std::string* linkPath);

// ---- The program as a separate process ----
std::string programPath();  // Windows path of kaleos.exe.so
// Starts the program; returns a process handle id (>0) or 0.
int launch(const std::string& arguments);
// Waits for the process to end; returns its exit code, or -1 after the timeout.
int waitExit(int process, int milliseconds);
// The frame of another process ("VmainClass"), waiting up to the timeout.
bool waitForOtherFrame(int milliseconds);
std::vector<std::string> otherFrameChildTitles();
void closeOtherFrame();

}  // namespace gui
