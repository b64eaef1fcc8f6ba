#pragma once
// The storage a --db argument names: a postgresql:// address opens PostgreSQL,
// anything else is a SQLite file.

#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace apura::server {

// A SQLite file that does not exist is created only when `create` says so;
// PostgreSQL creates its tables where they are missing either way.
std::unique_ptr<IStorage> OpenStorage(const std::string& db, bool create = true);

}  // namespace apura::server
