#pragma once
// Storage on a PostgreSQL database, for several servers sharing one database.
// Readers run on a repeatable-read snapshot and never wait for a writer; a writer
// locks the row of its tally first, so writes to one tally run one after the other
// whichever server takes them, and waits no longer than the caller's deadline.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/storage/schema.h"
#include "server/storage/storage.h"

typedef struct pg_conn PGconn;

namespace apura::server {

class PgStorage : public IStorage {
 public:
  // `conninfo` is a postgresql:// address or libpq's key=value text. Connects and
  // creates the schema where it is missing.
  explicit PgStorage(std::string conninfo);
  ~PgStorage() override;
  std::unique_ptr<IStorageSession> OpenSession() override;
  const std::string& conninfo() const { return conninfo_; }
  // What the database reports of the tally tables (schema.h).
  schema::LiveSchema DescribeSchema();

 private:
  friend class PgSession;
  PGconn* Acquire();
  void Release(PGconn* conn);

  std::string conninfo_;
  std::mutex mutex_;
  std::vector<PGconn*> idle_;
};

// True for the addresses PgStorage takes rather than a database file.
bool IsPostgresAddress(const std::string& db);

}  // namespace apura::server
