// loaderkit scramble / unscramble: the configuration server's side of the substitution.
#include "command_line/commands.h"
#include "util/files.h"
#include "net/scrambler.h"
#include "command_line/options.h"

#include <cstdio>
#include <cstring>

namespace {
const char kHelp[] =
    "usage: loaderkit scramble [--text TEXT | --in FILE] [--out FILE]\n"
    "       loaderkit unscramble [--text TEXT | --in FILE] [--out FILE]\n"
    "\n"
    "scramble turns a reply such as 'iFlag=0|sDlurl=http://dl.example/' into the bytes the\n"
    "configuration server sends; unscramble does the loader's part. Input is TEXT, FILE (a\n"
    "regular file) or standard input ('-'), at most 1 MiB; output goes to FILE or standard\n"
    "output ('-'). NUL bytes cannot be scrambled; empty input gives empty output.\n";

int Scramble(int argc, char** argv, bool unscramble) {
    const char* name = unscramble ? "unscramble" : "scramble";
    Options o = ParseOptions(argc, argv, {"--text", "--in", "--out"}, {"--help", "-h"});
    if (o.Has("--help") || o.Has("-h")) {
        return PrintHelp(name, kHelp);
    }
    if (!o.error.empty() || (o.Has("--text") && o.Has("--in"))) {
        return KitError(name, (o.error.empty() ? std::string("give --text or --in, not both") : o.error) + " (see --help)", 2);
    }
    std::vector<unsigned char> data;
    std::string error;
    if (o.Has("--text")) {
        std::string t = o.Get("--text");
        data.assign(t.begin(), t.end());
    } else if (!ReadInput(o.Has("--in") ? o.Get("--in") : "-", kMostTextBytes, data, error)) {
        return KitError(name, error);
    }
    if (!data.empty() && std::memchr(data.data(), 0, data.size()) != nullptr)
        return KitError(name, "the input contains a NUL byte, which ends a reply");
    if (unscramble) {
        data.push_back(0);
        UnscrambleInPlace(reinterpret_cast<char*>(data.data()));
        data.pop_back();
    } else {
        ScrambleBytes(reinterpret_cast<char*>(data.data()), data.size());
    }
    if (!WriteOutput(o.Has("--out") ? o.Get("--out") : "-", data, false, error)) return KitError(name, error);
    return 0;
}
}  // namespace

int ScrambleCommand(int argc, char** argv) { return Scramble(argc, argv, false); }
int UnscrambleCommand(int argc, char** argv) { return Scramble(argc, argv, true); }
