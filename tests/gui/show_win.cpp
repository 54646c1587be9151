// Win32 side of the GUI test helpers of the slide show and the small tools.
#include <windows.h>
#include <winspool.h>

#include <cstring>

#include "app.h"
#include "browselogic.h"
#include "gui.h"
#include "show_gui.h"
#include "slidelogic.h"

namespace showgui {

bool startShow(const std::vector<std::string>& files, uint16_t flags, int seconds) {
    SlideList list;
    list.flags = flags;
    list.timerSeconds = seconds;
    list.files = files;
    bool ok = startSlideShow(list) != nullptr;
    gui::pump(100);
    return ok;
}

Show show() {
    Show s;
    HWND w = slideShowWindow();
    SlideShowState st;
    if (!w || !slideShowState(&st)) return s;
    s.exists = true;
    char title[600];
    int n = GetWindowTextA(w, title, sizeof title);
    s.title.assign(title, n > 0 ? static_cast<size_t>(n) : 0);
    s.shown = st.shown;
    s.loads = st.loads;
    s.imageWidth = st.imageWidth;
    s.imageHeight = st.imageHeight;
    s.timerRunning = st.timerRunning;
    s.cursorHidden = st.cursorHidden;
    LONG style = GetWindowLongA(w, GWL_STYLE);
    s.popup = (style & WS_POPUP) != 0;
    s.caption = (style & WS_CAPTION) == WS_CAPTION;
    RECT rc;
    GetClientRect(w, &rc);
    s.clientWidth = rc.right;
    s.clientHeight = rc.bottom;
    return s;
}

void key(int virtualKey) {
    HWND w = slideShowWindow();
    if (w) SendMessageA(w, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
    gui::pump(100);
}

void click(bool left) {
    HWND w = slideShowWindow();
    if (w) SendMessageA(w, left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
    gui::pump(100);
}

void runSlideFile(const std::string& path) {
    runSlideShowFile(path.c_str());
    gui::pump(100);
}

bool writeSlideFile(const std::string& path, const std::vector<std::string>& files, uint16_t flags, int seconds) {
    SlideList list;
    list.flags = flags;
    list.timerSeconds = seconds;
    list.files = files;
    return ::writeSlideFile(g_frame.frame, path.c_str(), list);
}

bool readSlideFile(const std::string& path, std::vector<std::string>* files, uint16_t* flags, int* seconds) {
    SlideList list;
    bool ok = ::readSlideFile(g_frame.frame, path.c_str(), &list);
    *files = list.files;
    *flags = list.flags;
    *seconds = list.timerSeconds;
    return ok;
}

bool putDib(const std::vector<uint8_t>& bytes) {
    if (!OpenClipboard(g_frame.frame)) return false;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    bool ok = false;
    if (block) {
        void* p = GlobalLock(block);
        memcpy(p, bytes.data(), bytes.size());
        GlobalUnlock(block);
        ok = SetClipboardData(CF_DIB, block) != nullptr;
        if (!ok) GlobalFree(block);
    }
    CloseClipboard();
    return ok;
}

bool clipboardHasBitmap() { return ::clipboardHasBitmap(); }

std::vector<std::string> listRows(void* dialog, int id) {
    std::vector<std::string> rows;
    HWND list = GetDlgItem(static_cast<HWND>(dialog), id);
    LRESULT n = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        char text[600];
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length >= static_cast<LRESULT>(sizeof text)) continue;
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        rows.push_back(text);
    }
    return rows;
}

void emptyClipboard() {
    if (!OpenClipboard(g_frame.frame)) return;
    EmptyClipboard();
    CloseClipboard();
}

Picture activePicture() {
    Picture p;
    HWND child = activeChild();
    ImageWindowState st;
    if (!imageWindowState(child, &st) || !st.image) return p;
    p.exists = true;
    char title[600];
    int n = GetWindowTextA(child, title, sizeof title);
    p.title.assign(title, n > 0 ? static_cast<size_t>(n) : 0);
    p.path = st.path;
    p.formatIndex = st.formatIndex;
    const Image& img = *st.image;
    p.width = img.width;
    p.height = img.height;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* row = imageRow(&img, y);
        for (int x = 0; x < img.width; ++x) {
            if (img.kind == IMG_PALETTE) {
                for (int c = 0; c < 3; ++c) p.rgb.push_back(img.palette[c * 256 + row[x]]);
            } else {
                for (int c = 0; c < 3; ++c) p.rgb.push_back(row[x * img.bytesPerPixel + c]);
            }
        }
    }
    return p;
}

