// Field lists are the contract with the server's packets and with every rule
// that addresses a field; the grids show exactly their columns.

#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

std::string Names(const TClientDataSet& t) {
  std::string out;
  for (const auto& f : t.Fields()) out += (out.empty() ? "" : ";") + f->FieldName();
  return out;
}

std::string Hidden(const TClientDataSet& t) {
  std::string out;
  for (const auto& f : t.Fields())
    if (!f->Visible()) out += (out.empty() ? "" : ";") + f->FieldName();
  return out;
}

TEST(WorksheetTables, EveryTableHasItsFieldsInOrder) {
  worksheet::WorksheetTables t;
  EXPECT_EQ(Names(t.cdsProduto), "CDPRODUTO;CDARVPROD;NMPRODUTO");
  EXPECT_EQ(Names(t.cdsRegiao), "CDREGITMAP;NMREGIAO;CDPRODESTO");
  EXPECT_EQ(Names(t.cdsProdItem),
            "CDPRODESTO;CDPRODITMAP;CDARVPROD;NMPRODUTO;IDITMSELAPUR;CDREGITMAP;QTESTOSEGU;"
            "CALC_ESTO");
  EXPECT_EQ(Names(t.cdsApurNeg),
            "VRFATOCONV;PRODUNDIVFATCO;CDFORNITMAP;NMFANTFORN;NRSEQITMAP;CDCENTITMAP;NRCOLEITMAP;"
            "CDMARCITMAP;NMMARCA;VRPRECUNIAP;PRECOECON;QTACOMP;IDITMSELAPUR;CDREGITMAP;"
            "CDPRODITMAP;CDARVPROD;PRECOECONPI;QTMINAUTFOT;IDQTMINFORN;VRMINAUTFOR;IDVRMINFORN;"
            "SGUNIDADE");
  EXPECT_EQ(Names(t.cdsPai_ItmApurPrec),
            "CDFILIAP;NMFILIAL;DTENTRAPUT;QTSOLACOMP;CDCENTITMAP;NRSEQITMAP;CDPRODITMAP;"
            "CDREGITMAP");
  const std::string itm =
      "NMFANTFORN;NMMARCA;QTACOMP;NRCOLEITMAP;VRPRECUNIAP;VRPRECECOAP;IDITMSELAPUR;CDCENTITMAP;"
      "CDPRODITMAP;NRSEQITMAP;CDFILIAP;QTSOLACOMP;CDFORNITMAP;CDMARCITMAP;CDREGITMAP;DTENTRAPUT;"
      "%sVRPRECONPIAP";
  EXPECT_EQ(Names(t.cdsItmApurPrec), std::string(itm).replace(itm.find("%s"), 2, "IDMOTIVPRESC;"));
  EXPECT_EQ(Names(t.cdsAuxItmApurPrec), std::string(itm).replace(itm.find("%s"), 2, ""));
  EXPECT_EQ(Names(t.cdsDados),
            "NMFANTFORN;NMMARCA;CDCENTITMAP;DTENTRAPUT;CDPRODITMAP;CDPRODESTO;NRCOLEITMAP;"
            "NRSEQITMAP;QTACOMP;CDFILIAP;QTSOLACOMP;CDFORNITMAP;CDMARCITMAP;CDREGITMAP;"
            "VRPRECUNIAP;VRPRECECOAP;IDITMSELAPUR;VRPRECONPIAP;TXOBESCMANAP");
  EXPECT_EQ(Names(t.cdsParaSupri), "IDTIPOAPUR;IDBLOQUEAAF;IDCONSPRSOL;IDEXJUSTESCM");
  EXPECT_EQ(Names(t.cdsPesqForn),
            "NRCOLEITMAP;NMFANTFORN;NMMARCA;VRPRECUNIAP;VRPRECECOAP;CDFORNITMAP;CDMARCITMAP;"
            "VRPRECONPIAP");
  const std::string aux =
      "CDFORNITMAP;NMFANTFORN;NRSEQITMAP;CDCENTITMAP;NRCOLEITMAP;CDMARCITMAP;NMMARCA;"
      "VRPRECUNIAP;PRECOECON;QTACOMP;IDITMSELAPUR;CDREGITMAP;CDPRODITMAP";
  EXPECT_EQ(Names(t.cdsAuxApurNeg), aux);
  EXPECT_EQ(Names(t.cdsAuxApur), aux + ";CDARVPROD;PRECOECONPI");
  EXPECT_EQ(Names(t.cdsVd_EfetivaAF), "NRSEQAPUR");
  EXPECT_EQ(t.cdsAutoForne.FieldCount(), 29);
  EXPECT_EQ(t.cdsAuxiliar.FieldCount(), 0);
}

