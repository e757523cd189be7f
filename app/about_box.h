#pragma once
// The About box: name and version, maker, notice and the program's image.

#include <windows.h>

// The dialog procedure of template IDD_ABOUTBOX. The image it shows lives
// in AppState.aboutBitmap from WM_INITDIALOG until the box closes.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
