// Resource ids of the updater program, shared by the resource script and the Win32 view. The
// control ids are those of ui/DialogView.h (the view checks that they agree).
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_KV5UPDATOR_DIALOG 103
#define IDD_QUESTION 104
#define IDR_MAINFRAME 128

#define IDC_COMBO_MIDI_IN 1000
#define IDC_COMBO_MIDI_OUT 1001
#define IDC_PROGRESS_BAR 1002
#define IDC_EDIT_STATUS 1003
#define IDC_EDIT_PRODUCT 1003  // the About box
#define IDC_BUTTON_RESCAN 1004
#define IDC_PICTURE_STATIC 1005
#define IDC_EDIT_STEP 1006
#define IDC_BUTTON_VERSION_CHECK 1007
#define IDC_QUESTION_ICON 1010
#define IDC_QUESTION_TEXT 1011

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
