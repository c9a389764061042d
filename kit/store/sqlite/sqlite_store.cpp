// The store in SQLite (the system's libsqlite3, write-ahead log). Every worker opens its own
// connection; the write-ahead log lets them write at once, and a busy time-out lets one wait for
// another's moment of writing instead of failing. The time-out is short: a store that cannot
// take a row in time loses that row, never the download.
#include "store/sqlite/sqlite_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr int kBusyMs = 1000;

// A statement, finalized however the function that made it ends.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

class SqliteStore final : public StoreBackend {
  public:
    explicit SqliteStore(sqlite3* db) : db_(db) {}
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;
    ~SqliteStore() override { sqlite3_close(db_); }

    bool AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why) override {
        Statement st;
        if (sqlite3_prepare_v2(db_, "INSERT INTO downloads VALUES (?, ?, ?)", -1, &st.s, nullptr) != SQLITE_OK)
            return Failed(why);
        sqlite3_bind_int64(st.s, 1, at);
        sqlite3_bind_text(st.s, 2, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st.s, 3, tag.c_str(), -1, SQLITE_TRANSIENT);
        return sqlite3_step(st.s) == SQLITE_DONE || Failed(why);
    }

    bool AddReport(const Report& r, std::int64_t at, std::string* why) override {
        Statement st;
        if (sqlite3_prepare_v2(db_, "INSERT INTO reports VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1, &st.s,
                               nullptr) != SQLITE_OK)
            return Failed(why);
        sqlite3_bind_int64(st.s, 1, at);
        const std::string* texts[] = {&r.event, &r.outcome, &r.id, &r.tag, &r.lang, &r.os};
        for (int k = 0; k < 6; ++k) sqlite3_bind_text(st.s, 2 + k, texts[k]->c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st.s, 8, r.wow64);
        sqlite3_bind_text(st.s, 9, r.build.c_str(), -1, SQLITE_TRANSIENT);
        if (r.event == "end") {  // the numbers of other events stay NULL
            const std::uint32_t numbers[] = {r.bytes, r.total, r.discoverMs, r.downloadMs, r.http, r.error, r.attempts};
            for (int k = 0; k < 7; ++k) sqlite3_bind_int64(st.s, 10 + k, numbers[k]);
        }
        return sqlite3_step(st.s) == SQLITE_DONE || Failed(why);
    }

    bool Select(const std::string& sql, const std::vector<std::int64_t>& params,
                std::vector<std::vector<std::string>>* rows, std::string* why) override {
        Statement st;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK) return Failed(why);
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
        return step == SQLITE_DONE || Failed(why);
    }

    bool Change(const char* sql, std::int64_t param, std::uint64_t* changed, std::string* why) override {
        Statement st;
        if (sqlite3_prepare_v2(db_, sql, -1, &st.s, nullptr) != SQLITE_OK) return Failed(why);
        sqlite3_bind_int64(st.s, 1, param);
        if (sqlite3_step(st.s) != SQLITE_DONE) return Failed(why);
        *changed = static_cast<std::uint64_t>(sqlite3_changes(db_));
        return true;
    }

    const char* RowKey() const override { return "rowid"; }
    const char* DayOfAt() const override { return "date(at, 'unixepoch')"; }

  private:
    bool Failed(std::string* why) {
        *why = sqlite3_errmsg(db_);
        return false;
    }
    sqlite3* db_;
};

bool Run(sqlite3* db, const std::string& sql, std::string* why) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    *why = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    return false;
}

// The store's schema version (0: none yet), or -1 with *why; reading it writes nothing.
int SchemaVersion(sqlite3* db, std::string* why) {
    Statement version;  // finalized on return: it holds a read transaction
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version.s, nullptr) == SQLITE_OK &&
        sqlite3_step(version.s) == SQLITE_ROW)
        return sqlite3_column_int(version.s, 0);
    *why = sqlite3_errmsg(db);
    return -1;
}

// A read-only file in a folder this account cannot write (a backup), in write-ahead-log mode,
// cannot have the log's index made beside it; with no writer there (a writer would have made
// it), the file is read as it is.
sqlite3* OpenAsItIs(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
                     c == '.' || c == '-' || c == '_';
        static const char kHex[] = "0123456789ABCDEF";
        if (plain) uri += static_cast<char>(c);
        else uri += '%', uri += kHex[c >> 4], uri += kHex[c & 15];
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((uri + "?immutable=1").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                        nullptr) == SQLITE_OK)
        return db;
    sqlite3_close(db);
    return nullptr;
}
}  // namespace

std::unique_ptr<StoreBackend> OpenSqliteStore(const std::string& path, StoreUse use, int, std::string* why) {
    const bool records = use == StoreUse::kRecords;
    const int flags = use == StoreUse::kReading ? SQLITE_OPEN_READONLY
                      : records                 ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                                : SQLITE_OPEN_READWRITE;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        bool missing = !records && access(path.c_str(), F_OK) != 0 && errno == ENOENT;
        *why = path + ": " + (missing ? "no such store" : db != nullptr ? sqlite3_errmsg(db) : "cannot open");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyMs);
    int have = SchemaVersion(db, why);
    const int failed = sqlite3_errcode(db);
    if (have < 0 && use == StoreUse::kReading && (failed == SQLITE_READONLY || failed == SQLITE_CANTOPEN)) {
        sqlite3* asItIs = OpenAsItIs(path);
        if (asItIs != nullptr) {
            sqlite3_close(db);
            db = asItIs;
            have = SchemaVersion(db, why);
        }
    }
    // A connection's own setting, written nowhere: the write-ahead log makes it safe.
    bool ok = have >= 0 && have <= kSchemaVersion && Run(db, "PRAGMA synchronous=NORMAL", why);
    // The schema is made once, by the first record's open; every later open only reads its
    // version. The first opens of several workers at once take turns, and each but the first
    // finds it made.
    if (ok && have == 0 && records) {
        ok = Run(db, "PRAGMA journal_mode=WAL", why) && Run(db, "BEGIN IMMEDIATE", why);
        if (ok && (have = SchemaVersion(db, why)) == 0)
            ok = Run(db, SchemaStatements("INTEGER", ""), why) &&
                 Run(db, "PRAGMA user_version=" + std::to_string(kSchemaVersion), why);
        ok = ok && have >= 0 && have <= kSchemaVersion && Run(db, "COMMIT", why);
        if (!ok) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    } else if (ok && have == 0) {
        *why = "not a loaderkit store (no schema): the endpoint makes it with its first record";
        ok = false;
    }
    if (have > kSchemaVersion) *why = "its schema version " + std::to_string(have) + " is newer than this loaderkit's";
    if (!ok) {
        *why = path + ": " + *why;
        sqlite3_close(db);
        return nullptr;
    }
    return std::make_unique<SqliteStore>(db);
}
