#include "framework/report.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "framework/format.h"
#include "framework/forms.h"
#include "framework/names.h"
#include "framework/netconnection.h"

namespace apura {

namespace {

std::runtime_error ReportError(const std::string& code, const std::string& what) {
  return std::runtime_error("Relatório " + (code.empty() ? std::string("sem código") : code) +
                            ": " + what);
}

bool IsDatePicture(std::string_view picture) {
  return picture.find_first_of("dmyDMY") != std::string_view::npos &&
         picture.find_first_of("#0") == std::string_view::npos;
}

// A cell's text: numbers through the column's picture, dates through a date
// picture or the short date format.
std::string FormatValue(const Value& v, const std::string& picture) {
  switch (v.kind()) {
    case Value::Kind::Null:
      return {};
    case Value::Kind::Date:
      return picture.empty() ? DateTimeToText(v.AsDate()) : FormatDateTime(picture, v.AsDate());
    case Value::Kind::Integer:
    case Value::Kind::Float:
      if (picture.empty()) return v.ToText();
      if (IsDatePicture(picture)) return FormatDateTime(picture, DateTime{v.AsFloat()});
      return FormatFloat(picture, v.AsFloat());
    default:
      return v.ToText();
  }
}

struct Row {
  const DataPacket* packet = nullptr;
  size_t row = 0;
  Value Get(const std::string& code, const std::string& field) const {
    const int col = packet->FieldIndex(field);
    if (col < 0) throw ReportError(code, "a consulta não tem o campo " + field);
    return packet->Cell(static_cast<size_t>(col), row);
  }
};

// {FIELD} and {FIELD:picture} replaced from a row; a text without a row gets
// empty values.
std::string Fill(const std::string& code, const std::string& text, const Row* row) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('{', i);
    if (open == std::string::npos) {
      out += text.substr(i);
      break;
    }
    const size_t close = text.find('}', open);
    if (close == std::string::npos)
      throw ReportError(code, "chave sem fechamento em \"" + text + "\"");
    out += text.substr(i, open - i);
    std::string name = text.substr(open + 1, close - open - 1);
    std::string picture;
    if (size_t colon = name.find(':'); colon != std::string::npos) {
      picture = name.substr(colon + 1);
      name.resize(colon);
    }
    if (row) out += FormatValue(row->Get(code, name), picture);
    i = close + 1;
  }
  return out;
}

const char* AlignText(ReportAlign a) {
  switch (a) {
    case ReportAlign::Right:
      return "R";
    case ReportAlign::Center:
      return "C";
    default:
      return "L";
  }
}

}  // namespace

// --- Definition -----------------------------------------------------------------------

void ReportDefinition::Check() const {
  if (code.empty()) throw ReportError(code, "o relatório não tem código");
  auto known = [this](const std::string& q) {
    for (const std::string& n : queries)
      if (SameName(n, q)) return true;
    return false;
  };
  if (detailQuery.empty()) throw ReportError(code, "nenhuma consulta de detalhe");
  if (!known(detailQuery))
    throw ReportError(code, "a consulta de detalhe " + detailQuery + " não está definida");
  if (!headerQuery.empty() && !known(headerQuery))
    throw ReportError(code, "a consulta de cabeçalho " + headerQuery + " não está definida");
  if (columns.empty()) throw ReportError(code, "nenhuma coluna");
  for (size_t i = 0; i < columns.size(); ++i) {
    const ReportColumn& c = columns[i];
    if (c.field.empty())
      throw ReportError(code,
                        "a coluna " + std::to_string(i + 1) + " (" + c.caption + ") não tem campo");
    if (!(c.width > 0) || !std::isfinite(c.width))
      throw ReportError(code, "a coluna " + c.field + " precisa de largura positiva");
  }
  for (size_t i = 0; i < groups.size(); ++i)
    if (groups[i].field.empty())
      throw ReportError(code, "o grupo " + std::to_string(i + 1) + " não tem campo");
}

