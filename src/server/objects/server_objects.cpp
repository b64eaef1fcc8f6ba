#include "server/objects/server_objects.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "server/objects/af_analysis.h"
#include "server/objects/negotiation_service.h"

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

using Ctx = rpc::CallContext;

// A code the caller sent, short enough to quote in a failure text.
std::string Shown(const std::string& code) {
  return code.size() <= 40 ? code : code.substr(0, 40) + "…";
}

}  // namespace

Session Caller(Sessions& sessions, const Ctx& ctx) {
  return sessions.Require(ctx.sessionToken);
}

void CheckCentre(const Session& s, const std::string& centre, const char* method) {
  if (!s.op.WorksInCentre(centre))
    throw ServerError(ErrorCode::Forbidden, std::string(method) + ": o operador " + s.op.code +
                                                " não trabalha no centro de compras " +
                                                Shown(centre) + ".");
}

void CheckBranch(const Session& s, const std::string& branch, const char* method) {
  if (!s.op.WorksInBranch(branch))
    throw ServerError(ErrorCode::Forbidden, std::string(method) + ": o operador " + s.op.code +
                                                " não trabalha na filial " + Shown(branch) + ".");
}

void CheckOperator(const Session& s, const std::string& code, const char* method) {
  if (code != s.op.code)
    throw ServerError(ErrorCode::Forbidden, std::string(method) + ": o operador " + Shown(code) +
                                                " não é o operador da sessão (" + s.op.code + ").");
}

void CheckBuyer(TallyService& service, const Session& s, const std::string& buyer,
                const std::string& tally, const char* method) {
  if (buyer == s.op.code) return;
  std::optional<TallyHeader> h = service.Header(tally);
  if (h && h->buyer == buyer) return;
  throw ServerError(ErrorCode::Forbidden,
                    std::string(method) + ": o comprador " + Shown(buyer) +
                        " não é o comprador da apuração nem o operador da sessão (" + s.op.code +
                        ").");
}

namespace {

// One-character flags take only their documented values.
std::string Flag(const Args& a, size_t i, const char* name, const char* method) {
  std::string v = Text(a, i, name, method);
  if (v != "S" && v != "N")
    throw ServerError(std::string(method) + ": " + name + " deve ser \"S\" ou \"N\", não \"" +
                      Shown(v) + "\".");
  return v;
}

// Methods taking (centre, tally) and answering a packet.
void AddTallyRead(rpc::MethodTable& t, TallyService& s, Sessions& sessions, const char* name,
                  DataPacket (TallyService::*fn)(const std::string&, const std::string&)) {
  t.Add(name,
        rpc::MethodTable::ContextMethod([&s, &sessions, fn, name](const Args& a, const Ctx& ctx) {
          Session who = Caller(sessions, ctx);
          Count(a, 2, name);
          const std::string centre = Text(a, 0, "centro", name);
          CheckCentre(who, centre, name);
          return Value((s.*fn)(centre, Text(a, 1, "apuração", name)));
        }));
}

}  // namespace

std::shared_ptr<rpc::IServerObject> MakeSessionObject(Sessions& sessions) {
  auto t = std::make_shared<rpc::MethodTable>(kSessionObject);
  t->Add("Login", [&sessions](const Args& a) {
    Count(a, 2, "Login");
    Session s = sessions.Login(Text(a, 0, "operador", "Login"), Text(a, 1, "senha", "Login"));
    const double days =
        std::chrono::duration<double>(s.expires.time_since_epoch()).count() / 86400.0 + 25569.0;
    return Value(ValueArray{Value(s.token), Value(DateTime{days}), Value(s.op.name)});
  });
  t->Add("Logout", rpc::MethodTable::ContextMethod([&sessions](const Args&, const Ctx& ctx) {
           sessions.Logout(ctx.sessionToken);
           return Value();
         }));
  return t;
}

