// Effectuation: the buyer's delivery choices go to the server, which turns
// them into AFs; the worksheet shows the outcome and hands over to the AF
// analysis screen.

#include <optional>

#include "worksheet/form.h"
#include "worksheet/markers.h"

namespace apura::worksheet {

namespace {

constexpr const char* kTelaAnaliseAF = "PRQ05100";
// Indexes of the outcome array Gera_AF answers.
constexpr size_t kIncons = 0, kTexto = 1, kFalhou = 2, kAviso = 3, kFatal = 5;

// Closes a connection use on every path, as the calling pattern does.
class UsoConexao {
 public:
  UsoConexao(TfrmPlanApurNegGrid& form, TNetConnection& net) : form_(form), net_(net) {}
  ~UsoConexao() {
    try {
      form_.ConnectServer(net_, false);
    } catch (...) {
    }
  }
  UsoConexao(const UsoConexao&) = delete;
  UsoConexao& operator=(const UsoConexao&) = delete;

 private:
  TfrmPlanApurNegGrid& form_;
  TNetConnection& net_;
};

const Value& Item(const ValueArray& ar, size_t i, Value::Kind kind, const char* what) {
  const Value& v = ar[i];
  if (v.kind() != kind && !v.IsNull())
    throw std::runtime_error("Resposta de Gera_AF inválida: o elemento " + std::to_string(i) +
                             " (" + what + ") não tem o tipo esperado.");
  return v;
}

std::string TextoDe(const ValueArray& ar, size_t i, const char* what) {
  const Value& v = Item(ar, i, Value::Kind::Text, what);
  return v.IsNull() ? std::string() : v.ToText();
}

}  // namespace

void TfrmPlanApurNegGrid::sbtGerarAFClick(TComponent&) {
  // A price typed but not confirmed belongs to the choice being sent; a row
  // being inserted is nobody's choice yet.
  if (cdsApurNeg.State() == TDataSetState::dsEdit) cdsApurNeg.Post();
  Gera_AF();
}

void TfrmPlanApurNegGrid::btnAnalisAFClick(TComponent&) {
  LoadBPL(kTelaAnaliseAF, {Value(stCentCmp), Value(stPrxApurPreco)});
  Close();
}

void TfrmPlanApurNegGrid::Libera_GerarAF() {
  sbtGerarAF.Tag = 0;
  mnuGerarAF.SetEnabled(true);
  sbtGerarAF.SetEnabled(true);
}

void TfrmPlanApurNegGrid::Gera_AF() {
  // 1. Lock: no second generation while this one runs.
  sbtGerarAF.Tag = kTagBloqueioAF;
  mnuGerarAF.SetEnabled(false);
  sbtGerarAF.SetEnabled(false);
  btnAnalisAF.SetEnabled(false);

  // 2 and 3. Something must be chosen; the change packet itself (null when
  // nothing changed here) is taken where the server is called.
  bool escolhido = false;
  if (cdsDados.Active()) {
    try {
      cdsDados.SetFilter("[IDITMSELAPUR] = 'S'");
      cdsDados.SetFiltered(true);
      escolhido = !cdsDados.IsEmpty();
    } catch (...) {
      cdsDados.SetFiltered(false);
      cdsDados.SetFilter("");
      throw;
    }
    cdsDados.SetFiltered(false);
    cdsDados.SetFilter("");
  }
  if (!escolhido) {
    Libera_GerarAF();
    MensErro(msgPadrao.Msg("N_dadosAF"), true);
  }

  // 4. Progress (the operator code travels with the effectuation check).
  std::optional<BusyAnimation> animacao;
  animacao.emplace(msgPadrao.Msg("lblGer_AF"));

  // 5 and 6. Both connections held for the exchange and released on every
  // path, purchasing first.
  ValueArray arResult;
  {
    UsoConexao usoPlan(*this, netPlanApurNegGrid);
    UsoConexao usoCompras(*this, netCompras);
    ConnectServer(netCompras, true);
    ConnectServer(netPlanApurNegGrid, true);

    cdsParaSupri.SetData(Srv_GetParamCmp());
    cdsVd_EfetivaAF.SetData(Srv_GetVd_EfetivaAF());

    const std::string efetivada = cdsVd_EfetivaAF.Active() && !cdsVd_EfetivaAF.IsEmpty()
                                      ? cdsVd_EfetivaAF.FieldByName("NRSEQAPUR").AsString()
                                      : std::string();
    if (!EmptyString(efetivada) && stIdQtFrac != "S") {
      // The lock stays: this worksheet may not try again.
      animacao.reset();
      MensErro(msgPadrao.Msg("Erro_EfetivaAF"), true);
    }
    Value resposta = Srv_Gera_AF();
    if (resposta.kind() != Value::Kind::Array)
      throw std::runtime_error("Resposta de Gera_AF inválida: esperada uma lista de valores.");
    arResult = resposta.AsArray();
    if (arResult.size() <= kFatal)
      throw std::runtime_error("Resposta de Gera_AF incompleta: esperados 6 elementos, vieram " +
                               std::to_string(arResult.size()) + ".");
    animacao.reset();
  }

  // 7. A fatal report wins over everything else: the AFs go again.
  const std::string fatal = TextoDe(arResult, kFatal, "relatório fatal");
  if (!EmptyString(fatal)) {
    MensErro(fatal, false);
    {
      BusyAnimation exclusao(msgPadrao.Msg("Excl_AF"));
      UsoConexao uso(*this, netPlanApurNegGrid);
      ConnectServer(netPlanApurNegGrid, true);
      Srv_ExcluiAF();
    }
    Libera_GerarAF();
    Fecha_SemConfirmar();
    Abort();
  }

  // 8. Warning.
  const std::string aviso = TextoDe(arResult, kAviso, "aviso");
  if (!EmptyString(aviso)) MessageDlg(aviso, TMsgDlgType::mtWarning, mbOK, 0);

  // 9. Outcome; the table of inconsistent AFs lives only for this step.
  TClientDataSet cdsRelIncons("cdsRelIncons");
  cdsRelIncons.SetData(Item(arResult, kIncons, Value::Kind::Packet, "AFs inconsistentes"));
  const std::string stIncons = msgPadrao.Msg("AF_Incons");
  const std::string centro = stCentCmp, apuracao = stPrxApurPreco;
  const std::string texto = TextoDe(arResult, kTexto, "texto do resultado");
  const Value& falhou = Item(arResult, kFalhou, Value::Kind::Boolean, "indicador de falha");
  if (falhou.IsNull() || !falhou.AsBoolean()) {
    if (!EmptyString(texto))
      MessageDlg(texto, TMsgDlgType::mtInformation, mbOK, 0);
    else
      MensErro(msgPadrao.Msg("AF_NGerada"), true);  // the lock stays
  } else {
    MensErro(texto, false);
    Libera_GerarAF();
    Fecha_SemConfirmar();
    Abort();
  }
  if (cdsRelIncons.Active() && !cdsRelIncons.IsEmpty())
    MessageDlg(stIncons, TMsgDlgType::mtConfirmation, mbOK, 0);

  // 10. The worksheet closes once the host gets to the request; its unsent
  // log is what the server just applied, so closing asks nothing.
  boFechaSemConfirmar = true;
  Host().PostClose(*this);

  // 11. Hand over to the analysis screen.
  LoadBPL(kTelaAnaliseAF, {Value(centro), Value(apuracao)});
}

}  // namespace apura::worksheet
