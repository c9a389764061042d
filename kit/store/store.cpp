// The store's statements, written once for every backend, and the table that picks a backend by
// the address's scheme.
#include "store/store.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "store/postgresql/postgresql_store.h"
#include "store/sqlite/sqlite_store.h"

namespace {
// A backend opened for its use (flushSeconds: how long an endpoint's last records may take to
// leave when the store is let go).
using OpenBackend = std::unique_ptr<StoreBackend> (*)(const std::string& address, StoreUse use, int flushSeconds,
                                                     std::string* why);

struct Scheme {
    const char* prefix;
    OpenBackend open;
};

// libpq's URIs name a PostgreSQL server (its other settings go in the query:
// ?host=/run/postgresql&sslmode=...). Any other address is an SQLite file's path.
const Scheme kSchemes[] = {{"postgresql://", OpenPostgresStore}, {"postgres://", OpenPostgresStore}};

// A scheme is read whatever its case, as in any URI: PostgreSQL://... is a server, never a file
// named so with its password in its name. libpq knows only the lower-case form, which *address
// is given.
OpenBackend BackendFor(std::string* address) {
    for (const Scheme& s : kSchemes) {
        std::size_t n = std::char_traits<char>::length(s.prefix);
        if (address->size() < n) continue;
        std::string head = address->substr(0, n);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (head != s.prefix) continue;
        address->replace(0, n, head);
        return s.open;
    }
    return OpenSqliteStore;
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The text with its well-formed %XX decoded, the rest as it is.
std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        int high = k + 2 < text.size() && text[k] == '%' ? HexValue(text[k + 1]) : -1;
        int low = high >= 0 ? HexValue(text[k + 2]) : -1;
        if (low >= 0) out += static_cast<char>(high * 16 + low), k += 2;
        else out += text[k];
    }
    return out;
}
}  // namespace

std::string WithoutSecrets(std::string message, const std::string& address) {
    const std::string hidden = "(hidden)";
    std::vector<std::string> secrets;
    std::string shown = address;
    // The user info: after the scheme, up to its last '@' before the query, however malformed
    // the rest is (libpq stops at the first '@'; a password with an '@' of its own is hidden whole).
    std::size_t scheme = address.find("://");
    if (scheme != std::string::npos) {
        std::size_t start = scheme + 3, query = address.find('?', start);
        std::size_t at = address.rfind('@', query == std::string::npos ? std::string::npos : query);
        if (at != std::string::npos && at >= start) {
            // A user's name alone is no secret (a message may name the user); with a password
            // it is hidden too, as the two are quoted together.
            std::string info = address.substr(start, at - start);
            std::size_t colon = info.find(':');
            if (colon != std::string::npos) secrets.push_back(info), secrets.push_back(info.substr(colon + 1));
            shown.erase(start, at + 1 - start);
        }
    }
    // password=VALUE, in a URI's query or a key=value string, up to '&', a space or its quote.
    std::string lower = address;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t at = lower.find("password="); at != std::string::npos; at = lower.find("password=", at + 1)) {
        std::size_t start = at + 9, end;
        if (start < address.size() && address[start] == '\'') {
            end = address.find('\'', start + 1);
            end = end == std::string::npos ? address.size() : end + 1;
        } else {
            end = address.find_first_of("& ", start);
            if (end == std::string::npos) end = address.size();
        }
        secrets.push_back(address.substr(start, end - start));
    }
    for (const std::string& s : std::vector<std::string>(secrets)) secrets.push_back(PercentDecoded(s));
    ReplaceAll(&message, address, shown);
    // The longest first: a password inside the user info is hidden with it, not piece by piece.
    std::sort(secrets.begin(), secrets.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& s : secrets) ReplaceAll(&message, s, hidden);
    return message;
}

std::string SchemaStatements(const char* bigInteger, const char* rowKey) {
    const std::string big = bigInteger, key = rowKey;
    return "CREATE TABLE IF NOT EXISTS downloads (" + key + "at " + big + " NOT NULL, id TEXT NOT NULL, tag TEXT NOT NULL);"
           "CREATE TABLE IF NOT EXISTS reports (" + key + "at " + big + " NOT NULL, event TEXT NOT NULL, outcome TEXT NOT NULL,"
           " id TEXT NOT NULL, tag TEXT NOT NULL, lang TEXT NOT NULL, os TEXT NOT NULL, wow64 INTEGER NOT NULL,"
           " build TEXT NOT NULL, bytes " + big + ", total " + big + ", discover_ms " + big + ", download_ms " + big +
           ", http " + big + ", error " + big + ", attempts " + big + ");"
           "CREATE INDEX IF NOT EXISTS downloads_at ON downloads (at);"
           "CREATE INDEX IF NOT EXISTS reports_at ON reports (at);";
}

Store::Store() = default;
Store::~Store() = default;

bool Store::OpenFor(const std::string& path, StoreUse use, int flushSeconds, std::string* why) {
    std::string address = path;
    backend_ = BackendFor(&address)(address, use, flushSeconds, why);
    if (!backend_) *why = WithoutSecrets(*why, address);
    return backend_ != nullptr;
}

bool Store::Open(const std::string& path, std::string* why) { return OpenFor(path, StoreUse::kReading, 0, why); }

