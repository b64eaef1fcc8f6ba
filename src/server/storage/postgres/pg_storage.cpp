#include "server/storage/postgres/pg_storage.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "framework/names.h"
#include "server/errors.h"
#include "server/services/pricing.h"
#include "server/storage/sql_session.h"
#include "server/storage/storage_wait.h"

namespace apura::server {

namespace {

// A connection that failed or broke (SQLSTATE class 08) is news the caller
// can act on (try again later); any other failure says only that it happened.
class PgError : public StorageFailure {
 public:
  explicit PgError(const std::string& detail, const char* state = nullptr)
      : StorageFailure(detail, IsConnectionState(state) ? "sem conexão com o banco de dados" : "",
                       IsConnectionState(state) ? ErrorCode::Busy : ErrorCode::Internal) {}

 private:
  static bool IsConnectionState(const char* state) {
    return state && std::strncmp(state, "08", 2) == 0;
  }
};

// The role report statements run as, and how a database gets it (idempotent,
// and safe when two servers start at once).
constexpr const char* kReportRoleName = "apura_report";
constexpr const char* kSetReportRole = "SET LOCAL ROLE apura_report";
constexpr const char* kReportRole = R"SQL(
DO $$
BEGIN
  BEGIN
    CREATE ROLE apura_report NOLOGIN;
  EXCEPTION WHEN duplicate_object OR unique_violation THEN
    NULL;
  END;
  -- Shared by the cluster's databases: another server may be granting it now.
  BEGIN
    EXECUTE format('GRANT apura_report TO %I', current_user);
  EXCEPTION WHEN OTHERS THEN
    NULL;
  END;
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO apura_report', current_schema());
  EXECUTE format('GRANT SELECT ON ALL TABLES IN SCHEMA %I TO apura_report', current_schema());
  REVOKE ALL ON operador, sessao FROM apura_report;
END
$$)SQL";

const char* Flag(bool b) {
  return b ? "S" : "N";
}

// Doubles travel as text; 17 significant digits read back to the same double.
std::string Num(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

using Param = std::optional<std::string>;

Param P(std::string_view s) {
  return std::string(s);
}
Param P(double d) {
  return Num(d);
}
Param P(int64_t v) {
  return std::to_string(v);
}

// One answer of the server; rows and columns by position.
class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;

  int Rows() const { return PQntuples(r_); }
  std::string_view Text(int row, int col) const {
    return {PQgetvalue(r_, row, col), static_cast<size_t>(PQgetlength(r_, row, col))};
  }
  std::string Str(int row, int col) const { return std::string(Text(row, col)); }
  bool IsNull(int row, int col) const { return PQgetisnull(r_, row, col) != 0; }
  double Double(int row, int col) const {
    if (IsNull(row, col)) return 0;
    return std::strtod(PQgetvalue(r_, row, col), nullptr);
  }
  int64_t Int(int row, int col) const {
    if (IsNull(row, col)) return 0;
    return std::strtoll(PQgetvalue(r_, row, col), nullptr, 10);
  }
  int64_t Affected() const {
    const char* n = PQcmdTuples(r_);
    return *n ? std::strtoll(n, nullptr, 10) : 0;
  }

 private:
  PGresult* r_;
};

// Waits for locks end in these; the caller's deadline passed before the turn came.
bool IsLockWaitTimeout(const char* state) {
  return state && (std::strcmp(state, "55P03") == 0 || std::strcmp(state, "57014") == 0);
}

Result Check(PGconn* c, PGresult* r, std::string_view sql) {
  ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_COPY_IN) return Result(r);
  std::string msg = r ? PQresultErrorMessage(r) : PQerrorMessage(c);
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  bool timeout = IsLockWaitTimeout(state);
  // A delivery row another transaction ordered first, or a deadlock broken.
  const char* constraint = r ? PQresultErrorField(r, PG_DIAG_CONSTRAINT_NAME) : nullptr;
  bool conflict = state && ((std::strcmp(state, "23505") == 0 && constraint &&
                             std::strcmp(constraint, "autorizacao_item_once") == 0) ||
                            std::strcmp(state, "40P01") == 0);
  const std::string stateText = state ? state : (PQstatus(c) == CONNECTION_OK ? "" : "08000");
  PQclear(r);
  if (timeout) throw StorageBusy();
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  if (conflict)
    throw StorageConflict("SQL conflict (" + std::string(sql.substr(0, 60)) + "): " + msg);
  throw PgError("SQL failed (" + std::string(sql.substr(0, 60)) + "): " + msg,
                stateText.empty() ? nullptr : stateText.c_str());
}

