// The store in PostgreSQL, through the system's libpq. Each record carries a key of its own (this
// worker's random token and a count), and a row whose key the server already has is skipped: a
// batch whose commit was cut off with the connection is sent again whole without being counted
// twice.
#include "store/postgresql/postgresql_store.h"

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <dlfcn.h>
#include <mutex>
#include <sys/random.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {
// libpq is loaded when a PostgreSQL store is first used, not with the program: its libraries
// (TLS, Kerberos, LDAP) would otherwise cost every run of loaderkit a few milliseconds, and the
// CGI endpoint runs it once per download.
#define LIBPQ_FUNCTIONS(X)                                                                                   \
    X(PQclear) X(PQcmdTuples) X(PQconnectdbParams) X(PQconninfoFree) X(PQconninfoParse) X(PQerrorMessage)   \
    X(PQexec) X(PQexecParams) X(PQfinish) X(PQfreemem) X(PQgetisnull) X(PQgetvalue) X(PQnfields)            \
    X(PQntuples) X(PQresultStatus) X(PQsetNoticeProcessor) X(PQstatus)

struct Libpq {
#define LIBPQ_POINTER(name) decltype(&::name) name = nullptr;
    LIBPQ_FUNCTIONS(LIBPQ_POINTER)
#undef LIBPQ_POINTER
};

const Libpq* pq = nullptr;

// The system's libpq, once; false with *why where it is not installed.
bool LoadLibpq(std::string* why) {
    static std::once_flag once;
    static Libpq loaded;
    static std::string failure;
    std::call_once(once, [] {
        void* library = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            failure = std::string("a PostgreSQL store needs libpq (Debian's libpq5): ") + dlerror();
            return;
        }
#define LIBPQ_LOAD(name)                                                                                     \
    if ((loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name))) == nullptr)              \
        failure = "this libpq lacks " #name;
        LIBPQ_FUNCTIONS(LIBPQ_LOAD)
#undef LIBPQ_LOAD
        if (failure.empty()) pq = &loaded;
    });
    if (pq == nullptr) *why = failure;
    return pq != nullptr;
}

constexpr std::size_t kBatch = 500;  // records per transaction
constexpr std::chrono::milliseconds kLinger(50);
// The funnel's bounds on one statement and on waiting for a lock: well within the page unit's
// time-out, and far above what a reading of a busy store takes.
constexpr int kStatementSeconds = 60, kLockSeconds = 5;
constexpr long long kSchemaLock = 7429001;  // the advisory lock that serializes creating the schema

const char kDownloadColumns[] = "INSERT INTO downloads (rid, at, id, tag) VALUES ";
const char kReportColumns[] =
    "INSERT INTO reports (rid, at, event, outcome, id, tag, lang, os, wow64, build, bytes, total, discover_ms,"
    " download_ms, http, error, attempts) VALUES ";

std::string Message(pg_conn* db) {
    std::string text = db != nullptr ? pq->PQerrorMessage(db) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // One line: libpq's messages run over several, indented.
    std::string line;
    for (char c : text) {
        bool space = c == '\n' || c == '\t' || c == ' ';
        if (!space) line += c;
        else if (!line.empty() && line.back() != ' ') line += ' ';
    }
    return line;
}

// A connection with time-outs that the address may override: a server that does not answer
// costs the writer seconds, not minutes.
pg_conn* Open(const std::string& address, std::string* why) {
    const char* const keys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                                "application_name", "dbname", nullptr};
    const char* const values[] = {"5", "30", "10", "3", "loaderkit", address.c_str(), nullptr};
    pg_conn* db = pq->PQconnectdbParams(keys, values, 1);
    if (db != nullptr && pq->PQstatus(db) == CONNECTION_OK) {
        // The server's notices ("already exists, skipping") are not the operator's business; its
        // errors come back as results and are logged from there.
        pq->PQsetNoticeProcessor(db, [](void*, const char*) {}, nullptr);
        return db;
    }
    *why = WithoutSecrets("cannot connect to the PostgreSQL store: " + Message(db), address);
    pq->PQfinish(db);
    return nullptr;
}

// One statement; its result, or null with *why.
PGresult* Exec(pg_conn* db, const std::string& sql, const std::vector<const char*>& params, std::string* why) {
    PGresult* r = pq->PQexecParams(db, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr,
                               nullptr, 0);
    ExecStatusType status = pq->PQresultStatus(r);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return r;
    *why = "the PostgreSQL store: " + Message(db);
    pq->PQclear(r);
    return nullptr;
}

