// The optional check that the installer is the operator's: compiled in only when the build
// names a publisher (LOADER_INSTALLER_PUBLISHER), so other builds neither grow nor import more.
#pragma once
#include <windows.h>

// True when the file at path, held open as file, carries a valid Authenticode signature that
// chains to a trusted root and whose signer's subject common name is publisher (plain text).
bool InstallerFromPublisher(HANDLE file, const wchar_t* path, const char* publisher);
