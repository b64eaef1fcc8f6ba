#include "server/objects/server_objects.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "contract/methods.h"
#include "server/objects/af_analysis.h"
#include "server/objects/args.h"
#include "server/objects/negotiation_service.h"

namespace apura::server {

namespace {

using Args = std::vector<CallArg>;

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

using CM = rpc::MethodTable::ContextMethod;

// (centre, tally): the reads, and DelApuracao.
struct TallyKey {
  std::string centre, tally;
};
// Methods taking (centre, tally) and answering a packet.
void AddTallyRead(rpc::MethodTable& t, TallyService& s, Sessions& sessions,
                  const contract::Method<2>& method,
                  DataPacket (TallyService::*fn)(const std::string&, const std::string&)) {
  const contract::Method<2>* m = &method;
  t.Add(m->name, CM([&s, &sessions, fn, m](const Args& a, const Ctx& ctx) {
          Session who = Caller(sessions, ctx);
          const auto k = args::Read<TallyKey>(*m, a, &TallyKey::centre, &TallyKey::tally);
          CheckCentre(who, k.centre, m->name);
          return Value((s.*fn)(k.centre, k.tally));
        }));
}

struct BestQuoteRequest {
  std::string centre, tally, system, kind;
};

// A quotation line by its key, as the worksheet's price edits name it.
struct PriceRequest {
  std::string centre, product, collection, supplier, brand, region;
  double unitPrice = 0;
  std::string tally;
};
struct EffectuationViewRequest {
  std::string buyer, branch, centre, tally, op;
};

// Gera_AF's sixteen arguments flat, in the caller's order; the last nine are
// the catalogue texts its outcome is built with.
struct GeraAfArgs {
  args::PacketOrNull changes;
  std::string buyer;
  DateTime processingDate;
  std::string centre, tally, branch;
  args::Flag blockAf;
  std::string dirEmpty, dirInvalid, budgetPartial, success, budgetNone, inconsistentRefused,
      unitPrice, priceUsed, notExtraSupplier;
};

struct ExcluiAfRequest {
  std::string branch, tally;
};

}  // namespace

std::shared_ptr<rpc::IServerObject> MakeSessionObject(Sessions& sessions) {
  struct LoginRequest {
    std::string op, password;
  };
  auto t = std::make_shared<rpc::MethodTable>(kSessionObject);
  t->Add(contract::kLogin.name, CM([&sessions](const Args& a, const Ctx& ctx) {
           const auto r = args::Read<LoginRequest>(contract::kLogin, a, &LoginRequest::op,
                                                   &LoginRequest::password);
           Session s = sessions.Login(r.op, r.password, ctx.peer);
           const double days =
               std::chrono::duration<double>(s.expires.time_since_epoch()).count() / 86400.0 +
               25569.0;
           return Value(ValueArray{Value(s.token), Value(DateTime{days}), Value(s.op.name)});
         }));
  t->Add(contract::kLogout.name, CM([&sessions](const Args&, const Ctx& ctx) {
           sessions.Logout(ctx.sessionToken);
           return Value();
         }));
  return t;
}

std::shared_ptr<rpc::IServerObject> MakeWorksheetObject(TallyService& s, Sessions& sessions) {
  using namespace contract;
  auto t = std::make_shared<rpc::MethodTable>(kWorksheetObject);
  AddTallyRead(*t, s, sessions, kGetProduto, &TallyService::GetProduto);
  AddTallyRead(*t, s, sessions, kGetDados, &TallyService::GetDados);
  AddTallyRead(*t, s, sessions, kGetRegiao, &TallyService::GetRegiao);
  AddTallyRead(*t, s, sessions, kGetProdItem, &TallyService::GetProdItem);
  AddTallyRead(*t, s, sessions, kGetApurNeg, &TallyService::GetApurNeg);
  AddTallyRead(*t, s, sessions, kGetPai_ItmApurPrec, &TallyService::GetPai_ItmApurPrec);
  AddTallyRead(*t, s, sessions, kGetItmApurPrec, &TallyService::GetItmApurPrec);
  AddTallyRead(*t, s, sessions, kGetDados_ItmApurPrec, &TallyService::GetDados_ItmApurPrec);

  t->Add(kDelApuracao.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           Session who = Caller(sessions, ctx);
           const auto k =
               args::Read<TallyKey>(kDelApuracao, a, &TallyKey::centre, &TallyKey::tally);
           CheckCentre(who, k.centre, kDelApuracao.name);
           // The centre the call names may not be the tally's: the tally's own
           // is the one whose data would be let go.
           if (std::optional<TallyHeader> h = s.Header(k.tally))
             CheckCentre(who, h->centre, kDelApuracao.name);
           s.DelApuracao(k.centre, k.tally);
           return Value();
         }));
  t->Add(kMelhorCotacao.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           Session who = Caller(sessions, ctx);
           using R = BestQuoteRequest;
           const R r =
               args::Read<R>(kMelhorCotacao, a, &R::centre, &R::tally, &R::system, &R::kind);
           CheckCentre(who, r.centre, kMelhorCotacao.name);
           s.MelhorCotacao(r.centre, r.tally, r.system, r.kind);
           return Value();
         }));
  t->Add(kAtuaPrecEco.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           Session who = Caller(sessions, ctx);
           using R = PriceRequest;
           const R r = args::Read<R>(kAtuaPrecEco, a, &R::centre, &R::product, &R::collection,
                                     &R::supplier, &R::brand, &R::region, &R::unitPrice, &R::tally);
           CheckCentre(who, r.centre, kAtuaPrecEco.name);
           return Value(s.AtuaPrecEco(r.centre, r.product, r.collection, r.supplier, r.brand,
                                      r.region, r.unitPrice, r.tally));
         }));
  t->Add(kAtualiza_PrecoEco.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           Session who = Caller(sessions, ctx);
           using R = PriceRequest;
           const R r = args::Read<R>(kAtualiza_PrecoEco, a, &R::centre, &R::product, &R::collection,
                                     &R::supplier, &R::brand, &R::region, &R::tally);
           CheckCentre(who, r.centre, kAtualiza_PrecoEco.name);
           s.Atualiza_PrecoEco(r.centre, r.product, r.collection, r.supplier, r.brand, r.region,
                               r.tally);
           return Value();
         }));
  t->Add(kGetVd_EfetivaAF.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = kGetVd_EfetivaAF.name;
           Session who = Caller(sessions, ctx);
           using R = EffectuationViewRequest;
           const R r = args::Read<R>(kGetVd_EfetivaAF, a, &R::buyer, &R::branch, &R::centre,
                                     &R::tally, &R::op);
           CheckBranch(who, r.branch, m);
           CheckCentre(who, r.centre, m);
           CheckBuyer(s, who, r.buyer, r.tally, m);
           CheckOperator(who, r.op, m);
           return Value(s.GetVd_EfetivaAF(r.buyer, r.branch, r.centre, r.tally, r.op));
         }));
  t->Add(kGera_AF.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = kGera_AF.name;
           Session who = Caller(sessions, ctx);
           using R = GeraAfArgs;
           const R r = args::Read<R>(kGera_AF, a, &R::changes, &R::buyer, &R::processingDate,
                                     &R::centre, &R::tally, &R::branch, &R::blockAf, &R::dirEmpty,
                                     &R::dirInvalid, &R::budgetPartial, &R::success, &R::budgetNone,
                                     &R::inconsistentRefused, &R::unitPrice, &R::priceUsed,
                                     &R::notExtraSupplier);
           CheckCentre(who, r.centre, m);
           CheckBranch(who, r.branch, m);
           CheckBuyer(s, who, r.buyer, r.tally, m);
           GeraAfRequest q{r.changes.value,
                           r.buyer,
                           r.processingDate,
                           r.centre,
                           r.tally,
                           r.branch,
                           r.blockAf.value,
                           {r.dirEmpty, r.dirInvalid, r.budgetPartial, r.success, r.budgetNone,
                            r.inconsistentRefused, r.unitPrice, r.priceUsed, r.notExtraSupplier}};
           return Value(s.Gera_AF(q));
         }));
  t->Add(kExcluiAF.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           const char* m = kExcluiAF.name;
           Session who = Caller(sessions, ctx);
           using R = ExcluiAfRequest;
           const R r = args::Read<R>(kExcluiAF, a, &R::branch, &R::tally);
           CheckBranch(who, r.branch, m);
           // The call names no centre: the tally's own is the one to check.
           if (std::optional<TallyHeader> h = s.Header(r.tally)) CheckCentre(who, h->centre, m);
           s.ExcluiAF(r.branch, r.tally);
           return Value();
         }));
  return t;
}

std::shared_ptr<rpc::IServerObject> MakePurchasingObject(TallyService& s, Sessions& sessions) {
  struct ParamRequest {
    std::string centre, system;
  };
  auto t = std::make_shared<rpc::MethodTable>(kPurchasingObject);
  t->Add(contract::kGetParamCmp.name, CM([&s, &sessions](const Args& a, const Ctx& ctx) {
           Session who = Caller(sessions, ctx);
           using R = ParamRequest;
           const R r = args::Read<R>(contract::kGetParamCmp, a, &R::centre, &R::system);
           CheckCentre(who, r.centre, contract::kGetParamCmp.name);
           return Value(s.GetParamCmp(r.centre, r.system));
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
  std::string MethodName(const std::string& method) const override {
    return inner_->MethodName(method);
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
  return registry_.Dispatch(serverObject, method, args, rpc::CallContext{token_, {}});
}

}  // namespace apura::server
