#pragma once
// Storage that passes every call through and first tells a hook which call comes:
// for tests that count calls, slow them down, or stop the process at one of them.

#include <functional>
#include <memory>
#include <string>

#include "server/storage/storage.h"

namespace apura::server::testing {

class HookedStorage : public IStorage {
 public:
  using Hook = std::function<void(const char* call)>;
  HookedStorage(IStorage& inner, Hook hook) : inner_(inner), hook_(std::move(hook)) {}
  std::unique_ptr<IStorageSession> OpenSession() override {
    return std::make_unique<Session>(inner_.OpenSession(), hook_);
  }

 private:
  struct Session : IStorageSession {
    Session(std::unique_ptr<IStorageSession> s, Hook& h) : in(std::move(s)), hook(h) {}
    std::unique_ptr<IStorageSession> in;
    Hook& hook;
    void Begin(bool w) override { hook("Begin"), in->Begin(w); }
    void Commit() override { hook("Commit"), in->Commit(); }
    void Rollback() override { in->Rollback(); }
    std::optional<CentreParams> Centre(const std::string& c) override {
      return hook("Centre"), in->Centre(c);
    }
    std::optional<TallyHeader> Tally(const std::string& n) override {
      return hook("Tally"), in->Tally(n);
    }
    TallyModel LoadTally(const TallyHeader& h) override {
      return hook("LoadTally"), in->LoadTally(h);
    }
    void UpdateItems(const std::vector<ItemUpdate>& u) override {
      hook("UpdateItems"), in->UpdateItems(u);
    }
    void UpdateQuotePrices(int64_t id, double u, double e, double p) override {
      hook("UpdateQuotePrices"), in->UpdateQuotePrices(id, u, e, p);
    }
    void SetEffectuated(const std::string& t, bool e, double d) override {
      hook("SetEffectuated"), in->SetEffectuated(t, e, d);
    }
    std::optional<TallyHeader> PeekTally(const std::string& n) override {
      return hook("PeekTally"), in->PeekTally(n);
    }
    void BumpVersion(const std::string& t, Change w) override {
      hook("BumpVersion"), in->BumpVersion(t, w);
    }
    void InsertAfs(std::vector<AfRecord>& afs) override { hook("InsertAfs"), in->InsertAfs(afs); }
    bool HasAfs(const std::string& t) override { return hook("HasAfs"), in->HasAfs(t); }
    int DeleteAfs(const std::string& t, const std::string& b) override {
      return hook("DeleteAfs"), in->DeleteAfs(t, b);
    }
    std::vector<AfRecord> Afs(const std::string& t) override { return hook("Afs"), in->Afs(t); }
    std::vector<AfRecord> OrderedAfs(const std::string& t) override {
      return hook("OrderedAfs"), in->OrderedAfs(t);
    }
    void ImportTally(const TallyDocument& d) override { hook("ImportTally"), in->ImportTally(d); }
    std::optional<OperatorRow> FindOperator(const std::string& c) override {
      return in->FindOperator(c);
    }
    void SaveOperator(const OperatorRow& op) override { in->SaveOperator(op); }
    void SaveSession(const SessionRow& s, double now) override { in->SaveSession(s, now); }
    std::optional<SessionRow> FindSession(const std::string& t) override {
      return in->FindSession(t);
    }
    void DeleteSession(const std::string& t) override { in->DeleteSession(t); }
    size_t CountSessions(double now) override { return in->CountSessions(now); }
    std::optional<std::string> ReportDefinition(const std::string& c) override {
      return in->ReportDefinition(c);
    }
    void SaveReportDefinition(const std::string& c, const std::string& t, bool r) override {
      in->SaveReportDefinition(c, t, r);
    }
    DataPacket RunReportQuery(const std::string& sql, const ReportParams& p) override {
      return in->RunReportQuery(sql, p);
    }
  };
  IStorage& inner_;
  Hook hook_;
};

}  // namespace apura::server::testing
