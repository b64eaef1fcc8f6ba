// The two server connections, held open by usage counts, and one call site per
// server method.

#include <charconv>

#include "contract/methods.h"
#include "framework/errors.h"
#include "framework/netconnection.h"
#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

int ParseCount(const std::string& line, size_t valueStart) {
  std::string_view text(line);
  text.remove_prefix(valueStart);
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

}  // namespace

int TfrmPlanApurNegGrid::ConnectionCount(const TNetConnection& net) const {
  const std::string prefix = net.Name + "=";
  for (const std::string& line : stlConnection)
    if (line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size())
      return ParseCount(line, prefix.size());
  return 0;
}

void TfrmPlanApurNegGrid::ConnectServer(TNetConnection& netConnection, bool boConnected) {
  const std::string prefix = netConnection.Name + "=";
  std::string* line = nullptr;
  for (std::string& l : stlConnection)
    if (l.compare(0, prefix.size(), prefix) == 0) {
      line = &l;
      break;
    }
  if (!line) {
    stlConnection.push_back(prefix + "0");
    line = &stlConnection.back();
  } else if (line->size() == prefix.size()) {
    *line = prefix + "0";
  }
  const int count = ParseCount(*line, prefix.size());
  const size_t index = static_cast<size_t>(line - stlConnection.data());

  if (boConnected) {
    // Opening runs the before-connect handler; when it fails the use is not
    // counted, so the caller has nothing to release.
    if (count == 0) netConnection.SetConnected(true);
    stlConnection[index] = prefix + std::to_string(count + 1);
  } else {
    const int left = count - 1 < 0 ? 0 : count - 1;
    stlConnection[index] = prefix + std::to_string(left);
    if (left == 0) netConnection.SetConnected(false);
  }
}

void TfrmPlanApurNegGrid::netPlanApurNegGridBeforeConnect(TComponent&) {
  netPlanApurNegGrid.Host = WebURL();
  netPlanApurNegGrid.Port = WebPort();
}

void TfrmPlanApurNegGrid::netComprasBeforeConnect(TComponent&) {
  netCompras.Host = WebURL();
  netCompras.Port = WebPort();
}

Value TfrmPlanApurNegGrid::ChamaServidor(TNetConnection& net, const std::string& method,
                                         std::vector<CallArg> args) {
  ConnectServer(net, true);
  Value payload;
  try {
    payload = CheckResultServ(net.call(method, std::move(args)), true, 0);
  } catch (...) {
    ConnectServer(net, false);
    throw;
  }
  ConnectServer(net, false);
  return payload;
}

std::string TfrmPlanApurNegGrid::CodigoSistema() {
  switch (ModuloAtiv()) {
    case 34:
    case 77:
      return "PRQ";
    case 4:
      return "CMP";
    default:
      return {};
  }
}

Value TfrmPlanApurNegGrid::Srv_GetProduto() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetProduto.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_DelApuracao() {
  return ChamaServidor(netPlanApurNegGrid, contract::kDelApuracao.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetParamCmp() {
  return ChamaServidor(netCompras, contract::kGetParamCmp.name, {ByRef(stCentCmp), ByVal("PRQ")});
}

Value TfrmPlanApurNegGrid::Srv_GetDados() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetDados.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetRegiao() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetRegiao.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetProdItem() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetProdItem.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetApurNeg() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetApurNeg.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetPai_ItmApurPrec() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetPai_ItmApurPrec.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetDados_ItmApurPrec() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetDados_ItmApurPrec.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_GetItmApurPrec() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetItmApurPrec.name,
                       {ByRef(stCentCmp), ByRef(stPrxApurPreco)});
}

Value TfrmPlanApurNegGrid::Srv_MelhorCotacao(const std::string& stTipoApur) {
  return ChamaServidor(
      netPlanApurNegGrid, contract::kMelhorCotacao.name,
      {ByRef(stCentCmp), ByRef(stPrxApurPreco), ByRef(CodigoSistema()), ByRef(stTipoApur)});
}

Value TfrmPlanApurNegGrid::Srv_Atualiza_PrecoEco() {
  auto text = [this](const char* f) { return ByVal(cdsApurNeg.FieldByName(f).AsString()); };
  return ChamaServidor(
      netPlanApurNegGrid, contract::kAtualiza_PrecoEco.name,
      {text("CDCENTITMAP"), text("CDPRODITMAP"), text("NRCOLEITMAP"), text("CDFORNITMAP"),
       text("CDMARCITMAP"), text("CDREGITMAP"), text("NRSEQITMAP")});
}

Value TfrmPlanApurNegGrid::Srv_AtuaPrecEco() {
  auto text = [this](const char* f) { return ByVal(cdsApurNeg.FieldByName(f).AsString()); };
  return ChamaServidor(
      netPlanApurNegGrid, contract::kAtuaPrecEco.name,
      {text("CDCENTITMAP"), text("CDPRODITMAP"), text("NRCOLEITMAP"), text("CDFORNITMAP"),
       text("CDMARCITMAP"), text("CDREGITMAP"),
       ByVal(cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat()), text("NRSEQITMAP")});
}

Value TfrmPlanApurNegGrid::Srv_GetVd_EfetivaAF() {
  return ChamaServidor(netPlanApurNegGrid, contract::kGetVd_EfetivaAF.name,
                       {ByRef(stCdComprador), ByVal(FiliProc()), ByRef(stCentCmp),
                        ByRef(stPrxApurPreco), ByRef(Operador())});
}

Value TfrmPlanApurNegGrid::Srv_Gera_AF() {
  // Only the delivery choices made here travel; an untouched tally sends null.
  Value delta = cdsDados.ChangeCount() > 0 ? Value(cdsDados.Delta()) : Value();
  const std::string filial = FiliProc();
  std::vector<CallArg> args = {ByRef(std::move(delta)),
                               ByRef(stCdComprador),
                               ByVal(DataProc(filial)),
                               ByRef(stCentCmp),
                               ByRef(stPrxApurPreco),
                               ByVal(filial),
                               ByVal(cdsParaSupriIDBLOQUEAAF->AsString())};
  for (const char* key : {"Dir_Vazio", "Dir_Inv", "N_GerAF_Orc", "AF_Ger_Sucesso", "N_GerAF_OrcN",
                          "N_GerAF", "Preco_Uni", "Preco_Utilizado", "Msg_FornExtra"})
    args.push_back(ByVal(msgPadrao.Msg(key)));
  // An answer lost on the way back (a dropped connection, a server gone right
  // after its commit) may hide AFs that exist. The server orders a delivery row
  // at most once and answers a repeated call with the AFs that hold its rows,
  // so asking once more turns a lost answer into the real outcome.
  ConnectServer(netPlanApurNegGrid, true);
  Value payload;
  try {
    Value answer;
    try {
      answer = netPlanApurNegGrid.call(contract::kGera_AF.name, args);
    } catch (const EServerFailure&) {
      throw;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception&) {
      answer = netPlanApurNegGrid.call(contract::kGera_AF.name, std::move(args));
    }
    payload = CheckResultServ(answer, true, 0);
  } catch (...) {
    ConnectServer(netPlanApurNegGrid, false);
    throw;
  }
  ConnectServer(netPlanApurNegGrid, false);
  return payload;
}

Value TfrmPlanApurNegGrid::Srv_ExcluiAF() {
  return ChamaServidor(netPlanApurNegGrid, contract::kExcluiAF.name,
                       {ByVal(FiliProc()), ByRef(stPrxApurPreco)});
}

}  // namespace apura::worksheet
