#include "server/exchange/demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "server/storage/sqlite/sqlite.h"

namespace apura::server {

namespace {

// splitmix64: small, fast and the same everywhere (the standard distributions
// are not).
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Int(int lo, int hi) {  // inclusive
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  double Real(double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(Next() >> 11) / 9007199254740992.0);
  }
  bool Chance(double p) { return Real(0, 1) < p; }

 private:
  uint64_t s_;
};

std::string Code(const char* prefix, int n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%0*d", prefix, width, n);
  return buf;
}

double Round2(double v) {
  return std::round(v * 100) / 100;
}

const char* kRegions[] = {"Norte",   "Sul",   "Leste",    "Oeste",  "Centro",
                          "Litoral", "Serra", "Planalto", "Sertão", "Vale do Rio"};
const char* kBranches[] = {"Centro",      "Jardim América", "Vila Nova",    "Boa Vista",
                           "São José",    "Santa Cruz",     "Bela Vista",   "Alto da Serra",
                           "Vila Rica",   "Jardim Europa",  "Campo Alegre", "Morro Azul",
                           "Água Branca", "Lagoa Seca",     "Pedra Lisa",   "Três Pontes"};
const char* kSupplierKinds[] = {"Distribuidora", "Comercial", "Atacado",
                                "Mercantil",     "Armazém",   "Empório"};
const char* kSupplierNames[] = {"Bom Preço",   "São Jorge",   "Serra Azul",  "Boa Esperança",
                                "Vale do Sol", "Três Irmãos", "Santa Luzia", "Nova Aliança",
                                "Dois Rios",   "Ouro Verde"};
const char* kBrands[] = {"Sabor do Campo", "Vale Verde",  "Estrela da Manhã", "Boa Mesa",
                         "Dona Clara",     "Terra Nossa", "Sol Nascente",     "Flor do Sul",
                         "Mesa Farta",     "Bem Bom",     "Grão de Ouro",     "Casa Nobre"};
struct Base {
  const char* name;
  const char* unit;
  double price;  // per stock unit
};
const Base kProducts[] = {
    {"Arroz Tipo 1", "KG", 5.2},
    {"Feijão Carioca", "KG", 7.9},
    {"Açúcar Cristal", "KG", 4.1},
    {"Óleo de Soja", "L", 6.8},
    {"Café Torrado e Moído", "KG", 32.0},
    {"Leite Integral", "L", 4.9},
    {"Farinha de Trigo", "KG", 4.6},
    {"Macarrão Espaguete", "KG", 8.4},
    {"Sal Refinado", "KG", 2.3},
    {"Detergente Líquido", "L", 3.7},
    {"Papel Higiênico", "RL", 1.9},
    {"Sabão em Pó", "KG", 11.5},
    {"Extrato de Tomate", "KG", 12.8},
    {"Biscoito Cream Cracker", "KG", 14.2},
    {"Margarina", "KG", 13.6},
    {"Fubá Mimoso", "KG", 3.9},
    {"Achocolatado em Pó", "KG", 18.7},
    {"Vinagre de Álcool", "L", 3.1},
    {"Água Sanitária", "L", 2.8},
    {"Creme Dental", "UN", 4.4},
};
struct Pack {
  const char* name;
  const char* unit;
  double factor;
};
Pack PackOf(const std::string& unit, int alternative) {
  if (unit == "KG")
    return alternative ? Pack{"Fardo 10 kg", "FD", 10} : Pack{"Pacote 1 kg", "PCT", 1};
  if (unit == "L")
    return alternative ? Pack{"Caixa 12 x 1 L", "CX", 12} : Pack{"Frasco 1 L", "FR", 1};
  if (unit == "RL")
    return alternative ? Pack{"Fardo 64 rolos", "FD", 64} : Pack{"Pacote 4 rolos", "PCT", 4};
  return alternative ? Pack{"Caixa com 12", "CX", 12} : Pack{"Unidade", "UN", 1};
}

}  // namespace

DemoOptions DemoOptions::ForDeliveryRows(size_t rows) {
  DemoOptions o;
  o.regions = 5;
  o.branches = 40;
  o.deliveryDates = 4;
  o.suppliers = 60;
  o.brands = 12;
  o.collections = 4;
  o.quotesPerProductRegion = 5;
  // Every third stock product has two negotiated products, each requested by every
  // branch of its region on every date: about 5 * 40 * 4 * 4/3 rows a product.
  double perStock = o.quotesPerProductRegion * o.branches * o.deliveryDates * 4.0 / 3.0;
  o.stockProducts = std::max(1, static_cast<int>(std::ceil(static_cast<double>(rows) / perStock)));
  return o;
}

