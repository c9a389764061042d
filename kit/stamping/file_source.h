// A program file as the stamp's reader takes it: a regular file read from its end, so that a
// stamp is shown without reading the whole program.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "stamp/stamp_layout.h"

// A regular file read from its end, for what only the tail holds; other kinds of file are refused.
class FileSource final : public StampSource {
public:
    FileSource() = default;
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    bool Open(const std::string& path, std::string& error);
    bool SeekFromEnd(std::int64_t distance, bool allowStart) override;
    std::size_t Read(void* buffer, std::size_t n) override;
    std::int64_t Size() override { return size_; }

private:
    FILE* file_ = nullptr;
    std::int64_t size_ = 0;
};
