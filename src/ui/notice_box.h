// The download window's notice box and OK button as the subsystems use them: status texts from
// the string table, final messages, and the focus kept off the box.
#pragma once
#include <windows.h>

#include "res/resource_ids.h"

extern HINSTANCE AppInstance;
extern HWND NoticeBox;
constexpr int kUiStringBufferSize = 1024;
extern char UiStringBuffer[kUiStringBufferSize];
// Set by ShowFinalMessage: only then may the OK button end the window.
extern bool FinalMessageShown;

// String id of the string table in UiStringBuffer; a missing id yields the empty text.
char* LoadUiString(UINT id);
// Puts string id into the notice box.
void ShowStatus(UINT id);
// Puts string id into noticeBox and shows and focuses the OK button; the player's OK ends it.
void ShowFinalMessage(HWND hwnd, HWND noticeBox, UINT id);
// Tells the notice box it lost the focus to the hidden sink button, without moving the focus.
void ParkFocus(HWND hwnd);
