#include "server/storage/schema.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace apura::server::schema {

namespace {

using T = Type;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsKey(const Table& t, const Column& c) {
  return c.type == T::RowId ||
         std::find(t.primaryKey.begin(), t.primaryKey.end(), c.name) != t.primaryKey.end();
}

}  // namespace

const std::vector<Table>& Tables() {
  // Codes are texts; dates are days since 1899-12-30, as the worksheet keeps
  // them; flags are "S" or "N".
  static const std::vector<Table> tables = {
      {"centro",
       {{"CDCENTCMP", T::Text},
        {"NMCENTCMP", T::Text},
        {"IDTIPOAPUR", T::Text},
        {"IDBLOQUEAAF", T::Text},
        {"IDCONSPRSOL", T::Text},
        {"IDEXJUSTESCM", T::Text},
        {"TXFINMENSAL", T::Real, false, "0"},
        {"VRORCAMENTO", T::Real, true},
        {"DSDIRAFWEB", T::Text, false, "''"}},
       {"CDCENTCMP"}},
      {"regiao", {{"CDREGIAO", T::Text}, {"NMREGIAO", T::Text}}, {"CDREGIAO"}},
      {"filial",
       {{"CDFILIAL", T::Text}, {"NMFILIAL", T::Text}, {"CDREGIAO", T::Text}},
       {"CDFILIAL"}},
      {"fornecedor", {{"CDFORNECED", T::Text}, {"NMFANTFORN", T::Text}}, {"CDFORNECED"}},
      {"marca", {{"CDMARCA", T::Text}, {"NMMARCA", T::Text}}, {"CDMARCA"}},
      {"produto_estoque",
       {{"CDPRODUTO", T::Text},
        {"CDARVPROD", T::Text},
        {"NMPRODUTO", T::Text},
        {"SGUNIDADE", T::Text},
        {"VRULTPRECO", T::Real, false, "0"}},
       {"CDPRODUTO"}},
      {"produto_negociado",
       {{"CDPRODITMAP", T::Text},
        {"CDPRODESTO", T::Text, false, {}, "produto_estoque"},
        {"CDARVPROD", T::Text},
        {"NMPRODUTO", T::Text},
        {"SGUNIDADE", T::Text},
        {"VRFATOCONV", T::Real},
        {"IDPRODPREF", T::Text, false, "'N'"},
        {"IDPRODWEB", T::Text, false, "'N'"},
        {"QTESTOSEGU", T::Real, false, "0"}},
       {"CDPRODITMAP"}},
      // NRVERSAO counts every write of the tally; NRVERSAOESCOLHA only those
      // of what is chosen, ordered or effectuated.
      {"apuracao",
       {{"NRSEQAPUR", T::Text},
        {"CDCENTCMP", T::Text, false, {}, "centro"},
        {"CDCOMPRADOR", T::Text},
        {"DTINICIAL", T::Real},
        {"DTFINAL", T::Real},
        {"IDEFETIVADA", T::Text, false, "'N'"},
        {"DTEFETIVACAO", T::Real, true},
        {"NRVERSAO", T::BigInt, false, "0"},
        {"NRVERSAOESCOLHA", T::BigInt, false, "0"}},
       {"NRSEQAPUR"}},
      {"regra_escolha",
       {{"NRSEQAPUR", T::Text, false, {}, "apuracao"},
        {"CDPRODITMAP", T::Text},
        {"CDFORNECED", T::Text},
        {"CDMARCA", T::Text},
        {"IDTIPOREGRA", T::Text}}},
      {"cotacao",
       {{"ID", T::RowId},
        {"NRSEQAPUR", T::Text, false, {}, "apuracao"},
        {"CDPRODITMAP", T::Text},
        {"CDREGITMAP", T::Text},
        {"NRCOLEITMAP", T::Text},
        {"CDFORNITMAP", T::Text},
        {"CDMARCITMAP", T::Text},
        {"VRPRECUNIAP", T::Real},
        {"PRECOECON", T::Real},
        {"PRECOECONPI", T::Real},
        {"TXFRETEENC", T::Real},
        {"NRPRAZOPGTO", T::Real},
        {"TXIMPRECUP", T::Real},
        {"IDLISTAPREC", T::Text},
        {"QTMINAUTFOT", T::Real},
        {"IDQTMINFORN", T::Text},
        {"VRMINAUTFOR", T::Real},
        {"IDVRMINFORN", T::Text},
        {"SGUNIDADE", T::Text}},
       {},
       {"NRSEQAPUR", "CDPRODITMAP", "CDREGITMAP", "NRCOLEITMAP", "CDFORNITMAP", "CDMARCITMAP"}},
      {"solicitacao",
       {{"ID", T::RowId},
        {"NRSEQAPUR", T::Text, false, {}, "apuracao"},
        {"CDPRODITMAP", T::Text},
        {"CDREGITMAP", T::Text},
        {"CDFILIAP", T::Text},
        {"DTENTRAPUT", T::Real},
        {"QTSOLACOMP", T::Real}},
       {},
       {"NRSEQAPUR", "CDPRODITMAP", "CDREGITMAP", "CDFILIAP", "DTENTRAPUT"}},
      // One row per quotation line and delivery request: the delivery rows.
      {"item_apuracao",
       {{"ID", T::RowId},
        {"NRSEQAPUR", T::Text, false, {}, "apuracao"},
        {"ID_COTACAO", T::BigInt, false, {}, "cotacao"},
        {"ID_SOLICITACAO", T::BigInt, false, {}, "solicitacao"},
        {"IDITMSELAPUR", T::Text, false, "'N'"},
        {"QTACOMP", T::Real},
        {"IDMOTIVPRESC", T::Text, false, "''"},
        {"TXOBESCMANAP", T::Text, false, "''"}}},
      {"autorizacao",
       {{"NRAUTOFORN", T::Text},
        {"NRSEQAPUR", T::Text},
        {"CDCENTCMP", T::Text},
        {"CDFILDEST", T::Text},
        {"CDFILLANC", T::Text},
        {"CDFORNECED", T::Text},
        {"CDCOMPRADOR", T::Text},
        {"DTAUTOFORN", T::Real},
        {"VRTOTALAF", T::Real},
        {"QTTOTALAF", T::Real},
        {"IDSITUATUAAF", T::Text},
        {"IDERRO", T::Text},
        {"DSERRO", T::Text},
        {"IDAFPRODWEB", T::Text}},
       {"NRAUTOFORN"}},
      // ID_ITEM is the delivery row (item_apuracao.ID) the line orders.
      {"autorizacao_item",
       {{"NRAUTOFORN", T::Text, false, {}, "autorizacao"},
        {"NRITEM", T::Int},
        {"ID_ITEM", T::BigInt},
        {"CDPRODITMAP", T::Text},
        {"CDMARCA", T::Text},
        {"NRCOLEITMAP", T::Text},
        {"DTENTRAPUT", T::Real},
        {"QTACOMP", T::Real},
        {"VRPRECUNIAP", T::Real}},
       {"NRAUTOFORN", "NRITEM"}},
      {"sequencia", {{"NMSEQUENCIA", T::Text}, {"VRATUAL", T::BigInt}}, {"NMSEQUENCIA"}},
      // Passwords only as Argon2id hashes; lists as "a,b", "*" for all.
      {"operador",
       {{"CDOPERADOR", T::Text},
        {"NMOPERADOR", T::Text},
        {"DSSENHA", T::Text},
        {"DSCENTROS", T::Text, false, "''"},
        {"DSFILIAIS", T::Text, false, "''"},
        {"DSAUTORIZ", T::Text, false, "''"}},
       {"CDOPERADOR"}},
      // Report definitions as saved (JSON); the shipped ones go in once.
      {"relatorio", {{"CDRELATORIO", T::Text}, {"DSDEFINICAO", T::Text}}, {"CDRELATORIO"}},
      // Open sessions by their token's hash, with the rights they opened with;
      // DTEXPIRA in seconds since 1970.
      {"sessao",
       {{"DSTOKEN", T::Text},
        {"CDOPERADOR", T::Text},
        {"NMOPERADOR", T::Text},
        {"DSCENTROS", T::Text},
        {"DSFILIAIS", T::Text},
        {"DSAUTORIZ", T::Text},
        {"DTEXPIRA", T::Real}},
       {"DSTOKEN"}},
  };
  return tables;
}

