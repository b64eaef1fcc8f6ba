#include "server/services/packets.h"

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>

#include "contract/packets.h"

namespace apura::server {

namespace {

FieldDef S(const char* name, int size) {
  return {name, FieldType::String, size, false};
}
FieldDef F(const char* name) {
  return {name, FieldType::Float, 0, false};
}
FieldDef D(const char* name) {
  return {name, FieldType::DateTime, 0, false};
}

// Per-quotation and per-request facts every item shares, worked out once.
struct QuoteTotals {
  std::vector<char> selected;
  std::vector<double> quantity;
};
QuoteTotals Totals(const TallyModel& m) {
  QuoteTotals t{std::vector<char>(m.quotes.size(), 0), std::vector<double>(m.quotes.size(), 0)};
  for (const Item& it : m.items) {
    if (!it.selected) continue;
    t.selected[it.quote] = 1;
    t.quantity[it.quote] += it.QTACOMP;
  }
  return t;
}

std::vector<int32_t> InternAll(ColumnBuilder& b, size_t col, size_t n,
                               const std::function<std::string_view(size_t)>& text) {
  std::vector<int32_t> codes(n);
  for (size_t i = 0; i < n; ++i) codes[i] = b.Intern(col, text(i));
  return codes;
}

}  // namespace

ColumnBuilder::ColumnBuilder(std::vector<FieldDef> fields, size_t rows) {
  body_.fields = std::move(fields);
  body_.rowCount = rows;
  body_.columns.resize(body_.fields.size());
  dict_.resize(body_.fields.size());
  for (size_t i = 0; i < body_.fields.size(); ++i) {
    if (body_.fields[i].type == FieldType::String) {
      body_.columns[i].codes.reserve(rows);
    } else {
      body_.columns[i].numbers.reserve(rows);
    }
  }
}

int32_t ColumnBuilder::Intern(size_t col, std::string_view text) {
  auto& dict = dict_[col];
  auto it = dict.find(std::string(text));
  if (it != dict.end()) return it->second;
  ColumnData& c = body_.columns[col];
  auto code = static_cast<int32_t>(c.DictSize());
  c.dictBytes.append(text);
  c.dictOffsets.push_back(static_cast<uint32_t>(c.dictBytes.size()));
  dict.emplace(std::string(text), code);
  return code;
}

DataPacket ColumnBuilder::Build() {
  return DataPacket::FromBody(std::move(body_));
}

namespace {

std::vector<FieldDef> Defs(std::span<const contract::PacketField> fields) {
  std::vector<FieldDef> out;
  out.reserve(fields.size());
  for (const contract::PacketField& f : fields) {
    switch (f.kind) {
      case contract::FieldKind::Text:
        out.push_back(S(f.name, f.size));
        break;
      case contract::FieldKind::Number:
        out.push_back(F(f.name));
        break;
      case contract::FieldKind::Date:
        out.push_back(D(f.name));
        break;
    }
  }
  return out;
}

}  // namespace

const std::vector<FieldDef>& ProdutoFields() {
  static const std::vector<FieldDef> f = Defs(contract::kProdutoPacket);
  return f;
}
const std::vector<FieldDef>& RegiaoFields() {
  static const std::vector<FieldDef> f = Defs(contract::kRegiaoPacket);
  return f;
}
const std::vector<FieldDef>& ProdItemFields() {
  static const std::vector<FieldDef> f = Defs(contract::kProdItemPacket);
  return f;
}
const std::vector<FieldDef>& ApurNegFields() {
  static const std::vector<FieldDef> f = Defs(contract::kApurNegPacket);
  return f;
}
const std::vector<FieldDef>& PaiItmApurPrecFields() {
  static const std::vector<FieldDef> f = Defs(contract::kPai_ItmApurPrecPacket);
  return f;
}
const std::vector<FieldDef>& ItmApurPrecFields() {
  static const std::vector<FieldDef> f = Defs(contract::kItmApurPrecPacket);
  return f;
}
const std::vector<FieldDef>& DadosFields() {
  static const std::vector<FieldDef> f = Defs(contract::kDadosPacket);
  return f;
}
const std::vector<FieldDef>& DadosItmApurPrecFields() {
  static const std::vector<FieldDef> f = Defs(contract::kDados_ItmApurPrecPacket);
  return f;
}
const std::vector<FieldDef>& ParaSupriFields() {
  static const std::vector<FieldDef> f = Defs(contract::kParaSupriPacket);
  return f;
}
const std::vector<FieldDef>& VdEfetivaAFFields() {
  static const std::vector<FieldDef> f = Defs(contract::kVd_EfetivaAFPacket);
  return f;
}
const std::vector<FieldDef>& RelInconsFields() {
  static const std::vector<FieldDef> f = Defs(contract::kRelInconsPacket);
  return f;
}

DataPacket ProdutoPacket(const TallyModel& m) {
  std::map<std::string, const ProductInfo*> stock;  // by stock product code
  for (const ProductInfo& p : m.products) stock.emplace(p.CDPRODESTO, &p);
  ColumnBuilder b(ProdutoFields(), stock.size());
  for (const auto& [code, p] : stock) {
    b.Text(0, code);
    b.Text(1, p->stockTree);
    b.Text(2, p->stockName);
  }
  return b.Build();
}

DataPacket RegiaoPacket(const TallyModel& m) {
  std::map<std::string, std::string> regionName;
  for (const Region& r : m.regions) regionName[r.code] = r.name;
  std::set<std::pair<std::string, std::string>> pairs;  // stock product, region
  for (const QuoteLine& q : m.quotes)
    pairs.insert({m.products[q.product].CDPRODESTO, q.CDREGITMAP});
  std::map<std::string, const ProductInfo*> byCode;
  for (const ProductInfo& p : m.products) byCode[p.CDPRODITMAP] = &p;
  for (const RequestLine& r : m.requests) {
    auto it = byCode.find(r.CDPRODITMAP);
    if (it != byCode.end()) pairs.insert({it->second->CDPRODESTO, r.CDREGITMAP});
  }
  ColumnBuilder b(RegiaoFields(), pairs.size());
  for (const auto& [stock, region] : pairs) {
    b.Text(0, region);
    b.Text(1, regionName[region]);
    b.Text(2, stock);
  }
  return b.Build();
}

DataPacket ProdItemPacket(const TallyModel& m) {
  std::map<std::pair<std::string, std::string>, std::pair<int, bool>> rows;  // -> product, sel
  for (const QuoteLine& q : m.quotes)
    rows.insert({{q.CDPRODITMAP, q.CDREGITMAP}, {q.product, false}});
  for (const Item& it : m.items) {
    if (!it.selected) continue;
    const QuoteLine& q = m.quotes[it.quote];
    rows[{q.CDPRODITMAP, q.CDREGITMAP}].second = true;
  }
  ColumnBuilder b(ProdItemFields(), rows.size());
  for (const auto& [key, v] : rows) {
    const ProductInfo& p = m.products[v.first];
    b.Text(0, p.CDPRODESTO);
    b.Text(1, p.CDPRODITMAP);
    b.Text(2, p.CDARVPROD);
    b.Text(3, p.NMPRODUTO);
    b.Text(4, v.second ? "S" : "N");
    b.Text(5, key.second);
    b.Number(6, p.QTESTOSEGU);
    b.Number(7, p.QTESTOSEGU * p.VRFATOCONV);
  }
  return b.Build();
}

DataPacket ApurNegPacket(const TallyModel& m) {
  QuoteTotals t = Totals(m);
  ColumnBuilder b(ApurNegFields(), m.quotes.size());
  for (size_t i = 0; i < m.quotes.size(); ++i) {
    const QuoteLine& q = m.quotes[i];
    const ProductInfo& p = m.products[q.product];
    double factor = p.VRFATOCONV > 0 ? p.VRFATOCONV : 1;
    b.Number(0, p.VRFATOCONV);
    b.Number(1, q.VRPRECUNIAP / factor);
    b.Text(2, q.CDFORNITMAP);
    b.Text(3, q.NMFANTFORN);
    b.Text(4, m.header.number);
    b.Text(5, m.header.centre);
    b.Text(6, q.NRCOLEITMAP);
    b.Text(7, q.CDMARCITMAP);
    b.Text(8, q.NMMARCA);
    b.Number(9, q.VRPRECUNIAP);
    b.Number(10, q.PRECOECON);
    b.Number(11, t.quantity[i]);
    b.Text(12, t.selected[i] ? "S" : "N");
    b.Text(13, q.CDREGITMAP);
    b.Text(14, q.CDPRODITMAP);
    b.Text(15, p.CDARVPROD);
    b.Number(16, q.PRECOECONPI);
    b.Number(17, q.QTMINAUTFOT);
    b.Text(18, q.IDQTMINFORN);
    b.Number(19, q.VRMINAUTFOR);
    b.Text(20, q.IDVRMINFORN);
    b.Text(21, q.SGUNIDADE);
  }
  return b.Build();
}

DataPacket PaiItmApurPrecPacket(const TallyModel& m) {
  ColumnBuilder b(PaiItmApurPrecFields(), m.requests.size());
  for (const RequestLine& r : m.requests) {
    b.Text(0, r.CDFILIAP);
    b.Text(1, r.NMFILIAL);
    b.Number(2, r.DTENTRAPUT);
    b.Number(3, r.QTSOLACOMP);
    b.Text(4, m.header.centre);
    b.Text(5, m.header.number);
    b.Text(6, r.CDPRODITMAP);
    b.Text(7, r.CDREGITMAP);
  }
  return b.Build();
}

namespace {

// The two delivery packets list the same rows; their columns come from the
// quotation line, the request line or the item itself. Codes of the quotation's
// and request's texts are interned once per line, so a row costs a few copies.
enum class Src { Quote, Request, Item, Const };

DataPacket DeliveryPacket(const TallyModel& m, const std::vector<FieldDef>& fields) {
  const size_t n = m.items.size();
  ColumnBuilder b(fields, n);
  int32_t codeS = -1, codeN = -1;
  std::vector<std::vector<int32_t>> perLine(fields.size());
  std::vector<Src> src(fields.size(), Src::Item);
  const size_t nq = m.quotes.size(), nr = m.requests.size();
  for (size_t c = 0; c < fields.size(); ++c) {
    const std::string& f = fields[c].name;
    auto quote = [&](auto get) {
      src[c] = Src::Quote;
      perLine[c] =
          InternAll(b, c, nq, [&](size_t i) -> std::string_view { return get(m.quotes[i]); });
    };
    auto request = [&](auto get) {
      src[c] = Src::Request;
      perLine[c] =
          InternAll(b, c, nr, [&](size_t i) -> std::string_view { return get(m.requests[i]); });
    };
    if (f == "NMFANTFORN")
      quote([](const QuoteLine& q) -> std::string_view { return q.NMFANTFORN; });
    else if (f == "NMMARCA")
      quote([](const QuoteLine& q) -> std::string_view { return q.NMMARCA; });
    else if (f == "NRCOLEITMAP")
      quote([](const QuoteLine& q) -> std::string_view { return q.NRCOLEITMAP; });
    else if (f == "CDPRODITMAP")
      quote([](const QuoteLine& q) -> std::string_view { return q.CDPRODITMAP; });
    else if (f == "CDFORNITMAP")
      quote([](const QuoteLine& q) -> std::string_view { return q.CDFORNITMAP; });
    else if (f == "CDMARCITMAP")
      quote([](const QuoteLine& q) -> std::string_view { return q.CDMARCITMAP; });
    else if (f == "CDREGITMAP")
      quote([](const QuoteLine& q) -> std::string_view { return q.CDREGITMAP; });
    else if (f == "CDPRODESTO")
      quote(
          [&](const QuoteLine& q) -> std::string_view { return m.products[q.product].CDPRODESTO; });
    else if (f == "CDFILIAP")
      request([](const RequestLine& r) -> std::string_view { return r.CDFILIAP; });
    else if (f == "CDCENTITMAP" || f == "NRSEQITMAP") {
      src[c] = Src::Const;
      perLine[c] = {b.Intern(c, f == "CDCENTITMAP" ? m.header.centre : m.header.number)};
    } else if (f == "IDITMSELAPUR") {
      codeN = b.Intern(c, "N");
      codeS = b.Intern(c, "S");
    }
  }
  // The items are wide; the column loops below read these compact copies so that
  // a half-million-row tally stays in cache.
  std::vector<int32_t> qi(n), ri(n), reason(n), just(n);
  std::vector<double> qty(n);
  std::vector<char> sel(n);
  int cReason = -1, cJust = -1;
  for (size_t c = 0; c < fields.size(); ++c) {
    if (fields[c].name == "IDMOTIVPRESC") cReason = static_cast<int>(c);
    if (fields[c].name == "TXOBESCMANAP") cJust = static_cast<int>(c);
  }
  const std::string* lastReason = nullptr;
  int32_t reasonCode = -1, emptyJust = cJust >= 0 ? b.Intern(cJust, "") : -1;
  for (size_t i = 0; i < n; ++i) {
    const Item& it = m.items[i];
    qi[i] = it.quote;
    ri[i] = it.request;
    sel[i] = it.selected;
    qty[i] = it.QTACOMP;
    if (cReason >= 0) {
      // Rows of one quotation line share their reason: intern once per run.
      if (!lastReason || *lastReason != it.IDMOTIVPRESC) {
        lastReason = &it.IDMOTIVPRESC;
        reasonCode = b.Intern(cReason, it.IDMOTIVPRESC);
      }
      reason[i] = reasonCode;
    }
    if (cJust >= 0)
      just[i] = it.TXOBESCMANAP.empty() ? emptyJust : b.Intern(cJust, it.TXOBESCMANAP);
  }
  auto perQuote = [&](size_t c, const std::vector<int32_t>& codes) {
    for (size_t i = 0; i < n; ++i) b.Code(c, codes[qi[i]]);
  };
  auto quoteNumber = [&](size_t c, double QuoteLine::*field) {
    std::vector<double> v(nq);
    for (size_t k = 0; k < nq; ++k) v[k] = m.quotes[k].*field;
    for (size_t i = 0; i < n; ++i) b.Number(c, v[qi[i]]);
  };
  auto requestNumber = [&](size_t c, double RequestLine::*field) {
    std::vector<double> v(nr);
    for (size_t k = 0; k < nr; ++k) v[k] = m.requests[k].*field;
    for (size_t i = 0; i < n; ++i) b.Number(c, v[ri[i]]);
  };
  for (size_t c = 0; c < fields.size(); ++c) {
    const std::string& f = fields[c].name;
    switch (src[c]) {
      case Src::Quote:
        perQuote(c, perLine[c]);
        break;
      case Src::Request: {
        const auto& codes = perLine[c];
        for (size_t i = 0; i < n; ++i) b.Code(c, codes[ri[i]]);
        break;
      }
      case Src::Const:
        for (size_t i = 0; i < n; ++i) b.Code(c, perLine[c][0]);
        break;
      case Src::Item:
        if (f == "QTACOMP") {
          for (size_t i = 0; i < n; ++i) b.Number(c, qty[i]);
        } else if (f == "QTSOLACOMP") {
          requestNumber(c, &RequestLine::QTSOLACOMP);
        } else if (f == "DTENTRAPUT") {
          requestNumber(c, &RequestLine::DTENTRAPUT);
        } else if (f == "VRPRECUNIAP") {
          quoteNumber(c, &QuoteLine::VRPRECUNIAP);
        } else if (f == "VRPRECECOAP") {
          quoteNumber(c, &QuoteLine::PRECOECON);
        } else if (f == "VRPRECONPIAP") {
          quoteNumber(c, &QuoteLine::PRECOECONPI);
        } else if (f == "IDITMSELAPUR") {
          for (size_t i = 0; i < n; ++i) b.Code(c, sel[i] ? codeS : codeN);
        } else if (f == "IDMOTIVPRESC") {
          for (size_t i = 0; i < n; ++i) b.Code(c, reason[i]);
        } else if (f == "TXOBESCMANAP") {
          for (size_t i = 0; i < n; ++i) b.Code(c, just[i]);
        }
        break;
    }
  }
  return b.Build();
}

}  // namespace

DataPacket ItmApurPrecPacket(const TallyModel& m) {
  return DeliveryPacket(m, ItmApurPrecFields());
}
DataPacket DadosPacket(const TallyModel& m) {
  return DeliveryPacket(m, DadosFields());
}
DataPacket DadosItmApurPrecPacket(const TallyModel& m) {
  return DeliveryPacket(m, DadosItmApurPrecFields());
}

namespace {

// A text column of a copied packet whose rows are being rewritten: codes of
// texts, adding to its dictionary those it lacks.
class TextColumn {
 public:
  explicit TextColumn(ColumnData& c) : c_(c) {}
  void Set(size_t row, std::string_view text) { c_.codes[row] = Code(text); }

