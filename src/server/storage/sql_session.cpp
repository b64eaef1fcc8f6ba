#include "server/storage/sql_session.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

#include "framework/names.h"
#include "server/errors.h"
#include "server/services/pricing.h"
#include "server/storage/schema.h"
#include "server/storage/storage_wait.h"

namespace apura::server {

namespace {

std::string_view Flag(bool b) {
  return b ? "S" : "N";
}

// Row ids of one table to positions in a loaded vector. A tally's rows are
// stored together, so their ids mostly form one dense range.
class IdIndex {
 public:
  void Add(int64_t id, int32_t pos) { pairs_.emplace_back(id, pos); }
  void Seal() {
    if (pairs_.empty()) return;
    int64_t lo = pairs_.front().first, hi = lo;
    for (auto& [id, pos] : pairs_) lo = std::min(lo, id), hi = std::max(hi, id);
    if (hi - lo < 4 * static_cast<int64_t>(pairs_.size()) + 1024) {
      base_ = lo;
      dense_.assign(static_cast<size_t>(hi - lo + 1), -1);
      for (auto& [id, pos] : pairs_) dense_[static_cast<size_t>(id - lo)] = pos;
    } else {
      for (auto& [id, pos] : pairs_) sparse_.emplace(id, pos);
    }
  }
  int32_t At(int64_t id) const {
    if (!dense_.empty()) {
      int64_t k = id - base_;
      if (k >= 0 && k < static_cast<int64_t>(dense_.size()) && dense_[static_cast<size_t>(k)] >= 0)
        return dense_[static_cast<size_t>(k)];
    } else if (auto it = sparse_.find(id); it != sparse_.end()) {
      return it->second;
    }
    throw StorageFailure("stored tally refers to a missing row " + std::to_string(id));
  }

