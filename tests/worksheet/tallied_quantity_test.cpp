// The tallied quantity of a quotation line is what its chosen deliveries add
// up to, whoever changed them.

#include "quote_tally_fixture.h"

namespace apura::testing {
namespace {

using TalliedQuantityTest = QuoteTallyTest;

TEST_F(TalliedQuantityTest, TheSumCountsOnlyChosenRowsOfTheLinesKey) {
  SemEscolhas();
  const Linha l{"I12", "SUL", 2};
  EscolheNoModelo(l, {"F01", "F03"});
  for (Row& r : tally.dados) {
    if (Text(r, "CDPRODITMAP") == "I12" && Text(r, "CDREGITMAP") == "SUL" &&
        Text(r, "CDFORNITMAP") == "FORN03" && Text(r, "CDFILIAP") == "F01")
      r["QTACOMP"] = Value(2.5);
  }
  // The same supplier chosen for another item and region counts elsewhere.
  EscolheNoModelo(Linha{"I11", "SUL", 2});
  TfrmPlanApurNegGrid& f = Abre();
  const worksheet::ChaveCotacao chave{l.CDFORNITMAP(), l.CDMARCITMAP(), l.NRCOLEITMAP(), l.item,
                                      l.regiao};
  EXPECT_EQ(f.Soma_QtApurada(chave), 2 * 2.5 + 2 * 10.0);
  worksheet::ChaveCotacao outra = chave;
  outra.CDMARCITMAP = "M1";
  EXPECT_EQ(f.Soma_QtApurada(outra), 0);

  // A filter expression left on the delivery data would hide rows: refused.
  f.cdsDados.SetFilter("[CDFILIAP] = 'F01'");
  f.cdsDados.SetFiltered(true);
  try {
    f.Soma_QtApurada(chave);
    ADD_FAILURE() << "a filtered sum was accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("[CDFILIAP] = 'F01'"), std::string::npos) << e.what();
  }
  f.cdsDados.SetFiltered(false);
  f.cdsDados.SetFilter({});
}

TEST_F(TalliedQuantityTest, TheLineTakesTheSumUnderTheInternalEditFlag) {
  SemEscolhas();
  const Linha l{"I31", "LES", 0};
  EscolheNoModelo(l);
  for (Row& r : tally.apurNeg) r["QTACOMP"] = Value(0.0);  // out of step
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(Linha{"I31", "LES", 1});  // another line is current
  int tagNoPost = -1, posts = 0;
  f.cdsApurNeg.BeforePost = [&](TClientDataSet&) {
    tagNoPost = f.dbgFornecedor.Tag;
    ++posts;
  };
  f.Atualiza_QtApurada({l.CDFORNITMAP(), l.CDMARCITMAP(), l.NRCOLEITMAP(), l.item, l.regiao});
  EXPECT_EQ(QtDaLinha(l), 60);
  EXPECT_EQ(tagNoPost, 1);
  EXPECT_EQ(f.dbgFornecedor.Tag, 0);
  EXPECT_EQ(Current(f.cdsApurNeg, "CDFORNITMAP"), "FORN01");
  // Already in step: nothing is posted.
  f.Atualiza_QtApurada({l.CDFORNITMAP(), l.CDMARCITMAP(), l.NRCOLEITMAP(), l.item, l.regiao});
  EXPECT_EQ(posts, 1);
}

}  // namespace
}  // namespace apura::testing
