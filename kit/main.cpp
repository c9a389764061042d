// loaderkit: the operators' tool beside the loader. Writes and reads distribution stamps,
// scrambles and unscrambles configuration replies, and builds a static download site.
#include "commands.h"
#include "files.h"

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] =
    "usage: loaderkit COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  stamp       write a distribution stamp onto a copy of a program file, or show one\n"
    "  scramble    scramble a configuration reply as the configuration server sends it\n"
    "  unscramble  turn a scrambled reply back into text\n"
    "  site        build a static download site (configuration reply, notice texts, installers)\n"
    "\n"
    "Run 'loaderkit COMMAND --help' for a command's options.\n";
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) return PrintHelp("help", kUsage);
    const char* command = argv[1];
    if (std::strcmp(command, "stamp") == 0) return StampCommand(argc - 2, argv + 2);
    if (std::strcmp(command, "scramble") == 0) return ScrambleCommand(argc - 2, argv + 2, false);
    if (std::strcmp(command, "unscramble") == 0) return ScrambleCommand(argc - 2, argv + 2, true);
    if (std::strcmp(command, "site") == 0) return SiteCommand(argc - 2, argv + 2);
    std::fprintf(stderr, "loaderkit: unknown command '%s'\n%s", command, kUsage);
    return 2;
}
