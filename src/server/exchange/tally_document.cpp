#include "server/exchange/tally_document.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "server/services/tally_service.h"

namespace apura::server {

namespace {

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
  throw ServerError(where + ": " + what);
}

const Json& Member(const Json& obj, const std::string& where, const char* key) {
  if (!obj.IsObject()) Bad(where, "must be an object");
  const Json* v = obj.Find(key);
  if (!v) Bad(where + "." + key, "missing");
  return *v;
}

std::string Str(const Json& obj, const std::string& where, const char* key) {
  const Json& v = Member(obj, where, key);
  if (!v.IsString()) Bad(where + "." + key, "must be a text");
  return v.AsString();
}

std::string OptStr(const Json& obj, const std::string& where, const char* key,
                   const std::string& dflt) {
  const Json* v = obj.Find(key);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsString()) Bad(where + "." + key, "must be a text");
  return v->AsString();
}

double Num(const Json& obj, const std::string& where, const char* key) {
  const Json& v = Member(obj, where, key);
  if (!v.IsNumber() || !std::isfinite(v.AsNumber())) Bad(where + "." + key, "must be a number");
  return v.AsNumber();
}

double OptNum(const Json& obj, const std::string& where, const char* key, double dflt) {
  const Json* v = obj.Find(key);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsNumber() || !std::isfinite(v->AsNumber())) Bad(where + "." + key, "must be a number");
  return v->AsNumber();
}

bool OptBool(const Json& obj, const std::string& where, const char* key, bool dflt) {
  const Json* v = obj.Find(key);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsBool()) Bad(where + "." + key, "must be true or false");
  return v->AsBool();
}

DateTime Date(const Json& obj, const std::string& where, const char* key) {
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

const Json::Array& List(const Json& root, const char* key, bool optional = false) {
  static const Json::Array kEmpty;
  const Json* v = root.Find(key);
  if (!v || v->IsNull()) {
    if (optional) return kEmpty;
    Bad(key, "missing");
  }
  if (!v->IsArray()) Bad(key, "must be a list");
  return v->AsArray();
}

std::string At(const char* list, size_t i) {
  return std::string(list) + "[" + std::to_string(i) + "]";
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
  if (c.monthlyRate < 0 || c.monthlyRate >= 1) Bad("centre.monthlyRate", "must be in [0, 1)");
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
    if (!(p.factor > 0)) Bad(at + ".factor", "must be greater than zero");
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
    if (q.unitPrice < 0) Bad(at + ".unitPrice", "must not be negative");
    if (q.freightRate < 0) Bad(at + ".freightRate", "must not be negative");
    if (q.paymentDays < 0) Bad(at + ".paymentDays", "must not be negative");
    if (q.taxRate < 0 || q.taxRate >= 1) Bad(at + ".taxRate", "must be in [0, 1)");
    if (q.minValue < 0) Bad(at + ".minValue", "must not be negative");
    if (q.minQuantity < 0) Bad(at + ".minQuantity", "must not be negative");
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
    if (!(r.quantity > 0)) Bad(at + ".quantity", "must be greater than zero");
    if (r.date < doc.start || r.date > doc.end)
      Bad(at + ".date", "lies outside the tally's period");
    std::string key =
        r.product + '\x1f' + r.region + '\x1f' + r.branch + '\x1f' + std::to_string(r.date.days);
    if (!requestKeys.insert(key).second) Bad(at, "the same branch request appears twice");
  }
}

