// Where the old installation's folder is, read from the uninstaller's command line.
#pragma once

// Cuts value (a quoted program path, maybe with arguments) in place at its last backslash and
// returns the folder path after the opening quote, or nullptr when there is no quote or no
// backslash after the folder path's first character.
char* CutUninstallFolder(char* value);
wchar_t* CutUninstallFolder(wchar_t* value);
