#include "server/services/report_service.h"

#include <sqlite3.h>

#include <cctype>
#include <optional>

#include "framework/dataset/dataset.h"
#include "framework/names.h"
#include "rpc/dispatch.h"
#include "server/exchange/json.h"
#include "server/objects/server_objects.h"
#include "server/services/tally_service.h"
#include "server/storage/sqlite/sqlite.h"

namespace apura::server {

namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS relatorio (
  CDRELATORIO TEXT PRIMARY KEY,
  DSDEFINICAO TEXT NOT NULL);
)SQL";

[[noreturn]] void Fail(const std::string& code, const std::string& what) {
  throw ServerError("Relatório " + code + ": " + what);
}

using Element = simdjson::dom::element;

std::string Member(Element j, const char* name, const std::string& code, const char* where,
                   bool required = false) {
  Element m;
  if (!FindMember(j, name, m) || m.is_null()) {
    if (required) Fail(code, std::string(where) + " sem o campo \"" + name + "\"");
    return {};
  }
  std::string_view s;
  if (m.get_string().get(s))
    Fail(code, std::string(where) + ": \"" + name + "\" deve ser um texto");
  return std::string(s);
}

std::vector<Element> ArrayMember(Element j, const char* name, const std::string& code) {
  Element m;
  if (!FindMember(j, name, m) || m.is_null()) return {};
  simdjson::dom::array a;
  if (m.get_array().get(a)) Fail(code, std::string("\"") + name + "\" deve ser uma lista");
  return {a.begin(), a.end()};
}

struct Query {
  sqlite3_stmt* s = nullptr;
  ~Query() { sqlite3_finalize(s); }
};

// The packet of a query's rows: each column typed by its declared type, or by
// the values it holds when it has none (an expression).
DataPacket RunQuery(sqlite3* db, sqlite3_stmt* s) {
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
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));

  std::vector<FieldDef> fields;
  for (int c = 0; c < n; ++c) {
    std::string decl;
    if (const char* d = sqlite3_column_decltype(s, c)) decl = FoldCase(d);
    FieldType t;
    const int v = seen[static_cast<size_t>(c)];
    if (decl.find("char") != std::string::npos || decl.find("text") != std::string::npos || (v & 4))
      t = FieldType::String;
    else if (decl.find("real") != std::string::npos || (v & 2))
      t = FieldType::Float;
    else if (decl.find("int") != std::string::npos || v == 1)
      t = FieldType::Integer;
    else
      t = FieldType::String;
    fields.push_back({sqlite3_column_name(s, c), t, t == FieldType::String ? 255 : 0});
  }
  PacketBuilder b(fields);
  for (auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      Value& v = row[c];
      if (v.IsNull()) continue;
      if (fields[c].type == FieldType::String && v.kind() != Value::Kind::Text)
        v = Value(v.ToText());
      else if (fields[c].type == FieldType::Float && v.kind() == Value::Kind::Integer)
        v = Value(v.AsFloat());
    }
    b.Add(std::move(row));
  }
  return b.Build();
}

}  // namespace

StoredReport ParseReportDefinition(const std::string& text) {
  std::optional<JsonText> parsed;
  try {
    parsed.emplace(JsonText::Parse(text));
  } catch (const JsonError& e) {
    throw ServerError(std::string("Definição de relatório ilegível: ") + e.what());
  }
  const Element j = parsed->root();
  if (!j.is_object()) throw ServerError("Definição de relatório deve ser um objeto");
  StoredReport r;
  ReportDefinition& d = r.layout;
  d.code = Member(j, "code", "sem código", "a definição", true);
  const std::string& code = d.code;
  d.title = Member(j, "title", code, "a definição");
  for (Element p : ArrayMember(j, "params", code)) {
    std::string_view s;
    if (p.get_string().get(s)) Fail(code, "os parâmetros devem ser textos");
    d.params.emplace_back(s);
  }
  for (Element q : ArrayMember(j, "queries", code)) {
    const std::string name = Member(q, "name", code, "uma consulta", true);
    const std::string role = Member(q, "role", code, "a consulta");
    const std::string sqlText = Member(q, "sql", code, ("a consulta " + name).c_str(), true);
    if (r.sql.count(name)) Fail(code, "a consulta " + name + " aparece duas vezes");
    r.sql[name] = sqlText;
    d.queries.push_back(name);
    if (role == "detail") d.detailQuery = name;
    if (role == "header") d.headerQuery = name;
  }
  for (Element h : ArrayMember(j, "header", code)) {
    std::string_view s;
    if (h.get_string().get(s)) Fail(code, "as linhas de cabeçalho devem ser textos");
    d.headerLines.emplace_back(s);
  }
  for (Element g : ArrayMember(j, "groups", code))
    d.groups.push_back({Member(g, "field", code, "um grupo", true),
                        Member(g, "header", code, "um grupo"),
                        Member(g, "footer", code, "um grupo")});
  for (Element c : ArrayMember(j, "columns", code)) {
    ReportColumn col;
    col.caption = Member(c, "caption", code, "uma coluna");
    col.field = Member(c, "field", code, "uma coluna", true);
    col.format = Member(c, "format", code, "uma coluna");
    if (Element w; FindMember(c, "width", w)) {
      double width;
      if (w.get_double().get(width))
        Fail(code, "a largura da coluna " + col.field + " deve ser um número");
      col.width = width;
    }
    const std::string a = Member(c, "align", code, "uma coluna");
    if (!a.empty() && a != "L" && a != "R" && a != "C")
      Fail(code, "o alinhamento da coluna " + col.field + " deve ser L, R ou C");
    col.align = a == "R" ? ReportAlign::Right : a == "C" ? ReportAlign::Center : ReportAlign::Left;
    if (Element t; FindMember(c, "total", t)) {
      bool total;
      if (t.get_bool().get(total))
        Fail(code, "\"total\" da coluna " + col.field + " deve ser true ou false");
      col.total = total;
    }
    d.columns.push_back(std::move(col));
  }
  d.grandTotal = Member(j, "grandTotal", code, "a definição");
  if (Element f; FindMember(j, "pageFooter", f))
    d.pageFooter = Member(j, "pageFooter", code, "a definição");
  try {
    d.Check();
  } catch (const std::runtime_error& e) {
    throw ServerError(e.what());
  }
  return r;
}