TallyDocument DocumentFromJson(const Json& root) {
  if (!root.IsObject()) Bad("document", "must be a JSON object");
  std::string format = OptStr(root, "document", "format", "apura-tally/1");
  if (format != "apura-tally/1") Bad("format", "\"" + format + "\" is not \"apura-tally/1\"");
  TallyDocument d;
  const Json& c = Member(root, "document", "centre");
  d.centre.code = Str(c, "centre", "code");
  d.centre.name = OptStr(c, "centre", "name", "");
  d.centre.IDTIPOAPUR = Str(c, "centre", "IDTIPOAPUR");
  d.centre.IDBLOQUEAAF = Str(c, "centre", "IDBLOQUEAAF");
  d.centre.IDCONSPRSOL = Str(c, "centre", "IDCONSPRSOL");
  d.centre.IDEXJUSTESCM = Str(c, "centre", "IDEXJUSTESCM");
  d.centre.monthlyRate = OptNum(c, "centre", "monthlyRate", 0);
  if (const Json* b = c.Find("budget"); b && !b->IsNull())
    d.centre.budget = Num(c, "centre", "budget");
  d.centre.afDirectory = OptStr(c, "centre", "afDirectory", "");
  const Json& t = Member(root, "document", "tally");
  d.number = Str(t, "tally", "number");
  d.buyer = Str(t, "tally", "buyer");
  d.start = Date(t, "tally", "start");
  d.end = Date(t, "tally", "end");

  const auto& regions = List(root, "regions");
  for (size_t i = 0; i < regions.size(); ++i) {
    std::string at = At("regions", i);
    d.regions.push_back({Str(regions[i], at, "code"), Str(regions[i], at, "name")});
  }
  const auto& branches = List(root, "branches");
  for (size_t i = 0; i < branches.size(); ++i) {
    std::string at = At("branches", i);
    d.branches.push_back({Str(branches[i], at, "code"), Str(branches[i], at, "name"),
                          Str(branches[i], at, "region")});
  }
  const auto& suppliers = List(root, "suppliers");
  for (size_t i = 0; i < suppliers.size(); ++i) {
    std::string at = At("suppliers", i);
    d.suppliers.push_back({Str(suppliers[i], at, "code"), Str(suppliers[i], at, "name")});
  }
  const auto& brands = List(root, "brands");
  for (size_t i = 0; i < brands.size(); ++i) {
    std::string at = At("brands", i);
    d.brands.push_back({Str(brands[i], at, "code"), Str(brands[i], at, "name")});
  }
  const auto& stock = List(root, "stockProducts");
  for (size_t i = 0; i < stock.size(); ++i) {
    std::string at = At("stockProducts", i);
    const Json& j = stock[i];
    d.stockProducts.push_back({Str(j, at, "code"), Str(j, at, "tree"), Str(j, at, "name"),
                               Str(j, at, "unit"), OptNum(j, at, "lastPrice", 0)});
  }
  const auto& neg = List(root, "negotiatedProducts");
  for (size_t i = 0; i < neg.size(); ++i) {
    std::string at = At("negotiatedProducts", i);
    const Json& j = neg[i];
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
  }
  const auto& rules = List(root, "rules", true);
  for (size_t i = 0; i < rules.size(); ++i) {
    std::string at = At("rules", i);
    const Json& j = rules[i];
    d.rules.push_back({Str(j, at, "product"), OptStr(j, at, "supplier", ""),
                       OptStr(j, at, "brand", ""), Str(j, at, "kind")});
  }
  const auto& quotes = List(root, "quotations");
  for (size_t i = 0; i < quotes.size(); ++i) {
    std::string at = At("quotations", i);
    const Json& j = quotes[i];
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
  }
  const auto& requests = List(root, "requests");
  for (size_t i = 0; i < requests.size(); ++i) {
    std::string at = At("requests", i);
    const Json& j = requests[i];
    d.requests.push_back({Str(j, at, "product"), Str(j, at, "region"), Str(j, at, "branch"),
                          Date(j, at, "date"), Num(j, at, "quantity")});
  }
  // Units default to the negotiated product's.
  std::map<std::string, std::string> unitOf;
  for (const auto& p : d.negotiatedProducts) unitOf[p.code] = p.unit;
  for (auto& q : d.quotations) {
    if (q.unit.empty()) q.unit = unitOf[q.product];
  }
  ValidateDocument(d);
  return d;
}

