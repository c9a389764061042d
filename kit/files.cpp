// loaderkit file helpers.
#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool ReadFileBytes(const std::string& path, std::vector<unsigned char>& out, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    out.clear();
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) error = "cannot read " + path;
    return !failed;
}

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& data, bool executable,
                         std::string& error) {
    std::string temp = path + ".loaderkit-tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok && executable) chmod(temp.c_str(), 0755);
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}
