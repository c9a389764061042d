// The download endpoint's answer, shared by the CGI program and the resident FastCGI responder
// (fastcgi_responder.h).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "util/files.h"
#include "store/store.h"

// A request's value by name: CGI's environment, or a FastCGI request's parameters.
using RequestParams = std::function<std::string(const char*)>;

// The program as a resident responder keeps it: read once, and again only when the file changes.
struct ProgramCache {
    FileIdentity identity;
    std::vector<unsigned char> bytes;
};

// The whole answer to the request that params describe, as CGI and FastCGI write it: a Status
// header, the other headers, Content-Length, and the body unless the method is HEAD. cache
// (null: read the program anew) keeps the program between requests. A reason for a 500 goes
// into logLine, for the server's error log. GET /report takes a loader's report (204, or 400
// for anything but exactly a report). store (null: nothing recorded) gets a row per copy served
// and per report, opened from LOADERKIT_DATABASE when first needed; one it cannot write costs
// the row and a line in logLine, never the answer.
std::string AnswerDownload(const RequestParams& params, ProgramCache* cache, Store* store, std::string* logLine);
