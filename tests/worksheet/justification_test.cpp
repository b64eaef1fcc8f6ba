// The justification asked after a manual choice: what it shows, where the
// text goes, and that leaving it any way but confirming undoes the choice.

#include "quote_tally_fixture.h"

namespace apura::testing {
namespace {

using worksheet::TfrmObservJust;

class JustificationTest : public QuoteTallyTest {
 protected:
  JustificationTest() {
    SemEscolhas();
    Parametro("IDEXJUSTESCM", "S");
  }
  // The next dialog runs `run`.
  void NoDialogo(std::function<void(TfrmObservJust&)> run) {
    host.AnswerModal([run](TForm& f) {
      auto* d = dynamic_cast<TfrmObservJust*>(&f);
      ASSERT_NE(d, nullptr) << f.Name;
      run(*d);
    });
  }
  static bool Confirma(TfrmObservJust& d) {
    return GuardedCall([&] { d.sbtConfirma.Click(); });
  }
  void Guarda(const Linha& l, const std::string& texto) {
    for (Row& r : tally.dados)
      if (Text(r, "CDPRODITMAP") == l.item && Text(r, "CDREGITMAP") == l.regiao &&
          Text(r, "CDFORNITMAP") == l.CDFORNITMAP())
        r["TXOBESCMANAP"] = Value(texto);
  }
  void EsperaDesfeita(const Linha& l) {
    EXPECT_TRUE(form().boSemJust);
    EXPECT_EQ(SelDaLinha(l), "N");
    EXPECT_EQ(SelDoItem(l.item, l.regiao), "N");
    for (TClientDataSet* t : {&form().cdsDados, &form().cdsItmApurPrec})
      for (const auto& e : Entregas(*t, l)) EXPECT_EQ(e.sel, "N") << t->Name;
    EXPECT_EQ(QtDaLinha(l), 0);
  }
  std::vector<std::string> Textos(const Linha& l) {
    std::vector<std::string> out;
    for (const auto& e : Entregas(form().cdsDados, l)) out.push_back(e.just);
    return out;
  }
  const Linha a{"I11", "NOR", 1};
  const Linha b{"I21", "NOR", 1};  // same supplier, brand and collection
};

TEST_F(JustificationTest, ConfirmedTextGoesToEveryChosenRowOfTheSupplierBrandAndCollection) {
  EscolheNoModelo(b);
  Guarda(b, "Primeira");
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(a);
  bool visto = false;
  NoDialogo([&](TfrmObservJust& d) {
    visto = true;
    EXPECT_EQ(d.Caption(), "Justificativa");
    EXPECT_EQ(d.Width(), 447);
    EXPECT_EQ(d.Height(), 227);
    EXPECT_EQ(d.lblCodTela.Caption(), "PRQ05006");
    EXPECT_EQ(d.HelpFile, "Cmphelp.hlp");
    EXPECT_EQ(d.HelpContext, 10403109);
    EXPECT_EQ(d.memObserv.MaxLength(), 300);
    // The box says what it wants and how much of it.
    EXPECT_TRUE(d.lblObserv.Visible());
    EXPECT_NE(d.lblObserv.Caption().find("300 caracteres"), std::string::npos);
    EXPECT_FALSE(host.HasMessageHook());
    EXPECT_FALSE(f.boSemJust);
    EXPECT_EQ(d.memObserv.Text(), "");
    // The choice is made before the question.
    EXPECT_EQ(SelDaLinha(a), "S");
    d.memObserv.SetText("Menor prazo de entrega");
    EXPECT_TRUE(Confirma(d));
    EXPECT_FALSE(d.Visible());
  });
  Espaco();
  ASSERT_TRUE(visto);
  EXPECT_FALSE(f.boSemJust);
  EXPECT_EQ(SelDaLinha(a), "S");
  EXPECT_EQ(Textos(a), std::vector<std::string>(6, "Menor prazo de entrega"));
  EXPECT_EQ(Textos(b), std::vector<std::string>(6, "Menor prazo de entrega"));
  // Rows of the supplier not chosen keep what they had.
  EXPECT_EQ(Textos(Linha{"I11", "LES", 1}), std::vector<std::string>(6, ""));
  EXPECT_EQ(f.cdsDados.Filter(), "");
  EXPECT_FALSE(f.cdsDados.Filtered());
  // The worksheet is the active window again, its message hook back.
  EXPECT_TRUE(f.Active());
  EXPECT_TRUE(host.HasMessageHook());
  Application().ProcessReleases();
  EXPECT_EQ(worksheet::frmObservJust, nullptr);

  // Chosen again: the stored text is offered; confirming it unchanged
  // writes nothing.
  Espaco();
  EXPECT_EQ(SelDaLinha(a), "N");
  int edicoes = -1;
  NoDialogo([&](TfrmObservJust& d) {
    EXPECT_EQ(d.memObserv.Text(), "Menor prazo de entrega");
    edicoes = 0;
    f.cdsDados.BeforeEdit = [&](TClientDataSet&) { ++edicoes; };
    EXPECT_TRUE(Confirma(d));
    f.cdsDados.BeforeEdit = nullptr;
  });
  Espaco();
  EXPECT_EQ(edicoes, 0);
  EXPECT_EQ(SelDaLinha(a), "S");
}

TEST_F(JustificationTest, ALongStoredTextIsShownWholeAndAnUnchangedConfirmKeepsIt) {
  // Stored elsewhere, longer than the buyer may type; accents count as one.
  std::string longo;
  while (longo.size() < 1500) longo += "Prazo de entrega menor, preço à vista. ";
  Guarda(a, longo);
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(a);
  int edicoes = -1;
  NoDialogo([&](TfrmObservJust& d) {
    EXPECT_EQ(d.memObserv.Text(), longo);
    edicoes = 0;
    f.cdsDados.BeforeEdit = [&](TClientDataSet&) { ++edicoes; };
    EXPECT_TRUE(Confirma(d));
    f.cdsDados.BeforeEdit = nullptr;
  });
  Espaco();
  EXPECT_EQ(edicoes, 0);
  EXPECT_EQ(SelDaLinha(a), "S");
  EXPECT_EQ(Textos(a), std::vector<std::string>(6, longo));

  // Shortened by the buyer, it is written; it cannot grow past what was
  // stored, and a fresh text keeps the limit of what may be typed.
  Espaco();
  NoDialogo([&](TfrmObservJust& d) {
    EXPECT_FALSE(GuardedCall([&] { d.memObserv.SetText(longo + "x"); }));
    d.memObserv.SetText(longo.substr(0, 400));
    EXPECT_TRUE(Confirma(d));
  });
  Espaco();
  EXPECT_EQ(Textos(a), std::vector<std::string>(6, longo.substr(0, 400)));
  NoDialogo([&](TfrmObservJust& d) {
    EXPECT_EQ(d.memObserv.MaxLength(), 300);
    EXPECT_EQ(d.memObserv.Text(), "");
    d.memObserv.SetText("Outro");
    EXPECT_TRUE(Confirma(d));
  });
  VaiPara(b);
  Espaco();
  EXPECT_EQ(Textos(b), std::vector<std::string>(6, "Outro"));
}

TEST_F(JustificationTest, ABlankTextIsRefusedAndCancellingUndoesTheChoice) {
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(a);
  NoDialogo([&](TfrmObservJust& d) {
    d.memObserv.SetText("  \r\n\t ");
    EXPECT_FALSE(Confirma(d));
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.LastMessage().text, "Justificativa deve ser informada.");
    EXPECT_EQ(host.LastMessage().kind, TMsgDlgType::mtError);
    EXPECT_TRUE(d.Visible());
    EXPECT_EQ(f.cdsDados.Filter(), "");
    EXPECT_EQ(Textos(a), std::vector<std::string>(6, ""));
    d.sbtCancel.Click();
  });
  Espaco();
  EsperaDesfeita(a);
  EsperaNadaPendente();
}

TEST_F(JustificationTest, TheCloseBoxAndEscCancelLikeTheButton) {
  struct Modo {
    const char* nome;
    std::function<void(TfrmObservJust&)> sai;
  };
  const Modo modos[] = {{"close box", [](TfrmObservJust& d) { d.Close(); }},
                        {"Esc", [](TfrmObservJust& d) {
                           int k = VK_ESCAPE;
                           d.KeyDown(k, 0);
                           EXPECT_EQ(k, 0);
                         }}};
  Abre();
  for (const Modo& m : modos) {
    SCOPED_TRACE(m.nome);
    VaiPara(a);
    NoDialogo([&](TfrmObservJust& d) {
      d.memObserv.SetText("digitado");
      m.sai(d);
      EXPECT_FALSE(d.Visible());
    });
    Espaco();
    EsperaDesfeita(a);
    EXPECT_EQ(Textos(a), std::vector<std::string>(6, ""));
  }
}

TEST_F(JustificationTest, CtrlEnterConfirmsAndPlainEnterIsLeftToTheTextBox) {
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(a);
  NoDialogo([&](TfrmObservJust& d) {
    d.memObserv.SetText("Acordo comercial");
    int enter = VK_RETURN;
    d.KeyDown(enter, 0);
    EXPECT_EQ(enter, VK_RETURN);
    EXPECT_TRUE(d.Visible());
    int ctrlEnter = VK_RETURN;
    d.KeyDown(ctrlEnter, ssCtrl);
    EXPECT_EQ(ctrlEnter, 0);
    EXPECT_FALSE(d.Visible());
  });
  Espaco();
  EXPECT_FALSE(f.boSemJust);
  EXPECT_EQ(Textos(a), std::vector<std::string>(6, "Acordo comercial"));
}

TEST_F(JustificationTest, TypedTextOutlivesAReactivationOfTheDialog) {
  Guarda(a, "Antiga");
  Abre();
  VaiPara(a);
  NoDialogo([&](TfrmObservJust& d) {
    EXPECT_EQ(d.memObserv.Text(), "Antiga");
    d.memObserv.SetText("Nova razão");
    char32_t ch = U'o';
    d.KeyPress(ch);
    // Another window was active for a moment.
    d.Deactivate();
    d.Activate();
    EXPECT_EQ(d.memObserv.Text(), "Nova razão");
    EXPECT_TRUE(Confirma(d));
  });
  Espaco();
  EXPECT_EQ(Textos(a), std::vector<std::string>(6, "Nova razão"));
}

TEST_F(JustificationTest, OnlyAChoiceAsksAndOnlyWhenTheParametersDemandIt) {
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(a);
  NoDialogo([](TfrmObservJust& d) {
    d.memObserv.SetText("ok");
    EXPECT_TRUE(Confirma(d));
  });
  Espaco();
  ASSERT_EQ(SelDaLinha(a), "S");
  // Dropping asks nothing (an unexpected dialog fails the test).
  Espaco();
  EXPECT_EQ(SelDaLinha(a), "N");
  EXPECT_EQ(host.PendingAnswers(), 0u);

  f.cdsParaSupri.Edit();
  f.cdsParaSupriIDEXJUSTESCM->SetAsString("N");
  f.cdsParaSupri.Post();
  host.ClearRecords();
  Espaco();
  EXPECT_EQ(SelDaLinha(a), "S");
  EXPECT_FALSE(host.Logged("ShowModal(frmObservJust)"));
}

TEST_F(JustificationTest, AChosenLineWithoutPriceStillAsksAndCancellingChangesNothing) {
  EscolheNoModelo(a);
  for (Row& r : tally.apurNeg)
    if (Text(r, "CDPRODITMAP") == a.item && Text(r, "CDREGITMAP") == a.regiao &&
        Text(r, "CDFORNITMAP") == a.CDFORNITMAP())
      r["VRPRECUNIAP"] = 0.0;
  TfrmPlanApurNegGrid& f = Abre();
  VaiPara(a);
  NoDialogo([](TfrmObservJust& d) { d.sbtCancel.Click(); });
  Espaco();
  EXPECT_TRUE(host.Logged("ShowModal(frmObservJust)"));
  EXPECT_EQ(SelDaLinha(a), "S");
  EXPECT_EQ(f.cdsDados.ChangeCount(), 0);
}

}  // namespace
}  // namespace apura::testing