Result Exec(PGconn* c, const char* sql, const std::vector<Param>& params = {}) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const Param& p : params) values.push_back(p ? p->c_str() : nullptr);
  PGresult* r = params.empty() ? PQexec(c, sql)
                               : PQexecParams(c, sql, static_cast<int>(params.size()), nullptr,
                                              values.data(), nullptr, nullptr, 0);
  return Check(c, r, sql);
}

// Rows sent by COPY in text format: tab between fields, backslash escapes.
class CopyIn {
 public:
  CopyIn(PGconn* c, const char* sql) : c_(c), sql_(sql) { Exec(c_, sql); }
  CopyIn& Field(std::string_view s) {
    if (!first_) buf_ += '\t';
    first_ = false;
    for (char ch : s) {
      switch (ch) {
        case '\\':
          buf_ += "\\\\";
          break;
        case '\t':
          buf_ += "\\t";
          break;
        case '\n':
          buf_ += "\\n";
          break;
        case '\r':
          buf_ += "\\r";
          break;
        default:
          buf_ += ch;
      }
    }
    return *this;
  }
  CopyIn& Null() {
    if (!first_) buf_ += '\t';
    first_ = false;
    buf_ += "\\N";
    return *this;
  }
  CopyIn& Field(double d) { return Field(std::string_view(Num(d))); }
  CopyIn& Field(int64_t v) { return Field(std::string_view(std::to_string(v))); }
  void EndRow() {
    buf_ += '\n';
    first_ = true;
    if (buf_.size() > (1 << 20)) Flush();
  }
  void Finish() {
    Flush();
    if (PQputCopyEnd(c_, nullptr) != 1) Fail();
    // The outcome of the COPY, then nothing more.
    Check(c_, PQgetResult(c_), sql_);
    while (PGresult* r = PQgetResult(c_)) PQclear(r);
  }

 private:
  void Flush() {
    if (!buf_.empty() && PQputCopyData(c_, buf_.data(), static_cast<int>(buf_.size())) != 1) {
      Fail();
    }
    buf_.clear();
  }
  [[noreturn]] void Fail() { throw PgError(std::string("COPY failed: ") + PQerrorMessage(c_)); }

  PGconn* c_;
  const char* sql_;
  std::string buf_;
  bool first_ = true;
};

// Array literals for statements that update many rows at once.
class ArrayText {
 public:
  void Add(std::string_view s) {
    Sep();
    text_ += '"';
    for (char ch : s) {
      if (ch == '"' || ch == '\\') text_ += '\\';
      text_ += ch;
    }
    text_ += '"';
  }
  void Add(double d) {
    Sep();
    text_ += Num(d);
  }
  void Add(int64_t v) {
    Sep();
    text_ += std::to_string(v);
  }
  std::string Take() {
    std::string out = "{" + text_ + "}";
    text_.clear();
    return out;
  }

 private:
  void Sep() {
    if (!text_.empty()) text_ += ',';
  }
  std::string text_;
};

// Statements are written with "?"; libpq numbers its parameters.
std::string Numbered(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  int n = 0;
  bool quoted = false;
  for (char ch : sql) {
    if (ch == '\'') quoted = !quoted;
    if (ch == '?' && !quoted) {
      out += '$';
      out += std::to_string(++n);
    } else {
      out += ch;
    }
  }
  return out;
}

std::vector<Param> Params(SqlParams params) {
  std::vector<Param> out;
  out.reserve(params.size());
  for (const SqlParam& p : params) {
    std::visit(
        [&](const auto& v) {
          using V = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<V, std::monostate>)
            out.push_back(Param{});
          else
            out.push_back(P(v));
        },
        p);
  }
  return out;
}

