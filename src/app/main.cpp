// Entry point: refuse to run beside another copy or a running installer, take the "HAND "
// option, then run the language chooser and the download window once each.
#include <windows.h>

#include "app/command_line.h"
#include "app/download_window.h"
#include "app/language_chooser.h"
#include "base/loader_state.h"
#include "base/system_library.h"
#include "res/resource_ids.h"
#if LOADER_REPORT
#include "net/report.h"
#endif

namespace {
// Another copy in either dialog, an installer, or the casino client's own window.
HWND FindRunningFlowWindow() {
    HWND w = FindWindowA(nullptr, LANGUAGE_CHOOSER_CAPTION);
    if (w == nullptr) w = FindWindowA(nullptr, DOWNLOAD_WINDOW_CAPTION);
    if (w == nullptr) w = FindWindowA("InstallShield_Win", nullptr);
    if (w == nullptr) w = FindWindowA(nullptr, "*** " LOADER_PRODUCT_NAME " ***");
    return w;
}
}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int);

// The program's entry point. msvcrt.dll initialises itself when it loads; the start-up code a
// compiler adds for argument vectors, thread-local storage, pseudo-relocations and global
// constructors is left out, since the program uses none of them and it would double the file.
// Before anything can load a library, the search leaves the program's own folder.
extern "C" void LoaderEntry() {
    NarrowLibrarySearch();
    ResetLoaderState();
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, CommandLineTail(GetCommandLineA()), SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(code));
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
    if (HWND w = FindRunningFlowWindow()) {
        HWND popup = GetLastActivePopup(w);
        ShowWindow(w, SW_RESTORE);
        SetForegroundWindow(popup);
        return 0;
    }
    AppInstance = hInstance;
    if (lpCmdLine != nullptr && lpCmdLine[0] != 0) ParseHandOption(lpCmdLine, SiteOverrideUrl, kSiteOverrideSize);
    // Unicode dialogs, so that the notice box keeps the wide text it is given: Windows' edit
    // control made by an ANSI dialog stores its text in the system's code page. Every other text
    // is still set with the ANSI calls, and shows as it did.
    if (DialogBoxParamW(hInstance, L"LANGCHOOSER", nullptr, LanguageChooserProc, 0) != 0) {
        DialogBoxParamW(hInstance, L"MANAGER", nullptr, DownloadWindowProc, 0);
    }
#if LOADER_REPORT
    FinishReports();  // the windows are gone: nobody waits on it
#endif
    return 0;
}
