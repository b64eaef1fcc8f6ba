#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <unordered_map>

#include "framework/format.h"
#include "server/services/change_packets.h"
#include "server/services/packets.h"
#include "server/services/tally_internal.h"
#include "server/services/tally_service.h"

namespace apura::server {

using namespace detail;

namespace {

// Names of the branches and suppliers of a tally, for the outcome of Gera_AF.
struct TallyNames {
  std::map<std::string, std::string> branch, supplier;
};

std::shared_ptr<const TallyNames> Names(const TallyModel& m) {
  return m.derived.Get<TallyNames>(DerivedCache::Names, [&] {
    TallyNames n;
    for (const RequestLine& r : m.requests) n.branch.emplace(r.CDFILIAP, r.NMFILIAL);
    for (const QuoteLine& q : m.quotes) n.supplier.emplace(q.CDFORNITMAP, q.NMFANTFORN);
    return n;
  });
}

// A supplier's minimums over the quotation lines of one AF: only those it
// refuses an AF below ("R") count.
struct Limits {
  double minValue = 0, minQuantity = 0;
  void Add(const QuoteLine& q) {
    if (q.IDVRMINFORN == "R") minValue = std::max(minValue, q.VRMINAUTFOR);
    if (q.IDQTMINFORN == "R") minQuantity = std::max(minQuantity, q.QTMINAUTFOT);
  }
};

// The outcome's table of the AFs refused as inconsistent, with their limits.
DataPacket InconsistentPacket(const std::vector<std::pair<const AfRecord*, Limits>>& refused,
                              const TallyNames& names) {
  auto name = [](const std::map<std::string, std::string>& of, const std::string& code) {
    auto n = of.find(code);
    return n == of.end() ? std::string_view() : std::string_view(n->second);
  };
  ColumnBuilder b(RelInconsFields(), refused.size());
  for (const auto& [af, lim] : refused) {
    b.Text(0, af->number);
    b.Text(1, af->destBranch);
    b.Text(2, name(names.branch, af->destBranch));
    b.Text(3, af->supplier);
    b.Text(4, name(names.supplier, af->supplier));
    b.Number(5, af->total);
    b.Number(6, af->quantity);
    b.Number(7, lim.minValue);
    b.Number(8, lim.minQuantity);
    b.Text(9, af->error);
  }
  return b.Build();
}

}  // namespace

// --- AF generation -------------------------------------------------------------

namespace {

// What an effectuation orders at one version of a tally, worked out before the
// write lock is taken: every AF change bumps the version, so the plan holds for
// as long as the stored version is the one it was made at.
struct EffectuationPlan {
  std::shared_ptr<const TallyModel> model;
  std::map<size_t, Item> changed;  // delivery rows the change packet alters
  std::vector<ItemUpdate> updates;
  std::vector<AfRecord> storedAfs;   // lines name only their delivery row
  std::set<std::string> earlierAfs;  // AFs holding rows chosen again
  size_t alreadyOrdered = 0;
  bool nothingNew = true;  // no chosen row is left to order
  std::vector<AfRecord> kept, inconsistent;
  std::vector<Limits> inconsistentLimits;
  std::vector<size_t> keptRows;  // delivery rows of the kept AFs
  bool overBudget = false;
  // The model of the version the effectuation commits, but for its state; made
  // with the plan, so that callers waiting for that version don't wait for it.
  std::shared_ptr<TallyModel> next;

