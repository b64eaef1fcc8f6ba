#pragma once
// The negotiation tally worksheet: its components, tables and state. Each
// subsystem implements the handlers and routines it owns in its own files;
// this class is where they all meet.

#include <functional>
#include <string>
#include <vector>

#include "contract/objects.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/host.h"
#include "framework/messages.h"
#include "framework/netconnection.h"
#include "framework/query.h"
#include "worksheet/launch.h"
#include "worksheet/tables.h"

namespace apura::worksheet {

// Shows the host's busy animation for a scope and closes it on every path, so
// a failed server call never leaves the buyer looking at a frozen animation.
class BusyAnimation {
 public:
  explicit BusyAnimation(const std::string& caption, int kind = 1);
  ~BusyAnimation();
  BusyAnimation(const BusyAnimation&) = delete;
  BusyAnimation& operator=(const BusyAnimation&) = delete;
};

// Switches a table's record filter off and on, so its rule runs again over
// every row against the masters' current rows.
void Refiltra(TClientDataSet& table);

// The key shared by a quotation line and its delivery rows.
struct ChaveCotacao {
  std::string CDFORNITMAP, CDMARCITMAP, NRCOLEITMAP, CDPRODITMAP, CDREGITMAP;
};

// Runs `fn` with the fields of `dados` reading, in the table's order, each
// visible row that may be a delivery of quotation `c`: the rows of its
// product, region and supplier when every live row is visible in storage
// order, every visible row otherwise. `fn` answering false stops the walk.
void ParaCadaEntregaDaCotacao(const TClientDataSet& dados, const ChaveCotacao& c,
                              const std::function<bool()>& fn);

class TfrmPlanApurNegGrid : public WorksheetTables, public TfrmPadraoGrid {
 public:
  static constexpr const char* kServerObject = contract::kWorksheetObject;
  static constexpr const char* kComprasObject = contract::kPurchasingObject;
  static constexpr const char* kIndOrder = "IndOrder";

  explicit TfrmPlanApurNegGrid(TComponent* owner = nullptr);
  ~TfrmPlanApurNegGrid() override;

  // --- Header: delivery period and buyer --------------------------------------
  TPanel panInfo{this, "panInfo", this};
  TLabel lblPeriodo{this, "lblPeriodo", &panInfo};
  TEdit edtNum_Sem_Ini{this, "edtNum_Sem_Ini", &panInfo};
  TLabel lblA{this, "lblA", &panInfo};
  TEdit edtNum_Sem_Fin{this, "edtNum_Sem_Fin", &panInfo};
  TLabel lblDe{this, "lblDe", &panInfo};
  TEdit edtEnt_Ini{this, "edtEnt_Ini", &panInfo};
  TEdit edtNmSem_Ini{this, "edtNmSem_Ini", &panInfo};
  TEdit edtEnt_Fin{this, "edtEnt_Fin", &panInfo};
  TEdit edtNmSem_Fin{this, "edtNmSem_Fin", &panInfo};
  TEdit edtComprador{this, "edtComprador", &panInfo};

  // --- Toolbar: the worksheet's own commands ---------------------------------
  TButtonFlat sbtApurar{this, "sbtApurar", &panBotoes};
  TButtonFlat sbtGerarAF{this, "sbtGerarAF", &panBotoes};
  TButtonFlat sbtSimulacao{this, "sbtSimulacao", &panBotoes};
  TButtonFlat sbtPlanilha{this, "sbtPlanilha", &panBotoes};
  TButtonFlat btnAnalisAF{this, "btnAnalisAF", &panBotoes};
  TButtonFlat sbtTotais{this, "sbtTotais", &panBotoes};

