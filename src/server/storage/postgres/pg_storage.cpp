#include "server/storage/postgres/pg_storage.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "server/services/pricing.h"
#include "server/storage/storage_wait.h"

namespace apura::server {

namespace {

class PgError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const char* Flag(bool b) {
  return b ? "S" : "N";
}

// Doubles travel as text; 17 significant digits read back to the same double.
std::string Num(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

using Param = std::optional<std::string>;

Param P(std::string_view s) {
  return std::string(s);
}
Param P(double d) {
  return Num(d);
}
Param P(int64_t v) {
  return std::to_string(v);
}

// One answer of the server; rows and columns by position.
class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;

  int Rows() const { return PQntuples(r_); }
  std::string_view Text(int row, int col) const {
    return {PQgetvalue(r_, row, col), static_cast<size_t>(PQgetlength(r_, row, col))};
  }
  std::string Str(int row, int col) const { return std::string(Text(row, col)); }
  bool IsNull(int row, int col) const { return PQgetisnull(r_, row, col) != 0; }
  double Double(int row, int col) const {
    if (IsNull(row, col)) return 0;
    return std::strtod(PQgetvalue(r_, row, col), nullptr);
  }
  int64_t Int(int row, int col) const {
    if (IsNull(row, col)) return 0;
    return std::strtoll(PQgetvalue(r_, row, col), nullptr, 10);
  }
  int64_t Affected() const {
    const char* n = PQcmdTuples(r_);
    return *n ? std::strtoll(n, nullptr, 10) : 0;
  }

 private:
  PGresult* r_;
};

// Waits for locks end in these; the caller's deadline passed before the turn came.
bool IsLockWaitTimeout(const char* state) {
  return state && (std::strcmp(state, "55P03") == 0 || std::strcmp(state, "57014") == 0);
}

Result Check(PGconn* c, PGresult* r, std::string_view sql) {
  ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_COPY_IN) return Result(r);
  std::string msg = r ? PQresultErrorMessage(r) : PQerrorMessage(c);
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  bool timeout = IsLockWaitTimeout(state);
  // A delivery row another transaction ordered first, or a deadlock broken.
  const char* constraint = r ? PQresultErrorField(r, PG_DIAG_CONSTRAINT_NAME) : nullptr;
  bool conflict = state && ((std::strcmp(state, "23505") == 0 && constraint &&
                             std::strcmp(constraint, "autorizacao_item_once") == 0) ||
                            std::strcmp(state, "40P01") == 0);
  PQclear(r);
  if (timeout) throw StorageBusy();
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  if (conflict)
    throw StorageConflict("SQL conflict (" + std::string(sql.substr(0, 60)) + "): " + msg);
  throw PgError("SQL failed (" + std::string(sql.substr(0, 60)) + "): " + msg);
}

Result Exec(PGconn* c, const char* sql, const std::vector<Param>& params = {}) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const Param& p : params) values.push_back(p ? p->c_str() : nullptr);
  PGresult* r = params.empty() ? PQexec(c, sql)
                               : PQexecParams(c, sql, static_cast<int>(params.size()), nullptr,
                                              values.data(), nullptr, nullptr, 0);
  return Check(c, r, sql);
}

// Rows sent by COPY in text format: tab between fields, backslash escapes.
class CopyIn {
 public:
  CopyIn(PGconn* c, const char* sql) : c_(c), sql_(sql) { Exec(c_, sql); }
  CopyIn& Field(std::string_view s) {
    if (!first_) buf_ += '\t';
    first_ = false;
    for (char ch : s) {
      switch (ch) {
        case '\\':
          buf_ += "\\\\";
          break;
        case '\t':
          buf_ += "\\t";
          break;
        case '\n':
          buf_ += "\\n";
          break;
        case '\r':
          buf_ += "\\r";
          break;
        default:
          buf_ += ch;
      }
    }
    return *this;
  }
  CopyIn& Field(double d) { return Field(std::string_view(Num(d))); }
  CopyIn& Field(int64_t v) { return Field(std::string_view(std::to_string(v))); }
  void EndRow() {
    buf_ += '\n';
    first_ = true;
    if (buf_.size() > (1 << 20)) Flush();
  }
  void Finish() {
    Flush();
    if (PQputCopyEnd(c_, nullptr) != 1) Fail();
    // The outcome of the COPY, then nothing more.
    Check(c_, PQgetResult(c_), sql_);
    while (PGresult* r = PQgetResult(c_)) PQclear(r);
  }

 private:
  void Flush() {
    if (!buf_.empty() && PQputCopyData(c_, buf_.data(), static_cast<int>(buf_.size())) != 1) {
      Fail();
    }
    buf_.clear();
  }
  [[noreturn]] void Fail() { throw PgError(std::string("COPY failed: ") + PQerrorMessage(c_)); }

  PGconn* c_;
  const char* sql_;
  std::string buf_;
  bool first_ = true;
};

// Array literals for statements that update many rows at once.
class ArrayText {
 public:
  void Add(std::string_view s) {
    Sep();
    text_ += '"';
    for (char ch : s) {
      if (ch == '"' || ch == '\\') text_ += '\\';
      text_ += ch;
    }
    text_ += '"';
  }
  void Add(double d) {
    Sep();
    text_ += Num(d);
  }
  void Add(int64_t v) {
    Sep();
    text_ += std::to_string(v);
  }
  std::string Take() {
    std::string out = "{" + text_ + "}";
    text_.clear();
    return out;
  }

