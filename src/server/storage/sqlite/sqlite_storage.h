#pragma once
// The embedded storage: one SQLite file in WAL mode, a small pool of connections
// (readers run side by side on snapshots, writers queue in arrival order up to
// the caller's deadline).

#include <sys/types.h>

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
  // Opens the database and brings its schema up to date; a missing file is
  // created only when `create` says so, and refused otherwise.
  explicit SqliteStorage(std::string path, bool create = true);
  ~SqliteStorage() override;
  std::unique_ptr<IStorageSession> OpenSession() override;
  const std::string& path() const { return path_; }
  // What the file reports of the tally tables (schema.h).
  schema::LiveSchema DescribeSchema();

 private:
  friend class SqliteSession;
  std::unique_ptr<sql::Db> Acquire();
  void Release(std::unique_ptr<sql::Db> db);

  // Writes go only to the file opened at the start: one deleted, moved or
  // replaced under the server would take them and lose them (or put them in a
  // new database). Throws, and says so in the log, when it is no longer there.
  void CheckFileUnchanged(sql::Db& db) const;

  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::mutex mutex_;
  std::vector<std::unique_ptr<sql::Db>> idle_;
  WriterQueue writers_;
};

}  // namespace apura::server