Json DocumentToJson(const TallyDocument& d) {
  Json root{Json::Object{}};
  root.Set("format", "apura-tally/1");
  Json c{Json::Object{}};
  c.Set("code", d.centre.code);
  c.Set("name", d.centre.name);
  c.Set("IDTIPOAPUR", d.centre.IDTIPOAPUR);
  c.Set("IDBLOQUEAAF", d.centre.IDBLOQUEAAF);
  c.Set("IDCONSPRSOL", d.centre.IDCONSPRSOL);
  c.Set("IDEXJUSTESCM", d.centre.IDEXJUSTESCM);
  c.Set("monthlyRate", d.centre.monthlyRate);
  c.Set("budget", d.centre.budget ? Json(*d.centre.budget) : Json());
  c.Set("afDirectory", d.centre.afDirectory);
  root.Set("centre", std::move(c));
  Json t{Json::Object{}};
  t.Set("number", d.number);
  t.Set("buyer", d.buyer);
  t.Set("start", DateText(d.start));
  t.Set("end", DateText(d.end));
  root.Set("tally", std::move(t));
  auto list = [&](const char* key, const auto& items, auto fill) {
    Json::Array a;
    a.reserve(items.size());
    for (const auto& item : items) {
      Json o{Json::Object{}};
      fill(o, item);
      a.push_back(std::move(o));
    }
    root.Set(key, Json(std::move(a)));
  };
  list("regions", d.regions, [](Json& o, const Region& r) {
    o.Set("code", r.code);
    o.Set("name", r.name);
  });
  list("branches", d.branches, [](Json& o, const Branch& b) {
    o.Set("code", b.code);
    o.Set("name", b.name);
    o.Set("region", b.region);
  });
  list("suppliers", d.suppliers, [](Json& o, const Supplier& s) {
    o.Set("code", s.code);
    o.Set("name", s.name);
  });
  list("brands", d.brands, [](Json& o, const Brand& b) {
    o.Set("code", b.code);
    o.Set("name", b.name);
  });
  list("stockProducts", d.stockProducts, [](Json& o, const StockProduct& p) {
    o.Set("code", p.code);
    o.Set("tree", p.tree);
    o.Set("name", p.name);
    o.Set("unit", p.unit);
    o.Set("lastPrice", p.lastPrice);
  });
  list("negotiatedProducts", d.negotiatedProducts, [](Json& o, const NegotiatedProduct& p) {
    o.Set("code", p.code);
    o.Set("stockProduct", p.stockProduct);
    o.Set("tree", p.tree);
    o.Set("name", p.name);
    o.Set("unit", p.unit);
    o.Set("factor", p.factor);
    o.Set("preferred", p.preferred);
    o.Set("web", p.web);
    o.Set("safetyStock", p.safetyStock);
  });
  list("rules", d.rules, [](Json& o, const ChoiceRule& r) {
    o.Set("product", r.product);
    o.Set("supplier", r.supplier);
    o.Set("brand", r.brand);
    o.Set("kind", r.kind);
  });
  list("quotations", d.quotations, [](Json& o, const QuoteDoc& q) {
    o.Set("product", q.product);
    o.Set("region", q.region);
    o.Set("collection", q.collection);
    o.Set("supplier", q.supplier);
    o.Set("brand", q.brand);
    o.Set("unitPrice", q.unitPrice);
    o.Set("freightRate", q.freightRate);
    o.Set("paymentDays", q.paymentDays);
    o.Set("taxRate", q.taxRate);
    o.Set("priceList", q.priceList);
    o.Set("minValue", q.minValue);
    o.Set("minValueFlag", q.minValueFlag);
    o.Set("minQuantity", q.minQuantity);
    o.Set("minQuantityFlag", q.minQuantityFlag);
    o.Set("unit", q.unit);
  });
  list("requests", d.requests, [](Json& o, const RequestDoc& r) {
    o.Set("product", r.product);
    o.Set("region", r.region);
    o.Set("branch", r.branch);
    o.Set("date", DateText(r.date));
    o.Set("quantity", r.quantity);
  });
  return root;
}

TallyDocument ReadDocumentFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ServerError(ErrorCode::Internal, "cannot read " + path);
  std::stringstream buf;
  buf << in.rdbuf();
  Json j;
  try {
    j = Json::Parse(buf.str());
  } catch (const JsonError& e) {
    throw ServerError(path + ": " + e.what());
  }
  try {
    return DocumentFromJson(j);
  } catch (const ServerError& e) {
    throw ServerError(path + ": " + e.what());
  }
}

void WriteDocumentFile(const TallyDocument& doc, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ServerError(ErrorCode::Internal, "cannot write " + path);
  out << DocumentToJson(doc).Dump(1) << "\n";
  if (!out) throw ServerError(ErrorCode::Internal, "cannot write " + path);
}

}  // namespace apura::server
