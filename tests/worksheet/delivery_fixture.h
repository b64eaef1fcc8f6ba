#pragma once
// A worksheet on "por Entrega" over a generated tally made realistic for
// delivery editing: every branch belongs to one region, delivery rows carry
// their quotation's prices, and each chosen quotation serves every branch
// request line of its item once.

#include <algorithm>
#include <string>
#include <vector>

#include "worksheet_fixture.h"

namespace apura::testing {

class DeliveryTest : public WorksheetTest {
 protected:
  explicit DeliveryTest(GeneratedTally::Options o = {}) {
    tally = GeneratedTally(o);
    Realistic();
  }

  void Realistic() {
    std::map<std::string, const Row*> quote;
    // Economic prices rank the quotations the other way round from unit
    // prices, so a list in the wrong order cannot pass for the right one.
    for (Row& q : tally.apurNeg) q["PRECOECON"] = 100 - q.at("VRPRECUNIAP").AsFloat();
    for (const Row& q : tally.apurNeg)
      quote[Text(q, "CDPRODITMAP") + "|" + Text(q, "CDREGITMAP") + "|" + Text(q, "CDFORNITMAP")] =
          &q;
    for (size_t i = 0; i < tally.itm.size(); ++i) {
      for (Row* r : {&tally.itm[i], &tally.dados[i]}) {
        const Row& q = *quote.at(Text(*r, "CDPRODITMAP") + "|" + Text(*r, "CDREGITMAP") + "|" +
                                 Text(*r, "CDFORNITMAP"));
        (*r)["VRPRECUNIAP"] = q.at("VRPRECUNIAP");
        (*r)["VRPRECECOAP"] = q.at("PRECOECON");
        (*r)["VRPRECONPIAP"] = q.at("PRECOECONPI");
        (*r)["CDFILIAP"] = Text(*r, "CDFILIAP") + Text(*r, "CDREGITMAP").substr(0, 1);
      }
      // The ten o'clock deliveries are no branch request line's: left unchosen.
      if (Text(tally.itm[i], "IDMOTIVPRESC") == "LATE") {
        tally.itm[i]["IDITMSELAPUR"] = "N";
        tally.dados[i]["IDITMSELAPUR"] = "N";
      }
    }
    for (Row& p : tally.pai)
      p["CDFILIAP"] = Text(p, "CDFILIAP") + Text(p, "CDREGITMAP").substr(0, 1);
  }

  // Launched in the supplies module, on "por Entrega", on the first branch
  // request line of the first item that has a chosen quotation, that
  // quotation current.
  TfrmPlanApurNegGrid& Open(int modulo = 34) {
    ScriptTally();
    host.moduloAtiv = modulo;
    TfrmPlanApurNegGrid& f = Launch();
    f.Activate();
    f.mnuGeralClick(f.mnuGeral);
    for (f.cdsProdItem.First(); !f.cdsProdItem.Eof(); f.cdsProdItem.Next())
      if (f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) break;
    EXPECT_FALSE(f.cdsProdItem.Eof()) << "the tally has a chosen quotation";
    f.mnuPadraoClick(f.mnuPadrao);
    EXPECT_EQ(f.ActiveControl(), &f.dbgPadrao);
    EXPECT_EQ(f.cdsItmApurPrec.RecordCount(), 1);
    host.ClearRecords();
    return f;
  }

  // Runs a gesture as the host runs an event; answers whether it ran to its end.
  static bool Run(const std::function<void()>& gesture) { return GuardedCall(gesture); }