 private:
  int32_t Code(std::string_view text) {
    if (index_.empty()) {
      for (size_t k = 0; k < c_.DictSize(); ++k)
        index_.emplace(std::string(c_.DictEntry(static_cast<int32_t>(k))), static_cast<int32_t>(k));
    }
    auto [it, added] = index_.emplace(std::string(text), static_cast<int32_t>(c_.DictSize()));
    if (added) {
      c_.dictBytes.append(text);
      c_.dictOffsets.push_back(static_cast<uint32_t>(c_.dictBytes.size()));
    }
    return it->second;
  }
  ColumnData& c_;
  std::unordered_map<std::string, int32_t> index_;
};

}  // namespace

DataPacket UpdatedPacket(const DataPacket& before, const SharedList<QuoteLine>& beforeQuotes,
                         bool sameChoices, const TallyModel& m) {
  // Bitwise, so that a NaN compares equal to itself.
  auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
  std::vector<char> repriced(m.quotes.size(), 0);
  bool anyPrice = false;
  for (size_t q = 0; q < m.quotes.size(); ++q) {
    const QuoteLine &now = m.quotes[q], &then = beforeQuotes[q];
    repriced[q] = !same(now.VRPRECUNIAP, then.VRPRECUNIAP) ||
                  !same(now.PRECOECON, then.PRECOECON) || !same(now.PRECOECONPI, then.PRECOECONPI);
    anyPrice = anyPrice || repriced[q];
  }
  auto col = [&](const char* name) { return before.FieldIndex(name); };
  const int cQty = col("QTACOMP"), cSel = col("IDITMSELAPUR"), cReason = col("IDMOTIVPRESC"),
            cJust = col("TXOBESCMANAP");
  // The rows whose choice differs, found on the packet itself.
  const DataPacket::Body& was = before.body();
  auto text = [&](int c, size_t i, std::string_view t) {
    const ColumnData& d = was.columns[static_cast<size_t>(c)];
    return d.codes[i] >= 0 && d.DictEntry(d.codes[i]) == t;
  };
  std::vector<size_t> rechosen;
  for (size_t i = 0; i < m.items.size() && !sameChoices; ++i) {
    const Item& it = m.items[i];
    if ((cQty >= 0 && !same(was.columns[static_cast<size_t>(cQty)].numbers[i], it.QTACOMP)) ||
        (cSel >= 0 && !text(cSel, i, it.selected ? "S" : "N")) ||
        (cReason >= 0 && !text(cReason, i, it.IDMOTIVPRESC)) ||
        (cJust >= 0 && !text(cJust, i, it.TXOBESCMANAP)))
      rechosen.push_back(i);
  }
  if (!anyPrice && rechosen.empty()) return before;

  DataPacket::Body b = was;
  if (anyPrice) {
    const std::pair<const char*, double QuoteLine::*> prices[] = {
        {"VRPRECUNIAP", &QuoteLine::VRPRECUNIAP},
        {"VRPRECECOAP", &QuoteLine::PRECOECON},
        {"VRPRECONPIAP", &QuoteLine::PRECOECONPI}};
    std::vector<std::pair<size_t, double QuoteLine::*>> cols;
    for (const auto& [name, field] : prices) {
      int c = before.FieldIndex(name);
      if (c >= 0) cols.push_back({static_cast<size_t>(c), field});
    }
    for (size_t i = 0; i < m.items.size(); ++i) {
      const auto q = static_cast<size_t>(m.items[i].quote);
      if (!repriced[q]) continue;
      for (const auto& [c, field] : cols) b.columns[c].numbers[i] = m.quotes[q].*field;
    }
  }
  if (!rechosen.empty()) {
    std::optional<TextColumn> sel, reason, just;
    if (cSel >= 0) sel.emplace(b.columns[static_cast<size_t>(cSel)]);
    if (cReason >= 0) reason.emplace(b.columns[static_cast<size_t>(cReason)]);
    if (cJust >= 0) just.emplace(b.columns[static_cast<size_t>(cJust)]);
    for (size_t i : rechosen) {
      const Item& it = m.items[i];
      if (cQty >= 0) b.columns[static_cast<size_t>(cQty)].numbers[i] = it.QTACOMP;
      if (sel) sel->Set(i, it.selected ? "S" : "N");
      if (reason) reason->Set(i, it.IDMOTIVPRESC);
      if (just) just->Set(i, it.TXOBESCMANAP);
    }
  }
  return DataPacket::FromBody(std::move(b));
}

DataPacket ParaSupriPacket(const CentreParams& c) {
  ColumnBuilder b(ParaSupriFields(), 1);
  b.Text(0, c.IDTIPOAPUR);
  b.Text(1, c.IDBLOQUEAAF);
  b.Text(2, c.IDCONSPRSOL);
  b.Text(3, c.IDEXJUSTESCM);
  return b.Build();
}

}  // namespace apura::server