ReportService::ReportService(const std::string& dbPath)
    : db_(std::make_unique<sql::Db>(dbPath, true)) {
  sqlite3_busy_timeout(db_->get(), 10000);
  db_->Exec(kSchema);
  // Shipped definitions go in once; one changed in the database stays.
  sql::Stmt put(*db_, "INSERT OR IGNORE INTO relatorio (CDRELATORIO, DSDEFINICAO) VALUES (?, ?)");
  for (const auto& [code, text] : ShippedReports()) {
    put.Bind(1, code).Bind(2, text);
    put.Run();
  }
}

ReportService::~ReportService() = default;

void ReportService::Save(const std::string& text) {
  const StoredReport r = ParseReportDefinition(text);
  std::lock_guard lock(mutex_);
  sql::Stmt put(*db_, "INSERT OR REPLACE INTO relatorio (CDRELATORIO, DSDEFINICAO) VALUES (?, ?)");
  put.Bind(1, r.layout.code).Bind(2, text);
  put.Run();
}

StoredReport ReportService::Load(const std::string& code) {
  std::string text;
  {
    sql::Stmt get(*db_, "SELECT DSDEFINICAO FROM relatorio WHERE CDRELATORIO = ?");
    get.Bind(1, code);
    if (!get.Step())
      throw ServerError(ErrorCode::NotFound, "Relatório " + code + " não cadastrado.");
    text = std::string(get.Text(0));
  }
  StoredReport r = ParseReportDefinition(text);
  if (r.layout.code != code) Fail(code, "a definição guardada é do relatório " + r.layout.code);
  return r;
}

DataPacket ReportService::GetRelatorio(const std::string& code) {
  std::lock_guard lock(mutex_);
  return Load(code).layout.ToPacket();
}

ValueArray ReportService::ExecutaRelatorio(const std::string& code,
                                           const std::vector<std::string>& names,
                                           const std::vector<std::string>& values) {
  if (names.size() != values.size())
    Fail(code, std::to_string(names.size()) + " nomes de parâmetro para " +
                   std::to_string(values.size()) + " valores");
  std::lock_guard lock(mutex_);
  const StoredReport r = Load(code);
  sqlite3* db = db_->get();
  // One snapshot for every query of the run.
  db_->Exec("BEGIN");
  ValueArray out;
  try {
    for (const std::string& name : r.layout.queries) {
      const std::string& text = r.sql.at(name);
      const std::string where = "consulta " + name;
      Query q;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(db, text.c_str(), -1, &q.s, &tail) != SQLITE_OK)
        Fail(code, where + ": " + sqlite3_errmsg(db));
      if (!q.s) Fail(code, where + " está vazia");
      for (const char* t = tail; t && *t; ++t)
        if (!std::isspace(static_cast<unsigned char>(*t)) && *t != ';')
          Fail(code, where + " tem mais de um comando");
      // A report reads; a definition that would write is refused before it runs.
      if (!sqlite3_stmt_readonly(q.s)) Fail(code, where + " não é somente leitura");
      const int nParams = sqlite3_bind_parameter_count(q.s);
      for (int i = 1; i <= nParams; ++i) {
        const char* pn = sqlite3_bind_parameter_name(q.s, i);
        if (!pn || (pn[0] != ':' && pn[0] != '@' && pn[0] != '$'))
          Fail(code, where + ": parâmetros devem ter nome (:NOME)");
        const std::string pname(pn + 1);
        size_t k = 0;
        while (k < names.size() && !SameName(names[k], pname)) ++k;
        if (k == names.size()) Fail(code, where + ": parâmetro " + pname + " não informado");
        sqlite3_bind_text(q.s, i, values[k].c_str(), static_cast<int>(values[k].size()),
                          SQLITE_TRANSIENT);
      }
      try {
        out.emplace_back(RunQuery(db, q.s));
      } catch (const std::runtime_error& e) {
        Fail(code, where + ": " + e.what());
      }
    }
  } catch (...) {
    db_->Exec("ROLLBACK");
    throw;
  }
  db_->Exec("COMMIT");
  return out;
}

std::string ReportService::CentreOfTally(const std::string& tally) {
  std::lock_guard lock(mutex_);
  sql::Stmt get(*db_, "SELECT CDCENTCMP FROM apuracao WHERE NRSEQAPUR = ?");
  get.Bind(1, tally);
  return get.Step() ? std::string(get.Text(0)) : std::string();
}

}  // namespace apura::server
