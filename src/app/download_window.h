// The download window (MANAGER dialog) and the small helpers that the notice text, the meter
// and the hand-over share with it.
#pragma once
#include <windows.h>

#include "res/resource_ids.h"

extern HINSTANCE AppInstance;
extern HWND NoticeBox;
constexpr int kUiStringBufferSize = 1024;
extern char UiStringBuffer[kUiStringBufferSize];

INT_PTR CALLBACK DownloadWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// String id of the string table in UiStringBuffer; a missing id yields the empty text.
char* LoadUiString(UINT id);
// Puts string id into the notice box.
void ShowStatus(UINT id);
// Puts string id into noticeBox and shows and focuses the OK button; the player's OK ends it.
void ShowFinalMessage(HWND hwnd, HWND noticeBox, UINT id);
// Tells the notice box it lost the focus to the hidden sink button, without moving the focus.
void ParkFocus(HWND hwnd);
// Flips WS_EX_LAYOUTRTL on h; a second call undoes the first.
void ToggleRtlLayout(HWND h);
