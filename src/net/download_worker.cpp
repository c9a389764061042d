// Download worker: the thread, the file it writes and then holds, and its end message. The
// transfer itself is one of two that the build chooses (net/transfer.h).
#include "net/download_worker.h"

#include <windows.h>
#include <process.h>

#include <cstring>

#include "net/sha256.h"
#include "net/transfer.h"
#if LOADER_REPORT
#include "net/report.h"
#endif
#include "res/resource_ids.h"

namespace {
constexpr int kReopenAttempts = 30;
constexpr DWORD kReopenPauseMs = 100;

// The running or finished worker thread, until EndDownloadWorker has seen it end.
HANDLE WorkerThread;

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow;
}

// A digest of the whole file as this handle reads it, or false. The program's own SHA-256, not
// CryptoAPI's: Windows 2000 and XP before SP3 have none, and every download would fail there.
bool Fingerprint(HANDLE file, unsigned char (&digest)[kSha256Size]) {
    // Only the worker's thread reads through it, once per handle.
    static BYTE buffer[16 * 1024];
    static Sha256 hash;
    Sha256Begin(hash);
    bool ok = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
    DWORD count = 0;
    while (ok && (ok = ReadFile(file, buffer, sizeof buffer, &count, nullptr) != FALSE) && count > 0)
        Sha256Add(hash, buffer, count);
    Sha256End(hash, digest);
    return ok && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0;
}

// The writing handle must go before the installer can start (a program held open for writing
// cannot run), and no open can deny writing while another handle may still write: so between
// the close and the read-only reopen there is a moment in which another process of the user
// may open the file and change it. The reopened file must therefore be the one the worker
// wrote: the same file, the same size, and the same bytes, compared by digest, read through
// the writing handle (which shares no writing) and again through the held one (which shares
// none either).
HANDLE HoldWrittenFile(HANDLE writer) {
    BY_HANDLE_FILE_INFORMATION written;
    unsigned char writtenDigest[kSha256Size];
    bool known = GetFileInformationByHandle(writer, &written) && Fingerprint(writer, writtenDigest);
    CloseHandle(writer);
    if (!known) return INVALID_HANDLE_VALUE;
    // A virus scanner may open the new file the moment the writer lets go, sharing nothing;
    // the download is good, so the reopen waits for it, up to 3 s.
    HANDLE reader;
    for (int attempt = 0;; ++attempt) {
        reader = CreateFileW(InstallerPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (reader != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            attempt == kReopenAttempts)
            break;
        Sleep(kReopenPauseMs);
    }
    BY_HANDLE_FILE_INFORMATION held;
    unsigned char heldDigest[kSha256Size];
    if (reader != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(reader, &held) || !SameFile(written, held) ||
         !Fingerprint(reader, heldDigest) || std::memcmp(writtenDigest, heldDigest, kSha256Size) != 0)) {
        CloseHandle(reader);
        reader = INVALID_HANDLE_VALUE;
    }
    return reader;
}
}  // namespace

wchar_t InstallerPath[kInstallerPathSize];
HANDLE InstallerFile;

bool FixInstallerPath() {
    // ASCII, widened as it is appended: half the bytes of a wide literal in the program.
    static const char kName[] = "\\cinstall.exe";
    constexpr DWORD kNameLength = sizeof kName - 1;
    InstallerPath[0] = 0;
    DWORD n = GetCurrentDirectoryW(kInstallerPathSize, InstallerPath);
    if (n == 0 || n + kNameLength >= kInstallerPathSize) {
        InstallerPath[0] = 0;
        return false;
    }
    // A drive root already ends with its separator.
    const char* name = InstallerPath[n - 1] == L'\\' ? kName + 1 : kName;
    do InstallerPath[n++] = static_cast<unsigned char>(*name); while (*name++ != 0);
    return true;
}

void ReleaseInstallerFile() {
    if (InstallerFile != nullptr) CloseHandle(InstallerFile);
    InstallerFile = nullptr;
}

unsigned __stdcall DownloadWorker(void* window) {
    HWND hwnd = static_cast<HWND>(window);
    int ok = 0;
    if (InstallerPath[0] != 0) {
        // Only reading is shared while the download writes: nobody changes the file meanwhile.
        // The worker reads it too, for the digest that the held file must match.
        HANDLE file = CreateFileW(InstallerPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ok = TransferInstaller(hwnd, file);
#if LOADER_REPORT
            if (ok != 1) NoteError();  // read on the UI thread after the worker's end
#endif
            if (ok == 1) {
                HANDLE held = HoldWrittenFile(file);
                if (held == INVALID_HANDLE_VALUE) ok = 0;
                InstallerFile = held != INVALID_HANDLE_VALUE ? held : nullptr;
            } else {
                CloseHandle(file);
            }
        }
    }
    PostMessageA(hwnd, WM_DOWNLOAD_DONE, static_cast<WPARAM>(ok), 0);
    return 0;
}

bool StartDownloadWorker(void* window) {
    PrepareTransfer();
    WorkerThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DownloadWorker, window, 0, nullptr));
    return WorkerThread != nullptr;
}

// After its last message the worker only returns, which still runs every library's
// thread-detach code; the program must not end (and tear those libraries down) meanwhile.
void EndDownloadWorker() {
    if (WorkerThread == nullptr) return;
    WaitForSingleObject(WorkerThread, INFINITE);
    CloseHandle(WorkerThread);
    WorkerThread = nullptr;
}