// Statements without parameters, one or several.
bool Do(pg_conn* db, const std::string& sql, std::string* why) {
    PGresult* r = pq->PQexec(db, sql.c_str());
    bool ok = pq->PQresultStatus(r) == PGRES_COMMAND_OK || pq->PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) *why = "the PostgreSQL store: " + Message(db);
    pq->PQclear(r);
    return ok;
}

// The store's schema version, read without a statement that writes: 0 where there is none
// yet, -1 with *why where it cannot be read.
int SchemaVersion(pg_conn* db, std::string* why) {
    PGresult* r = Exec(db, "SELECT to_regclass('loaderkit_schema') IS NOT NULL", {}, why);
    if (r == nullptr) return -1;
    bool made = pq->PQgetvalue(r, 0, 0)[0] == 't';
    pq->PQclear(r);
    if (!made) return 0;
    if ((r = Exec(db, "SELECT coalesce(max(version), 0) FROM loaderkit_schema", {}, why)) == nullptr) return -1;
    int version = std::atoi(pq->PQgetvalue(r, 0, 0));
    pq->PQclear(r);
    return version;
}

std::string TooNew(int version) {
    return "the PostgreSQL store's schema version " + std::to_string(version) + " is newer than this loaderkit's";
}

// The schema where it is missing, made by one connection at a time; a schema of a later release
// is left alone and refused. A store that has it is only read.
bool MakeSchema(pg_conn* db, std::string* why) {
    int have = SchemaVersion(db, why);
    if (have > kSchemaVersion) *why = TooNew(have);
    if (have != 0) return have > 0 && have <= kSchemaVersion;
    if (!Do(db, "BEGIN", why)) return false;
    PGresult* version = nullptr;
    bool ok = Do(db, "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")", why) &&
              Do(db, "CREATE TABLE IF NOT EXISTS loaderkit_schema (version integer NOT NULL)", why) &&
              (version = Exec(db, "SELECT max(version) FROM loaderkit_schema", {}, why)) != nullptr;
    if (ok && pq->PQgetisnull(version, 0, 0)) {
        ok = Do(db, SchemaStatements("BIGINT", "rid TEXT PRIMARY KEY, "), why) &&
             Do(db, "INSERT INTO loaderkit_schema VALUES (" + std::to_string(kSchemaVersion) + ")", why);
    } else if (ok && std::atoi(pq->PQgetvalue(version, 0, 0)) > kSchemaVersion) {
        *why = TooNew(std::atoi(pq->PQgetvalue(version, 0, 0)));
        ok = false;
    }
    pq->PQclear(version);
    if (ok) return Do(db, "COMMIT", why);
    std::string ignored;
    Do(db, "ROLLBACK", &ignored);
    return false;
}

// Sixteen hex digits from the system's random source: this process's part of its records' keys.
std::string Token() {
    unsigned char bytes[8] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) got += static_cast<std::size_t>(n);
        else if (errno != EINTR) break;
    }
    if (got < sizeof bytes) {  // no random source: the process and the moment, unique enough here
        std::uint64_t mix = static_cast<std::uint64_t>(getpid()) << 40 ^
                            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(mix), mix >>= 8;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) token += kHex[b >> 4], token += kHex[b & 15];
    return token;
}
}  // namespace

std::unique_ptr<StoreBackend> OpenPostgresStore(const std::string& address, StoreUse use, int flushSeconds,
                                                std::string* why) {
    auto store = std::make_unique<PostgresStore>(address);
    store->SetFlushSeconds(flushSeconds);
    if (!(use == StoreUse::kRecords ? store->Check(why) : store->Connect(use == StoreUse::kReading, why)))
        return nullptr;
    return store;
}

// The writer's side: what both it and the store see, kept alive by either.
struct PostgresStore::Writer {
    std::string address, token;
    std::uint64_t count = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<PendingRecord> queue;
    bool stopping = false, finished = false, failing = false, dropping = false;
    std::chrono::steady_clock::time_point deadline;
    std::uint64_t dropped = 0;
    pg_conn* db = nullptr;

    ~Writer() {
        if (db != nullptr) pq->PQfinish(db);
    }