 private:
  std::vector<std::pair<int64_t, int32_t>> pairs_;
  int64_t base_ = 0;
  std::vector<int32_t> dense_;
  std::unordered_map<int64_t, int32_t> sparse_;
};

// The declared columns of a table but its row id, in order.
std::vector<std::string_view> Stored(std::string_view table) {
  std::vector<std::string_view> out;
  for (const schema::Column& c : schema::TableNamed(table).columns)
    if (c.type != schema::Type::RowId) out.push_back(c.name);
  return out;
}

}  // namespace

std::optional<CentreParams> SqlSession::Centre(const std::string& code) {
  auto r = Query(
      "SELECT NMCENTCMP, IDTIPOAPUR, IDBLOQUEAAF, IDCONSPRSOL, IDEXJUSTESCM, TXFINMENSAL, "
      "VRORCAMENTO, DSDIRAFWEB FROM centro WHERE CDCENTCMP = ?",
      {code});
  if (!r->Next()) return std::nullopt;
  CentreParams c;
  c.code = code;
  c.name = r->Str(0);
  c.IDTIPOAPUR = r->Str(1);
  c.IDBLOQUEAAF = r->Str(2);
  c.IDCONSPRSOL = r->Str(3);
  c.IDEXJUSTESCM = r->Str(4);
  c.monthlyRate = r->Double(5);
  if (!r->IsNull(6)) c.budget = r->Double(6);
  c.afDirectory = r->Str(7);
  return c;
}

// In a write on a database that locks rows, the row lock makes writes to one
// tally take turns across servers: the second effectuation reads the AFs the
// first one committed.
std::optional<TallyHeader> SqlSession::Tally(const std::string& number) {
  return ReadTally(number, LocksTallyRow());
}

std::optional<TallyHeader> SqlSession::PeekTally(const std::string& number) {
  return ReadTally(number, false);
}

std::optional<TallyHeader> SqlSession::ReadTally(const std::string& number, bool lock) {
  std::string sql =
      "SELECT CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL, IDEFETIVADA, NRVERSAO, "
      "NRVERSAOESCOLHA FROM apuracao WHERE NRSEQAPUR = ?";
  if (lock) sql += dialect_.lockRows;
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<SqlRows> r;
  try {
    r = Query(sql, {number});
  } catch (const StorageBusy&) {
    if (lock) WriterWaits().Add(std::chrono::steady_clock::now() - start, false);
    throw;
  }
  if (lock) WriterWaits().Add(std::chrono::steady_clock::now() - start, true);
  if (!r->Next()) return std::nullopt;
  TallyHeader h;
  h.number = number;
  h.centre = r->Str(0);
  h.buyer = r->Str(1);
  h.start = DateTime{r->Double(2)};
  h.end = DateTime{r->Double(3)};
  h.effectuated = r->Text(4) == "S";
  h.version = r->Int(5);
  h.choiceVersion = r->Int(6);
  return h;
}

// A tally's delivery rows as stored, their quotation and request lines by id.
struct SqlSession::StoredItems {
  std::vector<Item> items;
  std::vector<int64_t> quoteIds, requestIds;
};

SqlSession::StoredItems SqlSession::ReadItems(const std::string& nr) {
  StoredItems s;
  int64_t firstItem = 0, lastItem = -1;
  {
    auto r = Query(dialect_.itemIdRange, {nr});
    if (r->Next() && !r->IsNull(0)) {
      firstItem = r->Int(0);
      lastItem = r->Int(1);
    }
  }
  // The range is the count when the tally's rows were stored together, as an
  // import stores them. Capacity beyond what is filled is never touched; a
  // range spread over other tallies' rows only reserves up to a bound.
  const size_t expected = static_cast<size_t>(std::min<int64_t>(lastItem - firstItem + 1, 1 << 22));
  s.items.reserve(expected);
  s.quoteIds.reserve(expected);
  s.requestIds.reserve(expected);
  // Read by their id range in table order.
  auto r = Query(
      "SELECT ID, ID_COTACAO, ID_SOLICITACAO, IDITMSELAPUR, QTACOMP, IDMOTIVPRESC, "
      "TXOBESCMANAP FROM item_apuracao WHERE ID BETWEEN ? AND ? AND " +
          std::string(dialect_.notIndexed) + "NRSEQAPUR = ? ORDER BY ID",
      {firstItem, lastItem, nr});
  while (r->Next()) {
    Item it;
    it.id = r->Int(0);
    s.quoteIds.push_back(r->Int(1));
    s.requestIds.push_back(r->Int(2));
    it.selected = r->Text(3) == "S";
    it.QTACOMP = r->Double(4);
    it.IDMOTIVPRESC = r->Str(5);
    it.TXOBESCMANAP = r->Str(6);
    s.items.push_back(std::move(it));
  }
  return s;
}

// On this (sibling) session, in a read of its own. What it read belongs to
// the caller's transaction only if it sees the same version of the tally:
// every write of delivery rows moves the version in its transaction, and no
// tally is deleted. Otherwise, or on any failure, the caller reads them itself.
std::optional<SqlSession::StoredItems> SqlSession::ReadItemsAside(const TallyHeader& header) {
  try {
    Begin(false);
    std::optional<TallyHeader> now = PeekTally(header.number);
    if (!now || now->version != header.version || now->effectuated != header.effectuated) {
      Rollback();
      return std::nullopt;
    }
    StoredItems s = ReadItems(header.number);
    Commit();
    return s;
  } catch (...) {
    return std::nullopt;
  }
}

TallyModel SqlSession::LoadTally(const TallyHeader& header) {
  TallyModel m;
  m.header = header;
  if (auto c = Centre(header.centre)) m.centre = *c;
  const std::string_view nr = header.number;
  const std::string byBytes(dialect_.byteOrder);
  // The delivery rows are most of a large tally: a second connection reads
  // them while this one reads the rest.
  std::future<std::optional<StoredItems>> aside;
  if (std::unique_ptr<SqlSession> sibling = ReadSibling()) {
    try {
      aside = std::async(std::launch::async, [sibling = std::move(sibling), &header] {
        return sibling->ReadItemsAside(header);
      });
    } catch (const std::system_error&) {
      // No thread to be had: this connection reads them.
    }
  }

  std::unordered_map<std::string, int> productIndex;
  {
    auto r = Query(
        "SELECT n.CDPRODITMAP, n.CDPRODESTO, n.CDARVPROD, n.NMPRODUTO, n.SGUNIDADE, "
        "e.CDARVPROD, e.NMPRODUTO, n.VRFATOCONV, n.QTESTOSEGU, e.VRULTPRECO, n.IDPRODPREF, "
        "n.IDPRODWEB FROM produto_negociado n JOIN produto_estoque e ON e.CDPRODUTO = "
        "n.CDPRODESTO WHERE n.CDPRODITMAP IN (SELECT CDPRODITMAP FROM cotacao WHERE NRSEQAPUR = ? "
        "UNION SELECT CDPRODITMAP FROM solicitacao WHERE NRSEQAPUR = ?) ORDER BY n.CDPRODITMAP" +
            byBytes,
        {nr, nr});
    while (r->Next()) {
      ProductInfo p;
      p.CDPRODITMAP = r->Str(0);
      p.CDPRODESTO = r->Str(1);
      p.CDARVPROD = r->Str(2);
      p.NMPRODUTO = r->Str(3);
      p.SGUNIDADE = r->Str(4);
      p.stockTree = r->Str(5);
      p.stockName = r->Str(6);
      p.VRFATOCONV = r->Double(7);
      p.QTESTOSEGU = r->Double(8);
      p.stockLastPrice = r->Double(9);
      p.preferred = r->Text(10) == "S";
      p.web = r->Text(11) == "S";
      productIndex[p.CDPRODITMAP] = static_cast<int>(m.products.size());
      m.products.push_back(std::move(p));
    }
  }
  {
    auto r = Query(
        "SELECT CDREGIAO, NMREGIAO FROM regiao WHERE CDREGIAO IN (SELECT CDREGITMAP FROM cotacao "
        "WHERE NRSEQAPUR = ? UNION SELECT CDREGITMAP FROM solicitacao WHERE NRSEQAPUR = ?) "
        "ORDER BY CDREGIAO" +
            byBytes,
        {nr, nr});
    while (r->Next()) m.regions.push_back({r->Str(0), r->Str(1)});
  }
  {
    auto r = Query(
        "SELECT CDPRODITMAP, CDFORNECED, CDMARCA, IDTIPOREGRA FROM regra_escolha "
        "WHERE NRSEQAPUR = ? ORDER BY " +
            std::string(dialect_.insertionOrder),
        {nr});
    while (r->Next()) m.rules.push_back({r->Str(0), r->Str(1), r->Str(2), r->Str(3)});
  }
  IdIndex quoteIndex, requestIndex;
  {
    auto r = Query(
        "SELECT c.ID, c.CDPRODITMAP, c.CDREGITMAP, c.NRCOLEITMAP, c.CDFORNITMAP, f.NMFANTFORN, "
        "c.CDMARCITMAP, m.NMMARCA, c.SGUNIDADE, c.VRPRECUNIAP, c.PRECOECON, c.PRECOECONPI, "
        "c.TXFRETEENC, c.NRPRAZOPGTO, c.TXIMPRECUP, c.IDLISTAPREC, c.QTMINAUTFOT, c.VRMINAUTFOR, "
        "c.IDQTMINFORN, c.IDVRMINFORN FROM cotacao c JOIN fornecedor f ON f.CDFORNECED = "
        "c.CDFORNITMAP JOIN marca m ON m.CDMARCA = c.CDMARCITMAP WHERE c.NRSEQAPUR = ? "
        "ORDER BY c.ID",
        {nr});
    while (r->Next()) {
      QuoteLine q;
      q.id = r->Int(0);
      q.CDPRODITMAP = r->Str(1);
      q.CDREGITMAP = r->Str(2);
      q.NRCOLEITMAP = r->Str(3);
      q.CDFORNITMAP = r->Str(4);
      q.NMFANTFORN = r->Str(5);
      q.CDMARCITMAP = r->Str(6);
      q.NMMARCA = r->Str(7);
      q.SGUNIDADE = r->Str(8);
      q.VRPRECUNIAP = r->Double(9);
      q.PRECOECON = r->Double(10);
      q.PRECOECONPI = r->Double(11);
      q.freightRate = r->Double(12);
      q.paymentDays = r->Double(13);
      q.taxRate = r->Double(14);
      q.priceList = r->Text(15) == "S";
      q.QTMINAUTFOT = r->Double(16);
      q.VRMINAUTFOR = r->Double(17);
      q.IDQTMINFORN = r->Str(18);
      q.IDVRMINFORN = r->Str(19);
      q.product = productIndex.at(q.CDPRODITMAP);
      quoteIndex.Add(q.id, static_cast<int32_t>(m.quotes.size()));
      m.quotes.push_back(std::move(q));
    }
  }
  {
    auto r = Query(
        "SELECT r.ID, r.CDPRODITMAP, r.CDREGITMAP, r.CDFILIAP, f.NMFILIAL, r.DTENTRAPUT, "
        "r.QTSOLACOMP FROM solicitacao r JOIN filial f ON f.CDFILIAL = r.CDFILIAP "
        "WHERE r.NRSEQAPUR = ? ORDER BY r.ID",
        {nr});
    while (r->Next()) {
      RequestLine q;
      q.id = r->Int(0);
      q.CDPRODITMAP = r->Str(1);
      q.CDREGITMAP = r->Str(2);
      q.CDFILIAP = r->Str(3);
      q.NMFILIAL = r->Str(4);
      q.DTENTRAPUT = r->Double(5);
      q.QTSOLACOMP = r->Double(6);
      requestIndex.Add(q.id, static_cast<int32_t>(m.requests.size()));
      m.requests.push_back(std::move(q));
    }
  }
  quoteIndex.Seal();
  requestIndex.Seal();
  std::optional<StoredItems> stored;
  if (aside.valid()) stored = aside.get();
  if (!stored) stored = ReadItems(header.number);
  std::vector<Item>& items = m.items.Edit();
  items = std::move(stored->items);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].quote = quoteIndex.At(stored->quoteIds[i]);
    items[i].request = requestIndex.At(stored->requestIds[i]);
  }
  return m;
}