  const Item& item(size_t i) const {
    if (changed.empty()) return model->items[i];
    auto c = changed.find(i);
    return c == changed.end() ? model->items[i] : c->second;
  }
};

EffectuationPlan PlanEffectuation(std::shared_ptr<const TallyModel> model, const GeraAfRequest& rq,
                                  std::vector<AfRecord> storedAfs) {
  EffectuationPlan p;
  p.model = std::move(model);
  const TallyModel& m = *p.model;
  if (!rq.changes.IsNull()) p.updates = ApplyChanges(m, rq.changes.AsPacket(), p.changed);
  p.storedAfs = std::move(storedAfs);

  // Rows already ordered by an earlier effectuation are not ordered twice.
  std::unordered_map<int64_t, const std::string*> ordered;  // delivery row -> its AF
  for (const AfRecord& af : p.storedAfs) {
    for (const AfLine& l : af.lines) ordered.emplace(l.item, &af.number);
  }

  // One AF per supplier and destination branch.
  std::map<std::pair<std::string, std::string>, std::vector<size_t>> groups;  // branch, supplier
  for (size_t i = 0; i < m.items.size(); ++i) {
    const Item& it = p.item(i);
    if (!it.selected || !(it.QTACOMP > 0)) continue;
    if (auto o = ordered.find(it.id); o != ordered.end()) {
      ++p.alreadyOrdered;
      p.earlierAfs.insert(*o->second);
      continue;
    }
    groups[{m.requests[it.request].CDFILIAP, m.quotes[it.quote].CDFORNITMAP}].push_back(i);
  }
  p.nothingNew = groups.empty();

  // The centre's cash-flow budget: consistent AFs are taken in order while they fit.
  double spent = 0;
  for (auto& [key, rows] : groups) {
    AfRecord af;
    af.tally = rq.tally;
    af.centre = rq.centre;
    af.destBranch = key.first;
    af.launchBranch = rq.branch;
    af.supplier = key.second;
    af.buyer = rq.buyer;
    af.date = rq.processingDate.days;
    af.lines.reserve(rows.size());
    Limits lim;
    for (size_t i : rows) {
      const Item& it = p.item(i);
      const QuoteLine& q = m.quotes[it.quote];
      const RequestLine& r = m.requests[it.request];
      af.lines.push_back({it.id, q.CDPRODITMAP, q.CDMARCITMAP, q.NRCOLEITMAP, r.DTENTRAPUT,
                          it.QTACOMP, q.VRPRECUNIAP});
      af.total += it.QTACOMP * q.VRPRECUNIAP;
      af.quantity += it.QTACOMP;
      af.web = af.web || m.products[q.product].web;
      lim.Add(q);
    }
    if (af.total < lim.minValue) {
      af.error = "Valor da AF " + FormatMoney(af.total) + " abaixo do mínimo do fornecedor " +
                 FormatMoney(lim.minValue) + ".";
    } else if (af.quantity < lim.minQuantity) {
      af.error = "Quantidade da AF " + FloatToText(af.quantity) +
                 " abaixo do mínimo do fornecedor " + FloatToText(lim.minQuantity) + ".";
    }
    if (!af.error.empty()) {
      af.inconsistent = true;
      af.status = "I";
      p.inconsistent.push_back(std::move(af));
      p.inconsistentLimits.push_back(lim);
    } else if (m.centre.budget && spent + af.total > *m.centre.budget) {
      p.overBudget = true;
    } else {
      af.status = rq.blockAf == "S" ? "B" : "E";
      spent += af.total;
      p.kept.push_back(std::move(af));
      p.keptRows.insert(p.keptRows.end(), rows.begin(), rows.end());
    }
  }
  p.next = NextVersion(m, Change::Choices);
  if (!p.changed.empty()) {
    std::vector<Item>& items = p.next->items.Edit();
    for (auto& [i, it] : p.changed) items[i] = it;
  }
  return p;
}

}  // namespace

// One effectuation. It is planned on a snapshot, so the write lock is held
// only to store the plan, and stored in turns (InTurns): a turn either commits
// and answers the outcome, or finds that another write got there first and
// leaves the next turn to plan again. The plan holds while nothing chosen or
// ordered changes: a price edit committed in between comes after the
// effectuation, which orders at the prices it was asked at. The snapshot's
// versions, not the model's, say what the plan holds for: the kept model may be
// newer than the snapshot the AFs were read in.
class TallyService::Effectuation {
 public:
  Effectuation(TallyService& service, const GeraAfRequest& rq)
      : service_(service), rq_(rq), texts_(rq.texts), s_(service.storage_.OpenSession()) {}

  ValueArray Run() {
    return InTurns(
        "A apuração " + rq_.tally + " mudou durante a efetivação; nada foi gravado. Tente de novo.",
        [&](bool lockFirst) { return Turn(lockFirst); });
  }

 private:
  void PlanOnSnapshot() {
    Transaction read(*s_, false);
    planned_ = RequireTally(*s_, rq_.centre, rq_.tally);
    plan_ = PlanEffectuation(service_.Cached(*s_, planned_), rq_, s_->OrderedAfs(rq_.tally));
    read.Commit();
  }

  bool Holds(const TallyHeader& h) const {
    return h.choiceVersion == planned_.choiceVersion && h.effectuated == planned_.effectuated;
  }

  // The tally as this turn finds it: under its lock when the turn takes it
  // first, as last committed otherwise.
  TallyHeader Current(bool lockFirst) {
    if (lockFirst) return RequireTally(*s_, rq_.centre, rq_.tally);
    auto h = s_->PeekTally(rq_.tally);
    if (!h) throw ServerError(ErrorCode::NotFound, "Apuração " + rq_.tally + " não encontrada.");
    return *h;
  }