  // The cdsDados row of a delivery, as "flag|quantity"; "" when absent.
  std::string Twin(TfrmPlanApurNegGrid& f, const std::string& forn, const std::string& cole,
                   const std::string& fil, DateTime when) {
    TClientDataSet& d = f.cdsDados;
    for (int p = 0; p < d.RecordCount(); ++p) {
      TClientDataSet::RowPeek peek(d, p);
      if (d.FieldByName("CDFORNITMAP").AsString() == forn &&
          d.FieldByName("NRCOLEITMAP").AsString() == cole &&
          d.FieldByName("CDFILIAP").AsString() == fil &&
          d.FieldByName("CDPRODITMAP").AsString() == item &&
          d.FieldByName("DTENTRAPUT").AsDateTime().days == when.days)
        return d.FieldByName("IDITMSELAPUR").AsString() + "|" + d.FieldByName("QTACOMP").AsString();
    }
    return {};
  }

  // The quotation line of the current item and region: its flag, and its
  // tallied quantity in `qty`.
  std::string Quote(TfrmPlanApurNegGrid& f, const std::string& forn, const std::string& cole,
                    double* qty = nullptr) {
    TClientDataSet& a = f.cdsApurNeg;
    for (int p = 0; p < a.RecordCount(); ++p) {
      TClientDataSet::RowPeek peek(a, p);
      if (a.FieldByName("CDFORNITMAP").AsString() == forn &&
          a.FieldByName("NRCOLEITMAP").AsString() == cole) {
        if (qty) *qty = a.FieldByName("QTACOMP").AsFloat();
        return a.FieldByName("IDITMSELAPUR").AsString();
      }
    }
    return {};
  }

  // Sum of the chosen quantities in cdsDados of a quotation of the current item.
  double ChosenSum(TfrmPlanApurNegGrid& f, const std::string& forn, const std::string& cole) {
    TClientDataSet& d = f.cdsDados;
    double total = 0;
    for (int p = 0; p < d.RecordCount(); ++p) {
      TClientDataSet::RowPeek peek(d, p);
      if (d.FieldByName("CDFORNITMAP").AsString() == forn &&
          d.FieldByName("NRCOLEITMAP").AsString() == cole &&
          d.FieldByName("CDPRODITMAP").AsString() == item &&
          d.FieldByName("CDREGITMAP").AsString() == region &&
          d.FieldByName("IDITMSELAPUR").AsString() == "S")
        total += d.FieldByName("QTACOMP").AsFloat();
    }
    return total;
  }

  // The free, priced quotations of the model for a branch and date, ordered
  // by the price the tally type ranks by: supplier codes, cheapest first.
  std::vector<std::string> FreeByPrice(const std::string& fil, DateTime when,
                                       const std::string& priceField) const {
    std::vector<const Row*> rows;
    for (const Row& r : tally.dados)
      if (Text(r, "CDPRODITMAP") == item && Text(r, "CDFILIAP") == fil &&
          r.at("DTENTRAPUT").AsDate().days == when.days && Text(r, "IDITMSELAPUR") == "N" &&
          r.at("VRPRECUNIAP").AsFloat() != 0)
        rows.push_back(&r);
    std::stable_sort(rows.begin(), rows.end(), [&](const Row* a, const Row* b) {
      return a->at(priceField).AsFloat() < b->at(priceField).AsFloat();
    });
    std::vector<std::string> out;
    for (const Row* r : rows) out.push_back(Text(*r, "CDFORNITMAP"));
    return out;
  }

  // Keys of the current branch request line and chosen line, read after Open.
  void Remember(TfrmPlanApurNegGrid& f) {
    item = f.cdsPai_ItmApurPrec.FieldByName("CDPRODITMAP").AsString();
    region = f.cdsPai_ItmApurPrec.FieldByName("CDREGITMAP").AsString();
    branch = f.cdsPai_ItmApurPrec.FieldByName("CDFILIAP").AsString();
    date = f.cdsPai_ItmApurPrec.FieldByName("DTENTRAPUT").AsDateTime();
    chosen = f.cdsItmApurPrec.FieldByName("CDFORNITMAP").AsString();
    chosenCole = f.cdsItmApurPrec.FieldByName("NRCOLEITMAP").AsString();
  }

  std::string item, region;
  std::string branch, chosen, chosenCole;
  DateTime date;
};

}  // namespace apura::testing