void SqlSession::UpdateItems(const std::vector<ItemUpdate>& updates) {
  for (const ItemUpdate& u : updates) {
    Exec(
        "UPDATE item_apuracao SET IDITMSELAPUR = ?, QTACOMP = ?, IDMOTIVPRESC = ?, "
        "TXOBESCMANAP = ? WHERE ID = ?",
        {Flag(u.selected), u.QTACOMP, u.IDMOTIVPRESC, u.TXOBESCMANAP, u.id});
  }
}

void SqlSession::UpdateQuotePrices(int64_t quoteId, double unitPrice, double econ, double econPi) {
  Exec("UPDATE cotacao SET VRPRECUNIAP = ?, PRECOECON = ?, PRECOECONPI = ? WHERE ID = ?",
       {unitPrice, econ, econPi, quoteId});
}

void SqlSession::SetEffectuated(const std::string& tally, bool effectuated, double date) {
  Exec("UPDATE apuracao SET IDEFETIVADA = ?, DTEFETIVACAO = ? WHERE NRSEQAPUR = ?",
       {Flag(effectuated), effectuated ? SqlParam(date) : SqlParam(), tally});
}

void SqlSession::BumpVersion(const std::string& tally, Change what) {
  Exec(what == Change::Choices
           ? "UPDATE apuracao SET NRVERSAO = NRVERSAO + 1, NRVERSAOESCOLHA = NRVERSAOESCOLHA + 1 "
             "WHERE NRSEQAPUR = ?"
           : "UPDATE apuracao SET NRVERSAO = NRVERSAO + 1 WHERE NRSEQAPUR = ?",
       {tally});
}

