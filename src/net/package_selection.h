// Package variant from the system libraries' versions, and the two file names.
#pragma once

// Sets major and minor from the file's fixed version; 1 on success, 0 leaving them unchanged.
int GetFileVersionPair(const char* path, int* major, int* minor);

// Appends the notice-text name to noticeUrl (WorkBuffer) and the installer name to
// installerName (InstallerFileName). Always 1.
int SelectPackage(char* noticeUrl, char* installerName);

