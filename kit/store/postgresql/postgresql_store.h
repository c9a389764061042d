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

#include "store/backend.h"

struct pg_conn;

// Opens the PostgreSQL store at address, a libpq URI; null with *why. For reading or pruning,
// it connects now and refuses a database without the schema (it runs no DDL); for an
// endpoint's records, it only checks the address, and its writer connects when it first has a
// record, creates the schema where it is missing, and gives the last records flushSeconds when
// the store is let go.
std::unique_ptr<StoreBackend> OpenPostgresStore(const std::string& address, StoreUse use, int flushSeconds,
                                                std::string* why);

// A record waiting for the server: its table and its columns' values, null where absent.
struct PendingRecord {
    bool report = false;
    std::vector<std::optional<std::string>> values;
};

class PostgresStore final : public StoreBackend {
  public:
    // Records one worker may hold while the server does not take them: at most about 9 MB (a
    // report, the largest, is under 900 bytes with its allocations).
    static constexpr std::size_t kQueueLimit = 10000;

    explicit PostgresStore(std::string address);
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;
    // Gives the writer flushSeconds to hand the server what waits, then lets it go and says how
    // many records were not written.
    ~PostgresStore() override;
    // Whether the address reads as a libpq connection string; nothing is connected.
    bool Check(std::string* why) const;
    // Connects now and checks the schema's version, writing nothing: for the funnel's reading
    // (a read-only session where readOnly) or its pruning.
    bool Connect(bool readOnly, std::string* why);
    // A record for the writer, which connects when it first has one. Never waits on the server.
    // False when the queue is full and the record dropped: *why says so the first time in an
    // outage and is empty afterwards (the outage's one log line has been written).
    bool Queue(PendingRecord record, std::string* why);
    // How long the last records may take to reach the server when the store is let go.
    void SetFlushSeconds(int seconds) { flushSeconds_ = seconds; }

    // Records go through the queue; readings and removals run on the reading connection.
    bool AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why) override;
    bool AddReport(const Report& r, std::int64_t at, std::string* why) override;
    bool Select(const std::string& sql, const std::vector<std::int64_t>& params,
                std::vector<std::vector<std::string>>* rows, std::string* why) override;
    bool Change(const char* sql, std::int64_t param, std::uint64_t* changed, std::string* why) override;
    const char* RowKey() const override { return "rid"; }
    const char* DayOfAt() const override { return "to_char(to_timestamp(at) AT TIME ZONE 'UTC', 'YYYY-MM-DD')"; }

    struct Writer;

  private:
    // One statement on the reading connection: its rows as text (null as ""), and the number
    // of rows it changed.
    bool Run(const std::string& sql, const std::vector<std::string>& params, std::vector<std::vector<std::string>>* rows,
             std::uint64_t* changed, std::string* why);
    std::string address_;
    pg_conn* reading_ = nullptr;
    std::shared_ptr<Writer> writer_;
    int flushSeconds_ = 10;
};
