// The end of the download: start the installer and move the old installation aside.
#pragma once
#include <windows.h>

// After a good download: shows "Preparing to run installation...", starts the installer and
// begins the wait for it (HANDOVER_TIMER_ID, every 50 ms). False when it did not start.
bool BeginHandover(HWND window);
// A tick of that wait: true once the started installer is ready for input, or 30 s on (the
// timer is then killed and the process released); false while the wait goes on.
bool InstallerReady(HWND window);
// Renames the folder of the previous installation, found through its uninstall entry.
void RetireOldInstallation();
// Starts InstallerPath, quoted, while InstallerFile holds it, through the shell (with window as
// the consent's owner) where it needs elevation; releases the file either way. On success
// *process is the installer's, or null when the shell names none. A build with a publisher
// check starts it only when the check passes, and deletes it otherwise.
bool StartInstaller(HWND window, HANDLE* process);

// What the hand-over does after an attempt to start the installer ended with error (0: the
// process runs). A direct start refused for want of elevation goes through the shell, which
// asks for consent; anything else, a declined consent (ERROR_CANCELLED) included, has failed.
enum class StartStep { kWaitForInput, kStartThroughShell, kFail };
StartStep NextStartStep(DWORD error, bool throughShell);
