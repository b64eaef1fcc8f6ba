#include "server/exchange/tally_document.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "server/services/tally_service.h"

namespace apura::server {

namespace {

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
  throw ServerError(where + ": " + what);
}

using Element = simdjson::dom::element;

// Bounds besides a price's and a quantity's (kMaxUnitPrice, kMaxQuantity): a
// value in money (a budget, a supplier's minimum) is at most a price times a
// quantity; a factor below a millionth or a freight rate above 1,000 % is a
// typing error, and either would carry an economic price past any bound.
constexpr double kMaxValue = kMaxUnitPrice * kMaxQuantity;
constexpr double kMinFactor = 1e-6;
constexpr double kMaxFreightRate = 10;
constexpr double kMaxPaymentDays = 3650;

std::string FloatText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

Element Member(Element obj, const std::string& where, const char* key) {
  if (!obj.is_object()) Bad(where, "must be an object");
  Element v;
  if (!FindMember(obj, key, v)) Bad(where + "." + key, "missing");
  return v;
}

std::string Text(Element v, const std::string& where, const char* key) {
  std::string_view s;
  if (v.get_string().get(s)) Bad(where + "." + key, "must be a text");
  return std::string(s);
}

double Number(Element v, const std::string& where, const char* key) {
  double d;
  if (v.get_double().get(d) || !std::isfinite(d)) Bad(where + "." + key, "must be a number");
  return d;
}

std::string Str(Element obj, const std::string& where, const char* key) {
  return Text(Member(obj, where, key), where, key);
}

std::string OptStr(Element obj, const std::string& where, const char* key, const char* dflt) {
  Element v;
  if (!FindMember(obj, key, v) || v.is_null()) return dflt;
  return Text(v, where, key);
}

double Num(Element obj, const std::string& where, const char* key) {
  return Number(Member(obj, where, key), where, key);
}

double OptNum(Element obj, const std::string& where, const char* key, double dflt) {
  Element v;
  if (!FindMember(obj, key, v) || v.is_null()) return dflt;
  return Number(v, where, key);
}

bool OptBool(Element obj, const std::string& where, const char* key, bool dflt) {
  Element v;
  if (!FindMember(obj, key, v) || v.is_null()) return dflt;
  bool b;
  if (v.get_bool().get(b)) Bad(where + "." + key, "must be true or false");
  return b;
}

DateTime Date(Element obj, const std::string& where, const char* key) {
  std::string s = Str(obj, where, key);
  int y, m, d;
  char tail;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || s.size() != 10 || m < 1 ||
      m > 12 || d < 1 || d > 31) {
    Bad(where + "." + key, "\"" + s + "\" is not a date YYYY-MM-DD");
  }
  DateTime dt;
  try {
    dt = DateTime::FromDate(y, m, d);
  } catch (const std::exception&) {
    Bad(where + "." + key, "\"" + s + "\" is not a date");
  }
  int y2, m2, d2;
  dt.Decode(y2, m2, d2);
  if (y2 != y || m2 != m || d2 != d) Bad(where + "." + key, "\"" + s + "\" is not a date");
  return dt;
}

std::string DateText(DateTime d) {
  int y, m, dd;
  d.Decode(y, m, dd);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, dd);
  return buf;
}

std::string At(const char* list, size_t i) {
  return std::string(list) + "[" + std::to_string(i) + "]";
}

// Calls `each(where, entry)` for the entries of the list `key` of the root, after
// `reserve(count)`.
template <class Reserve, class Each>
void List(Element root, const char* key, Reserve reserve, Each each, bool optional = false) {
  Element v;
  if (!FindMember(root, key, v) || v.is_null()) {
    if (optional) return;
    Bad(key, "missing");
  }
  simdjson::dom::array a;
  if (v.get_array().get(a)) Bad(key, "must be a list");
  reserve(a.size());
  size_t i = 0;
  for (Element e : a) each(At(key, i++), e);
}

