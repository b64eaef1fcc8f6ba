#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/packet.h"
#include "support/fake_host.h"
#include "support/recording_canvas.h"

using namespace apura;
using apura::test::CanvasOp;
using apura::test::FakeHost;
using apura::test::RecordingCanvas;

namespace {

// A screen built like the real ones: components as members, handlers bound
// in the constructor, the base's handling called first.
struct TfrmTeste : TfrmPadraoGrid {
  TClientDataSet cdsTeste{"cdsTeste"};
  std::function<void()> onCreateBody;
  TfrmTeste() : TfrmPadraoGrid("frmTeste") {
    cdsTeste.AddStringField("CODE", 5);
    cdsTeste.AddFloatField("QT");
    dtsPadrao.SetDataSet(&cdsTeste);
    OnCreate = [this](TComponent& s) {
      TfrmPadraoGrid::FormCreate(s);
      if (onCreateBody) onCreateBody();
    };
  }
};

struct TfrmProbe;
TfrmProbe* frmProbe = nullptr;  // the module-wide reference, as a screen's unit has one
bool probeSawItself = false;
struct TfrmProbe : TfrmTeste {
  TfrmProbe() {
    onCreateBody = [this] { probeSawItself = (frmProbe == this); };
  }
};

TEST(HostFormFactory, TheReferenceIsSetBeforeTheCreationHandlerRuns) {
  FakeHost host;
  frmProbe = nullptr;
  probeSawItself = false;
  TfrmProbe& form = CreateForm(frmProbe);
  EXPECT_EQ(frmProbe, &form);
  EXPECT_TRUE(probeSawItself);
  EXPECT_TRUE(Application().Owns(form));
  EXPECT_EQ(form.msgMensagensPadroes.Msg("Excl"), "Confirma exclusão?");  // base creation ran
  EXPECT_FALSE(form.Visible());  // showing is the caller's business
}

TEST(HostFormFactory, AnErrorInCreationIsShownAndCreationStillCompletes) {
  FakeHost host;
  int stepsRun = 0;
  struct Failing : TfrmTeste {
    Failing(int* steps, bool silent) {
      onCreateBody = [steps, silent] {
        ++*steps;
        if (silent) Abort();
        throw std::runtime_error("Servidor indisponível");
      };
    }
  };
  Failing* f = nullptr;
  auto& form = CreateForm(f, &stepsRun, false);
  EXPECT_EQ(f, &form);
  EXPECT_EQ(stepsRun, 1);
  EXPECT_EQ(host.exceptions, std::vector<std::string>{"Servidor indisponível"});
  form.Show();
  EXPECT_TRUE(form.Visible());

  Failing* g = nullptr;
  CreateForm(g, &stepsRun, true);
  EXPECT_NE(g, nullptr);
  EXPECT_EQ(host.exceptions.size(), 1u);  // the silent abort shows nothing
  EXPECT_TRUE(host.messages.empty());
}

TEST(HostForms, CloseWithFreeHidesDeactivatesAndReleasesAfterTheEvent) {
  FakeHost host;
  TfrmTeste* form = nullptr;
  CreateForm(form);
  form->OnActivate = [](TComponent&) { MsgEventForm([](HostMessage&, bool&) {}); };
  form->OnDeactivate = [](TComponent&) { MsgEventForm(nullptr); };
  form->Show();
  form->Activate();
  EXPECT_TRUE(host.HasMessageHook());
  bool destroyed = false;
  form->OnDestroy = [&](TComponent&) { destroyed = true; };
  form->Close();  // the base's close handling frees the form
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(host.HasMessageHook());  // no hook may outlive its form
  EXPECT_TRUE(form->Released());
  EXPECT_FALSE(destroyed);  // still alive until the event has ended
  Application().ProcessReleases();
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(Application().Forms().empty());
}

TEST(HostForms, CloseQueryAndCloseActionCanKeepTheFormOpen) {
  FakeHost host;
  TForm form("frm");
  form.Show();
  bool allow = false;
  form.OnCloseQuery = [&](TComponent&, bool& can) { can = allow; };
  form.Close();
  EXPECT_TRUE(form.Visible());
  allow = true;
  form.OnClose = [](TComponent&, TCloseAction& a) { a = TCloseAction::caNone; };
  form.Close();
  EXPECT_TRUE(form.Visible());
  form.OnClose = nullptr;
  form.Close();  // default for an ordinary form: hide
  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(form.Released());
}

TEST(HostForms, ModalFormAnswersTheResultItWasClosedWith) {
  FakeHost host;
  TfrmRotiGeral* dlg = nullptr;
  CreateForm(dlg);
  host.AnswerModal([](TForm& f) { static_cast<TfrmRotiGeral&>(f).sbtConfirma.Click(); });
  EXPECT_EQ(dlg->ShowModal(), mrOk);
  EXPECT_TRUE(dlg->Released());
  Application().ProcessReleases();

  // The form below hands the activation to the dialog and takes it back.
  TfrmTeste* below = nullptr;
  CreateForm(below);
  std::vector<std::string> activations;
  below->OnActivate = [&](TComponent&) { activations.push_back("below on"); };
  below->OnDeactivate = [&](TComponent&) { activations.push_back("below off"); };
  below->Activate();
  TfrmRotiGeral* dlg2 = nullptr;
  CreateForm(dlg2);
  dlg2->OnActivate = [&](TComponent&) { activations.push_back("dialog on"); };
  host.AnswerModal([](TForm& f) { f.Close(); });  // the window's close box
  EXPECT_EQ(dlg2->ShowModal(), mrCancel);
  EXPECT_TRUE(host.Logged("ShowModal(frmRotiGeral)"));
  EXPECT_EQ(activations,
            (std::vector<std::string>{"below on", "below off", "dialog on", "below on"}));
  EXPECT_TRUE(below->Active());
  EXPECT_FALSE(dlg2->Active());
}

TEST(HostForms, PostedCloseRunsWhenMessagesAreProcessedNotBefore) {
  FakeHost host;
  TfrmTeste* form = nullptr;
  CreateForm(form);
  form->Show();
  host.PostClose(*form);
  EXPECT_TRUE(form->Visible());
  host.ProcessMessages();
  EXPECT_TRUE(form->Released());
  Application().ProcessReleases();
  TfrmTeste* second = nullptr;
  CreateForm(second);
  host.PostClose(*second);
  Application().DestroyForms();  // a request for a form that is gone is dropped
  host.ProcessMessages();
  EXPECT_EQ(host.PendingCloses(), 0u);
}

TEST(HostForms, KeysGoThroughTheFormFirstAndStopWhenConsumed) {
  FakeHost host;
  TfrmTeste form;
  form.RunCreate();
  std::vector<std::string> seen;
  form.OnKeyDown = [&](TComponent&, int& key, TShiftState) {
    seen.push_back("form");
    if (key == VK_F12) key = 0;
  };
  form.dbgPadrao.OnKeyDown = [&](TComponent&, int&, TShiftState) { seen.push_back("grid"); };
  form.dbgPadrao.SetFocus();
  int key = VK_DOWN;
  form.KeyDown(key, 0);
  key = VK_F12;
  form.KeyDown(key, 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"form", "grid", "form"}));
  char32_t ch = U'-';
  form.dbgPadrao.OnKeyPress = [](TComponent&, char32_t& c) {
    if (c == U'-') c = U' ';
  };
  form.KeyPress(ch);
  EXPECT_EQ(ch, U' ');
}

