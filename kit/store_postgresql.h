// The store in PostgreSQL, for an endpoint that runs on several machines: every machine's workers
// write to one server, and the funnel reads the whole. A worker never waits for the server while
// it answers: its records go into a queue in its memory, which a thread of its own writes to the
// server over one connection that it keeps. A server that is down or slow costs nothing but
// that queue's room; once it is full, records are dropped, and one log line says so.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

// LOADERKIT_DATABASE names a PostgreSQL server when it is a libpq URI: postgresql://... or
// postgres://... (libpq's other settings go in its query: ?host=/run/postgresql&sslmode=...).
bool IsPostgresAddress(const std::string& where);

// A record waiting for the server: its table and its columns' values, null where absent.
struct PendingRecord {
    bool report = false;
    std::vector<std::optional<std::string>> values;
};

class PostgresStore {
  public:
    // Records one worker may hold while the server does not take them: at most about 9 MB (a
    // report, the largest, is under 900 bytes with its allocations).
    static constexpr std::size_t kQueueLimit = 10000;

    explicit PostgresStore(std::string address);
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;
    // Gives the writer flushSeconds to hand the server what waits, then lets it go and says how
    // many records were not written.
    ~PostgresStore();
    // Whether the address reads as a libpq connection string; nothing is connected.
    bool Check(std::string* why) const;
    // Connects now and creates the schema where it is missing: for reading the funnel.
    bool Connect(std::string* why);
    // A record for the writer, which connects when it first has one. Never waits on the server.
    // False when the queue is full and the record dropped: *why says so the first time in an
    // outage and is empty afterwards (the outage's one log line has been written).
    bool Queue(PendingRecord record, std::string* why);
    // One statement on the reading connection: its rows as text (null as ""), and the number
    // of rows it changed.
    bool Run(const std::string& sql, const std::vector<std::string>& params, std::vector<std::vector<std::string>>* rows,
             std::uint64_t* changed, std::string* why);
    // How long the last records may take to reach the server when the store is let go.
    void SetFlushSeconds(int seconds) { flushSeconds_ = seconds; }

    struct Writer;

  private:
    std::string address_;
    pg_conn* reading_ = nullptr;
    std::shared_ptr<Writer> writer_;
    int flushSeconds_ = 10;
};