    // A batch in one transaction: each table's rows in one statement.
    bool Send(const std::vector<PendingRecord>& batch, std::string* why) {
        bool ok = Do(db, "BEGIN", why);
        for (int report = 0; report < 2 && ok; ++report) {
            std::string sql = report ? kReportColumns : kDownloadColumns;
            std::vector<const char*> params;
            for (const PendingRecord& r : batch) {
                if (r.report != (report == 1)) continue;
                sql += params.empty() ? "(" : ",(";
                for (std::size_t k = 0; k < r.values.size(); ++k) {
                    params.push_back(r.values[k] ? r.values[k]->c_str() : nullptr);
                    sql += (k ? ",$" : "$") + std::to_string(params.size());
                }
                sql += ")";
            }
            if (!params.empty()) {
                PGresult* result = Exec(db, sql + " ON CONFLICT (rid) DO NOTHING", params, why);
                ok = result != nullptr;
                pq->PQclear(result);
            }
        }
        ok = ok && Do(db, "COMMIT", why);
        return ok;
    }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        bool schema = false;
        std::chrono::milliseconds pause(250);
        for (;;) {
            changed.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty()) break;
            // A moment for more to come: under load a transaction carries many records, not one,
            // and the server (often on the same cores) does a fraction of the work.
            changed.wait_for(lock, kLinger, [this] { return stopping || queue.size() >= kBatch; });
            std::vector<PendingRecord> batch(queue.begin(),
                                             queue.begin() + static_cast<long>(std::min(queue.size(), kBatch)));
            lock.unlock();
            std::string why;
            if (db == nullptr) db = Open(address, &why);
            if (db != nullptr && !schema) schema = MakeSchema(db, &why);
            bool sent = db != nullptr && schema && Send(batch, &why);
            if (!sent && db != nullptr) {
                pq->PQfinish(db);  // the next attempt starts on a new connection
                db = nullptr;
            }
            lock.lock();
            if (sent) {
                queue.erase(queue.begin(), queue.begin() + static_cast<long>(batch.size()));
                if (failing)
                    std::fprintf(stderr, "loaderkit download: the PostgreSQL store takes records again; %zu waited in "
                                         "this worker's queue, %llu were dropped meanwhile\n",
                                 queue.size() + batch.size(), static_cast<unsigned long long>(dropped));
                failing = dropping = false;
                dropped = 0;
                pause = std::chrono::milliseconds(250);
                continue;
            }
            if (!failing)
                std::fprintf(stderr, "loaderkit download: %s; records wait in this worker's queue (at most %zu) "
                                     "and are sent when it is back\n",
                             why.c_str(), kQueueLimit);
            failing = true;
            if (stopping && std::chrono::steady_clock::now() >= deadline) break;
            // Tried again after a pause that grows to 5 s, or at once when a stop shortens it.
            changed.wait_for(lock, pause, [this] { return stopping && std::chrono::steady_clock::now() >= deadline; });
            pause = std::min(pause * 2, std::chrono::milliseconds(5000));
            if (stopping && std::chrono::steady_clock::now() >= deadline) break;
        }
        finished = true;
        changed.notify_all();
    }
};

PostgresStore::PostgresStore(std::string address) : address_(std::move(address)) {}

PostgresStore::~PostgresStore() {
    if (reading_ != nullptr) pq->PQfinish(reading_);
    if (!writer_) return;
    std::unique_lock<std::mutex> lock(writer_->mutex);
    writer_->stopping = true;
    writer_->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(flushSeconds_);
    writer_->changed.notify_all();
    // A writer held by a server that neither answers nor fails is let go, with what it holds.
    writer_->changed.wait_until(lock, writer_->deadline + std::chrono::seconds(1), [this] { return writer_->finished; });
    std::size_t left = writer_->queue.size();
    if (left > 0)
        std::fprintf(stderr, "loaderkit download: %zu records did not reach the PostgreSQL store before the end\n",
                     left);
}

bool PostgresStore::Check(std::string* why) const {
    if (!LoadLibpq(why)) return false;
    char* error = nullptr;
    PQconninfoOption* options = pq->PQconninfoParse(address_.c_str(), &error);
    if (options == nullptr) *why = "not a PostgreSQL address: " + std::string(error != nullptr ? error : "out of memory");
    while (!why->empty() && why->back() == '\n') why->pop_back();
    *why = WithoutSecrets(*why, address_);
    pq->PQfreemem(error);
    pq->PQconninfoFree(options);
    return options != nullptr;
}

