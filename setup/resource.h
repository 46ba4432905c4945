// Resource ids of setup.exe.
#pragma once

#define IDS_ABOUTBOX 101
#define IDD_SETUP_DIALOG 102
#define IDR_MAINFRAME 128

// The system-menu entry; its low four bits stay clear, as system-menu commands require.
#define IDM_ABOUTBOX 0x0010