// `n` consecutive AF numbers, taken in one statement: on a database with one
// writer at a time the counter's row is no bottleneck.
std::vector<int64_t> SqlSession::TakeAfNumbers(int64_t n) {
  auto r = Query(
      "INSERT INTO sequencia (NMSEQUENCIA, VRATUAL) VALUES ('AF', ?) ON CONFLICT (NMSEQUENCIA) "
      "DO UPDATE SET VRATUAL = sequencia.VRATUAL + excluded.VRATUAL RETURNING VRATUAL",
      {n});
  if (!r->Next()) throw StorageFailure("no AF number returned");
  const int64_t last = r->Int(0);
  while (r->Next()) {
  }
  std::vector<int64_t> numbers(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) numbers[static_cast<size_t>(i)] = last - n + 1 + i;
  return numbers;
}

void SqlSession::InsertAfs(std::vector<AfRecord>& afs) {
  if (afs.empty()) return;
  const std::vector<int64_t> numbers = TakeAfNumbers(static_cast<int64_t>(afs.size()));
  if (numbers.size() != afs.size()) throw std::runtime_error("too few AF numbers taken");
  std::vector<const AfRecord*> all;
  all.reserve(afs.size());
  for (size_t i = 0; i < afs.size(); ++i) {
    afs[i].number = std::to_string(numbers[i]);
    all.push_back(&afs[i]);
  }
  StoreAfs(all);
}