TallyDocument GenerateDemo(const DemoOptions& o) {
  Rng rng(o.seed);
  TallyDocument d;
  d.centre.code = o.centre;
  d.centre.name = "Central de Compras Matriz";
  d.centre.IDTIPOAPUR = "1";
  d.centre.IDBLOQUEAAF = "N";
  d.centre.IDCONSPRSOL = "N";
  d.centre.IDEXJUSTESCM = "S";
  d.centre.monthlyRate = 0.012;
  d.number = o.tally;
  d.buyer = o.buyer;
  d.start = DateTime::FromDate(2026, 12, 1);
  d.end = DateTime::FromDate(2026, 12, 31);

  for (int i = 0; i < o.regions; ++i) {
    std::string name = i < 10 ? kRegions[i] : "Região " + std::to_string(i + 1);
    d.regions.push_back({Code("", i + 1, 3), name});
  }
  const int nb = static_cast<int>(std::size(kBranches));
  for (int i = 0; i < o.branches; ++i) {
    std::string name = std::string("Filial ") + kBranches[i % nb];
    if (i >= nb) name += " " + std::to_string(i / nb + 1);
    d.branches.push_back({Code("", 101 + i, 4), name, d.regions[i % o.regions].code});
  }
  const int nk = static_cast<int>(std::size(kSupplierKinds));
  const int nn = static_cast<int>(std::size(kSupplierNames));
  for (int i = 0; i < o.suppliers; ++i) {
    std::string name =
        std::string(kSupplierKinds[i % nk]) + " " + kSupplierNames[(i / nk + i) % nn];
    if (i >= nk * nn) name += " " + std::to_string(i / (nk * nn) + 1);
    d.suppliers.push_back({Code("F", i + 1, 4), name});
  }
  const int nbr = static_cast<int>(std::size(kBrands));
  for (int i = 0; i < o.brands; ++i) {
    std::string name = kBrands[i % nbr];
    if (i >= nbr) name += " " + std::to_string(i / nbr + 1);
    d.brands.push_back({Code("M", i + 1, 3), name});
  }

  std::vector<DateTime> dates;
  double span = d.end.days - d.start.days;
  for (int k = 0; k < o.deliveryDates; ++k) {
    double day = d.start.days + std::floor(span * (k + 0.5) / o.deliveryDates);
    dates.push_back(DateTime{day});
  }
  std::vector<std::string> collections;
  for (int k = 0; k < o.collections; ++k) collections.push_back(Code("2026", k + 1, 3));

  const int np = static_cast<int>(std::size(kProducts));
  for (int s = 0; s < o.stockProducts; ++s) {
    const Base& base = kProducts[s % np];
    StockProduct sp;
    sp.code = Code("E", s + 1, 5);
    sp.tree = "1." + Code("", s % np + 1, 2) + "." + Code("", s / np + 1, 3);
    sp.name = base.name;
    if (s >= np) sp.name += " Linha " + std::to_string(s / np + 1);
    sp.unit = base.unit;
    double stockPrice = base.price * rng.Real(0.9, 1.1);
    sp.lastPrice = Round2(stockPrice * rng.Real(1.02, 1.3));
    d.stockProducts.push_back(sp);

    int alternatives = s % 3 == 1 ? 2 : 1;
    for (int a = 0; a < alternatives; ++a) {
      Pack pack = PackOf(sp.unit, a);
      NegotiatedProduct p;
      p.code = Code("N", s + 1, 5) + std::to_string(a + 1);
      p.stockProduct = sp.code;
      p.tree = sp.tree + "." + Code("", a + 1, 2);
      p.name = sp.name + " " + pack.name;
      p.unit = pack.unit;
      p.factor = pack.factor;
      p.preferred = alternatives == 2 && a == 1 && s % 6 == 4;
      p.safetyStock = rng.Int(0, 20);
      d.negotiatedProducts.push_back(p);

      // Rules now and then: a preferential supplier, an obligatory brand, an
      // agreement, a restrictive supplier and brand.
      int pn = static_cast<int>(d.negotiatedProducts.size());
      std::vector<std::string> quoting;
      for (const Region& region : d.regions) {
        std::set<int> used;
        for (int q = 0; q < o.quotesPerProductRegion && static_cast<int>(used.size()) < o.suppliers;
             ++q) {
          int sup;
          do sup = rng.Int(0, o.suppliers - 1);
          while (used.count(sup));
          used.insert(sup);
          QuoteDoc qd;
          qd.product = p.code;
          qd.region = region.code;
          qd.collection = collections[rng.Int(0, o.collections - 1)];
          qd.supplier = d.suppliers[sup].code;
          qd.brand = d.brands[rng.Int(0, o.brands - 1)].code;
          qd.unitPrice =
              rng.Chance(0.08) ? 0 : Round2(stockPrice * p.factor * rng.Real(0.85, 1.25));
          qd.freightRate = Round2(rng.Real(0, 0.05) * 100) / 100;
          static const double kDays[] = {0, 14, 28, 30, 45};
          qd.paymentDays = kDays[rng.Int(0, 4)];
          static const double kTax[] = {0.07, 0.12, 0.18};
          qd.taxRate = kTax[rng.Int(0, 2)];
          qd.priceList = rng.Chance(0.4);
          if (rng.Chance(0.1)) {
            qd.minValue = Round2(rng.Real(50, 500));
            qd.minValueFlag = "R";
          }
          if (rng.Chance(0.05)) {
            qd.minQuantity = rng.Int(5, 50);
            qd.minQuantityFlag = "R";
          }
          qd.unit = p.unit;
          if (region.code == d.regions.front().code)
            quoting.push_back(qd.supplier + '\x1f' + qd.brand);
          d.quotations.push_back(std::move(qd));
        }
      }
      if (!quoting.empty()) {
        const std::string& pick =
            quoting[static_cast<size_t>(rng.Int(0, static_cast<int>(quoting.size()) - 1))];
        std::string sup = pick.substr(0, pick.find('\x1f'));
        std::string brand = pick.substr(pick.find('\x1f') + 1);
        if (pn % 5 == 0) d.rules.push_back({p.code, sup, "", "P"});
        if (pn % 7 == 0) d.rules.push_back({p.code, "", brand, "O"});
        if (pn % 11 == 0) d.rules.push_back({p.code, sup, "", "A"});
        if (pn % 13 == 0) d.rules.push_back({p.code, sup, brand, "R"});
      }
    }
    // Each branch asks for the stock product on every date; each negotiated
    // alternative carries the request in its own unit.
    for (const Branch& b : d.branches) {
      for (DateTime date : dates) {
        double need = rng.Int(5, 200);
        for (int a = 0; a < alternatives; ++a) {
          const NegotiatedProduct& p =
              d.negotiatedProducts[d.negotiatedProducts.size() - alternatives + a];
          d.requests.push_back({p.code, b.region, b.code, date, std::ceil(need / p.factor)});
        }
      }
    }
  }
  return d;
}