bool makePage(const std::string& folder, const std::vector<std::string>& names, const std::string& title,
              const std::string& outputFolder) {
    std::vector<BrowserEntry> entries;
    for (const std::string& n : names) {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder + n).c_str(), &found);
        BrowserEntry e;
        e.name = n;
        if (h != INVALID_HANDLE_VALUE) {
            e.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            e.lastWrite = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                          found.ftLastWriteTime.dwLowDateTime;
            FindClose(h);
        }
        entries.push_back(e);
    }
    copyText(g_settings.htmlOutputDirectory, PATH_SIZE, outputFolder.c_str());
    bool ok = makeThumbnailPage(g_frame.frame, title, folder, entries);
    gui::pump(50);
    return ok;
}

std::string unixPathOf(const std::string& windowsPath) { return libraryPath(windowsPath.c_str()); }

bool setWallpaper(int command, int width, int height) {
    OwnedImage image;
    if (command != CMD_WALLPAPER_PREVIOUS) {
        if (!createImage(&image, IMG_RGB, 4, width, height)) return false;
        memset(image.pixels, 0x40, static_cast<size_t>(image.stride) * height);
    }
    return ::setWallpaper(g_frame.frame, command == CMD_WALLPAPER_PREVIOUS ? nullptr : &image, command);
}

std::string desktopValue(const std::string& name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<none>";
    char text[600];
    DWORD size = sizeof text - 1, type = 0;
    LONG r = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return "<none>";
    text[size < sizeof text ? size : sizeof text - 1] = '\0';
    return text;
}

void setDesktopValue(const std::string& name, const std::string& value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

std::string windowsFolder() {
    char w[MAX_PATH];
    UINT n = GetWindowsDirectoryA(w, sizeof w);
    return std::string(w, n < sizeof w ? n : 0);
}

bool captureDesktop() {
    bool ok = captureScreen(IDC_CAPTURE_DESKTOP, nullptr) != nullptr;
    gui::pump(100);
    return ok;
}

bool captureFrameClient(int* w, int* h) {
    ShowWindow(g_frame.frame, SW_RESTORE);
    gui::pump(100);
    RECT rc;
    GetClientRect(g_frame.frame, &rc);
    *w = rc.right;
    *h = rc.bottom;
    bool ok = captureScreen(IDC_CAPTURE_CLIENT, g_frame.frame) != nullptr;
    gui::pump(100);
    return ok;
}

bool writeJpeg(const std::string& path, int w, int h) {
    OwnedImage image;
    if (!createImage(&image, IMG_RGB, 4, w, h)) return false;
    memset(image.pixels, 0x80, static_cast<size_t>(image.stride) * h);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("jpeg"));
    char unixPath[FILE_NAME_LEN];
    copyText(unixPath, sizeof unixPath, libraryPath(path.c_str()).c_str());
    return saveImage(unixPath, &image, &o) == ST_OK;
}

void runPageDialog(void*) { runThumbnailPageDialog(g_frame.frame, "C:\\", std::vector<BrowserEntry>()); }

void runPrintDialog(void*) {
    OwnedImage image;
    if (!createImage(&image, IMG_RGB, 4, 8, 8)) return;
    memset(image.pixels, 0, static_cast<size_t>(image.stride) * 8);
    printPicture(g_frame.frame, image, "test.bmp");
}

namespace {
const char TEST_PRINTER[] = "Kaleos Test PS";
}

