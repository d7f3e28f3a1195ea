#pragma once
// Resource and control ids shared by the resource script and the code.

// Dialog templates; a page is known by its template id.
#define IDD_WELCOME 101
#define IDD_FINISHED 105
#define IDD_FOLDER 106
#define IDD_DOWNLOAD 107
#define IDD_FAILED 108
#define IDD_CONFIRM 120
#define IDD_MODSELECT 121
#define IDD_INSTALL 122
// The uninstall's progress window
#define IDD_UNINSTALL 130

// Pictures, stored gzip-compressed (wizard/compressed_art.h)
#define IDB_WATERMARK 132
#define IDB_HEADER 135
#define IDI_APP 136
// The watermark and header bitmap drawn for 120, 144 and 192 DPI
#define IDB_WATERMARK_120 140
#define IDB_WATERMARK_144 141
#define IDB_WATERMARK_192 142
#define IDB_HEADER_120 143
#define IDB_HEADER_144 144
#define IDB_HEADER_192 145

// Welcome page
#define IDC_WELCOME_HEADING 1007
#define IDC_WELCOME_TEXT 1010
// Finished and failed pages
#define IDC_FINISH_HEADING 1009
#define IDC_FAILED_OUTCOME 1021
#define IDC_OPEN_LOG 1022

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Folder page
#define IDC_FOLDER_EDIT 1003
#define IDC_FOLDER_BROWSE 1005
#define IDC_FOLDER_VERSION 1016
// Mod selection page
#define IDC_MOD_TREE 1013
#define IDC_MOD_DESCRIPTION 1020
// Confirmation page
#define IDC_CONFIRM_SUMMARY 1011
// Download page
#define IDC_DOWNLOAD_FILE_BAR 1009
#define IDC_DOWNLOAD_FILES_BAR 1008
#define IDC_DOWNLOAD_BYTES 1015
#define IDC_DOWNLOAD_FILES 1018
// Install page
#define IDC_INSTALL_FILE 1012
#define IDC_INSTALL_BAR 1019
#define IDC_INSTALL_DETAILS 1005
// Uninstall progress window
#define IDC_UNINSTALL_TEXT 1030
#define IDC_UNINSTALL_BAR 1031
