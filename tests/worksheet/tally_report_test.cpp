// The tally report form: opened modally from the print button, created anew
// for every print, its query parameters from the current quotation line.

#include "worksheet/tally_report.h"

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

using worksheet::TfrmRelApuracao;
namespace rel = worksheet::rel_apuracao;

class TallyReportTest : public WorksheetTest {
 protected:
  TallyReportTest() {
    rel::Inicializa();
    rel::frmRelApuracao = nullptr;
    ScriptTally();
    host.reportParams["LIB050"] = {"P_NRAPURACAO", "P_OUTRO", "p_cdcentitmap"};
  }
  ~TallyReportTest() override { rel::Inicializa(); }
  // The buyer previews the report, then leaves the form.
  void AnswerPreview(std::function<void(TfrmRelApuracao&)> also = {}) {
    host.AnswerModal([also](TForm& form) {
      auto& rel = dynamic_cast<TfrmRelApuracao&>(form);
      if (also) also(rel);
      rel.sbtVisualizar.Click();
      rel.sbtSair.Click();
    });
  }
  bool Imprime() {
    TfrmPlanApurNegGrid& f = form();
    bool ok = GuardedCall([&f] { f.sbtImprimirClick(f.sbtImprimir); });
    Application().ProcessReleases();
    return ok;
  }
  std::string Param(size_t report, const char* name) {
    return host.reportsShown.at(report).second.ParamByName(name).Value;
  }
};

TEST_F(TallyReportTest, ParametersComeFromTheCurrentQuotationLine) {
  TfrmPlanApurNegGrid& f = Launch();
  f.cdsApurNeg.SetRecNo(2);
  const std::string seq = f.cdsApurNeg.FieldByName("NRSEQITMAP").AsString();
  ASSERT_NE(seq, stNrSeq_Rows);  // so the test tells the line from the launch value
  AnswerPreview([](TfrmRelApuracao& r) {
    EXPECT_EQ(r.Caption(), "Apura\u00e7\u00e3o/Efetiva\u00e7\u00e3o");
    EXPECT_EQ(r.lblCodTela.Caption(), "PRQ05004");
    EXPECT_EQ(r.lblCodRel.Caption(), "LIB050");
    EXPECT_TRUE(rel::boStCriado);
  });
  ASSERT_TRUE(Imprime());
  ASSERT_EQ(host.reportsShown.size(), 1u);
  EXPECT_EQ(host.reportsShown[0].first, "LIB050");
  EXPECT_EQ(Param(0, "P_NRAPURACAO"), seq);
  EXPECT_EQ(Param(0, "P_CDCENTITMAP"), tally.centCmp);
  EXPECT_EQ(Param(0, "P_OUTRO"), "");
  EXPECT_FALSE(rel::boStCriado);
  EXPECT_EQ(host.cursors, (std::vector<int>{crHourGlass, crDefault}));
}

TEST_F(TallyReportTest, TheFormSaysWhenChoicesOnScreenAreLeftOut) {
  TfrmPlanApurNegGrid& f = Launch();
  bool aviso = true;
  AnswerPreview([&](TfrmRelApuracao& r) { aviso = r.lblAviso.Visible(); });
  ASSERT_TRUE(Imprime());
  EXPECT_FALSE(aviso);

  f.cdsDados.First();
  TField& sel = f.cdsDados.FieldByName("IDITMSELAPUR");
  const std::string was = sel.AsString();
  f.cdsDados.Edit();
  sel.SetAsString(was == "S" ? "N" : "S");
  f.cdsDados.Post();
  std::string texto;
  AnswerPreview([&](TfrmRelApuracao& r) {
    aviso = r.lblAviso.Visible();
    texto = r.lblAviso.Caption();
  });
  ASSERT_TRUE(Imprime());
  EXPECT_TRUE(aviso);
  EXPECT_NE(texto.find("não efetivadas"), std::string::npos) << texto;

  // Undone again, the server's data is all there is.
  f.cdsDados.First();
  f.cdsDados.Edit();
  sel.SetAsString(was);
  f.cdsDados.Post();
  AnswerPreview([&](TfrmRelApuracao& r) { aviso = r.lblAviso.Visible(); });
  ASSERT_TRUE(Imprime());
  EXPECT_FALSE(aviso);
}

TEST_F(TallyReportTest, AnEmptyQuotationTableGivesEmptyParameters) {
  tally.apurNeg.clear();
  ScriptTally();
  Launch();
  AnswerPreview();
  ASSERT_TRUE(Imprime());
  ASSERT_EQ(host.reportsShown.size(), 1u);
  EXPECT_EQ(Param(0, "P_NRAPURACAO"), "");
  EXPECT_EQ(Param(0, "P_CDCENTITMAP"), "");
}

TEST_F(TallyReportTest, AReportUsingNeitherParameterRunsWithoutTheWorksheet) {
  host.reportParams["LIB050"] = {"P_DATA"};
  TfrmRelApuracao* form = nullptr;
  CreateForm(form);
  TReportParams params;
  params.Items = {{"P_DATA", "x"}};
  bool cancel = false;
  ASSERT_EQ(frmPlanApurNegGrid, nullptr);
  form->rpddPadraoBeforeGetQueryParams(params, cancel);
  EXPECT_EQ(params.Items[0].Value, "x");
  EXPECT_FALSE(cancel);
  // One that needs the line says what is missing instead of reading nothing.
  params.Items = {{"P_NRAPURACAO", ""}};
  EXPECT_THROW(form->rpddPadraoBeforeGetQueryParams(params, cancel), std::logic_error);
}

TEST_F(TallyReportTest, PrintingTwiceCreatesTheFormTwice) {
  Launch();
  AnswerPreview([](TfrmRelApuracao& r) {
    EXPECT_EQ(r.Tag, 0);
    r.Tag = 1;  // would survive if the form were kept
  });
  ASSERT_TRUE(Imprime());
  AnswerPreview([](TfrmRelApuracao& r) { EXPECT_EQ(r.Tag, 0); });
  ASSERT_TRUE(Imprime());
  EXPECT_EQ(host.reportsShown.size(), 2u);
  int shown = 0;
  for (const std::string& e : host.log) shown += e == "ShowModal(frmRelApuracao)";
  EXPECT_EQ(shown, 2);
  EXPECT_FALSE(rel::boStCriado);
}

TEST_F(TallyReportTest, TheCursorComesBackWhenTheReportFails) {
  Launch();
  host.AnswerModal([](TForm&) { throw std::runtime_error("impressora indispon\u00edvel"); });
  EXPECT_FALSE(Imprime());
  EXPECT_EQ(host.cursors.back(), crDefault);
}

}  // namespace
}  // namespace apura::testing
