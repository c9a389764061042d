// What each kind of store does in its own way: take a record, run a reading or a removal, and
// name a day. Everything else the store does (the funnel's statements, pruning) is written once
// in store.cpp over this; a backend lives in a folder of its own and is chosen by store.cpp's
// table of address schemes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "store/records.h"

// What a store is opened for. Reading (the funnel's views) writes nothing at all; pruning
// removes rows and nothing else; only an endpoint's records create or upgrade the schema.
enum class StoreUse { kReading, kPruning, kRecords };

class StoreBackend {
  public:
    virtual ~StoreBackend() = default;
    // One row each; false with *why when the store cannot take it (see Store).
    virtual bool AddDownload(const std::string& id, const std::string& tag, std::int64_t at, std::string* why) = 0;
    virtual bool AddReport(const Report& r, std::int64_t at, std::string* why) = 0;
    // Rows of a reading as text, NULL as ""; params bind $1, $2, ...
    virtual bool Select(const std::string& sql, const std::vector<std::int64_t>& params,
                        std::vector<std::vector<std::string>>* rows, std::string* why) = 0;
    // One statement that changes rows, its one parameter bound to $1; the number changed into *changed.
    virtual bool Change(const char* sql, std::int64_t param, std::uint64_t* changed, std::string* why) = 0;
    // The column that names one row of a table, for removing rows a batch at a time.
    virtual const char* RowKey() const = 0;
    // The expression for the UTC day (YYYY-MM-DD) of the column `at`, in this store's dialect.
    virtual const char* DayOfAt() const = 0;
};

// The message with the address's secrets taken out: its user info (USER:PASSWORD@) and any
// password= setting, in the address as a whole and on their own, as libpq quotes them in its
// errors. Every message that may hold an address goes through this before it is printed.
std::string WithoutSecrets(std::string message, const std::string& address);

// One schema version for every backend: a store written by a later release is left alone.
constexpr int kSchemaVersion = 1;

// The schema's statements, written once: a backend gives its type for 64-bit numbers and the
// column (with its trailing ", ") that keys each row, if it keys them.
std::string SchemaStatements(const char* bigInteger, const char* rowKey);
