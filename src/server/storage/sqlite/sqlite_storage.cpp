#include "server/storage/sqlite/sqlite_storage.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>
#include <unordered_map>

#include "server/services/pricing.h"
#include "server/storage/sqlite/sqlite.h"
#include "server/storage/storage_wait.h"

namespace apura::server {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool Declared(const std::string& table) {
  for (const schema::Table& t : schema::Tables())
    if (t.name == table) return true;
  return false;
}

// A key column counts as NOT NULL: SQLite alone would let a text key be null,
// and nothing here ever stores one.
schema::LiveSchema Describe(sql::Db& db) {
  schema::LiveSchema live;
  sql::Stmt tables(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
  sql::Stmt cols(db,
                 "SELECT name, type, \"notnull\" OR pk > 0 FROM pragma_table_info(?) ORDER BY cid");
  while (tables.Step()) {
    std::string table = Lower(tables.Text(0));
    if (!Declared(table)) continue;
    auto& out = live.tables[table];
    cols.Bind(1, table);
    while (cols.Step()) out.push_back({Lower(cols.Text(0)), Lower(cols.Text(1)), cols.Int(2) != 0});
    cols.Reset();
  }
  // Indexes SQLite makes for PRIMARY KEY and UNIQUE have no SQL of their own.
  sql::Stmt indexes(db,
                    "SELECT m.name, m.tbl_name, l.\"unique\" FROM sqlite_master m "
                    "JOIN pragma_index_list(m.tbl_name) l ON l.name = m.name "
                    "WHERE m.type = 'index' AND m.sql IS NOT NULL ORDER BY m.name");
  sql::Stmt keys(db, "SELECT name FROM pragma_index_info(?) ORDER BY seqno");
  while (indexes.Step()) {
    std::string table = Lower(indexes.Text(1));
    if (!Declared(table)) continue;
    schema::LiveIndex index{table, {}, indexes.Int(2) != 0};
    std::string name = Lower(indexes.Text(0));
    keys.Bind(1, name);
    while (keys.Step()) index.columns.push_back(Lower(keys.Text(0)));
    keys.Reset();
    live.indexes[name] = std::move(index);
  }
  return live;
}

// A connection another process holds the write lock against retries until the
// caller's deadline instead of a fixed time. Connections serve one thread at a
// time, and SQLite calls this on the thread that waits.
int WaitWhileBusy(void*, int attempt) {
  thread_local std::chrono::steady_clock::time_point limit;
  auto now = std::chrono::steady_clock::now();
  if (attempt == 0) limit = WaitLimit();
  if (now >= limit) return 0;
  auto pause = std::chrono::milliseconds(attempt < 10 ? 1 : 5);
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, limit - now));
  return 1;
}

void Configure(sql::Db& db) {
  sqlite3_busy_handler(db.get(), WaitWhileBusy, nullptr);
  db.Exec("PRAGMA foreign_keys = ON; PRAGMA synchronous = NORMAL;");
}

const char* Flag(bool b) {
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
    throw sql::Error("stored tally refers to a missing row " + std::to_string(id));
  }

 private:
  std::vector<std::pair<int64_t, int32_t>> pairs_;
  int64_t base_ = 0;
  std::vector<int32_t> dense_;
  std::unordered_map<int64_t, int32_t> sparse_;
};

}  // namespace

class SqliteSession : public IStorageSession {
 public:
  SqliteSession(SqliteStorage& owner, std::unique_ptr<sql::Db> db)
      : owner_(owner), db_(std::move(db)) {}
  ~SqliteSession() override {
    if (inTransaction_) {
      try {
        db_->Exec("ROLLBACK");
      } catch (...) {
      }
    }
    LeaveQueue();
    owner_.Release(std::move(db_));
  }

  // Readers see the snapshot of their first read (WAL) and never wait. Writers of
  // this process take turns in arrival order; one of another process is waited
  // for by the busy handler; both waits end at the caller's deadline.
  void Begin(bool write) override {
    if (write) {
      owner_.writers_.Enter(WaitLimit());
      queued_ = true;
      int rc = sqlite3_exec(db_->get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) {
        LeaveQueue();
        if ((rc & 0xff) == SQLITE_BUSY) throw StorageBusy();
        db_->Fail("SQL failed (BEGIN IMMEDIATE)");
      }
    } else {
      db_->Exec("BEGIN");
    }
    inTransaction_ = true;
  }
  void Commit() override {
    db_->Exec("COMMIT");
    inTransaction_ = false;
    LeaveQueue();
  }
  void Rollback() override {
    inTransaction_ = false;
    try {
      db_->Exec("ROLLBACK");
    } catch (...) {
      LeaveQueue();
      throw;
    }
    LeaveQueue();
  }

