// The store's statements, written once for every backend, and the table that picks a backend by
// the address's scheme.
#include "store/store.h"

#include <algorithm>
#include <cstdlib>

#include "store/postgresql/postgresql_store.h"
#include "store/sqlite/sqlite_store.h"

namespace {
// A backend opened for reading the funnel, or for an endpoint's records (flushSeconds: how long
// the last records may take to leave when the store is let go).
using OpenBackend = std::unique_ptr<StoreBackend> (*)(const std::string& address, bool forRecords, int flushSeconds,
                                                     std::string* why);

struct Scheme {
    const char* prefix;
    OpenBackend open;
};

// libpq's URIs name a PostgreSQL server (its other settings go in the query:
// ?host=/run/postgresql&sslmode=...). Any other address is an SQLite file's path.
const Scheme kSchemes[] = {{"postgresql://", OpenPostgresStore}, {"postgres://", OpenPostgresStore}};

OpenBackend BackendFor(const std::string& address) {
    for (const Scheme& s : kSchemes)
        if (address.rfind(s.prefix, 0) == 0) return s.open;
    return OpenSqliteStore;
}
}  // namespace

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

bool Store::Open(const std::string& path, std::string* why) {
    backend_ = BackendFor(path)(path, false, 0, why);
    return backend_ != nullptr;
}

bool Store::OpenForRecords(const std::string& path, int flushSeconds, std::string* why) {
    backend_ = BackendFor(path)(path, true, flushSeconds, why);
    return backend_ != nullptr;
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

bool Store::Prune(std::int64_t before, std::uint64_t* downloads, std::uint64_t* reports, std::string* why) {
    return backend_->Change("DELETE FROM downloads WHERE at < $1", before, downloads, why) &&
           backend_->Change("DELETE FROM reports WHERE at < $1", before, reports, why);
}
