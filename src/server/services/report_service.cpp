#include "server/services/report_service.h"

#include <cctype>
#include <optional>

#include "framework/dataset/dataset.h"
#include "framework/names.h"
#include "server/exchange/json.h"
#include "server/services/tally_service.h"

namespace apura::server {

namespace {

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

ReportService::ReportService(IStorage& storage) : storage_(storage) {
  InstallShipped();
}

// Shipped definitions go in once; one changed in the database stays.
void ReportService::InstallShipped() {
  auto s = storage_.OpenSession();
  Transaction t(*s, true);
  for (const auto& [code, text] : ShippedReports()) s->SaveReportDefinition(code, text, false);
  t.Commit();
}

ReportService::~ReportService() = default;

void ReportService::Save(const std::string& text) {
  const StoredReport r = ParseReportDefinition(text);
  auto s = storage_.OpenSession();
  Transaction t(*s, true);
  s->SaveReportDefinition(r.layout.code, text, true);
  t.Commit();
}

StoredReport ReportService::Load(IStorageSession& s, const std::string& code) {
  std::optional<std::string> text = s.ReportDefinition(code);
  if (!text) throw ServerError(ErrorCode::NotFound, "Relatório " + code + " não cadastrado.");
  StoredReport r = ParseReportDefinition(*text);
  if (r.layout.code != code) Fail(code, "a definição guardada é do relatório " + r.layout.code);
  return r;
}

DataPacket ReportService::GetRelatorio(const std::string& code) {
  auto s = storage_.OpenSession();
  Transaction t(*s, false);
  return Load(*s, code).layout.ToPacket();
}

ValueArray ReportService::ExecutaRelatorio(const std::string& code,
                                           const std::vector<std::string>& names,
                                           const std::vector<std::string>& values) {
  if (names.size() != values.size())
    Fail(code, std::to_string(names.size()) + " nomes de parâmetro para " +
                   std::to_string(values.size()) + " valores");
  ReportParams params;
  for (size_t i = 0; i < names.size(); ++i) params.emplace_back(names[i], values[i]);
  // One snapshot for every query of the run.
  auto s = storage_.OpenSession();
  Transaction t(*s, false);
  const StoredReport r = Load(*s, code);
  ValueArray out;
  for (const std::string& name : r.layout.queries) {
    try {
      out.emplace_back(s->RunReportQuery(r.sql.at(name), params));
    } catch (const ReportQueryError& e) {
      Fail(code, "consulta " + name + ": " + e.what());
    }
  }
  return out;
}

std::string ReportService::CentreOfTally(const std::string& tally) {
  auto s = storage_.OpenSession();
  Transaction t(*s, false);
  std::optional<TallyHeader> h = s->PeekTally(tally);
  return h ? h->centre : std::string();
}

}  // namespace apura::server