const std::vector<Index>& Indexes() {
  static const std::vector<Index> indexes = {
      {"regra_escolha_tally", "regra_escolha", {"NRSEQAPUR"}},
      {"item_apuracao_tally", "item_apuracao", {"NRSEQAPUR"}},
      {"autorizacao_tally", "autorizacao", {"NRSEQAPUR"}},
      // A delivery row is ordered at most once, whatever reaches the database:
      // should two servers ever effectuate one tally past the tally's lock, the
      // second one fails whole.
      {"autorizacao_item_once", "autorizacao_item", {"ID_ITEM"}, true},
      {"sessao_operador", "sessao", {"CDOPERADOR"}},
  };
  return indexes;
}

const std::vector<std::string_view>& RetiredIndexes() {
  // The embedded storage's name for autorizacao_item_once.
  static const std::vector<std::string_view> retired = {"autorizacao_item_entrega"};
  return retired;
}

const Table& TableNamed(std::string_view name) {
  for (const Table& t : Tables())
    if (t.name == name) return t;
  throw std::logic_error("no table " + std::string(name) + " in the schema");
}

std::string_view Dialect::TypeName(Type t) const {
  switch (t) {
    case T::Text:
      return text;
    case T::Real:
      return real;
    case T::BigInt:
      return bigInt;
    case T::Int:
      return integer;
    case T::RowId:
      return rowId;
  }
  return text;
}