bool Store::OpenForPruning(const std::string& path, std::string* why) {
    return OpenFor(path, StoreUse::kPruning, 0, why);
}

bool Store::OpenForRecords(const std::string& path, int flushSeconds, std::string* why) {
    return OpenFor(path, StoreUse::kRecords, flushSeconds, why);
}

bool Store::AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why) {
    return backend_->AddDownload(id, tag, at, why);
}

bool Store::AddReport(const Report& r, std::int64_t at, std::string* why) { return backend_->AddReport(r, at, why); }

bool Store::Funnel(const std::string& by, std::int64_t since, std::int64_t until, std::vector<FunnelRow>* rows,
                   std::string* why) {
    if (by != "tag" && by != "lang" && by != "os" && by != "build") return *why = "no such grouping: " + by, false;
    // The key is one of four column names checked above, never text from outside. The same
    // statement reads SQLite and PostgreSQL.
    std::string sql =
        "SELECT key, SUM(served), SUM(chosen), SUM(cancelled), SUM(started), SUM(m3), SUM(m4), SUM(m5), SUM(m7),"
        " SUM(ended) FROM ("
        " SELECT " + std::string(by == "tag" ? "tag" : "NULL") + " AS key, 1 AS served, 0 AS chosen, 0 AS cancelled,"
        "  0 AS started, 0 AS m3, 0 AS m4, 0 AS m5, 0 AS m7, 0 AS ended FROM downloads WHERE at >= $1 AND at < $2"
        " UNION ALL SELECT " + by + ", 0, CAST(event = 'chosen' AS INTEGER), CAST(event = 'cancelled' AS INTEGER),"
        "  CAST(outcome = 'installer-started' AS INTEGER), CAST(outcome = 'message-3' AS INTEGER),"
        "  CAST(outcome = 'message-4' AS INTEGER), CAST(outcome = 'message-5' AS INTEGER),"
        "  CAST(outcome = 'message-7' AS INTEGER), CAST(event = 'end' AS INTEGER)"
        "  FROM reports WHERE at >= $1 AND at < $2) AS records"
        " WHERE key IS NOT NULL GROUP BY key";
    std::vector<std::vector<std::string>> found;
    if (!backend_->Select(sql, {since, until}, &found, why)) return false;
    rows->clear();
    for (const std::vector<std::string>& f : found) {
        FunnelRow row;
        row.key = f[0];
        std::uint64_t* counts[] = {&row.served, &row.chosen, &row.cancelled, &row.installerStarted,
                                   &row.message3, &row.message4, &row.message5, &row.message7};
        for (int k = 0; k < 8; ++k) *counts[k] = std::strtoull(f[1 + k].c_str(), nullptr, 10);
        std::uint64_t ended = std::strtoull(f[9].c_str(), nullptr, 10);
        // Chosen but never ended: killed, crashed, or the end report lost with the network.
        row.noEnd = row.chosen > ended ? row.chosen - ended : 0;
        rows->push_back(row);
    }
    // Byte order, whatever collation a PostgreSQL database sorts text by.
    std::sort(rows->begin(), rows->end(), [](const FunnelRow& a, const FunnelRow& b) { return a.key < b.key; });
    return true;
}

bool Store::Daily(std::int64_t since, std::int64_t until, std::vector<DayRow>* rows, std::string* why) {
    const std::string day = backend_->DayOfAt();
    std::vector<std::vector<std::string>> found;
    if (!backend_->Select("SELECT day, SUM(served), SUM(started) FROM ("
                " SELECT " + day + " AS day, 1 AS served, 0 AS started FROM downloads WHERE at >= $1 AND at < $2"
                " UNION ALL SELECT " + day + ", 0, 1 FROM reports"
                "  WHERE at >= $1 AND at < $2 AND outcome = 'installer-started') AS records"
                " GROUP BY day ORDER BY day",
                {since, until}, &found, why))
        return false;
    rows->clear();
    for (const std::vector<std::string>& f : found) {
        DayRow row;
        row.day = f[0];
        row.served = std::strtoull(f[1].c_str(), nullptr, 10);
        row.installerStarted = std::strtoull(f[2].c_str(), nullptr, 10);
        rows->push_back(row);
    }
    return true;
}

bool Store::Prune(std::int64_t before, std::uint64_t* downloads, std::uint64_t* reports, std::string* why,
                  std::uint64_t batch) {
    // Longer than the longest sleep of SQLite's busy handler between two tries (100 ms): every
    // writer waiting on a batch tries again, and succeeds, before the next batch begins.
    constexpr std::chrono::milliseconds kPause(120);
    batch = std::max<std::uint64_t>(batch, 1);
    std::uint64_t* counts[] = {downloads, reports};
    const char* const tables[] = {"downloads", "reports"};
    for (int t = 0; t < 2; ++t) {
        const std::string table = tables[t], key = backend_->RowKey();
        const std::string sql = "DELETE FROM " + table + " WHERE " + key + " IN (SELECT " + key + " FROM " + table +
                                " WHERE at < $1 LIMIT " + std::to_string(batch) + ")";
        *counts[t] = 0;
        for (std::uint64_t changed = batch; changed == batch;) {
            if (!backend_->Change(sql.c_str(), before, &changed, why)) return false;
            *counts[t] += changed;
            if (changed == batch) std::this_thread::sleep_for(kPause);
        }
    }
    return true;
}
