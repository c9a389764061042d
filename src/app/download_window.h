// The download window (MANAGER dialog): the top floor, above the subsystems it hands over to.
#pragma once
#include <windows.h>

#include "res/resource_ids.h"
#include "ui/notice_box.h"

INT_PTR CALLBACK DownloadWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Flips WS_EX_LAYOUTRTL on h; a second call undoes the first.
void ToggleRtlLayout(HWND h);
