// The table facility against SQLite in memory doing the same work, on the
// delivery-line layout: Table_<Op>/<rows> next to SQLite_<Op>/<rows>.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/dataset/dataset.h"

using namespace apura;

namespace {

// The eighteen fields of a delivery line, in their order.
const std::vector<FieldDef>& DeliveryFields() {
  static const std::vector<FieldDef> f = {
      {"NMFANTFORN", FieldType::String, 40},   {"NMMARCA", FieldType::String, 20},
      {"QTACOMP", FieldType::Float, 0},        {"NRCOLEITMAP", FieldType::String, 10},
      {"VRPRECUNIAP", FieldType::Float, 0},    {"VRPRECECOAP", FieldType::Float, 0},
      {"IDITMSELAPUR", FieldType::String, 1},  {"CDCENTITMAP", FieldType::String, 4},
      {"CDPRODITMAP", FieldType::String, 10},  {"NRSEQITMAP", FieldType::String, 10},
      {"CDFILIAP", FieldType::String, 4},      {"QTSOLACOMP", FieldType::Float, 0},
      {"CDFORNITMAP", FieldType::String, 21},  {"CDMARCITMAP", FieldType::String, 5},
      {"CDREGITMAP", FieldType::String, 3},    {"DTENTRAPUT", FieldType::DateTime, 0},
      {"IDMOTIVPRESC", FieldType::String, 10}, {"VRPRECONPIAP", FieldType::Float, 0}};
  return f;
}

struct Row {
  std::string forn, marca, cole, sel, cent, prod, seq, fil, cdforn, cdmarca, reg, motiv;
  double qt, preco, eco, qtsol, dt, pi;
};

char buf[32];
std::string Code(const char* prefix, int n, int width) {
  std::snprintf(buf, sizeof buf, "%s%0*d", prefix, width, n);
  return buf;
}

// Realistic short codes with many repeats: a tally covers a few hundred
// products, a few dozen suppliers and brands, tens of branches and dates.
const std::vector<Row>& Generate(size_t n) {
  static std::map<size_t, std::vector<Row>> cache;
  auto& rows = cache[n];
  if (!rows.empty()) return rows;
  std::mt19937 rng(42);
  rows.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    int prod = static_cast<int>(rng() % 400), forn = static_cast<int>(rng() % 60),
        marca = static_cast<int>(rng() % 40), fil = static_cast<int>(rng() % 45),
        reg = static_cast<int>(rng() % 6), cole = static_cast<int>(rng() % 12);
    Row r;
    r.forn = "FORNECEDOR " + Code("", forn, 3);
    r.marca = "MARCA " + Code("", marca, 2);
    r.cole = Code("", cole + 1, 6);
    r.sel = rng() % 4 == 0 ? "S" : "N";
    r.cent = "0001";
    r.prod = Code("P", prod, 6);
    r.seq = Code("", 1 + cole % 3, 4);
    r.fil = Code("", fil + 1, 4);
    r.cdforn = Code("F", forn, 8);
    r.cdmarca = Code("M", marca, 4);
    r.reg = Code("R", reg, 2);
    r.motiv = (rng() % 3 == 0) ? "" : "00001";
    r.qt = static_cast<double>(rng() % 500);
    r.preco = 1 + (rng() % 100000) / 100.0;
    r.eco = r.preco * 1.02;
    r.qtsol = r.qt;
    r.dt = 46000 + static_cast<double>(rng() % 30);
    r.pi = r.eco * 0.9;
    rows.push_back(std::move(r));
  }
  return rows;
}

const DataPacket& Packet(size_t n) {
  static std::map<size_t, DataPacket> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  PacketBuilder b(DeliveryFields());
  for (const Row& r : Generate(n))
    b.Add({Value(r.forn), Value(r.marca), Value(r.qt), Value(r.cole), Value(r.preco), Value(r.eco),
           Value(r.sel), Value(r.cent), Value(r.prod), Value(r.seq), Value(r.fil), Value(r.qtsol),
           Value(r.cdforn), Value(r.cdmarca), Value(r.reg), Value(DateTime{r.dt}),
           r.motiv.empty() ? Value() : Value(r.motiv), Value(r.pi)});
  return cache.emplace(n, b.Build()).first->second;
}

std::unique_ptr<TClientDataSet> Loaded(size_t n) {
  auto t = std::make_unique<TClientDataSet>("cdsItmApurPrec");
  for (const FieldDef& f : DeliveryFields()) t->AddField(f);
  t->SetData(Packet(n));
  return t;
}

const Row& Probe(size_t n) {
  return Generate(n)[n / 2];
}

// --- Table ------------------------------------------------------------------