TEST(HostForms, FocusFollowsPagesAndRunsEnterAndExit) {
  FakeHost host;
  TForm form("frm");
  TPageControl pgc(&form, "pgc", &form);
  TTabSheet tshA(&form, "tshA", pgc, "A"), tshB(&form, "tshB", pgc, "B");
  TDBGrid dbgA(&form, "dbgA", &tshA), dbgB(&form, "dbgB", &tshB);
  std::vector<std::string> events;
  dbgA.OnEnter = [&](TComponent& s) { events.push_back("enter " + s.Name); };
  dbgA.OnExit = [&](TComponent& s) { events.push_back("exit " + s.Name); };
  dbgB.OnEnter = [&](TComponent& s) { events.push_back("enter " + s.Name); };
  EXPECT_EQ(pgc.ActivePage(), &tshA);
  EXPECT_TRUE(dbgA.CanFocus());
  EXPECT_FALSE(dbgB.CanFocus());  // not on the active page
  EXPECT_THROW(dbgB.SetFocus(), std::runtime_error);
  dbgA.SetFocus();
  pgc.SetActivePage(&tshB);
  dbgB.SetFocus();
  EXPECT_TRUE(dbgB.Focused());
  EXPECT_EQ(events, (std::vector<std::string>{"enter dbgA", "exit dbgA", "enter dbgB"}));
  tshB.SetEnabled(false);
  EXPECT_FALSE(dbgB.CanFocus());
}