size_t Chars(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

void Fits(const std::string& where, const std::string& value, size_t size, bool required = true) {
  if (required && value.empty()) Bad(where, "must not be empty");
  if (Chars(value) > size) {
    Bad(where, "\"" + value + "\" is longer than " + std::to_string(size) + " characters");
  }
}

// A number the document carries, finite and within [least, most]; `aboveLeast`
// excludes `least` itself. Beyond these a price times a quantity, or a total
// over a tally, stops being a number of cents and ends as infinity.
void Within(const std::string& where, double v, double least, double most,
            bool aboveLeast = false) {
  if (!std::isfinite(v)) Bad(where, "must be a finite number");
  if (aboveLeast ? !(v > least) : v < least)
    Bad(where, FloatText(v) + (aboveLeast ? " must be greater than " : " must not be less than ") +
                   FloatText(least));
  if (v > most) Bad(where, FloatText(v) + " is above the most allowed, " + FloatText(most));
}

void Flag(const std::string& where, const std::string& v) {
  if (v.size() != 1) Bad(where, "must be one character, not \"" + v + "\"");
}

}  // namespace

void ValidateDocument(const TallyDocument& doc) {
  const CentreParams& c = doc.centre;
  Fits("centre.code", c.code, 4);
  Flag("centre.IDTIPOAPUR", c.IDTIPOAPUR);
  Flag("centre.IDBLOQUEAAF", c.IDBLOQUEAAF);
  Flag("centre.IDCONSPRSOL", c.IDCONSPRSOL);
  Flag("centre.IDEXJUSTESCM", c.IDEXJUSTESCM);
  if (!(c.monthlyRate >= 0 && c.monthlyRate < 1)) Bad("centre.monthlyRate", "must be in [0, 1)");
  if (c.budget) Within("centre.budget", *c.budget, 0, kMaxValue);
  Fits("tally.number", doc.number, 10);
  Fits("tally.buyer", doc.buyer, 12);
  if (doc.end < doc.start) Bad("tally.end", "is before tally.start");

  auto unique = [](const char* list, auto& items, size_t size, auto code) {
    std::set<std::string> seen;
    for (size_t i = 0; i < items.size(); ++i) {
      const std::string& k = code(items[i]);
      Fits(At(list, i) + ".code", k, size);
      if (!seen.insert(k).second) Bad(At(list, i) + ".code", "\"" + k + "\" appears twice");
    }
    return seen;
  };
  auto regions = unique("regions", doc.regions, 3,
                        [](const Region& r) -> const std::string& { return r.code; });
  for (size_t i = 0; i < doc.regions.size(); ++i)
    Fits(At("regions", i) + ".name", doc.regions[i].name, 30);
  auto branches = unique("branches", doc.branches, 4,
                         [](const Branch& b) -> const std::string& { return b.code; });
  std::map<std::string, std::string> regionOfBranch;
  for (size_t i = 0; i < doc.branches.size(); ++i) {
    const Branch& b = doc.branches[i];
    Fits(At("branches", i) + ".name", b.name, 30);
    if (!regions.count(b.region))
      Bad(At("branches", i) + ".region", "unknown region \"" + b.region + "\"");
    regionOfBranch[b.code] = b.region;
  }
  auto suppliers = unique("suppliers", doc.suppliers, 21,
                          [](const Supplier& s) -> const std::string& { return s.code; });
  for (size_t i = 0; i < doc.suppliers.size(); ++i)
    Fits(At("suppliers", i) + ".name", doc.suppliers[i].name, 40);
  auto brands =
      unique("brands", doc.brands, 5, [](const Brand& b) -> const std::string& { return b.code; });
  for (size_t i = 0; i < doc.brands.size(); ++i)
    Fits(At("brands", i) + ".name", doc.brands[i].name, 20);
  auto stock = unique("stockProducts", doc.stockProducts, 10,
                      [](const StockProduct& p) -> const std::string& { return p.code; });
  for (size_t i = 0; i < doc.stockProducts.size(); ++i) {
    const StockProduct& p = doc.stockProducts[i];
    Fits(At("stockProducts", i) + ".tree", p.tree, 20);
    Fits(At("stockProducts", i) + ".name", p.name, 50);
    Fits(At("stockProducts", i) + ".unit", p.unit, 10);
    Within(At("stockProducts", i) + ".lastPrice", p.lastPrice, 0, kMaxUnitPrice);
  }
  auto negotiated = unique("negotiatedProducts", doc.negotiatedProducts, 10,
                           [](const NegotiatedProduct& p) -> const std::string& { return p.code; });
  for (size_t i = 0; i < doc.negotiatedProducts.size(); ++i) {
    const NegotiatedProduct& p = doc.negotiatedProducts[i];
    std::string at = At("negotiatedProducts", i);
    if (!stock.count(p.stockProduct))
      Bad(at + ".stockProduct", "unknown stock product \"" + p.stockProduct + "\"");
    Fits(at + ".tree", p.tree, 20);
    Fits(at + ".name", p.name, 50);
    Fits(at + ".unit", p.unit, 10);
    Within(at + ".factor", p.factor, 0, kMaxQuantity, true);
    if (p.factor < kMinFactor) Bad(at + ".factor", "must be at least " + FloatText(kMinFactor));
    Within(at + ".safetyStock", p.safetyStock, 0, kMaxQuantity);
  }
  for (size_t i = 0; i < doc.rules.size(); ++i) {
    const ChoiceRule& r = doc.rules[i];
    std::string at = At("rules", i);
    if (!negotiated.count(r.product))
      Bad(at + ".product", "unknown negotiated product \"" + r.product + "\"");
    if (r.supplier.empty() && r.brand.empty()) Bad(at, "names neither a supplier nor a brand");
    if (!r.supplier.empty() && !suppliers.count(r.supplier))
      Bad(at + ".supplier", "unknown supplier \"" + r.supplier + "\"");
    if (!r.brand.empty() && !brands.count(r.brand))
      Bad(at + ".brand", "unknown brand \"" + r.brand + "\"");
    if (r.kind != "O" && r.kind != "R" && r.kind != "P" && r.kind != "A")
      Bad(at + ".kind", "must be \"O\", \"R\", \"P\" or \"A\"");
    if (r.kind == "A" && (r.supplier.empty() || !r.brand.empty()))
      Bad(at + ".kind", "an agreement names a supplier only");
  }
  std::set<std::string> quoteKeys;
  for (size_t i = 0; i < doc.quotations.size(); ++i) {
    const QuoteDoc& q = doc.quotations[i];
    std::string at = At("quotations", i);
    if (!negotiated.count(q.product))
      Bad(at + ".product", "unknown negotiated product \"" + q.product + "\"");
    if (!regions.count(q.region)) Bad(at + ".region", "unknown region \"" + q.region + "\"");
    Fits(at + ".collection", q.collection, 10);
    if (!suppliers.count(q.supplier))
      Bad(at + ".supplier", "unknown supplier \"" + q.supplier + "\"");
    if (!brands.count(q.brand)) Bad(at + ".brand", "unknown brand \"" + q.brand + "\"");
    // Zero is a line not priced yet: the worksheet warns about it when chosen,
    // and Gera_AF refuses to order it.
    Within(at + ".unitPrice", q.unitPrice, 0, kMaxUnitPrice);
    Within(at + ".freightRate", q.freightRate, 0, kMaxFreightRate);
    Within(at + ".paymentDays", q.paymentDays, 0, kMaxPaymentDays);
    if (!(q.taxRate >= 0 && q.taxRate < 1)) Bad(at + ".taxRate", "must be in [0, 1)");
    Within(at + ".minValue", q.minValue, 0, kMaxValue);
    Within(at + ".minQuantity", q.minQuantity, 0, kMaxQuantity);
    Flag(at + ".minValueFlag", q.minValueFlag);
    Flag(at + ".minQuantityFlag", q.minQuantityFlag);
    Fits(at + ".unit", q.unit, 10, false);
    std::string key = q.product + '\x1f' + q.region + '\x1f' + q.collection + '\x1f' + q.supplier +
                      '\x1f' + q.brand;
    if (!quoteKeys.insert(key).second) Bad(at, "the same quotation line appears twice");
  }
  std::set<std::string> requestKeys;
  for (size_t i = 0; i < doc.requests.size(); ++i) {
    const RequestDoc& r = doc.requests[i];
    std::string at = At("requests", i);
    if (!negotiated.count(r.product))
      Bad(at + ".product", "unknown negotiated product \"" + r.product + "\"");
    if (!regions.count(r.region)) Bad(at + ".region", "unknown region \"" + r.region + "\"");
    if (!branches.count(r.branch)) Bad(at + ".branch", "unknown branch \"" + r.branch + "\"");
    if (regionOfBranch[r.branch] != r.region) {
      Bad(at + ".region",
          "branch \"" + r.branch + "\" belongs to region \"" + regionOfBranch[r.branch] + "\"");
    }
    Within(at + ".quantity", r.quantity, 0, kMaxQuantity, true);
    if (r.date < doc.start || r.date > doc.end)
      Bad(at + ".date", "lies outside the tally's period");
    std::string key =
        r.product + '\x1f' + r.region + '\x1f' + r.branch + '\x1f' + std::to_string(r.date.days);
    if (!requestKeys.insert(key).second) Bad(at, "the same branch request appears twice");
  }
}

