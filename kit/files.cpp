// loaderkit file helpers.
#include "files.h"

#include "options.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadInput(const std::string& path, std::vector<unsigned char>& out, std::string& error) {
    bool standardInput = path == "-";
    FILE* f = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    std::string name = standardInput ? "standard input" : path;
    if (f == nullptr) {
        error = "cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    out.clear();
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    bool failed = std::ferror(f) != 0;
    if (!standardInput) std::fclose(f);
    if (failed) error = "cannot read " + name;
    return !failed;
}

bool ReadRegularFile(const std::string& path, std::size_t most, std::vector<unsigned char>& out, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > most) {
        error = path + (S_ISREG(st.st_mode) ? " is larger than " + std::to_string(most) + " bytes"
                                            : std::string(" is not a regular file"));
        close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got != out.size()) {
        error = "cannot read " + path + ": it changed while it was read";
        return false;
    }
    return true;
}

bool WriteStandardOutput(const void* data, std::size_t size, std::string& error) {
    bool ok = size == 0 || std::fwrite(data, 1, size, stdout) == size;
    ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && ok;
    if (!ok) error = std::string("cannot write standard output: ") + std::strerror(errno);
    return ok;
}

int PrintHelp(const char* command, const char* text) {
    std::string error;
    return WriteStandardOutput(text, std::strlen(text), error) ? 0 : KitError(command, error);
}

bool WriteOutput(const std::string& path, const std::vector<unsigned char>& data, bool executable,
                 std::string& error) {
    if (path == "-") return WriteStandardOutput(data.data(), data.size(), error);
    std::string temp = path + ".loaderkit-tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok && executable) chmod(temp.c_str(), 0755);
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

FileSource::~FileSource() {
    if (file_ != nullptr) std::fclose(file_);
}

bool FileSource::Open(const std::string& path, std::string& error) {
    // Non-blocking, so that opening a FIFO or a device cannot hang before it is refused.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + " is not a regular file";
        close(fd);
        return false;
    }
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
