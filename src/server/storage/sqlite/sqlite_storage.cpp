#include "server/storage/sqlite/sqlite_storage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "server/services/pricing.h"
#include "server/storage/sql_session.h"
#include "server/storage/sqlite/sqlite.h"
#include "server/storage/storage_wait.h"

namespace apura::server {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool Declared(const std::string& table) {
  for (const schema::Table& t : schema::Tables())
    if (t.name == table) return true;
  return false;
}

// A key column counts as NOT NULL: SQLite alone would let a text key be null,
// and nothing here ever stores one.
schema::LiveSchema Describe(sql::Db& db) {
  schema::LiveSchema live;
  sql::Stmt tables(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
  sql::Stmt cols(db,
                 "SELECT name, type, \"notnull\" OR pk > 0 FROM pragma_table_info(?) ORDER BY cid");
  while (tables.Step()) {
    std::string table = Lower(tables.Text(0));
    if (!Declared(table)) continue;
    auto& out = live.tables[table];
    cols.Bind(1, table);
    while (cols.Step()) out.push_back({Lower(cols.Text(0)), Lower(cols.Text(1)), cols.Int(2) != 0});
    cols.Reset();
  }
  // Indexes SQLite makes for PRIMARY KEY and UNIQUE have no SQL of their own.
  sql::Stmt indexes(db,
                    "SELECT m.name, m.tbl_name, l.\"unique\" FROM sqlite_master m "
                    "JOIN pragma_index_list(m.tbl_name) l ON l.name = m.name "
                    "WHERE m.type = 'index' AND m.sql IS NOT NULL ORDER BY m.name");
  sql::Stmt keys(db, "SELECT name FROM pragma_index_info(?) ORDER BY seqno");
  while (indexes.Step()) {
    std::string table = Lower(indexes.Text(1));
    if (!Declared(table)) continue;
    schema::LiveIndex index{table, {}, indexes.Int(2) != 0};
    std::string name = Lower(indexes.Text(0));
    keys.Bind(1, name);
    while (keys.Step()) index.columns.push_back(Lower(keys.Text(0)));
    keys.Reset();
    live.indexes[name] = std::move(index);
  }
  return live;
}

// A connection another process holds the write lock against retries until the
// caller's deadline instead of a fixed time. Connections serve one thread at a
// time, and SQLite calls this on the thread that waits.
int WaitWhileBusy(void*, int attempt) {
  thread_local std::chrono::steady_clock::time_point limit;
  auto now = std::chrono::steady_clock::now();
  if (attempt == 0) limit = WaitLimit();
  if (now >= limit) return 0;
  auto pause = std::chrono::milliseconds(attempt < 10 ? 1 : 5);
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, limit - now));
  return 1;
}

void Configure(sql::Db& db) {
  sqlite3_busy_handler(db.get(), WaitWhileBusy, nullptr);
  db.Exec("PRAGMA foreign_keys = ON; PRAGMA synchronous = NORMAL;");
}

void Bind(sql::Stmt& s, SqlParams params) {
  int i = 0;
  for (const SqlParam& p : params) {
    ++i;
    std::visit(
        [&](const auto& v) {
          using V = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<V, std::monostate>)
            s.BindNull(i);
          else
            s.Bind(i, v);
        },
        p);
  }
}

// The rows of one prepared statement; finalised with it.
class SqliteRows : public SqlRows {
 public:
  SqliteRows(sql::Db& db, std::string_view text, SqlParams params)
      : sql_(text), stmt_(db, sql_.c_str()) {
    Bind(stmt_, params);
  }
  bool Next() override { return stmt_.Step(); }
  std::string_view Text(int col) const override { return stmt_.Text(col); }
  double Double(int col) const override { return stmt_.Double(col); }
  int64_t Int(int col) const override { return stmt_.Int(col); }
  bool IsNull(int col) const override { return stmt_.IsNull(col); }

 private:
  std::string sql_;
  sql::Stmt stmt_;
};

// Rows go in by statements of many rows each: per statement SQLite runs its
// checks and bookkeeping once, and an effectuation's tens of thousands of AF
// lines are stored in about half the time of one statement per row, which is
// time every other writer of the file waits.
class SqliteWriter : public SqlRowWriter {
 public:
  SqliteWriter(sql::Db& db, std::string_view table, const std::vector<std::string_view>& columns)
      : db_(db),
        table_(table),
        columns_(columns.begin(), columns.end()),
        perStatement_(std::max<size_t>(
            1, std::min<size_t>(kMaxRows, static_cast<size_t>(sqlite3_limit(
                                              db.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1)) /
                                              std::max<size_t>(1, columns.size())))) {}

