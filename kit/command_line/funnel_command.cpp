// loaderkit funnel: what became of the copies served, from the endpoint's store.
#include "command_line/commands.h"
#include "command_line/options.h"
#include "funnel/views.h"
#include "store/store.h"
#include "util/files.h"

#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace {
const char kHelp[] =
    "usage: loaderkit funnel [--database PATH] [--since DATE] [--until DATE] [--by tag|lang|os|build]\n"
    "                        [--json]\n"
    "       loaderkit funnel [--database PATH] [--since DATE] [--until DATE] --html FILE\n"
    "       loaderkit funnel [--database PATH] --prune-before DATE\n"
    "\n"
    "Prints, per group (tag by default), how many copies the download endpoint served and what\n"
    "their loaders reported: chosen (a language confirmed), cancelled (the chooser cancelled),\n"
    "each end (installer-started, message-3 to message-7), and no-end (chosen, never ended:\n"
    "killed, crashed or cut off); then the share of served copies whose installer started.\n"
    "Copies served are known per tag only. Reports come only from loaders built with\n"
    "LOADER_REPORT_URL.\n"
    "  --database PATH    the endpoint's store (default: $LOADERKIT_DATABASE)\n"
    "  --since DATE       from the start of DATE (YYYY-MM-DD, UTC)\n"
    "  --until DATE       to the end of DATE\n"
    "  --by KEY           group by tag, lang (the chosen language), os (Windows version) or build\n"
    "  --json             one object: {\"groups\": [{\"key\": ..., \"served\": N, \"chosen\": N,\n"
    "                     \"cancelled\": N, \"installer_started\": N, \"message_3\": N, \"message_4\": N,\n"
    "                     \"message_5\": N, \"message_7\": N, \"no_end\": N}, ...]}, sorted by key\n"
    "  --html FILE        one self-contained page of the funnel per tag (no script, font or\n"
    "                     picture from elsewhere): bars, failures by outcome, copies served and\n"
    "                     installers started per day as a line chart, every number also in\n"
    "                     tables, and when it was written (UTC); written whole, then renamed\n"
    "                     into place ('-': standard output)\n"
    "  --prune-before DATE  remove every record before DATE and say how many\n";

// Seconds since 1970 at the start of DATE (YYYY-MM-DD, UTC), or -1.
std::int64_t DayStart(const std::string& date) {
    int y, m, d;
    char tail;
    if (date.size() != 10 || std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || m < 1 || m > 12 ||
        d < 1 || d > 31 || y < 1970)
        return -1;
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    std::int64_t at = timegm(&t);
    std::tm back{};
    time_t check = static_cast<time_t>(at);
    gmtime_r(&check, &back);
    return back.tm_mday == d ? at : -1;  // 2026-02-30 is refused, not moved to March
}

}  // namespace

int FunnelCommand(int argc, char** argv) {
    Options o = ParseOptions(argc, argv, {"--database", "--since", "--until", "--by", "--prune-before", "--html"},
                             {"--help", "-h", "--json"});
    if (o.Has("--help") || o.Has("-h")) return PrintHelp("funnel", kHelp);
    if (!o.error.empty()) return KitError("funnel", o.error + " (see --help)", 2);
    std::string path = o.Has("--database") ? o.Get("--database") : "";
    if (path.empty() && std::getenv("LOADERKIT_DATABASE") != nullptr) path = std::getenv("LOADERKIT_DATABASE");
    if (path.empty()) return KitError("funnel", "no store: give --database PATH or set LOADERKIT_DATABASE", 2);
    std::int64_t since = 0, until = std::numeric_limits<std::int64_t>::max();
    for (const char* name : {"--since", "--until", "--prune-before"}) {
        if (!o.Has(name)) continue;
        std::int64_t at = DayStart(o.Get(name));
        if (at < 0) return KitError("funnel", std::string(name) + " takes a date as YYYY-MM-DD: '" + o.Get(name) + "'", 2);
        if (std::string(name) == "--since") since = at;
        else if (std::string(name) == "--until") until = at + 86400;
        else since = at;
    }
    std::string by = o.Has("--by") ? o.Get("--by") : "tag";
    if (by != "tag" && by != "lang" && by != "os" && by != "build")
        return KitError("funnel", "--by takes tag, lang, os or build: '" + by + "'", 2);
    if (o.Has("--prune-before") && (o.Has("--since") || o.Has("--until") || o.Has("--by") || o.Has("--json") ||
                                    o.Has("--html")))
        return KitError("funnel", "--prune-before goes alone (with --database)", 2);
    if (o.Has("--html") && (o.Has("--json") || o.Has("--by")))
        return KitError("funnel", "--html is the page per tag: without --json and --by", 2);

    Store store;
    std::string why;
    if (!(o.Has("--prune-before") ? store.OpenForPruning(path, &why) : store.Open(path, &why)))
        return KitError("funnel", why);
    if (o.Has("--prune-before")) {
        std::uint64_t downloads = 0, reports = 0;
        if (!store.Prune(since, &downloads, &reports, &why)) return KitError("funnel", why);
        std::printf("removed %" PRIu64 " downloads and %" PRIu64 " reports before %s\n", downloads, reports,
                    o.Get("--prune-before").c_str());
        return 0;
    }
    Funnel funnel;
    if (!ReadFunnel(store, by, since, until, o.Has("--html"), &funnel, &why)) return KitError("funnel", why);
    if (o.Has("--html")) {
        funnel.period = "From " + (o.Has("--since") ? o.Get("--since") : std::string("the first record")) + " to " +
                        (o.Has("--until") ? o.Get("--until") : std::string("the last")) + " (UTC).";
        funnel.written = std::time(nullptr);
        std::string page = FunnelPage(funnel);
        if (!WriteOutput(o.Get("--html"), std::vector<unsigned char>(page.begin(), page.end()), false, why))
            return KitError("funnel", why);
        return 0;
    }
    std::string out = o.Has("--json") ? FunnelJson(funnel) : FunnelText(funnel);
    if (!WriteStandardOutput(out.data(), out.size(), why)) return KitError("funnel", why);
    return 0;
}
