#include "worksheet/form.h"

#include "worksheet/catalogue.h"

namespace apura::worksheet {

namespace {

// The chosen-quotation mark: a green tick on the olive the painters treat as
// transparent.
TBitmap MarkBitmap() {
  TBitmap b;
  b.Name = "imgMelhor";
  b.Width = 16;
  b.Height = 16;
  b.Pixels.assign(16 * 16, clOlive);
  auto put = [&b](int x, int y) {
    for (int dy = 0; dy < 2; ++dy)
      if (y + dy < 16) b.Pixels[size_t(y + dy) * 16 + size_t(x)] = clGreen;
  };
  for (int x = 3; x <= 6; ++x) put(x, 7 + (x - 3));
  for (int x = 7; x <= 12; ++x) put(x, 9 - (x - 7));
  return b;
}

void Column(TDBGrid& grid, const char* field, int width = 0, bool readOnly = false,
            bool titleRight = false) {
  TColumn& c = grid.Columns.Add(field);
  if (width > 0) c.SetWidth(width);
  c.SetReadOnly(readOnly);
  if (titleRight) c.SetTitleAlignment(TAlignment::taRightJustify);
}

}  // namespace

BusyAnimation::BusyAnimation(const std::string& caption, int kind) {
  ActiveShowAvi(kind, caption);
}

BusyAnimation::~BusyAnimation() {
  if (HasHost()) DeactiveShowAvi();
}

void Refiltra(TClientDataSet& table) {
  table.SetFiltered(false);
  table.SetFiltered(true);
}

TfrmPlanApurNegGrid::TfrmPlanApurNegGrid(TComponent* owner)
    : WorksheetTables(), TfrmPadraoGrid("frmPlanApurNegGrid", owner) {
  SetupComponents();
  SetupTotais();
  SetupQueries();
  BindEvents();
}

TfrmPlanApurNegGrid::~TfrmPlanApurNegGrid() {
  BeginDestroy();
  // The host must not keep calling into a form that is gone.
  if (Active() && HasHost()) MsgEventForm(nullptr);
  // A stale reference would let an exported entry reach a released form.
  if (frmPlanApurNegGrid == this) frmPlanApurNegGrid = nullptr;
}

void TfrmPlanApurNegGrid::SetupComponents() {
  SetCaption("Apuração/Efetivação");
  SetFormStyle(TFormStyle::fsMDIChild);
  HelpFile = "PRQHELP.HLP";
  HelpContext = 12801801;

  msgPadrao.SetLines(CatalogueLines(PlanApurNegGridMessages()));

  // Header.
  lblPeriodo.SetCaption("&Período de Entrega");
  lblA.SetCaption("a");
  lblDe.SetCaption("de");
  for (TEdit* e : {&edtNum_Sem_Ini, &edtNum_Sem_Fin, &edtEnt_Ini, &edtNmSem_Ini, &edtEnt_Fin,
                   &edtNmSem_Fin, &edtComprador})
    e->SetReadOnly(true);
  edtNum_Sem_Ini.SetMaxLength(4);
  edtNum_Sem_Fin.SetMaxLength(4);

  // Toolbar.
  struct Btn {
    TButtonFlat& button;
    const char* hint;
    const char* glyph;
  };
  for (const Btn& b :
       {Btn{sbtApurar, "Apurar Melhores Cotações", "apurar"},
        Btn{sbtGerarAF, "Efetivar AF(s)", "gerar_af"},
        Btn{sbtSimulacao, "Negociar/Simular", "simulacao"},
        Btn{sbtPlanilha, "Informações da Planilha", "planilha"},
        Btn{btnAnalisAF, "Análise de AF", "analise_af"}, Btn{sbtTotais, "Totalizar", "totais"}}) {
    b.button.SetBounds(0, 0, 21, 21);
    b.button.SetHint(b.hint);
    b.button.SetShowHint(true);
    b.button.SetGlyph(b.glyph);
    b.button.SetEnabled(false);
  }
  sbtPlanilha.SetNumGlyphs(2);
  sbtTotais.SetGroupIndex(12);
  sbtTotais.SetAllowAllUp(true);

  // Menus: the pages first in the operation menu, the worksheet's commands
  // after the record commands.
  mnuOperacao.Insert(0, mnuProduto);
  mnuOperacao.Insert(1, mnuGeral);
  mnuOperacao.Insert(2, mnuPadrao);
  mnuOperacao.Insert(3, N3);
  mnuProduto.SetChecked(true);
  mnuListagem.SetEnabled(false);
  mnuConfigImpressora.SetEnabled(false);
  for (TMenuItem* m : {&N1, &mnuApurar, &mnuGerarAF, &mnuSimulacao, &mnuInfPlan, &mnuTotais})
    mnuManutencao.Add(*m);

  // Pages.
  tshPadrao.SetCaption("por Entrega");
  tshPadrao.SetEnabled(false);
  // The base form made its page first; the worksheet's pages come before it.
  tshPadrao.SetPageIndex(pgcPadrao.PageCount() - 1);
  pgcPadrao.SetActivePage(&tshProduto);

  dbnPadrao.SetDataSource(&dtsProduto);
  dbtNome.SetDataSource(&dtsProduto);
  dbtNome.SetDataField("NMPRODUTO");
  dtsPadrao.SetDataSet(&cdsItmApurPrec);

  dbgProdEsto.SetDataSource(&dtsProduto);
  dbgProdEsto.SetOption(dgRowSelect, true);
  dbgProdEsto.SetReadOnly(true);
  Column(dbgProdEsto, "CDARVPROD");
  Column(dbgProdEsto, "NMPRODUTO");

  dbgRegiao.SetDataSource(&dtsRegiao);
  dbgRegiao.SetReadOnly(true);
  Column(dbgRegiao, "CDREGITMAP");
  Column(dbgRegiao, "NMREGIAO", 87);

  dbgProduto.SetDataSource(&dtsProdItem);
  dbgProduto.SetReadOnly(true);
  Column(dbgProduto, "CDARVPROD");
  Column(dbgProduto, "NMPRODUTO", 255);

  dbgFornecedor.SetDataSource(&dtsApurNeg);
  Column(dbgFornecedor, "NRCOLEITMAP", 0, true);
  Column(dbgFornecedor, "NMFANTFORN", 123, true);
  Column(dbgFornecedor, "NMMARCA", 0, true);
  Column(dbgFornecedor, "VRFATOCONV");
  Column(dbgFornecedor, "PRODUNDIVFATCO");
  Column(dbgFornecedor, "VRPRECUNIAP", 75, false, true);
  Column(dbgFornecedor, "PRECOECON", 0, true, true);
  Column(dbgFornecedor, "PRECOECONPI", 0, true, true);
  Column(dbgFornecedor, "QTACOMP", 0, true, true);
  dbgFornecedor.Columns[8].SetTitleCaption("Qtde. Apurada");
  Column(dbgFornecedor, "VRMINAUTFOR", 0, true);
  Column(dbgFornecedor, "QTMINAUTFOT", 0, true);
  Column(dbgFornecedor, "SGUNIDADE", 0, true);

  dbgCot_Filial.SetDataSource(&dtsPai_ItmApurPrec);
  dbgCot_Filial.SetOption(dgRowSelect, true);
  dbgCot_Filial.SetReadOnly(true);
  Column(dbgCot_Filial, "CDFILIAP");
  Column(dbgCot_Filial, "NMFILIAL");
  Column(dbgCot_Filial, "DTENTRAPUT");
  Column(dbgCot_Filial, "QTSOLACOMP", 0, false, true);

  {
    TColumn& motivo = dbgPadrao.Columns.Add("IDMOTIVPRESC");
    motivo.SetButtonStyle(TColumnButtonStyle::cbsEllipsis);
    motivo.SetTitleCaption("4");  // a check-mark glyph in the symbol font
    motivo.SetTitleFontName("Monotype Sorts");
    motivo.SetTitleAlignment(TAlignment::taCenter);
    motivo.SetWidth(17);
    dbgPadrao.Columns.Add("NMFANTFORN").SetButtonStyle(TColumnButtonStyle::cbsEllipsis);
    Column(dbgPadrao, "NRCOLEITMAP");
    Column(dbgPadrao, "NMMARCA");
    for (const char* f : {"QTACOMP", "VRPRECUNIAP", "VRPRECECOAP", "VRPRECONPIAP"})
      Column(dbgPadrao, f, 0, false, true);
  }

  // All grids but the standard one use the tooltip background.
  for (TDBGrid* g : {&dbgProdEsto, &dbgRegiao, &dbgProduto, &dbgFornecedor, &dbgCot_Filial})
    g->SetColor(clInfoBk);

  lblRegiao.SetCaption("Região");
  edtNmRegiao.SetReadOnly(true);
  edtNmRegiao.SetDataSource(&dtsRegiao);
  edtNmRegiao.SetDataField("NMREGIAO");

  panFiltro.SetVisible(false);
  panFilt_Entrega.SetVisible(false);
  panAnimacao.SetVisible(false);

  TBitmap mark = MarkBitmap();
  for (TImage* img : {&imgMelhor, &imgAcordo_fornec, &imgLista_Preco, &imgMel_Cota}) {
    img->SetBounds(0, 0, 16, 16);
    img->SetVisible(false);
    TBitmap b = mark;
    b.Name = img->Name;
    img->SetPicture(std::move(b));
  }
  imgMelhor.SetTransparent(true);

  netPlanApurNegGrid.ServerName = kServerObject;
  netPlanApurNegGrid.ThrowException = false;
  netCompras.ServerName = kComprasObject;
  netCompras.ThrowException = false;
}

void TfrmPlanApurNegGrid::SetupQueries() {
  qryPesqRegiao.SetSQL(
      {"SELECT", "  NMREGIAO", "FROM", "  REGIAO", "WHERE", "  CDREGIAO = :P_CDREGIAO"});
  qryAutGrupOp.SetSQL({"SELECT", "   AUTGRUPOP.IDAUTGRUPOP, OPERGRUPOP.CDOPERADOR", "FROM",
                       "   AUTGRUPOP,", "   OPERGRUPOP", "WHERE",
                       "   AUTGRUPOP.IDAUTGRUPOP = 'PEME' AND",
                       "   AUTGRUPOP.CDGRUPOPER  = OPERGRUPOP.CDGRUPOPER", " "});
  qryAutGrupOp.AddStringField("CDOPERADOR", 12);
}

void TfrmPlanApurNegGrid::BindEvents() {
  using S = TComponent;
  OnCreate = [this](S& s) { FormCreate(s); };
  OnActivate = [this](S& s) { FormActivate(s); };
  OnDeactivate = [this](S& s) { FormDeactivate(s); };
  OnCloseQuery = [this](S& s, bool& c) { FormCloseQuery(s, c); };
  OnClose = [this](S& s, TCloseAction& a) { FormClose(s, a); };
  OnKeyDown = [this](S& s, int& k, TShiftState sh) { FormKeyDown(s, k, sh); };

  netPlanApurNegGrid.BeforeConnect = [this](S& s) { netPlanApurNegGridBeforeConnect(s); };
  netCompras.BeforeConnect = [this](S& s) { netComprasBeforeConnect(s); };

  edtEnt_Ini.OnChange = [this](S& s) { edtEnt_IniChange(s); };
  edtEnt_Fin.OnChange = [this](S& s) { edtEnt_FinChange(s); };

  pgcPadrao.OnChange = [this](S& s) { pgcPadraoChange(s); };
  pgcPadrao.OnChanging = [this](S& s, bool& allow) { pgcPadraoChanging(s, allow); };

  // Tables.
  cdsProduto.AfterScroll = [this](TClientDataSet& d) { cdsProdutoAfterScroll(d); };
  cdsRegiao.OnFilterRecord = [this](TClientDataSet& d, bool& a) { cdsRegiaoFilterRecord(d, a); };
  cdsRegiao.AfterScroll = [this](TClientDataSet& d) { cdsRegiaoAfterScroll(d); };
  cdsProdItem.OnFilterRecord = [this](TClientDataSet& d, bool& a) {
    cdsProdItemFilterRecord(d, a);
  };
  cdsProdItem.AfterScroll = [this](TClientDataSet& d) { cdsProdItemAfterScroll(d); };
  cdsApurNeg.OnFilterRecord = [this](TClientDataSet& d, bool& a) { cdsApurNegFilterRecord(d, a); };
  cdsApurNeg.BeforeInsert = [this](TClientDataSet& d) { cdsApurNegBeforeInsert(d); };
  cdsApurNeg.BeforeEdit = [this](TClientDataSet& d) { cdsApurNegBeforeEdit(d); };
  cdsApurNeg.AfterEdit = [this](TClientDataSet& d) { cdsApurNegAfterEdit(d); };
  cdsApurNeg.BeforePost = [this](TClientDataSet& d) { cdsApurNegBeforePost(d); };
  cdsPai_ItmApurPrec.OnFilterRecord = [this](TClientDataSet& d, bool& a) {
    cdsPai_ItmApurPrecFilterRecord(d, a);
  };
  cdsPai_ItmApurPrec.AfterScroll = [this](TClientDataSet& d) { cdsPai_ItmApurPrecAfterScroll(d); };
  cdsItmApurPrec.OnFilterRecord = [this](TClientDataSet& d, bool& a) {
    cdsItmApurPrecFilterRecord(d, a);
  };
  // The detail filters accept only their masters' keys, so each asks about
  // the rows of those keys alone, not the whole tally. An expression of the
  // caller's own decides alone (see the filters), so it asks about every row.
  cdsApurNeg.SetFilterKey("CDPRODITMAP;CDREGITMAP", [this](std::vector<std::string>& k) {
    if (!cdsApurNeg.Filter().empty()) return false;
    k = {ff_.itemCDPRODITMAP->AsString(), ff_.regiaoCDREGITMAP->AsString()};
    return true;
  });
  cdsPai_ItmApurPrec.SetFilterKey("CDPRODITMAP;CDREGITMAP", [this](std::vector<std::string>& k) {
    if (!cdsPai_ItmApurPrec.Filter().empty()) return false;
    k = {ff_.apurCDPRODITMAP->AsString(), ff_.apurCDREGITMAP->AsString()};
    return true;
  });
  cdsItmApurPrec.SetFilterKey("CDPRODITMAP;CDREGITMAP;CDFILIAP",
                              [this](std::vector<std::string>& k) {
                                if (!cdsItmApurPrec.Filter().empty()) return false;
                                k = {ff_.apurCDPRODITMAP->AsString(),
                                     ff_.apurCDREGITMAP->AsString(), ff_.paiCDFILIAP->AsString()};
                                return true;
                              });
  cdsItmApurPrec.AfterInsert = [this](TClientDataSet& d) { cdsItmApurPrecAfterInsert(d); };
  cdsItmApurPrec.BeforePost = [this](TClientDataSet& d) { cdsItmApurPrecBeforePost(d); };
  cdsItmApurPrec.AfterPost = [this](TClientDataSet& d) { cdsItmApurPrecAfterPost(d); };
  cdsItmApurPrec.AfterCancel = [this](TClientDataSet& d) { cdsItmApurPrecAfterCancel(d); };
  cdsItmApurPrec.BeforeDelete = [this](TClientDataSet& d) { cdsItmApurPrecBeforeDelete(d); };
  cdsItmApurPrec.AfterDelete = [this](TClientDataSet& d) { cdsItmApurPrecAfterDelete(d); };
  cdsItmApurPrecIDMOTIVPRESC->OnGetText = [this](TField& f, std::string& t, bool display) {
    cdsItmApurPrecIDMOTIVPRESCGetText(f, t, display);
  };

  // Data links.
  dtsPadrao.OnStateChange = [this](TDataSource& s) { dtsPadraoStateChange(s); };
  dtsApurNeg.OnStateChange = [this](TDataSource& s) { dtsApurNegStateChange(s); };
  dtsPai_ItmApurPrec.OnStateChange = [this](TDataSource& s) { dtsPai_ItmApurPrecStateChange(s); };

  // Commands.
  sbtIncluir.OnClick = [this](S& s) { sbtIncluirClick(s); };
  sbtAlterar.OnClick = [this](S& s) { sbtAlterarClick(s); };
  sbtExcluir.OnClick = [this](S& s) { sbtExcluirClick(s); };
  sbtProcurar.OnClick = [this](S& s) { sbtProcurarClick(s); };
  sbtVerificar.OnClick = [this](S& s) { sbtVerificarClick(s); };
  sbtConfirmar.OnClick = [this](S& s) { sbtConfirmarClick(s); };
  sbtCancelar.OnClick = [this](S& s) { sbtCancelarClick(s); };
  sbtImprimir.OnClick = [this](S& s) { sbtImprimirClick(s); };
  sbtApurar.OnClick = [this](S& s) { sbtApurarClick(s); };
  sbtGerarAF.OnClick = [this](S& s) { sbtGerarAFClick(s); };
  btnAnalisAF.OnClick = [this](S& s) { btnAnalisAFClick(s); };
  sbtSimulacao.OnClick = [this](S& s) { sbtSimulacaoClick(s); };
  sbtPlanilha.OnClick = [this](S& s) { sbtPlanilhaClick(s); };
  sbtTotais.OnClick = [this](S& s) { sbtTotaisClick(s); };
  mnuProduto.OnClick = [this](S& s) { mnuProdutoClick(s); };
  mnuGeral.OnClick = [this](S& s) { mnuGeralClick(s); };
  mnuPadrao.OnClick = [this](S& s) { mnuPadraoClick(s); };
  mnuGerarAF.OnClick = [this](S& s) { sbtGerarAFClick(s); };
  mnuSimulacao.OnClick = [this](S& s) { sbtSimulacaoClick(s); };
  mnuInfPlan.OnClick = [this](S& s) { sbtPlanilhaClick(s); };
  mnuTotais.OnClick = [this](S& s) { mnuTotaisClick(s); };
  mnuApurar.OnClick = [this](S& s) { sbtApurarClick(s); };

  // Grids.
  for (TDBGrid* g :
       {&dbgProdEsto, &dbgRegiao, &dbgProduto, &dbgFornecedor, &dbgCot_Filial, &dbgPadrao})
    g->OnEnter = [this](S& s) { GridEnter(s); };
  panFiltro.OnEnter = [this](S& s) { GridEnter(s); };
  panFilt_Entrega.OnEnter = [this](S& s) { GridEnter(s); };
  dbgPadrao.OnKeyDown = [this](S& s, int& k, TShiftState sh) { dbgPadraoKeyDown(s, k, sh); };
  dbgPadrao.OnKeyPress = [this](S& s, char32_t& k) { dbgPadraoKeyPress(s, k); };
  dbgPadrao.OnColEnter = [this](S& s) { dbgPadraoColEnter(s); };
  dbgPadrao.OnEditButtonClick = [this](S& s) { dbgPadraoEditButtonClick(s); };
  dbgCot_Filial.OnKeyDown = [this](S& s, int& k, TShiftState sh) {
    dbgCot_FilialKeyDown(s, k, sh);
  };
  dbgRegiao.OnKeyDown = [this](S& s, int& k, TShiftState sh) { dbgRegiaoKeyDown(s, k, sh); };
  dbgProduto.OnKeyDown = [this](S& s, int& k, TShiftState sh) { dbgProdutoKeyDown(s, k, sh); };
  dbgFornecedor.OnKeyDown = [this](S& s, int& k, TShiftState sh) {
    dbgFornecedorKeyDown(s, k, sh);
  };
  dbgFornecedor.OnKeyPress = [this](S& s, char32_t& k) { dbgFornecedorKeyPress(s, k); };
  dbgFornecedor.OnDrawColumnCell = [this](S& s, const TRect& r, int c, TColumn& col,
                                          TGridDrawState st) {
    dbgFornecedorDrawColumnCell(s, r, c, col, st);
  };
  dbgProduto.OnDrawColumnCell = [this](S& s, const TRect& r, int c, TColumn& col,
                                       TGridDrawState st) {
    dbgProdutoDrawColumnCell(s, r, c, col, st);
  };
  dbgPadrao.OnDrawColumnCell = [this](S& s, const TRect& r, int c, TColumn& col,
                                      TGridDrawState st) {
    dbgPadraoDrawColumnCell(s, r, c, col, st);
  };

  // The record filters read these on every row.
  ff_.produtoCDPRODUTO = &cdsProduto.FieldByName("CDPRODUTO");
  ff_.paraIDCONSPRSOL = cdsParaSupriIDCONSPRSOL;
  ff_.regiaoCDPRODESTO = &cdsRegiao.FieldByName("CDPRODESTO");
  ff_.regiaoCDREGITMAP = &cdsRegiao.FieldByName("CDREGITMAP");
  ff_.itemCDPRODESTO = &cdsProdItem.FieldByName("CDPRODESTO");
  ff_.itemCDREGITMAP = &cdsProdItem.FieldByName("CDREGITMAP");
  ff_.itemCDPRODITMAP = &cdsProdItem.FieldByName("CDPRODITMAP");
  ff_.apurCDPRODITMAP = &cdsApurNeg.FieldByName("CDPRODITMAP");
  ff_.apurCDREGITMAP = &cdsApurNeg.FieldByName("CDREGITMAP");
  ff_.paiCDPRODITMAP = &cdsPai_ItmApurPrec.FieldByName("CDPRODITMAP");
  ff_.paiCDREGITMAP = &cdsPai_ItmApurPrec.FieldByName("CDREGITMAP");
  ff_.paiCDFILIAP = &cdsPai_ItmApurPrec.FieldByName("CDFILIAP");
  ff_.paiDTENTRAPUT = &cdsPai_ItmApurPrec.FieldByName("DTENTRAPUT");
  ff_.itmIDITMSELAPUR = &cdsItmApurPrec.FieldByName("IDITMSELAPUR");
  ff_.itmCDPRODITMAP = &cdsItmApurPrec.FieldByName("CDPRODITMAP");
  ff_.itmCDREGITMAP = &cdsItmApurPrec.FieldByName("CDREGITMAP");
  ff_.itmCDFILIAP = &cdsItmApurPrec.FieldByName("CDFILIAP");
  ff_.itmDTENTRAPUT = &cdsItmApurPrec.FieldByName("DTENTRAPUT");
}

}  // namespace apura::worksheet