  std::optional<CentreParams> Centre(const std::string& code) override {
    sql::Stmt s(*db_,
                "SELECT NMCENTCMP, IDTIPOAPUR, IDBLOQUEAAF, IDCONSPRSOL, IDEXJUSTESCM, "
                "TXFINMENSAL, VRORCAMENTO, DSDIRAFWEB FROM centro WHERE CDCENTCMP = ?");
    s.Bind(1, code);
    if (!s.Step()) return std::nullopt;
    CentreParams c;
    c.code = code;
    c.name = s.Text(0);
    c.IDTIPOAPUR = s.Text(1);
    c.IDBLOQUEAAF = s.Text(2);
    c.IDCONSPRSOL = s.Text(3);
    c.IDEXJUSTESCM = s.Text(4);
    c.monthlyRate = s.Double(5);
    if (!s.IsNull(6)) c.budget = s.Double(6);
    c.afDirectory = s.Text(7);
    return c;
  }

  std::optional<TallyHeader> Tally(const std::string& number) override {
    sql::Stmt s(*db_,
                "SELECT CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL, IDEFETIVADA, NRVERSAO, "
                "NRVERSAOESCOLHA FROM apuracao WHERE NRSEQAPUR = ?");
    s.Bind(1, number);
    if (!s.Step()) return std::nullopt;
    TallyHeader h;
    h.number = number;
    h.centre = s.Text(0);
    h.buyer = s.Text(1);
    h.start = DateTime{s.Double(2)};
    h.end = DateTime{s.Double(3)};
    h.effectuated = s.Text(4) == "S";
    h.version = s.Int(5);
    h.choiceVersion = s.Int(6);
    return h;
  }

