#pragma once
// The embedded storage: one SQLite file in WAL mode, a small pool of connections
// (readers run side by side on snapshots, writers queue in arrival order up to
// the caller's deadline).

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/storage/schema.h"
#include "server/storage/storage.h"
#include "server/storage/storage_wait.h"

namespace apura::server {

namespace sql {
class Db;
}

class SqliteStorage : public IStorage {
 public:
  // Opens (creating when missing) the database and its schema.
  explicit SqliteStorage(std::string path);
  ~SqliteStorage() override;
  std::unique_ptr<IStorageSession> OpenSession() override;
  const std::string& path() const { return path_; }
  // What the file reports of the tally tables (schema.h).
  schema::LiveSchema DescribeSchema();

 private:
  friend class SqliteSession;
  std::unique_ptr<sql::Db> Acquire();
  void Release(std::unique_ptr<sql::Db> db);

  std::string path_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<sql::Db>> idle_;
  WriterQueue writers_;
};

}  // namespace apura::server