void SeedLocalDatabase(sqlite3* handle, const TallyDocument* doc) {
  auto exec = [&](const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(handle, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "unknown error";
      sqlite3_free(err);
      throw std::runtime_error("cannot seed the local database: " + msg);
    }
  };
  exec(
      "CREATE TABLE IF NOT EXISTS REGIAO (CDREGIAO TEXT PRIMARY KEY, NMREGIAO TEXT NOT NULL);"
      "CREATE TABLE IF NOT EXISTS AUTGRUPOP (IDAUTGRUPOP TEXT NOT NULL, CDGRUPOPER TEXT NOT NULL,"
      " PRIMARY KEY (IDAUTGRUPOP, CDGRUPOPER));"
      "CREATE TABLE IF NOT EXISTS OPERGRUPOP (CDGRUPOPER TEXT NOT NULL, CDOPERADOR TEXT NOT NULL,"
      " PRIMARY KEY (CDGRUPOPER, CDOPERADOR));"
      "BEGIN;");
  try {
    TallyDocument fallback;
    if (!doc) {
      fallback = GenerateDemo();
      doc = &fallback;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(handle,
                           "INSERT OR REPLACE INTO REGIAO (CDREGIAO, NMREGIAO) VALUES (?, ?)", -1,
                           &st, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot seed the local database: ") +
                               sqlite3_errmsg(handle));
    }
    for (const Region& r : doc->regions) {
      sqlite3_bind_text(st, 1, r.code.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 2, r.name.c_str(), -1, SQLITE_TRANSIENT);
      int rc = sqlite3_step(st);
      sqlite3_reset(st);
      if (rc != SQLITE_DONE) {
        sqlite3_finalize(st);
        throw std::runtime_error(std::string("cannot seed the local database: ") +
                                 sqlite3_errmsg(handle));
      }
    }
    sqlite3_finalize(st);
    exec(
        "INSERT OR IGNORE INTO AUTGRUPOP VALUES ('PEME', 'COMPRAS');"
        "INSERT OR IGNORE INTO AUTGRUPOP VALUES ('CONS', 'CONSULTA');"
        "INSERT OR IGNORE INTO OPERGRUPOP VALUES ('COMPRAS', 'COMP01');"
        "INSERT OR IGNORE INTO OPERGRUPOP VALUES ('COMPRAS', 'ADMIN');"
        "INSERT OR IGNORE INTO OPERGRUPOP VALUES ('CONSULTA', 'VISITA');"
        "COMMIT;");
  } catch (...) {
    sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void SeedLocalDatabase(const std::string& path, const TallyDocument* doc) {
  sql::Db db(path);
  SeedLocalDatabase(db.get(), doc);
}

Operator DemoBuyer(const DemoOptions& options) {
  Operator op;
  op.code = options.buyer;
  op.name = "Comprador de Demonstração";
  op.centres = {options.centre};
  op.branches = {"*"};
  op.authorisations = {"PEME"};
  return op;
}

}  // namespace apura::server