  TallyModel LoadTally(const TallyHeader& header) override {
    TallyModel m;
    m.header = header;
    if (auto c = Centre(header.centre)) m.centre = *c;
    const std::string& nr = header.number;

    std::unordered_map<std::string, int> productIndex;
    {
      sql::Stmt s(*db_,
                  "SELECT n.CDPRODITMAP, n.CDPRODESTO, n.CDARVPROD, n.NMPRODUTO, n.SGUNIDADE, "
                  "e.CDARVPROD, e.NMPRODUTO, n.VRFATOCONV, n.QTESTOSEGU, e.VRULTPRECO, "
                  "n.IDPRODPREF, n.IDPRODWEB FROM produto_negociado n "
                  "JOIN produto_estoque e ON e.CDPRODUTO = n.CDPRODESTO "
                  "WHERE n.CDPRODITMAP IN (SELECT CDPRODITMAP FROM cotacao WHERE NRSEQAPUR = ?1 "
                  "UNION SELECT CDPRODITMAP FROM solicitacao WHERE NRSEQAPUR = ?1) "
                  "ORDER BY n.CDPRODITMAP");
      s.Bind(1, nr);
      while (s.Step()) {
        ProductInfo p;
        p.CDPRODITMAP = s.Text(0);
        p.CDPRODESTO = s.Text(1);
        p.CDARVPROD = s.Text(2);
        p.NMPRODUTO = s.Text(3);
        p.SGUNIDADE = s.Text(4);
        p.stockTree = s.Text(5);
        p.stockName = s.Text(6);
        p.VRFATOCONV = s.Double(7);
        p.QTESTOSEGU = s.Double(8);
        p.stockLastPrice = s.Double(9);
        p.preferred = s.Text(10) == "S";
        p.web = s.Text(11) == "S";
        productIndex[p.CDPRODITMAP] = static_cast<int>(m.products.size());
        m.products.push_back(std::move(p));
      }
    }
    {
      sql::Stmt s(*db_,
                  "SELECT CDREGIAO, NMREGIAO FROM regiao WHERE CDREGIAO IN "
                  "(SELECT CDREGITMAP FROM cotacao WHERE NRSEQAPUR = ?1 "
                  "UNION SELECT CDREGITMAP FROM solicitacao WHERE NRSEQAPUR = ?1) "
                  "ORDER BY CDREGIAO");
      s.Bind(1, nr);
      while (s.Step()) m.regions.push_back({std::string(s.Text(0)), std::string(s.Text(1))});
    }
    {
      sql::Stmt s(*db_,
                  "SELECT CDPRODITMAP, CDFORNECED, CDMARCA, IDTIPOREGRA FROM regra_escolha "
                  "WHERE NRSEQAPUR = ?");
      s.Bind(1, nr);
      while (s.Step()) {
        m.rules.push_back({std::string(s.Text(0)), std::string(s.Text(1)), std::string(s.Text(2)),
                           std::string(s.Text(3))});
      }
    }
    IdIndex quoteIndex, requestIndex;
    {
      sql::Stmt s(*db_,
                  "SELECT c.ID, c.CDPRODITMAP, c.CDREGITMAP, c.NRCOLEITMAP, c.CDFORNITMAP, "
                  "f.NMFANTFORN, c.CDMARCITMAP, m.NMMARCA, c.SGUNIDADE, c.VRPRECUNIAP, "
                  "c.PRECOECON, c.PRECOECONPI, c.TXFRETEENC, c.NRPRAZOPGTO, c.TXIMPRECUP, "
                  "c.IDLISTAPREC, c.QTMINAUTFOT, c.VRMINAUTFOR, c.IDQTMINFORN, c.IDVRMINFORN "
                  "FROM cotacao c JOIN fornecedor f ON f.CDFORNECED = c.CDFORNITMAP "
                  "JOIN marca m ON m.CDMARCA = c.CDMARCITMAP WHERE c.NRSEQAPUR = ? "
                  "ORDER BY c.ID");
      s.Bind(1, nr);
      while (s.Step()) {
        QuoteLine q;
        q.id = s.Int(0);
        q.CDPRODITMAP = s.Text(1);
        q.CDREGITMAP = s.Text(2);
        q.NRCOLEITMAP = s.Text(3);
        q.CDFORNITMAP = s.Text(4);
        q.NMFANTFORN = s.Text(5);
        q.CDMARCITMAP = s.Text(6);
        q.NMMARCA = s.Text(7);
        q.SGUNIDADE = s.Text(8);
        q.VRPRECUNIAP = s.Double(9);
        q.PRECOECON = s.Double(10);
        q.PRECOECONPI = s.Double(11);
        q.freightRate = s.Double(12);
        q.paymentDays = s.Double(13);
        q.taxRate = s.Double(14);
        q.priceList = s.Text(15) == "S";
        q.QTMINAUTFOT = s.Double(16);
        q.VRMINAUTFOR = s.Double(17);
        q.IDQTMINFORN = s.Text(18);
        q.IDVRMINFORN = s.Text(19);
        q.product = productIndex.at(q.CDPRODITMAP);
        quoteIndex.Add(q.id, static_cast<int32_t>(m.quotes.size()));
        m.quotes.push_back(std::move(q));
      }
    }
    {
      sql::Stmt s(*db_,
                  "SELECT r.ID, r.CDPRODITMAP, r.CDREGITMAP, r.CDFILIAP, f.NMFILIAL, "
                  "r.DTENTRAPUT, r.QTSOLACOMP FROM solicitacao r "
                  "JOIN filial f ON f.CDFILIAL = r.CDFILIAP WHERE r.NRSEQAPUR = ? ORDER BY r.ID");
      s.Bind(1, nr);
      while (s.Step()) {
        RequestLine r;
        r.id = s.Int(0);
        r.CDPRODITMAP = s.Text(1);
        r.CDREGITMAP = s.Text(2);
        r.CDFILIAP = s.Text(3);
        r.NMFILIAL = s.Text(4);
        r.DTENTRAPUT = s.Double(5);
        r.QTSOLACOMP = s.Double(6);
        requestIndex.Add(r.id, static_cast<int32_t>(m.requests.size()));
        m.requests.push_back(std::move(r));
      }
    }
    quoteIndex.Seal();
    requestIndex.Seal();
    int64_t firstItem = 0, lastItem = -1;
    {
      sql::Stmt s(*db_, "SELECT COUNT(*), MIN(ID), MAX(ID) FROM item_apuracao WHERE NRSEQAPUR = ?");
      s.Bind(1, nr);
      s.Step();
      m.items.reserve(static_cast<size_t>(s.Int(0)));
      firstItem = s.Int(1);
      lastItem = s.Int(2);
    }
    {
      // The items of a tally were stored together: read their id range in table
      // order (the "+" keeps SQLite from hopping through the tally index).
      sql::Stmt s(*db_,
                  "SELECT ID, ID_COTACAO, ID_SOLICITACAO, IDITMSELAPUR, QTACOMP, IDMOTIVPRESC, "
                  "TXOBESCMANAP FROM item_apuracao WHERE ID BETWEEN ?2 AND ?3 AND "
                  "+NRSEQAPUR = ?1 ORDER BY ID");
      s.Bind(1, nr).Bind(2, firstItem).Bind(3, lastItem);
      while (s.Step()) {
        Item it;
        it.id = s.Int(0);
        it.quote = quoteIndex.At(s.Int(1));
        it.request = requestIndex.At(s.Int(2));
        it.selected = s.Text(3) == "S";
        it.QTACOMP = s.Double(4);
        it.IDMOTIVPRESC = s.Text(5);
        it.TXOBESCMANAP = s.Text(6);
        m.items.push_back(std::move(it));
      }
    }
    return m;
  }

