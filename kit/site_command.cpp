// loaderkit site: a static download site that any web server can serve as it stands.
#include "app/language_table.h"
#include "commands.h"
#include "files.h"
#include "net/scrambler.h"
#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {
const char kHelp[] =
    "usage: loaderkit site --out DIR --site-url URL --installer FILE [--notice FILE]\n"
    "\n"
    "Writes into DIR:\n"
    "  config.txt   the scrambled configuration reply 'iFlag=0|sDlurl=URL'\n"
    "  p_Tavmok_{reg,sys}_{LANG}.{LANG}  the notice text of every language and variant: the\n"
    "               installer's size on the first line, then the text of --notice (default: a\n"
    "               short welcome naming [CASINO_NAME] and [CASINO_ADDRESS])\n"
    "  p_Tavmok_{reg,sys}_{LANG}.exe     the installer, copied\n"
    "URL is where DIR will be served, ending with '/'. Point a loader at it with\n"
    "  loader.exe HAND <where DIR is served>/config.txt\n";

const char kDefaultNotice[] =
    "Welcome to [CASINO_NAME]!\r\n"
    "Your casino software is on its way.\r\n"
    "Visit us at [CASINO_ADDRESS]\r\n"
    "Fair games, fast payouts.\r\n";

}  // namespace

int SiteCommand(int argc, char** argv) {
    Options o = ParseOptions(argc, argv, {"--out", "--site-url", "--installer", "--notice"}, {"--help", "-h"});
    if (o.Has("--help") || o.Has("-h")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!o.error.empty()) return KitError("site", o.error + " (see --help)", 2);
    if (!o.Has("--out") || !o.Has("--site-url") || !o.Has("--installer"))
        return KitError("site", "--out, --site-url and --installer are required", 2);
    std::string url = o.Get("--site-url");
    if (url.find('|') != std::string::npos || url.empty()) return KitError("site", "the site URL cannot be empty or contain '|'");
    std::vector<unsigned char> installer;
    std::vector<unsigned char> notice(kDefaultNotice, kDefaultNotice + std::strlen(kDefaultNotice));
    std::string error;
    if (!ReadFileBytes(o.Get("--installer"), installer, error)) return KitError("site", error);
    if (installer.empty() || installer.size() > 0x7FFFFFFFu) return KitError("site", "the installer must have 1 to 2^31-1 bytes");
    if (o.Has("--notice") && !ReadFileBytes(o.Get("--notice"), notice, error)) return KitError("site", error);
    std::string dir = o.Get("--out");
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return KitError("site", "cannot create " + dir + ": " + std::strerror(errno));

    std::string reply = "iFlag=0|sDlurl=" + url;
    std::vector<unsigned char> config(reply.begin(), reply.end());
    ScrambleBytes(reinterpret_cast<char*>(config.data()), config.size());
    if (!WriteFileAtomically(dir + "/config.txt", config, false, error)) return KitError("site", error);

    std::string size = std::to_string(installer.size()) + "\r\n";
    std::vector<unsigned char> page(size.begin(), size.end());
    page.insert(page.end(), notice.begin(), notice.end());
    for (int i = 0; LanguageTable[i] != nullptr; ++i) {
        for (const char* variant : {"_reg_", "_sys_"}) {
            std::string stem = dir + "/p_Tavmok" + variant + LanguageTable[i];
            if (!WriteFileAtomically(stem + "." + LanguageTable[i], page, false, error) ||
                !WriteFileAtomically(stem + ".exe", installer, true, error))
                return KitError("site", error);
        }
    }
    std::printf("site written to %s: config.txt, %d notice texts, %d installers of %zu bytes\n", dir.c_str(),
                2 * kLanguageCount, 2 * kLanguageCount, installer.size());
    return 0;
}
