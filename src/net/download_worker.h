// The installer download on its own thread; reports only by posted messages.
#pragma once

// Thread function for _beginthread; the argument is the download window's handle. Writes
// "cinstall.exe" in the current directory, posts WM_DOWNLOAD_PROGRESS after every read and
// WM_DOWNLOAD_DONE (1 success, 0 failure) once at the end.
void __cdecl DownloadWorker(void* window);

// Starts DownloadWorker on a new thread with the default stack size; false when no thread starts.
bool StartDownloadWorker(void* window);
