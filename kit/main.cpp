// loaderkit: the operators' tool beside the loader. Writes and reads distribution stamps,
// scrambles and unscrambles configuration replies, builds a static download site, and serves a
// freshly stamped copy per download behind a web server; its commands are in command_line/.
#include "command_line/commands.h"

#include <csignal>

int main(int argc, char** argv) {
    // A closed output pipe is reported as the failed write it is (exit 1), not a killed process.
    std::signal(SIGPIPE, SIG_IGN);
    return RunCommandLine(argc, argv);
}
