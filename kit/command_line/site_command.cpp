// loaderkit site: a static download site that any web server can serve as it stands.
#include "base/languages.h"
#include "base/loader_state.h"
#include "command_line/commands.h"
#include "util/files.h"
#include "net/scrambler.h"
#include "command_line/options.h"
#include "util/text_encoding.h"

#include "net/discovery_rules.h"
#include "net/package_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kHelp[] =
    "usage: loaderkit site --out DIR --site-url URL --installer FILE [--installer-for KEY=FILE]...\n"
    "                      [--notice FILE] [--notice-for LANG=FILE]...\n"
    "\n"
    "Writes into DIR:\n"
    "  config.txt   the scrambled configuration reply 'iFlag=0|sDlurl=URL'\n"
    "  p_Tavmok_{reg,sys}_{LANG}.{LANG}  the notice text of every language and variant: its own\n"
    "               installer's size on the first line, then the language's notice text\n"
    "  p_Tavmok_{reg,sys}_{LANG}.exe     the installer of that language and variant\n"
    "  --installer FILE           the installer of every language and variant, unless one of\n"
    "                             these names a more specific one\n"
    "  --installer-for KEY=FILE   (repeatable) KEY is a language (JAP), a variant (reg or sys),\n"
    "                             or both (sys_JAP); the most specific KEY wins\n"
    "                             Installers are regular files (or '-' for standard input) of\n"
    "                             1 to 2,147,483,647 bytes; files with the same content are hard\n"
    "                             links in DIR (copies where the file system cannot link)\n"
    "  --notice FILE              the notice text of every language (default: a short welcome\n"
    "                             in each language, naming [CASINO_NAME] and [CASINO_ADDRESS])\n"
    "  --notice-for LANG=FILE     (repeatable) one language's own notice text\n"
    "                             Notice files are UTF-8 (a byte-order mark is dropped), of at\n"
    "                             most 1 MiB; each language's page is written in the ANSI code\n"
    "                             page of Windows systems of that language (932 JAP, 936 CHS,\n"
    "                             950 CHT, 949 KOR, 1253 GRE, 1255 HEB, 1256 ARA, 1252 the\n"
    "                             others), and must stay within the 22,000 bytes the loader\n"
    "                             reads, size line included\n"
    "LANG is one of CHT DEU ENG SPA FRE ITA JAP KOR DUT POR SWE GRE CHS HEB ARA DAN; JPN is\n"
    "taken for JAP, which the file names keep. URL is where DIR will be served, ending with\n"
    "'/', without '|'. Notice texts are stored with CR LF line ends. DIR is built beside its\n"
    "place and moved there whole; an existing DIR is replaced only when it holds site files\n"
    "alone. Point a loader at it with\n"
    "  loader.exe HAND <where DIR is served>/config.txt\n";

// Each language's default notice, in UTF-8 like an operator's file: the same four lines in every
// language. In Hebrew and Arabic a right-to-left mark (U+200F, in both code pages) follows a
// line's final punctuation, so it ends the line at its left whatever the box's reading order.
#define RLM "\u200f"
const struct {
    const char* code;
    const char* text;
} kDefaultNotices[] = {
    {"CHT", "歡迎光臨 [CASINO_NAME]！\n您的娛樂場軟體正在下載中。\n歡迎造訪 [CASINO_ADDRESS]\n公平遊戲，快速提款。\n"},
    {"DEU", "Willkommen bei [CASINO_NAME]!\nIhre Casino-Software ist unterwegs.\n"
            "Besuchen Sie uns unter [CASINO_ADDRESS]\nFaire Spiele, schnelle Auszahlungen.\n"},
    {"ENG", "Welcome to [CASINO_NAME]!\nYour casino software is on its way.\nVisit us at [CASINO_ADDRESS]\n"
            "Fair games, fast payouts.\n"},
    {"SPA", "¡Bienvenido a [CASINO_NAME]!\nSu software de casino está en camino.\nVisítenos en [CASINO_ADDRESS]\n"
            "Juegos justos, retiros rápidos.\n"},
    {"FRE", "Bienvenue chez [CASINO_NAME]\u00a0!\nVotre logiciel de casino arrive.\n"
            "Rendez-nous visite sur [CASINO_ADDRESS]\nJeux équitables, retraits rapides.\n"},
    {"ITA", "Benvenuto su [CASINO_NAME]!\nIl tuo software del casinò è in arrivo.\nVisitaci su [CASINO_ADDRESS]\n"
            "Giochi equi, prelievi rapidi.\n"},
    {"JAP", "[CASINO_NAME] へようこそ！\nカジノ ソフトウェアをお届けしています。\n"
            "[CASINO_ADDRESS] でお待ちしております。\n公正なゲームと迅速な出金。\n"},
    {"KOR", "[CASINO_NAME]에 오신 것을 환영합니다!\n카지노 소프트웨어를 다운로드하고 있습니다.\n"
            "방문 주소: [CASINO_ADDRESS]\n공정한 게임, 빠른 출금.\n"},
    {"DUT", "Welkom bij [CASINO_NAME]!\nUw casinosoftware is onderweg.\nBezoek ons op [CASINO_ADDRESS]\n"
            "Eerlijke spellen, snelle uitbetalingen.\n"},
    {"POR", "Bem-vindo ao [CASINO_NAME]!\nSeu software de cassino está a caminho.\nVisite-nos em [CASINO_ADDRESS]\n"
            "Jogos justos, saques rápidos.\n"},
    {"SWE", "Välkommen till [CASINO_NAME]!\nDin casinoprogramvara är på väg.\nBesök oss på [CASINO_ADDRESS]\n"
            "Rättvisa spel, snabba uttag.\n"},
    {"GRE", "Καλώς ήρθατε στο [CASINO_NAME]!\nΤο λογισμικό του καζίνο σας έρχεται.\n"
            "Επισκεφθείτε μας στο [CASINO_ADDRESS]\nΔίκαια παιχνίδια, γρήγορες αναλήψεις.\n"},
    {"CHS", "欢迎光临 [CASINO_NAME]！\n您的娱乐场软件正在下载中。\n欢迎访问 [CASINO_ADDRESS]\n公平游戏，快速提款。\n"},
    {"HEB", "ברוכים הבאים ל-[CASINO_NAME]\nתוכנת הקזינו כבר בדרך." RLM "\nבקרו אותנו בכתובת [CASINO_ADDRESS]\n"
            "משחקים הוגנים, משיכות מהירות." RLM "\n"},
    {"ARA", "مرحبًا بكم في [CASINO_NAME]\nبرنامج الكازينو في طريقه إليكم." RLM "\nتفضلوا بزيارتنا على [CASINO_ADDRESS]\n"
            "ألعاب نزيهة وسحب سريع للأرباح." RLM "\n"},
    {"DAN", "Velkommen til [CASINO_NAME]!\nDin casinosoftware er på vej.\nBesøg os på [CASINO_ADDRESS]\n"
            "Fair spil, hurtige udbetalinger.\n"},
};
#undef RLM