  // --- Menu items the worksheet adds -----------------------------------------
  TMenuItem mnuProduto{this, "mnuProduto", "&Produtos"};
  TMenuItem mnuGeral{this, "mnuGeral", "C&otação"};
  TMenuItem mnuPadrao{this, "mnuPadrao", "por &Entrega"};
  TMenuItem N3{this, "N3", "-"};
  TMenuItem N1{this, "N1", "-"};
  TMenuItem mnuApurar{this, "mnuApurar", "Ap&urar Melhores Cotações"};
  TMenuItem mnuGerarAF{this, "mnuGerarAF", "E&fetivar AF(s)"};
  TMenuItem mnuSimulacao{this, "mnuSimulacao", "Ne&gociar/Simular", "Ctrl+S"};
  TMenuItem mnuInfPlan{this, "mnuInfPlan", "Informações da Planil&ha"};
  TMenuItem mnuTotais{this, "mnuTotais", "Totali&zar"};

  // --- Pages -----------------------------------------------------------------
  TTabSheet tshProduto{this, "tshProduto", pgcPadrao, "Produtos"};
  TTabSheet tshGeral{this, "tshGeral", pgcPadrao, "Cotação"};

  // "Produtos"
  TDBGrid dbgProdEsto{this, "dbgProdEsto", &tshProduto};

  // "Cotação"
  TDBGrid dbgRegiao{this, "dbgRegiao", &tshGeral};
  TDBGrid dbgProduto{this, "dbgProduto", &tshGeral};
  TDBGrid dbgFornecedor{this, "dbgFornecedor", &tshGeral};
  TPanel panFiltro{this, "panFiltro", &tshGeral};  // totals of the quotation page

  // "por Entrega" (tshPadrao, with dbgPadrao below dbgCot_Filial)
  TPanel panRegiao{this, "panRegiao", &tshPadrao};
  TLabel lblRegiao{this, "lblRegiao", &panRegiao};
  TDBEdit edtNmRegiao{this, "edtNmRegiao", &panRegiao};
  TDBGrid dbgCot_Filial{this, "dbgCot_Filial", &tshPadrao};
  TPanel panFilt_Entrega{this, "panFilt_Entrega", &tshPadrao};  // totals of the delivery page

  // Busy panel shown while the quotation lists are refreshed.
  TPanel panAnimacao{this, "panAnimacao", this};
  TLabel lblInsert{this, "lblInsert", &panAnimacao};
  TAnimate amnTempo{this, "amnTempo", &panAnimacao};

  // Marks painted on the grids (hidden 16x16 images).
  TImage imgMelhor{this, "imgMelhor", this};
  TImage imgAcordo_fornec{this, "imgAcordo_fornec", this};
  TImage imgLista_Preco{this, "imgLista_Preco", this};
  TImage imgMel_Cota{this, "imgMel_Cota", this};

  // --- Local database --------------------------------------------------------
  TADOIBQuery qryPesqRegiao{this, "qryPesqRegiao"};
  TADOIBQuery qryAutGrupOp{this, "qryAutGrupOp"};

  // --- Server connections ----------------------------------------------------
  TNetConnection netPlanApurNegGrid{this, "netPlanApurNegGrid"};
  TNetConnection netCompras{this, "netCompras"};

  // --- State -----------------------------------------------------------------
  // Usage count of each connection, "name=count".
  std::vector<std::string> stlConnection;
  std::string stPrxApurPreco;  // the tally on screen
  bool boPrimVez = true;       // first activation still to come
  bool boPEME = false;         // the operator may choose prices by hand
  TDataSource* dtsAtivo = nullptr;
  // Cursor of the quotation lines saved while the product items move.
  std::string stNRCOLEPRECO, stCDFORNECED, stCDMARCA;
  // Set by code that closes the worksheet on its own (after effectuation or
  // a fatal report): closing then asks nothing.
  bool boFechaSemConfirmar = false;

