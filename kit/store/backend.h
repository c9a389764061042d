// What each kind of store does in its own way: take a record, run a reading or a removal, and
// name a day. Everything else the store does (the funnel's statements, pruning) is written once
// in store.cpp over this; a backend lives in a folder of its own and is chosen by store.cpp's
// table of address schemes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "store/records.h"

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
    // The expression for the UTC day (YYYY-MM-DD) of the column `at`, in this store's dialect.
    virtual const char* DayOfAt() const = 0;
};

// One schema version for every backend: a store written by a later release is left alone.
constexpr int kSchemaVersion = 1;

// The schema's statements, written once: a backend gives its type for 64-bit numbers and the
// column (with its trailing ", ") that keys each row, if it keys them.
std::string SchemaStatements(const char* bigInteger, const char* rowKey);
