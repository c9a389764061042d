// Stamp reader: a first pass for DLID and SNID, then a second open of the file for the branding
// image, both over plain descriptors (the C stream functions would only add to the program's
// size). The byte layout and its checks are portable (stamp_layout); this file adds the file
// access, the registry and the image file.
#include "stamp/stamp_reader.h"

#include <windows.h>
#include <fcntl.h>
#include <intrin.h>
#include <io.h>

#include "base/loader_state.h"
#include "base/text.h"
#include "stamp/reg_key.h"
#include "stamp/registry_records.h"
#include "stamp/stamp_layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr DWORD kModuleNameSize = 1024;
// Fresh names tried for the image before it is skipped: each taken one is somebody's file.
constexpr int kFreshNameAttempts = 16;

class DescriptorSource final : public StampSource {
public:
    explicit DescriptorSource(int fd) : fd_(fd) {}
    bool SeekFromEnd(std::int64_t distance, bool allowStart) override {
        long long at = _lseeki64(fd_, -distance, SEEK_END);
        return allowStart ? at >= 0 : at > 0;
    }
    std::size_t Read(void* buffer, std::size_t n) override {
        int got = _read(fd_, buffer, static_cast<unsigned>(n));
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    std::int64_t Size() override { return _filelengthi64(fd_); }

private:
    int fd_;
};

void CopySpan(char* dst, std::size_t cap, const unsigned char* area, const Span& span) {
    std::size_t n = span.length < cap - 1 ? span.length : cap - 1;
    std::memcpy(dst, area + span.offset, n);
    std::memset(dst + n, 0, cap - n);
}

void ApplyNames(const unsigned char* area) {
    NamesSplit split = SplitNamesArea(area);
    char text[kCasinoTextSize];
    CopySpan(text, sizeof text, area, split.name);
    StoreMiscValue(text, kSurnameValue);
    CopyText(CasinoName, kCasinoTextSize, text);
    CasinoNameCodePage = stamp::kNamesCodePage;
    if (!split.address.present) return;
    CopySpan(text, sizeof text, area, split.address);
    StoreMiscValue(text, kUrlValue);
    CopyText(CasinoAddress, kCasinoTextSize, text);
    CasinoAddressCodePage = stamp::kNamesCodePage;
    if (!split.company.present) return;
    CopySpan(CasinoCompany, kCasinoTextSize, area, split.company);
    StoreMiscValue(CasinoCompany, kCompanyValue);
}

// "\temp\<tag>.img" under the Windows directory, only for a tag that stays a plain file name
// and a path that fits BMPPath.
bool BuildImagePath(const char* tag, char* path, std::size_t cap) {
    if (!IsPlainFileNameTag(tag)) return false;
    char windows[256];
    std::memset(windows, 0, sizeof windows);
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows) return false;
    path[0] = 0;
    return AppendText(path, cap, windows) && AppendText(path, cap, "\\temp\\") && AppendText(path, cap, tag) &&
           AppendText(path, cap, ".img");
}