  // Rows cleared already are left alone: most of a tally's rows are.
  void ClearSelections(const std::string& tally) override {
    sql::Stmt s(
        *db_,
        "UPDATE item_apuracao SET IDITMSELAPUR = 'N', IDMOTIVPRESC = '', "
        "QTACOMP = (SELECT QTSOLACOMP FROM solicitacao r WHERE r.ID = ID_SOLICITACAO) "
        "WHERE NRSEQAPUR = ? AND (IDITMSELAPUR <> 'N' OR IDMOTIVPRESC <> '' OR "
        "QTACOMP IS NOT (SELECT QTSOLACOMP FROM solicitacao r WHERE r.ID = ID_SOLICITACAO))");
    s.Bind(1, tally).Run();
  }

  void UpdateItems(const std::vector<ItemUpdate>& updates) override {
    sql::Stmt s(*db_,
                "UPDATE item_apuracao SET IDITMSELAPUR = ?, QTACOMP = ?, IDMOTIVPRESC = ?, "
                "TXOBESCMANAP = ? WHERE ID = ?");
    for (const ItemUpdate& u : updates) {
      s.Bind(1, std::string_view(Flag(u.selected)))
          .Bind(2, u.QTACOMP)
          .Bind(3, u.IDMOTIVPRESC)
          .Bind(4, u.TXOBESCMANAP)
          .Bind(5, u.id)
          .Run();
    }
  }

  void UpdateQuotePrices(int64_t quoteId, double unitPrice, double econ, double econPi) override {
    sql::Stmt s(*db_,
                "UPDATE cotacao SET VRPRECUNIAP = ?, PRECOECON = ?, PRECOECONPI = ? WHERE ID = ?");
    s.Bind(1, unitPrice).Bind(2, econ).Bind(3, econPi).Bind(4, quoteId).Run();
  }

  void SetEffectuated(const std::string& tally, bool effectuated, double date) override {
    sql::Stmt s(*db_, "UPDATE apuracao SET IDEFETIVADA = ?, DTEFETIVACAO = ? WHERE NRSEQAPUR = ?");
    s.Bind(1, std::string_view(Flag(effectuated)));
    if (effectuated) {
      s.Bind(2, date);
    } else {
      s.BindNull(2);
    }
    s.Bind(3, tally).Run();
  }

  void BumpVersion(const std::string& tally, Change what) override {
    sql::Stmt s(*db_, what == Change::Choices
                          ? "UPDATE apuracao SET NRVERSAO = NRVERSAO + 1, "
                            "NRVERSAOESCOLHA = NRVERSAOESCOLHA + 1 WHERE NRSEQAPUR = ?"
                          : "UPDATE apuracao SET NRVERSAO = NRVERSAO + 1 WHERE NRSEQAPUR = ?");
    s.Bind(1, tally).Run();
  }

  std::string NextAfNumber() override { return std::to_string(ReserveAfNumbers(1)); }

