// The store in SQLite. Every worker opens its own connection; the write-ahead log lets them
// write at once, and a busy time-out lets one wait for another's moment of writing instead of
// failing. The time-out is short: a store that cannot take a row in time loses that row, never
// the download.
#include "store.h"

#include <sqlite3.h>

namespace {
constexpr int kBusyMs = 1000;
constexpr int kSchemaVersion = 1;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS downloads (at INTEGER NOT NULL, id TEXT NOT NULL, tag TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS reports (at INTEGER NOT NULL, event TEXT NOT NULL, outcome TEXT NOT NULL,"
    " id TEXT NOT NULL, tag TEXT NOT NULL, lang TEXT NOT NULL, os TEXT NOT NULL, wow64 INTEGER NOT NULL,"
    " build TEXT NOT NULL, bytes INTEGER, total INTEGER, discover_ms INTEGER, download_ms INTEGER,"
    " http INTEGER, error INTEGER, attempts INTEGER);"
    "CREATE INDEX IF NOT EXISTS downloads_at ON downloads (at);"
    "CREATE INDEX IF NOT EXISTS reports_at ON reports (at);";

// A statement, finalized however the function that made it ends.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

bool Failed(sqlite3* db, std::string* why) {
    *why = sqlite3_errmsg(db);
    return false;
}
}  // namespace

Store::~Store() { sqlite3_close(db_); }

bool Store::Run(const char* sql, std::string* why) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    *why = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    return false;
}

bool Store::Open(const std::string& path, std::string* why) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        *why = path + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open");
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyMs);
    int have = -1;
    {
        Statement version;  // finalized before the schema is touched: it holds a read transaction
        if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version.s, nullptr) == SQLITE_OK &&
            sqlite3_step(version.s) == SQLITE_ROW)
            have = sqlite3_column_int(version.s, 0);
    }
    // A store written by a later release has a schema this one does not know: it is left alone.
    bool ok = have >= 0 && have <= kSchemaVersion && Run("PRAGMA journal_mode=WAL", why) &&
              Run("PRAGMA synchronous=NORMAL", why) && Run(kSchema, why) &&
              Run(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), why);
    if (have < 0) *why = sqlite3_errmsg(db_);
    if (have > kSchemaVersion) *why = "its schema version " + std::to_string(have) + " is newer than this loaderkit's";
    if (!ok) {
        *why = path + ": " + *why;
        sqlite3_close(db_);
        db_ = nullptr;
    }
    return ok;
}

bool Store::AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why) {
    Statement st;
    if (sqlite3_prepare_v2(db_, "INSERT INTO downloads VALUES (?, ?, ?)", -1, &st.s, nullptr) != SQLITE_OK)
        return Failed(db_, why);
    sqlite3_bind_int64(st.s, 1, at);
    sqlite3_bind_text(st.s, 2, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st.s, 3, tag.c_str(), -1, SQLITE_TRANSIENT);
    return sqlite3_step(st.s) == SQLITE_DONE || Failed(db_, why);
}

bool Store::AddReport(const Report& r, std::int64_t at, std::string* why) {
    Statement st;
    if (sqlite3_prepare_v2(db_, "INSERT INTO reports VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1, &st.s,
                           nullptr) != SQLITE_OK)
        return Failed(db_, why);
    sqlite3_bind_int64(st.s, 1, at);
    const std::string* texts[] = {&r.event, &r.outcome, &r.id, &r.tag, &r.lang, &r.os};
    for (int k = 0; k < 6; ++k) sqlite3_bind_text(st.s, 2 + k, texts[k]->c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st.s, 8, r.wow64);
    sqlite3_bind_text(st.s, 9, r.build.c_str(), -1, SQLITE_TRANSIENT);
    if (r.event == "end") {
        const std::uint32_t numbers[] = {r.bytes, r.total, r.discoverMs, r.downloadMs, r.http, r.error, r.attempts};
        for (int k = 0; k < 7; ++k) sqlite3_bind_int64(st.s, 10 + k, numbers[k]);
    }
    return sqlite3_step(st.s) == SQLITE_DONE || Failed(db_, why);
}

