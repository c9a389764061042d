// DownloadWorker against the scripted site, writing "cinstall.exe" in a scratch folder.
#include "net/download_worker.h"

#include "base/loader_state.h"
#include "base/text.h"
#include "res/resource_ids.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {
struct WorkerRun {
    std::vector<PostedMessage> messages;
    std::string file;
    bool fileExists = false;
    std::int32_t received = 0;
    bool done = false;
    bool held = false, writable = false, deletable = false;
};

// ended, if given, is set once WM_DOWNLOAD_DONE has come, before the held file is let go.
WorkerRun RunWorker(const std::string& folder, const std::string& siteUrl, const std::string& name,
                    std::atomic<bool>* ended = nullptr) {
    WorkerRun run;
    SetCurrentDirectoryA(folder.c_str());
    EXPECT_TRUE(FixInstallerPath());
    CopyText(InstallerUrl, kUrlBufferSize, siteUrl.c_str());
    CopyText(InstallerFileName, kUrlBufferSize, name.c_str());
    ReceivedBytes = 0;
    MessageSink sink;
    StartDownloadWorker(sink.hwnd());
    run.done = sink.PumpUntil(WM_DOWNLOAD_DONE, 60000);
    if (ended != nullptr) ended->store(true);
    EndDownloadWorker();
    run.messages = sink.messages;
    run.received = ReceivedBytes.load();
    run.held = InstallerFile != nullptr;
    if (run.held) {
        // Held: nobody else may write or delete it, while reading stays possible.
        run.writable = CreateFileA((folder + "\\cinstall.exe").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE;
        run.deletable = DeleteFileA((folder + "\\cinstall.exe").c_str()) != FALSE;
    }
    run.file = ReadWholeFile(folder + "\\cinstall.exe", &run.fileExists);
    ReleaseInstallerFile();
    return run;
}

int CountProgress(const WorkerRun& run, WPARAM wParam) {
    int n = 0;
    for (const PostedMessage& m : run.messages) n += m.msg == WM_DOWNLOAD_PROGRESS && m.wParam == wParam;
    return n;
}

struct SuccessCase {
    const char* name;
    std::size_t size;
    int reads;  // progress messages: the reads, the final empty one included
};
}  // namespace

TEST(DownloadWorkerTest, WholeBodiesAreWrittenByteExactWithOneProgressPerRead) {
    const SuccessCase cases[] = {
        {"bytes/0", 0, 1},
        {"bytes/4096", 4096, -1},
        {"bytes/12288", 3 * 4096, -1},
        {"bytes/12388", 3 * 4096 + 100, -1},
    };
    for (const SuccessCase& c : cases) {
        std::string folder = MakeScratchFolder("worker-ok");
        WriteWholeFile(folder + "\\cinstall.exe", std::string(100000, 'O'));  // emptied first
        WorkerRun run = RunWorker(folder, SiteUrl("/"), c.name);
        ASSERT_TRUE(run.done) << c.name;
        ASSERT_FALSE(run.messages.empty());
        EXPECT_EQ(run.messages.back().msg, static_cast<UINT>(WM_DOWNLOAD_DONE)) << c.name;
        EXPECT_EQ(run.messages.back().wParam, 1u) << c.name;
        EXPECT_TRUE(run.fileExists);
        EXPECT_TRUE(run.held && !run.writable && !run.deletable) << c.name << ": the file is held read-only";
        EXPECT_TRUE(run.file == PatternBytes(c.size)) << c.name << ": file of " << run.file.size() << " bytes";
        EXPECT_EQ(run.received, static_cast<std::int32_t>(c.size)) << c.name;
        int progress = CountProgress(run, 1);
        EXPECT_EQ(CountProgress(run, 0), 0) << c.name;
        // At least one read per 4096 bytes and the final empty read.
        EXPECT_GE(progress, static_cast<int>((c.size + 4095) / 4096) + 1) << c.name;
        if (c.reads > 0) EXPECT_EQ(progress, c.reads) << c.name;
        EXPECT_EQ(static_cast<int>(run.messages.size()), progress + 1) << c.name;
        EXPECT_EQ(std::string(InstallerUrl), SiteUrl("/") + c.name) << "the installer name is appended to the site URL";
    }
}

