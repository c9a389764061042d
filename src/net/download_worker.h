// The installer download on its own thread; reports only by posted messages.
#pragma once

#include <windows.h>

#include <cstddef>

// The one absolute path of "cinstall.exe" in the working folder: fixed before the download,
// written by the worker and started by the hand-over, so no search order picks another file.
constexpr std::size_t kInstallerPathSize = 1024;
extern wchar_t InstallerPath[kInstallerPathSize];
// After a good download, the installer held open for reading with only reading shared, so no
// other process can change, replace or delete it before it starts, and checked to be the file
// the worker wrote, byte for byte (by digest); otherwise null.
extern HANDLE InstallerFile;

// Fixes InstallerPath from the current directory; false when the path does not fit.
bool FixInstallerPath();
// Closes InstallerFile, if held.
void ReleaseInstallerFile();

// Thread function for _beginthreadex; the argument is the download window's handle. Writes
// InstallerPath, posts WM_DOWNLOAD_PROGRESS after every read (at most every 50 ms, and once at
// the end, in a LOADER_RESILIENT_DOWNLOAD build) and WM_DOWNLOAD_DONE (1 success,
// 0 failure) once at the end; on success InstallerFile holds the file.
unsigned __stdcall DownloadWorker(void* window);

// Loads what the worker calls (winmm) on the calling thread, then starts DownloadWorker on a new
// thread with the default stack size; false when no thread starts.
bool StartDownloadWorker(void* window);
// Once WM_DOWNLOAD_DONE has come: waits until the worker thread has ended and closes it;
// nothing when no worker was started.
void EndDownloadWorker();