// An effectuation's AFs and their lines, each table written in one go.
void SqlSession::StoreAfs(const std::vector<const AfRecord*>& afs) {
  {
    auto w = Writer("autorizacao", Stored("autorizacao"));
    for (const AfRecord* af : afs) {
      w->Row({af->number, af->tally, af->centre, af->destBranch, af->launchBranch, af->supplier,
              af->buyer, af->date, af->total, af->quantity, af->status, Flag(af->inconsistent),
              af->error, Flag(af->web)});
    }
    w->Finish();
  }
  auto w = Writer("autorizacao_item", Stored("autorizacao_item"));
  for (const AfRecord* af : afs) {
    int64_t n = 0;
    for (const AfLine& l : af->lines) {
      w->Row({af->number, ++n, l.item, l.product, l.brand, l.collection, l.date, l.quantity,
              l.unitPrice});
    }
  }
  w->Finish();
}

int SqlSession::DeleteAfs(const std::string& tally, const std::string& branch) {
  Exec(
      "DELETE FROM autorizacao_item WHERE NRAUTOFORN IN (SELECT NRAUTOFORN FROM autorizacao "
      "WHERE NRSEQAPUR = ? AND CDFILLANC = ?)",
      {tally, branch});
  return static_cast<int>(
      Exec("DELETE FROM autorizacao WHERE NRSEQAPUR = ? AND CDFILLANC = ?", {tally, branch}));
}

bool SqlSession::HasAfs(const std::string& tally) {
  return Query("SELECT 1 FROM autorizacao WHERE NRSEQAPUR = ? LIMIT 1", {tally})->Next();
}

