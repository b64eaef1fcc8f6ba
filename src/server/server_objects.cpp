#include "server/server_objects.h"

#include "server/af_analysis.h"

#include <cmath>
#include <stdexcept>

#include "server/negotiation_service.h"

namespace apura::server {

namespace {

using Args = std::vector<CallArg>;

void Count(const Args& a, size_t n, const char* method) {
  if (a.size() != n) {
    throw ServerError(std::string(method) + " espera " + std::to_string(n) +
                      " argumentos, recebeu " + std::to_string(a.size()) + ".");
  }
}

[[noreturn]] void WrongKind(const Args& a, size_t i, const char* name, const char* method,
                            const char* expected) {
  throw ServerError(std::string(method) + ": o argumento " + std::to_string(i + 1) + " (" + name +
                    ") deve ser " + expected + ", não " + KindName(a[i].value.kind()) + ".");
}

std::string Text(const Args& a, size_t i, const char* name, const char* method) {
  const Value& v = a[i].value;
  switch (v.kind()) {
    case Value::Kind::Null:
      return "";
    case Value::Kind::Text:
      return v.ToText();
    case Value::Kind::Integer:
      return std::to_string(v.AsInteger());
    default:
      WrongKind(a, i, name, method, "um texto");
  }
}

double Number(const Args& a, size_t i, const char* name, const char* method) {
  const Value& v = a[i].value;
  if (v.kind() == Value::Kind::Float || v.kind() == Value::Kind::Integer) return v.AsFloat();
  WrongKind(a, i, name, method, "um número");
}

DateTime Date(const Args& a, size_t i, const char* name, const char* method) {
  const Value& v = a[i].value;
  DateTime d;
  if (v.kind() == Value::Kind::Date) {
    d = v.AsDate();
  } else if (v.kind() == Value::Kind::Float) {
    d = DateTime{v.AsFloat()};
  } else {
    WrongKind(a, i, name, method, "uma data");
  }
  // Off the wire any double arrives; one that is no calendar date would only
  // fail later, in storage, without naming the argument.
  try {
    d.DateOnly();
  } catch (const std::exception&) {
    throw ServerError(std::string(method) + ": o argumento " + std::to_string(i + 1) + " (" + name +
                      ") não é uma data válida.");
  }
  return d;
}

// Methods taking (centre, tally) and answering a packet.
void AddTallyRead(rpc::MethodTable& t, TallyService& s, const char* name,
                  DataPacket (TallyService::*fn)(const std::string&, const std::string&)) {
  t.Add(name, [&s, fn, name](const Args& a) {
    Count(a, 2, name);
    return Value((s.*fn)(Text(a, 0, "centro", name), Text(a, 1, "apuração", name)));
  });
}

}  // namespace

std::shared_ptr<rpc::IServerObject> MakeWorksheetObject(TallyService& s) {
  auto t = std::make_shared<rpc::MethodTable>(kWorksheetObject);
  AddTallyRead(*t, s, "GetProduto", &TallyService::GetProduto);
  AddTallyRead(*t, s, "GetDados", &TallyService::GetDados);
  AddTallyRead(*t, s, "GetRegiao", &TallyService::GetRegiao);
  AddTallyRead(*t, s, "GetProdItem", &TallyService::GetProdItem);
  AddTallyRead(*t, s, "GetApurNeg", &TallyService::GetApurNeg);
  AddTallyRead(*t, s, "GetPai_ItmApurPrec", &TallyService::GetPai_ItmApurPrec);
  AddTallyRead(*t, s, "GetItmApurPrec", &TallyService::GetItmApurPrec);

  t->Add("DelApuracao", [&s](const Args& a) {
    Count(a, 2, "DelApuracao");
    s.DelApuracao(Text(a, 0, "centro", "DelApuracao"), Text(a, 1, "apuração", "DelApuracao"));
    return Value();
  });
  t->Add("MelhorCotacao", [&s](const Args& a) {
    const char* m = "MelhorCotacao";
    Count(a, 4, m);
    s.MelhorCotacao(Text(a, 0, "centro", m), Text(a, 1, "apuração", m), Text(a, 2, "sistema", m),
                    Text(a, 3, "tipo", m));
    return Value();
  });
  t->Add("AtuaPrecEco", [&s](const Args& a) {
    const char* m = "AtuaPrecEco";
    Count(a, 8, m);
    return Value(s.AtuaPrecEco(Text(a, 0, "CDCENTITMAP", m), Text(a, 1, "CDPRODITMAP", m),
                               Text(a, 2, "NRCOLEITMAP", m), Text(a, 3, "CDFORNITMAP", m),
                               Text(a, 4, "CDMARCITMAP", m), Text(a, 5, "CDREGITMAP", m),
                               Number(a, 6, "VRPRECUNIAP", m), Text(a, 7, "NRSEQITMAP", m)));
  });
  t->Add("Atualiza_PrecoEco", [&s](const Args& a) {
    const char* m = "Atualiza_PrecoEco";
    Count(a, 7, m);
    s.Atualiza_PrecoEco(Text(a, 0, "CDCENTITMAP", m), Text(a, 1, "CDPRODITMAP", m),
                        Text(a, 2, "NRCOLEITMAP", m), Text(a, 3, "CDFORNITMAP", m),
                        Text(a, 4, "CDMARCITMAP", m), Text(a, 5, "CDREGITMAP", m),
                        Text(a, 6, "NRSEQITMAP", m));
    return Value();
  });
  t->Add("GetVd_EfetivaAF", [&s](const Args& a) {
    const char* m = "GetVd_EfetivaAF";
    Count(a, 5, m);
    return Value(s.GetVd_EfetivaAF(Text(a, 0, "comprador", m), Text(a, 1, "filial", m),
                                   Text(a, 2, "centro", m), Text(a, 3, "apuração", m),
                                   Text(a, 4, "operador", m)));
  });
  t->Add("Gera_AF", [&s](const Args& a) {
    const char* m = "Gera_AF";
    Count(a, 16, m);
    GeraAfRequest r;
    r.changes = a[0].value;
    if (!r.changes.IsNull() && r.changes.kind() != Value::Kind::Packet) {
      WrongKind(a, 0, "pacote de alterações", m, "um pacote de dados ou nulo");
    }
    r.buyer = Text(a, 1, "comprador", m);
    r.processingDate = Date(a, 2, "data de processamento", m);
    r.centre = Text(a, 3, "centro", m);
    r.tally = Text(a, 4, "apuração", m);
    r.branch = Text(a, 5, "filial", m);
    r.blockAf = Text(a, 6, "IDBLOQUEAAF", m);
    r.texts.dirEmpty = Text(a, 7, "Dir_Vazio", m);
    r.texts.dirInvalid = Text(a, 8, "Dir_Inv", m);
    r.texts.budgetPartial = Text(a, 9, "N_GerAF_Orc", m);
    r.texts.success = Text(a, 10, "AF_Ger_Sucesso", m);
    r.texts.budgetNone = Text(a, 11, "N_GerAF_OrcN", m);
    r.texts.inconsistentRefused = Text(a, 12, "N_GerAF", m);
    r.texts.unitPrice = Text(a, 13, "Preco_Uni", m);
    r.texts.priceUsed = Text(a, 14, "Preco_Utilizado", m);
    r.texts.notExtraSupplier = Text(a, 15, "Msg_FornExtra", m);
    return Value(s.Gera_AF(r));
  });
  t->Add("ExcluiAF", [&s](const Args& a) {
    Count(a, 2, "ExcluiAF");
    s.ExcluiAF(Text(a, 0, "filial", "ExcluiAF"), Text(a, 1, "apuração", "ExcluiAF"));
    return Value();
  });
  return t;
}

std::shared_ptr<rpc::IServerObject> MakePurchasingObject(TallyService& s) {
  auto t = std::make_shared<rpc::MethodTable>(kPurchasingObject);
  t->Add("GetParamCmp", [&s](const Args& a) {
    Count(a, 2, "GetParamCmp");
    return Value(
        s.GetParamCmp(Text(a, 0, "centro", "GetParamCmp"), Text(a, 1, "sistema", "GetParamCmp")));
  });
  return t;
}

void RegisterServerObjects(rpc::ServerRegistry& registry, TallyService& service) {
  registry.Register(kWorksheetObject, MakeWorksheetObject(service));
  registry.Register(kPurchasingObject, MakePurchasingObject(service));
  registry.Register(kAfAnalysisObject, MakeAfAnalysisObject(service));
  RegisterCompanionObjects(registry, service);
}

void InProcessTransport::Connect(const std::string& host, int port) {
  address_ = host + ":" + std::to_string(port);
  connected_ = true;
}

Value InProcessTransport::Invoke(const std::string& serverObject, const std::string& method,
                                 const std::vector<CallArg>& args) {
  if (!connected_) {
    throw std::runtime_error("cannot call " + method + ": not connected to an application server");
  }
  return registry_.Dispatch(serverObject, method, args);
}

}  // namespace apura::server
