// loaderkit download: the per-download stamping endpoint. GET /download?tag=TAG answers the
// operator's signed program with a stamp carrying TAG and a fresh download id. A web server runs
// it as a resident FastCGI responder (--fastcgi) or as a CGI program. It keeps no state: the id
// is 80 bits from the system's random source, so any number of processes and machines can
// answer side by side. The program, the names and the file name come from the server's
// configuration (parameters and environment variables that it sets), never from the request.
// An answer is built whole before any byte of it leaves, so a refused or failed request never
// carries program bytes.
#include "endpoint/answer.h"

#include "endpoint/download_query.h"
#include "endpoint/report_query.h"
#include "stamping/stamping.h"
#include "util/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/random.h>
#include <vector>

namespace {
// How long the records that wait for a PostgreSQL store may take to reach it when a worker or a
// CGI process ends (after its answers have gone): well within a responder's 30 s stop.
constexpr int kFlushSeconds = 10;

constexpr std::size_t kIdRandomBytes = 10;  // 80 bits, written as 20 hex digits: the id field's size

struct Answer {
    int status = 200;
    std::string headers;
    std::vector<unsigned char> body;
};

const char* Reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    default: return "Internal Server Error";
    }
}

Answer TextAnswer(int status, const std::string& line) {
    Answer a;
    a.status = status;
    a.headers = "Content-Type: text/plain; charset=us-ascii\r\nCache-Control: no-store\r\n";
    if (status == 405) a.headers += "Allow: GET, HEAD\r\n";
    a.body.assign(line.begin(), line.end());
    a.body.push_back('\n');
    return a;
}

bool FreshDownloadId(std::string* id) {
    unsigned char random[kIdRandomBytes];
    std::size_t got = 0;
    while (got < sizeof random) {
        ssize_t n = getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    id->clear();
    for (unsigned char b : random) {
        *id += kHex[b >> 4];
        *id += kHex[b & 15];
    }
    return true;
}

// A file name that stays one quoted header parameter and one plain file name on any system.
bool PlainDownloadName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name) {
        if (!TagCharacter(c) && c != '_' && c != '.' && c != ' ') return false;
    }
    return name[0] != '.' && name[0] != ' ';
}

