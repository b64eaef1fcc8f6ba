// Inserting, changing and deleting delivery lines on "por Entrega": the twin
// rows, the quotation lines and the products must agree after every gesture.

#include <algorithm>

#include "delivery_fixture.h"

namespace apura::testing {
namespace {

using Rows = std::vector<std::string>;

Rows Sorted(Rows rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string Field(TClientDataSet& t, const char* name) {
  return t.FieldByName(name).AsString();
}

TEST_F(DeliveryTest, AnInsertedLineSelectsTheCheapestFreeTwinWithTheTypedQuantity) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  const size_t rows = f.cdsItmApurPrec.StorageRows();
  const std::vector<std::string> free = FreeByPrice(branch, date, "VRPRECECOAP");
  ASSERT_GE(free.size(), 2u);

  f.sbtIncluir.Click();
  ASSERT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsInsert);
  EXPECT_EQ(Field(f.cdsItmApurPrec, "CDFORNITMAP"), free[0]);
  EXPECT_EQ(f.dbgPadrao.SelectedField()->FieldName(), "NMFANTFORN");
  EXPECT_TRUE(f.cdsItmApurPrec.FieldByName("QTACOMP").IsNull());
  const std::string cole = Field(f.cdsItmApurPrec, "NRCOLEITMAP");
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(7);

  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); })) << "the insert ends in a silent abort";
  EXPECT_TRUE(host.messages.empty());
  EXPECT_TRUE(host.exceptions.empty());
  EXPECT_EQ(f.cdsItmApurPrec.StorageRows(), rows);
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Sorted(Visible(f.cdsItmApurPrec, "CDFORNITMAP;QTACOMP")),
            Sorted({chosen + "|10", free[0] + "|7"}));
  EXPECT_EQ(Field(f.cdsItmApurPrec, "CDFORNITMAP"), free[0]) << "the new line is current";
  EXPECT_EQ(Twin(f, free[0], cole, branch, date), "S|7");
  double qty = 0;
  EXPECT_EQ(Quote(f, free[0], cole, &qty), "S");
  EXPECT_EQ(qty, 7);
  EXPECT_EQ(Field(f.cdsApurNeg, "CDFORNITMAP"), free[0]);
  EXPECT_EQ(Field(f.cdsProdItem, "IDITMSELAPUR"), "S");
  EXPECT_EQ(f.cdsApurNeg.Tag, 99) << "leaving the page refreshes the quotations";
  EXPECT_EQ(f.cdsItmApurPrec.Tag, 0);
  EXPECT_EQ(f.dbgFornecedor.Tag, 0);
}

TEST_F(DeliveryTest, AMissingSupplierOrQuantityIsRefusedOnItsColumnKeepingTheInput) {
  TfrmPlanApurNegGrid& f = Open();
  f.sbtIncluir.Click();
  TField& qt = f.cdsItmApurPrec.FieldByName("QTACOMP");
  struct Case {
    std::function<void()> input;
    std::string message, column;
  } cases[] = {
      {[&] { qt.Clear(); }, "Quantidade para entrega deve ser informada.", "QTACOMP"},
      {[&] { qt.SetAsFloat(0); }, "Quantidade para entrega deve ser maior que zero.", "QTACOMP"},
      {[&] { qt.SetAsFloat(-3); }, "Quantidade para entrega deve ser maior que zero.", "QTACOMP"},
      {[&] {
         qt.SetAsFloat(5);
         f.cdsItmApurPrec.FieldByName("CDFORNITMAP").Clear();
       },
       "Nome fantasia do fornecedor deve ser informado.", "NMFANTFORN"},
  };
  for (const Case& c : cases) {
    f.dbgPadrao.SetSelectedField(c.column == "QTACOMP" ? "NMFANTFORN" : "QTACOMP");
    c.input();
    host.ClearRecords();
    EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
    ASSERT_EQ(host.messages.size(), 1u) << c.message;
    EXPECT_EQ(host.messages[0].text, c.message);
    EXPECT_EQ(host.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_EQ(f.dbgPadrao.SelectedField()->FieldName(), c.column) << c.message;
    EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsInsert);
  }
  EXPECT_EQ(qt.AsFloat(), 5) << "the buyer's input stays";
  EXPECT_EQ(f.cdsDados.ChangeCount(), 0);
  EXPECT_EQ(f.cdsApurNeg.ChangeCount(), 0);
  EXPECT_EQ(f.cdsApurNeg.Tag, 0);
}