  // The first of `n` consecutive AF numbers, taken in one statement.
  int64_t ReserveAfNumbers(int64_t n) {
    sql::Stmt seq(*db_,
                  "INSERT INTO sequencia (NMSEQUENCIA, VRATUAL) VALUES ('AF', ?) "
                  "ON CONFLICT (NMSEQUENCIA) DO UPDATE SET VRATUAL = VRATUAL + excluded.VRATUAL "
                  "RETURNING VRATUAL");
    seq.Bind(1, n);
    if (!seq.Step()) throw std::runtime_error("SQL failed: no AF number returned");
    const int64_t last = seq.Int(0);
    seq.Reset();
    return last - n + 1;
  }

  void InsertAf(const AfRecord& af) override {
    std::vector<AfRecord> one{af};
    StoreAfs(one);
  }

  // One effectuation's AFs: their numbers in one step, and each statement
  // prepared once however many AFs and lines there are.
  void InsertAfs(std::vector<AfRecord>& afs) override {
    if (afs.empty()) return;
    int64_t next = ReserveAfNumbers(static_cast<int64_t>(afs.size()));
    for (AfRecord& af : afs) af.number = std::to_string(next++);
    StoreAfs(afs);
  }

  void StoreAfs(const std::vector<AfRecord>& afs) {
    sql::Stmt h(*db_,
                "INSERT INTO autorizacao (NRAUTOFORN, NRSEQAPUR, CDCENTCMP, CDFILDEST, CDFILLANC, "
                "CDFORNECED, CDCOMPRADOR, DTAUTOFORN, VRTOTALAF, QTTOTALAF, IDSITUATUAAF, IDERRO, "
                "DSERRO, IDAFPRODWEB) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    sql::Stmt l(*db_,
                "INSERT INTO autorizacao_item (NRAUTOFORN, NRITEM, ID_ITEM, CDPRODITMAP, CDMARCA, "
                "NRCOLEITMAP, DTENTRAPUT, QTACOMP, VRPRECUNIAP) VALUES (?,?,?,?,?,?,?,?,?)");
    for (const AfRecord& af : afs) {
      h.Bind(1, af.number)
          .Bind(2, af.tally)
          .Bind(3, af.centre)
          .Bind(4, af.destBranch)
          .Bind(5, af.launchBranch)
          .Bind(6, af.supplier)
          .Bind(7, af.buyer)
          .Bind(8, af.date)
          .Bind(9, af.total)
          .Bind(10, af.quantity)
          .Bind(11, af.status)
          .Bind(12, std::string_view(Flag(af.inconsistent)))
          .Bind(13, af.error)
          .Bind(14, std::string_view(Flag(af.web)))
          .Run();
      int n = 0;
      for (const AfLine& line : af.lines) {
        l.Bind(1, af.number)
            .Bind(2, ++n)
            .Bind(3, line.item)
            .Bind(4, line.product)
            .Bind(5, line.brand)
            .Bind(6, line.collection)
            .Bind(7, line.date)
            .Bind(8, line.quantity)
            .Bind(9, line.unitPrice)
            .Run();
      }
    }
  }

  int DeleteAfs(const std::string& tally, const std::string& branch) override {
    sql::Stmt l(*db_,
                "DELETE FROM autorizacao_item WHERE NRAUTOFORN IN "
                "(SELECT NRAUTOFORN FROM autorizacao WHERE NRSEQAPUR = ? AND CDFILLANC = ?)");
    l.Bind(1, tally).Bind(2, branch).Run();
    sql::Stmt h(*db_, "DELETE FROM autorizacao WHERE NRSEQAPUR = ? AND CDFILLANC = ?");
    h.Bind(1, tally).Bind(2, branch).Run();
    return sqlite3_changes(db_->get());
  }

  bool HasAfs(const std::string& tally) override {
    sql::Stmt s(*db_, "SELECT 1 FROM autorizacao WHERE NRSEQAPUR = ? LIMIT 1");
    s.Bind(1, tally);
    return s.Step();
  }

