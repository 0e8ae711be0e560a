// Resource ids of the Windows build's dialogs. The control ids are those the
// controllers address (app/dialog_view.h, multi/tessell_multi_dlg.h,
// multi/identify_hub.h); the tests check each template against them.

#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDI_TESSELL 128
#define IDD_TESSELL 102
#define IDD_PORT_SETTING 104
#define IDD_MULTI_BURN 105

// Single-camera window.
#define IDC_LOG 1000
#define IDC_IMAGE_PATH 1001
#define IDC_DOWNLOAD 1003
#define IDC_BROWSE 1004
#define IDC_CAMERA_LIST 1005
#define IDC_STATUS_BOX 1006
#define IDC_FLASH_TYPE_NAME 1007
#define IDC_PROGRESS 1010
#define IDC_FLASH_TYPE_LIST 1011
#define IDC_DUMP 1012
#define IDC_ERASE 1013
#define IDC_CAMERA_BCD 1014
#define IDC_IMAGE_BCD 1015
#define IDC_CAMERA_PID 1016
#define IDC_CAMERA_VID 1017
#define IDC_FAST_DOWNLOAD 1019
#define IDC_DEVICE_SERIAL 1020
#define IDC_UNUSED_1021 1021
#define IDC_DEVICE_SERIAL_LABEL 1022
#define IDC_UNUSED_1023 1023
#define IDC_UNUSED_1024 1024
#define IDC_UNUSED_1025 1025
#define IDC_REWORK 1026
#define IDC_PREVIEW 1027
#define IDC_BUTTON1 1028
#define IDC_PREVIEW_PICTURE 1029
#define IDC_PREVIEW_LABEL 1030
#define IDC_TEST 1031
#define IDC_OUTPUT_LOG_FILE 1032
#define IDC_LED_ON 1033
#define IDC_LED_OFF 1034

// Port Setting (1007 is its message line).
#define IDC_PORT_MESSAGE 1007
#define IDC_PORT_LIST 1041
#define IDC_PORT_CLEAR 1042

// Multi-burn window (1000 is its log).
#define IDC_CAMERA_COUNT 1043
#define IDC_SETTING 1044
#define IDC_BURN 1045
#define IDC_SLOT_LIST 1046
#define IDC_INIT_MULTIPLE 1047
#define IDC_UNINIT_MULTIPLE 1048
#define IDC_RESCAN 1049