// The whole answer is in memory already; rows are walked by index.
class PgRows : public SqlRows {
 public:
  explicit PgRows(Result r) : r_(std::move(r)) {}
  bool Next() override { return ++row_ < r_.Rows(); }
  std::string_view Text(int col) const override { return r_.Text(row_, col); }
  double Double(int col) const override { return r_.Double(row_, col); }
  int64_t Int(int col) const override { return r_.Int(row_, col); }
  bool IsNull(int col) const override { return r_.IsNull(row_, col); }

 private:
  Result r_;
  int row_ = -1;
};

// Many rows in one COPY.
class PgWriter : public SqlRowWriter {
 public:
  PgWriter(PGconn* c, std::string sql) : sql_(std::move(sql)), copy_(c, sql_.c_str()) {}
  void Row(const std::vector<SqlParam>& values) override {
    for (const SqlParam& p : values) {
      std::visit(
          [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::monostate>)
              copy_.Null();
            else
              copy_.Field(v);
          },
          p);
    }
    copy_.EndRow();
  }
  void Finish() override { copy_.Finish(); }

 private:
  std::string sql_;
  CopyIn copy_;
};

// A tally's id range is read through the tally's index: MIN and MAX alone
// may have the planner walk the primary key from one end, through every other
// tally's rows.
const SqlDialect kPostgresSql{
    .byteOrder = " COLLATE \"C\"",
    .insertionOrder = "ctid",
    .notIndexed = "",
    .lockRows = " FOR UPDATE",
    .itemIdRange = "SELECT MIN(ID), MAX(ID) FROM item_apuracao WHERE NRSEQAPUR = ?"};

// The schema is created by whichever server starts first; others wait for it.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(5810021)";

// AF numbers come from a sequence: effectuations of different tallies never
// wait for one another's commit on a counter row, at the price of gaps where
// an effectuation rolled back. Made once, after the highest number the
// database holds (from the counter row earlier servers kept, or the AFs).
// Every server on a database must be of a version that uses it.
constexpr const char* kAfSequence = R"(
DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_class WHERE relname = 'af_numero' AND relkind = 'S') THEN
    CREATE SEQUENCE af_numero;
    PERFORM setval('af_numero', 1 + GREATEST(
      COALESCE((SELECT VRATUAL FROM sequencia WHERE NMSEQUENCIA = 'AF'), 0),
      COALESCE((SELECT MAX(CAST(NRAUTOFORN AS BIGINT)) FROM autorizacao
                WHERE NRAUTOFORN ~ '^[0-9]{1,18}$'), 0)), false);
  END IF;
END
$$)";

}  // namespace

class PgSession : public SqlSession {
 public:
  PgSession(PgStorage& owner, PGconn* c) : SqlSession(kPostgresSql), owner_(owner), c_(c) {}
  ~PgSession() override {
    if (inTransaction_) {
      try {
        ::apura::server::Exec(c_, "ROLLBACK");
      } catch (...) {
      }
    }
    owner_.Release(c_);
  }