TallyDocument DocumentFromJson(Element root) {
  if (!root.is_object()) Bad("document", "must be a JSON object");
  std::string format = OptStr(root, "document", "format", "apura-tally/1");
  if (format != "apura-tally/1") Bad("format", "\"" + format + "\" is not \"apura-tally/1\"");
  TallyDocument d;
  Element c = Member(root, "document", "centre");
  d.centre.code = Str(c, "centre", "code");
  d.centre.name = OptStr(c, "centre", "name", "");
  d.centre.IDTIPOAPUR = Str(c, "centre", "IDTIPOAPUR");
  d.centre.IDBLOQUEAAF = Str(c, "centre", "IDBLOQUEAAF");
  d.centre.IDCONSPRSOL = Str(c, "centre", "IDCONSPRSOL");
  d.centre.IDEXJUSTESCM = Str(c, "centre", "IDEXJUSTESCM");
  d.centre.monthlyRate = OptNum(c, "centre", "monthlyRate", 0);
  if (Element b; FindMember(c, "budget", b) && !b.is_null())
    d.centre.budget = Num(c, "centre", "budget");
  d.centre.afDirectory = OptStr(c, "centre", "afDirectory", "");
  Element t = Member(root, "document", "tally");
  d.number = Str(t, "tally", "number");
  d.buyer = Str(t, "tally", "buyer");
  d.start = Date(t, "tally", "start");
  d.end = Date(t, "tally", "end");

  auto into = [](auto& list) { return [&list](size_t n) { list.reserve(n); }; };
  List(root, "regions", into(d.regions), [&](const std::string& at, Element j) {
    d.regions.push_back({Str(j, at, "code"), Str(j, at, "name")});
  });
  List(root, "branches", into(d.branches), [&](const std::string& at, Element j) {
    d.branches.push_back({Str(j, at, "code"), Str(j, at, "name"), Str(j, at, "region")});
  });
  List(root, "suppliers", into(d.suppliers), [&](const std::string& at, Element j) {
    d.suppliers.push_back({Str(j, at, "code"), Str(j, at, "name")});
  });
  List(root, "brands", into(d.brands), [&](const std::string& at, Element j) {
    d.brands.push_back({Str(j, at, "code"), Str(j, at, "name")});
  });
  List(root, "stockProducts", into(d.stockProducts), [&](const std::string& at, Element j) {
    d.stockProducts.push_back({Str(j, at, "code"), Str(j, at, "tree"), Str(j, at, "name"),
                               Str(j, at, "unit"), OptNum(j, at, "lastPrice", 0)});
  });
  List(root, "negotiatedProducts", into(d.negotiatedProducts),
       [&](const std::string& at, Element j) {
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
      root, "rules", into(d.rules),
      [&](const std::string& at, Element j) {
        d.rules.push_back({Str(j, at, "product"), OptStr(j, at, "supplier", ""),
                           OptStr(j, at, "brand", ""), Str(j, at, "kind")});
      },
      true);
  List(root, "quotations", into(d.quotations), [&](const std::string& at, Element j) {
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
  List(root, "requests", into(d.requests), [&](const std::string& at, Element j) {
    d.requests.push_back({Str(j, at, "product"), Str(j, at, "region"), Str(j, at, "branch"),
                          Date(j, at, "date"), Num(j, at, "quantity")});
  });
  // Units default to the negotiated product's.
  std::map<std::string, std::string> unitOf;
  for (const auto& p : d.negotiatedProducts) unitOf[p.code] = p.unit;
  for (auto& q : d.quotations) {
    if (q.unit.empty()) q.unit = unitOf[q.product];
  }
  ValidateDocument(d);
  return d;
}

TallyDocument DocumentFromText(std::string_view text) {
  try {
    return DocumentFromJson(JsonText::Parse(text).root());
  } catch (const JsonError& e) {
    throw ServerError(e.what());
  }
}

Json DocumentToJson(const TallyDocument& d) {
  Json root = Json::object();
  root.emplace("format", "apura-tally/1");
  Json c = Json::object();
  c.emplace("code", d.centre.code);
  c.emplace("name", d.centre.name);
  c.emplace("IDTIPOAPUR", d.centre.IDTIPOAPUR);
  c.emplace("IDBLOQUEAAF", d.centre.IDBLOQUEAAF);
  c.emplace("IDCONSPRSOL", d.centre.IDCONSPRSOL);
  c.emplace("IDEXJUSTESCM", d.centre.IDEXJUSTESCM);
  c.emplace("monthlyRate", d.centre.monthlyRate);
  c.emplace("budget", d.centre.budget ? Json(*d.centre.budget) : Json());
  c.emplace("afDirectory", d.centre.afDirectory);
  root.emplace("centre", std::move(c));
  Json t = Json::object();
  t.emplace("number", d.number);
  t.emplace("buyer", d.buyer);
  t.emplace("start", DateText(d.start));
  t.emplace("end", DateText(d.end));
  root.emplace("tally", std::move(t));
  auto list = [&](const char* key, const auto& items, auto fill) {
    Json a = Json::array();
    a.get_ref<Json::array_t&>().reserve(items.size());
    for (const auto& item : items) {
      Json o = Json::object();
      fill(o, item);
      a.push_back(std::move(o));
    }
    root.emplace(key, std::move(a));
  };
  list("regions", d.regions, [](Json& o, const Region& r) {
    o.emplace("code", r.code);
    o.emplace("name", r.name);
  });
  list("branches", d.branches, [](Json& o, const Branch& b) {
    o.emplace("code", b.code);
    o.emplace("name", b.name);
    o.emplace("region", b.region);
  });
  list("suppliers", d.suppliers, [](Json& o, const Supplier& s) {
    o.emplace("code", s.code);
    o.emplace("name", s.name);
  });
  list("brands", d.brands, [](Json& o, const Brand& b) {
    o.emplace("code", b.code);
    o.emplace("name", b.name);
  });
  list("stockProducts", d.stockProducts, [](Json& o, const StockProduct& p) {
    o.emplace("code", p.code);
    o.emplace("tree", p.tree);
    o.emplace("name", p.name);
    o.emplace("unit", p.unit);
    o.emplace("lastPrice", p.lastPrice);
  });
  list("negotiatedProducts", d.negotiatedProducts, [](Json& o, const NegotiatedProduct& p) {
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
  list("rules", d.rules, [](Json& o, const ChoiceRule& r) {
    o.emplace("product", r.product);
    o.emplace("supplier", r.supplier);
    o.emplace("brand", r.brand);
    o.emplace("kind", r.kind);
  });
  list("quotations", d.quotations, [](Json& o, const QuoteDoc& q) {
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
  list("requests", d.requests, [](Json& o, const RequestDoc& r) {
    o.emplace("product", r.product);
    o.emplace("region", r.region);
    o.emplace("branch", r.branch);
    o.emplace("date", DateText(r.date));
    o.emplace("quantity", r.quantity);
  });
  return root;
}

TallyDocument ReadDocumentFile(const std::string& path) {
  simdjson::padded_string text;
  if (simdjson::padded_string::load(path).get(text))
    throw ServerError(ErrorCode::Internal, "cannot read " + path);
  try {
    return DocumentFromJson(JsonText::ParsePadded(text).root());
  } catch (const JsonError& e) {
    throw ServerError(path + ": " + e.what());
  } catch (const ServerError& e) {
    throw ServerError(path + ": " + e.what());
  }
}

void WriteDocumentFile(const TallyDocument& doc, const std::string& path) {
  // The whole text first: a document that cannot be written leaves no
  // truncated file behind.
  std::string text;
  try {
    text = DocumentToJson(doc).dump(1);
  } catch (const Json::exception& e) {
    throw ServerError(ErrorCode::Internal, "cannot write " + path + ": " + e.what());
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ServerError(ErrorCode::Internal, "cannot write " + path);
  out << text << "\n";
  if (!out) throw ServerError(ErrorCode::Internal, "cannot write " + path);
}

}  // namespace apura::server
