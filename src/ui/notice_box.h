// The download window's notice box as the subsystems use it: status texts from the string table,
// and the focus kept off the box.
#pragma once
#include <windows.h>

#include "res/resource_ids.h"

extern HINSTANCE AppInstance;
extern HWND NoticeBox;

// String id in the language the player chose (English when none was chosen, or where the
// chosen language lacks it), in a buffer shared by every call; a missing id yields the empty
// text.
const wchar_t* LoadUiString(UINT id);
// Puts string id into the notice box, as wide text whatever the system's code page.
void ShowStatus(UINT id);
// Tells the notice box it lost the focus to the hidden sink button, without moving the focus.
void ParkFocus(HWND hwnd);
