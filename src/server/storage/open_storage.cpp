#include "server/storage/open_storage.h"

#include "server/storage/postgres/pg_storage.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::server {

std::unique_ptr<IStorage> OpenStorage(const std::string& db, bool create) {
  if (IsPostgresAddress(db)) return std::make_unique<PgStorage>(db);
  return std::make_unique<SqliteStorage>(db, create);
}

}  // namespace apura::server