  std::vector<AfRecord> Afs(const std::string& tally) override { return ReadAfs(tally, true); }
  std::vector<AfRecord> OrderedAfs(const std::string& tally) override {
    return ReadAfs(tally, false);
  }
  std::vector<AfRecord> ReadAfs(const std::string& tally, bool whole) {
    std::vector<AfRecord> out;
    sql::Stmt h(*db_,
                "SELECT NRAUTOFORN, CDCENTCMP, CDFILDEST, CDFILLANC, CDFORNECED, CDCOMPRADOR, "
                "DTAUTOFORN, VRTOTALAF, QTTOTALAF, IDSITUATUAAF, IDERRO, DSERRO, IDAFPRODWEB "
                "FROM autorizacao WHERE NRSEQAPUR = ? ORDER BY CAST(NRAUTOFORN AS INTEGER)");
    h.Bind(1, tally);
    while (h.Step()) {
      AfRecord af;
      af.number = h.Text(0);
      af.tally = tally;
      af.centre = h.Text(1);
      af.destBranch = h.Text(2);
      af.launchBranch = h.Text(3);
      af.supplier = h.Text(4);
      af.buyer = h.Text(5);
      af.date = h.Double(6);
      af.total = h.Double(7);
      af.quantity = h.Double(8);
      af.status = h.Text(9);
      af.inconsistent = h.Text(10) == "S";
      af.error = h.Text(11);
      af.web = h.Text(12) == "S";
      out.push_back(std::move(af));
    }
    sql::Stmt l(*db_, whole ? "SELECT ID_ITEM, CDPRODITMAP, CDMARCA, NRCOLEITMAP, DTENTRAPUT, "
                              "QTACOMP, VRPRECUNIAP FROM autorizacao_item WHERE NRAUTOFORN = ? "
                              "ORDER BY NRITEM"
                            : "SELECT ID_ITEM FROM autorizacao_item WHERE NRAUTOFORN = ? "
                              "ORDER BY NRITEM");
    for (AfRecord& af : out) {
      l.Bind(1, af.number);
      while (l.Step()) {
        if (whole)
          af.lines.push_back({l.Int(0), std::string(l.Text(1)), std::string(l.Text(2)),
                              std::string(l.Text(3)), l.Double(4), l.Double(5), l.Double(6)});
        else
          af.lines.push_back({l.Int(0), {}, {}, {}, 0, 0, 0});
      }
      l.Reset();
    }
    return out;
  }

  void ImportTally(const TallyDocument& doc) override;

 private:
  void LeaveQueue() {
    if (queued_) owner_.writers_.Leave();
    queued_ = false;
  }

  SqliteStorage& owner_;
  std::unique_ptr<sql::Db> db_;
  bool inTransaction_ = false;
  bool queued_ = false;
};