std::string ColumnDefinition(const Column& c, const Dialect& d) {
  std::string out(c.name);
  out += ' ';
  out += d.TypeName(c.type);
  if (c.type == T::RowId) return out;
  if (!c.nullable) out += " NOT NULL";
  if (!c.defaultValue.empty()) {
    out += " DEFAULT ";
    out += c.defaultValue;
  }
  if (!c.references.empty()) {
    out += " REFERENCES ";
    out += c.references;
  }
  return out;
}

namespace {

std::string List(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::string_view n : names) {
    if (!out.empty()) out += ", ";
    out += n;
  }
  return out;
}

}  // namespace

std::string CreateStatements(const Dialect& d) {
  std::string sql;
  for (const Table& t : Tables()) {
    sql += "CREATE TABLE IF NOT EXISTS ";
    sql += t.name;
    sql += " (";
    bool first = true;
    for (const Column& c : t.columns) {
      sql += first ? "\n  " : ",\n  ";
      first = false;
      sql += ColumnDefinition(c, d);
      // A single-column key is written on its column, as both databases
      // then report it the same way.
      if (t.primaryKey.size() == 1 && t.primaryKey[0] == c.name) sql += " PRIMARY KEY";
    }
    if (t.primaryKey.size() > 1) sql += ",\n  PRIMARY KEY (" + List(t.primaryKey) + ")";
    if (!t.unique.empty()) sql += ",\n  UNIQUE (" + List(t.unique) + ")";
    sql += ");\n";
  }
  for (const Index& i : Indexes()) {
    sql += i.unique ? "CREATE UNIQUE INDEX IF NOT EXISTS " : "CREATE INDEX IF NOT EXISTS ";
    sql += i.name;
    sql += " ON ";
    sql += i.table;
    sql += " (" + List(i.columns) + ");\n";
  }
  return sql;
}

