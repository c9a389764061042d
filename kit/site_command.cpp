// loaderkit site: a static download site that any web server can serve as it stands.
#include "base/languages.h"
#include "commands.h"
#include "files.h"
#include "net/scrambler.h"
#include "options.h"

#include "net/discovery_rules.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    "URL is where DIR will be served, ending with '/', without '|'. Notice texts are stored\n"
    "with CR LF line ends. DIR is built beside its place and moved there whole; an existing\n"
    "DIR is replaced only when it holds site files alone. Point a loader at it with\n"
    "  loader.exe HAND <where DIR is served>/config.txt\n";

const char kDefaultNotice[] =
    "Welcome to [CASINO_NAME]!\r\n"
    "Your casino software is on its way.\r\n"
    "Visit us at [CASINO_ADDRESS]\r\n"
    "Fair games, fast payouts.\r\n";

bool IsSiteFile(const std::string& name) {
    return name == "config.txt" || name.rfind("p_Tavmok_", 0) == 0;
}

// The notice box breaks lines only at CR LF: a lone LF becomes CR LF.
std::vector<unsigned char> WithCrLf(const std::vector<unsigned char>& text) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

// Empty when dir is absent, or a folder of site files only, which a new site may replace.
std::string CheckReplaceable(const std::string& dir) {
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0) return errno == ENOENT ? "" : "cannot read " + dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return dir + " exists and is not a folder";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return "cannot read " + dir + ": " + std::strerror(errno);
    std::string foreign;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && !IsSiteFile(name)) foreign = name;
    }
    closedir(d);
    return foreign.empty() ? "" : dir + " holds '" + foreign + "', which is not a site file; choose a new or empty folder";
}

void RemoveTree(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") unlink((dir + "/" + name).c_str());
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

// Puts the finished temp folder where dir was, in one step where the system can swap the two.
bool MoveIntoPlace(const std::string& temp, const std::string& dir, std::string& error) {
    if (std::rename(temp.c_str(), dir.c_str()) == 0) return true;
    if (errno == ENOTEMPTY || errno == EEXIST) {
        if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) == 0) {
            RemoveTree(temp);  // now the previous site
            return true;
        }
    }
    error = "cannot move the new site to " + dir + ": " + std::strerror(errno);
    return false;
}

int Build(const Options& o, const std::string& temp) {
    std::string url = o.Get("--site-url");
    std::vector<unsigned char> installer;
    std::vector<unsigned char> notice(kDefaultNotice, kDefaultNotice + std::strlen(kDefaultNotice));
    std::string error;
    if (!ReadInput(o.Get("--installer"), installer, error)) return KitError("site", error);
    if (installer.empty() || installer.size() > 0x7FFFFFFFu) return KitError("site", "the installer must have 1 to 2^31-1 bytes");
    if (o.Has("--notice") && !ReadInput(o.Get("--notice"), notice, error)) return KitError("site", error);
    notice = WithCrLf(notice);

    std::string reply = "iFlag=0|sDlurl=" + url;
    std::vector<unsigned char> config(reply.begin(), reply.end());
    ScrambleBytes(reinterpret_cast<char*>(config.data()), config.size());
    if (!WriteOutput(temp + "/config.txt", config, false, error)) return KitError("site", error);

    std::string size = std::to_string(installer.size()) + "\r\n";
    std::vector<unsigned char> page(size.begin(), size.end());
    page.insert(page.end(), notice.begin(), notice.end());
    for (int i = 0; i < kLanguageCount; ++i) {
        for (const char* variant : {"_reg_", "_sys_"}) {
            std::string stem = temp + "/p_Tavmok" + variant + Languages[i].code;
            if (!WriteOutput(stem + "." + Languages[i].code, page, false, error) ||
                !WriteOutput(stem + ".exe", installer, true, error))
                return KitError("site", error);
        }
    }
    return 0;
}
}  // namespace

int SiteCommand(int argc, char** argv) {
    Options o = ParseOptions(argc, argv, {"--out", "--site-url", "--installer", "--notice"}, {"--help", "-h"});
    if (o.Has("--help") || o.Has("-h")) {
        return PrintHelp("site", kHelp);
    }
    if (!o.error.empty()) return KitError("site", o.error + " (see --help)", 2);
    if (!o.Has("--out") || !o.Has("--site-url") || !o.Has("--installer"))
        return KitError("site", "--out, --site-url and --installer are required", 2);
    std::string url = o.Get("--site-url");
    if (url.empty() || url.back() != '/') return KitError("site", "the site URL must end with '/'");
    if (url.find('|') != std::string::npos) return KitError("site", "the site URL cannot contain '|'");
    if (url.size() > kMaxSiteUrlLength)
        return KitError("site", "the site URL is longer than the " + std::to_string(kMaxSiteUrlLength) +
                                    " characters the loader accepts");
    std::string dir = o.Get("--out");
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    std::string why = CheckReplaceable(dir);
    if (!why.empty()) return KitError("site", why);
    // Built beside the target and moved into place whole: a failure leaves no half site behind.
    std::string temp = dir + ".loaderkit-tmp";
    RemoveTree(temp);
    if (mkdir(temp.c_str(), 0755) != 0) return KitError("site", "cannot create " + temp + ": " + std::strerror(errno));
    int code = Build(o, temp);
    std::string error;
    if (code == 0 && !MoveIntoPlace(temp, dir, error)) code = KitError("site", error);
    if (code != 0) {
        RemoveTree(temp);
        return code;
    }
    std::printf("site written to %s: config.txt, %d notice texts and %d installers\n", dir.c_str(),
                2 * kLanguageCount, 2 * kLanguageCount);
    if (!WriteStandardOutput("", 0, error)) return KitError("site", error);
    return 0;
}