  // Readers take one snapshot for the whole read. A writer waits for locks no
  // longer than the caller's deadline; the lock that matters is its tally's row,
  // taken by Tally() (every write reads its tally first).
  void Begin(bool write) override {
    if (write) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      WaitLimit() - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) throw StorageBusy();
      Run("BEGIN ISOLATION LEVEL READ COMMITTED");
      inTransaction_ = true;
      Run(("SET LOCAL lock_timeout = " + std::to_string(left)).c_str());
    } else {
      Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
      inTransaction_ = true;
    }
    write_ = write;
  }
  void Commit() override {
    Run("COMMIT");
    inTransaction_ = false;
  }
  std::unique_ptr<SqlSession> ReadSibling() override {
    if (!inTransaction_ || write_) return nullptr;
    try {
      return std::make_unique<PgSession>(owner_, owner_.Acquire());
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  void Rollback() override {
    inTransaction_ = false;
    Run("ROLLBACK");
  }

  // Runs in the read's READ ONLY transaction, so a statement that would
  // write fails in the database, as the report role (kReportRole), which
  // cannot read operators or sessions; it ends at the caller's deadline.
  DataPacket RunReportQuery(const std::string& text, const ReportParams& params) override {
    std::string sql;
    std::vector<std::string> names;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
      const char ch = text[i];
      if (ch == '\'') quoted = !quoted;
      if (!quoted && ch == ':' && i + 1 < text.size() && text[i + 1] == ':') {
        sql += "::";  // a cast
        ++i;
        continue;
      }
      if (!quoted && ch == ':') {
        size_t j = i + 1;
        while (j < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'))
          ++j;
        if (j > i + 1) {
          const std::string name = text.substr(i + 1, j - i - 1);
          size_t k = 0;
          while (k < names.size() && !SameName(names[k], name)) ++k;
          if (k == names.size()) names.push_back(name);
          sql += "$" + std::to_string(k + 1);
          i = j - 1;
          continue;
        }
      }
      if (!quoted && (ch == '?' || (ch == '$' && i + 1 < text.size() &&
                                    std::isdigit(static_cast<unsigned char>(text[i + 1])))))
        throw ReportQueryError("parâmetros devem ter nome (:NOME)");
      if (!quoted && ch == ';') {
        for (size_t j = i + 1; j < text.size(); ++j)
          if (!std::isspace(static_cast<unsigned char>(text[j])) && text[j] != ';')
            throw ReportQueryError("tem mais de um comando");
        break;
      }
      sql += ch;
    }
    if (sql.find_first_not_of(" \t\r\n") == std::string::npos) throw ReportQueryError("está vazia");
    std::vector<Param> values;
    for (const std::string& n : names) values.push_back(*ReportParam(params, n));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          WaitLimit() - std::chrono::steady_clock::now())
                          .count();
    Run(("SET LOCAL statement_timeout = " + std::to_string(std::max<int64_t>(left, 1))).c_str());
    PGresult* role = PQexec(c_, kSetReportRole);
    const bool asReportRole = PQresultStatus(role) == PGRES_COMMAND_OK;
    PQclear(role);
    if (!asReportRole)
      throw ReportQueryError(std::string("não pode ser lida: falta o papel de relatórios ") +
                             kReportRoleName + " no banco de dados");
    std::vector<const char*> raw;
    for (const Param& p : values) raw.push_back(p ? p->c_str() : nullptr);
    PGresult* r = PQexecParams(c_, sql.c_str(), static_cast<int>(raw.size()), nullptr, raw.data(),
                               nullptr, nullptr, 0);
    if (!r || PQresultStatus(r) != PGRES_TUPLES_OK) {
      const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
      if (state && std::strcmp(state, "25006") == 0) {
        PQclear(r);
        throw ReportQueryError("não é somente leitura");
      }
      std::string why = r ? PQresultErrorMessage(r) : PQerrorMessage(c_);
      PQclear(r);
      while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
      if (why.empty()) why = "não devolve linhas";
      throw ReportQueryError(why);
    }
    Result rows(r);
    Run("RESET ROLE");
    const int n = PQnfields(r);
    std::vector<std::string> columns;
    std::vector<ReportColumnKind> kinds;
    for (int c = 0; c < n; ++c) {
      // Unquoted names come back folded to lower case; the screens name
      // columns in upper case, as the definitions write them.
      std::string name = PQfname(r, c);
      if (std::none_of(name.begin(), name.end(),
                       [](char ch) { return std::isupper(static_cast<unsigned char>(ch)); }))
        for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      columns.push_back(std::move(name));
      switch (PQftype(r, c)) {
        case 700:   // float4
        case 701:   // float8
        case 1700:  // numeric
          kinds.push_back(ReportColumnKind::Real);
          break;
        case 20:  // int8
        case 21:  // int2
        case 23:  // int4
          kinds.push_back(ReportColumnKind::Integer);
          break;
        default:
          kinds.push_back(ReportColumnKind::Text);
      }
    }
    std::vector<std::vector<Value>> out(static_cast<size_t>(rows.Rows()));
    for (int i = 0; i < rows.Rows(); ++i) {
      auto& row = out[static_cast<size_t>(i)];
      for (int c = 0; c < n; ++c) {
        if (rows.IsNull(i, c))
          row.emplace_back();
        else if (kinds[static_cast<size_t>(c)] == ReportColumnKind::Real)
          row.emplace_back(rows.Double(i, c));
        else if (kinds[static_cast<size_t>(c)] == ReportColumnKind::Integer)
          row.emplace_back(rows.Int(i, c));
        else
          row.emplace_back(rows.Str(i, c));
      }
    }
    return ReportPacket(columns, kinds, std::move(out));
  }

  // Many rows in few statements: one round trip per batch, not per row.
  void UpdateItems(const std::vector<ItemUpdate>& updates) override {
    constexpr size_t kBatch = 20000;
    for (size_t at = 0; at < updates.size(); at += kBatch) {
      ArrayText ids, sel, qt, mot, just;
      for (size_t k = at; k < std::min(updates.size(), at + kBatch); ++k) {
        const ItemUpdate& u = updates[k];
        ids.Add(u.id);
        sel.Add(std::string_view(Flag(u.selected)));
        qt.Add(u.QTACOMP);
        mot.Add(u.IDMOTIVPRESC);
        just.Add(u.TXOBESCMANAP);
      }
      ::apura::server::Exec(c_,
                            "UPDATE item_apuracao i SET IDITMSELAPUR = u.sel, QTACOMP = u.qt, "
                            "IDMOTIVPRESC = u.mot, TXOBESCMANAP = u.just "
                            "FROM unnest($1::bigint[], $2::text[], $3::float8[], $4::text[], "
                            "$5::text[]) AS u(id, sel, qt, mot, just) WHERE i.ID = u.id",
                            {ids.Take(), sel.Take(), qt.Take(), mot.Take(), just.Take()});
    }
  }

 protected:
  std::unique_ptr<SqlRows> Query(std::string_view sql, SqlParams params) override {
    const std::string text = Numbered(sql);
    return std::make_unique<PgRows>(::apura::server::Exec(c_, text.c_str(), Params(params)));
  }
  int64_t Exec(std::string_view sql, SqlParams params) override {
    const std::string text = Numbered(sql);
    return ::apura::server::Exec(c_, text.c_str(), Params(params)).Affected();
  }
  std::unique_ptr<SqlRowWriter> Writer(std::string_view table,
                                       const std::vector<std::string_view>& columns) override {
    std::string sql = "COPY " + std::string(table) + " (";
    for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + std::string(columns[i]);
    return std::make_unique<PgWriter>(c_, sql + ") FROM STDIN");
  }
  bool LocksTallyRow() const override { return write_ && inTransaction_; }
  std::vector<int64_t> TakeAfNumbers(int64_t n) override {
    std::vector<int64_t> numbers;
    numbers.reserve(static_cast<size_t>(n));
    const SqlParam count[] = {n};
    auto r = Query("SELECT nextval('af_numero') FROM generate_series(1, ?)", count);
    while (r->Next()) numbers.push_back(r->Int(0));
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }
  // Until autovacuum gets to them, the planner's statistics describe the tables
  // before the load; the writes that follow an import are planned for its size.
  void Imported() override { Run("ANALYZE cotacao, solicitacao, item_apuracao"); }

 private:
  void Run(const char* sql) { ::apura::server::Exec(c_, sql); }

  PgStorage& owner_;
  PGconn* c_;
  bool inTransaction_ = false;
  bool write_ = false;
};