void SqliteSession::ImportTally(const TallyDocument& doc) {
  sql::Db& db = *db_;
  {
    sql::Stmt s(db,
                "INSERT OR REPLACE INTO centro (CDCENTCMP, NMCENTCMP, IDTIPOAPUR, IDBLOQUEAAF, "
                "IDCONSPRSOL, IDEXJUSTESCM, TXFINMENSAL, VRORCAMENTO, DSDIRAFWEB) "
                "VALUES (?,?,?,?,?,?,?,?,?)");
    const CentreParams& c = doc.centre;
    s.Bind(1, c.code)
        .Bind(2, c.name)
        .Bind(3, c.IDTIPOAPUR)
        .Bind(4, c.IDBLOQUEAAF)
        .Bind(5, c.IDCONSPRSOL)
        .Bind(6, c.IDEXJUSTESCM)
        .Bind(7, c.monthlyRate);
    if (c.budget) {
      s.Bind(8, *c.budget);
    } else {
      s.BindNull(8);
    }
    s.Bind(9, c.afDirectory).Run();
  }
  {
    sql::Stmt s(db, "INSERT OR REPLACE INTO regiao (CDREGIAO, NMREGIAO) VALUES (?,?)");
    for (const Region& r : doc.regions) s.Bind(1, r.code).Bind(2, r.name).Run();
  }
  {
    sql::Stmt s(db, "INSERT OR REPLACE INTO filial (CDFILIAL, NMFILIAL, CDREGIAO) VALUES (?,?,?)");
    for (const Branch& b : doc.branches) s.Bind(1, b.code).Bind(2, b.name).Bind(3, b.region).Run();
  }
  {
    sql::Stmt s(db, "INSERT OR REPLACE INTO fornecedor (CDFORNECED, NMFANTFORN) VALUES (?,?)");
    for (const Supplier& f : doc.suppliers) s.Bind(1, f.code).Bind(2, f.name).Run();
  }
  {
    sql::Stmt s(db, "INSERT OR REPLACE INTO marca (CDMARCA, NMMARCA) VALUES (?,?)");
    for (const Brand& b : doc.brands) s.Bind(1, b.code).Bind(2, b.name).Run();
  }
  {
    sql::Stmt s(db,
                "INSERT OR REPLACE INTO produto_estoque (CDPRODUTO, CDARVPROD, NMPRODUTO, "
                "SGUNIDADE, VRULTPRECO) VALUES (?,?,?,?,?)");
    for (const StockProduct& p : doc.stockProducts) {
      s.Bind(1, p.code).Bind(2, p.tree).Bind(3, p.name).Bind(4, p.unit).Bind(5, p.lastPrice).Run();
    }
  }
  {
    sql::Stmt s(db,
                "INSERT OR REPLACE INTO produto_negociado (CDPRODITMAP, CDPRODESTO, CDARVPROD, "
                "NMPRODUTO, SGUNIDADE, VRFATOCONV, IDPRODPREF, IDPRODWEB, QTESTOSEGU) "
                "VALUES (?,?,?,?,?,?,?,?,?)");
    for (const NegotiatedProduct& p : doc.negotiatedProducts) {
      s.Bind(1, p.code)
          .Bind(2, p.stockProduct)
          .Bind(3, p.tree)
          .Bind(4, p.name)
          .Bind(5, p.unit)
          .Bind(6, p.factor)
          .Bind(7, std::string_view(Flag(p.preferred)))
          .Bind(8, std::string_view(Flag(p.web)))
          .Bind(9, p.safetyStock)
          .Run();
    }
  }
  {
    sql::Stmt s(db,
                "INSERT INTO apuracao (NRSEQAPUR, CDCENTCMP, CDCOMPRADOR, DTINICIAL, DTFINAL) "
                "VALUES (?,?,?,?,?)");
    s.Bind(1, doc.number)
        .Bind(2, doc.centre.code)
        .Bind(3, doc.buyer)
        .Bind(4, doc.start.days)
        .Bind(5, doc.end.days)
        .Run();
  }
  {
    sql::Stmt s(db,
                "INSERT INTO regra_escolha (NRSEQAPUR, CDPRODITMAP, CDFORNECED, CDMARCA, "
                "IDTIPOREGRA) VALUES (?,?,?,?,?)");
    for (const ChoiceRule& r : doc.rules) {
      s.Bind(1, doc.number).Bind(2, r.product).Bind(3, r.supplier).Bind(4, r.brand).Bind(5, r.kind);
      s.Run();
    }
  }
  std::unordered_map<std::string, double> factorOf;
  for (const NegotiatedProduct& p : doc.negotiatedProducts) factorOf[p.code] = p.factor;
  std::vector<int64_t> quoteIds;
  quoteIds.reserve(doc.quotations.size());
  {
    sql::Stmt s(
        db,
        "INSERT INTO cotacao (NRSEQAPUR, CDPRODITMAP, CDREGITMAP, NRCOLEITMAP, CDFORNITMAP, "
        "CDMARCITMAP, VRPRECUNIAP, PRECOECON, PRECOECONPI, TXFRETEENC, NRPRAZOPGTO, "
        "TXIMPRECUP, IDLISTAPREC, QTMINAUTFOT, IDQTMINFORN, VRMINAUTFOR, IDVRMINFORN, "
        "SGUNIDADE) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const QuoteDoc& q : doc.quotations) {
      auto f = factorOf.find(q.product);
      EconomicPrices e =
          ComputeEconomicPrices(q.unitPrice, f == factorOf.end() ? 1 : f->second, q.freightRate,
                                q.paymentDays, doc.centre.monthlyRate, q.taxRate);
      s.Bind(1, doc.number)
          .Bind(2, q.product)
          .Bind(3, q.region)
          .Bind(4, q.collection)
          .Bind(5, q.supplier)
          .Bind(6, q.brand)
          .Bind(7, q.unitPrice)
          .Bind(8, e.econ)
          .Bind(9, e.econPi)
          .Bind(10, q.freightRate)
          .Bind(11, q.paymentDays)
          .Bind(12, q.taxRate)
          .Bind(13, std::string_view(Flag(q.priceList)))
          .Bind(14, q.minQuantity)
          .Bind(15, q.minQuantityFlag)
          .Bind(16, q.minValue)
          .Bind(17, q.minValueFlag)
          .Bind(18, q.unit)
          .Run();
      quoteIds.push_back(sqlite3_last_insert_rowid(db.get()));
    }
  }
  std::vector<int64_t> requestIds;
  requestIds.reserve(doc.requests.size());
  {
    sql::Stmt s(db,
                "INSERT INTO solicitacao (NRSEQAPUR, CDPRODITMAP, CDREGITMAP, CDFILIAP, "
                "DTENTRAPUT, QTSOLACOMP) VALUES (?,?,?,?,?,?)");
    for (const RequestDoc& r : doc.requests) {
      s.Bind(1, doc.number)
          .Bind(2, r.product)
          .Bind(3, r.region)
          .Bind(4, r.branch)
          .Bind(5, r.date.days)
          .Bind(6, r.quantity)
          .Run();
      requestIds.push_back(sqlite3_last_insert_rowid(db.get()));
    }
  }
  // One tally price item per quotation line and branch request line of the same
  // negotiated product and region, ordered by quotation line, then request.
  {
    std::unordered_map<std::string, std::vector<size_t>> requestsOf;
    for (size_t i = 0; i < doc.requests.size(); ++i) {
      requestsOf[doc.requests[i].product + '\x1f' + doc.requests[i].region].push_back(i);
    }
    sql::Stmt s(db,
                "INSERT INTO item_apuracao (NRSEQAPUR, ID_COTACAO, ID_SOLICITACAO, QTACOMP) "
                "VALUES (?,?,?,?)");
    for (size_t q = 0; q < doc.quotations.size(); ++q) {
      auto it = requestsOf.find(doc.quotations[q].product + '\x1f' + doc.quotations[q].region);
      if (it == requestsOf.end()) continue;
      for (size_t r : it->second) {
        s.Bind(1, doc.number)
            .Bind(2, quoteIds[q])
            .Bind(3, requestIds[r])
            .Bind(4, doc.requests[r].quantity)
            .Run();
      }
    }
  }
}

