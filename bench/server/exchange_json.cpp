// bench_exchange_json: the tally exchange format's import and export on the
// 500,000-row demo tally, with the hand-written JSON code and with the two
// libraries it could move to. The same document reader (below, generic over the
// node type) serves all three, so only the JSON layer differs.
//
//   bench_exchange_json [--benchmark_filter=...] [--rows N]

#include <benchmark/benchmark.h>

#include <simdjson.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "server/exchange/demo.h"
#include "server/exchange/json.h"
#include "server/exchange/tally_document.h"
#include "server/services/tally_service.h"
#include "server/storage/open_storage.h"

namespace {

using namespace apura::server;
using OJson = nlohmann::ordered_json;
using apura::DateTime;

size_t g_rows = 500000;

// --- node adapters ----------------------------------------------------------

struct Hand {
  const Json* j;
  bool IsObject() const { return j->IsObject(); }
  bool IsNull() const { return j->IsNull(); }
  bool IsString() const { return j->IsString(); }
  bool IsNumber() const { return j->IsNumber(); }
  bool IsBool() const { return j->IsBool(); }
  bool IsArray() const { return j->IsArray(); }
  std::optional<Hand> Find(const char* k) const {
    const Json* p = j->Find(k);
    if (!p) return std::nullopt;
    return Hand{p};
  }
  std::string Str() const { return j->AsString(); }
  double Number() const { return j->AsNumber(); }
  bool Boolean() const { return j->AsBool(); }
  template <class F>
  void Each(F f) const {
    const auto& a = j->AsArray();
    for (size_t i = 0; i < a.size(); ++i) f(i, Hand{&a[i]});
  }
};

template <class J>
struct Nl {
  const J* j;
  bool IsObject() const { return j->is_object(); }
  bool IsNull() const { return j->is_null(); }
  bool IsString() const { return j->is_string(); }
  bool IsNumber() const { return j->is_number(); }
  bool IsBool() const { return j->is_boolean(); }
  bool IsArray() const { return j->is_array(); }
  std::optional<Nl> Find(const char* k) const {
    if (!j->is_object()) return std::nullopt;
    auto it = j->find(k);
    if (it == j->end()) return std::nullopt;
    return Nl{&*it};
  }
  std::string Str() const { return j->template get_ref<const std::string&>(); }
  double Number() const { return j->template get<double>(); }
  bool Boolean() const { return j->template get<bool>(); }
  template <class F>
  void Each(F f) const {
    size_t i = 0;
    for (const auto& e : *j) f(i++, Nl{&e});
  }
};

struct Simd {
  simdjson::dom::element e;
  bool IsObject() const { return e.is_object(); }
  bool IsNull() const { return e.is_null(); }
  bool IsString() const { return e.is_string(); }
  bool IsNumber() const { return e.is_number(); }
  bool IsBool() const { return e.is_bool(); }
  bool IsArray() const { return e.is_array(); }
  std::optional<Simd> Find(const char* k) const {
    simdjson::dom::object o;
    if (e.get_object().get(o)) return std::nullopt;
    simdjson::dom::element v;
    if (o.at_key(k).get(v)) return std::nullopt;
    return Simd{v};
  }
  std::string Str() const { return std::string(std::string_view(e.get_string())); }
  double Number() const { return double(e.get_double()); }
  bool Boolean() const { return bool(e.get_bool()); }
  template <class F>
  void Each(F f) const {
    size_t i = 0;
    for (simdjson::dom::element x : e.get_array()) f(i++, Simd{x});
  }
};

// --- the document reader, as tally_document.cpp has it ----------------------

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
  throw ServerError(where + ": " + what);
}