DataPacket ReportDefinition::ToPacket() const {
  const FieldType T = FieldType::String;
  PacketBuilder b({{"ITEM", T, 10},
                   {"NOME", T, 60},
                   {"TEXTO", T, 400},
                   {"TEXTO2", T, 400},
                   {"CAMPO", T, 60},
                   {"FORMATO", T, 40},
                   {"LARGURA", FieldType::Float, 0},
                   {"ALINHAMENTO", T, 1},
                   {"TOTALIZA", T, 1}});
  auto add = [&b](const char* item, std::string nome, std::string texto, std::string texto2 = {},
                  std::string campo = {}, std::string formato = {}, double largura = 0,
                  std::string alinha = {}, std::string totaliza = {}) {
    b.Add({Value(item), Value(std::move(nome)), Value(std::move(texto)), Value(std::move(texto2)),
           Value(std::move(campo)), Value(std::move(formato)), Value(largura),
           Value(std::move(alinha)), Value(std::move(totaliza))});
  };
  add("REPORT", code, title);
  for (const std::string& p : params) add("PARAM", p, {});
  for (const std::string& q : queries) {
    std::string role = SameName(q, detailQuery)   ? "detail"
                       : SameName(q, headerQuery) ? "header"
                                                  : "";
    add("QUERY", q, {}, {}, role);
  }
  for (const std::string& h : headerLines) add("HEADER", {}, h);
  for (const ReportGroup& g : groups) add("GROUP", {}, g.header, g.footer, g.field);
  for (const ReportColumn& c : columns)
    add("COLUMN", {}, c.caption, {}, c.field, c.format, c.width, AlignText(c.align),
        c.total ? "S" : "N");
  if (!grandTotal.empty()) add("TOTAL", {}, grandTotal);
  add("FOOTER", {}, pageFooter);
  return b.Build();
}

ReportDefinition ReportDefinition::FromPacket(const DataPacket& p) {
  auto col = [&p](const char* name) {
    int i = p.FieldIndex(name);
    if (i < 0) throw std::runtime_error(std::string("Definição de relatório sem o campo ") + name);
    return static_cast<size_t>(i);
  };
  const size_t cItem = col("ITEM"), cNome = col("NOME"), cTexto = col("TEXTO"),
               cTexto2 = col("TEXTO2"), cCampo = col("CAMPO"), cFormato = col("FORMATO"),
               cLargura = col("LARGURA"), cAlinha = col("ALINHAMENTO"), cTotal = col("TOTALIZA");
  ReportDefinition d;
  d.pageFooter.clear();
  for (size_t r = 0; r < p.RowCount(); ++r) {
    const std::string item(p.Text(cItem, r));
    auto text = [&p, r](size_t c) { return std::string(p.Text(c, r)); };
    if (item == "REPORT") {
      d.code = text(cNome);
      d.title = text(cTexto);
    } else if (item == "PARAM") {
      d.params.push_back(text(cNome));
    } else if (item == "QUERY") {
      d.queries.push_back(text(cNome));
      if (text(cCampo) == "detail") d.detailQuery = text(cNome);
      if (text(cCampo) == "header") d.headerQuery = text(cNome);
    } else if (item == "HEADER") {
      d.headerLines.push_back(text(cTexto));
    } else if (item == "GROUP") {
      d.groups.push_back({text(cCampo), text(cTexto), text(cTexto2)});
    } else if (item == "COLUMN") {
      ReportColumn c;
      c.caption = text(cTexto);
      c.field = text(cCampo);
      c.format = text(cFormato);
      c.width = p.Number(cLargura, r);
      const std::string a = text(cAlinha);
      c.align = a == "R" ? ReportAlign::Right : a == "C" ? ReportAlign::Center : ReportAlign::Left;
      c.total = text(cTotal) == "S";
      d.columns.push_back(std::move(c));
    } else if (item == "TOTAL") {
      d.grandTotal = text(cTexto);
    } else if (item == "FOOTER") {
      d.pageFooter = text(cTexto);
    } else {
      throw ReportError(d.code, "item de definição desconhecido \"" + item + "\" na linha " +
                                    std::to_string(r + 1));
    }
  }
  d.Check();
  return d;
}