const char* DefaultNotice(const char* code) {
    for (const auto& notice : kDefaultNotices)
        if (std::strcmp(notice.code, code) == 0) return notice.text;
    return kDefaultNotices[2].text;  // English
}

// Japanese is JAP in the site's file names, as the loader asks for them; operators may also write
// JPN, its code in ISO 639-2 and in Windows. Applies to a language key or the one in reg_ or sys_.
std::string SiteLanguageKey(std::string key) {
    std::size_t at = key.size() >= 3 ? key.size() - 3 : 0;
    if ((at == 0 || (at == 4 && key[3] == '_')) && key.compare(at, 3, "JPN") == 0) key.replace(at, 3, "JAP");
    return key;
}

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

// The installer keys' variant names: the first is the one whose libraries all pass.
const char* const kVariants[] = {"reg", "sys"};

// The notice page's and the installer's file names, built as the loader builds them.
void PackageFileNames(const char* variant, const char* code, std::string* notice, std::string* installer) {
    char noticeName[64] = "";
    char installerName[64] = "";
    AppendPackageNames(PackageVariant(variant == kVariants[0]), code, noticeName, sizeof noticeName, installerName,
                       sizeof installerName);
    *notice = noticeName;
    *installer = installerName;
}

// "KEY=FILE" split at the first '='; false when either side is empty.
bool SplitAssignment(const std::string& text, std::string* key, std::string* file) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
    *key = text.substr(0, eq);
    *file = text.substr(eq + 1);
    return true;
}

bool IsInstallerKey(const std::string& key) {
    for (const char* variant : kVariants) {
        if (key == variant) return true;
        if (key.size() == 7 && key.compare(0, 4, std::string(variant) + "_") == 0 && FindLanguage(key.c_str() + 4) >= 0)
            return true;
    }
    return FindLanguage(key.c_str()) >= 0;
}

// Every file named by the options, read once; standard input may be named once only.
struct Inputs {
    std::map<std::string, std::vector<unsigned char>> files;
    bool Read(const std::string& path, std::size_t most, std::string& error) {
        if (files.count(path)) return true;
        return ReadInput(path, most, files[path], error);
    }
};

// The files of one installer content: the first is written, the others linked to it.
struct InstallerFiles {
    const std::vector<unsigned char>* content;
    std::vector<std::string> names;
};

bool WriteInstallers(const std::vector<InstallerFiles>& groups, std::string& error) {
    for (const InstallerFiles& group : groups) {
        const std::string& first = group.names[0];
        if (!WriteOutput(first, *group.content, true, error)) return false;
        for (std::size_t k = 1; k < group.names.size(); ++k) {
            if (link(first.c_str(), group.names[k].c_str()) != 0 && !WriteOutput(group.names[k], *group.content, true, error))
                return false;
        }
    }
    return true;
}

