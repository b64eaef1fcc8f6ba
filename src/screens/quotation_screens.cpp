#include "screens/quotation_screens.h"

#include <cmath>
#include <stdexcept>

#include "contract/methods.h"
#include "contract/objects.h"
#include "framework/errors.h"
#include "framework/format.h"
#include "framework/host.h"

namespace apura::screens {

namespace {

std::string Preco(double v) {
  return FormatFloat("#,##0.00000", v);
}

}  // namespace

ChaveCotacao ChaveCotacao::FromParams(const ValueArray& params, size_t skip, const char* screen) {
  if (params.size() < skip + 8)
    throw ConversionError(std::string("Tela ") + screen + ": " + std::to_string(skip + 8) +
                          " valores esperados, " + std::to_string(params.size()) + " recebidos");
  auto at = [&](size_t i) {
    return params[skip + i].IsNull() ? std::string() : params[skip + i].ToText();
  };
  return {at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7)};
}

std::vector<CallArg> ChaveCotacao::Args() const {
  return {ByVal(centro), ByVal(coleta), ByVal(fornecedor), ByVal(produto),
          ByVal(marca),  ByVal(regiao), ByVal(apuracao)};
}

TfrmCotacaoBase::TfrmCotacaoBase(std::string name, const char* serverObject, ChaveCotacao c)
    : TfrmRotiGeral(std::move(name)), chave(std::move(c)) {
  netCotacao.ServerName = serverObject;
  netCotacao.ThrowException = false;
  netCotacao.BeforeConnect = [this](TComponent&) {
    netCotacao.Host = WebURL();
    netCotacao.Port = WebPort();
  };
}

Value TfrmCotacaoBase::Chama(const std::string& method, std::vector<CallArg> args) {
  netCotacao.SetConnected(true);
  Value payload;
  try {
    payload = CheckResultServ(netCotacao.call(method, std::move(args)), true, 0);
  } catch (...) {
    netCotacao.SetConnected(false);
    throw;
  }
  netCotacao.SetConnected(false);
  return payload;
}

void TfrmCotacaoBase::Carrega() {
  cdsCotacao.SetData(Chama(contract::kGetCotacao.name, chave.Args()));
  if (cdsCotacao.IsEmpty())
    throw std::runtime_error("A cotação " + chave.coleta + "/" + chave.fornecedor +
                             " não foi encontrada no servidor");
  Mostra();
}

void TfrmCotacaoBase::Mostra() {
  auto f = [this](const char* n) { return cdsCotacao.FieldByName(n).AsString(); };
  auto n = [this](const char* n) { return cdsCotacao.FieldByName(n).AsFloat(); };
  lblFornecedor.SetCaption("Fornecedor: " + f("CDFORNITMAP") + " - " + f("NMFANTFORN"));
  lblProduto.SetCaption("Produto: " + f("CDARVPROD") + " - " + f("NMPRODUTO") + " (" +
                        f("SGUNIDADE") + ", fator " + FormatFloat("0.###", n("VRFATOCONV")) + ")");
  lblMarca.SetCaption("Marca: " + f("CDMARCITMAP") + " - " + f("NMMARCA"));
  lblColeta.SetCaption("Coleta: " + f("NRCOLEITMAP") + "    Região: " + f("CDREGITMAP") +
                       (f("IDLISTAPREC") == "S" ? "    Lista de preços" : "    Cotação"));
  lblPrecos.SetCaption("Pr. Unitário: " + Preco(n("VRPRECUNIAP")) + "    Pr. Econômico: " +
                       Preco(n("PRECOECON")) + "    Pr. Econômico PI: " + Preco(n("PRECOECONPI")));
}

// --- Negotiation and simulation ------------------------------------------------------

TfrmNegociacao::TfrmNegociacao(ChaveCotacao c)
    : TfrmCotacaoBase("frmNegociacao", contract::kNegotiationObject, std::move(c)) {
  SetCaption("Negociação/Simulação de Preços");
  lblCodTela.SetCaption(kCodTela);
  lblPrecoNeg.SetCaption("Preço negociado:");
  sbtSimular.SetCaption("Simular");
  sbtSimular.SetGlyph("simulacao");
  sbtSimular.SetHint("Simular os preços econômicos do preço negociado");
  sbtSimular.OnClick = [this](TComponent& s) { sbtSimularClick(s); };
  sbtConfirma.OnClick = [this](TComponent& s) { sbtConfirmaClick(s); };
}

