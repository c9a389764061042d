// loaderkit stamp: writes the stamp the loader reads at start, or shows the one a file carries.
#include "command_line/commands.h"
#include "util/files.h"
#include "command_line/options.h"
#include "stamping/file_source.h"
#include "stamp/signed_program.h"
#include "stamp/stamp_view.h"
#include "stamp/stamp_writer.h"
#include "stamping/stamping.h"
#include "util/text_encoding.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {
const char kHelp[] =
    "usage: loaderkit stamp --in PROGRAM --out COPY --tag TAG [--id ID]\n"
    "                       [--name NAME [--address ADDRESS [--company COMPANY]]]\n"
    "                       [--image FILE [--color R,G,B] [--start X,Y]] [--replace]\n"
    "       loaderkit stamp --show FILE\n"
    "\n"
    "Writes a copy of PROGRAM with a distribution stamp at its end. A signed PROGRAM keeps its\n"
    "signature: the stamp goes inside its certificate table, which must end the file. PROGRAM\n"
    "(a regular file of at most 64 MiB) and COPY may be '-' for standard input and standard\n"
    "output.\n"
    "  --tag TAG          version tag, at most 11 bytes (the DLID block)\n"
    "  --id ID            download id, at most 20 bytes; the loader's tag becomes TAG_ID\n"
    "  --name NAME        casino display name (adds the SNID block)\n"
    "  --address ADDRESS  casino web address\n"
    "  --company COMPANY  company name; name, address and company with one NUL between\n"
    "                     each must fit 80 bytes. The three are UTF-8 and are stored in\n"
    "                     Windows-1252, as the loader shows and stores them: ASCII shows the\n"
    "                     same on every system, Western European letters on Western systems;\n"
    "                     other characters are refused\n"
    "  --image FILE       branding image of at most 16 MiB, copied unchanged (adds the CCNI block)\n"
    "  --color R,G,B      branding colour, each 0 to 255 (default 0,0,0)\n"
    "  --start X,Y        branding start position, each 0 to 65535 (default 0,0)\n"
    "  --replace          remove a stamp that PROGRAM already carries instead of refusing\n"
    "  --show FILE        print the stamp that FILE ('-': standard input) carries and whether\n"
    "                     it is signed, one 'key: value' per line, names in UTF-8; the exit\n"
    "                     code is 1 when FILE is not a program or carries no stamp\n"
    "\n"
    "Nothing is written when a value does not fit; the exit code is then 1 (2 for usage errors,\n"
    "an empty value among them).\n";


bool ParsePair(const std::string& text, unsigned max, int count, unsigned* out) {
    std::size_t at = 0;
    for (int k = 0; k < count; ++k) {
        std::size_t comma = text.find(',', at);
        std::string part = text.substr(at, k + 1 < count ? comma - at : std::string::npos);
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return false;
        unsigned long v = std::strtoul(part.c_str(), nullptr, 10);
        if (v > max) return false;
        out[k] = static_cast<unsigned>(v);
        if (k + 1 < count) {
            if (comma == std::string::npos) return false;
            at = comma + 1;
        }
    }
    return true;
}

std::string ShownName(const std::string& stored) {
    std::string utf8;
    return ToUtf8(stored, kNamesCodePage, utf8) ? Printable(utf8, true) : Printable(stored);
}

