#pragma once
// A thin RAII layer over SQLite: a connection and prepared statements whose
// errors throw with SQLite's message.

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "server/errors.h"

namespace apura::server::sql {

class Error : public StorageFailure {
 public:
  using StorageFailure::StorageFailure;
};

class Db {
 public:
  explicit Db(const std::string& path, bool create = true);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  sqlite3* get() const { return db_; }
  void Exec(const char* sql);
  [[noreturn]] void Fail(const std::string& what) const;

 private:
  sqlite3* db_ = nullptr;
};

class Stmt {
 public:
  Stmt(Db& db, const char* sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int i, std::string_view s);
  // Without a copy: the text must stay as it is until the statement is reset.
  Stmt& BindUncopied(int i, std::string_view s);
  Stmt& Bind(int i, double d);
  Stmt& Bind(int i, int64_t v);
  Stmt& Bind(int i, int v) { return Bind(i, static_cast<int64_t>(v)); }
  Stmt& BindNull(int i);
  // True while rows come; false once done.
  bool Step();
  // Runs a statement that returns no rows, then resets it for the next binding.
  void Run();
  void Reset();

  std::string_view Text(int col) const;
  double Double(int col) const { return sqlite3_column_double(s_, col); }
  int64_t Int(int col) const { return sqlite3_column_int64(s_, col); }
  bool IsNull(int col) const { return sqlite3_column_type(s_, col) == SQLITE_NULL; }

 private:
  Db& db_;
  sqlite3_stmt* s_ = nullptr;
};

}  // namespace apura::server::sql