template <class N>
N Member(const N& obj, const std::string& where, const char* key) {
  if (!obj.IsObject()) Bad(where, "must be an object");
  auto v = obj.Find(key);
  if (!v) Bad(where + "." + key, "missing");
  return *v;
}
template <class N>
std::string Str(const N& obj, const std::string& where, const char* key) {
  N v = Member(obj, where, key);
  if (!v.IsString()) Bad(where + "." + key, "must be a text");
  return v.Str();
}
template <class N>
std::string OptStr(const N& obj, const std::string& where, const char* key, const char* dflt) {
  auto v = obj.Find(key);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsString()) Bad(where + "." + key, "must be a text");
  return v->Str();
}
template <class N>
double Num(const N& obj, const std::string& where, const char* key) {
  N v = Member(obj, where, key);
  if (!v.IsNumber() || !std::isfinite(v.Number())) Bad(where + "." + key, "must be a number");
  return v.Number();
}
template <class N>
double OptNum(const N& obj, const std::string& where, const char* key, double dflt) {
  auto v = obj.Find(key);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsNumber() || !std::isfinite(v->Number())) Bad(where + "." + key, "must be a number");
  return v->Number();
}
template <class N>
bool OptBool(const N& obj, const std::string& where, const char* key, bool dflt) {
  auto v = obj.Find(key);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsBool()) Bad(where + "." + key, "must be true or false");
  return v->Boolean();
}
template <class N>
DateTime ReadDate(const N& obj, const std::string& where, const char* key) {
  std::string s = Str(obj, where, key);
  int y, m, d;
  char tail;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || s.size() != 10)
    Bad(where + "." + key, "not a date");
  return DateTime::FromDate(y, m, d);
}
template <class N, class F>
void List(const N& root, const char* key, F f, bool optional = false) {
  auto v = root.Find(key);
  if (!v || v->IsNull()) {
    if (optional) return;
    Bad(key, "missing");
  }
  if (!v->IsArray()) Bad(key, "must be a list");
  v->Each([&](size_t i, const N& n) { f(std::string(key) + "[" + std::to_string(i) + "]", n); });
}

template <class N>
TallyDocument Read(const N& root) {
  TallyDocument d;
  N c = Member(root, "document", "centre");
  d.centre.code = Str(c, "centre", "code");
  d.centre.name = OptStr(c, "centre", "name", "");
  d.centre.IDTIPOAPUR = Str(c, "centre", "IDTIPOAPUR");
  d.centre.IDBLOQUEAAF = Str(c, "centre", "IDBLOQUEAAF");
  d.centre.IDCONSPRSOL = Str(c, "centre", "IDCONSPRSOL");
  d.centre.IDEXJUSTESCM = Str(c, "centre", "IDEXJUSTESCM");
  d.centre.monthlyRate = OptNum(c, "centre", "monthlyRate", 0);
  if (auto b = c.Find("budget"); b && !b->IsNull()) d.centre.budget = Num(c, "centre", "budget");
  d.centre.afDirectory = OptStr(c, "centre", "afDirectory", "");
  N t = Member(root, "document", "tally");
  d.number = Str(t, "tally", "number");
  d.buyer = Str(t, "tally", "buyer");
  d.start = ReadDate(t, "tally", "start");
  d.end = ReadDate(t, "tally", "end");
  List(root, "regions", [&](const std::string& at, const N& j) {
    d.regions.push_back({Str(j, at, "code"), Str(j, at, "name")});
  });
  List(root, "branches", [&](const std::string& at, const N& j) {
    d.branches.push_back({Str(j, at, "code"), Str(j, at, "name"), Str(j, at, "region")});
  });
  List(root, "suppliers", [&](const std::string& at, const N& j) {
    d.suppliers.push_back({Str(j, at, "code"), Str(j, at, "name")});
  });
  List(root, "brands", [&](const std::string& at, const N& j) {
    d.brands.push_back({Str(j, at, "code"), Str(j, at, "name")});
  });
  List(root, "stockProducts", [&](const std::string& at, const N& j) {
    d.stockProducts.push_back({Str(j, at, "code"), Str(j, at, "tree"), Str(j, at, "name"),
                               Str(j, at, "unit"), OptNum(j, at, "lastPrice", 0)});
  });
  List(root, "negotiatedProducts", [&](const std::string& at, const N& j) {
    NegotiatedProduct p;
    p.code = Str(j, at, "code");
    p.stockProduct = Str(j, at, "stockProduct");
    p.tree = Str(j, at, "tree");
    p.name = Str(j, at, "name");
    p.unit = Str(j, at, "unit");
    p.factor = Num(j, at, "factor");
    p.preferred = OptBool(j, at, "preferred", false);
    p.web = OptBool(j, at, "web", false);
    p.safetyStock = OptNum(j, at, "safetyStock", 0);
    d.negotiatedProducts.push_back(std::move(p));
  });
  List(
      root, "rules",
      [&](const std::string& at, const N& j) {
        d.rules.push_back({Str(j, at, "product"), OptStr(j, at, "supplier", ""),
                           OptStr(j, at, "brand", ""), Str(j, at, "kind")});
      },
      true);
  List(root, "quotations", [&](const std::string& at, const N& j) {
    QuoteDoc q;
    q.product = Str(j, at, "product");
    q.region = Str(j, at, "region");
    q.collection = Str(j, at, "collection");
    q.supplier = Str(j, at, "supplier");
    q.brand = Str(j, at, "brand");
    q.unitPrice = Num(j, at, "unitPrice");
    q.freightRate = OptNum(j, at, "freightRate", 0);
    q.paymentDays = OptNum(j, at, "paymentDays", 0);
    q.taxRate = OptNum(j, at, "taxRate", 0);
    q.priceList = OptBool(j, at, "priceList", false);
    q.minValue = OptNum(j, at, "minValue", 0);
    q.minValueFlag = OptStr(j, at, "minValueFlag", "N");
    q.minQuantity = OptNum(j, at, "minQuantity", 0);
    q.minQuantityFlag = OptStr(j, at, "minQuantityFlag", "N");
    q.unit = OptStr(j, at, "unit", "");
    d.quotations.push_back(std::move(q));
  });
  List(root, "requests", [&](const std::string& at, const N& j) {
    d.requests.push_back({Str(j, at, "product"), Str(j, at, "region"), Str(j, at, "branch"),
                          ReadDate(j, at, "date"), Num(j, at, "quantity")});
  });
  ValidateDocument(d);
  return d;
}

