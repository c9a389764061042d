// Package selection: the first library that is missing or too old decides "_sys_".
#include "net/package_selection.h"

#include <windows.h>

#include "base/loader_state.h"
#include "base/system_library.h"
#include "base/text.h"
#include "net/package_names.h"

#include <cstdlib>

namespace {
struct VersionCalls {
    decltype(&::GetFileVersionInfoSizeA) GetFileVersionInfoSizeA;
    decltype(&::GetFileVersionInfoA) GetFileVersionInfoA;
    decltype(&::VerQueryValueA) VerQueryValueA;
};
}  // namespace

// Without version.dll no version can be read, so every library counts as missing.
int GetFileVersionPair(const char* path, int* major, int* minor) {
    VersionCalls version;
    if (!LoadSystemFunctions("version.dll\0GetFileVersionInfoSizeA\0GetFileVersionInfoA\0VerQueryValueA\0",
                             &version))
        return 0;
    DWORD ignored = 0;
    DWORD size = version.GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return 0;
    void* block = std::malloc(size);
    if (block == nullptr) return 0;
    int ok = 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (version.GetFileVersionInfoA(path, 0, size, block) &&
        version.VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &infoLength) && info != nullptr &&
        infoLength >= sizeof(VS_FIXEDFILEINFO)) {
        *major = static_cast<int>(HIWORD(info->dwFileVersionMS));
        *minor = static_cast<int>(LOWORD(info->dwFileVersionMS));
        ok = 1;
    }
    // Released on every path, not only after a successful read.
    std::free(block);
    return ok;
}

namespace {
bool SystemLibrariesPass() {
    char folder[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    // A system directory that cannot be named counts as every library missing.
    if (n == 0 || n >= MAX_PATH) return false;
    return AppendText(folder, sizeof folder, "\\") && RequiredLibrariesPass(folder, GetFileVersionPair);
}
}  // namespace

int SelectPackage(char* noticeUrl, char* installerName) {
    AppendPackageNames(PackageVariant(SystemLibrariesPass()), LanguageCode, noticeUrl, kWorkBufferSize,
                       installerName, kUrlBufferSize);
    return 1;
}
