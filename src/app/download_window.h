// The download window (MANAGER dialog): the top floor, above the subsystems it hands over to.
#pragma once
#include <windows.h>

#include "res/resource_ids.h"
#include "ui/notice_box.h"

// Where the window is in its one pass from start to end; every message handler asks it.
enum class WindowPhase {
    kInitializing,          // until the begin-download that the window posts itself is taken
    kDiscovering,           // discovery, the package's names and the notice page
    kDownloading,           // the worker runs, the notice rotates; its end is due
    kHandingOver,           // the installer is being started: no tick and no end acts meanwhile
    kWaitingForInstaller,   // started; each tick asks whether it is ready for input
    kFinalMessage,          // a final message is shown: only the OK button acts
    kEnded,                 // the installer took over and the window is ending
};
extern WindowPhase DownloadWindowPhase;

INT_PTR CALLBACK DownloadWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Flips WS_EX_LAYOUTRTL on h; a second call undoes the first.
void ToggleRtlLayout(HWND h);
