#pragma once
// What the application server stores: the tally exchange document (what an
// import brings in and the demo generator produces) and the loaded working model
// of one tally that the methods answer from.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/packet.h"
#include "framework/value.h"

namespace apura::server {

// A purchasing centre and its parameters.
struct CentreParams {
  std::string code;  // CDCENTCMP
  std::string name;
  std::string IDTIPOAPUR = "1";    // "1" economic price, "2" economic price PI, else unit price
  std::string IDBLOQUEAAF = "N";   // "S": generated AFs wait for release
  std::string IDCONSPRSOL = "N";   // "S": negotiated products of one stock product don't compete
  std::string IDEXJUSTESCM = "N";  // "S": a manual choice asks for a justification
  double monthlyRate = 0;          // financial rate per 30 days, for the economic price
  std::optional<double> budget;    // cash-flow budget for one effectuation; none = unlimited
  std::string afDirectory;         // where AF files of web products are written
};

struct Region {
  std::string code, name;
};
struct Branch {
  std::string code, name, region;
};
struct Supplier {
  std::string code, name;
};
struct Brand {
  std::string code, name;
};
struct StockProduct {
  std::string code, tree, name, unit;
  double lastPrice = 0;  // last price paid per stock unit; 0 = unknown
};
struct NegotiatedProduct {
  std::string code, stockProduct, tree, name, unit;
  double factor = 1;  // stock units in one negotiated unit (VRFATOCONV)
  bool preferred = false;
  bool web = false;  // ordered through the web: its AFs are also written as files
  double safetyStock = 0;
};

// A choice rule of the best-quote tally for one negotiated product: a supplier, a
// brand, or both. Kinds in order of strength: "O" obligatory, "R" restrictive, "P"
// preferential, "A" agreement (suppliers only).
struct ChoiceRule {
  std::string product, supplier, brand, kind;
};

struct QuoteDoc {
  std::string product, region, collection, supplier, brand;
  double unitPrice = 0;
  double freightRate = 0;  // freight and charges, fraction of the price
  double paymentDays = 0;
  double taxRate = 0;      // recoverable tax, fraction of the price
  bool priceList = false;  // from the supplier's price list (else a quotation outside it)
  double minValue = 0;
  std::string minValueFlag = "N";  // "R": an AF below minValue is refused
  double minQuantity = 0;
  std::string minQuantityFlag = "N";  // "R": an AF below minQuantity is refused
  std::string unit;
};

struct RequestDoc {
  std::string product, region, branch;
  DateTime date;
  double quantity = 0;  // in negotiated units
};

struct TallyDocument {
  CentreParams centre;
  std::string number, buyer;
  DateTime start, end;
  std::vector<Region> regions;
  std::vector<Branch> branches;
  std::vector<Supplier> suppliers;
  std::vector<Brand> brands;
  std::vector<StockProduct> stockProducts;
  std::vector<NegotiatedProduct> negotiatedProducts;
  std::vector<ChoiceRule> rules;
  std::vector<QuoteDoc> quotations;
  std::vector<RequestDoc> requests;
};

// --- The loaded working model of one tally ---------------------------------

// A list of the model shared by the versions of one tally: a write that changes
// one list copies that list only, and readers of an older version keep theirs.
template <class T>
class SharedList {
 public:
  SharedList() : p_(std::make_shared<std::vector<T>>()) {}
  size_t size() const { return p_->size(); }
  bool empty() const { return p_->empty(); }
  const T& operator[](size_t i) const { return (*p_)[i]; }
  const T* data() const { return p_->data(); }
  typename std::vector<T>::const_iterator begin() const { return p_->cbegin(); }
  typename std::vector<T>::const_iterator end() const { return p_->cend(); }
  // Whether two models share this list (no write changed it in between).
  bool SameAs(const SharedList& o) const { return p_ == o.p_; }
  // Names the list without keeping it alive; Is tells whether this is it.
  std::weak_ptr<const void> Id() const { return p_; }
  bool Is(const std::weak_ptr<const void>& id) const {
    auto held = id.lock();
    return held && held.get() == p_.get();
  }

  // The list to change: copied first when another version holds it too. Only
  // the one building a model may call this, before the model is shared.
  std::vector<T>& Edit() {
    if (p_.use_count() != 1) p_ = std::make_shared<std::vector<T>>(*p_);
    return *p_;
  }
  void push_back(T v) { Edit().push_back(std::move(v)); }
  void reserve(size_t n) { Edit().reserve(n); }

 private:
  std::shared_ptr<std::vector<T>> p_;
};

// What the server derives from one version of a tally (its packets, its row
// index), built once on first use and shared by every reader of that version.
// A copy of a model is another version, so nothing derived carries over.
class DerivedCache {
 public:
  enum Slot {
    Produto,
    Regiao,
    ProdItem,
    ApurNeg,
    PaiItmApurPrec,
    ItmApurPrec,
    Dados,
    DadosItmApurPrec,
    RowIndex,
    Names,
    kSlots
  };
  DerivedCache() { Reset(); }
  DerivedCache(const DerivedCache&) : DerivedCache() {}
  DerivedCache& operator=(const DerivedCache&) {
    Reset();
    return *this;
  }

