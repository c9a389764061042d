// System-folder loading. Where SetDefaultDllDirectories is missing (Windows 7 and Vista without
// KB2533623) the current folder leaves the search and every library goes by its full path, with
// its own dependencies searched from its folder rather than the program's.
#include "base/system_library.h"

#include <cstring>

namespace {
constexpr int kMostFunctions = 8;
// Once the process search is narrowed, LOAD_LIBRARY_SEARCH_SYSTEM32; until then (and in test
// programs that never narrow it) the full path with the altered search order. Zero-initialised,
// so it costs the program no data section of its own.
bool SearchNarrowed;
}  // namespace

void* KernelFunction(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), name));
}

// SetDllDirectoryW too is looked up, not imported: Windows 2000 and XP before SP1 lack it, and
// would refuse to start a program that imports it.
void NarrowLibrarySearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(const wchar_t*);
    SetDefaultDllDirectoriesFn narrow =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(KernelFunction("SetDefaultDllDirectories"));
    if (narrow != nullptr && narrow(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SearchNarrowed = true;
        return;
    }
    SetDllDirectoryFn leaveCurrentFolder = reinterpret_cast<SetDllDirectoryFn>(KernelFunction("SetDllDirectoryW"));
    if (leaveCurrentFolder != nullptr) leaveCurrentFolder(L"");
}

bool LoadSystemFunctions(const char* names, void* functions) {
    // The system folder, a separator and the library's ASCII name.
    wchar_t path[MAX_PATH + 1];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    path[n++] = L'\\';
    const char* name = names;
    for (; *name != 0; ++name) {
        if (n == MAX_PATH) return false;
        path[n++] = static_cast<unsigned char>(*name);
    }
    path[n] = 0;
    HMODULE module =
        LoadLibraryExW(path, nullptr, SearchNarrowed ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return false;
    FARPROC found[kMostFunctions];
    int count = 0;
    for (++name; *name != 0; name += std::strlen(name) + 1) {
        if (count == kMostFunctions) return false;
        found[count] = GetProcAddress(module, name);
        if (found[count] == nullptr) return false;
        ++count;
    }
    std::memcpy(functions, found, count * sizeof(FARPROC));
    return true;
}