  // --- Lifecycle -------------------------------------------------------------
  void FormCreate(TComponent& Sender);
  void FormActivate(TComponent& Sender);
  void FormDeactivate(TComponent& Sender);
  void FormCloseQuery(TComponent& Sender, bool& CanClose);
  // Delivery rows that differ from what the server sent: choices made on
  // screen and not yet effectuated.
  bool EscolhasNaoEfetivadas() const;
  void FormClose(TComponent& Sender, TCloseAction& Action);
  void OnMessage(HostMessage& Msg, bool& Handled);
  static void TrocaDecimal(HostMessage& Msg);
  // Closes without asking about unsent choices.
  void Fecha_SemConfirmar();

  // --- Server connection -----------------------------------------------------
  void ConnectServer(TNetConnection& netConnection, bool boConnected);
  // Usage count held for the connection; 0 when it has no line yet.
  int ConnectionCount(const TNetConnection& netConnection) const;
  void netPlanApurNegGridBeforeConnect(TComponent& Sender);
  void netComprasBeforeConnect(TComponent& Sender);
  // The calling pattern: count the use, call, check the result, release the
  // use on every path. Answers what the result check hands back.
  Value ChamaServidor(TNetConnection& net, const std::string& method, std::vector<CallArg> args);

  // One call site a server method, arguments in the server's order.
  Value Srv_GetProduto();
  Value Srv_DelApuracao();
  Value Srv_GetParamCmp();
  Value Srv_GetDados();
  Value Srv_GetRegiao();
  Value Srv_GetProdItem();
  Value Srv_GetApurNeg();
  Value Srv_GetPai_ItmApurPrec();
  Value Srv_GetItmApurPrec();
  Value Srv_GetDados_ItmApurPrec();
  // stTipoApur: the tally kind the best-quote command passes.
  Value Srv_MelhorCotacao(const std::string& stTipoApur);
  // From the current quotation line.
  Value Srv_Atualiza_PrecoEco();
  // From the quotation line being posted: [PRECOECON, PRECOECONPI].
  Value Srv_AtuaPrecEco();
  Value Srv_GetVd_EfetivaAF();
  Value Srv_Gera_AF();
  Value Srv_ExcluiAF();
  // System code the server's tally rules are chosen by: "PRQ" in the supplies
  // modules, "CMP" in purchasing, empty elsewhere.
  static std::string CodigoSistema();

  // --- Loading ---------------------------------------------------------------
  void Deleta_Apuracao();
  void Get_Data();
  void Dados_porEntrega();
  void pgcPadraoChange(TComponent& Sender);
  void cdsProdutoAfterScroll(TClientDataSet& DataSet);
  // Fields of IndOrder on cdsApurNeg for the tally type in cdsParaSupri.
  std::string CamposOrdemApurNeg() const;

  // --- Record filters and cursor chain ---------------------------------------
  void cdsRegiaoFilterRecord(TClientDataSet& DataSet, bool& Accept);
  void cdsProdItemFilterRecord(TClientDataSet& DataSet, bool& Accept);
  void cdsApurNegFilterRecord(TClientDataSet& DataSet, bool& Accept);
  void cdsPai_ItmApurPrecFilterRecord(TClientDataSet& DataSet, bool& Accept);
  void cdsItmApurPrecFilterRecord(TClientDataSet& DataSet, bool& Accept);
  void cdsRegiaoAfterScroll(TClientDataSet& DataSet);
  void cdsProdItemAfterScroll(TClientDataSet& DataSet);
  void cdsPai_ItmApurPrecAfterScroll(TClientDataSet& DataSet);
  void edtEnt_IniChange(TComponent& Sender);
  void edtEnt_FinChange(TComponent& Sender);