TEST_F(DeliveryTest, AQuantityChangeReachesTheTwinAndTheTalliedQuantity) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  f.sbtAlterar.Click();
  ASSERT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsEdit);
  EXPECT_EQ(f.dbgPadrao.SelectedField()->FieldName(), "QTACOMP");
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(4);
  EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));

  EXPECT_EQ(Twin(f, chosen, chosenCole, branch, date), "S|4");
  double qty = 0;
  EXPECT_EQ(Quote(f, chosen, chosenCole, &qty), "S");
  EXPECT_EQ(qty, 54) << "five more branch lines of 10 and this one of 4";
  EXPECT_EQ(qty, ChosenSum(f, chosen, chosenCole));
  EXPECT_EQ(Field(f.cdsProdItem, "IDITMSELAPUR"), "S");
  EXPECT_EQ(Visible(f.cdsItmApurPrec, "CDFORNITMAP;QTACOMP"), Rows{chosen + "|4"});
  EXPECT_EQ(f.cdsApurNeg.Tag, 99);
}

TEST_F(DeliveryTest, ASupplierPickedInTheDialogReplacesTheOldTwinWhenPosted) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  const std::string target = FreeByPrice(branch, date, "VRPRECECOAP").back();
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  host.AnswerPick([&](TDataSource& s, const std::string& caption) {
    EXPECT_EQ(&s, &f.dtsPesqForn);
    EXPECT_EQ(caption, "Cotação");
    return s.DataSet()->Locate("CDFORNITMAP", Value(target));
  });
  EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  ASSERT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsEdit);
  EXPECT_EQ(Field(f.cdsItmApurPrec, "CDFORNITMAP"), target);
  EXPECT_EQ(Field(f.cdsItmApurPrec, "VRPRECECOAP"), Field(f.cdsPesqForn, "VRPRECECOAP"));
  const std::string cole = Field(f.cdsItmApurPrec, "NRCOLEITMAP");
  EXPECT_EQ(Twin(f, target, cole, branch, date), "N|10") << "nothing applied before the post";

  const size_t rows = f.cdsItmApurPrec.StorageRows();
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); })) << "the change ends in a silent abort";
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(f.cdsItmApurPrec.StorageRows(), rows);
  EXPECT_EQ(Field(f.cdsItmApurPrec, "CDFORNITMAP"), target);
  EXPECT_EQ(Twin(f, chosen, chosenCole, branch, date), "N|10");
  EXPECT_EQ(Twin(f, target, cole, branch, date), "S|10");
  double qty = 0;
  EXPECT_EQ(Quote(f, chosen, chosenCole, &qty), "S") << "other branch lines still take it";
  EXPECT_EQ(qty, 50);
  EXPECT_EQ(Quote(f, target, cole, &qty), "S");
  EXPECT_EQ(qty, 10);
  EXPECT_EQ(Field(f.cdsProdItem, "IDITMSELAPUR"), "S");
  EXPECT_EQ(Visible(f.cdsItmApurPrec, "CDFORNITMAP"), Rows{target});
  EXPECT_EQ(f.dbgFornecedor.Tag, 0);
}

TEST_F(DeliveryTest, ASupplierReplacedThenAddedAgainShowsBothLines) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  const std::string target = FreeByPrice(branch, date, "VRPRECECOAP").back();
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  host.AnswerPick([&](TDataSource& s, const std::string&) {
    return s.DataSet()->Locate("CDFORNITMAP", Value(target));
  });
  EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));

  // The first supplier is free again: a new line may take it back.
  f.sbtIncluir.Click();
  ASSERT_TRUE(f.cdsPesqForn.Locate("CDFORNITMAP", Value(chosen)));
  f.Copia_PesqForn();
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(3);
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(Sorted(Visible(f.cdsItmApurPrec, "CDFORNITMAP;QTACOMP")),
            Sorted({target + "|10", chosen + "|3"}));
  EXPECT_EQ(Twin(f, chosen, chosenCole, branch, date), "S|3");
}

TEST_F(DeliveryTest, TheDeliveryPageStaysOpenWhileTheRulesWriteQuotationLines) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  // The quotation lines' state handler locks the other pages while a
  // quotation line is edited; the rules' own edits must not lock this one.
  bool locked = false;
  const int token = f.tshPadrao.Subscribe([&](TComponent&, std::string_view property) {
    if (property == "Enabled" && !f.tshPadrao.Enabled()) locked = true;
  });
  f.sbtIncluir.Click();
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(2);
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  f.sbtAlterar.Click();
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(6);
  EXPECT_TRUE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_FALSE(Run([&] { f.cdsItmApurPrec.Delete(); }));
  f.tshPadrao.Unsubscribe(token);
  EXPECT_FALSE(locked);
  EXPECT_TRUE(f.tshPadrao.Enabled());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(DeliveryTest, DismissingThePickDialogLeavesTheLineAsItWas) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  host.AnswerPick([](TDataSource& s, const std::string&) {
    s.DataSet()->Last();
    return false;
  });
  EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Field(f.cdsItmApurPrec, "CDFORNITMAP"), chosen);
  EXPECT_EQ(f.cdsDados.ChangeCount(), 0);
}