  // Where the database locks rows (several servers on one database), the AFs
  // are stored before the tally's lock is taken, so that price edits of the
  // tally go on meanwhile; a write that changed choices first, or another
  // server's effectuation of the same rows, has the whole done again.
  std::optional<ValueArray> Turn(bool lockFirst) {
    if (needPlan_ && !lockFirst) {
      PlanOnSnapshot();
      needPlan_ = false;
    }
    Transaction tx(*s_, true);
    const TallyHeader now = Current(lockFirst);
    if (!Holds(now)) {
      // Without the tally's lock a load may see two writes' halves: the plan is
      // made again on a snapshot. Under the lock what it reads is one state.
      needPlan_ = true;
      if (!lockFirst) return std::nullopt;
      planned_ = now;
      plan_ = PlanEffectuation(service_.Cached(*s_, now), rq_, s_->OrderedAfs(rq_.tally));
    }
    const EffectuationPlan& p = *plan_;
    names_ = Names(*p.model);
    // A refusal leaves nothing behind: neither AFs nor the applied changes.
    if (!p.nothingNew && p.kept.empty()) return Refused();

    // Whatever undoes the rest of this turn (a choice write committed before the
    // lock, a deadlock the database broke, a delivery row another server
    // ordered first) has the plan made again.
    needPlan_ = true;
    if (!p.nothingNew) {
      s_->InsertAfs(plan_->kept);
      s_->InsertAfs(plan_->inconsistent);
    }
    const TallyHeader h = lockFirst ? now : RequireTally(*s_, rq_.centre, rq_.tally);
    if (!Holds(h)) return std::nullopt;
    s_->UpdateItems(p.updates);

    if (p.nothingNew && p.alreadyOrdered > 0) {
      Commit(tx, h, false);
      return AlreadyOrdered();
    }
    if (p.nothingNew) {
      // Nothing (left) to order: the changes stand, no AF, the tally unchanged.
      Commit(tx, h, false);
      ColumnBuilder empty(RelInconsFields(), 0);
      return ValueArray{
          Value(empty.Build()), Value(""), Value(false), Value(""), Value(), Value("")};
    }
    const std::string warning = Warnings();
    // AFs of web products are also written as files for the suppliers' portal; a
    // missing directory is fatal and the worksheet deletes the AFs again.
    std::string fatal = WebDirectoryProblem();
    Commit(tx, h, true);
    if (fatal.empty()) fatal = WriteWebAfs();
    return ValueArray{Value(InconsistentOutcome()),
                      Value(texts_.success),
                      Value(false),
                      Value(warning),
                      Value(),
                      Value(fatal)};
  }

  // Commits, and keeps the version committed: the planned model with the
  // changed rows, or when prices were edited in between, the model of the
  // edits with them; never a reload of the whole tally.
  void Commit(Transaction& tx, const TallyHeader& h, bool effectuated) {
    EffectuationPlan& p = *plan_;
    if (effectuated) s_->SetEffectuated(rq_.tally, true, rq_.processingDate.days);
    s_->BumpVersion(rq_.tally, Change::Choices);
    Publication pub(service_, rq_.tally, h.version + 1);
    tx.Commit();
    std::shared_ptr<TallyModel> next;
    if (p.next->header.version == h.version + 1) {
      next = std::move(p.next);
    } else if (auto current = service_.CachedAt(h)) {
      next = NextVersion(*current, Change::Choices);
      if (!p.changed.empty()) {
        std::vector<Item>& items = next->items.Edit();
        for (auto& [i, it] : p.changed) items[i] = it;
      }
    }
    if (!next) return service_.Forget(rq_.tally);
    if (effectuated) next->header.effectuated = true;
    pub.Keep(std::move(next));
  }

  DataPacket InconsistentOutcome() const {
    const EffectuationPlan& p = *plan_;
    std::vector<std::pair<const AfRecord*, Limits>> refused;
    for (size_t k = 0; k < p.inconsistent.size(); ++k)
      refused.push_back({&p.inconsistent[k], p.inconsistentLimits[k]});
    return InconsistentPacket(refused, *names_);
  }

  ValueArray Refused() const {
    const std::string& text = plan_->overBudget ? texts_.budgetNone : texts_.inconsistentRefused;
    return ValueArray{
        Value(InconsistentOutcome()), Value(text), Value(true), Value(""), Value(), Value("")};
  }

  std::string AlreadyOrderedText() const {
    std::string list;
    for (const std::string& n : plan_->earlierAfs) list += (list.empty() ? "" : ", ") + n;
    return std::to_string(plan_->alreadyOrdered) +
           " linha(s) de entrega escolhida(s) já constam de AF(s) gerada(s) antes (" + list +
           ") e não foram pedidas de novo.";
  }

