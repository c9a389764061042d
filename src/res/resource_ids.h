// Every resource id, control id, string id and private message of the loader. Shared by the
// resource script (so plain #defines) and the C++ sources.
#pragma once

#define IDI_LOADER 105

// The two dialogs' captions, set by the resource script; a second copy finds a running one by
// them. The download window's is also its title string.
#define LANGUAGE_CHOOSER_CAPTION "Language:"
#define DOWNLOAD_WINDOW_CAPTION "Downloading..."

#define IDC_LANG_FRAME (-1)
#define IDC_LANG_FIRST 1015
#define IDC_LANG_CHT 1015
#define IDC_LANG_DEU 1016
#define IDC_LANG_ENG 1017
#define IDC_LANG_SPA 1018
#define IDC_LANG_FRE 1019
#define IDC_LANG_ITA 1020
#define IDC_LANG_JAP 1021
#define IDC_LANG_KOR 1022
#define IDC_LANG_DUT 1023
#define IDC_LANG_POR 1024
#define IDC_LANG_SWE 1025
#define IDC_LANG_GRE 1026
#define IDC_LANG_CHS 1027
#define IDC_LANG_HEB 1028
#define IDC_LANG_ARA 1029
#define IDC_LANG_DAN 1030

#define IDC_NOTICE 1001
#define IDC_METER 1003
#define IDC_FOCUS_SINK 1005

#define IDS_TITLE 1
#define IDS_INITIALIZING 2
#define IDS_CONNECT_FAILED 3
#define IDS_PARSING_ERROR 4
#define IDS_NETWORK_ERROR 5
#define IDS_PREPARING 6
#define IDS_START_FAILED 7
// A percentage as the language writes it (wsprintfW's %d for the number): the meter's name.
#define IDS_PERCENT_FORMAT 8

// The private messages are WM_USER + 1 to + 3, and WM_USER + 1 and + 2 are also the dialog
// messages DM_SETDEFID and DM_REPOSITION. So the download window ends only on an IDOK that comes
// while OK is shown with a final message (an Enter or a posted IDOK mid-download is ignored),
// and it runs the begin-download work once, for the message it posts itself at start; any
// later 1025 goes to the default dialog procedure as DM_SETDEFID. Likewise it takes 1026 as the
// download's end only once, while that end is due.
#define WM_BEGIN_DOWNLOAD 1025
#define WM_DOWNLOAD_DONE 1026
#define WM_DOWNLOAD_PROGRESS 1027

#define NOTICE_TIMER_ID 123
#define NOTICE_TIMER_PERIOD_MS 500
#define HANDOVER_TIMER_ID 124
#define HANDOVER_TIMER_PERIOD_MS 50
