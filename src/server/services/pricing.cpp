#include "server/services/pricing.h"

#include <cmath>
#include <map>
#include <tuple>

namespace apura::server {

EconomicPrices ComputeEconomicPrices(double unitPrice, double factor, double freightRate,
                                     double paymentDays, double monthlyRate, double taxRate) {
  if (!(factor > 0)) factor = 1;
  double discount = std::pow(1 + monthlyRate, paymentDays / 30.0);
  if (!(discount > 0)) discount = 1;
  EconomicPrices p;
  p.econ = unitPrice / factor * (1 + freightRate) / discount;
  p.econPi = p.econ * (1 - taxRate);
  return p;
}

double RankingPrice(const QuoteLine& q, const std::string& tipoApur) {
  if (tipoApur == "1") return q.PRECOECON;
  if (tipoApur == "2") return q.PRECOECONPI;
  return q.VRPRECUNIAP;
}

double RankingPricePerStockUnit(const QuoteLine& q, const ProductInfo& p,
                                const std::string& tipoApur) {
  if (tipoApur == "1" || tipoApur == "2") return RankingPrice(q, tipoApur);
  return q.VRPRECUNIAP / (p.VRFATOCONV > 0 ? p.VRFATOCONV : 1);
}

namespace {

int Strength(const std::string& kind) {
  if (kind == "O") return 0;
  if (kind == "R") return 1;
  if (kind == "P") return 2;
  if (kind == "A") return 3;
  return 4;
}

bool Matches(const ChoiceRule& r, const QuoteLine& q) {
  if (r.supplier.empty() && r.brand.empty()) return false;
  return (r.supplier.empty() || r.supplier == q.CDFORNITMAP) &&
         (r.brand.empty() || r.brand == q.CDMARCITMAP);
}

auto TieKey(const QuoteLine& q) {
  return std::tie(q.NRCOLEITMAP, q.CDFORNITMAP, q.CDMARCITMAP);
}

std::string ReasonCode(const std::vector<const ChoiceRule*>& rules, const QuoteLine& q,
                       bool byPreferredProduct) {
  std::string code = "00000";
  if (byPreferredProduct) code[0] = '1';
  int best[3] = {4, 4, 4};  // supplier-and-brand, supplier, brand
  for (const ChoiceRule* r : rules) {
    if (!Matches(*r, q)) continue;
    int scope = !r->supplier.empty() && !r->brand.empty() ? 0 : !r->supplier.empty() ? 1 : 2;
    best[scope] = std::min(best[scope], Strength(r->kind));
  }
  static const char* kBoth = "798";       // O R P -> 7 9 8
  static const char* kSupplier = "4658";  // O R P A -> 4 6 5 A
  static const char* kBrand = "132";      // O R P -> 1 3 2
  if (best[0] < 3) code[1] = kBoth[best[0]];
  if (best[1] < 4) code[2] = best[1] == 3 ? 'A' : kSupplier[best[1]];
  if (best[2] < 3) code[3] = kBrand[best[2]];
  code[4] = q.priceList ? '1' : '2';
  return code;
}

}  // namespace

BestQuoteChoice ChooseBestQuotes(const TallyModel& m) {
  const std::string& tipo = m.centre.IDTIPOAPUR;
  std::vector<std::vector<int32_t>> itemsOf(m.quotes.size());
  for (size_t i = 0; i < m.items.size(); ++i) {
    itemsOf[m.items[i].quote].push_back(static_cast<int32_t>(i));
  }
  std::map<std::string, std::vector<const ChoiceRule*>> rulesOf;
  for (const ChoiceRule& r : m.rules) rulesOf[r.product].push_back(&r);

  // Step 1-3: a winner per negotiated product and region.
  std::map<std::pair<int, std::string>, std::vector<int>> groups;
  for (size_t q = 0; q < m.quotes.size(); ++q) {
    const QuoteLine& line = m.quotes[q];
    if (line.VRPRECUNIAP > 0 && !itemsOf[q].empty()) {
      groups[{line.product, line.CDREGITMAP}].push_back(static_cast<int>(q));
    }
  }
  static const std::vector<const ChoiceRule*> kNoRules;
  struct Winner {
    int quote;
    const std::vector<const ChoiceRule*>* rules;
  };
  std::map<std::pair<std::string, std::string>, std::vector<Winner>> byStock;
  for (auto& [key, candidates] : groups) {
    const ProductInfo& product = m.products[key.first];
    auto rit = rulesOf.find(product.CDPRODITMAP);
    const auto& rules = rit == rulesOf.end() ? kNoRules : rit->second;
    auto rank = [&](int q) {
      int s = 4;
      for (const ChoiceRule* r : rules) {
        if (Matches(*r, m.quotes[q])) s = std::min(s, Strength(r->kind));
      }
      return s;
    };
    int bestRank = 4;
    for (int q : candidates) bestRank = std::min(bestRank, rank(q));
    int winner = -1;
    for (int q : candidates) {
      if (rank(q) != bestRank) continue;
      if (winner < 0) {
        winner = q;
        continue;
      }
      const QuoteLine& a = m.quotes[q];
      const QuoteLine& b = m.quotes[winner];
      double pa = RankingPrice(a, tipo), pb = RankingPrice(b, tipo);
      if (pa < pb || (pa == pb && TieKey(a) < TieKey(b))) winner = q;
    }
    byStock[{product.CDPRODESTO, key.second}].push_back({winner, &rules});
  }

  // Step 4 and the marking of the delivery rows.
  BestQuoteChoice out;
  bool compete = m.centre.IDCONSPRSOL != "S";
  for (auto& [key, winners] : byStock) {
    std::vector<Winner> chosen;
    bool byPreference = false;
    if (compete && winners.size() > 1) {
      const Winner* best = nullptr;
      for (const Winner& w : winners) {
        if (!best) {
          best = &w;
          continue;
        }
        const QuoteLine& a = m.quotes[w.quote];
        const QuoteLine& b = m.quotes[best->quote];
        const ProductInfo& pa = m.products[a.product];
        const ProductInfo& pb = m.products[b.product];
        if (pa.preferred != pb.preferred) {
          if (pa.preferred) best = &w;
          continue;
        }
        double ua = RankingPricePerStockUnit(a, pa, tipo);
        double ub = RankingPricePerStockUnit(b, pb, tipo);
        if (ua < ub || (ua == ub &&
                        std::tie(a.NRCOLEITMAP, a.CDFORNITMAP, a.CDMARCITMAP, a.CDPRODITMAP) <
                            std::tie(b.NRCOLEITMAP, b.CDFORNITMAP, b.CDMARCITMAP, b.CDPRODITMAP))) {
          best = &w;
        }
      }
      const ProductInfo& bp = m.products[m.quotes[best->quote].product];
      for (const Winner& w : winners) {
        if (&w != best && !m.products[m.quotes[w.quote].product].preferred && bp.preferred) {
          byPreference = true;
        }
      }
      chosen.push_back(*best);
    } else {
      chosen = winners;
    }
    for (const Winner& w : chosen) {
      out.chosenQuotes.push_back(w.quote);
      std::string reason = ReasonCode(*w.rules, m.quotes[w.quote], byPreference);
      for (int32_t i : itemsOf[w.quote]) {
        const Item& it = m.items[i];
        out.selectedItems.push_back(i);
        out.selected.push_back(
            {it.id, true, m.requests[it.request].QTSOLACOMP, reason, it.TXOBESCMANAP});
      }
    }
  }
  return out;
}

}  // namespace apura::server
