// The store in SQLite. Every worker opens its own connection; the write-ahead log lets them
// write at once, and a busy time-out lets one wait for another's moment of writing instead of
// failing. The time-out is short: a store that cannot take a row in time loses that row, never
// the download.
#include "store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>

#include "store_postgresql.h"

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

Store::Store() = default;
Store::~Store() { sqlite3_close(db_); }

bool Store::Run(const char* sql, std::string* why) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    *why = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    return false;
}

bool Store::OpenForRecords(const std::string& path, int flushSeconds, std::string* why) {
    if (!IsPostgresAddress(path)) return Open(path, why);
    pg_ = std::make_unique<PostgresStore>(path);
    pg_->SetFlushSeconds(flushSeconds);
    if (!pg_->Check(why)) pg_.reset();
    return pg_ != nullptr;
}

bool Store::Open(const std::string& path, std::string* why) {
    if (IsPostgresAddress(path)) {
        pg_ = std::make_unique<PostgresStore>(path);
        if (!pg_->Connect(why)) pg_.reset();
        return pg_ != nullptr;
    }
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
    if (pg_) return pg_->Queue({false, {std::to_string(at), id, tag}}, why);
    Statement st;
    if (sqlite3_prepare_v2(db_, "INSERT INTO downloads VALUES (?, ?, ?)", -1, &st.s, nullptr) != SQLITE_OK)
        return Failed(db_, why);
    sqlite3_bind_int64(st.s, 1, at);
    sqlite3_bind_text(st.s, 2, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st.s, 3, tag.c_str(), -1, SQLITE_TRANSIENT);
    return sqlite3_step(st.s) == SQLITE_DONE || Failed(db_, why);
}

bool Store::AddReport(const Report& r, std::int64_t at, std::string* why) {
    if (pg_) {
        PendingRecord record{true, {std::to_string(at), r.event, r.outcome, r.id, r.tag, r.lang, r.os,
                                    std::to_string(r.wow64), r.build}};
        for (std::uint32_t n : {r.bytes, r.total, r.discoverMs, r.downloadMs, r.http, r.error, r.attempts})
            record.values.push_back(r.event == "end" ? std::optional<std::string>(std::to_string(n)) : std::nullopt);
        return pg_->Queue(std::move(record), why);
    }
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

// Rows of a reading as text, NULL as "", from either store; params bind $1, $2, ...
bool Store::Select(const std::string& sql, const std::vector<std::int64_t>& params,
                   std::vector<std::vector<std::string>>* rows, std::string* why) {
    std::vector<std::string> texts;
    for (std::int64_t p : params) texts.push_back(std::to_string(p));
    if (pg_) return pg_->Run(sql, texts, rows, nullptr, why);
    Statement st;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK) return Failed(db_, why);
    for (std::size_t k = 0; k < params.size(); ++k) sqlite3_bind_int64(st.s, static_cast<int>(k + 1), params[k]);
    rows->clear();
    int step;
    while ((step = sqlite3_step(st.s)) == SQLITE_ROW) {
        rows->emplace_back();
        for (int k = 0; k < sqlite3_column_count(st.s); ++k) {
            const unsigned char* text = sqlite3_column_text(st.s, k);
            rows->back().push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
    }
    return step == SQLITE_DONE || Failed(db_, why);
}

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
    if (!Select(sql, {since, until}, &found, why)) return false;
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
    std::string day = pg_ ? "to_char(to_timestamp(at) AT TIME ZONE 'UTC', 'YYYY-MM-DD')" : "date(at, 'unixepoch')";
    std::vector<std::vector<std::string>> found;
    if (!Select("SELECT day, SUM(served), SUM(started) FROM ("
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
    std::uint64_t* counts[] = {downloads, reports};
    const char* const sql[] = {"DELETE FROM downloads WHERE at < $1", "DELETE FROM reports WHERE at < $1"};
    for (int k = 0; k < 2; ++k) {
        if (pg_) {
            if (!pg_->Run(sql[k], {std::to_string(before)}, nullptr, counts[k], why)) return false;
            continue;
        }
        Statement st;
        if (sqlite3_prepare_v2(db_, sql[k], -1, &st.s, nullptr) != SQLITE_OK) return Failed(db_, why);
        sqlite3_bind_int64(st.s, 1, before);
        if (sqlite3_step(st.s) != SQLITE_DONE) return Failed(db_, why);
        *counts[k] = static_cast<std::uint64_t>(sqlite3_changes(db_));
    }
    return true;
}