TEST(WorksheetTables, TypesSizesLabelsAndFormats) {
  worksheet::WorksheetTables t;
  EXPECT_EQ(Hidden(t.cdsProduto), "CDPRODUTO");
  EXPECT_EQ(Hidden(t.cdsPai_ItmApurPrec), "CDCENTITMAP;NRSEQITMAP;CDPRODITMAP;CDREGITMAP");
  EXPECT_EQ(Hidden(t.cdsApurNeg),
            "VRFATOCONV;PRODUNDIVFATCO;CDFORNITMAP;NRSEQITMAP;CDCENTITMAP;CDMARCITMAP;"
            "IDITMSELAPUR;CDREGITMAP;CDPRODITMAP;CDARVPROD;QTMINAUTFOT;IDQTMINFORN;VRMINAUTFOR;"
            "IDVRMINFORN;SGUNIDADE");
  EXPECT_TRUE(t.cdsItmApurPrec.FieldByName("VRPRECONPIAP").Visible());
  EXPECT_FALSE(t.cdsAuxItmApurPrec.FieldByName("VRPRECONPIAP").Visible());
  EXPECT_EQ(Hidden(t.cdsDados), "");

  TField& cod = t.cdsProduto.FieldByName("CDPRODUTO");
  EXPECT_EQ(cod.Size(), 10);
  EXPECT_EQ(cod.DisplayLabel(), "C\u00f3digo");
  EXPECT_EQ(cod.DisplayWidth(), 15);
  EXPECT_EQ(t.cdsApurNeg.FieldByName("PRECOECON").DisplayLabel(), "Pr.Econ\u00f4mico");
  EXPECT_EQ(t.cdsApurNeg.FieldByName("QTACOMP").DisplayFormat(), "#,##0.000");
  EXPECT_EQ(t.cdsApurNeg.FieldByName("CDFORNITMAP").DisplayLabel(), "CDFORNITMAP");
  EXPECT_EQ(t.cdsPai_ItmApurPrec.FieldByName("QTSOLACOMP").DisplayFormat(), "##0.000");
  EXPECT_EQ(t.cdsPai_ItmApurPrec.FieldByName("DTENTRAPUT").DataType(), FieldType::DateTime);
  TField& qt = t.cdsItmApurPrec.FieldByName("QTACOMP");
  EXPECT_EQ(qt.DisplayFormat(), "#0.000");
  EXPECT_EQ(qt.EditFormat(), "#0.000");
  EXPECT_EQ(t.cdsItmApurPrec.FieldByName("NRCOLEITMAP").DisplayLabel(), "N\u00ba Coleta");
  EXPECT_EQ(t.cdsItmApurPrec.FieldByName("VRPRECUNIAP").DisplayFormat(), "####,##0.00000");
  EXPECT_EQ(t.cdsDados.FieldByName("TXOBESCMANAP").Size(), 2000);
  EXPECT_EQ(t.cdsPesqForn.FieldByName("NRCOLEITMAP").DisplayWidth(), 13);
  EXPECT_EQ(t.cdsAutoForne.FieldByName("CDOPERADOR").DisplayWidth(), 14);
  EXPECT_TRUE(t.cdsAutoForne.FieldByName("IDERRO").Def().fixedChar);
  EXPECT_EQ(t.cdsAuxApur.FieldByName("PRECOECONPI").DisplayLabel(), "Pr.Econ\u00f4mico PI");
  EXPECT_FALSE(t.cdsAuxApur.FieldByName("CDARVPROD").Visible());
  // Sizes count characters and refuse what does not fit.
  t.cdsParaSupri.CreateDataSet();
  t.cdsParaSupri.Append();
  EXPECT_THROW(t.cdsParaSupri.FieldByName("IDTIPOAPUR").SetAsString("12"), EDatabaseError);
}

class FormLayoutTest : public WorksheetTest {};

std::string Columns(const TDBGrid& g) {
  std::string out;
  for (const auto& c : g.Columns) out += (out.empty() ? "" : ";") + c->FieldName();
  return out;
}