void Table_Load(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const DataPacket& p = Packet(n);
  TClientDataSet t("cdsItmApurPrec");
  for (const FieldDef& f : DeliveryFields()) t.AddField(f);
  for (auto _ : state) {
    t.SetData(p);
    benchmark::DoNotOptimize(t.RecordCount());
  }
  state.counters["bytes_per_row"] = static_cast<double>(t.MemoryBytes()) / static_cast<double>(n);
}

void Table_ReadData(benchmark::State& state) {
  auto t = Loaded(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    DataPacket p = t->Data();
    benchmark::DoNotOptimize(p.RowCount());
  }
}

void Table_Refilter(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  auto t = Loaded(n);
  const Row& want = Probe(n);
  TField& prod = t->FieldByName("CDPRODITMAP");
  TField& reg = t->FieldByName("CDREGITMAP");
  TField& fil = t->FieldByName("CDFILIAP");
  TField& cent = t->FieldByName("CDCENTITMAP");
  TField& dt = t->FieldByName("DTENTRAPUT");
  // The shape of the worksheet's delivery-line filter: current product,
  // region, branch and date, and the centre.
  t->OnFilterRecord = [&](TClientDataSet&, bool& accept) {
    accept = prod.AsString() == want.prod && reg.AsString() == want.reg &&
             fil.AsString() == want.fil && cent.AsString() == want.cent &&
             dt.AsDateTime().days == want.dt;
  };
  t->SetFiltered(true);
  for (auto _ : state) {
    t->SetFiltered(false);
    t->SetFiltered(true);
    benchmark::DoNotOptimize(t->RecordCount());
  }
  state.counters["visible"] = t->RecordCount();
}

std::string FiveTerms(const Row& r) {
  return "[CDPRODITMAP]= " + QuotedStr(r.prod) + " and [CDMARCITMAP]= " + QuotedStr(r.cdmarca) +
         " and [CDFORNITMAP]= " + QuotedStr(r.cdforn) + " and [CDREGITMAP]= " + QuotedStr(r.reg) +
         " and [NRCOLEITMAP]= " + QuotedStr(r.cole);
}

void Table_FilterExpr(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  auto t = Loaded(n);
  t->SetFilter(FiveTerms(Probe(n)));
  t->SetFiltered(true);
  for (auto _ : state) {
    t->SetFiltered(false);
    t->SetFiltered(true);
    benchmark::DoNotOptimize(t->RecordCount());
  }
  state.counters["visible"] = t->RecordCount();
}

const char* kKey = "CDPRODITMAP;CDFORNITMAP;CDMARCITMAP;NRCOLEITMAP;CDREGITMAP;CDFILIAP;DTENTRAPUT";

void Table_Locate(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  auto t = Loaded(n);
  const Row& r = Generate(n).back();
  std::vector<Value> key = {Value(r.prod), Value(r.cdforn), Value(r.cdmarca),     Value(r.cole),
                            Value(r.reg),  Value(r.fil),    Value(DateTime{r.dt})};
  for (auto _ : state) {
    t->First();
    if (!t->Locate(kKey, key)) throw std::runtime_error("locate missed the last row");
  }
}

void Table_AddIndex(benchmark::State& state) {
  auto t = Loaded(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    t->AddIndex("IndOrder", "CDFORNITMAP;CDMARCITMAP");
    t->SetIndexName("IndOrder");
    benchmark::DoNotOptimize(t->RecNo());
    state.PauseTiming();
    t->SetIndexName("");
    t->DeleteIndex("IndOrder");
    state.ResumeTiming();
  }
}

// --- SQLite -------------------------------------------------------------------

struct Db {
  sqlite3* db = nullptr;
  Db() {
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
  }
  ~Db() { sqlite3_close(db); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error("sqlite: " + msg + " in " + sql);
    }
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db));
    return st;
  }
};

std::string CreateSql() {
  std::string sql = "CREATE TABLE itm (";
  const auto& f = DeliveryFields();
  for (size_t i = 0; i < f.size(); ++i) {
    if (i) sql += ", ";
    sql += f[i].name + (f[i].type == FieldType::String ? " TEXT" : " REAL");
  }
  return sql + ")";
}

