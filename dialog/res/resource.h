// Resource ids of Brenvik.exe: shared by Brenvik.rc, the dialogs and the tests' driver.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_BRENVIK_DIALOG 102
#define IDP_SOCKETS_INIT_FAILED 103
#define IDR_MAINFRAME 128

#define IDC_PROGRESS 1000
#define IDC_IMAGE_PATH 1001
#define IDC_BROWSE 1003
#define IDC_FLASH 1004
#define IDC_EXIT 1005
#define IDC_STATUS 1009
#define IDC_AUTO_UPGRADE 1010

// The system-menu entry that opens the About box.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
