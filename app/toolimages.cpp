// The tool bar's greyed images: the same glyphs, flattened to two greys, so
// that a disabled button still shows what it is.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "app.h"

namespace {

constexpr uint8_t FACE = 192;  // the button face of the bitmaps: transparent on the bar

bool isFace(const uint8_t* p) { return p[0] == FACE && p[1] == FACE && p[2] == FACE; }

// Dark strokes become a mid grey, light ones a light grey; the face stays.
void greyOut(std::vector<uint8_t>* bgrx) {
    for (size_t i = 0; i + 3 < bgrx->size(); i += 4) {
        uint8_t* p = &(*bgrx)[i];
        if (isFace(p)) continue;
        int luma = (p[2] * 77 + p[1] * 150 + p[0] * 29) >> 8;
        uint8_t grey = luma < 160 ? 128 : 224;
        p[0] = p[1] = p[2] = grey;
    }
}

}  // namespace

HIMAGELIST createGreyedToolImages(int bitmapId, int imageWidth, int imageHeight) {
    HBITMAP source = static_cast<HBITMAP>(
        LoadImageA(g_frame.instance, MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!source) return nullptr;
    BITMAP info;
    if (!GetObjectA(source, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0 ||
        info.bmWidth > 4096 || info.bmHeight > 256) {
        DeleteObject(source);
        return nullptr;
    }
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = info.bmWidth;
    bi.bmiHeader.biHeight = -info.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bits(static_cast<size_t>(info.bmWidth) * info.bmHeight * 4);
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, source, 0, static_cast<UINT>(info.bmHeight), bits.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(source);
    HIMAGELIST list = nullptr;
    if (rows == info.bmHeight) {
        greyOut(&bits);
        void* target = nullptr;
        HBITMAP greyed = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &target, nullptr, 0);
        if (greyed && target) {
            memcpy(target, bits.data(), bits.size());
            int count = info.bmWidth / imageWidth;
            list = ImageList_Create(imageWidth, imageHeight, ILC_COLOR24 | ILC_MASK, count, 0);
            if (list && ImageList_AddMasked(list, greyed, RGB(FACE, FACE, FACE)) < 0) {
                ImageList_Destroy(list);
                list = nullptr;
            }
        }
        if (greyed) DeleteObject(greyed);
    }
    ReleaseDC(nullptr, screen);
    return list;
}
