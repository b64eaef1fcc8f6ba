#pragma once
// What the application server stores: the tally exchange document (what an
// import brings in and the demo generator produces) and the loaded working model
// of one tally that the methods answer from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

struct TallyHeader {
  std::string number, centre, buyer;
  DateTime start, end;
  bool effectuated = false;
  int64_t version = 0;  // raised by every write to the tally
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

struct TallyModel {
  TallyHeader header;
  CentreParams centre;
  std::vector<ProductInfo> products;
  std::vector<Region> regions;
  std::vector<ChoiceRule> rules;
  std::vector<QuoteLine> quotes;
  std::vector<RequestLine> requests;
  std::vector<Item> items;
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