double TfrmNegociacao::PrecoDigitado() {
  double v = 0;
  if (!TextToFloat(edtPrecoNeg.Text(), v) || !std::isfinite(v) || v <= 0)
    MensErro("Preço negociado deve ser um número maior que zero.", true);
  return v;
}

void TfrmNegociacao::sbtSimularClick(TComponent&) {
  std::vector<CallArg> args = chave.Args();
  args.insert(args.begin() + 6, ByVal(PrecoDigitado()));
  const Value r = Chama(contract::kSimulaPreco.name, std::move(args));
  const ValueArray& e = r.AsArray();
  lblSimulacao.SetCaption("Com este preço: Pr. Econômico " + Preco(e.at(0).AsFloat()) +
                          "    Pr. Econômico PI " + Preco(e.at(1).AsFloat()));
}

void TfrmNegociacao::sbtConfirmaClick(TComponent& Sender) {
  std::vector<CallArg> args = chave.Args();
  args.insert(args.begin() + 6, ByVal(PrecoDigitado()));
  Chama(contract::kGravaPreco.name, std::move(args));
  TfrmRotiGeral::sbtConfirmaClick(Sender);
}

// --- Spreadsheet information -----------------------------------------------------------

TfrmInfPlanilha::TfrmInfPlanilha(ChaveCotacao c)
    : TfrmCotacaoBase("frmInfPlanilha", contract::kSpreadsheetObject, std::move(c)) {
  SetCaption("Informações da Planilha");
  lblCodTela.SetCaption(kCodTela);
  // Nothing to confirm here: the confirm button only closes.
  sbtConfirma.SetVisible(false);
  dtsEntregas.SetDataSet(&cdsEntregas);
  dbgEntregas.SetDataSource(&dtsEntregas);
  dbgEntregas.SetOption(dgEditing, false);
  for (const char* f : {"NMFILIAL", "DTENTRAPUT", "QTSOLACOMP", "QTACOMP"})
    dbgEntregas.Columns.Add(f);
  dbgEntregas.Columns[0].SetTitleCaption("Filial");
  dbgEntregas.Columns[1].SetTitleCaption("Entrega");
  dbgEntregas.Columns[2].SetTitleCaption("Qtde. Solicitada");
  dbgEntregas.Columns[3].SetTitleCaption("Qtde. desta Cotação");
}

void TfrmInfPlanilha::Mostra() {
  TfrmCotacaoBase::Mostra();
  auto f = [this](const char* n) { return cdsCotacao.FieldByName(n).AsString(); };
  auto n = [this](const char* n) { return cdsCotacao.FieldByName(n).AsFloat(); };
  lblMinimos.SetCaption("Quant. mínima: " + FormatFloat("#,##0.000", n("QTMINAUTFOT")) +
                        (f("IDQTMINFORN") == "R" ? " (restritiva)" : "") +
                        "    Valor mínimo: " + FormatFloat("#,##0.00", n("VRMINAUTFOR")) +
                        (f("IDVRMINFORN") == "R" ? " (restritivo)" : "") +
                        "    Frete: " + FormatFloat("0.00%", n("TXFRETEENC")) +
                        "    Prazo: " + FormatFloat("0", n("NRPRAZOPGTO")) + " dias");
  cdsEntregas.SetData(Chama(contract::kGetEntregas.name, chave.Args()));
  for (const char* q : {"QTSOLACOMP", "QTACOMP"})
    if (TField* fld = cdsEntregas.FindField(q)) fld->SetDisplayFormat("#,##0.000");
}

// --- Entries ----------------------------------------------------------------------------

namespace {

template <class T>
void Abre(const ValueArray& params, size_t skip) {
  ChaveCotacao chave = ChaveCotacao::FromParams(params, skip, T::kCodTela);
  ScopedCursor cursor(crHourGlass);
  T* form = nullptr;
  CreateForm(form, std::move(chave));
  try {
    form->Carrega();
  } catch (...) {
    form->Release();
    throw;
  }
  Host().SetCursor(crDefault);
  form->ShowModal();
}

}  // namespace

void AbreNegociacao(const ValueArray& params) {
  Abre<TfrmNegociacao>(params, 0);
}

void AbreInfPlanilha(const ValueArray& params) {
  // The leading flag is the caller's; the line starts after it.
  Abre<TfrmInfPlanilha>(params, 1);
}

}  // namespace apura::screens