TEST(HostForms, PageControlUserChangeAsksFirstCodeChangeDoesNot) {
  FakeHost host;
  TForm form("frm");
  TPageControl pgc(&form, "pgc", &form);
  TTabSheet a(&form, "a", pgc), b(&form, "b", pgc), c(&form, "c", pgc);
  std::vector<std::string> events;
  bool allow = true;
  pgc.OnChanging = [&](TComponent&, bool& ok) {
    events.push_back("changing");
    ok = allow;
  };
  pgc.OnChange = [&](TComponent&) { events.push_back("change"); };
  TDBGrid grid(&form, "grid", &c);
  grid.OnExit = [&](TComponent&) { events.push_back("exit grid"); };
  pgc.SetActivePageIndex(2);
  grid.SetFocus();
  EXPECT_TRUE(events.empty());
  pgc.SelectPageByUser(b);
  EXPECT_EQ(pgc.ActivePageIndex(), 1);
  EXPECT_EQ(form.ActiveControl(), &pgc);  // the focus left the grid for the tabs
  allow = false;
  pgc.SelectPageByUser(a);
  EXPECT_EQ(pgc.ActivePage(), &b);
  a.SetTabVisible(false);
  allow = true;
  pgc.SelectPageByUser(a);  // a hidden tab cannot be clicked
  EXPECT_EQ(events, (std::vector<std::string>{"exit grid", "changing", "change", "changing"}));
  EXPECT_THROW(pgc.SetActivePageIndex(3), std::out_of_range);
}

// --- Standard grid form ------------------------------------------------------

struct HostStandardForm : ::testing::Test {
  FakeHost host;
  TfrmTeste form;
  HostStandardForm() {
    form.RunCreate();
    PacketBuilder b({{"CODE", FieldType::String, 5}, {"QT", FieldType::Float, 0}});
    b.Add({Value("A"), Value(1.0)}).Add({Value("B"), Value(2.0)});
    form.cdsTeste.SetData(b.Build());
  }
};

TEST_F(HostStandardForm, CommandsFollowTheTableStateAndMenusFollowButtons) {
  EXPECT_TRUE(form.sbtIncluir.Enabled());
  EXPECT_TRUE(form.sbtExcluir.Enabled());
  EXPECT_FALSE(form.sbtConfirmar.Enabled());
  form.cdsTeste.Edit();
  EXPECT_TRUE(form.sbtConfirmar.Enabled());
  EXPECT_TRUE(form.mnuCancelar.Enabled());
  EXPECT_FALSE(form.sbtIncluir.Enabled());
  EXPECT_FALSE(form.mnuIncluir.Enabled());
  form.cdsTeste.Cancel();
  form.cdsTeste.Close();
  EXPECT_FALSE(form.sbtIncluir.Enabled());  // closed table: no command
  form.cdsTeste.SetData(
      PacketBuilder({{"CODE", FieldType::String, 5}, {"QT", FieldType::Float, 0}}).Build());
  EXPECT_TRUE(form.sbtIncluir.Enabled());
  EXPECT_FALSE(form.sbtAlterar.Enabled());  // nothing to change in an empty table
}

