// loaderkit: the operators' tool beside the loader. Writes and reads distribution stamps,
// scrambles and unscrambles configuration replies, builds a static download site, and serves a
// freshly stamped copy per download behind a web server.
#include "commands.h"
#include "files.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
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
    "  download    the per-download stamping endpoint: a resident FastCGI responder (--fastcgi)\n"
    "              or a CGI program, behind a web server\n"
    "  funnel      what became of the copies served: the endpoint's store, per tag\n"
    "\n"
    "Run 'loaderkit COMMAND --help' for a command's options.\n";
}

int main(int argc, char** argv) {
    // A closed output pipe is reported as the failed write it is (exit 1), not a killed process.
    std::signal(SIGPIPE, SIG_IGN);
    // A web server runs a CGI program without arguments: that is the download endpoint.
    if (argc < 2 && std::getenv("GATEWAY_INTERFACE") != nullptr) return DownloadCommand(0, argv + argc);
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
    if (std::strcmp(command, "download") == 0) return DownloadCommand(argc - 2, argv + 2);
    if (std::strcmp(command, "funnel") == 0) return FunnelCommand(argc - 2, argv + 2);
    std::fprintf(stderr, "loaderkit: unknown command '%s'\n%s", command, kUsage);
    return 2;
}
