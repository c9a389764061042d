// The endpoint's record of what became of each copy: one row per download served and one per
// report. Nothing that identifies a person is kept: no address, no user agent, only the copy's
// id and tag, what its loader reported, and the server's time. The backend is chosen by the
// address: postgresql://... or postgres://... is a PostgreSQL server (store/postgresql), which
// the endpoints of several machines write to; anything else is an SQLite file (store/sqlite),
// which every worker of one machine's endpoint writes at once.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/backend.h"
#include "store/records.h"

class Store {
  public:
    Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store();
    // Opens the store at path, an SQLite file or a PostgreSQL address, for reading: it writes
    // nothing (an SQLite file read-only, a PostgreSQL session read-only), and a missing store,
    // one without the schema and one of a later release are refused; false with *why.
    bool Open(const std::string& path, std::string* why);
    // The same for removing rows (Prune): written, never created or given its schema.
    bool OpenForPruning(const std::string& path, std::string* why);
    // For an endpoint's records: created where missing, with its schema; a PostgreSQL store
    // connects in its writer, never while a request waits, and gives the last records
    // flushSeconds when the store is let go.
    bool OpenForRecords(const std::string& path, int flushSeconds, std::string* why);
    bool IsOpen() const { return backend_ != nullptr; }
    // One row each; false with *why when the store cannot take it (SQLite locked past its
    // time-out, a full disk; PostgreSQL's queue full, where an empty *why means that the outage
    // has been logged already): the caller serves on and logs why.
    bool AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why);
    bool AddReport(const Report& r, std::int64_t at, std::string* why);
    // The funnel per group ("tag", "lang", "os" or "build") of rows at or after since and before
    // until (seconds since 1970), sorted by key. Copies served are known per tag only.
    bool Funnel(const std::string& by, std::int64_t since, std::int64_t until, std::vector<FunnelRow>* rows,
                std::string* why);
    // Per day (UTC, as YYYY-MM-DD, oldest first) in the same period: copies served and
    // installers started.
    bool Daily(std::int64_t since, std::int64_t until, std::vector<DayRow>* rows, std::string* why);
    // Removes the rows before `before`; the numbers removed into *downloads and *reports. The
    // rows go `batch` at a time, each batch its own transaction and short, with a pause after it
    // in which the endpoint's writers, waiting on it, take their turn: a prune never holds a
    // writer past its busy time-out, and one stopped half way has removed whole batches only.
    static constexpr std::uint64_t kPruneBatch = 5000;
    bool Prune(std::int64_t before, std::uint64_t* downloads, std::uint64_t* reports, std::string* why,
               std::uint64_t batch = kPruneBatch);

  private:
    bool OpenFor(const std::string& path, StoreUse use, int flushSeconds, std::string* why);
    std::unique_ptr<StoreBackend> backend_;
};