TEST_F(HostStandardForm, CancelAsksCancOnlyYesCancels) {
  form.cdsTeste.Edit();
  form.cdsTeste.FieldByName("CODE").SetAsString("Z");
  host.Answer(mrNo, form.msgMensagensPadroes.Msg("Canc"));
  form.sbtCancelar.Click();
  EXPECT_EQ(form.cdsTeste.State(), TDataSetState::dsEdit);
  host.Answer(mrYes);
  form.mnuCancelar.Click();  // the menu runs the button's command
  EXPECT_EQ(form.cdsTeste.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(form.cdsTeste.FieldByName("CODE").AsString(), "A");
}

TEST_F(HostStandardForm, MenuItemsRunTheHandlerTheScreenBoundToTheButton) {
  int own = 0;
  form.sbtIncluir.OnClick = [&](TComponent&) { ++own; };
  form.mnuIncluir.Click();
  EXPECT_EQ(own, 1);
  EXPECT_EQ(form.cdsTeste.State(), TDataSetState::dsBrowse);  // the base's insert did not run
}

TEST_F(HostStandardForm, GridKeysInsertAndDeleteThroughTheCommands) {
  form.dbgPadrao.SetFocus();
  int key = VK_INSERT;
  form.KeyDown(key, 0);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(form.cdsTeste.State(), TDataSetState::dsInsert);
  form.cdsTeste.Cancel();
  key = VK_DELETE;
  host.Answer(mrYes, "Confirma exclusão?");
  form.KeyDown(key, ssCtrl);
  EXPECT_EQ(form.cdsTeste.RecordCount(), 1);
  form.cdsTeste.Edit();
  key = VK_ESCAPE;
  host.Answer(mrYes);
  form.KeyDown(key, 0);
  EXPECT_EQ(form.cdsTeste.State(), TDataSetState::dsBrowse);
}

TEST(HostReportForm, DesignerAsksTheFormForParametersThenShowsTheReport) {
  FakeHost host;
  host.reportParams["LIB050"] = {"P_NRAPURACAO", "P_CDCENTITMAP", "P_OUTRO"};
  TfrmDadosGerRel form;
  form.RunCreate();
  form.lblCodRel.SetCaption("LIB050");
  form.rpddPadrao.BeforeGetQueryParams = [](TReportParams& p, bool&) {
    if (ExistParam(p, "p_nrapuracao")) p.ParamByName("P_NRAPURACAO").Value = "123";
    EXPECT_FALSE(ExistParam(p, "P_NADA"));
  };
  form.sbtVisualizar.Click();
  ASSERT_EQ(host.reportsShown.size(), 1u);
  EXPECT_EQ(host.reportsShown[0].first, "LIB050");
  EXPECT_EQ(host.reportsShown[0].second.Find("P_NRAPURACAO")->Value, "123");
  EXPECT_EQ(host.reportsShown[0].second.Find("P_OUTRO")->Value, "");

  form.rpddPadrao.BeforeGetQueryParams = [](TReportParams&, bool& cancel) { cancel = true; };
  EXPECT_FALSE(form.rpddPadrao.Execute());
  EXPECT_EQ(host.reportsShown.size(), 1u);
  form.rpddPadrao.ReportName.clear();
  EXPECT_THROW(form.rpddPadrao.Execute(), std::runtime_error);
}

// --- Controls ------------------------------------------------------------------

TEST(HostControls, ChangesAreAnnouncedOnceAndOnlyWhenTheValueChanges) {
  TForm form("frm");
  TButtonFlat sbt(&form, "sbtApurar", &form);
  std::vector<std::string> changes;
  int token = sbt.Subscribe(
      [&](TComponent& c, std::string_view p) { changes.push_back(c.Name + "." + std::string(p)); });
  sbt.SetEnabled(false);
  sbt.SetEnabled(false);
  sbt.SetHint("Apurar Melhores Cotações");
  sbt.Tag = 99;  // markers are not shown
  sbt.Unsubscribe(token);
  sbt.SetEnabled(true);
  EXPECT_EQ(changes, (std::vector<std::string>{"sbtApurar.Enabled", "sbtApurar.Hint"}));
  EXPECT_EQ(form.FindComponent("SBTAPURAR"), &sbt);
  EXPECT_EQ(form.FindComponentAs<TDBGrid>("sbtApurar"), nullptr);
}

TEST(HostControls, SubscribersMayUnsubscribeWhileNotified) {
  TPanel pan(nullptr, "panFiltro");
  int a = 0, b = 0;
  int tokenA = 0;
  tokenA = pan.Subscribe([&](TComponent& c, std::string_view) {
    ++a;
    c.Unsubscribe(tokenA);
  });
  pan.Subscribe([&](TComponent&, std::string_view) { ++b; });
  pan.SetVisible(false);
  pan.SetVisible(true);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
}

TEST(HostControls, GroupedButtonTogglesAndReleasesItsGroup) {
  TPanel bar(nullptr, "bar");
  TButtonFlat totais(nullptr, "sbtTotais", &bar), other(nullptr, "other", &bar);
  totais.SetGroupIndex(12);
  totais.SetAllowAllUp(true);
  other.SetGroupIndex(12);
  std::vector<bool> downInHandler;  // the button toggles before its handler runs
  totais.OnClick = [&](TComponent& s) {
    downInHandler.push_back(static_cast<TButtonFlat&>(s).Down());
  };
  totais.Click();
  EXPECT_TRUE(totais.Down());
  other.SetDown(true);
  EXPECT_FALSE(totais.Down());
  totais.Click();
  EXPECT_FALSE(other.Down());
  totais.Click();
  EXPECT_FALSE(totais.Down());
  EXPECT_EQ(downInHandler, (std::vector<bool>{true, true, false}));
}

TEST(HostControls, MenusKeepTheirOrder) {
  TMenuItem op(nullptr, "mnuOperacao"), lst(nullptr, "mnuListagem"), prod(nullptr, "mnuProduto"),
      sep(nullptr, "N3", "-");
  op.Add(lst);
  op.Insert(0, prod);
  op.Insert(1, sep);
  ASSERT_EQ(op.Count(), 3);
  EXPECT_EQ(op.Items()[0], &prod);
  EXPECT_EQ(op.Items()[1], &sep);
  EXPECT_TRUE(sep.IsSeparator());
  EXPECT_EQ(op.Items()[2], &lst);
}

TEST(HostControls, EditsAnnounceTextChangesAndNumberEditsFormat) {
  TEdit edt(nullptr, "edtEnt_Ini");
  int changes = 0;
  edt.OnChange = [&](TComponent&) { ++changes; };
  edt.SetText("01/12/2026");
  edt.SetText("01/12/2026");
  EXPECT_EQ(changes, 1);
  edt.SetMaxLength(4);
  EXPECT_THROW(edt.SetText("12345"), std::invalid_argument);
  EXPECT_EQ(edt.Text(), "01/12/2026");
  edt.SetText("Sáb");  // characters, not bytes

  TNumberEdit ned(nullptr, "nedTotal");
  ned.SetNumber(1234.5);
  EXPECT_EQ(ned.Text(), "1.234,50");
  ned.SetDisplayFormat("#,##0.000");
  EXPECT_EQ(ned.Text(), "1.234,500");
}

struct HostGrid : ::testing::Test {
  TClientDataSet cds{"cdsApurNeg"};
  TDataSource dts{"dtsApurNeg"};
  TForm form{"frm"};
  TDBGrid grid{&form, "dbgFornecedor", &form};
  HostGrid() {
    cds.AddStringField("NMFANTFORN", 20);
    cds.AddFloatField("VRPRECUNIAP").SetAlignment(TAlignment::taRightJustify);
    cds.FieldByName("VRPRECUNIAP").SetDisplayFormat("#,##0.00000");
    PacketBuilder b({{"NMFANTFORN", FieldType::String, 20}, {"VRPRECUNIAP", FieldType::Float, 0}});
    cds.SetData(b.Add({Value("ACME"), Value(2.5)}).Build());
    dts.SetDataSet(&cds);
    grid.SetDataSource(&dts);
    grid.Columns.Add("NMFANTFORN").SetWidth(123);
    grid.Columns.Add("VRPRECUNIAP");
  }
};

TEST_F(HostGrid, ColumnsAreFoundByFieldAndAMissingFieldIsNamed) {
  EXPECT_EQ(IndiceCol(grid, "vrprecuniap"), 1);
  EXPECT_EQ(grid.Columns[1].Field(), &cds.FieldByName("VRPRECUNIAP"));
  EXPECT_EQ(grid.Columns[0].TitleText(), "NMFANTFORN");
  try {
    IndiceCol(grid, "PRECOECONPI");
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("PRECOECONPI"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("dbgFornecedor"), std::string::npos);
  }
  EXPECT_THROW(grid.Columns[5], std::out_of_range);
}

TEST_F(HostGrid, SelectingAColumnRunsExitThenEnter) {
  std::vector<std::string> ev;
  grid.OnColExit = [&](TComponent&) { ev.push_back("exit " + grid.SelectedField()->FieldName()); };
  grid.OnColEnter = [&](TComponent&) {
    ev.push_back("enter " + grid.SelectedField()->FieldName());
  };
  EXPECT_EQ(grid.SelectedIndex(), 0);
  grid.SetSelectedField("VRPRECUNIAP");
  grid.SetSelectedField("VRPRECUNIAP");
  EXPECT_EQ(ev, (std::vector<std::string>{"exit NMFANTFORN", "enter VRPRECUNIAP"}));
  EXPECT_THROW(grid.SetSelectedField("QTACOMP"), std::invalid_argument);
}

TEST_F(HostGrid, CellPaintingDrawsTheOrdinaryCellThenThePainter) {
  RecordingCanvas canvas;
  grid.SetColor(clInfoBk);
  std::vector<std::string> painted;
  grid.OnDrawColumnCell = [&](TComponent& s, const TRect& r, int, TColumn& col,
                              TGridDrawState state) {
    auto& g = static_cast<TDBGrid&>(s);
    ASSERT_NE(g.Canvas(), nullptr);
    painted.push_back(col.FieldName() + ((state & gdSelected) ? " selected" : ""));
    g.Canvas()->FillRect(r);
  };
  TRect cell = Rect(100, 20, 180, 38);
  grid.DrawCell(canvas, cell, 1, 0);
  ASSERT_GE(canvas.ops.size(), 2u);
  const CanvasOp& text = canvas.ops[0];
  EXPECT_EQ(text.kind, CanvasOp::Kind::TextRect);
  EXPECT_EQ(text.text, "2,50000");
  EXPECT_EQ(text.x, 180 - 7 * RecordingCanvas::kCharWidth - 2);  // right-aligned, 2 px in
  EXPECT_EQ(text.y, 22);
  EXPECT_EQ(text.brush, clInfoBk);
  grid.DrawCell(canvas, cell, 0, gdSelected | gdFocused);
  EXPECT_EQ(canvas.ops[2].text, "ACME");
  EXPECT_EQ(canvas.ops[2].brush, clHighlight);
  EXPECT_EQ(canvas.ops[2].font.Color, clHighlightText);
  EXPECT_EQ(painted, (std::vector<std::string>{"VRPRECUNIAP", "NMFANTFORN selected"}));
  EXPECT_EQ(grid.Canvas(), nullptr);
}

}  // namespace
