#include "generated_tally.h"

#include <algorithm>

#include "framework/format.h"

namespace apura::testing {

using worksheet::WorksheetTables;

std::string Text(const Row& r, const std::string& field) {
  auto it = r.find(field);
  if (it == r.end()) return {};
  if (it->second.kind() == Value::Kind::Date) return DateTimeToText(it->second.AsDate());
  return it->second.ToText();
}

namespace {

// Appended rather than written as "M" + to_string(s): GCC 12 at -O2 inlines
// that concatenation into a copy it wrongly reports as overlapping
// (-Werror=restrict).
std::string BrandCode(int supplier) {
  std::string code = "M";
  code += std::to_string(supplier + 1);
  return code;
}

}  // namespace

std::string GeneratedTally::Marca(int supplier) {
  return supplier == 1 ? "Marca D'\u00c1gua" : "Marca " + std::to_string(supplier + 1);
}

GeneratedTally::GeneratedTally(Options o) : options(o) {
  const std::vector<std::string> allRegions = {"SUL", "NOR", "CEN", "LES"};
  const std::vector<std::string> branches = {"F03", "F01", "F02"};
  const std::vector<DateTime> dates = {DateTime::FromDate(2026, 3, 16),
                                       DateTime::FromDate(2026, 3, 9)};
  uint32_t seed = 12345;
  auto rnd = [&seed](int n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
  };

  paraSupri.push_back({{"IDTIPOAPUR", o.idTipoApur},
                       {"IDBLOQUEAAF", "N"},
                       {"IDCONSPRSOL", o.idConsPrSol},
                       {"IDEXJUSTESCM", "N"}});

  for (int p = 0; p < o.products; ++p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "P%02d", p + 1);
    std::string cdProduto = buf;
    std::snprintf(buf, sizeof buf, "10100%05d", p + 1);
    produto.push_back({{"CDPRODUTO", cdProduto},
                       {"CDARVPROD", std::string(buf)},
                       {"NMPRODUTO", "Produto de estoque " + std::to_string(p + 1)}});

    // Two or three regions a product, given in descending order.
    std::vector<std::string> regions;
    for (size_t i = static_cast<size_t>(p % 2); i < allRegions.size(); i += 1 + p % 2)
      regions.push_back(allRegions[i]);
    std::sort(regions.rbegin(), regions.rend());
    for (const auto& reg : regions)
      regiao.push_back({{"CDREGITMAP", reg},
                        {"NMREGIAO", "Região " + reg + " do " + cdProduto},
                        {"CDPRODESTO", cdProduto}});

    for (const auto& reg : regions) {
      for (int i = o.itemsPerProduct; i >= 1; --i) {
        std::snprintf(buf, sizeof buf, "I%d%d", p + 1, i);
        std::string item = buf;
        std::string arv = "30" + std::to_string(p + 1) + std::to_string(i) + "000000";
        // The quotations of an item in a region; one of them chosen.
        int chosen = rnd(o.suppliers + 1);  // == suppliers: none chosen
        bool anyChosen = chosen < o.suppliers;
        prodItem.push_back({{"CDPRODESTO", cdProduto},
                            {"CDPRODITMAP", item},
                            {"CDARVPROD", arv},
                            {"NMPRODUTO", "Item negociado " + item},
                            {"IDITMSELAPUR", anyChosen ? "S" : "N"},
                            {"CDREGITMAP", reg},
                            {"QTESTOSEGU", 0.0},
                            {"CALC_ESTO", 0.0}});
        for (int s = 0; s < o.suppliers; ++s) {
          std::snprintf(buf, sizeof buf, "FORN%02d", s + 1);
          std::string forn = buf;
          double unit = 10.0 + 3 * ((s * 7 + p + i) % o.suppliers) + 0.125 * s;
          double econ = unit * (1.0 + 0.1 * ((s + 1) % o.suppliers));
          double econPi = unit * (1.0 + 0.07 * ((s + 2) % o.suppliers));
          apurNeg.push_back({{"VRFATOCONV", 1.0},
                             {"PRODUNDIVFATCO", unit},
                             {"CDFORNITMAP", forn},
                             {"NMFANTFORN", "Fornecedor " + std::to_string(s + 1)},
                             {"NRSEQITMAP", std::to_string(100 + s)},
                             {"CDCENTITMAP", centCmp},
                             {"NRCOLEITMAP", std::to_string(7000 + s)},
                             {"CDMARCITMAP", BrandCode(s)},
                             {"NMMARCA", Marca(s)},
                             {"VRPRECUNIAP", unit},
                             {"PRECOECON", econ},
                             {"QTACOMP", s == chosen ? 40.0 : 0.0},
                             {"IDITMSELAPUR", s == chosen ? "S" : "N"},
                             {"CDREGITMAP", reg},
                             {"CDPRODITMAP", item},
                             {"CDARVPROD", arv},
                             {"PRECOECONPI", econPi},
                             {"QTMINAUTFOT", 0.0},
                             {"IDQTMINFORN", "N"},
                             {"VRMINAUTFOR", 0.0},
                             {"IDVRMINFORN", "N"},
                             {"SGUNIDADE", "UN"}});
        }
        for (const auto& fil : branches) {
          for (DateTime dt : dates) {
            pai.push_back({{"CDFILIAP", fil},
                           {"NMFILIAL", "Filial " + fil},
                           {"DTENTRAPUT", dt},
                           {"QTSOLACOMP", 10.0},
                           {"CDCENTITMAP", centCmp},
                           {"NRSEQITMAP", "100"},
                           {"CDPRODITMAP", item},
                           {"CDREGITMAP", reg}});
            for (int s = 0; s < o.suppliers; ++s) {
              // Every supplier has a delivery line; only the chosen one is "S".
              // One more chosen line a branch is delivered on the same day at
              // ten o'clock: it belongs to no branch request line.
              for (int late = 0; late < 2; ++late) {
                if (late && s != chosen) continue;
                DateTime when = late ? DateTime{dt.days + 10.0 / 24} : dt;
                std::snprintf(buf, sizeof buf, "FORN%02d", s + 1);
                Row r{{"NMFANTFORN", "Fornecedor " + std::to_string(s + 1)},
                      {"NMMARCA", Marca(s)},
                      {"QTACOMP", 10.0},
                      {"NRCOLEITMAP", std::to_string(7000 + s)},
                      {"VRPRECUNIAP", 1.0},
                      {"VRPRECECOAP", 1.0},
                      {"IDITMSELAPUR", s == chosen ? "S" : "N"},
                      {"CDCENTITMAP", centCmp},
                      {"CDPRODITMAP", item},
                      {"NRSEQITMAP", std::to_string(100 + s)},
                      {"CDFILIAP", fil},
                      {"QTSOLACOMP", 10.0},
                      {"CDFORNITMAP", std::string(buf)},
                      {"CDMARCITMAP", BrandCode(s)},
                      {"CDREGITMAP", reg},
                      {"DTENTRAPUT", when},
                      {"IDMOTIVPRESC", late ? "LATE" : ""},
                      {"VRPRECONPIAP", 1.0}};
                itm.push_back(r);
                r.erase("IDMOTIVPRESC");
                r["CDPRODESTO"] = cdProduto;
                r["TXOBESCMANAP"] = "";
                dados.push_back(std::move(r));
              }
            }
          }
        }
      }
    }
  }
  generatedItm = itm;
}

