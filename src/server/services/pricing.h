#pragma once
// Prices and the best-quote choice: pure functions over a loaded tally.

#include <string>
#include <vector>

#include "server/model.h"

namespace apura::server {

struct EconomicPrices {
  double econ = 0;    // PRECOECON
  double econPi = 0;  // PRECOECONPI
};

// The economic price puts quotations with different packs, freight and payment
// terms on one footing: the price of one stock unit, delivered, paid today.
//
//   PRECOECON   = VRPRECUNIAP / VRFATOCONV * (1 + freightRate)
//                 / (1 + monthlyRate) ^ (paymentDays / 30)
//   PRECOECONPI = PRECOECON * (1 - taxRate)
//
// The unit price is divided by the conversion factor (stock units per negotiated
// unit), raised by the freight and charges rate, and discounted at the centre's
// monthly financial rate for the payment term in days (a 30-day month, compound).
// The PI price is that net of the quotation's recoverable tax rate. A factor that
// is not positive counts as 1.
EconomicPrices ComputeEconomicPrices(double unitPrice, double factor, double freightRate,
                                     double paymentDays, double monthlyRate, double taxRate);

// The price a tally type ranks by: "1" PRECOECON, "2" PRECOECONPI, else VRPRECUNIAP.
double RankingPrice(const QuoteLine& q, const std::string& tipoApur);
// The same, per stock unit, for comparing negotiated products of one stock
// product: economic prices already are; the unit price is divided by the factor.
double RankingPricePerStockUnit(const QuoteLine& q, const ProductInfo& p,
                                const std::string& tipoApur);

struct BestQuoteChoice {
  std::vector<int> chosenQuotes;       // indexes into the model's quotes
  std::vector<ItemUpdate> selected;    // the delivery rows the choices cover
  std::vector<int32_t> selectedItems;  // their indexes into the model's items
};

// The server's best-quote tally over a model whose selections count as cleared:
//  1. Per negotiated product and region, the candidates are the quotation lines
//     with a unit price above zero that cover at least one delivery row.
//  2. Choice rules narrow them: among candidates matching a rule of the product,
//     those matching the strongest kind present ("O" > "R" > "P" > "A") remain.
//  3. The cheapest by the tally type's price wins; ties go to the lower
//     collection, then supplier, then brand.
//  4. Unless IDCONSPRSOL is "S", the winners of the negotiated products of one
//     stock product compete per region: a preferred product wins over one that is
//     not, otherwise the lower price per stock unit (ties: collection, supplier,
//     brand, product); only the overall winner is chosen.
// Every delivery row of a chosen line is selected with its requested quantity and
// the reason code (positions: 1 preferred product "1"; 2 supplier-and-brand rule
// "7"/"8"/"9"; 3 supplier rule "4"/"5"/"6"/"A"; 4 brand rule "1"/"2"/"3" for
// obligatory/preferential/restrictive; 5 "1" price list, "2" quotation; "0" where
// a criterion did not apply).
BestQuoteChoice ChooseBestQuotes(const TallyModel& m);

}  // namespace apura::server
