// The store in SQLite: one file on the endpoint's machine, which every worker writes at once.
#pragma once
#include <memory>
#include <string>

#include "store/backend.h"

// Opens (creating where missing, with its schema) the SQLite file at path; null with *why. An
// endpoint's records and the funnel's reading open it alike: forRecords and flushSeconds do not
// apply to a file that each row reaches before its answer leaves.
std::unique_ptr<StoreBackend> OpenSqliteStore(const std::string& path, bool forRecords, int flushSeconds,
                                              std::string* why);
