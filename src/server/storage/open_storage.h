#pragma once
// The storage a --db argument names: a postgresql:// address opens PostgreSQL,
// anything else is a SQLite file.

#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace apura::server {

std::unique_ptr<IStorage> OpenStorage(const std::string& db);

}  // namespace apura::server