TEST_F(DeliveryTest, DeletingReleasesLinesAndTheLastOneReleasesQuotationAndProduct) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  const size_t rows = f.cdsItmApurPrec.StorageRows();
  const int lines = f.cdsPai_ItmApurPrec.RecordCount();
  ASSERT_EQ(lines, 6);
  for (int i = 1; i <= lines; ++i) {
    f.cdsPai_ItmApurPrec.SetRecNo(i);
    const std::string fil = Field(f.cdsPai_ItmApurPrec, "CDFILIAP");
    const DateTime when = f.cdsPai_ItmApurPrec.FieldByName("DTENTRAPUT").AsDateTime();
    ASSERT_EQ(f.cdsItmApurPrec.RecordCount(), 1) << i;
    EXPECT_FALSE(Run([&] { f.cdsItmApurPrec.Delete(); }));
    EXPECT_TRUE(host.messages.empty()) << "no confirmation of its own";
    EXPECT_EQ(f.cdsItmApurPrec.RecordCount(), 0);
    EXPECT_EQ(f.cdsItmApurPrec.StorageRows(), rows);
    EXPECT_EQ(Twin(f, chosen, chosenCole, fil, when), "N|10");
    double qty = -1;
    const std::string flag = Quote(f, chosen, chosenCole, &qty);
    EXPECT_EQ(flag, i < lines ? "S" : "N") << i;
    EXPECT_EQ(qty, 10.0 * (lines - i));
    EXPECT_EQ(Field(f.cdsProdItem, "IDITMSELAPUR"), i < lines ? "S" : "N") << i;
    EXPECT_TRUE(f.cdsDados.Filter().empty());
    EXPECT_EQ(f.cdsItmApurPrec.Tag, 0);
    EXPECT_EQ(f.dbgFornecedor.Tag, 0);
  }
}

TEST_F(DeliveryTest, ChangingTheLastDeliveryOfAQuotationReleasesIt) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  for (int i = 2; i <= f.cdsPai_ItmApurPrec.RecordCount(); ++i) {
    f.cdsPai_ItmApurPrec.SetRecNo(i);
    EXPECT_FALSE(Run([&] { f.cdsItmApurPrec.Delete(); }));
  }
  f.cdsPai_ItmApurPrec.First();
  ASSERT_EQ(f.cdsItmApurPrec.RecordCount(), 1);
  const std::string target = FreeByPrice(branch, date, "VRPRECECOAP").front();
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  host.AnswerPick([&](TDataSource& s, const std::string&) {
    return s.DataSet()->Locate("CDFORNITMAP", Value(target));
  });
  EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  const std::string cole = Field(f.cdsItmApurPrec, "NRCOLEITMAP");
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  double qty = -1;
  EXPECT_EQ(Quote(f, chosen, chosenCole, &qty), "N");
  EXPECT_EQ(qty, 0);
  EXPECT_EQ(Quote(f, target, cole, &qty), "S");
  EXPECT_EQ(qty, 10);
  EXPECT_EQ(Field(f.cdsProdItem, "IDITMSELAPUR"), "S");
}

TEST_F(DeliveryTest, AFreedQuotationIsOfferedAgainAndAChosenOneNever) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  ASSERT_NE(FreeByPrice(branch, date, "VRPRECECOAP"), FreeByPrice(branch, date, "VRPRECUNIAP"));
  f.Monta_PesqForn();
  std::vector<std::string> listed = Visible(f.cdsPesqForn, "CDFORNITMAP");
  EXPECT_EQ(listed, FreeByPrice(branch, date, "VRPRECECOAP"));
  EXPECT_EQ(std::count(listed.begin(), listed.end(), chosen), 0);
  EXPECT_EQ(f.cdsPesqForn.RecNo(), 1);

  EXPECT_FALSE(Run([&] { f.cdsItmApurPrec.Delete(); }));
  f.Monta_PesqForn();
  listed = Visible(f.cdsPesqForn, "CDFORNITMAP");
  EXPECT_EQ(std::count(listed.begin(), listed.end(), chosen), 1);
}