SqliteStorage::SqliteStorage(std::string path) : path_(std::move(path)) {
  auto db = std::make_unique<sql::Db>(path_);
  // Opening succeeds on any file; a file that is no database (or a schema that
  // cannot be created) shows here, and the operator must learn which file.
  try {
    db->Exec("PRAGMA journal_mode = WAL");
    Configure(*db);
    // A current file is only read: another connection may hold the write lock
    // for as long as its caller's deadline. Otherwise one process at a time
    // brings the file up to the schema; another one opening it meanwhile
    // waits, then finds nothing left to do.
    if (!schema::IsCurrent(Describe(*db), schema::kSqlite)) {
      db->Exec("BEGIN IMMEDIATE");
      try {
        for (const std::string& step : schema::Migration(Describe(*db), schema::kSqlite))
          db->Exec(step.c_str());
        db->Exec(schema::CreateStatements(schema::kSqlite).c_str());
        db->Exec("COMMIT");
      } catch (...) {
        sqlite3_exec(db->get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
  } catch (const sql::Error& e) {
    throw sql::Error("database " + path_ + ": " + e.what());
  }
  idle_.push_back(std::move(db));
}

SqliteStorage::~SqliteStorage() = default;

schema::LiveSchema SqliteStorage::DescribeSchema() {
  auto db = Acquire();
  schema::LiveSchema live = Describe(*db);
  Release(std::move(db));
  return live;
}

std::unique_ptr<sql::Db> SqliteStorage::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto db = std::move(idle_.back());
      idle_.pop_back();
      return db;
    }
  }
  auto db = std::make_unique<sql::Db>(path_, false);
  Configure(*db);
  return db;
}

void SqliteStorage::Release(std::unique_ptr<sql::Db> db) {
  std::lock_guard lock(mutex_);
  if (idle_.size() < 8) idle_.push_back(std::move(db));
}

std::unique_ptr<IStorageSession> SqliteStorage::OpenSession() {
  return std::make_unique<SqliteSession>(*this, Acquire());
}

}  // namespace apura::server