bool installTestPrinter(const std::string&) {
    // The driver's data file is looked up in the printer driver folder ("...\\3\\").
    char drivers[MAX_PATH];
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(drivers), sizeof drivers, &needed))
        return false;
    std::string folder = std::string(drivers) + "\\3\\";
    CreateDirectoryA(drivers, nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string ppd = folder + "kaleostest.ppd";
    const std::string text =
        "*PPD-Adobe: \"4.3\"\r\n*FormatVersion: \"4.3\"\r\n*FileVersion: \"1.0\"\r\n"
        "*LanguageVersion: English\r\n*LanguageEncoding: ISOLatin1\r\n*PCFileName: \"KALEOS.PPD\"\r\n"
        "*Manufacturer: \"Kaleos\"\r\n*Product: \"(Kaleos test)\"\r\n*ModelName: \"Kaleos test\"\r\n"
        "*NickName: \"Kaleos test\"\r\n*PSVersion: \"(3010.000) 0\"\r\n*LanguageLevel: \"3\"\r\n"
        "*ColorDevice: True\r\n*DefaultColorSpace: RGB\r\n*DefaultResolution: 300dpi\r\n"
        "*OpenUI *PageSize: PickOne\r\n*DefaultPageSize: A4\r\n"
        "*PageSize A4/A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\r\n*CloseUI: *PageSize\r\n"
        "*DefaultImageableArea: A4\r\n*ImageableArea A4/A4: \"0 0 595 842\"\r\n"
        "*DefaultPaperDimension: A4\r\n*PaperDimension A4/A4: \"595 842\"\r\n";
    if (!gui::writeText(ppd, text)) return false;
    DRIVER_INFO_3A di;
    memset(&di, 0, sizeof di);
    di.cVersion = 3;
    di.pName = const_cast<char*>(TEST_PRINTER);
    di.pDriverPath = const_cast<char*>("wineps.drv");
    di.pDataFile = const_cast<char*>(ppd.c_str());
    di.pConfigFile = const_cast<char*>("wineps.drv");
    di.pDefaultDataType = const_cast<char*>("RAW");
    if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&di)) && GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED)
        return false;
    PRINTER_INFO_2A pi;
    memset(&pi, 0, sizeof pi);
    pi.pPrinterName = const_cast<char*>(TEST_PRINTER);
    pi.pPortName = const_cast<char*>("FILE:");
    pi.pDriverName = const_cast<char*>(TEST_PRINTER);
    pi.pPrintProcessor = const_cast<char*>("WinPrint");
    pi.pDatatype = const_cast<char*>("RAW");
    HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&pi));
    if (printer) {
        ClosePrinter(printer);
        return true;
    }
    return GetLastError() == ERROR_PRINTER_ALREADY_EXISTS;
}

PrintedPage printToFile(const std::string& psPath, int option, int w, int h, int xScale, int yScale) {
    PrintedPage page;
    HDC dc = CreateDCA("WINSPOOL", TEST_PRINTER, nullptr, nullptr);
    if (!dc) return page;
    page.width = GetDeviceCaps(dc, HORZRES);
    page.height = GetDeviceCaps(dc, VERTRES);
    page.dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    page.dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    OwnedImage image;
    if (createImage(&image, IMG_RGB, 4, w, h)) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = imageRow(&image, y) + 3 * x;
                p[0] = 255;
                p[1] = p[2] = 0;
            }
        g_settings.printOption = static_cast<int16_t>(option);
        g_settings.printXScale = xScale;
        g_settings.printYScale = yScale;
        page.ok = printPictureOn(g_frame.frame, dc, image, "kaleos test", psPath.c_str());
    }
    DeleteDC(dc);
    gui::pump(50);
    return page;
}

int runUnix(const std::string& commandLine) {
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

bool loadRgb(const std::string& windowsPath, int* width, int* height, std::vector<uint8_t>* rgb) {
    OwnedImage image;
    IoOptions o = defaultIoOptions();
    o.flags |= OPT_TRUECOLOUR;
    std::string unixPath = libraryPath(windowsPath.c_str());
    if (unixPath.empty() || loadImage(unixPath.c_str(), &image, &o, nullptr) != ST_OK) return false;
    *width = image.width;
    *height = image.height;
    rgb->clear();
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = imageRow(&image, y);
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = row + x * image.bytesPerPixel;
            if (image.kind == IMG_BGR || image.kind == IMG_BGR32) {
                rgb->push_back(p[2]);
                rgb->push_back(p[1]);
                rgb->push_back(p[0]);
            } else {
                rgb->insert(rgb->end(), p, p + 3);
            }
        }
    }
    return true;
}

}  // namespace showgui