// --- the nlohmann writer ----------------------------------------------------

std::string DateText(DateTime d) {
  int y, m, dd;
  d.Decode(y, m, dd);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, dd);
  return buf;
}

OJson ToOrdered(const TallyDocument& d) {
  OJson root = OJson::object();
  root.emplace("format", "apura-tally/1");
  OJson c = OJson::object();
  c.emplace("code", d.centre.code);
  c.emplace("name", d.centre.name);
  c.emplace("IDTIPOAPUR", d.centre.IDTIPOAPUR);
  c.emplace("IDBLOQUEAAF", d.centre.IDBLOQUEAAF);
  c.emplace("IDCONSPRSOL", d.centre.IDCONSPRSOL);
  c.emplace("IDEXJUSTESCM", d.centre.IDEXJUSTESCM);
  c.emplace("monthlyRate", d.centre.monthlyRate);
  c.emplace("budget", d.centre.budget ? OJson(*d.centre.budget) : OJson());
  c.emplace("afDirectory", d.centre.afDirectory);
  root.emplace("centre", std::move(c));
  root.emplace("tally", OJson{{"number", d.number},
                              {"buyer", d.buyer},
                              {"start", DateText(d.start)},
                              {"end", DateText(d.end)}});
  auto list = [&](const char* key, const auto& items, auto fill) {
    OJson a = OJson::array();
    a.get_ref<OJson::array_t&>().reserve(items.size());
    for (const auto& item : items) {
      OJson o = OJson::object();
      fill(o, item);
      a.push_back(std::move(o));
    }
    root.emplace(key, std::move(a));
  };
  list("regions", d.regions, [](OJson& o, const Region& r) {
    o.emplace("code", r.code);
    o.emplace("name", r.name);
  });
  list("branches", d.branches, [](OJson& o, const Branch& b) {
    o.emplace("code", b.code);
    o.emplace("name", b.name);
    o.emplace("region", b.region);
  });
  list("suppliers", d.suppliers, [](OJson& o, const Supplier& s) {
    o.emplace("code", s.code);
    o.emplace("name", s.name);
  });
  list("brands", d.brands, [](OJson& o, const Brand& b) {
    o.emplace("code", b.code);
    o.emplace("name", b.name);
  });
  list("stockProducts", d.stockProducts, [](OJson& o, const StockProduct& p) {
    o.emplace("code", p.code);
    o.emplace("tree", p.tree);
    o.emplace("name", p.name);
    o.emplace("unit", p.unit);
    o.emplace("lastPrice", p.lastPrice);
  });
  list("negotiatedProducts", d.negotiatedProducts, [](OJson& o, const NegotiatedProduct& p) {
    o.emplace("code", p.code);
    o.emplace("stockProduct", p.stockProduct);
    o.emplace("tree", p.tree);
    o.emplace("name", p.name);
    o.emplace("unit", p.unit);
    o.emplace("factor", p.factor);
    o.emplace("preferred", p.preferred);
    o.emplace("web", p.web);
    o.emplace("safetyStock", p.safetyStock);
  });
  list("rules", d.rules, [](OJson& o, const ChoiceRule& r) {
    o.emplace("product", r.product);
    o.emplace("supplier", r.supplier);
    o.emplace("brand", r.brand);
    o.emplace("kind", r.kind);
  });
  list("quotations", d.quotations, [](OJson& o, const QuoteDoc& q) {
    o.emplace("product", q.product);
    o.emplace("region", q.region);
    o.emplace("collection", q.collection);
    o.emplace("supplier", q.supplier);
    o.emplace("brand", q.brand);
    o.emplace("unitPrice", q.unitPrice);
    o.emplace("freightRate", q.freightRate);
    o.emplace("paymentDays", q.paymentDays);
    o.emplace("taxRate", q.taxRate);
    o.emplace("priceList", q.priceList);
    o.emplace("minValue", q.minValue);
    o.emplace("minValueFlag", q.minValueFlag);
    o.emplace("minQuantity", q.minQuantity);
    o.emplace("minQuantityFlag", q.minQuantityFlag);
    o.emplace("unit", q.unit);
  });
  list("requests", d.requests, [](OJson& o, const RequestDoc& r) {
    o.emplace("product", r.product);
    o.emplace("region", r.region);
    o.emplace("branch", r.branch);
    o.emplace("date", DateText(r.date));
    o.emplace("quantity", r.quantity);
  });
  return root;
}