  // --- Screen modes ----------------------------------------------------------
  void Habilita_Geral();
  void dtsPadraoStateChange(TDataSource& Sender);
  void dtsApurNegStateChange(TDataSource& Sender);
  void dtsPai_ItmApurPrecStateChange(TDataSource& Sender);
  void pgcPadraoChanging(TComponent& Sender, bool& AllowChange);
  void mnuProdutoClick(TComponent& Sender);
  void mnuGeralClick(TComponent& Sender);
  void mnuPadraoClick(TComponent& Sender);
  // The standard record commands as the worksheet runs them.
  void sbtIncluirClick(TComponent& Sender);
  void sbtAlterarClick(TComponent& Sender);
  void sbtExcluirClick(TComponent& Sender);
  void sbtProcurarClick(TComponent& Sender);
  void sbtVerificarClick(TComponent& Sender);
  void sbtConfirmarClick(TComponent& Sender);
  void sbtCancelarClick(TComponent& Sender);
  void sbtImprimirClick(TComponent& Sender);
  void FormKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  void dbgPadraoKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  void dbgPadraoKeyPress(TComponent& Sender, char32_t& Key);
  void dbgPadraoColEnter(TComponent& Sender);
  void dbgCot_FilialKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  void dbgRegiaoKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  void dbgProdutoKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  // Focus entering a grid (or a totals panel) makes its data link the active one.
  void GridEnter(TComponent& Sender);

  // --- Cell painting over the grids' ordinary painting ---------------------
  void dbgFornecedorDrawColumnCell(TComponent& Sender, const TRect& Rect, int DataCol,
                                   TColumn& Column, TGridDrawState State);
  void dbgProdutoDrawColumnCell(TComponent& Sender, const TRect& Rect, int DataCol, TColumn& Column,
                                TGridDrawState State);
  void dbgPadraoDrawColumnCell(TComponent& Sender, const TRect& Rect, int DataCol, TColumn& Column,
                               TGridDrawState State);

  // --- Tallied quantity of a quotation line --------------------------------
  // Sum of QTACOMP over the chosen rows of cdsDados with the line's key.
  double Soma_QtApurada(const ChaveCotacao& chave) const;
  // Writes that sum into the quotation line's QTACOMP (under the internal-edit
  // flag); call after every change to a line's chosen delivery rows.
  void Atualiza_QtApurada(const ChaveCotacao& chave);

  // --- Commands of the later subsystems --------------------------------------
  void sbtApurarClick(TComponent& Sender);     // best-quote tally
  void sbtGerarAFClick(TComponent& Sender);    // AF effectuation
  void btnAnalisAFClick(TComponent& Sender);   // AF analysis screen
  void sbtSimulacaoClick(TComponent& Sender);  // price simulation
  void sbtPlanilhaClick(TComponent& Sender);   // spreadsheet information
  void sbtTotaisClick(TComponent& Sender);     // totals panel
  void mnuTotaisClick(TComponent& Sender);
  void dbgFornecedorKeyDown(TComponent& Sender, int& Key, TShiftState Shift);  // manual choice
  void dbgPadraoEditButtonClick(TComponent& Sender);                           // quotation picker
  // Delivery line rules.
  void cdsItmApurPrecAfterInsert(TClientDataSet& DataSet);
  void cdsItmApurPrecBeforePost(TClientDataSet& DataSet);
  void cdsItmApurPrecAfterPost(TClientDataSet& DataSet);
  void cdsItmApurPrecAfterCancel(TClientDataSet& DataSet);
  void cdsItmApurPrecBeforeDelete(TClientDataSet& DataSet);
  void cdsItmApurPrecAfterDelete(TClientDataSet& DataSet);
  void cdsItmApurPrecIDMOTIVPRESCGetText(TField& Sender, std::string& Text, bool DisplayText);
  // Unit-price edit of a quotation line.
  void cdsApurNegBeforeInsert(TClientDataSet& DataSet);
  void cdsApurNegBeforeEdit(TClientDataSet& DataSet);
  void cdsApurNegAfterEdit(TClientDataSet& DataSet);
  void cdsApurNegBeforePost(TClientDataSet& DataSet);

