// File helpers of loaderkit: whole reads, reads from a file's end, and writes that leave nothing
// behind on failure. The path "-" stands for standard input or standard output, so a web
// server's download handler can pipe a program through the kit.
#pragma once
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// What each kind of input may hold at most; larger inputs are refused, not read.
constexpr std::size_t kMostProgramBytes = std::size_t{64} << 20;  // a program to stamp
constexpr std::size_t kMostImageBytes = std::size_t{16} << 20;    // a branding image
constexpr std::size_t kMostTextBytes = std::size_t{1} << 20;      // a notice text or a reply
constexpr std::size_t kMostInstallerBytes = 0x7FFFFFFF;           // what the size line can state

// Reads a whole regular file, or standard input for "-", of at most `most` bytes; anything else
// (a FIFO, a device, a folder, more bytes) is refused with a message, never waited on.
bool ReadInput(const std::string& path, std::size_t most, std::vector<unsigned char>& out, std::string& error);
// Reads a whole regular file of at most `most` bytes; anything else (a FIFO, a device, a
// folder, a larger file) is refused with a message, never waited on.
bool ReadRegularFile(const std::string& path, std::size_t most, std::vector<unsigned char>& out, std::string& error);
// Opens a regular file for reading: its descriptor, its status into *st; or -1 with a message.
// Non-blocking, so that a FIFO or a device is refused at once instead of being waited on.
int OpenRegularFile(const std::string& path, struct stat* st, std::string& error);
// What tells a file's content without reading it: a release renamed over the path is another
// file (device and inode); one written in place has another size or modification time.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;  // -1: nothing read yet
    long long mtimeNs = 0;
};
// Keeps out the whole of the regular file at path (at most `most` bytes): reads it when it is
// not the file that known names, and then names it in known. False with a message (out empty
// and known reset) when it cannot be read.
bool RefreshRegularFile(const std::string& path, std::size_t most, FileIdentity& known, std::vector<unsigned char>& out,
                        std::string& error);
// Writes through a temporary file of a unique name in the same folder, which reaches the disk
// before it is renamed into place: a failed write never leaves a partial output file, and two
// runs never write into each other's. "-" writes standard output.
bool WriteOutput(const std::string& path, const std::vector<unsigned char>& data, bool executable, std::string& error);
// Writes and flushes standard output; false (with error set) when any byte written to it so far
// did not get out. With size 0 it only checks what printf and the like wrote.
bool WriteStandardOutput(const void* data, std::size_t size, std::string& error);