  // The value in the slot, built by `build` (returning T) by the first caller;
  // callers at the same time wait for that one build. A build that throws
  // leaves the slot empty for the next caller.
  template <class T, class F>
  std::shared_ptr<const T> Get(Slot slot, F&& build) const {
    Entry& e = *entries_[slot];
    std::lock_guard lock(e.mutex);
    if (!e.value) e.value = std::make_shared<const T>(build());
    return std::static_pointer_cast<const T>(e.value);
  }

 private:
  struct Entry {
    std::mutex mutex;
    std::shared_ptr<const void> value;
  };
  void Reset() {
    for (auto& e : entries_) e = std::make_unique<Entry>();
  }
  std::unique_ptr<Entry> entries_[kSlots];
};

struct TallyHeader {
  std::string number, centre, buyer;
  DateTime start, end;
  bool effectuated = false;
  int64_t version = 0;        // raised by every write to the tally
  int64_t choiceVersion = 0;  // raised by those that change choices (Change::Choices)
};

struct ProductInfo {  // a negotiated product with its stock product
  std::string CDPRODITMAP, CDPRODESTO, CDARVPROD, NMPRODUTO, SGUNIDADE;
  std::string stockTree, stockName;
  double VRFATOCONV = 1, QTESTOSEGU = 0, stockLastPrice = 0;
  bool preferred = false, web = false;
};

struct QuoteLine {
  int64_t id = 0;
  int product = 0;  // index into TallyModel::products
  std::string CDPRODITMAP, CDREGITMAP, NRCOLEITMAP, CDFORNITMAP, NMFANTFORN, CDMARCITMAP, NMMARCA,
      SGUNIDADE;
  double VRPRECUNIAP = 0, PRECOECON = 0, PRECOECONPI = 0;
  double freightRate = 0, paymentDays = 0, taxRate = 0;
  bool priceList = false;
  double QTMINAUTFOT = 0, VRMINAUTFOR = 0;
  std::string IDQTMINFORN, IDVRMINFORN;
};

struct RequestLine {
  int64_t id = 0;
  std::string CDPRODITMAP, CDREGITMAP, CDFILIAP, NMFILIAL;
  double DTENTRAPUT = 0, QTSOLACOMP = 0;
};

struct Item {  // one tally price item: a quotation line for a branch request line
  int64_t id = 0;
  int32_t quote = 0, request = 0;  // indexes into the model
  bool selected = false;
  double QTACOMP = 0;
  std::string IDMOTIVPRESC, TXOBESCMANAP;
};

// No write adds or removes a delivery row or moves it to another quotation or
// request line: prices change quotation lines, choices change the rows' choice,
// quantity, reason and justification. So a packet built for one version of a
// loaded tally is a later version's with those cells rewritten.
struct BuiltPackets {
  struct Entry {
    DataPacket packet;
    int64_t version = -1;
    // The rows' choices differ from a version's only when its items list does.
    std::weak_ptr<const void> items, requests, products;
    SharedList<QuoteLine> quotes;  // small: kept to see which prices changed
  };
  std::mutex mutex;
  Entry dados, itmApurPrec;
};

struct TallyModel {
  TallyHeader header;
  CentreParams centre;
  SharedList<ProductInfo> products;
  SharedList<Region> regions;
  SharedList<ChoiceRule> rules;
  SharedList<QuoteLine> quotes;
  SharedList<RequestLine> requests;
  SharedList<Item> items;
  mutable DerivedCache derived;
  // What no write changes, shared by every version of the tally loaded once:
  // the delivery rows' keys (a price, a choice or an AF changes none of them).
  std::shared_ptr<DerivedCache> stable = std::make_shared<DerivedCache>();
  // The newest delivery packets built for any version of the tally: a later
  // version's is such a packet with what differs rewritten, not built again.
  std::shared_ptr<BuiltPackets> built = std::make_shared<BuiltPackets>();
};

// --- Generated AFs ---------------------------------------------------------

struct AfLine {
  int64_t item = 0;
  std::string product, brand, collection;
  double date = 0, quantity = 0, unitPrice = 0;
};

struct AfRecord {
  std::string number, tally, centre, destBranch, launchBranch, supplier, buyer;
  double date = 0, total = 0, quantity = 0;
  std::string status;  // "E" effective, "B" blocked for release, "I" inconsistent
  bool inconsistent = false;
  std::string error;
  bool web = false;
  std::vector<AfLine> lines;
};

// A change of one stored delivery row.
struct ItemUpdate {
  int64_t id = 0;
  bool selected = false;
  double QTACOMP = 0;
  std::string IDMOTIVPRESC, TXOBESCMANAP;
};

}  // namespace apura::server
