#pragma once
// The host's shared local database: an SQLite file behind the framework's
// query component.

#include <sqlite3.h>

#include <string>

#include "framework/query.h"

namespace apura::desktop {

class SqliteDatabase : public IDatabaseConnection {
 public:
  // Opens the file, creating it when missing; an error names the file.
  explicit SqliteDatabase(const std::string& path);
  ~SqliteDatabase() override;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  DataPacket Execute(const std::string& sql, const std::vector<QueryParam>& params) override;
  // Statements that answer no rows (schema, seeding).
  void Exec(const std::string& sql);
  sqlite3* Handle() const { return db_; }
  const std::string& Path() const { return path_; }

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
};

// The tables the screens read, created empty when missing: REGIAO, AUTGRUPOP
// and OPERGRUPOP.
void EnsureLocalSchema(SqliteDatabase& db);

}  // namespace apura::desktop