DataPacket GeneratedTally::Packet(std::span<const worksheet::FieldLayout> fields,
                                  const std::vector<Row>& rows, const std::string& drop) {
  std::vector<FieldDef> defs;
  for (const auto& f : fields) {
    if (f.name == drop) continue;
    defs.push_back(
        {std::string(f.name), f.type, f.type == FieldType::String ? f.size : 0, f.fixedChar});
  }
  PacketBuilder b(defs);
  for (const Row& r : rows) {
    std::vector<Value> values;
    for (const auto& d : defs) {
      auto it = r.find(d.name);
      values.push_back(it == r.end() ? Value() : it->second);
    }
    b.Add(std::move(values));
  }
  return b.Build();
}

DataPacket GeneratedTally::ProdutoPacket() const {
  return Packet(WorksheetTables::ProdutoFields(), produto);
}
DataPacket GeneratedTally::RegiaoPacket() const {
  return Packet(WorksheetTables::RegiaoFields(), regiao);
}
DataPacket GeneratedTally::ProdItemPacket() const {
  return Packet(WorksheetTables::ProdItemFields(), prodItem);
}
DataPacket GeneratedTally::ApurNegPacket() const {
  return Packet(WorksheetTables::ApurNegFields(), apurNeg);
}
DataPacket GeneratedTally::PaiPacket() const {
  return Packet(WorksheetTables::Pai_ItmApurPrecFields(), pai);
}
DataPacket GeneratedTally::ItmPacket() const {
  return Packet(WorksheetTables::ItmApurPrecFields(), itm);
}
DataPacket GeneratedTally::DadosPacket() const {
  return Packet(WorksheetTables::DadosFields(), dados);
}
DataPacket GeneratedTally::DadosItmApurPrecPacket() const {
  auto key = [](const Row& r) {
    std::string k;
    for (const char* f : {"CDFORNITMAP", "CDFILIAP", "NRCOLEITMAP", "CDMARCITMAP", "CDPRODITMAP",
                          "DTENTRAPUT", "CDCENTITMAP", "CDREGITMAP"})
      k += r.at(f).ToText() + '|';
    return k;
  };
  std::map<std::string, const Row*> shown, generated;
  for (const Row& r : itm) shown[key(r)] = &r;
  for (const Row& r : generatedItm) generated[key(r)] = &r;
  std::vector<worksheet::FieldLayout> fields(WorksheetTables::DadosFields().begin(),
                                             WorksheetTables::DadosFields().end());
  fields.push_back({"IDMOTIVPRESC", FieldType::String, 10});
  std::vector<Row> rows = dados;
  for (Row& r : rows) {
    auto s = shown.find(key(r));
    if (s == shown.end()) continue;
    auto g = generated.find(key(r));
    for (const auto& [column, value] : *s->second)
      if (column == "IDMOTIVPRESC" || g == generated.end() || !g->second->count(column) ||
          !(g->second->at(column) == value))
        r[column] = value;
  }
  return Packet(fields, rows);
}
DataPacket GeneratedTally::ParaSupriPacket() const {
  return Packet(WorksheetTables::ParaSupriFields(), paraSupri);
}

}  // namespace apura::testing
