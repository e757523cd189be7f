// The About box, opened modally for real from the program's own resources
// (the test links the same lumivane.rc as Lumivane.exe) and driven from a
// timer inside its modal loop: the image it shows, and every way out
// deletes that image.

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "app/about_box.h"
#include "app/gdiplus_include.h"
#include "app/resource.h"
#include "state/app_state.h"

namespace {

HMODULE Self() {
    return GetModuleHandleW(nullptr);
}

// Runs action on the open About box from a timer, which the dialog's
// modal loop dispatches; returns what DialogBoxParamW returned.
std::function<void(HWND)> pendingAction;

void CALLBACK RunPendingAction(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND dialog = FindWindowW(L"#32770", L"バージョン情報");
    auto action = std::move(pendingAction);
    pendingAction = nullptr;
    if (action) action(dialog);
}

INT_PTR OpenAboutBox(std::function<void(HWND)> action) {
    pendingAction = std::move(action);
    SetTimer(nullptr, 0, 20, RunPendingAction);
    return DialogBoxParamW(Self(), MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr, AboutDialogProc, 0);
}

class AboutBox : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // As at start-up: the image library runs for the program's whole life.
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&AppState.gdiplusToken, &input, nullptr), Gdiplus::Ok);
    }
    static void TearDownTestSuite() {
        Gdiplus::GdiplusShutdown(AppState.gdiplusToken);
        AppState.gdiplusToken = 0;
    }
    void SetUp() override { AppState.instance = Self(); }
};

struct SeenImage {
    HBITMAP shown = nullptr;
    HBITMAP stored = nullptr;
    SIZE bitmapSize{};
    SIZE controlSize{};
    COLORREF corner = 0;
    COLORREF centre = 0;
    bool focusOnOk = false;
};

SeenImage LookAtImage(HWND dialog) {
    SeenImage seen;
    HWND picture = GetDlgItem(dialog, IDC_ABOUT_IMAGE);
    seen.stored = AppState.aboutBitmap;
    seen.shown = reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    RECT client{};
    GetClientRect(picture, &client);
    seen.controlSize = {client.right, client.bottom};
    seen.focusOnOk = GetFocus() == GetDlgItem(dialog, IDOK);
    BITMAP info{};
    if (seen.stored && GetObjectW(seen.stored, sizeof(info), &info)) {
        seen.bitmapSize = {info.bmWidth, info.bmHeight};
        HDC memory = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(memory, seen.stored);
        seen.corner = GetPixel(memory, 0, 0);
        seen.centre = GetPixel(memory, info.bmWidth / 2, info.bmHeight / 2);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    return seen;
}

TEST_F(AboutBox, ShowsTheImageFittedToThePictureAndDeletesItOnEveryWayOut) {
    struct Way {
        const char* name;
        std::function<void(HWND)> close;
        INT_PTR result;
    };
    const Way ways[] = {
        {"OK button", [](HWND d) { SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }, IDOK},
        {"Enter", [](HWND) { PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0); }, IDOK},
        {"Esc", [](HWND) { PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }, IDCANCEL},
        {"close button", [](HWND d) { SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        SeenImage seen;
        INT_PTR result = OpenAboutBox([&](HWND dialog) {
            ASSERT_NE(dialog, nullptr);
            seen = LookAtImage(dialog);
            way.close(dialog);
        });
        EXPECT_EQ(result, way.result);
        ASSERT_NE(seen.stored, nullptr);
        EXPECT_EQ(seen.shown, seen.stored);
        EXPECT_TRUE(seen.focusOnOk);
        EXPECT_GT(seen.controlSize.cx, 16);
        EXPECT_EQ(seen.bitmapSize.cx, seen.controlSize.cx);
        EXPECT_EQ(seen.bitmapSize.cy, seen.controlSize.cy);
        // Transparent corners show the dialog's own colour; the middle is art.
        EXPECT_EQ(seen.corner, GetSysColor(COLOR_3DFACE));
        EXPECT_NE(seen.centre, GetSysColor(COLOR_3DFACE));
        EXPECT_EQ(AppState.aboutBitmap, nullptr);
        EXPECT_EQ(GetObjectType(seen.stored), 0u) << "the bitmap was deleted";
    }
}

TEST_F(AboutBox, DestroyedWithoutACommandStillDeletesTheImage) {
    HBITMAP stored = nullptr;
    OpenAboutBox([&](HWND dialog) {
        stored = AppState.aboutBitmap;
        DestroyWindow(dialog);
    });
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(AppState.aboutBitmap, nullptr);
    EXPECT_EQ(GetObjectType(stored), 0u);
}

TEST_F(AboutBox, OpensWithoutAnImageWhenTheImageResourceIsMissing) {
    // The template still comes from this module; the image is looked for
    // in one that has none.
    AppState.instance = GetModuleHandleW(L"kernel32.dll");
    SeenImage seen;
    bool textsThere = false;
    INT_PTR result = OpenAboutBox([&](HWND dialog) {
        seen = LookAtImage(dialog);
        wchar_t text[64] = {};
        GetWindowTextW(GetDlgItem(dialog, IDOK), text, 64);
        textsThere = std::wstring(text) == L"OK";
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.stored, nullptr);
    EXPECT_EQ(seen.shown, nullptr);
    EXPECT_TRUE(seen.focusOnOk);
    EXPECT_TRUE(textsThere);
    EXPECT_EQ(AppState.aboutBitmap, nullptr);
}

}  // namespace
