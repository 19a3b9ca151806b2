/* Dialog and control ids, shared by the templates and the code. Plain
   #defines: the resource compiler reads this file too. */
#pragma once

/* Templates: page slot i is 129 + i in the large layout; the small layout
   adds LAYOUT_SMALL_OFFSET to every page and frame id. */
#define IDD_LANGUAGE        129
#define IDD_WELCOME         130
#define IDD_LICENCE         131
#define IDD_INFORMATION     132
#define IDD_DESTINATION     135
#define IDD_SHORTCUTS       137
#define IDD_READY           138
#define IDD_INSTALLING      139
#define IDD_FINISH          140
#define IDD_UNINSTALLER     141
#define IDD_FRAME           142
#define IDD_SHARED_FILE     200
#define LAYOUT_SMALL_OFFSET 20

#define IDI_MAIN            100

/* One id scheme across all templates. */
#define IDC_TITLE           1001  /* page title; the frame's product label */
#define IDC_SUBTITLE        1002  /* page subtitle; the frame's left line */
#define IDC_TEXT3           1003  /* page text 3; the frame's right line */
#define IDC_TEXT4           1004
#define IDC_TEXT5           1005
#define IDC_TEXT6           1006
#define IDC_TEXT7           1007
#define IDC_TEXT8           1008
#define IDC_TEXT9           1009
#define IDC_BACK            1010
#define IDC_NEXT            1011
#define IDC_CANCEL          1012
#define IDC_BROWSE          1013
#define IDC_RICHEDIT        1017
#define IDC_FOLDER_EDIT     1018
#define IDC_FOLDER_LIST     1019
#define IDC_COMBO           1021
#define IDC_PROGRESS        1023
#define IDC_TREE            1026
#define IDC_HEADER_LINE     1027
#ifndef IDC_STATIC
#define IDC_STATIC          (-1)  /* controls the code never addresses */
#endif

/* Frame controls by role. */
#define IDC_PRODUCT_LABEL   IDC_TITLE
#define IDC_BAND_LINE_LEFT  IDC_SUBTITLE
#define IDC_BAND_LINE_RIGHT IDC_TEXT3

/* Destination page. */
#define IDC_DEST_GROUP      IDC_TEXT3
#define IDC_SPACE_REQUIRED_LABEL IDC_TEXT5
#define IDC_SPACE_FREE_LABEL IDC_TEXT6
#define IDC_SPACE_REQUIRED  IDC_TEXT7
#define IDC_SPACE_FREE      IDC_TEXT8

/* Start-menu page check boxes. */
#define IDC_CREATE_GROUP    IDC_TEXT3
#define IDC_CREATE_DESKTOP  IDC_TEXT4
#define IDC_CREATE_QUICK_LAUNCH IDC_TEXT5

/* Installing page. */
#define IDC_STEP_TEXT       IDC_TEXT4
#define IDC_FILE_TEXT       IDC_TEXT5

/* Finish page. */
#define IDC_CLOSING_TEXT    IDC_TEXT3
#define IDC_LAUNCH_BOX      IDC_TEXT4
#define IDC_README_BOX      IDC_TEXT5
#define IDC_RESTART_BOX     IDC_TEXT6
#define IDC_ERROR_TEXT      IDC_TEXT7
#define IDC_RESTART_TEXT    IDC_TEXT8

/* Uninstaller dialog. */
#define IDC_UNINSTALL_FILE  IDC_TEXT4
#define IDC_UNINSTALL_LABEL IDC_TEXT5
#define IDC_UNINSTALL_LINE  IDC_TEXT6
#define IDC_LEFTOVER_TEXT   IDC_TEXT7
#define IDC_SELECT_ALL      IDC_BACK
#define IDC_DELETE          IDC_NEXT

/* Shared-file dialog. */
#define IDC_YES_TO_ALL      IDC_NEXT
#define IDC_SHARED_MESSAGE  IDC_TITLE
#define IDC_SHARED_ICON     IDC_SUBTITLE
