// loaderkit's table of commands: what runs each, and the line the usage gives it.
#include "command_line/commands.h"

#include "command_line/options.h"
#include "util/files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
struct Command {
    const char* name;
    const char* summary;  // what the usage says of it; a second line is indented under the first
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"stamp", "write a distribution stamp onto a copy of a program file, or show one", StampCommand},
    {"scramble", "scramble a configuration reply as the configuration server sends it", ScrambleCommand},
    {"unscramble", "turn a scrambled reply back into text", UnscrambleCommand},
    {"site", "build a static download site (configuration reply, notice texts, installers)", SiteCommand},
    {"download",
     "the per-download stamping endpoint: a resident FastCGI responder (--fastcgi)\n"
     "or a CGI program, behind a web server",
     DownloadCommand},
    {"funnel", "what became of the copies served: the endpoint's store, per tag", FunnelCommand},
};

std::string Usage() {
    std::string usage = "usage: loaderkit COMMAND [OPTIONS]\n\ncommands:\n";
    for (const Command& c : kCommands) {
        char name[16];
        std::snprintf(name, sizeof name, "  %-12s", c.name);
        usage += name;
        std::string summary = c.summary;
        for (std::size_t at = summary.find('\n'); at != std::string::npos; at = summary.find('\n', at + 1))
            summary.insert(at + 1, 14, ' ');
        usage += summary;
        usage += "\n";
    }
    return usage + "\nRun 'loaderkit COMMAND --help' for a command's options.\n";
}
}  // namespace

int PrintHelp(const char* command, const char* text) {
    std::string error;
    return WriteStandardOutput(text, std::strlen(text), error) ? 0 : KitError(command, error);
}

int RunCommandLine(int argc, char** argv) {
    // A web server runs a CGI program without arguments: that is the download endpoint.
    if (argc < 2 && std::getenv("GATEWAY_INTERFACE") != nullptr) return DownloadCommand(0, argv + argc);
    const std::string usage = Usage();
    if (argc < 2) {
        std::fputs(usage.c_str(), stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) return PrintHelp("help", usage.c_str());
    for (const Command& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    std::fprintf(stderr, "loaderkit: unknown command '%s'\n%s", argv[1], usage.c_str());
    return 2;
}