 private:
  void Sep() {
    if (!text_.empty()) text_ += ',';
  }
  std::string text_;
};

class IdIndex {
 public:
  void Add(int64_t id, int32_t pos) { map_.emplace(id, pos); }
  int32_t At(int64_t id) const {
    auto it = map_.find(id);
    if (it == map_.end()) {
      throw PgError("stored tally refers to a missing row " + std::to_string(id));
    }
    return it->second;
  }
  void Reserve(size_t n) { map_.reserve(n); }

 private:
  std::unordered_map<int64_t, int32_t> map_;
};

// The schema is created by whichever server starts first; others wait for it.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(5810021)";

}  // namespace

class PgSession : public IStorageSession {
 public:
  PgSession(PgStorage& owner, PGconn* c) : owner_(owner), c_(c) {}
  ~PgSession() override {
    if (inTransaction_) {
      try {
        Exec(c_, "ROLLBACK");
      } catch (...) {
      }
    }
    owner_.Release(c_);
  }

  // Readers take one snapshot for the whole read. A writer waits for locks no
  // longer than the caller's deadline; the lock that matters is its tally's row,
  // taken by Tally() (every write reads its tally first).
  void Begin(bool write) override {
    if (write) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      WaitLimit() - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) throw StorageBusy();
      Exec(c_, "BEGIN ISOLATION LEVEL READ COMMITTED");
      inTransaction_ = true;
      Exec(c_, ("SET LOCAL lock_timeout = " + std::to_string(left)).c_str());
    } else {
      Exec(c_, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
      inTransaction_ = true;
    }
    write_ = write;
  }
  void Commit() override {
    Exec(c_, "COMMIT");
    inTransaction_ = false;
  }
  void Rollback() override {
    inTransaction_ = false;
    Exec(c_, "ROLLBACK");
  }

  std::optional<CentreParams> Centre(const std::string& code) override {
    Result r = Exec(c_,
                    "SELECT NMCENTCMP, IDTIPOAPUR, IDBLOQUEAAF, IDCONSPRSOL, IDEXJUSTESCM, "
                    "TXFINMENSAL, VRORCAMENTO, DSDIRAFWEB FROM centro WHERE CDCENTCMP = $1",
                    {P(code)});
    if (r.Rows() == 0) return std::nullopt;
    CentreParams c;
    c.code = code;
    c.name = r.Str(0, 0);
    c.IDTIPOAPUR = r.Str(0, 1);
    c.IDBLOQUEAAF = r.Str(0, 2);
    c.IDCONSPRSOL = r.Str(0, 3);
    c.IDEXJUSTESCM = r.Str(0, 4);
    c.monthlyRate = r.Double(0, 5);
    if (!r.IsNull(0, 6)) c.budget = r.Double(0, 6);
    c.afDirectory = r.Str(0, 7);
    return c;
  }

  std::optional<TallyHeader> Tally(const std::string& number) override {
    // In a write, the row lock makes writes to one tally take turns across
    // servers: the second effectuation reads the AFs the first one committed.
    return ReadTally(number, write_ && inTransaction_);
  }
  std::optional<TallyHeader> PeekTally(const std::string& number) override {
    return ReadTally(number, false);
  }
  std::optional<TallyHeader> ReadTally(const std::string& number, bool lock) {
    const std::string sql =
        std::string(
            "SELECT CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL, IDEFETIVADA, NRVERSAO, "
            "NRVERSAOESCOLHA FROM apuracao WHERE NRSEQAPUR = $1") +
        (lock ? " FOR UPDATE" : "");
    Result r = Exec(c_, sql.c_str(), {P(number)});
    if (r.Rows() == 0) return std::nullopt;
    TallyHeader h;
    h.number = number;
    h.centre = r.Str(0, 0);
    h.buyer = r.Str(0, 1);
    h.start = DateTime{r.Double(0, 2)};
    h.end = DateTime{r.Double(0, 3)};
    h.effectuated = r.Text(0, 4) == "S";
    h.version = r.Int(0, 5);
    h.choiceVersion = r.Int(0, 6);
    return h;
  }

  TallyModel LoadTally(const TallyHeader& header) override {
    TallyModel m;
    m.header = header;
    if (auto c = Centre(header.centre)) m.centre = *c;
    const std::vector<Param> nr{P(header.number)};

    std::unordered_map<std::string, int> productIndex;
    {
      Result r = Exec(c_,
                      "SELECT n.CDPRODITMAP, n.CDPRODESTO, n.CDARVPROD, n.NMPRODUTO, n.SGUNIDADE, "
                      "e.CDARVPROD, e.NMPRODUTO, n.VRFATOCONV, n.QTESTOSEGU, e.VRULTPRECO, "
                      "n.IDPRODPREF, n.IDPRODWEB FROM produto_negociado n "
                      "JOIN produto_estoque e ON e.CDPRODUTO = n.CDPRODESTO "
                      "WHERE n.CDPRODITMAP IN (SELECT CDPRODITMAP FROM cotacao WHERE "
                      "NRSEQAPUR = $1 UNION SELECT CDPRODITMAP FROM solicitacao WHERE "
                      "NRSEQAPUR = $1) ORDER BY n.CDPRODITMAP COLLATE \"C\"",
                      nr);
      for (int i = 0; i < r.Rows(); ++i) {
        ProductInfo p;
        p.CDPRODITMAP = r.Str(i, 0);
        p.CDPRODESTO = r.Str(i, 1);
        p.CDARVPROD = r.Str(i, 2);
        p.NMPRODUTO = r.Str(i, 3);
        p.SGUNIDADE = r.Str(i, 4);
        p.stockTree = r.Str(i, 5);
        p.stockName = r.Str(i, 6);
        p.VRFATOCONV = r.Double(i, 7);
        p.QTESTOSEGU = r.Double(i, 8);
        p.stockLastPrice = r.Double(i, 9);
        p.preferred = r.Text(i, 10) == "S";
        p.web = r.Text(i, 11) == "S";
        productIndex[p.CDPRODITMAP] = static_cast<int>(m.products.size());
        m.products.push_back(std::move(p));
      }
    }
    {
      Result r = Exec(c_,
                      "SELECT CDREGIAO, NMREGIAO FROM regiao WHERE CDREGIAO IN "
                      "(SELECT CDREGITMAP FROM cotacao WHERE NRSEQAPUR = $1 "
                      "UNION SELECT CDREGITMAP FROM solicitacao WHERE NRSEQAPUR = $1) "
                      "ORDER BY CDREGIAO COLLATE \"C\"",
                      nr);
      for (int i = 0; i < r.Rows(); ++i) m.regions.push_back({r.Str(i, 0), r.Str(i, 1)});
    }
    {
      Result r = Exec(c_,
                      "SELECT CDPRODITMAP, CDFORNECED, CDMARCA, IDTIPOREGRA FROM regra_escolha "
                      "WHERE NRSEQAPUR = $1 ORDER BY ctid",
                      nr);
      for (int i = 0; i < r.Rows(); ++i) {
        m.rules.push_back({r.Str(i, 0), r.Str(i, 1), r.Str(i, 2), r.Str(i, 3)});
      }
    }
    IdIndex quoteIndex, requestIndex;
    {
      Result r = Exec(c_,
                      "SELECT c.ID, c.CDPRODITMAP, c.CDREGITMAP, c.NRCOLEITMAP, c.CDFORNITMAP, "
                      "f.NMFANTFORN, c.CDMARCITMAP, m.NMMARCA, c.SGUNIDADE, c.VRPRECUNIAP, "
                      "c.PRECOECON, c.PRECOECONPI, c.TXFRETEENC, c.NRPRAZOPGTO, c.TXIMPRECUP, "
                      "c.IDLISTAPREC, c.QTMINAUTFOT, c.VRMINAUTFOR, c.IDQTMINFORN, c.IDVRMINFORN "
                      "FROM cotacao c JOIN fornecedor f ON f.CDFORNECED = c.CDFORNITMAP "
                      "JOIN marca m ON m.CDMARCA = c.CDMARCITMAP WHERE c.NRSEQAPUR = $1 "
                      "ORDER BY c.ID",
                      nr);
      m.quotes.reserve(static_cast<size_t>(r.Rows()));
      quoteIndex.Reserve(static_cast<size_t>(r.Rows()));
      for (int i = 0; i < r.Rows(); ++i) {
        QuoteLine q;
        q.id = r.Int(i, 0);
        q.CDPRODITMAP = r.Str(i, 1);
        q.CDREGITMAP = r.Str(i, 2);
        q.NRCOLEITMAP = r.Str(i, 3);
        q.CDFORNITMAP = r.Str(i, 4);
        q.NMFANTFORN = r.Str(i, 5);
        q.CDMARCITMAP = r.Str(i, 6);
        q.NMMARCA = r.Str(i, 7);
        q.SGUNIDADE = r.Str(i, 8);
        q.VRPRECUNIAP = r.Double(i, 9);
        q.PRECOECON = r.Double(i, 10);
        q.PRECOECONPI = r.Double(i, 11);
        q.freightRate = r.Double(i, 12);
        q.paymentDays = r.Double(i, 13);
        q.taxRate = r.Double(i, 14);
        q.priceList = r.Text(i, 15) == "S";
        q.QTMINAUTFOT = r.Double(i, 16);
        q.VRMINAUTFOR = r.Double(i, 17);
        q.IDQTMINFORN = r.Str(i, 18);
        q.IDVRMINFORN = r.Str(i, 19);
        q.product = productIndex.at(q.CDPRODITMAP);
        quoteIndex.Add(q.id, static_cast<int32_t>(m.quotes.size()));
        m.quotes.push_back(std::move(q));
      }
    }
    {
      Result r = Exec(c_,
                      "SELECT r.ID, r.CDPRODITMAP, r.CDREGITMAP, r.CDFILIAP, f.NMFILIAL, "
                      "r.DTENTRAPUT, r.QTSOLACOMP FROM solicitacao r "
                      "JOIN filial f ON f.CDFILIAL = r.CDFILIAP WHERE r.NRSEQAPUR = $1 "
                      "ORDER BY r.ID",
                      nr);
      m.requests.reserve(static_cast<size_t>(r.Rows()));
      requestIndex.Reserve(static_cast<size_t>(r.Rows()));
      for (int i = 0; i < r.Rows(); ++i) {
        RequestLine q;
        q.id = r.Int(i, 0);
        q.CDPRODITMAP = r.Str(i, 1);
        q.CDREGITMAP = r.Str(i, 2);
        q.CDFILIAP = r.Str(i, 3);
        q.NMFILIAL = r.Str(i, 4);
        q.DTENTRAPUT = r.Double(i, 5);
        q.QTSOLACOMP = r.Double(i, 6);
        requestIndex.Add(q.id, static_cast<int32_t>(m.requests.size()));
        m.requests.push_back(std::move(q));
      }
    }
    {
      Result r = Exec(c_,
                      "SELECT ID, ID_COTACAO, ID_SOLICITACAO, IDITMSELAPUR, QTACOMP, "
                      "IDMOTIVPRESC, TXOBESCMANAP FROM item_apuracao WHERE NRSEQAPUR = $1 "
                      "ORDER BY ID",
                      nr);
      m.items.reserve(static_cast<size_t>(r.Rows()));
      for (int i = 0; i < r.Rows(); ++i) {
        Item it;
        it.id = r.Int(i, 0);
        it.quote = quoteIndex.At(r.Int(i, 1));
        it.request = requestIndex.At(r.Int(i, 2));
        it.selected = r.Text(i, 3) == "S";
        it.QTACOMP = r.Double(i, 4);
        it.IDMOTIVPRESC = r.Str(i, 5);
        it.TXOBESCMANAP = r.Str(i, 6);
        m.items.push_back(std::move(it));
      }
    }
    return m;
  }

  // Rows cleared already are left alone: most of a tally's rows are, and
  // rewriting them all is most of a tally's first choice on a large one.
  void ClearSelections(const std::string& tally) override {
    Exec(c_,
         "UPDATE item_apuracao i SET IDITMSELAPUR = 'N', IDMOTIVPRESC = '', "
         "QTACOMP = r.QTSOLACOMP FROM solicitacao r "
         "WHERE r.ID = i.ID_SOLICITACAO AND i.NRSEQAPUR = $1 AND (i.IDITMSELAPUR <> 'N' "
         "OR i.IDMOTIVPRESC <> '' OR i.QTACOMP IS DISTINCT FROM r.QTSOLACOMP)",
         {P(tally)});
  }

  // Many rows in few statements: one round trip per batch, not per row.
  void UpdateItems(const std::vector<ItemUpdate>& updates) override {
    constexpr size_t kBatch = 20000;
    for (size_t at = 0; at < updates.size(); at += kBatch) {
      ArrayText ids, sel, qt, mot, just;
      for (size_t k = at; k < std::min(updates.size(), at + kBatch); ++k) {
        const ItemUpdate& u = updates[k];
        ids.Add(u.id);
        sel.Add(std::string_view(Flag(u.selected)));
        qt.Add(u.QTACOMP);
        mot.Add(u.IDMOTIVPRESC);
        just.Add(u.TXOBESCMANAP);
      }
      Exec(c_,
           "UPDATE item_apuracao i SET IDITMSELAPUR = u.sel, QTACOMP = u.qt, "
           "IDMOTIVPRESC = u.mot, TXOBESCMANAP = u.just "
           "FROM unnest($1::bigint[], $2::text[], $3::float8[], $4::text[], $5::text[]) "
           "AS u(id, sel, qt, mot, just) WHERE i.ID = u.id",
           {ids.Take(), sel.Take(), qt.Take(), mot.Take(), just.Take()});
    }
  }

  void UpdateQuotePrices(int64_t quoteId, double unitPrice, double econ, double econPi) override {
    Exec(c_, "UPDATE cotacao SET VRPRECUNIAP = $1, PRECOECON = $2, PRECOECONPI = $3 WHERE ID = $4",
         {P(unitPrice), P(econ), P(econPi), P(quoteId)});
  }

  void SetEffectuated(const std::string& tally, bool effectuated, double date) override {
    Exec(c_, "UPDATE apuracao SET IDEFETIVADA = $1, DTEFETIVACAO = $2 WHERE NRSEQAPUR = $3",
         {P(std::string_view(Flag(effectuated))), effectuated ? P(date) : Param{}, P(tally)});
  }

  void BumpVersion(const std::string& tally, Change what) override {
    Exec(c_,
         what == Change::Choices
             ? "UPDATE apuracao SET NRVERSAO = NRVERSAO + 1, "
               "NRVERSAOESCOLHA = NRVERSAOESCOLHA + 1 WHERE NRSEQAPUR = $1"
             : "UPDATE apuracao SET NRVERSAO = NRVERSAO + 1 WHERE NRSEQAPUR = $1",
         {P(tally)});
  }

  std::string NextAfNumber() override { return std::to_string(ReserveAfNumbers(1)); }

  // The first of `n` consecutive AF numbers, taken in one statement.
  int64_t ReserveAfNumbers(int64_t n) {
    Result r = Exec(c_,
                    "INSERT INTO sequencia (NMSEQUENCIA, VRATUAL) VALUES ('AF', $1) "
                    "ON CONFLICT (NMSEQUENCIA) DO UPDATE SET VRATUAL = sequencia.VRATUAL + $1 "
                    "RETURNING VRATUAL",
                    {P(n)});
    return r.Int(0, 0) - n + 1;
  }

  void InsertAf(const AfRecord& af) override { StoreAfs({&af}); }

  void InsertAfs(std::vector<AfRecord>& afs) override {
    if (afs.empty()) return;
    int64_t next = ReserveAfNumbers(static_cast<int64_t>(afs.size()));
    std::vector<const AfRecord*> all;
    for (AfRecord& af : afs) {
      af.number = std::to_string(next++);
      all.push_back(&af);
    }
    StoreAfs(all);
  }

  // AFs with their numbers and lines, in two statements whatever their count.
  void StoreAfs(const std::vector<const AfRecord*>& afs) {
    ArrayText nr, tally, centre, dest, launch, supplier, buyer, date, total, qty, status, err,
        error, web;
    ArrayText lNr, lItemNr, lItem, lProd, lBrand, lCol, lDate, lQt, lPrice;
    for (const AfRecord* a : afs) {
      const AfRecord& af = *a;
      nr.Add(af.number);
      tally.Add(af.tally);
      centre.Add(af.centre);
      dest.Add(af.destBranch);
      launch.Add(af.launchBranch);
      supplier.Add(af.supplier);
      buyer.Add(af.buyer);
      date.Add(af.date);
      total.Add(af.total);
      qty.Add(af.quantity);
      status.Add(af.status);
      err.Add(std::string_view(Flag(af.inconsistent)));
      error.Add(af.error);
      web.Add(std::string_view(Flag(af.web)));
      int64_t n = 0;
      for (const AfLine& l : af.lines) {
        lNr.Add(af.number);
        lItemNr.Add(++n);
        lItem.Add(l.item);
        lProd.Add(l.product);
        lBrand.Add(l.brand);
        lCol.Add(l.collection);
        lDate.Add(l.date);
        lQt.Add(l.quantity);
        lPrice.Add(l.unitPrice);
      }
    }
    Exec(c_,
         "INSERT INTO autorizacao (NRAUTOFORN, NRSEQAPUR, CDCENTCMP, CDFILDEST, CDFILLANC, "
         "CDFORNECED, CDCOMPRADOR, DTAUTOFORN, VRTOTALAF, QTTOTALAF, IDSITUATUAAF, IDERRO, "
         "DSERRO, IDAFPRODWEB) SELECT * FROM unnest($1::text[], $2::text[], $3::text[], "
         "$4::text[], $5::text[], $6::text[], $7::text[], $8::float8[], $9::float8[], "
         "$10::float8[], $11::text[], $12::text[], $13::text[], $14::text[])",
         {nr.Take(), tally.Take(), centre.Take(), dest.Take(), launch.Take(), supplier.Take(),
          buyer.Take(), date.Take(), total.Take(), qty.Take(), status.Take(), err.Take(),
          error.Take(), web.Take()});
    Exec(c_,
         "INSERT INTO autorizacao_item (NRAUTOFORN, NRITEM, ID_ITEM, CDPRODITMAP, CDMARCA, "
         "NRCOLEITMAP, DTENTRAPUT, QTACOMP, VRPRECUNIAP) SELECT * FROM "
         "unnest($1::text[], $2::int[], $3::bigint[], $4::text[], $5::text[], $6::text[], "
         "$7::float8[], $8::float8[], $9::float8[])",
         {lNr.Take(), lItemNr.Take(), lItem.Take(), lProd.Take(), lBrand.Take(), lCol.Take(),
          lDate.Take(), lQt.Take(), lPrice.Take()});
  }

  int DeleteAfs(const std::string& tally, const std::string& branch) override {
    Exec(c_,
         "DELETE FROM autorizacao_item WHERE NRAUTOFORN IN "
         "(SELECT NRAUTOFORN FROM autorizacao WHERE NRSEQAPUR = $1 AND CDFILLANC = $2)",
         {P(tally), P(branch)});
    Result r = Exec(c_, "DELETE FROM autorizacao WHERE NRSEQAPUR = $1 AND CDFILLANC = $2",
                    {P(tally), P(branch)});
    return static_cast<int>(r.Affected());
  }

  bool HasAfs(const std::string& tally) override {
    return Exec(c_, "SELECT 1 FROM autorizacao WHERE NRSEQAPUR = $1 LIMIT 1", {P(tally)}).Rows() >
           0;
  }

  std::vector<AfRecord> Afs(const std::string& tally) override { return ReadAfs(tally, true); }
  std::vector<AfRecord> OrderedAfs(const std::string& tally) override {
    return ReadAfs(tally, false);
  }
  std::vector<AfRecord> ReadAfs(const std::string& tally, bool whole) {
    std::vector<AfRecord> out;
    Result h = Exec(c_,
                    "SELECT NRAUTOFORN, CDCENTCMP, CDFILDEST, CDFILLANC, CDFORNECED, CDCOMPRADOR, "
                    "DTAUTOFORN, VRTOTALAF, QTTOTALAF, IDSITUATUAAF, IDERRO, DSERRO, IDAFPRODWEB "
                    "FROM autorizacao WHERE NRSEQAPUR = $1 ORDER BY CAST(NRAUTOFORN AS BIGINT)",
                    {P(tally)});
    std::unordered_map<std::string, size_t> at;
    for (int i = 0; i < h.Rows(); ++i) {
      AfRecord af;
      af.number = h.Str(i, 0);
      af.tally = tally;
      af.centre = h.Str(i, 1);
      af.destBranch = h.Str(i, 2);
      af.launchBranch = h.Str(i, 3);
      af.supplier = h.Str(i, 4);
      af.buyer = h.Str(i, 5);
      af.date = h.Double(i, 6);
      af.total = h.Double(i, 7);
      af.quantity = h.Double(i, 8);
      af.status = h.Str(i, 9);
      af.inconsistent = h.Text(i, 10) == "S";
      af.error = h.Str(i, 11);
      af.web = h.Text(i, 12) == "S";
      at[af.number] = out.size();
      out.push_back(std::move(af));
    }
    if (out.empty()) return out;
    Result l = Exec(c_,
                    whole ? "SELECT l.NRAUTOFORN, l.ID_ITEM, l.CDPRODITMAP, l.CDMARCA, "
                            "l.NRCOLEITMAP, l.DTENTRAPUT, l.QTACOMP, l.VRPRECUNIAP "
                            "FROM autorizacao_item l JOIN autorizacao a "
                            "ON a.NRAUTOFORN = l.NRAUTOFORN WHERE a.NRSEQAPUR = $1 "
                            "ORDER BY l.NRAUTOFORN, l.NRITEM"
                          : "SELECT l.NRAUTOFORN, l.ID_ITEM FROM autorizacao_item l "
                            "JOIN autorizacao a ON a.NRAUTOFORN = l.NRAUTOFORN "
                            "WHERE a.NRSEQAPUR = $1",
                    {P(tally)});
    for (int i = 0; i < l.Rows(); ++i) {
      auto it = at.find(std::string(l.Text(i, 0)));
      if (it == at.end()) continue;
      if (whole)
        out[it->second].lines.push_back({l.Int(i, 1), l.Str(i, 2), l.Str(i, 3), l.Str(i, 4),
                                         l.Double(i, 5), l.Double(i, 6), l.Double(i, 7)});
      else
        out[it->second].lines.push_back({l.Int(i, 1), {}, {}, {}, 0, 0, 0});
    }
    return out;
  }

  void ImportTally(const TallyDocument& doc) override;

 private:
  PgStorage& owner_;
  PGconn* c_;
  bool inTransaction_ = false;
  bool write_ = false;
};

