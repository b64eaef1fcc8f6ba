#include "server/storage/sqlite/sqlite.h"

namespace apura::server::sql {

namespace {
// What a caller may read of a failure: SQLite's fixed text for its code ("database
// or disk is full"), never the statement's own message; nothing for the generic
// SQLITE_ERROR, whose text only says it is one.
std::string Reason(int rc) {
  return (rc & 0xff) == SQLITE_ERROR ? std::string() : std::string(sqlite3_errstr(rc));
}
}  // namespace

Db::Db(const std::string& path, bool create) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw Error("cannot open database " + path + ": " + msg, Reason(rc));
  }
  sqlite3_extended_result_codes(db_, 1);
}

Db::~Db() {
  sqlite3_close(db_);
}

void Db::Fail(const std::string& what) const {
  const int rc = sqlite3_extended_errcode(db_);
  throw Error(what + ": " + sqlite3_errmsg(db_), Reason(rc),
              (rc & 0xff) == SQLITE_BUSY ? ErrorCode::Busy : ErrorCode::Internal);
}

void Db::Exec(const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "unknown error";
    sqlite3_free(err);
    throw Error(std::string("SQL failed (") + std::string(sql).substr(0, 60) + "): " + msg,
                Reason(sqlite3_extended_errcode(db_)));
  }
}

Stmt::Stmt(Db& db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db.get(), sql, -1, &s_, nullptr) != SQLITE_OK) {
    db.Fail(std::string("cannot prepare \"") + sql + "\"");
  }
}

Stmt::~Stmt() {
  sqlite3_finalize(s_);
}

Stmt& Stmt::Bind(int i, std::string_view s) {
  if (sqlite3_bind_text(s_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    db_.Fail("bind");
  return *this;
}
Stmt& Stmt::BindUncopied(int i, std::string_view s) {
  if (sqlite3_bind_text(s_, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC) != SQLITE_OK)
    db_.Fail("bind");
  return *this;
}
Stmt& Stmt::Bind(int i, double d) {
  if (sqlite3_bind_double(s_, i, d) != SQLITE_OK) db_.Fail("bind");
  return *this;
}
Stmt& Stmt::Bind(int i, int64_t v) {
  if (sqlite3_bind_int64(s_, i, v) != SQLITE_OK) db_.Fail("bind");
  return *this;
}
Stmt& Stmt::BindNull(int i) {
  if (sqlite3_bind_null(s_, i) != SQLITE_OK) db_.Fail("bind");
  return *this;
}

bool Stmt::Step() {
  int rc = sqlite3_step(s_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  std::string sqlText = sqlite3_sql(s_) ? sqlite3_sql(s_) : "";
  sqlite3_reset(s_);
  db_.Fail("SQL failed (" + sqlText.substr(0, 60) + ")");
}

void Stmt::Run() {
  while (Step()) {
  }
  Reset();
}

void Stmt::Reset() {
  sqlite3_reset(s_);
  sqlite3_clear_bindings(s_);
}

std::string_view Stmt::Text(int col) const {
  const unsigned char* p = sqlite3_column_text(s_, col);
  if (!p) return {};
  return std::string_view(reinterpret_cast<const char*>(p),
                          static_cast<size_t>(sqlite3_column_bytes(s_, col)));
}

}  // namespace apura::server::sql