// --- the runs ---------------------------------------------------------------

const TallyDocument& Demo() {
  static const TallyDocument doc = GenerateDemo(DemoOptions::ForDeliveryRows(g_rows));
  return doc;
}
const std::string& Text() {
  static const std::string text = DocumentToJson(Demo()).Dump(1);
  return text;
}

TallyDocument ImportHand(const std::string& text) {
  Json j = Json::Parse(text);
  return Read(Hand{&j});
}
TallyDocument ImportNl(const std::string& text) {
  OJson j = OJson::parse(text);
  return Read(Nl<OJson>{&j});
}
// Reading needs no member order; the sorted object may parse faster.
TallyDocument ImportNlMap(const std::string& text) {
  nlohmann::json j = nlohmann::json::parse(text);
  return Read(Nl<nlohmann::json>{&j});
}
TallyDocument ImportSimd(const std::string& text) {
  simdjson::dom::parser parser;
  simdjson::padded_string padded(text);
  simdjson::dom::element root = parser.parse(padded);
  return Read(Simd{root});
}

using Importer = TallyDocument (*)(const std::string&);

void Export(benchmark::State& state, bool library) {
  const TallyDocument& d = Demo();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = library ? ToOrdered(d).dump(1) : DocumentToJson(d).Dump(1);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void Import(benchmark::State& state, Importer import) {
  const std::string& text = Text();
  for (auto _ : state) {
    TallyDocument d = import(text);
    benchmark::DoNotOptimize(d.quotations.data());
  }
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

// The whole --import: the JSON into a fresh SQLite file.
void ImportIntoSqlite(benchmark::State& state, Importer import) {
  const std::string& text = Text();
  auto dir = std::filesystem::temp_directory_path() / ("apura-bench-" + std::to_string(getpid()));
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto storage = OpenStorage((dir / "a.db").string());
    TallyService service(*storage);
    state.ResumeTiming();
    service.Import(import(text));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK_CAPTURE(Export, handwritten, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Export, nlohmann, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Import, handwritten, &ImportHand)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Import, nlohmann, &ImportNl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Import, nlohmann_sorted, &ImportNlMap)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Import, simdjson, &ImportSimd)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ImportIntoSqlite, handwritten, &ImportHand)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(ImportIntoSqlite, nlohmann, &ImportNl)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(ImportIntoSqlite, nlohmann_sorted, &ImportNlMap)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(ImportIntoSqlite, simdjson, &ImportSimd)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0) {
      g_rows = std::strtoull(argv[i + 1], nullptr, 10);
      for (int k = i; k + 2 <= argc; ++k) argv[k] = argv[k + 2];
      argc -= 2;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  // All readers must read the same document, or the comparison means nothing.
  for (Importer import : {&ImportHand, &ImportNl, &ImportNlMap, &ImportSimd}) {
    if (DocumentToJson(import(Text())).Dump(1) != Text()) {
      std::fprintf(stderr, "a reader read another document\n");
      return 1;
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