TEST(DownloadWorkerTest, ErrorPagesCutBodiesAndUnopenableFilesFail) {
    struct FailCase {
        const char* what;
        const char* name;
        bool lockFile;
        bool expectProgress;
    };
    const FailCase cases[] = {
        {"404", "no-such-installer.exe", false, false},
        {"500", "error500", false, false},
        {"cut-off body", "cut", false, true},
        {"unreachable host", nullptr, false, false},
        {"file that cannot be opened", "bytes/4096", true, false},
    };
    for (const FailCase& c : cases) {
        std::string folder = MakeScratchFolder("worker-fail");
        WriteWholeFile(folder + "\\cinstall.exe", std::string(5000, 'O'));
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (c.lockFile) {
            lock = CreateFileA((folder + "\\cinstall.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        }
        std::string site = c.name ? SiteUrl("/") : std::string("http://127.0.0.1:9/");
        WorkerRun run = RunWorker(folder, site, c.name ? c.name : "x.exe");
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        ASSERT_TRUE(run.done) << c.what;
        EXPECT_EQ(run.messages.back().wParam, 0u) << c.what << " must be reported as a failure";
        EXPECT_FALSE(run.held) << c.what << ": nothing is held after a failure";
        int progressMessages = static_cast<int>(run.messages.size()) - 1;
        if (c.expectProgress) {
            EXPECT_GT(progressMessages, 0) << c.what;
        } else {
            EXPECT_EQ(progressMessages, 0) << c.what << ": a failure while opening posts no progress";
        }
        if (c.lockFile) continue;
        // The old file is emptied first; what arrived before a failure stays.
        EXPECT_TRUE(run.file == PatternBytes(50000).substr(0, run.file.size())) << c.what;
        if (!c.expectProgress) EXPECT_TRUE(run.file.empty()) << c.what;
    }
}

TEST(DownloadWorkerTest, SlowBodyArrivesWholeAndCountsMatch) {
    std::string folder = MakeScratchFolder("worker-slow");
    WorkerRun run = RunWorker(folder, SiteUrl("/"), "slow");
    ASSERT_TRUE(run.done);
    EXPECT_EQ(run.messages.back().wParam, 1u);
    EXPECT_TRUE(run.file == PatternBytes(20000));
    EXPECT_EQ(run.received, 20000);
}

namespace {
// Another process of the player's, in the moment between the worker's writing handle and its
// read-only one: it opens the file for writing as soon as it can, changes 2 bytes without
// changing the size, holds the file 1 s and lets go.
struct Intruder {
    std::atomic<bool> ended{false};
    bool gotIn = false;
    std::wstring path;
    static DWORD WINAPI Run(void* self) {
        Intruder& x = *static_cast<Intruder*>(self);
        while (!x.ended.load()) {
            HANDLE h = CreateFileW(x.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                Sleep(0);
                continue;
            }
            DWORD written = 0;
            if (!x.ended.load() && SetFilePointer(h, 100, nullptr, FILE_BEGIN) == 100 &&
                WriteFile(h, "\xEB\xFE", 2, &written, nullptr) && written == 2) {
                x.gotIn = true;
                Sleep(1000);
            }
            CloseHandle(h);
            break;
        }
        return 0;
    }
};
}  // namespace

TEST(DownloadWorkerTest, AFileChangedBetweenTheWriterAndTheHeldReaderIsNeverHeld) {
    constexpr int kRuns = 8;
    int gotIn = 0;
    for (int k = 0; k < kRuns; ++k) {
        std::string folder = MakeScratchFolder("worker-race");
        Intruder intruder;
        intruder.path = std::wstring(folder.begin(), folder.end()) + L"\\cinstall.exe";
        HANDLE thread = CreateThread(nullptr, 0, Intruder::Run, &intruder, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        WorkerRun run = RunWorker(folder, SiteUrl("/"), "bytes/12288", &intruder.ended);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        ASSERT_TRUE(run.done);
        gotIn += intruder.gotIn;
        if (intruder.gotIn) {
            EXPECT_EQ(run.messages.back().wParam, 0u) << "run " << k << ": a changed file is a failed download";
            EXPECT_FALSE(run.held) << "run " << k;
        } else {
            EXPECT_EQ(run.messages.back().wParam, 1u) << "run " << k;
            EXPECT_TRUE(run.held && run.file == PatternBytes(12288)) << "run " << k;
        }
    }
    std::printf("the intruder got in during %d of %d runs\n", gotIn, kRuns);
    EXPECT_GT(gotIn, 0) << "the race was never run";
}