TEST_F(DeliveryTest, QuotationsWithoutAPriceAreNeverOfferedAndNoneFreeIsSaid) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  // Every free twin of this branch and date without a price.
  TClientDataSet& d = f.cdsDados;
  for (d.First(); !d.Eof(); d.Next()) {
    if (Field(d, "CDPRODITMAP") == item && Field(d, "CDFILIAP") == branch &&
        d.FieldByName("DTENTRAPUT").AsDateTime().days == date.days &&
        Field(d, "IDITMSELAPUR") == "N") {
      d.Edit();
      d.FieldByName("VRPRECUNIAP").SetAsFloat(0);
      d.Post();
    }
  }
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  EXPECT_FALSE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  EXPECT_TRUE(f.cdsPesqForn.IsEmpty());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "Não há cotação disponível para apuração do produto.");
  EXPECT_FALSE(host.Logged("Pesquisar(Cotação)"));
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsBrowse);

  // A new line then has no supplier, and its post says so.
  f.sbtIncluir.Click();
  EXPECT_TRUE(f.cdsItmApurPrec.FieldByName("CDFORNITMAP").IsNull());
  f.cdsItmApurPrec.FieldByName("QTACOMP").SetAsFloat(1);
  host.ClearRecords();
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_EQ(host.LastMessage().text, "Nome fantasia do fornecedor deve ser informado.");
}

TEST_F(DeliveryTest, TheReasonButtonStacksTheCriteriaOfTheCode) {
  TfrmPlanApurNegGrid& f = Open();
  auto motivo = [&](const std::string& code) {
    f.cdsItmApurPrec.Tag = 99;
    f.cdsItmApurPrec.Edit();
    f.cdsItmApurPrec.FieldByName("IDMOTIVPRESC").SetAsString(code);
    f.cdsItmApurPrec.Post();
    host.ClearRecords();
    f.dbgPadrao.SetSelectedField("IDMOTIVPRESC");
    EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
    return host.messages.empty() ? std::string("(none)") : host.messages[0].text;
  };
  EXPECT_EQ(motivo("1042"),
            "Escolhido por Produto Preferencial.\r\nEscolhido por Fornecedor Obrigatório.\r\n"
            "Escolhido por Marca Preferencial.\r\n");
  EXPECT_EQ(host.messages[0].kind, TMsgDlgType::mtInformation);
  EXPECT_EQ(host.messages[0].buttons, mbOK);
  EXPECT_EQ(f.cdsItmApurPrecIDMOTIVPRESC->DisplayText(), "") << "the cell shows only its button";
  EXPECT_EQ(motivo("00000"), "Escolhido manualmente.");
  EXPECT_EQ(motivo("00A02"), "Escolhido por Acordo.\r\nEscolhido da Cotação Fora da Lista.\r\n");
  EXPECT_EQ(motivo("08631"),
            "Escolhido por Fornecedor/Marca Preferenciais.\r\nEscolhido por Fornecedor "
            "Restritivo.\r\nEscolhido por Marca Restritiva.\r\nEscolhido da Lista de Preços.\r\n");
  EXPECT_EQ(motivo("0000012"), "Escolhido manualmente.")
      << "past the fifth position nothing counts";
  EXPECT_EQ(motivo("   "), "(none)");
}

// The pick list ranks by unit price when the tally is not by economic price,
// and keeps the order it was first built with.
class UnitPriceTallyTest : public DeliveryTest {
 protected:
  UnitPriceTallyTest() : DeliveryTest(Options()) {}
  static GeneratedTally::Options Options() {
    GeneratedTally::Options o;
    o.suppliers = 4;
    o.idTipoApur = "3";
    return o;
  }
};

TEST_F(UnitPriceTallyTest, ThePickListIsOrderedByUnitPriceAndKeepsItsFirstOrder) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  const auto byUnit = FreeByPrice(branch, date, "VRPRECUNIAP");
  const auto byEcon = FreeByPrice(branch, date, "VRPRECECOAP");
  ASSERT_NE(byUnit, byEcon) << "the tally must tell the two orders apart";
  f.Monta_PesqForn();
  EXPECT_EQ(Visible(f.cdsPesqForn, "CDFORNITMAP"), byUnit);

  f.cdsParaSupri.Edit();
  f.cdsParaSupriIDTIPOAPUR->SetAsString("1");
  f.cdsParaSupri.Post();
  f.Monta_PesqForn();
  EXPECT_EQ(Visible(f.cdsPesqForn, "CDFORNITMAP"), byUnit);
  EXPECT_EQ(Field(f.cdsPesqForn, "CDFORNITMAP"), byUnit.front());
}

