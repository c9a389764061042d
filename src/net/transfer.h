// The transfer of the installer's body into the worker's file. The build links one of two:
// paced_transfer.cpp (4096-byte reads a millisecond apart, no retry) or, with
// LOADER_RESILIENT_DOWNLOAD, resilient_transfer.cpp (reads at line speed, a cut or stalled
// transfer resumed within a bound). Both define the same two functions.
#pragma once
#include <windows.h>

// Loads what the transfer calls, on the thread that starts the worker, so that no library is
// ever loaded for the first time on the worker's own thread.
void PrepareTransfer();

// Appends InstallerFileName to InstallerUrl, fetches it into file (opened for writing, empty)
// and posts WM_DOWNLOAD_PROGRESS to window as it goes. 1 when the whole installer is in the
// file, 0 otherwise.
int TransferInstaller(HWND window, HANDLE file);
