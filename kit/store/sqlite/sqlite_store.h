// The store in SQLite: one file on the endpoint's machine, which every worker writes at once.
#pragma once
#include <memory>
#include <string>

#include "store/backend.h"

// Opens the SQLite file at path for its use; null with *why. For an endpoint's records it is
// created where missing, with its schema, by the first open only; a reader opens it read-only
// and refuses a missing file or one without the schema. flushSeconds does not apply to a file
// that each row reaches before its answer leaves.
std::unique_ptr<StoreBackend> OpenSqliteStore(const std::string& path, StoreUse use, int flushSeconds,
                                              std::string* why);
