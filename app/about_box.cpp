#include "app/about_box.h"

#include <wrl/client.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "app/gdiplus_include.h"
#include "app/image_fit.h"
#include "app/resource.h"
#include "state/app_state.h"

using Microsoft::WRL::ComPtr;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void DeleteAboutBitmap() {
    if (!AppState.aboutBitmap) return;
    DeleteObject(AppState.aboutBitmap);
    AppState.aboutBitmap = nullptr;
}

// A stream over a movable copy of the PNG resource. The stream owns the
// copy and frees it at its last release (GDI+ keeps a reference while the
// decoded image lives, since it may read the data lazily).
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

// The image shrunk into a width x height bitmap, laid over the dialog's
// face colour so its soft edges blend with the box (a static control blits
// bitmaps, it does not blend them). The averaging is done by hand: GDI+'s
// own scaling under Wine samples only a few source pixels and looks ragged
// at a twentieth of the size.
HBITMAP FitImage(GpBitmap* image, int width, int height) {
    UINT sourceWidth = 0, sourceHeight = 0;
    GdipGetImageWidth(image, &sourceWidth);
    GdipGetImageHeight(image, &sourceHeight);
    if (width <= 0 || height <= 0 || sourceWidth == 0 || sourceHeight == 0) return nullptr;

    Rect whole(0, 0, static_cast<INT>(sourceWidth), static_cast<INT>(sourceHeight));
    BitmapData source{};
    if (GdipBitmapLockBits(image, &whole, ImageLockModeRead, PixelFormat32bppPARGB, &source) != Ok) return nullptr;
    const COLORREF face = GetSysColor(COLOR_3DFACE);
    std::vector<uint32_t> pixels =
        FitImagePixels(static_cast<const uint8_t*>(source.Scan0), sourceWidth, sourceHeight, source.Stride, width,
                       height, (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face));
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

// Decodes the PNG resource afresh and fits it to the picture control.
// Null when anything fails, the image library not running included.
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