TEST_F(FormLayoutTest, PagesGridsAndColumns) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(f.tshProduto.Caption(), "Produtos");
  EXPECT_EQ(f.tshGeral.Caption(), "Cota\u00e7\u00e3o");
  EXPECT_EQ(f.tshPadrao.Caption(), "por Entrega");
  EXPECT_EQ(f.tshProduto.PageIndex(), 0) << "tabs read Produtos, Cotação, por Entrega";
  EXPECT_EQ(f.tshGeral.PageIndex(), 1);
  EXPECT_EQ(f.tshPadrao.PageIndex(), 2);
  EXPECT_EQ(Columns(f.dbgProdEsto), "CDARVPROD;NMPRODUTO");
  EXPECT_EQ(Columns(f.dbgRegiao), "CDREGITMAP;NMREGIAO");
  EXPECT_EQ(Columns(f.dbgProduto), "CDARVPROD;NMPRODUTO");
  EXPECT_EQ(Columns(f.dbgFornecedor),
            "NRCOLEITMAP;NMFANTFORN;NMMARCA;VRFATOCONV;PRODUNDIVFATCO;VRPRECUNIAP;PRECOECON;"
            "PRECOECONPI;QTACOMP;VRMINAUTFOR;QTMINAUTFOT;SGUNIDADE");
  EXPECT_EQ(Columns(f.dbgCot_Filial), "CDFILIAP;NMFILIAL;DTENTRAPUT;QTSOLACOMP");
  EXPECT_EQ(Columns(f.dbgPadrao),
            "IDMOTIVPRESC;NMFANTFORN;NRCOLEITMAP;NMMARCA;QTACOMP;VRPRECUNIAP;VRPRECECOAP;"
            "VRPRECONPIAP");

  std::string editable;
  for (const auto& c : f.dbgFornecedor.Columns)
    if (!c->ReadOnly()) editable += c->FieldName() + ";";
  EXPECT_EQ(editable, "VRFATOCONV;PRODUNDIVFATCO;VRPRECUNIAP;");
  EXPECT_EQ(f.dbgFornecedor.FindColumn("QTACOMP")->TitleText(), "Qtde. Apurada");
  EXPECT_EQ(f.dbgFornecedor.FindColumn("NMFANTFORN")->Width(), 123);
  EXPECT_EQ(f.dbgFornecedor.FindColumn("VRPRECUNIAP")->Title().Alignment,
            TAlignment::taRightJustify);
  EXPECT_EQ(f.dbgRegiao.FindColumn("NMREGIAO")->Width(), 87);
  EXPECT_EQ(f.dbgProduto.FindColumn("NMPRODUTO")->Width(), 255);
  TColumn& motivo = *f.dbgPadrao.FindColumn("IDMOTIVPRESC");
  EXPECT_EQ(motivo.TitleText(), "4");
  EXPECT_EQ(motivo.Title().FontName, "Monotype Sorts");
  EXPECT_EQ(motivo.Title().Alignment, TAlignment::taCenter);
  EXPECT_EQ(motivo.ButtonStyle(), TColumnButtonStyle::cbsEllipsis);
  EXPECT_EQ(f.dbgPadrao.FindColumn("NRCOLEITMAP")->TitleText(), "N\u00ba Coleta");
  EXPECT_TRUE(f.dbgProdEsto.HasOption(dgRowSelect));
  EXPECT_TRUE(f.dbgCot_Filial.HasOption(dgRowSelect));
  EXPECT_EQ(f.dbgFornecedor.Color(), clInfoBk);
  EXPECT_NE(f.dbgPadrao.Color(), clInfoBk);
  EXPECT_FALSE(f.panFiltro.Visible());
  EXPECT_FALSE(f.panFilt_Entrega.Visible());
  EXPECT_FALSE(f.imgMelhor.Visible());
  EXPECT_EQ(f.imgMelhor.Picture().Pixel(0, 0), clOlive);
}

TEST_F(FormLayoutTest, ToolbarMenusAndQueries) {
  ScriptTally();
  TfrmPlanApurNegGrid& f = Launch();
  EXPECT_EQ(f.sbtApurar.Hint(), "Apurar Melhores Cota\u00e7\u00f5es");
  EXPECT_EQ(f.btnAnalisAF.Hint(), "An\u00e1lise de AF");
  EXPECT_EQ(f.sbtTotais.GroupIndex(), 12);
  EXPECT_TRUE(f.sbtTotais.AllowAllUp());
  EXPECT_EQ(f.sbtPlanilha.NumGlyphs(), 2);
  EXPECT_EQ(f.sbtGerarAF.Width(), 21);
  EXPECT_EQ(f.mnuSimulacao.ShortCut(), "Ctrl+S");
  EXPECT_EQ(f.mnuApurar.Caption(), "Ap&urar Melhores Cota\u00e7\u00f5es");
  ASSERT_GE(f.mnuOperacao.Count(), 6);
  EXPECT_EQ(f.mnuOperacao.Items()[0], &f.mnuProduto);
  EXPECT_EQ(f.mnuOperacao.Items()[3], &f.N3);
  EXPECT_EQ(f.mnuOperacao.Items()[4], &f.mnuListagem);
  EXPECT_FALSE(f.mnuListagem.Enabled());
  const auto& man = f.mnuManutencao.Items();
  ASSERT_GE(man.size(), 6u);
  EXPECT_EQ(std::vector<TMenuItem*>(man.end() - 6, man.end()),
            (std::vector<TMenuItem*>{&f.N1, &f.mnuApurar, &f.mnuGerarAF, &f.mnuSimulacao,
                                     &f.mnuInfPlan, &f.mnuTotais}));
  EXPECT_EQ(f.qryPesqRegiao.SQL(),
            (std::vector<std::string>{"SELECT", "  NMREGIAO", "FROM", "  REGIAO", "WHERE",
                                      "  CDREGIAO = :P_CDREGIAO"}));
  EXPECT_EQ(f.qryAutGrupOp.SQL().back(), " ");
  EXPECT_EQ(f.qryAutGrupOp.SQL().size(), 9u);
  EXPECT_EQ(f.netPlanApurNegGrid.ServerName, "Prq05001.rdmPlanApurNegGrid");
  EXPECT_FALSE(f.netCompras.ThrowException);
}

}  // namespace
}  // namespace apura::testing