  // --- Quote tally: best quotes from the server, manual choice --------------
  // Set by the justification dialog when the buyer leaves it without
  // confirming; the choice it was asked for is then undone.
  bool boSemJust = false;
  // Asks, has the server tally with kind stTipo, reloads the five tables the
  // tally changes and keeps a snapshot of the quotation lines in cdsAuxApur.
  void MelhorCotacao(const std::string& stTipo);
  // Warns once when the snapshot holds a chosen line without economic price.
  void Verifica_PrecEco_Zerado();
  void dbgFornecedorKeyPress(TComponent& Sender, char32_t& Key);
  // Chooses or drops the current quotation line with all its deliveries.
  void Apurar_Cotacao();
  // Asks for the justification of a choice just made; undoes it on cancel.
  void Informa_Justif();
  // One row per distinct combination of the named fields over the packet's
  // rows, compared as text without regard to letter case.
  static DataPacket DegRegistros(const std::vector<std::string>& arCampos,
                                 const DataPacket& oleData);
  // --- Delivery editing: delivery-line rules, quotation picker, price edit --
  // Refuses the delivery line being posted when step "1" (supplier), "2"
  // (quantity given) or "3" (quantity above zero) fails, with the grid on the
  // offending column.
  void Vd_PorEntrega(const std::string& stPasso);
  // Rebuilds cdsPesqForn: the free, priced quotations of the current product for
  // the current branch and delivery date, cheapest first.
  void Monta_PesqForn();
  // Copies the current pick-list row into the delivery line being edited.
  void Copia_PesqForn();
  // The text the reason code of a delivery line stands for; empty for an empty
  // code.
  std::string Texto_Motivo(const std::string& stMotivo);
  // Unit price of the quotation line when its edit began.
  double rePrecEco = 0;
  // --- Totals ----------------------------------------------------------------
  // The "Cotação" grids sit in two scroll boxes, so showing the totals can
  // disable them as one.
  TScrollBox scbRegiao{this, "scbRegiao", &tshGeral};
  TScrollBox scbGeral{this, "scbGeral", &tshGeral};
  // panFiltro: totals of the quotation line under the cursor.
  TGroupBox grbVrForn{this, "grbVrForn", &panFiltro};
  TLabel lblVrForn{this, "lblVrForn", &grbVrForn};
  TNumberEdit nedVrForn{this, "nedVrForn", &grbVrForn};
  TLabel lblRegForn{this, "lblRegForn", &grbVrForn};
  TNumberEdit nedRegForn{this, "nedRegForn", &grbVrForn};
  TGroupBox grbQtTotForn{this, "grbQtTotForn", &panFiltro};
  TLabel lblQtTotForn{this, "lblQtTotForn", &grbQtTotForn};
  TNumberEdit nedQtTotForn{this, "nedQtTotForn", &grbQtTotForn};
  TGroupBox grbVrTotProd{this, "grbVrTotProd", &panFiltro};
  TLabel lblVrTotProdGer{this, "lblVrTotProdGer", &grbVrTotProd};
  TNumberEdit nedVrTotProdGer{this, "nedVrTotProdGer", &grbVrTotProd};
  TLabel lblVrTotFornProd{this, "lblVrTotFornProd", &grbVrTotProd};
  TNumberEdit nedVrTotFornProd{this, "nedVrTotFornProd", &grbVrTotProd};
  TGroupBox grbNumProd{this, "grbNumProd", &panFiltro};
  TLabel lblNumFornProd{this, "lblNumFornProd", &grbNumProd};
  TNumberEdit nedNumFornProd{this, "nedNumFornProd", &grbNumProd};
  TLabel lblNumRegProd{this, "lblNumRegProd", &grbNumProd};
  TNumberEdit nedNumRegProd{this, "nedNumRegProd", &grbNumProd};
  TGroupBox grbVrTotReg{this, "grbVrTotReg", &panFiltro};
  TLabel lblVrTotReg{this, "lblVrTotReg", &grbVrTotReg};
  TNumberEdit nedVrTotReg{this, "nedVrTotReg", &grbVrTotReg};
  // panFilt_Entrega: totals of the branch in view.
  TGroupBox grbVrTotFil{this, "grbVrTotFil", &panFilt_Entrega};
  TLabel lblVrTotFil_Ger{this, "lblVrTotFil_Ger", &grbVrTotFil};
  TNumberEdit nedVrTotFil_Ger{this, "nedVrTotFil_Ger", &grbVrTotFil};
  TLabel lblVrTotFil_Prod{this, "lblVrTotFil_Prod", &grbVrTotFil};
  TNumberEdit nedVrTotFil_Prod{this, "nedVrTotFil_Prod", &grbVrTotFil};
  TGroupBox grbQtTotFil{this, "grbQtTotFil", &panFilt_Entrega};
  TLabel lblQtTotFil_Prod{this, "lblQtTotFil_Prod", &grbQtTotFil};
  TNumberEdit nedQtTotFil_Prod{this, "nedQtTotFil_Prod", &grbQtTotFil};
  TGroupBox grbVrTotRegEnt{this, "grbVrTotRegEnt", &panFilt_Entrega};
  TNumberEdit edtVrTotReg{this, "edtVrTotReg", &grbVrTotRegEnt};