int Build(const Options& o, const std::string& temp) {
    std::string error;
    Inputs in;
    // Installers by key ("" the default) and notices by language code ("" for all languages).
    std::map<std::string, std::string> installerFor{{"", o.Get("--installer")}};
    std::map<std::string, std::string> noticeFor;
    if (o.Has("--notice")) noticeFor[""] = o.Get("--notice");
    std::string key, file;
    for (const std::string& a : o.All("--installer-for")) {
        if (!SplitAssignment(a, &key, &file) || !IsInstallerKey(key = SiteLanguageKey(key)))
            return KitError("site", "--installer-for takes KEY=FILE with KEY a language, reg, sys, reg_LANG or sys_LANG: '" + a + "'", 2);
        if (installerFor.count(key)) return KitError("site", "--installer-for " + key + " given twice", 2);
        installerFor[key] = file;
    }
    for (const std::string& a : o.All("--notice-for")) {
        if (!SplitAssignment(a, &key, &file) || FindLanguage((key = SiteLanguageKey(key)).c_str()) < 0)
            return KitError("site", "--notice-for takes LANG=FILE with LANG one of the sixteen language codes: '" + a + "'", 2);
        if (noticeFor.count(key)) return KitError("site", "--notice-for " + key + " given twice", 2);
        noticeFor[key] = file;
    }
    int fromStandardInput = 0;
    for (const auto& kv : installerFor) fromStandardInput += kv.second == "-";
    for (const auto& kv : noticeFor) fromStandardInput += kv.second == "-";
    if (fromStandardInput > 1) return KitError("site", "standard input ('-') can be read for one file only", 2);
    for (const auto& kv : installerFor) {
        if (!in.Read(kv.second, kMostInstallerBytes, error)) return KitError("site", error);
        if (in.files[kv.second].empty()) return KitError("site", "the installer " + kv.second + " is empty");
    }
    for (const auto& kv : noticeFor) {
        if (!in.Read(kv.second, kMostTextBytes, error)) return KitError("site", error);
    }

    std::string url = o.Get("--site-url");
    std::string reply = "iFlag=0|sDlurl=" + url;
    std::vector<unsigned char> config(reply.begin(), reply.end());
    ScrambleBytes(reinterpret_cast<char*>(config.data()), config.size());
    if (!WriteOutput(temp + "/config.txt", config, false, error)) return KitError("site", error);

    std::vector<InstallerFiles> groups;
    for (int i = 0; i < kLanguageCount; ++i) {
        const Language& language = Languages[i];
        std::string noticeFile = noticeFor.count(language.code) ? noticeFor[language.code] : noticeFor[""];
        const std::vector<unsigned char>* source = noticeFile.empty() ? nullptr : &in.files[noticeFile];
        std::string utf8 = source != nullptr ? std::string(source->begin(), source->end()) : DefaultNotice(language.code);
        std::vector<unsigned char> lines = WithCrLf(std::vector<unsigned char>(utf8.begin(), utf8.end()));
        std::string text;
        if (!FromUtf8(std::string(lines.begin(), lines.end()), language.codePage, text, error))
            return KitError("site", std::string(language.code) + " notice " + noticeFile + ": " + error);
        for (const char* variant : kVariants) {
            std::string installer;
            for (std::string k : {std::string(variant) + "_" + language.code, std::string(language.code),
                                  std::string(variant), std::string()}) {
                if (installerFor.count(k)) {
                    installer = installerFor[k];
                    break;
                }
            }
            const std::vector<unsigned char>& content = in.files[installer];
            std::string noticeName;
            std::string installerName;
            PackageFileNames(variant, language.code, &noticeName, &installerName);
            std::string page = std::to_string(content.size()) + "\r\n" + text;
            if (page.size() > kPageSize)
                return KitError("site", std::string(language.code) + " notice " + (noticeFile.empty() ? "(default)" : noticeFile) +
                                            ": its page is " + std::to_string(page.size()) +
                                            " bytes, over the " + std::to_string(kPageSize) + " that the loader reads");
            if (!WriteOutput(temp + "/" + noticeName, std::vector<unsigned char>(page.begin(), page.end()), false, error))
                return KitError("site", error);
            auto group = groups.begin();
            while (group != groups.end() && *group->content != content) ++group;
            if (group == groups.end()) group = groups.insert(groups.end(), InstallerFiles{&content, {}});
            group->names.push_back(temp + "/" + installerName);
        }
    }
    if (!WriteInstallers(groups, error)) return KitError("site", error);
    return 0;
}
}  // namespace

int SiteCommand(int argc, char** argv) {
    Options o = ParseOptions(argc, argv, {"--out", "--site-url", "--installer", "--notice"}, {"--help", "-h"},
                             {"--installer-for", "--notice-for"});
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
    // Built beside the target, under a name of its own, and moved into place whole: a failure
    // leaves no half site behind, and two runs never touch each other's work.
    std::string temp = dir + ".loaderkit-XXXXXX";
    if (mkdtemp(&temp[0]) == nullptr) return KitError("site", "cannot create a folder beside " + dir + ": " + std::strerror(errno));
    mode_t mask = umask(0);
    umask(mask);
    chmod(temp.c_str(), 0777 & ~mask);
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
