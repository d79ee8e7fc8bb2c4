#pragma once

// Shared by the resource script and the code.
#define IDD_MAIN 102
#define IDI_APP 128
#define IDR_POPUP_MENU 153
#define IDR_TOOLBAR 155

#define IDC_TYPE_COMBO 1009
#define IDC_SAVE_PATH_EDIT 1010
#define IDC_SAVE_PATH 1011
#define IDC_EXTRACT 1012
#define IDC_SETTINGS_FRAME 1014
#define IDC_ABOUT 1020
#define IDC_CLOSE 1021
#define IDC_SIDE_FRAME 1023
