// SPDX-License-Identifier: GPL-3.0-or-later
// Resource ids of Varnel: dialog templates, controls, strings and the application icon.
//
// Labels that the program never addresses carry IDC_STATIC (-1); several controls share it, so
// those are not found by id.
#pragma once

// Ids the dialog framework gives a meaning of its own.
#define IDC_STATIC (-1)
#define IDOK 1
#define IDCANCEL 2

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_VARNEL_DIALOG 102

// String table.
#define IDS_ABOUTBOX 101     // "&About Varnel...", the About item of the window menu
#define IDS_CURVES 103       // "Brightness C&urves...", the curves item of the window menu
#define IDS_FIT_PREVIEW 104  // "&Fit Preview", the checkable preview item of the window menu

// The application icon (32x32 and 16x16, 16 colours).
#define IDR_MAINFRAME 128

// Window-menu commands that open the About box and the brightness curves, and that switch the
// preview between the frame's own size and the picture area.
#define IDM_ABOUTBOX 0x0010
#define IDM_CURVES 0x0020
#define IDM_FIT_PREVIEW 0x0030

// Controls of the main dialog.
#define IDC_PICTURE 1000             // preview picture (bitmap static)
#define IDC_INPUT_NAME 1001          // input file name
#define IDC_OUTPUT_NAME 1002         // output file name
#define IDC_BROWSE_INPUT 1003        // "Browse..." for the input
#define IDC_BROWSE_OUTPUT 1004       // "Browse..." for the output
#define IDC_PREV 1005                // "< Prev"
#define IDC_NEXT 1006                // "Next >"
#define IDC_FRAME_NUMBER 1007        // frame number readout and seek target
#define IDC_FRAME_TIME 1008          // frame time readout
#define IDC_LAST_ERROR 1009          // About box: the field beside "Last Error: "
#define IDC_FREEPLAY 1010            // "FreePlay"
#define IDC_IMAGE_MANIPULATION 1012  // "Image Manipulation On"
#define IDC_BEFORE 1013              // brightness before processing
#define IDC_SKIP100 1014             // "Skip 100"
#define IDC_BRIGHTNESS_SLIDER 1015
#define IDC_BRIGHTNESS_MAX 1016
#define IDC_MINPIXVAL_SLIDER 1017
#define IDC_BRIGHTNESS_MIN 1018
#define IDC_BRIGHTNESS_VALUE 1019
#define IDC_MINPIXVAL_MAX 1020
#define IDC_MINPIXVAL_MIN 1021
#define IDC_MINPIXVAL_VALUE 1022
#define IDC_DARKFACTOR_SLIDER 1023
#define IDC_DARKFACTOR_MAX 1024
#define IDC_DARKFACTOR_MIN 1025
#define IDC_DARKFACTOR_VALUE 1026
#define IDC_AFTER 1027           // brightness after processing
#define IDC_INNOCUOUS 1028       // "Innocuous", the default button
#define IDC_DARK 1029            // percentage of dark pixels
#define IDC_SHOW_WRITE 1030      // "Show Write"
#define IDC_SHOW_READ 1031       // "Show Read"
#define IDC_MARK_MIN_PIXEL 1032  // "Mark Min Pixel crossings"
#define IDC_FOLLOW_SCENE 1033    // "Follow the Scene" (deflicker)
#define IDC_STATUS 1034          // status line: the last failure, where play is, the end