// --- Document -----------------------------------------------------------------------

std::string ReportDocument::FooterText(int page, int pages) const {
  std::string out = pageFooter;
  auto put = [&out](const std::string& key, int n) {
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at))
      out.replace(at, key.size(), std::to_string(n));
  };
  put("{PAGE}", page);
  put("{PAGES}", pages);
  return out;
}

ReportDocument BuildReport(const ReportDefinition& def, const ValueArray& results) {
  def.Check();
  if (results.size() != def.queries.size())
    throw ReportError(def.code, "o servidor respondeu " + std::to_string(results.size()) +
                                    " consultas, a definição tem " +
                                    std::to_string(def.queries.size()));
  auto packet = [&](const std::string& name) -> const DataPacket* {
    for (size_t i = 0; i < def.queries.size(); ++i)
      if (SameName(def.queries[i], name)) {
        if (results[i].kind() != Value::Kind::Packet)
          throw ReportError(def.code, "a consulta " + name + " não respondeu um pacote de dados");
        return &results[i].AsPacket();
      }
    return nullptr;
  };

  ReportDocument doc;
  doc.code = def.code;
  doc.title = def.title;
  doc.columns = def.columns;
  doc.pageFooter = def.pageFooter;
  const DataPacket* header = def.headerQuery.empty() ? nullptr : packet(def.headerQuery);
  Row headerRow{header, 0};
  const bool hasHeader = header && header->RowCount() > 0;
  for (const std::string& line : def.headerLines)
    doc.header.push_back(Fill(def.code, line, hasHeader ? &headerRow : nullptr));

  const DataPacket& detail = *packet(def.detailQuery);
  const size_t nCols = def.columns.size(), nGroups = def.groups.size();
  std::vector<size_t> colIndex(nCols);
  for (size_t c = 0; c < nCols; ++c) {
    const int i = detail.FieldIndex(def.columns[c].field);
    if (i < 0)
      throw ReportError(
          def.code, "a consulta " + def.detailQuery + " não tem o campo " + def.columns[c].field);
    colIndex[c] = static_cast<size_t>(i);
  }
  std::vector<size_t> groupIndex(nGroups);
  for (size_t g = 0; g < nGroups; ++g) {
    const int i = detail.FieldIndex(def.groups[g].field);
    if (i < 0)
      throw ReportError(def.code, "a consulta " + def.detailQuery + " não tem o campo " +
                                      def.groups[g].field + " do grupo");
    groupIndex[g] = static_cast<size_t>(i);
  }

  // Sums a level: index 0..nGroups-1 the groups, nGroups the grand total.
  std::vector<std::vector<double>> sums(nGroups + 1, std::vector<double>(nCols, 0));
  std::vector<size_t> groupFirst(nGroups, 0);
  auto totalCells = [&](const std::vector<double>& s) {
    std::vector<std::string> cells(nCols);
    for (size_t c = 0; c < nCols; ++c)
      if (def.columns[c].total) cells[c] = FormatValue(Value(s[c]), def.columns[c].format);
    return cells;
  };
  auto closeGroups = [&](size_t from, size_t lastRow) {
    for (size_t g = nGroups; g-- > from;) {
      if (!def.groups[g].footer.empty()) {
        Row r{&detail, lastRow};
        doc.lines.push_back({ReportLine::Kind::GroupFooter, static_cast<int>(g),
                             Fill(def.code, def.groups[g].footer, &r), totalCells(sums[g])});
      }
      std::fill(sums[g].begin(), sums[g].end(), 0);
    }
  };

  for (size_t r = 0; r < detail.RowCount(); ++r) {
    // The outermost group whose key changed; every inner one changes with it.
    size_t changed = nGroups;
    if (r == 0) {
      changed = 0;
    } else {
      for (size_t g = 0; g < nGroups; ++g)
        if (detail.Cell(groupIndex[g], r).ToText() != detail.Cell(groupIndex[g], r - 1).ToText()) {
          changed = g;
          break;
        }
      if (changed < nGroups) closeGroups(changed, r - 1);
    }
    Row row{&detail, r};
    for (size_t g = changed; g < nGroups; ++g) {
      groupFirst[g] = r;
      if (!def.groups[g].header.empty())
        doc.lines.push_back({ReportLine::Kind::GroupHeader,
                             static_cast<int>(g),
                             Fill(def.code, def.groups[g].header, &row),
                             {}});
    }
    ReportLine line{ReportLine::Kind::Detail, static_cast<int>(nGroups), {}, {}};
    for (size_t c = 0; c < nCols; ++c) {
      const Value v = detail.Cell(colIndex[c], r);
      line.cells.push_back(FormatValue(v, def.columns[c].format));
      if (def.columns[c].total &&
          (v.kind() == Value::Kind::Float || v.kind() == Value::Kind::Integer))
        for (auto& s : sums) s[c] += v.AsFloat();
    }
    doc.lines.push_back(std::move(line));
  }
  if (detail.RowCount() > 0) closeGroups(0, detail.RowCount() - 1);
  if (!def.grandTotal.empty())
    doc.lines.push_back(
        {ReportLine::Kind::GrandTotal, 0, def.grandTotal, totalCells(sums[nGroups])});
  return doc;
}