bool PostgresStore::Connect(bool readOnly, std::string* why) {
    if (!Check(why) || (reading_ = Open(address_, why)) == nullptr) return false;
    // A reader's session cannot write, whatever its role may do; and neither a reading nor a
    // removal waits without end on a lock or a server that does not finish, unless the address
    // sets bounds of its own (?options=-c%20statement_timeout%3D...).
    bool set = (!readOnly || Do(reading_, "SET default_transaction_read_only = on", why)) &&
               Do(reading_,
                  "SELECT set_config('statement_timeout', '" + std::to_string(kStatementSeconds) + "s', false)"
                  " WHERE current_setting('statement_timeout') = '0'", why) &&
               Do(reading_,
                  "SELECT set_config('lock_timeout', '" + std::to_string(kLockSeconds) + "s', false)"
                  " WHERE current_setting('lock_timeout') = '0'", why);
    int have = set ? SchemaVersion(reading_, why) : -1;
    if (have == 0) *why = "the PostgreSQL store has no loaderkit schema: the endpoint makes it with its first record";
    if (have > kSchemaVersion) *why = TooNew(have);
    if (have > 0 && have <= kSchemaVersion) return true;
    pq->PQfinish(reading_);
    reading_ = nullptr;
    return false;
}

bool PostgresStore::Queue(PendingRecord record, std::string* why) {
    if (!writer_) {
        writer_ = std::make_shared<Writer>();
        writer_->address = address_;
        writer_->token = Token();
        // Detached: the writer's state lives as long as either side, and a writer stuck on a
        // server that does not answer must not hold the worker's end.
        try {
            std::thread([w = writer_] { w->Run(); }).detach();
        } catch (const std::system_error& e) {
            writer_.reset();  // tried again with the next record
            *why = std::string("cannot start the PostgreSQL store's writer: ") + e.what();
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(writer_->mutex);
    if (writer_->queue.size() >= kQueueLimit) {
        ++writer_->dropped;
        why->clear();
        if (!writer_->dropping)
            *why = "this worker's queue for the PostgreSQL store is full (" + std::to_string(kQueueLimit) +
                   " records): records are dropped until the store takes them again";
        writer_->dropping = true;
        return false;
    }
    record.values.insert(record.values.begin(), writer_->token + "-" + std::to_string(++writer_->count));
    writer_->queue.push_back(std::move(record));
    writer_->changed.notify_all();
    return true;
}

bool PostgresStore::Run(const std::string& sql, const std::vector<std::string>& params,
                        std::vector<std::vector<std::string>>* rows, std::uint64_t* changed, std::string* why) {
    if (reading_ == nullptr) return *why = "the PostgreSQL store is not connected", false;
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    PGresult* r = Exec(reading_, sql, values, why);
    if (r == nullptr) return false;
    if (rows != nullptr) {
        rows->clear();
        for (int i = 0; i < pq->PQntuples(r); ++i) {
            rows->emplace_back();
            for (int k = 0; k < pq->PQnfields(r); ++k) rows->back().push_back(pq->PQgetvalue(r, i, k));
        }
    }
    if (changed != nullptr) *changed = std::strtoull(pq->PQcmdTuples(r), nullptr, 10);
    pq->PQclear(r);
    return true;
}

bool PostgresStore::AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why) {
    return Queue({false, {std::to_string(at), id, tag}}, why);
}

bool PostgresStore::AddReport(const Report& r, std::int64_t at, std::string* why) {
    PendingRecord record{true, {std::to_string(at), r.event, r.outcome, r.id, r.tag, r.lang, r.os,
                                std::to_string(r.wow64), r.build}};
    // The numbers of events other than end stay null.
    for (std::uint32_t n : {r.bytes, r.total, r.discoverMs, r.downloadMs, r.http, r.error, r.attempts})
        record.values.push_back(r.event == "end" ? std::optional<std::string>(std::to_string(n)) : std::nullopt);
    return Queue(std::move(record), why);
}

bool PostgresStore::Select(const std::string& sql, const std::vector<std::int64_t>& params,
                           std::vector<std::vector<std::string>>* rows, std::string* why) {
    std::vector<std::string> texts;
    for (std::int64_t p : params) texts.push_back(std::to_string(p));
    return Run(sql, texts, rows, nullptr, why);
}

bool PostgresStore::Change(const char* sql, std::int64_t param, std::uint64_t* changed, std::string* why) {
    return Run(sql, {std::to_string(param)}, nullptr, changed, why);
}