  void Row(const std::vector<SqlParam>& values) override {
    if (values.size() != columns_.size())
      throw std::invalid_argument("a row of " + std::to_string(values.size()) + " values for " +
                                  std::to_string(columns_.size()) + " columns of " + table_);
    for (const SqlParam& p : values) {
      cells_.push_back({p, text_.size()});
      if (const auto* t = std::get_if<std::string_view>(&p)) text_.append(*t);
    }
    if (cells_.size() == perStatement_ * columns_.size()) Flush();
  }

  void Finish() override { Flush(); }

 private:
  static constexpr size_t kMaxRows = 200;
  // A value of a row not yet written. A text's own view is the caller's and
  // may be gone by then: its characters are read from text_ at `offset`.
  struct Cell {
    SqlParam value;
    size_t offset = 0;
  };

  void Flush() {
    if (cells_.empty()) return;
    const size_t rows = cells_.size() / columns_.size();
    sql::Stmt& stmt = StatementFor(rows);
    int i = 0;
    for (const Cell& c : cells_) {
      ++i;
      std::visit(
          [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::monostate>)
              stmt.BindNull(i);
            else if constexpr (std::is_same_v<V, std::string_view>)
              stmt.BindUncopied(i, std::string_view(text_).substr(c.offset, v.size()));
            else
              stmt.Bind(i, v);
          },
          c.value);
    }
    stmt.Run();
    cells_.clear();
    text_.clear();
  }

  sql::Stmt& StatementFor(size_t rows) {
    if (rows == perStatement_) {
      if (!full_) full_ = std::make_unique<sql::Stmt>(db_, InsertText(rows).c_str());
      return *full_;
    }
    if (!part_ || partRows_ != rows) {
      part_ = std::make_unique<sql::Stmt>(db_, InsertText(rows).c_str());
      partRows_ = rows;
    }
    return *part_;
  }

  std::string InsertText(size_t rows) const {
    std::string sql = "INSERT INTO " + table_ + " (", marks = "(";
    for (size_t i = 0; i < columns_.size(); ++i) {
      sql += (i ? ", " : "") + columns_[i];
      marks += i ? ", ?" : "?";
    }
    marks += ")";
    sql += ") VALUES ";
    for (size_t r = 0; r < rows; ++r) sql += (r ? ", " : "") + marks;
    return sql;
  }

  sql::Db& db_;
  std::string table_;
  std::vector<std::string> columns_;
  size_t perStatement_;
  std::vector<Cell> cells_;
  std::string text_;  // the texts of the rows not yet written, end to end
  std::unique_ptr<sql::Stmt> full_, part_;
  size_t partRows_ = 0;
};

// Its one writer holds the whole file, so no row lock; the "+" keeps the
// planner on a tally's id range. MIN and MAX each alone are one step down the
// tally's index; together, or with a count, they would walk all its entries.
const SqlDialect kSqliteSql{.byteOrder = "",
                            .insertionOrder = "rowid",
                            .notIndexed = "+",
                            .lockRows = "",
                            .itemIdRange =
                                "SELECT (SELECT MIN(ID) FROM item_apuracao WHERE NRSEQAPUR = ?1), "
                                "(SELECT MAX(ID) FROM item_apuracao WHERE NRSEQAPUR = ?1)"};

// A report reads the tallies: attaching another file, a pragma, or reading
// operators and sessions is refused when the statement is prepared.
int ReportAuthorizer(void*, int action, const char* what, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_PRAGMA:
      return SQLITE_DENY;
    case SQLITE_READ:
      if (what && (sqlite3_stricmp(what, "operador") == 0 || sqlite3_stricmp(what, "sessao") == 0))
        return SQLITE_DENY;
      return SQLITE_OK;
    default:
      return SQLITE_OK;
  }
}

// Stops a report statement once the caller's deadline has passed.
int PastDeadline(void* limit) {
  return std::chrono::steady_clock::now() >=
                 *static_cast<std::chrono::steady_clock::time_point*>(limit)
             ? 1
             : 0;
}