// A second collection of the chosen supplier and brand.
class CollectionTest : public DeliveryTest {
 protected:
  CollectionTest() {
    const size_t quotes = tally.apurNeg.size();
    for (size_t i = 0; i < quotes; ++i) {
      if (Text(tally.apurNeg[i], "IDITMSELAPUR") != "S") continue;
      Row q = tally.apurNeg[i];
      q["NRCOLEITMAP"] = "7999";
      q["IDITMSELAPUR"] = "N";
      q["QTACOMP"] = 0.0;
      tally.apurNeg.push_back(q);
    }
    const size_t rows = tally.itm.size();
    for (size_t i = 0; i < rows; ++i) {
      if (Text(tally.itm[i], "IDITMSELAPUR") != "S") continue;
      for (auto* t : {&tally.itm, &tally.dados}) {
        Row r = (*t)[i];
        r["NRCOLEITMAP"] = "7999";
        r["IDITMSELAPUR"] = "N";
        t->push_back(r);
      }
    }
  }
};

TEST_F(CollectionTest, AnotherCollectionOfTheSameSupplierReleasesTheOldTwin) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  host.AnswerPick([&](TDataSource& s, const std::string&) {
    return s.DataSet()->Locate("CDFORNITMAP;NRCOLEITMAP", {Value(chosen), Value("7999")});
  });
  EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  ASSERT_EQ(Field(f.cdsItmApurPrec, "NRCOLEITMAP"), "7999");
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));
  EXPECT_TRUE(host.messages.empty());

  EXPECT_EQ(Twin(f, chosen, chosenCole, branch, date), "N|10") << "one delivery, not two";
  EXPECT_EQ(Twin(f, chosen, "7999", branch, date), "S|10");
  double qty = 0;
  EXPECT_EQ(Quote(f, chosen, chosenCole, &qty), "S");
  EXPECT_EQ(qty, 50);
  EXPECT_EQ(Quote(f, chosen, "7999", &qty), "S");
  EXPECT_EQ(qty, 10);
  EXPECT_EQ(Visible(f.cdsItmApurPrec, "NRCOLEITMAP"), Rows{"7999"});
}

// Quotation lines that were never chosen carry no unit price, so writing one
// of them fails inside the rules.
class UnpricedQuoteTest : public DeliveryTest {
 protected:
  UnpricedQuoteTest() {
    for (Row& q : tally.apurNeg)
      if (Text(q, "IDITMSELAPUR") != "S") q["VRPRECUNIAP"] = 0.0;
  }
};

TEST_F(UnpricedQuoteTest, AFailureInsideTheRulesPutsEveryTableBack) {
  TfrmPlanApurNegGrid& f = Open();
  Remember(f);
  double before = 0;
  Quote(f, chosen, chosenCole, &before);
  const std::string target = FreeByPrice(branch, date, "VRPRECECOAP").front();
  f.dbgPadrao.SetSelectedField("NMFANTFORN");
  host.AnswerPick([&](TDataSource& s, const std::string&) {
    return s.DataSet()->Locate("CDFORNITMAP", Value(target));
  });
  EXPECT_TRUE(Run([&] { f.dbgPadrao.EditButtonClick(); }));
  const std::string cole = Field(f.cdsItmApurPrec, "NRCOLEITMAP");
  EXPECT_FALSE(Run([&] { f.sbtConfirmar.Click(); }));

  EXPECT_EQ(host.LastMessage().text, "Preço unitário deve ser informado.");
  EXPECT_EQ(f.dbgFornecedor.Tag, 0);
  EXPECT_EQ(f.cdsApurNeg.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(f.cdsDados.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Twin(f, chosen, chosenCole, branch, date), "S|10");
  EXPECT_EQ(Twin(f, target, cole, branch, date), "N|10");
  double qty = 0;
  EXPECT_EQ(Quote(f, chosen, chosenCole, &qty), "S");
  EXPECT_EQ(qty, before);
  EXPECT_EQ(Quote(f, target, cole), "N");
  EXPECT_EQ(f.cdsItmApurPrec.State(), TDataSetState::dsEdit) << "the buyer's change stays";
  EXPECT_EQ(Field(f.cdsItmApurPrec, "CDFORNITMAP"), target);
  EXPECT_EQ(f.cdsApurNeg.Tag, 0);
}

}  // namespace
}  // namespace apura::testing