std::vector<std::string> Migration(const LiveSchema& live, const Dialect& d) {
  std::vector<std::string> steps;
  for (std::string_view name : RetiredIndexes())
    if (live.indexes.count(Lower(name))) steps.push_back("DROP INDEX IF EXISTS " + Lower(name));
  for (const Table& t : Tables()) {
    auto it = live.tables.find(std::string(t.name));
    if (it == live.tables.end()) continue;  // created whole afterwards
    for (const Column& c : t.columns) {
      const std::string name = Lower(c.name);
      bool present = std::any_of(it->second.begin(), it->second.end(),
                                 [&](const LiveColumn& l) { return l.name == name; });
      if (present) continue;
      if (!c.nullable && c.defaultValue.empty())
        throw std::runtime_error("table " + std::string(t.name) + " lacks column " +
                                 std::string(c.name) + ", which has no default to add it with");
      steps.push_back("ALTER TABLE " + std::string(t.name) + " ADD COLUMN " +
                      ColumnDefinition(c, d));
    }
  }
  return steps;
}

bool IsCurrent(const LiveSchema& live, const Dialect& d) {
  for (const Table& t : Tables())
    if (!live.tables.count(std::string(t.name))) return false;
  for (const Index& i : Indexes())
    if (!live.indexes.count(std::string(i.name))) return false;
  return Migration(live, d).empty();
}

LiveSchema Expected(const Dialect& d) {
  LiveSchema s;
  for (const Table& t : Tables()) {
    auto& cols = s.tables[std::string(t.name)];
    for (const Column& c : t.columns) {
      // A row id is reported as the integer type it is.
      std::string_view type = c.type == T::RowId ? d.bigInt : d.TypeName(c.type);
      cols.push_back({Lower(c.name), Lower(type), !c.nullable || IsKey(t, c)});
    }
  }
  for (const Index& i : Indexes()) {
    LiveIndex li{std::string(i.table), {}, i.unique};
    for (std::string_view c : i.columns) li.columns.push_back(Lower(c));
    s.indexes[std::string(i.name)] = std::move(li);
  }
  return s;
}

LiveSchema Portable(LiveSchema s) {
  for (auto& [table, cols] : s.tables) {
    for (LiveColumn& c : cols) {
      if (c.type == "double precision" || c.type == "real")
        c.type = "real";
      else if (c.type == "bigint" || c.type == "integer" || c.type == "int" || c.type == "int8" ||
               c.type == "int4")
        c.type = "integer";
    }
  }
  return s;
}

std::vector<std::string> Differences(const LiveSchema& a, const LiveSchema& b) {
  std::vector<std::string> out;
  auto describe = [](const LiveColumn& c) {
    return c.name + " " + c.type + (c.notNull ? " not null" : "");
  };
  for (const auto& [name, cols] : a.tables) {
    auto it = b.tables.find(name);
    if (it == b.tables.end()) {
      out.push_back("table " + name + " only in the first");
      continue;
    }
    const auto& other = it->second;
    for (size_t i = 0; i < std::max(cols.size(), other.size()); ++i) {
      std::string x = i < cols.size() ? describe(cols[i]) : "(none)";
      std::string y = i < other.size() ? describe(other[i]) : "(none)";
      if (x != y) out.push_back(name + " column " + std::to_string(i + 1) + ": " + x + " / " + y);
    }
  }
  for (const auto& [name, cols] : b.tables)
    if (!a.tables.count(name)) out.push_back("table " + name + " only in the second");
  auto describeIndex = [](const LiveIndex& i) {
    std::string s = (i.unique ? "unique on " : "on ") + i.table + " (";
    for (size_t k = 0; k < i.columns.size(); ++k) s += (k ? ", " : "") + i.columns[k];
    return s + ")";
  };
  for (const auto& [name, index] : a.indexes) {
    auto it = b.indexes.find(name);
    if (it == b.indexes.end())
      out.push_back("index " + name + " only in the first");
    else if (!(it->second == index))
      out.push_back("index " + name + ": " + describeIndex(index) + " / " +
                    describeIndex(it->second));
  }
  for (const auto& [name, index] : b.indexes)
    if (!a.indexes.count(name)) out.push_back("index " + name + " only in the second");
  return out;
}

}  // namespace apura::server::schema