// The packet of a statement's rows: each column typed by its declared type,
// or by the values it holds when it has none (an expression).
DataPacket ReportRows(sqlite3* db, sqlite3_stmt* s) {
  const int n = sqlite3_column_count(s);
  std::vector<std::vector<Value>> rows;
  std::vector<int> seen(static_cast<size_t>(n), 0);  // bit 1 integer, 2 float, 4 text
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    std::vector<Value> row;
    for (int c = 0; c < n; ++c) {
      switch (sqlite3_column_type(s, c)) {
        case SQLITE_INTEGER:
          row.emplace_back(static_cast<int64_t>(sqlite3_column_int64(s, c)));
          seen[static_cast<size_t>(c)] |= 1;
          break;
        case SQLITE_FLOAT:
          row.emplace_back(sqlite3_column_double(s, c));
          seen[static_cast<size_t>(c)] |= 2;
          break;
        case SQLITE_NULL:
          row.emplace_back();
          break;
        default: {
          const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
          row.emplace_back(
              std::string(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(s, c))));
          seen[static_cast<size_t>(c)] |= 4;
        }
      }
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) throw ReportQueryError(sqlite3_errmsg(db));
  std::vector<ReportColumnKind> kinds;
  std::vector<std::string> names;
  for (int c = 0; c < n; ++c) {
    std::string decl = Lower(sqlite3_column_decltype(s, c) ? sqlite3_column_decltype(s, c) : "");
    const int v = seen[static_cast<size_t>(c)];
    ReportColumnKind k;
    if (decl.find("char") != std::string::npos || decl.find("text") != std::string::npos || (v & 4))
      k = ReportColumnKind::Text;
    else if (decl.find("real") != std::string::npos || (v & 2))
      k = ReportColumnKind::Real;
    else if (decl.find("int") != std::string::npos || v == 1)
      k = ReportColumnKind::Integer;
    else
      k = ReportColumnKind::Text;
    kinds.push_back(k);
    names.emplace_back(sqlite3_column_name(s, c));
  }
  return ReportPacket(names, kinds, std::move(rows));
}

}  // namespace

class SqliteSession : public SqlSession {
 public:
  SqliteSession(SqliteStorage& owner, std::unique_ptr<sql::Db> db)
      : SqlSession(kSqliteSql), owner_(owner), db_(std::move(db)) {}
  ~SqliteSession() override {
    if (inTransaction_) {
      try {
        db_->Exec("ROLLBACK");
      } catch (...) {
      }
    }
    LeaveQueue();
    prepared_.clear();
    owner_.Release(std::move(db_));
  }

  // Readers see the snapshot of their first read (WAL) and never wait. Writers of
  // this process take turns in arrival order; one of another process is waited
  // for by the busy handler; both waits end at the caller's deadline.
  void Begin(bool write) override {
    if (write) {
      owner_.writers_.Enter(WaitLimit());
      queued_ = true;
      int rc = sqlite3_exec(db_->get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) {
        LeaveQueue();
        if ((rc & 0xff) == SQLITE_BUSY) throw StorageBusy();
        db_->Fail("SQL failed (BEGIN IMMEDIATE)");
      }
      // Checked holding the write lock, so nothing is written to a file that
      // went away while this writer waited.
      try {
        owner_.CheckFileUnchanged(*db_);
      } catch (...) {
        sqlite3_exec(db_->get(), "ROLLBACK", nullptr, nullptr, nullptr);
        LeaveQueue();
        throw;
      }
    } else {
      db_->Exec("BEGIN");
    }
    inTransaction_ = true;
  }
  void Commit() override {
    db_->Exec("COMMIT");
    inTransaction_ = false;
    LeaveQueue();
  }
  std::unique_ptr<SqlSession> ReadSibling() override {
    if (!inTransaction_ || queued_) return nullptr;
    try {
      return std::make_unique<SqliteSession>(owner_, owner_.Acquire());
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  void Rollback() override {
    inTransaction_ = false;
    try {
      db_->Exec("ROLLBACK");
    } catch (...) {
      LeaveQueue();
      throw;
    }
    LeaveQueue();
  }

 protected:
  std::unique_ptr<SqlRows> Query(std::string_view sql, SqlParams params) override {
    return std::make_unique<SqliteRows>(*db_, sql, params);
  }
  // A write run once per row (a choice write updates thousands) is prepared
  // once per session.
  int64_t Exec(std::string_view sql, SqlParams params) override {
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
      std::string text(sql);
      auto stmt = std::make_unique<sql::Stmt>(*db_, text.c_str());
      it = prepared_.emplace(std::move(text), std::move(stmt)).first;
    }
    Bind(*it->second, params);
    it->second->Run();
    return sqlite3_changes(db_->get());
  }
  std::unique_ptr<SqlRowWriter> Writer(std::string_view table,
                                       const std::vector<std::string_view>& columns) override {
    return std::make_unique<SqliteWriter>(*db_, table, columns);
  }

 public:
  DataPacket RunReportQuery(const std::string& text, const ReportParams& params) override {
    sqlite3* db = db_->get();
    struct Statement {
      sqlite3* db;
      sqlite3_stmt* s = nullptr;
      ~Statement() {
        sqlite3_finalize(s);
        sqlite3_set_authorizer(db, nullptr, nullptr);
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
      }
    } q{db};
    sqlite3_set_authorizer(db, ReportAuthorizer, nullptr);
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, text.c_str(), -1, &q.s, &tail) != SQLITE_OK)
      throw ReportQueryError(sqlite3_errmsg(db));
    if (!q.s) throw ReportQueryError("está vazia");
    for (const char* t = tail; t && *t; ++t)
      if (!std::isspace(static_cast<unsigned char>(*t)) && *t != ';')
        throw ReportQueryError("tem mais de um comando");
    // A report reads; a definition that would write is refused before it runs.
    if (!sqlite3_stmt_readonly(q.s)) throw ReportQueryError("não é somente leitura");
    const int n = sqlite3_bind_parameter_count(q.s);
    for (int i = 1; i <= n; ++i) {
      const char* pn = sqlite3_bind_parameter_name(q.s, i);
      if (!pn || (pn[0] != ':' && pn[0] != '@' && pn[0] != '$'))
        throw ReportQueryError("parâmetros devem ter nome (:NOME)");
      const std::string* value = ReportParam(params, pn + 1);
      sqlite3_bind_text(q.s, i, value->c_str(), static_cast<int>(value->size()), SQLITE_TRANSIENT);
    }
    std::chrono::steady_clock::time_point limit = WaitLimit();
    sqlite3_progress_handler(db, 10000, PastDeadline, &limit);
    return ReportRows(db, q.s);
  }

 private:
  void LeaveQueue() {
    if (queued_) owner_.writers_.Leave();
    queued_ = false;
  }

  SqliteStorage& owner_;
  std::unique_ptr<sql::Db> db_;
  // Finalised before the connection goes back to the pool.
  std::map<std::string, std::unique_ptr<sql::Stmt>, std::less<>> prepared_;
  bool inTransaction_ = false;
  bool queued_ = false;
};

