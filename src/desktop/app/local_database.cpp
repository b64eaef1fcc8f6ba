#include "desktop/app/local_database.h"

#include <cctype>
#include <stdexcept>

#include "framework/errors.h"

namespace apura::desktop {

namespace {
std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The column's type from its declaration, as SQLite's affinity rules read it.
FieldDef ColumnDef(sqlite3_stmt* st, int i) {
  FieldDef d;
  d.name = sqlite3_column_name(st, i);
  const char* decl = sqlite3_column_decltype(st, i);
  const std::string t = Upper(decl ? decl : "");
  if (t.find("INT") != std::string::npos)
    d.type = FieldType::Integer;
  else if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
           t.find("TEXT") != std::string::npos)
    d.type = FieldType::String;
  else if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos ||
           t.find("DOUB") != std::string::npos || t.find("NUMERIC") != std::string::npos ||
           t.find("DECIMAL") != std::string::npos)
    d.type = FieldType::Float;
  else if (t.find("DATE") != std::string::npos || t.find("TIME") != std::string::npos)
    d.type = FieldType::DateTime;
  else
    d.type = FieldType::String;  // expressions and untyped columns read as text
  if (d.type == FieldType::String) {
    auto open = t.find('(');
    d.size = open == std::string::npos ? 0 : std::atoi(t.c_str() + open + 1);
  }
  return d;
}
}  // namespace

SqliteDatabase::SqliteDatabase(const std::string& path) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("Cannot open the local database " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, 2000);
}

SqliteDatabase::~SqliteDatabase() {
  sqlite3_close(db_);
}

void SqliteDatabase::Exec(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string why = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw EDatabaseError("Local database " + path_ + ": " + why);
  }
}

DataPacket SqliteDatabase::Execute(const std::string& sql, const std::vector<QueryParam>& params) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw EDatabaseError("Local database " + path_ + ": " + sqlite3_errmsg(db_));
  struct Finalize {
    sqlite3_stmt* st;
    ~Finalize() { sqlite3_finalize(st); }
  } finalize{st};

  // The query component knows a parameter by its name in any letter case;
  // SQLite by the exact spelling, each spelling a parameter of its own.
  // Every ":NAME" of the statement gets the value of its parameter.
  const int marks = sqlite3_bind_parameter_count(st);
  for (int i = 1; i <= marks; ++i) {
    const char* mark = sqlite3_bind_parameter_name(st, i);
    if (!mark || mark[0] != ':') continue;
    const QueryParam* found = nullptr;
    for (const QueryParam& p : params)
      if (Upper(p.name) == Upper(mark + 1)) found = &p;
    if (!found) continue;
    const Value& v = found->value;
    switch (v.kind()) {
      case Value::Kind::Null:
        sqlite3_bind_null(st, i);
        break;
      case Value::Kind::Boolean:
      case Value::Kind::Integer:
        sqlite3_bind_int64(st, i, v.AsInteger());
        break;
      case Value::Kind::Float:
        sqlite3_bind_double(st, i, v.AsFloat());
        break;
      case Value::Kind::Date:
        sqlite3_bind_double(st, i, v.AsDate().days);
        break;
      default: {
        const std::string text = v.ToText();
        sqlite3_bind_text(st, i, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
      }
    }
  }
  const int n = sqlite3_column_count(st);
  std::vector<FieldDef> defs;
  for (int i = 0; i < n; ++i) defs.push_back(ColumnDef(st, i));
  PacketBuilder builder(defs);
  for (;;) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW)
      throw EDatabaseError("Local database " + path_ + ": " + sqlite3_errmsg(db_));
    std::vector<Value> row;
    row.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
      if (sqlite3_column_type(st, i) == SQLITE_NULL) {
        row.emplace_back();
        continue;
      }
      switch (defs[size_t(i)].type) {
        case FieldType::Integer:
        case FieldType::Boolean:
          row.emplace_back(static_cast<int64_t>(sqlite3_column_int64(st, i)));
          break;
        case FieldType::Float:
          row.emplace_back(sqlite3_column_double(st, i));
          break;
        case FieldType::DateTime:
          row.emplace_back(DateTime{sqlite3_column_double(st, i)});
          break;
        case FieldType::String:
          row.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                       size_t(sqlite3_column_bytes(st, i))));
          break;
      }
    }
    builder.Add(std::move(row));
  }
  return builder.Build();
}

void EnsureLocalSchema(SqliteDatabase& db) {
  db.Exec(
      "CREATE TABLE IF NOT EXISTS REGIAO (CDREGIAO TEXT PRIMARY KEY, NMREGIAO TEXT NOT NULL);"
      "CREATE TABLE IF NOT EXISTS AUTGRUPOP (IDAUTGRUPOP TEXT NOT NULL, CDGRUPOPER TEXT NOT NULL,"
      " PRIMARY KEY (IDAUTGRUPOP, CDGRUPOPER));"
      "CREATE TABLE IF NOT EXISTS OPERGRUPOP (CDGRUPOPER TEXT NOT NULL, CDOPERADOR TEXT NOT NULL,"
      " PRIMARY KEY (CDGRUPOPER, CDOPERADOR));");
}

}  // namespace apura::desktop
