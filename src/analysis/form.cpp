#include "analysis/form.h"

#include <stdexcept>

#include "contract/methods.h"

namespace apura::analysis {

namespace {

struct Coluna {
  const char* name;
  FieldType type;
  int size;
  const char* label;
  const char* format;
};

void Define(TClientDataSet& t, std::initializer_list<Coluna> cols) {
  for (const Coluna& c : cols) {
    TField& f = t.AddField({c.name, c.type, c.size, false});
    if (c.label) f.SetDisplayLabel(c.label);
    if (c.format) f.SetDisplayFormat(c.format);
  }
}

constexpr const char* kValor = "#,##0.00";
constexpr const char* kQtde = "#,##0.00000";

void Colunas(TDBGrid& g, std::initializer_list<const char*> fields) {
  for (const char* f : fields) g.Columns.Add(f);
}

}  // namespace

TfrmAnaliseAF::TfrmAnaliseAF(TComponent* owner) : TfrmPadraoGrid("frmAnaliseAF", owner) {
  SetCaption("Análise de Autorização de Fornecimento");
  lblCentro.SetCaption("Centro de Compras");
  lblApuracao.SetCaption("Apuração");
  edtCentro.SetReadOnly(true);
  edtApuracao.SetReadOnly(true);
  tshPadrao.SetCaption("AF's");
  pgcPadrao.SetActivePage(&tshPadrao);

  DefineTabelas();
  dtsPadrao.SetDataSet(&cdsAutoForne);
  dtsItens.SetDataSet(&cdsItmAutoForne);
  dtsIncons.SetDataSet(&cdsAFIncons);

  for (TDBGrid* g : {&dbgPadrao, &dbgItens, &dbgIncons}) {
    g->SetReadOnly(true);
    g->SetOption(dgRowSelect, true);
  }
  dbgPadrao.SetDataSource(&dtsPadrao);
  Colunas(dbgPadrao, {"NRAUTOFORN", "NMFANTFORN", "NMFILIAL", "DTAUTOFORN", "VRTOTALAF",
                      "QTTOTALAF", "DSSITUATUAAF"});
  dbgItens.SetDataSource(&dtsItens);
  Colunas(dbgItens, {"NRITEM", "CDPRODITMAP", "NMPRODUTO", "CDMARCA", "NRCOLEITMAP", "DTENTRAPUT",
                     "QTACOMP", "VRPRECUNIAP", "VRTOTITEM"});
  dbgIncons.SetDataSource(&dtsIncons);
  Colunas(dbgIncons,
          {"NRAUTOFORN", "NMFANTFORN", "NMFILIAL", "VRTOTALAF", "QTTOTALAF", "DSINCONS"});

  netAnaliseAF.ServerName = kServerObject;
  netAnaliseAF.ThrowException = false;
  netAnaliseAF.BeforeConnect = [this](TComponent& s) { netAnaliseAFBeforeConnect(s); };
  OnCreate = [this](TComponent& s) { FormCreate(s); };
  cdsAutoForne.AfterScroll = [this](TClientDataSet& d) { cdsAutoForneAfterScroll(d); };
  cdsItmAutoForne.OnFilterRecord = [this](TClientDataSet& d, bool& a) {
    cdsItmAutoForneFilterRecord(d, a);
  };
  dtsPadrao.OnStateChange = [this](TDataSource& s) { dtsPadraoStateChange(s); };
}

TfrmAnaliseAF::~TfrmAnaliseAF() {
  BeginDestroy();
  if (frmAnaliseAF == this) frmAnaliseAF = nullptr;
}

void TfrmAnaliseAF::DefineTabelas() {
  Define(cdsAutoForne, {{"NRAUTOFORN", FieldType::String, 10, "Nº AF", nullptr},
                        {"CDFORNECED", FieldType::String, 21, "Cód. Fornecedor", nullptr},
                        {"NMFANTFORN", FieldType::String, 40, "Fornecedor", nullptr},
                        {"CDFILDEST", FieldType::String, 4, "Filial", nullptr},
                        {"NMFILIAL", FieldType::String, 30, "Filial de Destino", nullptr},
                        {"DTAUTOFORN", FieldType::DateTime, 0, "Data", nullptr},
                        {"VRTOTALAF", FieldType::Float, 0, "Valor Total", kValor},
                        {"QTTOTALAF", FieldType::Float, 0, "Quantidade", kQtde},
                        {"IDSITUATUAAF", FieldType::String, 1, "Sit.", nullptr},
                        {"DSSITUATUAAF", FieldType::String, 20, "Situação", nullptr}});
  Define(cdsItmAutoForne, {{"NRAUTOFORN", FieldType::String, 10, "Nº AF", nullptr},
                           {"NRITEM", FieldType::Float, 0, "Item", "0"},
                           {"CDPRODITMAP", FieldType::String, 10, "Produto", nullptr},
                           {"NMPRODUTO", FieldType::String, 50, "Descrição", nullptr},
                           {"CDMARCA", FieldType::String, 10, "Marca", nullptr},
                           {"NRCOLEITMAP", FieldType::String, 10, "Coleta", nullptr},
                           {"DTENTRAPUT", FieldType::DateTime, 0, "Entrega", nullptr},
                           {"QTACOMP", FieldType::Float, 0, "Quantidade", kQtde},
                           {"VRPRECUNIAP", FieldType::Float, 0, "Preço Unitário", kQtde},
                           {"VRTOTITEM", FieldType::Float, 0, "Valor Total", kValor}});
  Define(cdsAFIncons, {{"NRAUTOFORN", FieldType::String, 10, "Nº AF", nullptr},
                       {"CDFORNECED", FieldType::String, 21, "Cód. Fornecedor", nullptr},
                       {"NMFANTFORN", FieldType::String, 40, "Fornecedor", nullptr},
                       {"CDFILDEST", FieldType::String, 4, "Filial", nullptr},
                       {"NMFILIAL", FieldType::String, 30, "Filial de Destino", nullptr},
                       {"VRTOTALAF", FieldType::Float, 0, "Valor Total", kValor},
                       {"QTTOTALAF", FieldType::Float, 0, "Quantidade", kQtde},
                       {"DSINCONS", FieldType::String, 200, "Motivo", nullptr}});
  itmNRAUTOFORN_ = &cdsItmAutoForne.FieldByName("NRAUTOFORN");
  afNRAUTOFORN_ = &cdsAutoForne.FieldByName("NRAUTOFORN");
}

void TfrmAnaliseAF::FormCreate(TComponent& Sender) {
  TfrmPadraoGrid::FormCreate(Sender);
  dtsPadraoStateChange(dtsPadrao);
}

// A screen that only shows: the record commands that would change an AF stay
// off, and so does printing, which this screen has no report for.
void TfrmAnaliseAF::dtsPadraoStateChange(TDataSource& Sender) {
  TfrmPadraoGrid::dtsPadraoStateChange(Sender);
  for (TButtonFlat* b :
       {&sbtIncluir, &sbtAlterar, &sbtExcluir, &sbtCancelar, &sbtConfirmar, &sbtImprimir})
    b->SetEnabled(false);
  for (TMenuItem* m : {&mnuIncluir, &mnuAlterar, &mnuExcluir, &mnuCancelar, &mnuConfirmar})
    m->SetEnabled(false);
}

void TfrmAnaliseAF::netAnaliseAFBeforeConnect(TComponent&) {
  netAnaliseAF.Host = WebURL();
  netAnaliseAF.Port = WebPort();
}

Value TfrmAnaliseAF::Chama(const std::string& method) {
  return CheckResultServ(
      netAnaliseAF.call(method, {ByRef(Value(stCentCmp)), ByRef(Value(stNrApuracao))}), true, 0);
}

void TfrmAnaliseAF::Carrega(const std::string& centro, const std::string& apuracao) {
  if (centro.empty()) throw std::invalid_argument("PRQ05100: centro de compras não informado.");
  if (apuracao.empty()) throw std::invalid_argument("PRQ05100: apuração não informada.");
  stCentCmp = centro;
  stNrApuracao = apuracao;
  edtCentro.SetText(centro);
  edtApuracao.SetText(apuracao);

  ScopedCursor cursor;
  const bool abriu = !netAnaliseAF.Connected();
  if (abriu) netAnaliseAF.SetConnected(true);
  try {
    Value afs = Chama(contract::kGetAutoForne.name);
    Value itens = Chama(contract::kGetItmAutoForne.name);
    Value incons = Chama(contract::kGetAFIncons.name);
    // Items first: moving onto the first AF filters them.
    cdsItmAutoForne.SetData(itens);
    cdsItmAutoForne.SetFiltered(true);
    cdsAFIncons.SetData(incons);
    cdsAutoForne.SetData(afs);
  } catch (...) {
    if (abriu) netAnaliseAF.SetConnected(false);
    throw;
  }
  if (abriu) netAnaliseAF.SetConnected(false);
  cdsAutoForne.First();
  cdsAutoForneAfterScroll(cdsAutoForne);
}

void TfrmAnaliseAF::cdsAutoForneAfterScroll(TClientDataSet&) {
  if (!cdsItmAutoForne.Active()) return;
  cdsItmAutoForne.SetFiltered(false);
  cdsItmAutoForne.SetFiltered(true);
  cdsItmAutoForne.First();
}

void TfrmAnaliseAF::cdsItmAutoForneFilterRecord(TClientDataSet&, bool& Accept) {
  Accept = cdsAutoForne.Active() && !cdsAutoForne.IsEmpty() &&
           itmNRAUTOFORN_->AsString() == afNRAUTOFORN_->AsString();
}

}  // namespace apura::analysis

apura::analysis::TfrmAnaliseAF* frmAnaliseAF = nullptr;