std::vector<AfRecord> SqlSession::ReadAfs(const std::string& tally, bool whole) {
  std::vector<AfRecord> out;
  std::unordered_map<std::string, size_t> at;
  {
    auto h = Query(
        "SELECT NRAUTOFORN, CDCENTCMP, CDFILDEST, CDFILLANC, CDFORNECED, CDCOMPRADOR, "
        "DTAUTOFORN, VRTOTALAF, QTTOTALAF, IDSITUATUAAF, IDERRO, DSERRO, IDAFPRODWEB "
        "FROM autorizacao WHERE NRSEQAPUR = ? ORDER BY CAST(NRAUTOFORN AS BIGINT)",
        {tally});
    while (h->Next()) {
      AfRecord af;
      af.number = h->Str(0);
      af.tally = tally;
      af.centre = h->Str(1);
      af.destBranch = h->Str(2);
      af.launchBranch = h->Str(3);
      af.supplier = h->Str(4);
      af.buyer = h->Str(5);
      af.date = h->Double(6);
      af.total = h->Double(7);
      af.quantity = h->Double(8);
      af.status = h->Str(9);
      af.inconsistent = h->Text(10) == "S";
      af.error = h->Str(11);
      af.web = h->Text(12) == "S";
      at[af.number] = out.size();
      out.push_back(std::move(af));
    }
  }
  if (out.empty()) return out;
  auto l = Query(whole ? "SELECT l.NRAUTOFORN, l.ID_ITEM, l.CDPRODITMAP, l.CDMARCA, "
                         "l.NRCOLEITMAP, l.DTENTRAPUT, l.QTACOMP, l.VRPRECUNIAP "
                         "FROM autorizacao_item l JOIN autorizacao a ON a.NRAUTOFORN = "
                         "l.NRAUTOFORN WHERE a.NRSEQAPUR = ? ORDER BY l.NRAUTOFORN, l.NRITEM"
                       : "SELECT l.NRAUTOFORN, l.ID_ITEM FROM autorizacao_item l "
                         "JOIN autorizacao a ON a.NRAUTOFORN = l.NRAUTOFORN "
                         "WHERE a.NRSEQAPUR = ?",
                 {tally});
  while (l->Next()) {
    auto it = at.find(std::string(l->Text(0)));
    if (it == at.end()) continue;
    if (whole)
      out[it->second].lines.push_back(
          {l->Int(1), l->Str(2), l->Str(3), l->Str(4), l->Double(5), l->Double(6), l->Double(7)});
    else
      out[it->second].lines.push_back({l->Int(1), {}, {}, {}, 0, 0, 0});
  }
  return out;
}

void SqlSession::Upsert(std::string_view table, const std::vector<SqlParam>& values) {
  // Made from the table's declaration: every column set but the key.
  const schema::Table& t = schema::TableNamed(table);
  std::string sql = "INSERT INTO " + std::string(t.name) + " (";
  std::string marks, set;
  for (const schema::Column& c : t.columns) {
    if (!marks.empty()) sql += ", ", marks += ", ";
    sql += c.name;
    marks += '?';
    if (std::find(t.primaryKey.begin(), t.primaryKey.end(), c.name) != t.primaryKey.end()) continue;
    if (!set.empty()) set += ", ";
    set += std::string(c.name) + " = excluded." + std::string(c.name);
  }
  sql += ") VALUES (" + marks + ") ON CONFLICT (";
  for (size_t i = 0; i < t.primaryKey.size(); ++i)
    sql += (i ? ", " : "") + std::string(t.primaryKey[i]);
  sql += ") DO UPDATE SET " + set;
  Exec(sql, SqlParams(values));
}

// Row ids come from the database; the tally is new, so its rows read back in
// id order are the rows in the order they were written.
std::vector<int64_t> SqlSession::IdsOf(std::string_view table, const std::string& tally) {
  std::vector<int64_t> ids;
  auto r =
      Query("SELECT ID FROM " + std::string(table) + " WHERE NRSEQAPUR = ? ORDER BY ID", {tally});
  while (r->Next()) ids.push_back(r->Int(0));
  return ids;
}

