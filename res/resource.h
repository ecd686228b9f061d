// Resource and control ids. The numbers are fixed: the settings file, the
// test driver and the tray's callbacks see them from outside.
#pragma once

// Dialog, icon, bitmaps, toolbar, menu.
#define IDD_RELAY_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_HELP 129
#define IDB_START 130
#define IDB_STOP 131
#define IDR_TOOLBAR 134
#define IDR_TRAY_MENU 138

// Strings.
#define IDS_SOCKET_ERROR 103
#define IDS_APP_TITLE 57344  // 0xE000

// Controls of dialog 102.
#define IDC_LOCAL_PORT 1000
#define IDC_TARGET_ADDR 1001
#define IDC_TARGET_PORT 1002
#define IDC_ENCODE_CLIENT 1003
#define IDC_ENCODE_SERVER 1004
#define IDC_CONNECTION_COUNT 1005
#define IDC_BYTES_UP 1006
#define IDC_BYTES_DOWN 1007
#define IDC_AUTO_START 1008
#define IDC_SPEED_UP 1009
#define IDC_MIN_HIDE_TO_TRAY 1010
#define IDC_SPEED_DOWN 1011
#define IDC_CONNECTION_LIMIT 1012

// Commands. Their string ids equal the command ids (toolbar tooltips).
#define ID_START 32771
#define ID_STOP 32772
#define ID_HELP_SUPPORT 32773
#define ID_EXIT 32775
#define ID_TOGGLE_WINDOW 32777

// Control bars (the framework's standard ids).
#define ID_TOOLBAR_BAR 59392    // 0xE800
#define ID_STATUS_BAR 59393     // 0xE801
#define ID_CONTROL_BAR_LAST 59647  // 0xE8FF

// Timers.
#define TIMER_SPEED 1
#define TIMER_HIDE_AT_START 2

// Tray icon.
#define WM_TRAY_NOTIFY 1410  // WM_USER + 386
#define TRAY_ICON_ID 138