std::shared_ptr<rpc::IServerObject> MakeWorksheetObject(TallyService& s, Sessions& sessions) {
  auto t = std::make_shared<rpc::MethodTable>(kWorksheetObject);
  AddTallyRead(*t, s, sessions, "GetProduto", &TallyService::GetProduto);
  AddTallyRead(*t, s, sessions, "GetDados", &TallyService::GetDados);
  AddTallyRead(*t, s, sessions, "GetRegiao", &TallyService::GetRegiao);
  AddTallyRead(*t, s, sessions, "GetProdItem", &TallyService::GetProdItem);
  AddTallyRead(*t, s, sessions, "GetApurNeg", &TallyService::GetApurNeg);
  AddTallyRead(*t, s, sessions, "GetPai_ItmApurPrec", &TallyService::GetPai_ItmApurPrec);
  AddTallyRead(*t, s, sessions, "GetItmApurPrec", &TallyService::GetItmApurPrec);

  using CM = rpc::MethodTable::ContextMethod;
  t->Add("DelApuracao", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "DelApuracao";
           Session who = Caller(sessions, ctx);
           Count(a, 2, m);
           const std::string centre = Text(a, 0, "centro", m);
           CheckCentre(who, centre, m);
           s.DelApuracao(centre, Text(a, 1, "apuração", m));
           return Value();
         }));
  t->Add("MelhorCotacao", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "MelhorCotacao";
           Session who = Caller(sessions, ctx);
           Count(a, 4, m);
           CheckCentre(who, Text(a, 0, "centro", m), m);
           s.MelhorCotacao(Text(a, 0, "centro", m), Text(a, 1, "apuração", m),
                           Text(a, 2, "sistema", m), Text(a, 3, "tipo", m));
           return Value();
         }));
  t->Add("AtuaPrecEco", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "AtuaPrecEco";
           Session who = Caller(sessions, ctx);
           Count(a, 8, m);
           CheckCentre(who, Text(a, 0, "CDCENTITMAP", m), m);
           return Value(s.AtuaPrecEco(Text(a, 0, "CDCENTITMAP", m), Text(a, 1, "CDPRODITMAP", m),
                                      Text(a, 2, "NRCOLEITMAP", m), Text(a, 3, "CDFORNITMAP", m),
                                      Text(a, 4, "CDMARCITMAP", m), Text(a, 5, "CDREGITMAP", m),
                                      Number(a, 6, "VRPRECUNIAP", m), Text(a, 7, "NRSEQITMAP", m)));
         }));
  t->Add("Atualiza_PrecoEco", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "Atualiza_PrecoEco";
           Session who = Caller(sessions, ctx);
           Count(a, 7, m);
           CheckCentre(who, Text(a, 0, "CDCENTITMAP", m), m);
           s.Atualiza_PrecoEco(Text(a, 0, "CDCENTITMAP", m), Text(a, 1, "CDPRODITMAP", m),
                               Text(a, 2, "NRCOLEITMAP", m), Text(a, 3, "CDFORNITMAP", m),
                               Text(a, 4, "CDMARCITMAP", m), Text(a, 5, "CDREGITMAP", m),
                               Text(a, 6, "NRSEQITMAP", m));
           return Value();
         }));
  t->Add("GetVd_EfetivaAF", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "GetVd_EfetivaAF";
           Session who = Caller(sessions, ctx);
           Count(a, 5, m);
           CheckBranch(who, Text(a, 1, "filial", m), m);
           CheckCentre(who, Text(a, 2, "centro", m), m);
           CheckBuyer(s, who, Text(a, 0, "comprador", m), Text(a, 3, "apuração", m), m);
           CheckOperator(who, Text(a, 4, "operador", m), m);
           return Value(s.GetVd_EfetivaAF(Text(a, 0, "comprador", m), Text(a, 1, "filial", m),
                                          Text(a, 2, "centro", m), Text(a, 3, "apuração", m),
                                          Text(a, 4, "operador", m)));
         }));
  t->Add("Gera_AF", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "Gera_AF";
           Session who = Caller(sessions, ctx);
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
           CheckCentre(who, r.centre, m);
           CheckBranch(who, r.branch, m);
           CheckBuyer(s, who, r.buyer, r.tally, m);
           r.blockAf = Flag(a, 6, "IDBLOQUEAAF", m);
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
         }));
  t->Add("ExcluiAF", CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "ExcluiAF";
           Session who = Caller(sessions, ctx);
           Count(a, 2, m);
           const std::string branch = Text(a, 0, "filial", m), tally = Text(a, 1, "apuração", m);
           CheckBranch(who, branch, m);
           // The call names no centre: the tally's own is the one to check.
           if (std::optional<TallyHeader> h = s.Header(tally)) CheckCentre(who, h->centre, m);
           s.ExcluiAF(branch, tally);
           return Value();
         }));
  return t;
}

std::shared_ptr<rpc::IServerObject> MakePurchasingObject(TallyService& s, Sessions& sessions) {
  auto t = std::make_shared<rpc::MethodTable>(kPurchasingObject);
  t->Add("GetParamCmp",
         rpc::MethodTable::ContextMethod([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = "GetParamCmp";
           Session who = Caller(sessions, ctx);
           Count(a, 2, m);
           const std::string centre = Text(a, 0, "centro", m);
           CheckCentre(who, centre, m);
           return Value(s.GetParamCmp(centre, Text(a, 1, "sistema", m)));
         }));
  return t;
}

namespace {

// Objects whose methods do not look at the caller themselves: behind this
// guard every call still needs a live session.
class SessionGuard : public rpc::IServerObject {
 public:
  SessionGuard(std::shared_ptr<rpc::IServerObject> inner, Sessions& sessions)
      : inner_(std::move(inner)), sessions_(sessions) {}
  Value Invoke(const std::string& method, const std::vector<CallArg>& args) override {
    return Invoke(method, args, rpc::CallContext{});
  }
  Value Invoke(const std::string& method, const std::vector<CallArg>& args,
               const rpc::CallContext& ctx) override {
    sessions_.Require(ctx.sessionToken);
    return inner_->Invoke(method, args, ctx);
  }

 private:
  std::shared_ptr<rpc::IServerObject> inner_;
  Sessions& sessions_;
};

}  // namespace

std::shared_ptr<rpc::IServerObject> RequiringSession(std::shared_ptr<rpc::IServerObject> object,
                                                     Sessions* sessions) {
  if (!sessions) return object;
  return std::make_shared<SessionGuard>(std::move(object), *sessions);
}

void RegisterServerObjects(rpc::ServerRegistry& registry, TallyService& service,
                           Sessions& sessions) {
  registry.Register(kSessionObject, MakeSessionObject(sessions));
  registry.Register(kWorksheetObject, MakeWorksheetObject(service, sessions));
  registry.Register(kPurchasingObject, MakePurchasingObject(service, sessions));
  registry.Register(kAfAnalysisObject,
                    RequiringSession(MakeAfAnalysisObject(service, &sessions), &sessions));
  RegisterCompanionObjects(registry, service, &sessions);
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
  return registry_.Dispatch(serverObject, method, args, rpc::CallContext{token_});
}

}  // namespace apura::server