void Fill(Db& d, size_t n) {
  d.Exec(CreateSql());
  d.Exec("BEGIN");
  sqlite3_stmt* st = d.Prepare("INSERT INTO itm VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  auto text = [&](int i, const std::string& s) {
    if (s.empty())
      sqlite3_bind_null(st, i);
    else
      sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
  };
  for (const Row& r : Generate(n)) {
    text(1, r.forn);
    text(2, r.marca);
    sqlite3_bind_double(st, 3, r.qt);
    text(4, r.cole);
    sqlite3_bind_double(st, 5, r.preco);
    sqlite3_bind_double(st, 6, r.eco);
    text(7, r.sel);
    text(8, r.cent);
    text(9, r.prod);
    text(10, r.seq);
    text(11, r.fil);
    sqlite3_bind_double(st, 12, r.qtsol);
    text(13, r.cdforn);
    text(14, r.cdmarca);
    text(15, r.reg);
    sqlite3_bind_double(st, 16, r.dt);
    text(17, r.motiv);
    sqlite3_bind_double(st, 18, r.pi);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  d.Exec("COMMIT");
}

int64_t CountRows(Db& d, const std::string& sql) {
  sqlite3_stmt* st = d.Prepare(sql);
  int64_t n = 0;
  while (sqlite3_step(st) == SQLITE_ROW) n += sqlite3_column_int64(st, 0) >= 0;
  sqlite3_finalize(st);
  return n;
}

void SQLite_Load(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Generate(n);
  int64_t bytes = 0;
  for (auto _ : state) {
    int64_t before = sqlite3_memory_used();
    Db d;
    Fill(d, n);
    bytes = sqlite3_memory_used() - before;
    state.PauseTiming();
    { Db discard; }
    state.ResumeTiming();
  }
  state.counters["bytes_per_row"] = static_cast<double>(bytes) / static_cast<double>(n);
}

void SQLite_ReadData(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Db d;
  Fill(d, n);
  for (auto _ : state) {
    sqlite3_stmt* st = d.Prepare("SELECT * FROM itm");
    size_t bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
      for (int c = 0; c < 18; ++c) bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
    sqlite3_finalize(st);
    benchmark::DoNotOptimize(bytes);
  }
}

void SQLite_Refilter(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Db d;
  Fill(d, n);
  const Row& r = Probe(n);
  std::string sql = "SELECT rowid FROM itm WHERE CDPRODITMAP='" + r.prod + "' AND CDREGITMAP='" +
                    r.reg + "' AND CDFILIAP='" + r.fil + "' AND CDCENTITMAP='" + r.cent +
                    "' AND DTENTRAPUT=" + std::to_string(r.dt);
  for (auto _ : state) benchmark::DoNotOptimize(CountRows(d, sql));
}

void SQLite_FilterExpr(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Db d;
  Fill(d, n);
  const Row& r = Probe(n);
  std::string sql = "SELECT rowid FROM itm WHERE CDPRODITMAP='" + r.prod + "' AND CDMARCITMAP='" +
                    r.cdmarca + "' AND CDFORNITMAP='" + r.cdforn + "' AND CDREGITMAP='" + r.reg +
                    "' AND NRCOLEITMAP='" + r.cole + "'";
  for (auto _ : state) benchmark::DoNotOptimize(CountRows(d, sql));
}

std::string LocateSql(const Row& r) {
  return "SELECT rowid FROM itm WHERE CDPRODITMAP='" + r.prod + "' AND CDFORNITMAP='" + r.cdforn +
         "' AND CDMARCITMAP='" + r.cdmarca + "' AND NRCOLEITMAP='" + r.cole + "' AND CDREGITMAP='" +
         r.reg + "' AND CDFILIAP='" + r.fil + "' AND DTENTRAPUT=" + std::to_string(r.dt) +
         " LIMIT 1";
}

void SQLite_Locate(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Db d;
  Fill(d, n);
  std::string sql = LocateSql(Generate(n).back());
  for (auto _ : state) benchmark::DoNotOptimize(CountRows(d, sql));
}

void SQLite_LocateIndexed(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Db d;
  Fill(d, n);
  std::string cols = kKey;
  for (char& c : cols)
    if (c == ';') c = ',';
  d.Exec("CREATE INDEX ik ON itm (" + cols + ")");
  std::string sql = LocateSql(Generate(n).back());
  for (auto _ : state) benchmark::DoNotOptimize(CountRows(d, sql));
}

void SQLite_AddIndex(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Db d;
  Fill(d, n);
  for (auto _ : state) {
    d.Exec("CREATE INDEX io ON itm (CDFORNITMAP, CDMARCITMAP)");
    state.PauseTiming();
    d.Exec("DROP INDEX io");
    state.ResumeTiming();
  }
}

#define SIZES ->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond)
BENCHMARK(Table_Load) SIZES;
BENCHMARK(SQLite_Load) SIZES->Iterations(2);
BENCHMARK(Table_ReadData) SIZES;
BENCHMARK(SQLite_ReadData) SIZES;
BENCHMARK(Table_Refilter) SIZES;
BENCHMARK(SQLite_Refilter) SIZES;
BENCHMARK(Table_FilterExpr) SIZES;
BENCHMARK(SQLite_FilterExpr) SIZES;
BENCHMARK(Table_Locate) SIZES;
BENCHMARK(SQLite_Locate) SIZES;
BENCHMARK(SQLite_LocateIndexed) SIZES;
BENCHMARK(Table_AddIndex) SIZES;
BENCHMARK(SQLite_AddIndex) SIZES->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