std::vector<std::pair<size_t, size_t>> Paginate(const ReportDocument& doc, int linesPerPage) {
  const size_t per = linesPerPage < 2 ? 2 : static_cast<size_t>(linesPerPage);
  std::vector<std::pair<size_t, size_t>> pages;
  size_t first = 0;
  const size_t n = doc.lines.size();
  while (first < n) {
    size_t last = std::min(n, first + per);
    // Headers at the foot of a full page go over with their first line.
    if (last < n) {
      size_t keep = last;
      while (keep > first + 1 && doc.lines[keep - 1].kind == ReportLine::Kind::GroupHeader) --keep;
      last = keep;
    }
    pages.emplace_back(first, last);
    first = last;
  }
  if (pages.empty()) pages.emplace_back(0, 0);
  return pages;
}

// --- Client ---------------------------------------------------------------------------

Value ReportClient::Call(const std::string& method, std::vector<CallArg> args) {
  const bool open = !net_.Connected();
  if (open) net_.SetConnected(true);
  Value payload;
  try {
    payload = CheckResultServ(net_.call(method, std::move(args)), false, 0);
  } catch (...) {
    if (open) net_.SetConnected(false);
    throw;
  }
  if (open) net_.SetConnected(false);
  return payload;
}

ReportDefinition ReportClient::Definition(const std::string& code) {
  Value v = Call("GetRelatorio", {ByVal(code)});
  if (v.kind() != Value::Kind::Packet)
    throw ReportError(
        code, std::string("o servidor respondeu ") + KindName(v.kind()) + " em vez da definição");
  return ReportDefinition::FromPacket(v.AsPacket());
}

ValueArray ReportClient::Run(const std::string& code, const TReportParams& params) {
  ValueArray names, values;
  for (const TReportParam& p : params.Items) {
    names.emplace_back(p.Name);
    values.emplace_back(p.Value);
  }
  Value v =
      Call("ExecutaRelatorio", {ByVal(code), ByVal(std::move(names)), ByVal(std::move(values))});
  if (v.kind() != Value::Kind::Array)
    throw ReportError(
        code, std::string("o servidor respondeu ") + KindName(v.kind()) + " em vez das consultas");
  return v.AsArray();
}

ReportDocument ReportClient::Build(const std::string& code, const TReportParams& params) {
  ReportDefinition def = Definition(code);
  return BuildReport(def, Run(code, params));
}

}  // namespace apura
