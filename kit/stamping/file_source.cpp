// The stamp's reader over a regular file.
#include "stamping/file_source.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "util/files.h"

FileSource::~FileSource() {
    if (file_ != nullptr) std::fclose(file_);
}

bool FileSource::Open(const std::string& path, std::string& error) {
    struct stat st{};
    int fd = OpenRegularFile(path, &st, error);
    if (fd < 0) return false;
    file_ = fdopen(fd, "rb");
    if (file_ == nullptr) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    size_ = static_cast<std::int64_t>(st.st_size);
    return true;
}

bool FileSource::SeekFromEnd(std::int64_t distance, bool allowStart) {
    if (distance < 0 || distance > size_ || (distance == size_ && !allowStart)) return false;
    return fseeko(file_, static_cast<off_t>(size_ - distance), SEEK_SET) == 0;
}

std::size_t FileSource::Read(void* buffer, std::size_t n) { return std::fread(buffer, 1, n, file_); }