void SqlSession::ImportTally(const TallyDocument& doc) {
  const CentreParams& c = doc.centre;
  Upsert("centro", {c.code, c.name, c.IDTIPOAPUR, c.IDBLOQUEAAF, c.IDCONSPRSOL, c.IDEXJUSTESCM,
                    c.monthlyRate, c.budget ? SqlParam(*c.budget) : SqlParam(), c.afDirectory});
  for (const Region& r : doc.regions) Upsert("regiao", {r.code, r.name});
  for (const Branch& b : doc.branches) Upsert("filial", {b.code, b.name, b.region});
  for (const Supplier& f : doc.suppliers) Upsert("fornecedor", {f.code, f.name});
  for (const Brand& b : doc.brands) Upsert("marca", {b.code, b.name});
  for (const StockProduct& p : doc.stockProducts)
    Upsert("produto_estoque", {p.code, p.tree, p.name, p.unit, p.lastPrice});
  for (const NegotiatedProduct& p : doc.negotiatedProducts) {
    Upsert("produto_negociado", {p.code, p.stockProduct, p.tree, p.name, p.unit, p.factor,
                                 Flag(p.preferred), Flag(p.web), p.safetyStock});
  }
  Exec(
      "INSERT INTO apuracao (NRSEQAPUR, CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL) "
      "VALUES (?, ?, ?, ?, ?)",
      {doc.number, doc.centre.code, doc.buyer, doc.start.days, doc.end.days});
  {
    auto w = Writer("regra_escolha", Stored("regra_escolha"));
    for (const ChoiceRule& r : doc.rules)
      w->Row({doc.number, r.product, r.supplier, r.brand, r.kind});
    w->Finish();
  }
  std::unordered_map<std::string, double> factorOf;
  for (const NegotiatedProduct& p : doc.negotiatedProducts) factorOf[p.code] = p.factor;
  {
    auto w = Writer("cotacao", Stored("cotacao"));
    for (const QuoteDoc& q : doc.quotations) {
      auto f = factorOf.find(q.product);
      EconomicPrices e =
          ComputeEconomicPrices(q.unitPrice, f == factorOf.end() ? 1 : f->second, q.freightRate,
                                q.paymentDays, doc.centre.monthlyRate, q.taxRate);
      w->Row({doc.number, q.product, q.region, q.collection, q.supplier, q.brand, q.unitPrice,
              e.econ, e.econPi, q.freightRate, q.paymentDays, q.taxRate, Flag(q.priceList),
              q.minQuantity, q.minQuantityFlag, q.minValue, q.minValueFlag, q.unit});
    }
    w->Finish();
  }
  {
    auto w = Writer("solicitacao", Stored("solicitacao"));
    for (const RequestDoc& r : doc.requests)
      w->Row({doc.number, r.product, r.region, r.branch, r.date.days, r.quantity});
    w->Finish();
  }
  const std::vector<int64_t> quoteIds = IdsOf("cotacao", doc.number);
  const std::vector<int64_t> requestIds = IdsOf("solicitacao", doc.number);
  if (quoteIds.size() != doc.quotations.size() || requestIds.size() != doc.requests.size())
    throw std::runtime_error("import of tally " + doc.number +
                             " stored a different number of rows");
  // One delivery row per quotation line and branch request line of the same
  // negotiated product and region, ordered by quotation line, then request.
  std::unordered_map<std::string, std::vector<size_t>> requestsOf;
  for (size_t i = 0; i < doc.requests.size(); ++i)
    requestsOf[doc.requests[i].product + '\x1f' + doc.requests[i].region].push_back(i);
  auto w = Writer("item_apuracao", {"NRSEQAPUR", "ID_COTACAO", "ID_SOLICITACAO", "QTACOMP"});
  for (size_t q = 0; q < doc.quotations.size(); ++q) {
    auto it = requestsOf.find(doc.quotations[q].product + '\x1f' + doc.quotations[q].region);
    if (it == requestsOf.end()) continue;
    for (size_t r : it->second)
      w->Row({doc.number, quoteIds[q], requestIds[r], doc.requests[r].quantity});
  }
  w->Finish();
  Imported();
}

std::optional<OperatorRow> SqlSession::FindOperator(const std::string& code) {
  auto r = Query(
      "SELECT NMOPERADOR, DSSENHA, DSCENTROS, DSFILIAIS, DSAUTORIZ FROM operador "
      "WHERE CDOPERADOR = ?",
      {code});
  if (!r->Next()) return std::nullopt;
  return OperatorRow{code, r->Str(0), r->Str(1), r->Str(2), r->Str(3), r->Str(4)};
}