int Show(const std::string& path) {
    FileSource regular;
    std::vector<unsigned char> piped;
    std::string error;
    if (path == "-" ? !ReadInput(path, kMostProgramBytes, piped, error) : !regular.Open(path, error))
        return KitError("stamp", error);
    MemorySource memory(piped);
    StampSource& file = path == "-" ? static_cast<StampSource&>(memory) : regular;
    StampView v = ViewStamp(file);
    SignatureLayout layout;
    bool pe = ReadSignatureLayout(file, layout).empty();
    std::printf("file: %s\nfile-bytes: %lld\n", path == "-" ? "standard input" : path.c_str(),
                static_cast<long long>(file.Size()));
    std::printf("pe: %s\nsigned: %s\n", pe ? "yes" : "no", pe && layout.isSigned() ? "yes" : "no");
    std::printf("dlid: %s\n", v.dlid ? "yes" : "no");
    if (v.dlid) {
        std::printf("tag: %s\nversion-tag: %s\ndownload-id: %s\n", Printable(v.tag).c_str(),
                    Printable(v.versionTag).c_str(), Printable(v.downloadId).c_str());
    }
    std::printf("snid: %s\n", v.snid ? "yes" : "no");
    if (v.snid) {
        std::printf("name: %s\naddress: %s\ncompany: %s\n", ShownName(v.name).c_str(), ShownName(v.address).c_str(),
                    ShownName(v.company).c_str());
    }
    std::printf("ccni: %s\n", v.ccni ? "yes" : "no");
    if (v.ccni) {
        std::printf("image-bytes: %d\ncolor: %u,%u,%u\nstart: %u,%u\n", v.imageLength, v.red, v.green, v.blue,
                    v.startX, v.startY);
    }
    std::printf("stamp-bytes: %zu\n", v.stampSize);
    bool inside = pe && StampInsideCertificateTable(file, layout, v.stampSize);
    std::printf("stamp-in-certificate-table: %s\n", inside ? "yes" : "no");
    if (!WriteStandardOutput("", 0, error)) return KitError("stamp", error);
    if (!pe) return KitError("stamp", path + " is not a program");
    if (v.stampSize == 0) return KitError("stamp", path + " carries no stamp");
    return 0;
}
}  // namespace

int StampCommand(int argc, char** argv) {
    Options o = ParseOptions(argc, argv, {"--in", "--out", "--tag", "--id", "--name", "--address", "--company",
                                          "--image", "--color", "--start", "--show"},
                             {"--replace", "--help", "-h"});
    if (o.Has("--help") || o.Has("-h")) {
        return PrintHelp("stamp", kHelp);
    }
    if (!o.error.empty()) return KitError("stamp", o.error + " (see --help)", 2);
    if (o.Has("--show")) {
        if (o.values.size() > 1 || !o.flags.empty()) return KitError("stamp", "--show takes no other option", 2);
        return Show(o.Get("--show"));
    }
    if (!o.Has("--in") || !o.Has("--out") || !o.Has("--tag")) return KitError("stamp", "--in, --out and --tag are required", 2);
    if (o.Has("--address") && !o.Has("--name")) return KitError("stamp", "--address needs --name", 2);
    if (o.Has("--company") && !o.Has("--address")) return KitError("stamp", "--company needs --address", 2);
    if ((o.Has("--color") || o.Has("--start")) && !o.Has("--image")) return KitError("stamp", "--color and --start need --image", 2);

    StampFields f;
    f.versionTag = o.Get("--tag");
    f.downloadId = o.Get("--id");
    f.hasNames = o.Has("--name");
    f.name = o.Get("--name");
    f.address = o.Get("--address");
    f.company = o.Get("--company");
    std::string error;
    static const char* const kLabels[3] = {"--name", "--address", "--company"};
    if (!EncodeStampNames(f, kLabels, error)) return KitError("stamp", error);
    if (o.Has("--image")) {
        f.hasBranding = true;
        if (!ReadInput(o.Get("--image"), kMostImageBytes, f.image, error)) return KitError("stamp", error);
        unsigned rgb[3] = {0, 0, 0};
        unsigned xy[2] = {0, 0};
        if (o.Has("--color") && !ParsePair(o.Get("--color"), 255, 3, rgb))
            return KitError("stamp", "--color must be R,G,B with each 0 to 255");
        if (o.Has("--start") && !ParsePair(o.Get("--start"), 65535, 2, xy))
            return KitError("stamp", "--start must be X,Y with each 0 to 65535");
        f.red = rgb[0];
        f.green = rgb[1];
        f.blue = rgb[2];
        f.startX = xy[0];
        f.startY = xy[1];
    }
    std::string in = o.Get("--in");
    std::vector<unsigned char> program;
    if (!ReadInput(in, kMostProgramBytes, program, error)) return KitError("stamp", error);
    std::string why = StampProgram(program, f, o.Has("--replace"));
    if (!why.empty()) return KitError("stamp", in + ": " + why);
    struct stat st{};
    bool executable = in != "-" && stat(in.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
    if (!WriteOutput(o.Get("--out"), program, executable, error)) return KitError("stamp", error);
    return 0;
}
