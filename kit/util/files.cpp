// loaderkit file helpers.
#include "util/files.h"


#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadInput(const std::string& path, std::size_t most, std::vector<unsigned char>& out, std::string& error) {
    if (path != "-") return ReadRegularFile(path, most, out, error);
    out.clear();
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        if (out.size() + n > most) {
            error = "standard input holds more than " + std::to_string(most) + " bytes";
            return false;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    if (std::ferror(stdin) != 0) {
        error = "cannot read standard input";
        return false;
    }
    return true;
}

int OpenRegularFile(const std::string& path, struct stat* st, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || fstat(fd, st) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        error = path + " is not a regular file";
        close(fd);
        return -1;
    }
    return fd;
}

namespace {
// Reads the whole of an opened regular file, then closes it.
bool ReadOpenedFile(int fd, const struct stat& st, const std::string& path, std::size_t most,
                    std::vector<unsigned char>& out, std::string& error) {
    if (static_cast<unsigned long long>(st.st_size) > most) {
        error = path + " is larger than " + std::to_string(most) + " bytes";
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
}  // namespace

bool ReadRegularFile(const std::string& path, std::size_t most, std::vector<unsigned char>& out, std::string& error) {
    struct stat st{};
    int fd = OpenRegularFile(path, &st, error);
    return fd >= 0 && ReadOpenedFile(fd, st, path, most, out, error);
}

bool RefreshRegularFile(const std::string& path, std::size_t most, FileIdentity& known, std::vector<unsigned char>& out,
                        std::string& error) {
    struct stat st{};
    int fd = OpenRegularFile(path, &st, error);
    if (fd < 0) return false;
    FileIdentity now{st.st_dev, st.st_ino, st.st_size,
                     static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
    if (known.size >= 0 && now.dev == known.dev && now.ino == known.ino && now.size == known.size &&
        now.mtimeNs == known.mtimeNs) {
        close(fd);
        return true;
    }
    // Read from the file just opened: a release renamed over the path meanwhile is the next one.
    known = FileIdentity{};
    if (!ReadOpenedFile(fd, st, path, most, out, error)) {
        out.clear();
        return false;
    }
    known = now;
    return true;
}

bool WriteStandardOutput(const void* data, std::size_t size, std::string& error) {
    bool ok = size == 0 || std::fwrite(data, 1, size, stdout) == size;
    ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && ok;
    if (!ok) error = std::string("cannot write standard output: ") + std::strerror(errno);
    return ok;
}

bool WriteOutput(const std::string& path, const std::vector<unsigned char>& data, bool executable,
                 std::string& error) {
    if (path == "-") return WriteStandardOutput(data.data(), data.size(), error);
    // The rename into place takes whatever the name is: a device, a FIFO, a socket or a link would
    // be lost for a regular file. Only a regular file, or nothing, is ever replaced.
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + " is not a regular file, and is left as it is";
        return false;
    }
    std::string temp = path + ".loaderkit-XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; the output gets the modes a plain create would give it.
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, (executable ? 0777 : 0666) & ~mask) == 0;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}