void PgSession::ImportTally(const TallyDocument& doc) {
  {
    const CentreParams& c = doc.centre;
    Exec(
        c_,
        "INSERT INTO centro (CDCENTCMP, NMCENTCMP, IDTIPOAPUR, IDBLOQUEAAF, IDCONSPRSOL, "
        "IDEXJUSTESCM, TXFINMENSAL, VRORCAMENTO, DSDIRAFWEB) VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9) "
        "ON CONFLICT (CDCENTCMP) DO UPDATE SET NMCENTCMP = EXCLUDED.NMCENTCMP, "
        "IDTIPOAPUR = EXCLUDED.IDTIPOAPUR, IDBLOQUEAAF = EXCLUDED.IDBLOQUEAAF, "
        "IDCONSPRSOL = EXCLUDED.IDCONSPRSOL, IDEXJUSTESCM = EXCLUDED.IDEXJUSTESCM, "
        "TXFINMENSAL = EXCLUDED.TXFINMENSAL, VRORCAMENTO = EXCLUDED.VRORCAMENTO, "
        "DSDIRAFWEB = EXCLUDED.DSDIRAFWEB",
        {P(c.code), P(c.name), P(c.IDTIPOAPUR), P(c.IDBLOQUEAAF), P(c.IDCONSPRSOL),
         P(c.IDEXJUSTESCM), P(c.monthlyRate), c.budget ? P(*c.budget) : Param{}, P(c.afDirectory)});
  }
  for (const Region& r : doc.regions) {
    Exec(c_,
         "INSERT INTO regiao (CDREGIAO, NMREGIAO) VALUES ($1,$2) "
         "ON CONFLICT (CDREGIAO) DO UPDATE SET NMREGIAO = EXCLUDED.NMREGIAO",
         {P(r.code), P(r.name)});
  }
  for (const Branch& b : doc.branches) {
    Exec(c_,
         "INSERT INTO filial (CDFILIAL, NMFILIAL, CDREGIAO) VALUES ($1,$2,$3) "
         "ON CONFLICT (CDFILIAL) DO UPDATE SET NMFILIAL = EXCLUDED.NMFILIAL, "
         "CDREGIAO = EXCLUDED.CDREGIAO",
         {P(b.code), P(b.name), P(b.region)});
  }
  for (const Supplier& f : doc.suppliers) {
    Exec(c_,
         "INSERT INTO fornecedor (CDFORNECED, NMFANTFORN) VALUES ($1,$2) "
         "ON CONFLICT (CDFORNECED) DO UPDATE SET NMFANTFORN = EXCLUDED.NMFANTFORN",
         {P(f.code), P(f.name)});
  }
  for (const Brand& b : doc.brands) {
    Exec(c_,
         "INSERT INTO marca (CDMARCA, NMMARCA) VALUES ($1,$2) "
         "ON CONFLICT (CDMARCA) DO UPDATE SET NMMARCA = EXCLUDED.NMMARCA",
         {P(b.code), P(b.name)});
  }
  for (const StockProduct& p : doc.stockProducts) {
    Exec(c_,
         "INSERT INTO produto_estoque (CDPRODUTO, CDARVPROD, NMPRODUTO, SGUNIDADE, VRULTPRECO) "
         "VALUES ($1,$2,$3,$4,$5) ON CONFLICT (CDPRODUTO) DO UPDATE SET "
         "CDARVPROD = EXCLUDED.CDARVPROD, NMPRODUTO = EXCLUDED.NMPRODUTO, "
         "SGUNIDADE = EXCLUDED.SGUNIDADE, VRULTPRECO = EXCLUDED.VRULTPRECO",
         {P(p.code), P(p.tree), P(p.name), P(p.unit), P(p.lastPrice)});
  }
  for (const NegotiatedProduct& p : doc.negotiatedProducts) {
    Exec(c_,
         "INSERT INTO produto_negociado (CDPRODITMAP, CDPRODESTO, CDARVPROD, NMPRODUTO, "
         "SGUNIDADE, VRFATOCONV, IDPRODPREF, IDPRODWEB, QTESTOSEGU) "
         "VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9) ON CONFLICT (CDPRODITMAP) DO UPDATE SET "
         "CDPRODESTO = EXCLUDED.CDPRODESTO, CDARVPROD = EXCLUDED.CDARVPROD, "
         "NMPRODUTO = EXCLUDED.NMPRODUTO, SGUNIDADE = EXCLUDED.SGUNIDADE, "
         "VRFATOCONV = EXCLUDED.VRFATOCONV, IDPRODPREF = EXCLUDED.IDPRODPREF, "
         "IDPRODWEB = EXCLUDED.IDPRODWEB, QTESTOSEGU = EXCLUDED.QTESTOSEGU",
         {P(p.code), P(p.stockProduct), P(p.tree), P(p.name), P(p.unit), P(p.factor),
          P(std::string_view(Flag(p.preferred))), P(std::string_view(Flag(p.web))),
          P(p.safetyStock)});
  }
  Exec(c_,
       "INSERT INTO apuracao (NRSEQAPUR, CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL) "
       "VALUES ($1,$2,$3,$4,$5)",
       {P(doc.number), P(doc.centre.code), P(doc.buyer), P(doc.start.days), P(doc.end.days)});
  {
    CopyIn copy(c_,
                "COPY regra_escolha (NRSEQAPUR, CDPRODITMAP, CDFORNECED, CDMARCA, IDTIPOREGRA) "
                "FROM STDIN");
    for (const ChoiceRule& r : doc.rules) {
      copy.Field(doc.number).Field(r.product).Field(r.supplier).Field(r.brand).Field(r.kind);
      copy.EndRow();
    }
    copy.Finish();
  }
  // Row ids come from the identity columns; the tally is new, so its rows read
  // back in id order are the rows in the order they were sent.
  auto idsOf = [&](const char* table) {
    std::string sql = std::string("SELECT ID FROM ") + table + " WHERE NRSEQAPUR = $1 ORDER BY ID";
    Result r = Exec(c_, sql.c_str(), {P(doc.number)});
    std::vector<int64_t> ids(static_cast<size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) ids[static_cast<size_t>(i)] = r.Int(i, 0);
    return ids;
  };
  std::unordered_map<std::string, double> factorOf;
  for (const NegotiatedProduct& p : doc.negotiatedProducts) factorOf[p.code] = p.factor;
  {
    CopyIn copy(c_,
                "COPY cotacao (NRSEQAPUR, CDPRODITMAP, CDREGITMAP, NRCOLEITMAP, CDFORNITMAP, "
                "CDMARCITMAP, VRPRECUNIAP, PRECOECON, PRECOECONPI, TXFRETEENC, NRPRAZOPGTO, "
                "TXIMPRECUP, IDLISTAPREC, QTMINAUTFOT, IDQTMINFORN, VRMINAUTFOR, IDVRMINFORN, "
                "SGUNIDADE) FROM STDIN");
    for (const QuoteDoc& q : doc.quotations) {
      auto f = factorOf.find(q.product);
      EconomicPrices e =
          ComputeEconomicPrices(q.unitPrice, f == factorOf.end() ? 1 : f->second, q.freightRate,
                                q.paymentDays, doc.centre.monthlyRate, q.taxRate);
      copy.Field(doc.number)
          .Field(q.product)
          .Field(q.region)
          .Field(q.collection)
          .Field(q.supplier)
          .Field(q.brand)
          .Field(q.unitPrice)
          .Field(e.econ)
          .Field(e.econPi)
          .Field(q.freightRate)
          .Field(q.paymentDays)
          .Field(q.taxRate)
          .Field(std::string_view(Flag(q.priceList)))
          .Field(q.minQuantity)
          .Field(q.minQuantityFlag)
          .Field(q.minValue)
          .Field(q.minValueFlag)
          .Field(q.unit);
      copy.EndRow();
    }
    copy.Finish();
  }
  std::vector<int64_t> quoteIds = idsOf("cotacao");
  {
    CopyIn copy(c_,
                "COPY solicitacao (NRSEQAPUR, CDPRODITMAP, CDREGITMAP, CDFILIAP, DTENTRAPUT, "
                "QTSOLACOMP) FROM STDIN");
    for (const RequestDoc& r : doc.requests) {
      copy.Field(doc.number)
          .Field(r.product)
          .Field(r.region)
          .Field(r.branch)
          .Field(r.date.days)
          .Field(r.quantity);
      copy.EndRow();
    }
    copy.Finish();
  }
  std::vector<int64_t> requestIds = idsOf("solicitacao");
  if (quoteIds.size() != doc.quotations.size() || requestIds.size() != doc.requests.size()) {
    throw PgError("import of tally " + doc.number + " stored a different number of rows");
  }
  // One tally price item per quotation line and branch request line of the same
  // negotiated product and region, ordered by quotation line, then request.
  std::unordered_map<std::string, std::vector<size_t>> requestsOf;
  for (size_t i = 0; i < doc.requests.size(); ++i) {
    requestsOf[doc.requests[i].product + '\x1f' + doc.requests[i].region].push_back(i);
  }
  CopyIn copy(c_, "COPY item_apuracao (NRSEQAPUR, ID_COTACAO, ID_SOLICITACAO, QTACOMP) FROM STDIN");
  for (size_t q = 0; q < doc.quotations.size(); ++q) {
    auto it = requestsOf.find(doc.quotations[q].product + '\x1f' + doc.quotations[q].region);
    if (it == requestsOf.end()) continue;
    for (size_t r : it->second) {
      copy.Field(doc.number)
          .Field(quoteIds[q])
          .Field(requestIds[r])
          .Field(doc.requests[r].quantity);
      copy.EndRow();
    }
  }
  copy.Finish();
  // Until autovacuum gets to them, the planner's statistics describe the tables
  // before the load; the writes that follow an import are planned for its size.
  Exec(c_, "ANALYZE cotacao, solicitacao, item_apuracao");
}

