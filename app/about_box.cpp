#include "app/about_box.h"

#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/app_state.h"
#include "app/gdiplus_include.h"
#include "app/resource.h"

using Microsoft::WRL::ComPtr;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void DeleteAboutBitmap() {
    if (!AppState.aboutBitmap) return;
    DeleteObject(AppState.aboutBitmap);
    AppState.aboutBitmap = nullptr;
}

/* A stream over a movable copy of the PNG resource. The stream owns the
   copy and frees it at its last release (GDI+ keeps a reference while the
   decoded image lives, since it may read the data lazily). */
ComPtr<IStream> OpenPngResource(HINSTANCE instance) {
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(IDB_ABOUT_PNG), L"PNG");
    if (!info) return nullptr;
    DWORD size = SizeofResource(instance, info);
    HGLOBAL loaded = LoadResource(instance, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return nullptr;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* copy = GlobalLock(block);
    if (!copy) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(copy, bytes, size);
    GlobalUnlock(block);

    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || !stream) {
        GlobalFree(block);
        return nullptr;
    }
    return stream;
}

/* The image shrunk into a width x height bitmap: centred, keeping its
   proportions, laid over the dialog's face colour so its soft edges blend
   with the box (a static control blits bitmaps, it does not blend them).
   Each target pixel averages the block of source pixels it covers; GDI+'s
   own scaling under Wine samples only a few of them and looks ragged at a
   twentieth of the size. */
HBITMAP FitImage(GpBitmap* image, int width, int height) {
    UINT sourceWidth = 0, sourceHeight = 0;
    GdipGetImageWidth(image, &sourceWidth);
    GdipGetImageHeight(image, &sourceHeight);
    if (width <= 0 || height <= 0 || sourceWidth == 0 || sourceHeight == 0) return nullptr;

    Rect whole(0, 0, static_cast<INT>(sourceWidth), static_cast<INT>(sourceHeight));
    BitmapData source{};
    if (GdipBitmapLockBits(image, &whole, ImageLockModeRead, PixelFormat32bppPARGB, &source) != Ok) return nullptr;

    // Scale factor as a fraction side / largest source side.
    int side = std::min(width, height);
    UINT largest = std::max(sourceWidth, sourceHeight);
    int drawnWidth = std::max(1, static_cast<int>(sourceWidth * side / largest));
    int drawnHeight = std::max(1, static_cast<int>(sourceHeight * side / largest));
    int left = (width - drawnWidth) / 2;
    int top = (height - drawnHeight) / 2;

    COLORREF face = GetSysColor(COLOR_3DFACE);
    const unsigned background[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height,
                                 0xFF000000u | (background[2] << 16) | (background[1] << 8) | background[0]);
    for (int y = 0; y < drawnHeight; ++y) {
        UINT y0 = y * sourceHeight / drawnHeight;
        UINT y1 = std::max(y0 + 1, (y + 1) * sourceHeight / drawnHeight);
        for (int x = 0; x < drawnWidth; ++x) {
            UINT x0 = x * sourceWidth / drawnWidth;
            UINT x1 = std::max(x0 + 1, (x + 1) * sourceWidth / drawnWidth);
            uint64_t sum[4] = {0, 0, 0, 0};  // premultiplied blue, green, red, alpha
            for (UINT sy = y0; sy < y1; ++sy) {
                auto row = static_cast<const uint8_t*>(source.Scan0) + static_cast<ptrdiff_t>(sy) * source.Stride;
                for (UINT sx = x0; sx < x1; ++sx) {
                    for (int c = 0; c < 4; ++c) sum[c] += row[sx * 4 + c];
                }
            }
            uint64_t count = static_cast<uint64_t>(x1 - x0) * (y1 - y0);
            unsigned alpha = static_cast<unsigned>(sum[3] / count);
            uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                unsigned value = static_cast<unsigned>(sum[c] / count) + background[c] * (255 - alpha) / 255;
                pixel |= std::min(value, 255u) << (8 * c);
            }
            pixels[static_cast<size_t>(top + y) * width + left + x] = pixel;
        }
    }
    GdipBitmapUnlockBits(image, &source);

    GpBitmap* fitted = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                  reinterpret_cast<BYTE*>(pixels.data()), &fitted) != Ok) {
        return nullptr;
    }
    HBITMAP bitmap = nullptr;
    if (GdipCreateHBITMAPFromBitmap(fitted, &bitmap, 0) != Ok) bitmap = nullptr;
    GdipDisposeImage(fitted);
    return bitmap;
}

/* Decodes the PNG resource afresh and fits it to the picture control.
   Null when anything fails, the image library not running included. */
HBITMAP LoadAboutImage(HWND picture) {
    ComPtr<IStream> stream = OpenPngResource(AppState.instance);
    if (!stream) return nullptr;
    GpBitmap* image = nullptr;
    HBITMAP bitmap = nullptr;
    if (GdipCreateBitmapFromStream(stream.Get(), &image) == Ok && image) {
        RECT area{};
        if (picture) GetClientRect(picture, &area);
        bitmap = FitImage(image, area.right - area.left, area.bottom - area.top);
    }
    stream.Reset();
    if (image) GdipDisposeImage(image);
    return bitmap;
}

INT_PTR OnInitDialog(HWND dialog) {
    DeleteAboutBitmap();
    AppState.aboutBitmap = LoadAboutImage(GetDlgItem(dialog, IDC_ABOUT_IMAGE));
    if (AppState.aboutBitmap) {
        SendDlgItemMessageW(dialog, IDC_ABOUT_IMAGE, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(AppState.aboutBitmap));
    }
    // TRUE: the dialog manager puts the focus on the OK button.
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: {
        // IDCANCEL also stands for Esc and the caption's close button.
        WORD command = LOWORD(wParam);
        if (command != IDOK && command != IDCANCEL) return FALSE;
        DeleteAboutBitmap();
        EndDialog(dialog, command);
        return TRUE;
    }
    case WM_DESTROY: DeleteAboutBitmap(); return FALSE;
    }
    return FALSE;
}