bool IsPostgresAddress(const std::string& db) {
  return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

namespace {

bool Declared(std::string_view table) {
  for (const schema::Table& t : schema::Tables())
    if (t.name == table) return true;
  return false;
}

// Names come back folded to lower case, as the schema was written unquoted.
// Indexes behind PRIMARY KEY and UNIQUE constraints are left out.
schema::LiveSchema Describe(PGconn* c) {
  schema::LiveSchema live;
  Result cols = Exec(c,
                     "SELECT table_name, column_name, data_type, is_nullable = 'NO' "
                     "FROM information_schema.columns WHERE table_schema = current_schema() "
                     "ORDER BY table_name, ordinal_position");
  for (int r = 0; r < cols.Rows(); ++r) {
    if (!Declared(cols.Text(r, 0))) continue;
    live.tables[cols.Str(r, 0)].push_back({cols.Str(r, 1), cols.Str(r, 2), cols.Text(r, 3) == "t"});
  }
  Result indexes = Exec(c,
                        "SELECT i.relname, t.relname, x.indisunique, a.attname FROM pg_index x "
                        "JOIN pg_class i ON i.oid = x.indexrelid "
                        "JOIN pg_class t ON t.oid = x.indrelid "
                        "JOIN pg_namespace n ON n.oid = t.relnamespace "
                        "CROSS JOIN LATERAL unnest(x.indkey) WITH ORDINALITY AS k(attnum, ord) "
                        "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum "
                        "WHERE n.nspname = current_schema() AND NOT EXISTS "
                        "(SELECT 1 FROM pg_constraint k2 WHERE k2.conindid = x.indexrelid) "
                        "ORDER BY i.relname, k.ord");
  for (int r = 0; r < indexes.Rows(); ++r) {
    if (!Declared(indexes.Text(r, 1))) continue;
    schema::LiveIndex& index = live.indexes[indexes.Str(r, 0)];
    index.table = indexes.Str(r, 1);
    index.unique = indexes.Text(r, 2) == "t";
    index.columns.push_back(indexes.Str(r, 3));
  }
  return live;
}

}  // namespace

schema::LiveSchema PgStorage::DescribeSchema() {
  PGconn* c = Acquire();
  try {
    schema::LiveSchema live = Describe(c);
    Release(c);
    return live;
  } catch (...) {
    PQfinish(c);
    throw;
  }
}

PgStorage::PgStorage(std::string conninfo) : conninfo_(std::move(conninfo)) {
  // Failures here are said to whoever starts the server, never to a caller: the
  // address is named, its password masked.
  PGconn* c = nullptr;
  try {
    c = Acquire();
  } catch (const StorageFailure& e) {
    throw std::runtime_error(e.detail());
  }
  try {
    Exec(c, "BEGIN");
    Exec(c, kSchemaLock);
    // Altering takes a table from every other server's transactions, so the
    // migration has steps only where the database lacks something.
    for (const std::string& step : schema::Migration(Describe(c), schema::kPostgres))
      Exec(c, step.c_str());
    Exec(c, schema::CreateStatements(schema::kPostgres).c_str());
    Exec(c, kAfSequence);
    // Report statements run as a role that reads every table but the
    // operators' and the sessions'. A server whose user may not create roles
    // says so, and its reports are refused until an administrator runs the same.
    Exec(c, "SAVEPOINT report_role");
    PGresult* r = PQexec(c, kReportRole);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
      std::string why = PQresultErrorMessage(r);
      while (!why.empty() && why.back() == '\n') why.pop_back();
      LogLine("reports are refused until the role " + std::string(kReportRoleName) +
              " exists and this user may take it: " + why);
      Exec(c, "ROLLBACK TO SAVEPOINT report_role");
    }
    PQclear(r);
    Exec(c, "COMMIT");
  } catch (const std::exception& e) {
    PQfinish(c);
    const auto* failure = dynamic_cast<const StorageFailure*>(&e);
    throw std::runtime_error("database " + MaskConnectionString(conninfo_) + ": " +
                             (failure ? failure->detail() : std::string(e.what())));
  }
  Release(c);
}

PgStorage::~PgStorage() {
  for (PGconn* c : idle_) PQfinish(c);
}

PGconn* PgStorage::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      PGconn* c = idle_.back();
      idle_.pop_back();
      return c;
    }
  }
  PGconn* c = PQconnectdb(conninfo_.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(c);
    PQfinish(c);
    while (!msg.empty() && msg.back() == '\n') msg.pop_back();
    throw PgError("cannot connect to database " + MaskConnectionString(conninfo_) + ": " + msg,
                  "08001");
  }
  // Warnings of CREATE ... IF NOT EXISTS are no news.
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  Exec(c, "SET client_min_messages = warning");
  return c;
}

void PgStorage::Release(PGconn* c) {
  // A connection that broke or still holds a transaction is not handed out again.
  if (PQstatus(c) != CONNECTION_OK || PQtransactionStatus(c) != PQTRANS_IDLE) {
    PQfinish(c);
    return;
  }
  std::lock_guard lock(mutex_);
  if (idle_.size() < 16) {
    idle_.push_back(c);
  } else {
    PQfinish(c);
  }
}

std::unique_ptr<IStorageSession> PgStorage::OpenSession() {
  return std::make_unique<PgSession>(*this, Acquire());
}

}  // namespace apura::server