SqliteStorage::SqliteStorage(std::string path, bool create) : path_(std::move(path)) {
  std::unique_ptr<sql::Db> db;
  // Opening succeeds on any file; a file that is no database (or a schema that
  // cannot be created) shows here, and the operator must learn which file.
  try {
    struct stat file {};
    if (!create && ::stat(path_.c_str(), &file) != 0)
      throw std::runtime_error("database file " + path_ + " does not exist");
    db = std::make_unique<sql::Db>(path_, create);
    db->Exec("PRAGMA journal_mode = WAL");
    Configure(*db);
    // A current file is only read: another connection may hold the write lock
    // for as long as its caller's deadline. Otherwise one process at a time
    // brings the file up to the schema; another one opening it meanwhile
    // waits, then finds nothing left to do.
    if (!schema::IsCurrent(Describe(*db), schema::kSqlite)) {
      db->Exec("BEGIN IMMEDIATE");
      try {
        for (const std::string& step : schema::Migration(Describe(*db), schema::kSqlite))
          db->Exec(step.c_str());
        db->Exec(schema::CreateStatements(schema::kSqlite).c_str());
        db->Exec("COMMIT");
      } catch (...) {
        sqlite3_exec(db->get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
  } catch (const sql::Error& e) {
    // Said to whoever starts the server, never to a caller: the file is named.
    throw std::runtime_error("database " + path_ + ": " + e.detail());
  }
  struct stat file {};
  if (::stat(path_.c_str(), &file) != 0)
    throw std::runtime_error("database file " + path_ + " went away while it was opened");
  device_ = file.st_dev;
  inode_ = file.st_ino;
  Release(std::move(db));
}

SqliteStorage::~SqliteStorage() = default;

void SqliteStorage::CheckFileUnchanged(sql::Db& db) const {
  // SQLite sees the file it has open unlinked or renamed; the path's device and
  // inode also catch a copy put in its place, which a connection opened later
  // would take for the database.
  int moved = 0;
  sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved);
  struct stat file {};
  const bool there = ::stat(path_.c_str(), &file) == 0;
  if (!moved && there && file.st_dev == device_ && file.st_ino == inode_) return;
  throw StorageFailure(
      "database file " + path_ + (there ? " was replaced" : " was deleted or moved") +
          " after the server opened it; writes are refused until the server is restarted on "
          "the right file",
      "o arquivo do banco de dados foi removido ou substituído; gravações recusadas até o "
      "servidor ser reiniciado");
}

schema::LiveSchema SqliteStorage::DescribeSchema() {
  auto db = Acquire();
  schema::LiveSchema live = Describe(*db);
  Release(std::move(db));
  return live;
}

std::unique_ptr<sql::Db> SqliteStorage::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto db = std::move(idle_.back());
      idle_.pop_back();
      return db;
    }
  }
  auto db = std::make_unique<sql::Db>(path_, false);
  Configure(*db);
  return db;
}

void SqliteStorage::Release(std::unique_ptr<sql::Db> db) {
  // SQLite opens a file it may not write read-only without a word; kept, such
  // a connection would fail writes at random long after the file is writable
  // again.
  if (sqlite3_db_readonly(db->get(), "main") != 0) return;
  std::lock_guard lock(mutex_);
  if (idle_.size() < 8) idle_.push_back(std::move(db));
}

std::unique_ptr<IStorageSession> SqliteStorage::OpenSession() {
  return std::make_unique<SqliteSession>(*this, Acquire());
}

}  // namespace apura::server