bool IsPostgresAddress(const std::string& db) {
  return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

namespace {

bool Declared(std::string_view table) {
  for (const schema::Table& t : schema::Tables())
    if (t.name == table) return true;
  return false;
}

// Names come back folded to lower case, as the schema was written unquoted.
// Indexes behind PRIMARY KEY and UNIQUE constraints are left out.
schema::LiveSchema Describe(PGconn* c) {
  schema::LiveSchema live;
  Result cols = Exec(c,
                     "SELECT table_name, column_name, data_type, is_nullable = 'NO' "
                     "FROM information_schema.columns WHERE table_schema = current_schema() "
                     "ORDER BY table_name, ordinal_position");
  for (int r = 0; r < cols.Rows(); ++r) {
    if (!Declared(cols.Text(r, 0))) continue;
    live.tables[cols.Str(r, 0)].push_back({cols.Str(r, 1), cols.Str(r, 2), cols.Text(r, 3) == "t"});
  }
  Result indexes = Exec(c,
                        "SELECT i.relname, t.relname, x.indisunique, a.attname FROM pg_index x "
                        "JOIN pg_class i ON i.oid = x.indexrelid "
                        "JOIN pg_class t ON t.oid = x.indrelid "
                        "JOIN pg_namespace n ON n.oid = t.relnamespace "
                        "CROSS JOIN LATERAL unnest(x.indkey) WITH ORDINALITY AS k(attnum, ord) "
                        "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum "
                        "WHERE n.nspname = current_schema() AND NOT EXISTS "
                        "(SELECT 1 FROM pg_constraint k2 WHERE k2.conindid = x.indexrelid) "
                        "ORDER BY i.relname, k.ord");
  for (int r = 0; r < indexes.Rows(); ++r) {
    if (!Declared(indexes.Text(r, 1))) continue;
    schema::LiveIndex& index = live.indexes[indexes.Str(r, 0)];
    index.table = indexes.Str(r, 1);
    index.unique = indexes.Text(r, 2) == "t";
    index.columns.push_back(indexes.Str(r, 3));
  }
  return live;
}

}  // namespace

schema::LiveSchema PgStorage::DescribeSchema() {
  PGconn* c = Acquire();
  try {
    schema::LiveSchema live = Describe(c);
    Release(c);
    return live;
  } catch (...) {
    PQfinish(c);
    throw;
  }
}

PgStorage::PgStorage(std::string conninfo) : conninfo_(std::move(conninfo)) {
  PGconn* c = Acquire();
  try {
    Exec(c, "BEGIN");
    Exec(c, kSchemaLock);
    // Altering takes a table from every other server's transactions, so the
    // migration has steps only where the database lacks something.
    for (const std::string& step : schema::Migration(Describe(c), schema::kPostgres))
      Exec(c, step.c_str());
    Exec(c, schema::CreateStatements(schema::kPostgres).c_str());
    Exec(c, "COMMIT");
  } catch (const std::exception& e) {
    PQfinish(c);
    throw PgError("database " + conninfo_ + ": " + e.what());
  }
  Release(c);
}

PgStorage::~PgStorage() {
  for (PGconn* c : idle_) PQfinish(c);
}

PGconn* PgStorage::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      PGconn* c = idle_.back();
      idle_.pop_back();
      return c;
    }
  }
  PGconn* c = PQconnectdb(conninfo_.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(c);
    PQfinish(c);
    while (!msg.empty() && msg.back() == '\n') msg.pop_back();
    throw PgError("cannot connect to database " + conninfo_ + ": " + msg);
  }
  // Warnings of CREATE ... IF NOT EXISTS are no news.
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  Exec(c, "SET client_min_messages = warning");
  return c;
}

void PgStorage::Release(PGconn* c) {
  // A connection that broke or still holds a transaction is not handed out again.
  if (PQstatus(c) != CONNECTION_OK || PQtransactionStatus(c) != PQTRANS_IDLE) {
    PQfinish(c);
    return;
  }
  std::lock_guard lock(mutex_);
  if (idle_.size() < 16) {
    idle_.push_back(c);
  } else {
    PQfinish(c);
  }
}

std::unique_ptr<IStorageSession> PgStorage::OpenSession() {
  return std::make_unique<PgSession>(*this, Acquire());
}

}  // namespace apura::server