void SqlSession::SaveOperator(const OperatorRow& op) {
  Upsert("operador",
         {op.code, op.name, op.passwordHash, op.centres, op.branches, op.authorisations});
  Exec("DELETE FROM sessao WHERE CDOPERADOR = ?", {op.code});
}

void SqlSession::SaveSession(const SessionRow& s, double now) {
  Exec("DELETE FROM sessao WHERE DTEXPIRA <= ?", {now});
  Exec(
      "INSERT INTO sessao (DSTOKEN, CDOPERADOR, NMOPERADOR, DSCENTROS, DSFILIAIS, DSAUTORIZ, "
      "DTEXPIRA) VALUES (?, ?, ?, ?, ?, ?, ?)",
      {s.tokenHash, s.op, s.name, s.centres, s.branches, s.authorisations, s.expires});
}

std::optional<SessionRow> SqlSession::FindSession(const std::string& tokenHash) {
  auto r = Query(
      "SELECT CDOPERADOR, NMOPERADOR, DSCENTROS, DSFILIAIS, DSAUTORIZ, DTEXPIRA FROM sessao "
      "WHERE DSTOKEN = ?",
      {tokenHash});
  if (!r->Next()) return std::nullopt;
  return SessionRow{tokenHash, r->Str(0), r->Str(1), r->Str(2), r->Str(3), r->Str(4), r->Double(5)};
}

size_t SqlSession::CountSessions(double now) {
  auto r = Query("SELECT COUNT(*) FROM sessao WHERE DTEXPIRA > ?", {now});
  return r->Next() ? static_cast<size_t>(r->Int(0)) : 0;
}

void SqlSession::DeleteSession(const std::string& tokenHash) {
  Exec("DELETE FROM sessao WHERE DSTOKEN = ?", {tokenHash});
}

DataPacket ReportPacket(const std::vector<std::string>& names,
                        const std::vector<ReportColumnKind>& kinds,
                        std::vector<std::vector<Value>> rows) {
  std::vector<FieldDef> fields;
  for (size_t c = 0; c < names.size(); ++c) {
    const FieldType t = kinds[c] == ReportColumnKind::Real      ? FieldType::Float
                        : kinds[c] == ReportColumnKind::Integer ? FieldType::Integer
                                                                : FieldType::String;
    fields.push_back({names[c], t, t == FieldType::String ? 255 : 0});
  }
  PacketBuilder b(fields);
  for (auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      Value& v = row[c];
      if (v.IsNull()) continue;
      if (fields[c].type == FieldType::String && v.kind() != Value::Kind::Text)
        v = Value(v.ToText());
      else if (fields[c].type == FieldType::Float && v.kind() == Value::Kind::Integer)
        v = Value(v.AsFloat());
    }
    b.Add(std::move(row));
  }
  return b.Build();
}

const std::string* ReportParam(const ReportParams& params, std::string_view name) {
  for (const auto& [n, v] : params)
    if (SameName(n, std::string(name))) return &v;
  throw ReportQueryError("parâmetro " + std::string(name) + " não informado");
}

std::optional<std::string> SqlSession::ReportDefinition(const std::string& code) {
  auto r = Query("SELECT DSDEFINICAO FROM relatorio WHERE CDRELATORIO = ?", {code});
  if (!r->Next()) return std::nullopt;
  return r->Str(0);
}

void SqlSession::SaveReportDefinition(const std::string& code, const std::string& text,
                                      bool replace) {
  if (replace)
    Upsert("relatorio", {code, text});
  else
    Exec("INSERT INTO relatorio (CDRELATORIO, DSDEFINICAO) VALUES (?, ?) ON CONFLICT DO NOTHING",
         {code, text});
}

}  // namespace apura::server
