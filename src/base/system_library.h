// System libraries that the import table does not name, loaded on first use from the system
// folder only. A browser saves the loader into a Downloads folder, where any site's files land
// too; Windows looks in a program's own folder first for a DLL that is not a KnownDLL.
#pragma once
#include <windows.h>

// Confines every later DLL search of the process, the system's own included, to the system
// folder. The entry point's first act.
void NarrowLibrarySearch();

// A kernel32 export that some supported Windows versions lack, or null.
void* KernelFunction(const char* name);

// `names` lists NUL-terminated texts, an empty one last: a library's file name (such as
// "wininet.dll"), then the exports wanted from it. Loads that library from the system folder
// and fills `functions`, a struct of exactly that many function pointers in the same order.
// False, with `functions` untouched, when the library or any export is missing.
bool LoadSystemFunctions(const char* names, void* functions);