  // Fills the panel of the quotation page (boGeral) or of the delivery page.
  void Totais_Apurados(bool boGeral);
  // One total by its selector ("1" to "9", "A", "B"); 0 for any other.
  double Monta_Totais(char chTipo);
  // While Totais_Apurados fills a panel the sources do not change, so each
  // scratch table is copied once for all its totals.
  bool boTotaisEmLote = false;
  bool boAuxApurNegCopiada = false, boAuxItmApurPrecCopiada = false;

  // --- AF generation ---------------------------------------------------------
  // Sends the delivery choices and turns them into AFs on the server; on
  // success the worksheet closes and the AF analysis screen opens.
  void Gera_AF();
  // Puts the AF lock back and enables the AF commands again.
  void Libera_GerarAF();
  // --- Price simulation and spreadsheet information --------------------------
  // The current quotation line as the simulation screen takes it: centre,
  // collection, supplier, product, tree code, brand, region, tally.
  ValueArray Chave_Cotacao_Tela() const;
  // Reloads a table that is open (the lazy loading leaves those alone) and
  // sorts it by IndOrder on indexFields; a failed call leaves it as it was.
  void Recarrega_Tabela(TClientDataSet& table, Value (TfrmPlanApurNegGrid::*call)(),
                        const std::string& indexFields);

 private:
  void SetupComponents();
  void SetupTotais();
  void BindEvents();
  void SetupQueries();
  // Loads a table from a server answer unless it is loaded; with index fields,
  // loads in natural order and then sorts by IndOrder.
  void CarregaTabela(TClientDataSet& table, Value (TfrmPlanApurNegGrid::*call)(),
                     const std::string& indexFields);
  static void PeriodoMudou(TEdit& edtData, TEdit& edtNmSem, TEdit& edtNumSem);

  // Fields the record filters read, resolved once.
  struct FilterFields {
    TField *produtoCDPRODUTO, *paraIDCONSPRSOL;
    TField *regiaoCDPRODESTO, *regiaoCDREGITMAP;
    TField *itemCDPRODESTO, *itemCDREGITMAP, *itemCDPRODITMAP;
    TField *apurCDPRODITMAP, *apurCDREGITMAP;
    TField *paiCDPRODITMAP, *paiCDREGITMAP, *paiCDFILIAP, *paiDTENTRAPUT;
    TField *itmIDITMSELAPUR, *itmCDPRODITMAP, *itmCDREGITMAP, *itmCDFILIAP, *itmDTENTRAPUT;
  } ff_{};
};

}  // namespace apura::worksheet
