// loaderkit download: the endpoint's options; a resident FastCGI responder, or one CGI answer.
#include "command_line/commands.h"
#include "command_line/options.h"
#include "endpoint/answer.h"
#include "endpoint/fastcgi_responder.h"
#include "util/files.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
const char kHelp[] =
    "usage: loaderkit download [--help]\n"
    "       loaderkit download --fastcgi [--socket PATH] [--workers N]\n"
    "\n"
    "The download endpoint. With --fastcgi, a resident FastCGI responder: it listens on the\n"
    "socket that systemd or spawn-fcgi passes as standard input, or on --socket PATH (a Unix\n"
    "socket, which a live responder's is not taken from; or HOST:PORT), and answers with N\n"
    "worker processes (default: one per processor), starting a worker again when one ends;\n"
    "SIGTERM or SIGINT ends it after the answers under way (a worker still writing after 30 s\n"
    "is killed). It reads the program once and again only when the file at its path changes:\n"
    "rename a new release over it, and the next answers carry it.\n"
    "Without --fastcgi, a CGI program; loaderkit run without arguments under CGI\n"
    "(GATEWAY_INTERFACE set) does the same.\n"
    "GET or HEAD /download?tag=TAG answers the program stamped with TAG (1 to 11 letters, digits\n"
    "or '-') and a fresh download id, which the X-Download-Id header repeats. Configuration, for\n"
    "the responder from its environment (the names also from the server's fastcgi_param, the\n"
    "files never from a request), for the CGI program from the server's parameters:\n"
    "  LOADERKIT_PROGRAM    the signed program to stamp (required, a regular file of at most\n"
    "                       64 MiB)\n"
    "  LOADERKIT_NAME       casino name, LOADERKIT_ADDRESS its web address (needs NAME),\n"
    "  LOADERKIT_COMPANY    company name (needs ADDRESS)\n"
    "  LOADERKIT_IMAGE      branding image file, at most 16 MiB\n"
    "  LOADERKIT_FILE_NAME  the download's file name without .exe (default: the program's):\n"
    "                       1 to 64 letters, digits, '-', '_', '.' or spaces, else every\n"
    "                       download is 500\n"
    "  LOADERKIT_DATABASE   the store of each copy served (id, tag, time) and each report: an\n"
    "                       SQLite file, or a PostgreSQL server as a libpq URI, postgresql://...,\n"
    "                       written from a queue of at most 10000 records per worker that no\n"
    "                       answer waits for (environment only; read it with loaderkit funnel);\n"
    "                       its password in a file of mode 0600 named by PGPASSFILE or\n"
    "                       passfile=, never in the address\n"
    "Answers: 200 with the copy; 400 for a missing, empty, repeated or malformed tag or a query\n"
    "over 1 KB; 404 for other paths; 405 for other methods; 500 (and a line on standard error,\n"
    "which the server logs) when the configuration or the program cannot be used.\n"
    "GET /report?v=1&event=...: a loader's report (built with LOADER_REPORT_URL), read strictly:\n"
    "204 and stored, or 400 and nothing stored. A store that cannot be written costs the record\n"
    "and a log line, never the answer.\n";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

}  // namespace

int DownloadCommand(int argc, char** argv) {
    Options o = ParseOptions(argc, argv, {"--socket", "--workers"}, {"--help", "-h", "--fastcgi"});
    if (o.Has("--help") || o.Has("-h")) return PrintHelp("download", kHelp);
    if (!o.error.empty()) return KitError("download", o.error + " (see --help)", 2);
    if (!o.Has("--fastcgi") && (o.Has("--socket") || o.Has("--workers")))
        return KitError("download", "--socket and --workers go with --fastcgi (see --help)", 2);
    if (o.Has("--fastcgi")) {
        int workers = 0;
        if (o.Has("--workers")) {
            const std::string w = o.Get("--workers");
            if (w.size() > 3 || w.find_first_not_of("0123456789") != std::string::npos || std::stoi(w) < 1)
                return KitError("download", "--workers takes a number from 1 to 999", 2);
            workers = std::stoi(w);
        }
        return RunFastCgiResponder(o.Get("--socket"), workers);
    }
    std::string logLine;
    Store store;
    std::string answer = AnswerDownload(Env, nullptr, &store, &logLine);
    if (!logLine.empty()) std::fprintf(stderr, "loaderkit download: %s\n", logLine.c_str());
    std::string error;
    if (!WriteStandardOutput(answer.data(), answer.size(), error)) return KitError("download", error);
    // The answer is whole: the web server has it all once standard output ends, before a record
    // still on its way to a PostgreSQL store keeps this process.
    std::fflush(stdout);
    close(STDOUT_FILENO);
    return 0;
}