std::string DefaultDownloadName(const std::string& program) {
    std::string name = program.substr(program.find_last_of('/') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
    return name;
}

// The stamped copy, or a 500 whose reason goes to the error log.
// A row into the store named by LOADERKIT_DATABASE, opened when first needed and again after it
// failed. A store that cannot take the row costs the row and a log line, never the answer.
template <typename Add>
void Record(const RequestParams& param, Store* store, std::string* logLine, Add add) {
    std::string why;
    if (!store->IsOpen()) {
        std::string path = param("LOADERKIT_DATABASE");
        if (path.empty() || !store->OpenForRecords(path, kFlushSeconds, &why)) {
            if (!path.empty()) *logLine = "the store cannot be opened, the record is lost: " + why;
            return;
        }
    }
    if (!add(&why) && !why.empty()) *logLine = "the store cannot take a record, which is lost: " + why;
}

// A loader's report: 204 and one row in the store, or 400 and nothing stored.
Answer TakeReport(const RequestParams& param, Store* store, std::string* logLine) {
    Report report;
    std::string why;
    if (param("REQUEST_METHOD") != "GET") return TextAnswer(400, "reports are GET requests");
    if (!ReadReport(param("QUERY_STRING"), &report, &why)) return TextAnswer(400, why);
    if (store != nullptr) Record(param, store, logLine, [&](std::string* failed) {
        return store->AddReport(report, std::time(nullptr), failed);
    });
    Answer a;
    a.status = 204;
    a.headers = "Cache-Control: no-store\r\n";
    return a;
}

Answer StampedCopy(const RequestParams& param, const std::string& tag, ProgramCache* cache, Store* store,
                   std::string* logLine) {
    std::string program = param("LOADERKIT_PROGRAM");
    std::string fileName = param("LOADERKIT_FILE_NAME");
    if (fileName.empty()) fileName = DefaultDownloadName(program);
    StampFields f;
    f.versionTag = tag;
    f.hasNames = !param("LOADERKIT_NAME").empty();
    f.name = param("LOADERKIT_NAME");
    f.address = param("LOADERKIT_ADDRESS");
    f.company = param("LOADERKIT_COMPANY");
    std::string error;
    if (program.empty()) error = "LOADERKIT_PROGRAM is not set";
    else if (!PlainDownloadName(fileName))
        error = "the download's file name '" + fileName + "' is not 1 to 64 letters, digits, '-', '_', '.' or spaces";
    else if (!f.hasNames && (!f.address.empty() || !f.company.empty()))
        error = "LOADERKIT_ADDRESS and LOADERKIT_COMPANY need LOADERKIT_NAME";
    else if (f.company.size() > 0 && f.address.empty())
        error = "LOADERKIT_COMPANY needs LOADERKIT_ADDRESS";
    std::string image = param("LOADERKIT_IMAGE");
    if (error.empty() && !image.empty()) {
        f.hasBranding = true;
        ReadRegularFile(image, kMostImageBytes, f.image, error);
    }
    static const char* const kLabels[3] = {"LOADERKIT_NAME", "LOADERKIT_ADDRESS", "LOADERKIT_COMPANY"};
    if (error.empty()) EncodeStampNames(f, kLabels, error);
    if (error.empty() && !FreshDownloadId(&f.downloadId)) error = std::string("no random id: ") + std::strerror(errno);
    std::vector<unsigned char> copy;
    bool read = error.empty() && (cache != nullptr ? RefreshRegularFile(program, kMostProgramBytes, cache->identity,
                                                                        cache->bytes, error)
                                                   : ReadRegularFile(program, kMostProgramBytes, copy, error));
    if (read && cache != nullptr) copy = cache->bytes;
    if (read) {
        std::string why = StampProgram(copy, f, false);
        if (!why.empty()) error = program + ": " + why;
    }
    if (!error.empty()) {
        *logLine = error;
        return TextAnswer(500, "the download cannot be served now");
    }
    if (store != nullptr && param("REQUEST_METHOD") == "GET") Record(param, store, logLine, [&](std::string* why) {
        return store->AddDownload(f.downloadId, tag, std::time(nullptr), why);
    });
    Answer a;
    a.headers = "Content-Type: application/octet-stream\r\n"
                "Content-Disposition: attachment; filename=\"" + fileName + ".exe\"\r\n"
                "Cache-Control: no-store\r\n"
                "X-Download-Id: " + f.downloadId + "\r\n";
    a.body.swap(copy);
    return a;
}

Answer Respond(const RequestParams& param, ProgramCache* cache, Store* store, std::string* logLine) {
    std::string method = param("REQUEST_METHOD");
    // nginx gives the path without the query as DOCUMENT_URI; other servers as SCRIPT_NAME plus
    // PATH_INFO.
    std::string path = param("DOCUMENT_URI");
    if (path.empty()) path = param("SCRIPT_NAME") + param("PATH_INFO");
    if (path == "/report") return TakeReport(param, store, logLine);
    if (path != "/download") return TextAnswer(404, "not found");
    if (method != "GET" && method != "HEAD") return TextAnswer(405, "only GET and HEAD");
    std::string why;
    std::string tag = TagFromQuery(param("QUERY_STRING"), &why);
    if (tag.empty()) return TextAnswer(400, why);
    return StampedCopy(param, tag, cache, store, logLine);
}
}  // namespace

std::string AnswerDownload(const RequestParams& params, ProgramCache* cache, Store* store, std::string* logLine) {
    Answer a = Respond(params, cache, store, logLine);
    std::string head = "Status: " + std::to_string(a.status) + " " + Reason(a.status) + "\r\n" + a.headers +
                       (a.status == 204 ? "" : "Content-Length: " + std::to_string(a.body.size()) + "\r\n") + "\r\n";
    if (params("REQUEST_METHOD") != "HEAD") head.append(a.body.begin(), a.body.end());
    return head;
}

