// The end of the download: start the installer and move the old installation aside.
#pragma once
#include <windows.h>

// WM_DOWNLOAD_DONE: FALSE after the window has been ended, TRUE when a final message is shown.
BOOL HandleDownloadDone(HWND window, WPARAM wParam);
// Renames the folder of the previous installation, found through its uninstall entry.
void RetireOldInstallation();
// Starts InstallerPath, quoted, while InstallerFile holds it; releases the file either way.
// A build with a publisher check starts it only when the check passes, and deletes it otherwise.
bool StartInstaller();

extern const char kUninstallKeyPrefix[];