bool Store::Funnel(const std::string& by, std::int64_t since, std::int64_t until, std::vector<FunnelRow>* rows,
                   std::string* why) {
    if (by != "tag" && by != "lang" && by != "os" && by != "build") return *why = "no such grouping: " + by, false;
    // The key is one of four column names checked above, never text from outside.
    std::string sql =
        "SELECT key, SUM(served), SUM(chosen), SUM(cancelled), SUM(started), SUM(m3), SUM(m4), SUM(m5), SUM(m7),"
        " SUM(ended) FROM ("
        " SELECT " + std::string(by == "tag" ? "tag" : "NULL") + " AS key, 1 AS served, 0 AS chosen, 0 AS cancelled,"
        "  0 AS started, 0 AS m3, 0 AS m4, 0 AS m5, 0 AS m7, 0 AS ended FROM downloads WHERE at >= ?1 AND at < ?2"
        " UNION ALL SELECT " + by + ", 0, event = 'chosen', event = 'cancelled', outcome = 'installer-started',"
        "  outcome = 'message-3', outcome = 'message-4', outcome = 'message-5', outcome = 'message-7', event = 'end'"
        "  FROM reports WHERE at >= ?1 AND at < ?2)"
        " WHERE key IS NOT NULL GROUP BY key ORDER BY key";
    Statement st;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK) return Failed(db_, why);
    sqlite3_bind_int64(st.s, 1, since);
    sqlite3_bind_int64(st.s, 2, until);
    rows->clear();
    int step;
    while ((step = sqlite3_step(st.s)) == SQLITE_ROW) {
        FunnelRow row;
        const unsigned char* key = sqlite3_column_text(st.s, 0);
        row.key = key != nullptr ? reinterpret_cast<const char*>(key) : "";
        std::uint64_t* counts[] = {&row.served, &row.chosen, &row.cancelled, &row.installerStarted,
                                   &row.message3, &row.message4, &row.message5, &row.message7};
        for (int k = 0; k < 8; ++k) *counts[k] = static_cast<std::uint64_t>(sqlite3_column_int64(st.s, 1 + k));
        std::uint64_t ended = static_cast<std::uint64_t>(sqlite3_column_int64(st.s, 9));
        // Chosen but never ended: killed, crashed, or the end report lost with the network.
        row.noEnd = row.chosen > ended ? row.chosen - ended : 0;
        rows->push_back(row);
    }
    return step == SQLITE_DONE || Failed(db_, why);
}

bool Store::Daily(std::int64_t since, std::int64_t until, std::vector<DayRow>* rows, std::string* why) {
    Statement st;
    if (sqlite3_prepare_v2(db_,
                           "SELECT day, SUM(served), SUM(started) FROM ("
                           " SELECT date(at, 'unixepoch') AS day, 1 AS served, 0 AS started FROM downloads"
                           "  WHERE at >= ?1 AND at < ?2"
                           " UNION ALL SELECT date(at, 'unixepoch'), 0, 1 FROM reports"
                           "  WHERE at >= ?1 AND at < ?2 AND outcome = 'installer-started')"
                           " GROUP BY day ORDER BY day",
                           -1, &st.s, nullptr) != SQLITE_OK)
        return Failed(db_, why);
    sqlite3_bind_int64(st.s, 1, since);
    sqlite3_bind_int64(st.s, 2, until);
    rows->clear();
    int step;
    while ((step = sqlite3_step(st.s)) == SQLITE_ROW) {
        DayRow row;
        row.day = reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0));
        row.served = static_cast<std::uint64_t>(sqlite3_column_int64(st.s, 1));
        row.installerStarted = static_cast<std::uint64_t>(sqlite3_column_int64(st.s, 2));
        rows->push_back(row);
    }
    return step == SQLITE_DONE || Failed(db_, why);
}

bool Store::Prune(std::int64_t before, std::uint64_t* downloads, std::uint64_t* reports, std::string* why) {
    std::uint64_t* counts[] = {downloads, reports};
    const char* const sql[] = {"DELETE FROM downloads WHERE at < ?", "DELETE FROM reports WHERE at < ?"};
    for (int k = 0; k < 2; ++k) {
        Statement st;
        if (sqlite3_prepare_v2(db_, sql[k], -1, &st.s, nullptr) != SQLITE_OK) return Failed(db_, why);
        sqlite3_bind_int64(st.s, 1, before);
        if (sqlite3_step(st.s) != SQLITE_DONE) return Failed(db_, why);
        *counts[k] = static_cast<std::uint64_t>(sqlite3_changes(db_));
    }
    return true;
}
