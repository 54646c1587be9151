// Resource texts, error messages and the small heap helpers of the viewer.
#include <cstdio>
#include <cstring>

#include "app.h"
#include "status.h"

std::string loadText(UINT id) {
    char buffer[512];
    int n = LoadStringA(g_frame.instance, id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string statusMessage(int status, const char* path, const char* readerMessage) {
    UINT id;
    switch (status) {
    case ST_NO_MEMORY: id = IDS_ERR_NO_MEMORY; break;
    case ST_UNKNOWN_FORMAT: id = IDS_ERR_UNKNOWN_FORMAT; break;
    case ST_READ_ERROR: id = IDS_ERR_READ; break;
    case ST_CANNOT_OPEN: id = IDS_ERR_CANNOT_OPEN; break;
    case ST_WRITE_ERROR: id = IDS_ERR_CANNOT_WRITE; break;
    case ST_BAD_FILE:
        if (readerMessage && readerMessage[0]) return readerMessage;
        id = IDS_ERR_BAD_FILE;
        break;
    case ST_CORRUPT: id = IDS_ERR_CORRUPT; break;
    case ST_JPEG_ERROR: id = IDS_ERR_JPEG; break;
    default: id = IDS_ERR_OTHER; break;
    }
    std::string format = loadText(id);
    std::string text;
    // The only directive of these texts is one "%s" for the path.
    size_t at = format.find("%s");
    if (at == std::string::npos) return format;
    text = format.substr(0, at) + (path ? path : "") + format.substr(at + 2);
    return text;
}

void showStatusError(HWND owner, int status, const char* path, const char* readerMessage) {
    if (status == ST_OK || status == ST_STOPPED) return;  // a stop by the user is never reported
    std::string text = statusMessage(status, path, readerMessage);
    MessageBoxA(owner, text.c_str(), "Warning", MB_OK | MB_ICONERROR);
}

char* heapCopy(const char* text) {
    size_t n = strlen(text) + 1;
    char* p = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, n));
    if (p) memcpy(p, text, n);
    return p;
}

void copyText(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    size_t n = src ? strnlen(src, size - 1) : 0;
    if (n) memcpy(dst, src, n);
    dst[n] = '\0';
}

void heapFree(void* p) {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

std::string libraryPath(const char* windowsPath) {
    WCHAR wide[MAX_PATH + 1];
    if (!MultiByteToWideChar(CP_ACP, 0, windowsPath, -1, wide, MAX_PATH + 1)) return std::string();
    char* unixPath = wine_get_unix_file_name(wide);
    if (!unixPath) return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}
