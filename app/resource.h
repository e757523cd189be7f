// Identifiers shared by the resource script and the C++ code. Plain
// #defines, since both windres and rc read this file.
#pragma once

// Strings
#define IDS_APP_TITLE 103       // "Lumivane": window caption and notification-icon tip

// Dialogs
#define IDD_ABOUTBOX 103

// Icon groups
#define IDI_MAIN 107            // program icon
#define IDI_SMALL 108           // small class icon

// Menu, accelerator table and the window class name string share one id
#define IDC_MAIN 109

// Custom "PNG" resources
#define IDB_ABOUT_PNG 129

// Commands from menus, accelerators and the notification-icon menu
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_SHOW_WINDOW 106
#define IDM_PAUSE_WATCHING 110    // "監視を一時停止(&P)", the icon menu's "Pause watching"
#define IDM_START_AT_SIGN_IN 111  // "サインイン時に起動(&S)"
#define IDM_DELETE 40001        // list context menu "削除"

// Controls of the main window
#define IDC_SELECT_FOLDER 2001
#define IDC_FOLDER_LIST 2002

// Controls of the About box
#define IDC_ABOUT_IMAGE 1001
#define IDC_ABOUT_VERSION 1002  // "Lumivane バージョン 1.0"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