// The image counts as written only when every byte reached the file. Anyone may create files in
// the temp folder, so nothing already there under any name is ever opened or counted on: the
// image goes into a file made new here under a name nobody could have chosen beforehand (a
// leftover of a crash or a planted file only costs another try), which then replaces whatever
// entry has the image's name. A rename replaces a planted link itself, where deleting it first
// would, under Wine, delete the file that it points to. When anything fails the image is
// skipped and the tag still stored.
bool WriteBrandingImage(StampSource& source, const BrandingHeader& header, const char* path) {
    if (static_cast<std::int64_t>(header.imageLength) + stamp::kCcniTrailerSize > source.Size()) return false;
    DWORD length = static_cast<DWORD>(header.imageLength);
    // The image's name, a dot and up to ten digits.
    char fresh[sizeof(BrandingRecord::BMPPath) + 12];
    unsigned char* image = static_cast<unsigned char*>(std::malloc(length));
    if (image == nullptr) return false;
    bool written = false;
    if (ReadBrandingImage(source, header.imageLength, image)) {
        HANDLE out = INVALID_HANDLE_VALUE;
        // The processor's cycle count and this run's stack address: no other program can
        // know them beforehand.
        std::uint32_t unique = static_cast<std::uint32_t>(__rdtsc() ^ reinterpret_cast<std::uintptr_t>(&out));
        for (int attempt = 0; attempt < kFreshNameAttempts && out == INVALID_HANDLE_VALUE; ++attempt) {
            char digits[12];
            unique = unique * 1103515245u + 12345u;
            CopyText(fresh, sizeof fresh, path);
            if (!FormatDecimal(unique, digits, sizeof digits) || !AppendText(fresh, sizeof fresh, ".") ||
                !AppendText(fresh, sizeof fresh, digits))
                break;
            out = CreateFileA(fresh, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (out != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            written = WriteFile(out, image, length, &done, nullptr) && done == length;
            written = CloseHandle(out) && written;
            written = written && MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING);
            if (!written) DeleteFileA(fresh);
        }
    }
    std::free(image);
    return written;
}

void FillBranding(BrandingRecord* b, const char* path, const BrandingHeader& h) {
    CopyText(b->BMPPath, sizeof b->BMPPath, path);
    FormatDecimal(h.red, b->TColorR, sizeof b->TColorR);
    FormatDecimal(h.green, b->TColorG, sizeof b->TColorG);
    FormatDecimal(h.blue, b->TColorB, sizeof b->TColorB);
    FormatDecimal(h.startX, b->StartX, sizeof b->StartX);
    FormatDecimal(h.startY, b->StartY, sizeof b->StartY);
}
}  // namespace

int ReadDistributionStampFrom(const wchar_t* fileName, char* tag, BrandingRecord* branding) {
    tag[0] = 0;
    if (fileName[0] == 0) return 0;
    int fd = _wopen(fileName, _O_RDONLY | _O_BINARY);
    if (fd == -1) return 0;
    DescriptorPass pass;
    {
        DescriptorSource source(fd);
        ReadDescriptorPass(source, pass);
    }
    if (pass.dlidFound) CopyText(tag, kStampTagBufferSize, pass.tag);
#if LOADER_REPORT
    if (branding == nullptr) {  // the tag alone, storing nothing
        _close(fd);
        return pass.dlidFound ? 1 : 0;
    }
#endif
    if (pass.snidFound) ApplyNames(pass.namesArea);
    _close(fd);
    if (!pass.dlidFound) return 0;

    // A second open that fails only loses the branding; the tag stands.
    fd = _wopen(fileName, _O_RDONLY | _O_BINARY);
    if (fd == -1) return 1;
    DescriptorSource source(fd);
    BrandingHeader header;
    ReadBrandingHeader(source, header);
    char path[sizeof branding->BMPPath];
    bool written = header.found && BuildImagePath(tag, path, sizeof path) && WriteBrandingImage(source, header, path);
    _close(fd);
    if (written) FillBranding(branding, path, header);
    return 1;
}

int ReadDistributionStamp(char* tag, BrandingRecord* branding) {
    tag[0] = 0;
    // The wide name, so that a folder the ANSI code page cannot spell still finds the file.
    wchar_t fileName[kModuleNameSize];
    std::memset(fileName, 0, sizeof fileName);
    DWORD n = GetModuleFileNameW(nullptr, fileName, kModuleNameSize);
    if (n == 0 || n >= kModuleNameSize) return 0;  // a cut name would be some other file's
    if (lstrcmpiW(fileName, L"ntvdm") == 0) {
        const wchar_t* commandLine = GetCommandLineW();
        if (commandLine == nullptr || commandLine[0] == 0) return 0;
        // A longer command line would be cut into the name of some other file: not read at all.
        if (lstrlenW(commandLine) >= MAX_PATH) return 0;
        lstrcpynW(fileName, commandLine, MAX_PATH);
    }
    return ReadDistributionStampFrom(fileName, tag, branding);
}

