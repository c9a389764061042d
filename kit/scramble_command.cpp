// loaderkit scramble / unscramble: the configuration server's side of the substitution.
#include "commands.h"
#include "files.h"
#include "net/scrambler.h"
#include "options.h"

#include <cstdio>
#include <cstring>

namespace {
const char kHelp[] =
    "usage: loaderkit scramble [--text TEXT | --in FILE] [--out FILE]\n"
    "       loaderkit unscramble [--text TEXT | --in FILE] [--out FILE]\n"
    "\n"
    "scramble turns a reply such as 'iFlag=0|sDlurl=http://dl.example/' into the bytes the\n"
    "configuration server sends; unscramble does the loader's part. Input is TEXT, FILE or\n"
    "standard input; output goes to FILE or standard output. NUL bytes cannot be scrambled.\n";
}

int ScrambleCommand(int argc, char** argv, bool unscramble) {
    const char* name = unscramble ? "unscramble" : "scramble";
    Options o = ParseOptions(argc, argv, {"--text", "--in", "--out"}, {"--help", "-h"});
    if (o.Has("--help") || o.Has("-h")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!o.error.empty() || (o.Has("--text") && o.Has("--in"))) {
        return KitError(name, (o.error.empty() ? std::string("give --text or --in, not both") : o.error) + " (see --help)", 2);
    }
    std::vector<unsigned char> data;
    std::string error;
    if (o.Has("--text")) {
        std::string t = o.Get("--text");
        data.assign(t.begin(), t.end());
    } else if (o.Has("--in")) {
        if (!ReadFileBytes(o.Get("--in"), data, error)) return KitError(name, error);
    } else {
        int c;
        while ((c = std::getchar()) != EOF) data.push_back(static_cast<unsigned char>(c));
    }
    if (std::memchr(data.data(), 0, data.size()) != nullptr)
        return KitError(name, "the input contains a NUL byte, which ends a reply");
    if (unscramble) {
        data.push_back(0);
        UnscrambleInPlace(reinterpret_cast<char*>(data.data()));
        data.pop_back();
    } else {
        ScrambleBytes(reinterpret_cast<char*>(data.data()), data.size());
    }
    if (o.Has("--out")) {
        if (!WriteFileAtomically(o.Get("--out"), data, false, error)) return KitError(name, error);
    } else {
        std::fwrite(data.data(), 1, data.size(), stdout);
    }
    return 0;
}