  // A retry after a lost answer, or a second worksheet on the same choice:
  // everything chosen is on order already. The AFs that hold it are this
  // call's outcome, so a committed effectuation is never reported as lost.
  ValueArray AlreadyOrdered() const {
    const EffectuationPlan& p = *plan_;
    const TallyModel& m = *p.model;
    std::vector<std::pair<const AfRecord*, Limits>> refused;
    for (const AfRecord& af : p.storedAfs)
      if (af.inconsistent && p.earlierAfs.count(af.number)) refused.push_back({&af, {}});
    // The supplier's minimums of a refused AF, as its quotation lines say now.
    std::unordered_map<int64_t, Limits*> limitsOf;
    for (auto& [af, lim] : refused)
      for (const AfLine& l : af->lines) limitsOf.emplace(l.item, &lim);
    for (size_t i = 0; i < m.items.size() && !limitsOf.empty(); ++i)
      if (auto r = limitsOf.find(m.items[i].id); r != limitsOf.end())
        r->second->Add(m.quotes[m.items[i].quote]);
    return ValueArray{Value(InconsistentPacket(refused, *names_)),
                      Value(texts_.success),
                      Value(false),
                      Value(AlreadyOrderedText()),
                      Value(),
                      Value("")};
  }

  std::string Warnings() const {
    const EffectuationPlan& p = *plan_;
    const TallyModel& m = *p.model;
    std::vector<std::string> warnings;
    if (p.overBudget) warnings.push_back(texts_.budgetPartial);
    if (p.alreadyOrdered > 0) warnings.push_back(AlreadyOrderedText());
    // A price above the last one paid for the stock product deserves a look.
    std::set<int> warned;
    for (size_t i : p.keptRows) {
      const QuoteLine& q = m.quotes[p.item(i).quote];
      const ProductInfo& pr = m.products[q.product];
      double perStock = q.VRPRECUNIAP / (pr.VRFATOCONV > 0 ? pr.VRFATOCONV : 1);
      if (pr.stockLastPrice > 0 && perStock > pr.stockLastPrice &&
          warned.insert(q.product).second) {
        warnings.push_back(pr.NMPRODUTO + ": " + texts_.unitPrice + FormatMoney(perStock) +
                           texts_.priceUsed + FormatMoney(pr.stockLastPrice));
      }
    }
    std::string warning;
    for (const std::string& w : warnings) warning += (warning.empty() ? "" : "\r\n") + w;
    return warning;
  }

  bool AnyWeb() const {
    return std::any_of(plan_->kept.begin(), plan_->kept.end(),
                       [](const AfRecord& a) { return a.web; });
  }

  std::string WebDirectoryProblem() const {
    if (!AnyWeb()) return {};
    const std::string& dir = plan_->model->centre.afDirectory;
    std::error_code ec;
    if (dir.empty()) return texts_.dirEmpty;
    if (!std::filesystem::is_directory(dir, ec)) return texts_.dirInvalid;
    return {};
  }

  // One file per AF of web products, for the suppliers' portal.
  std::string WriteWebAfs() const {
    if (!AnyWeb()) return {};
    std::string fatal;
    for (const AfRecord& af : plan_->kept) {
      if (!af.web) continue;
      std::ofstream out(std::filesystem::path(plan_->model->centre.afDirectory) /
                        ("AF_" + af.number + ".txt"));
      out << "AF;" << af.number << ";" << af.destBranch << ";" << af.supplier << ";"
          << FloatToText(af.total) << "\r\n";
      for (const AfLine& l : af.lines) {
        out << "ITEM;" << l.product << ";" << l.brand << ";" << l.collection << ";"
            << DateTimeToText(DateTime{l.date}) << ";" << FloatToText(l.quantity) << ";"
            << FloatToText(l.unitPrice) << "\r\n";
      }
      if (!out) fatal = texts_.dirInvalid;
    }
    return fatal;
  }

  TallyService& service_;
  const GeraAfRequest& rq_;
  const GeraAfTexts& texts_;
  std::unique_ptr<IStorageSession> s_;
  std::optional<EffectuationPlan> plan_;
  TallyHeader planned_;
  bool needPlan_ = true;
  std::shared_ptr<const TallyNames> names_;
};

ValueArray TallyService::Gera_AF(const GeraAfRequest& rq) {
  if (!rq.changes.IsNull() && rq.changes.kind() != Value::Kind::Packet) {
    throw ServerError("O pacote de alterações deve ser um pacote de dados ou nulo.");
  }
  return Effectuation(*this, rq).Run();
}

}  // namespace apura::server
