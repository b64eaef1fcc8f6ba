#include "server/services/tally_service.h"

#include <malloc.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "framework/format.h"
#include "server/services/packets.h"
#include "server/services/pricing.h"
#include "server/services/tally_internal.h"

namespace apura::server {

using namespace detail;

namespace {

// A packet of one version of a tally, built by its first reader and shared by
// the others. The delivery packets, which are large and from one version to the
// next differ in a few rows' prices or choices, come from the newest one built
// for the loaded tally when there is one.
DataPacket Derived(const TallyModel& m, DerivedCache::Slot slot,
                   DataPacket (*build)(const TallyModel&)) {
  return *m.derived.Get<DataPacket>(slot, [&] {
    if (slot != DerivedCache::Dados && slot != DerivedCache::ItmApurPrec) return build(m);
    BuiltPackets& built = *m.built;
    BuiltPackets::Entry& entry = slot == DerivedCache::Dados ? built.dados : built.itmApurPrec;
    DataPacket before;
    SharedList<QuoteLine> beforeQuotes;
    bool sameChoices = false;
    {
      std::lock_guard lock(built.mutex);
      if (!entry.packet.empty() && m.requests.Is(entry.requests) && m.products.Is(entry.products) &&
          entry.quotes.size() == m.quotes.size() && entry.packet.RowCount() == m.items.size()) {
        before = entry.packet;
        beforeQuotes = entry.quotes;
        sameChoices = m.items.Is(entry.items);
      }
    }
    DataPacket packet =
        before.empty() ? build(m) : UpdatedPacket(before, beforeQuotes, sameChoices, m);
    std::lock_guard lock(built.mutex);
    if (m.header.version >= entry.version) {
      entry.packet = packet;
      entry.version = m.header.version;
      entry.items = m.items.Id();
      entry.requests = m.requests.Id();
      entry.products = m.products.Id();
      entry.quotes = m.quotes;
    }
    return packet;
  });
}

}  // namespace

// --- Cache -------------------------------------------------------------------

// One load per tally version however many callers want it at once: the others
// wait for it, so a large tally is read and held once, not once per reader.
namespace {

// Models let go of: released, and their memory given back to the system, once
// the cache's lock is no longer held. The allocator is tuned to keep freed
// memory for the next large packet, so without the trim nothing would return.
struct Released {
  std::vector<std::shared_ptr<const TallyModel>> models;
  ~Released() {
    if (models.empty()) return;
    models.clear();
    malloc_trim(0);
  }
};

}  // namespace

TallyService::TallyService(IStorage& storage, std::chrono::seconds idle, Clock clock)
    : storage_(storage), idle_(idle), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

void TallyService::Touch(const std::string& tally,
                         std::vector<std::shared_ptr<const TallyModel>>& dropped) {
  const auto now = clock_();
  if (!tally.empty()) used_[tally] = now;
  for (auto it = cache_.begin(); it != cache_.end();) {
    auto u = used_.find(it->first);
    if (it->first != tally && (u == used_.end() || now - u->second > idle_)) {
      dropped.push_back(std::move(it->second));
      if (u != used_.end()) used_.erase(u);
      it = cache_.erase(it);
    } else {
      ++it;
    }
  }
}

void TallyService::ReleaseIdle() {
  Released released;
  std::lock_guard lock(mutex_);
  Touch({}, released.models);
}

TallyService::Held TallyService::HeldTallies() {
  std::vector<std::shared_ptr<const TallyModel>> models;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [tally, model] : cache_) models.push_back(model);
  }
  Held held;
  held.tallies = models.size();
  for (const auto& m : models) {
    std::lock_guard lock(m->built->mutex);
    held.packetBytes +=
        ColumnBytes(m->built->dados.packet) + ColumnBytes(m->built->itmApurPrec.packet);
  }
  return held;
}

std::shared_ptr<const TallyModel> TallyService::Cached(IStorageSession& s, const TallyHeader& h) {
  const std::pair<std::string, int64_t> key{h.number, h.version};
  Released released;
  std::unique_lock lock(mutex_);
  Touch(h.number, released.models);
  for (;;) {
    // A kept model newer than the caller's snapshot is committed too (models
    // are kept only after their commit): a reader whose snapshot began before
    // a write is answered as if it had begun after, instead of loading an old
    // version again. A writer's snapshot is never older than what is kept.
    auto it = cache_.find(h.number);
    if (it != cache_.end() && (it->second->header.version > h.version ||
                               (it->second->header.version == h.version &&
                                it->second->header.effectuated == h.effectuated))) {
      return it->second;
    }
    if (!loading_.count(key)) break;
    loaded_.wait(lock);
  }
  loading_.insert(key);
  lock.unlock();
  std::shared_ptr<const TallyModel> model;
  try {
    model = std::make_shared<const TallyModel>(s.LoadTally(h));
  } catch (...) {
    lock.lock();
    loading_.erase(key);
    loaded_.notify_all();
    throw;
  }
  lock.lock();
  auto& slot = cache_[h.number];
  if (!slot || slot->header.version <= h.version) slot = model;
  loading_.erase(key);
  loaded_.notify_all();
  return model;
}

void TallyService::Forget(const std::string& tally) {
  Released released;
  std::lock_guard lock(mutex_);
  if (auto it = cache_.find(tally); it != cache_.end()) {
    released.models.push_back(std::move(it->second));
    cache_.erase(it);
  }
  used_.erase(tally);
}

std::shared_ptr<const TallyModel> TallyService::Model(const std::string& centre,
                                                      const std::string& tally) {
  auto s = storage_.OpenSession();
  Transaction tx(*s, false);
  TallyHeader h = RequireTally(*s, centre, tally);
  auto m = Cached(*s, h);
  tx.Commit();
  return m;
}

// --- Read methods ------------------------------------------------------------

DataPacket TallyService::GetParamCmp(const std::string& centre, const std::string& /*system*/) {
  if (centre.empty()) throw ServerError("Centro de compras não informado.");
  auto s = storage_.OpenSession();
  auto c = s->Centre(centre);
  if (!c)
    throw ServerError(ErrorCode::NotFound, "Centro de compras " + centre + " não encontrado.");
  return ParaSupriPacket(*c);
}

DataPacket TallyService::GetProduto(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::Produto, ProdutoPacket);
}
DataPacket TallyService::GetRegiao(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::Regiao, RegiaoPacket);
}
DataPacket TallyService::GetProdItem(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::ProdItem, ProdItemPacket);
}
DataPacket TallyService::GetApurNeg(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::ApurNeg, ApurNegPacket);
}
DataPacket TallyService::GetPai_ItmApurPrec(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::PaiItmApurPrec, PaiItmApurPrecPacket);
}
DataPacket TallyService::GetItmApurPrec(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::ItmApurPrec, ItmApurPrecPacket);
}
DataPacket TallyService::GetDados(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::Dados, DadosPacket);
}
DataPacket TallyService::GetDados_ItmApurPrec(const std::string& c, const std::string& t) {
  return Derived(*Model(c, t), DerivedCache::DadosItmApurPrec, DadosItmApurPrecPacket);
}

DataPacket TallyService::GetVd_EfetivaAF(const std::string& buyer, const std::string& branch,
                                         const std::string& centre, const std::string& tally,
                                         const std::string& op) {
  // The server object checks them against the session; an operator of every
  // branch would let an empty one through.
  if (buyer.empty()) throw ServerError("Comprador não informado.");
  if (branch.empty()) throw ServerError("Filial não informada.");
  if (op.empty()) throw ServerError("Operador não informado.");
  auto s = storage_.OpenSession();
  TallyHeader h = RequireTally(*s, centre, tally);
  ColumnBuilder b(VdEfetivaAFFields(), 1);
  b.Text(0, h.effectuated ? h.number : "");
  return b.Build();
}

// --- Writes ------------------------------------------------------------------

void TallyService::DelApuracao(const std::string& /*centre*/, const std::string& tally) {
  // What the server holds for a tally between calls is its loaded model.
  if (!tally.empty()) Forget(tally);
}

namespace {

// The delivery rows a best-quote choice changes, each as it must be stored:
// a covered row chosen, every other row cleared (its quantity back to the
// request's). The model is the stored tally at the version the writer holds,
// so a row already so is left alone; clearing all of a large tally's rows in
// storage compared each with its request, and a tally chosen again as it was
// now writes nothing.
std::vector<ItemUpdate> ChangedRows(const TallyModel& m, const BestQuoteChoice& choice) {
  std::vector<int32_t> chosenAs(m.items.size(), -1);
  for (size_t k = 0; k < choice.selectedItems.size(); ++k)
    chosenAs[static_cast<size_t>(choice.selectedItems[k])] = static_cast<int32_t>(k);
  std::vector<ItemUpdate> changed;
  for (size_t i = 0; i < m.items.size(); ++i) {
    const Item& it = m.items[i];
    if (chosenAs[i] >= 0) {
      const ItemUpdate& u = choice.selected[static_cast<size_t>(chosenAs[i])];
      if (!it.selected || it.QTACOMP != u.QTACOMP || it.IDMOTIVPRESC != u.IDMOTIVPRESC)
        changed.push_back(u);
      continue;
    }
    const double requested = m.requests[it.request].QTSOLACOMP;
    if (it.selected || it.QTACOMP != requested || !it.IDMOTIVPRESC.empty())
      changed.push_back({it.id, false, requested, "", it.TXOBESCMANAP});
  }
  return changed;
}

}  // namespace

void TallyService::MelhorCotacao(const std::string& centre, const std::string& tally,
                                 const std::string& /*system*/, const std::string& kind) {
  if (kind != "F") {
    throw ServerError("Tipo de apuração \"" + kind + "\" não reconhecido.");
  }
  auto s = storage_.OpenSession();
  Transaction tx(*s, true);
  TallyHeader h = RequireTally(*s, centre, tally);
  auto m = Cached(*s, h);
  BestQuoteChoice choice = ChooseBestQuotes(*m);
  s->UpdateItems(ChangedRows(*m, choice));
  s->BumpVersion(tally, Change::Choices);

  // The worksheet reloads its tables right after; the model already knows the
  // new state, so it is kept instead of being read back from storage.
  auto next = NextVersion(*m, Change::Choices);
  for (Item& it : next->items.Edit()) {
    it.selected = false;
    it.QTACOMP = next->requests[it.request].QTSOLACOMP;
    it.IDMOTIVPRESC.clear();
  }
  for (size_t k = 0; k < choice.selectedItems.size(); ++k) {
    Item& it = next->items.Edit()[choice.selectedItems[k]];
    it.selected = true;
    it.QTACOMP = choice.selected[k].QTACOMP;
    it.IDMOTIVPRESC = choice.selected[k].IDMOTIVPRESC;
  }
  Publication pub(*this, tally, next->header.version);
  tx.Commit();
  pub.Keep(std::move(next));
}

// Kept only after the commit: a model must never stand for a version storage
// may still give to another write. Writers commit in turn, but may come here out
// of turn: an older version never replaces a newer one.
TallyService::Publication::Publication(TallyService& service, std::string tally, int64_t version)
    : service_(service), key_(std::move(tally), version) {
  std::lock_guard lock(service_.mutex_);
  service_.loading_.insert(key_);
}

TallyService::Publication::~Publication() {
  std::lock_guard lock(service_.mutex_);
  service_.loading_.erase(key_);
  service_.loaded_.notify_all();
}

void TallyService::Publication::Keep(std::shared_ptr<const TallyModel> model) {
  Released released;
  std::lock_guard lock(service_.mutex_);
  service_.Touch(model->header.number, released.models);
  auto& slot = service_.cache_[model->header.number];
  if (!slot || slot->header.version <= model->header.version) slot = std::move(model);
  service_.loading_.erase(key_);
  service_.loaded_.notify_all();
}

std::shared_ptr<const TallyModel> TallyService::CachedAt(const TallyHeader& h) {
  std::unique_lock lock(mutex_);
  loaded_.wait(lock, [&] { return !loading_.count({h.number, h.version}); });
  auto it = cache_.find(h.number);
  if (it == cache_.end() || it->second->header.version != h.version) return nullptr;
  return it->second;
}

int TallyService::FindQuote(const TallyModel& m, const std::string& product,
                            const std::string& collection, const std::string& supplier,
                            const std::string& brand, const std::string& region) const {
  for (size_t i = 0; i < m.quotes.size(); ++i) {
    const QuoteLine& q = m.quotes[i];
    if (q.CDPRODITMAP == product && q.NRCOLEITMAP == collection && q.CDFORNITMAP == supplier &&
        q.CDMARCITMAP == brand && q.CDREGITMAP == region) {
      return static_cast<int>(i);
    }
  }
  throw ServerError(ErrorCode::NotFound, "Cotação não encontrada (produto " + product +
                                             ", coleta " + collection + ", fornecedor " + supplier +
                                             ", marca " + brand + ", região " + region + ").");
}

std::vector<AfRecord> TallyService::Afs(const std::string& tally) {
  auto s = storage_.OpenSession();
  return s->Afs(tally);
}

void CheckUnitPrice(double unitPrice) {
  if (!std::isfinite(unitPrice) || unitPrice <= 0) {
    throw ServerError("Preço unitário deve ser maior que zero.");
  }
  if (unitPrice > kMaxUnitPrice) {
    throw ServerError("Preço unitário " + FloatToText(unitPrice) + " passa do máximo de " +
                      FloatToText(kMaxUnitPrice) + ".");
  }
}

ValueArray TallyService::AtuaPrecEco(const std::string& centre, const std::string& product,
                                     const std::string& collection, const std::string& supplier,
                                     const std::string& brand, const std::string& region,
                                     double unitPrice, const std::string& tally) {
  CheckUnitPrice(unitPrice);
  auto s = storage_.OpenSession();
  Transaction tx(*s, true);
  TallyHeader h = RequireTally(*s, centre, tally);
  auto m = Cached(*s, h);
  const int qi = FindQuote(*m, product, collection, supplier, brand, region);
  const QuoteLine& q = m->quotes[static_cast<size_t>(qi)];
  EconomicPrices e =
      ComputeEconomicPrices(unitPrice, m->products[q.product].VRFATOCONV, q.freightRate,
                            q.paymentDays, m->centre.monthlyRate, q.taxRate);
  s->UpdateQuotePrices(q.id, unitPrice, e.econ, e.econPi);
  s->BumpVersion(tally, Change::Prices);
  auto next = WithPrices(m, qi, unitPrice, e);
  Publication pub(*this, tally, next->header.version);
  tx.Commit();
  pub.Keep(std::move(next));
  return {Value(e.econ), Value(e.econPi)};
}

void TallyService::Atualiza_PrecoEco(const std::string& centre, const std::string& product,
                                     const std::string& collection, const std::string& supplier,
                                     const std::string& brand, const std::string& region,
                                     const std::string& tally) {
  // Coming back from the simulation screen over an empty quotation list sends
  // empty keys: there is nothing to recompute.
  if (product.empty() && collection.empty() && supplier.empty() && brand.empty() &&
      region.empty()) {
    return;
  }
  auto s = storage_.OpenSession();
  Transaction tx(*s, true);
  TallyHeader h = RequireTally(*s, centre, tally);
  auto m = Cached(*s, h);
  const int qi = FindQuote(*m, product, collection, supplier, brand, region);
  const QuoteLine& q = m->quotes[static_cast<size_t>(qi)];
  EconomicPrices e =
      ComputeEconomicPrices(q.VRPRECUNIAP, m->products[q.product].VRFATOCONV, q.freightRate,
                            q.paymentDays, m->centre.monthlyRate, q.taxRate);
  s->UpdateQuotePrices(q.id, q.VRPRECUNIAP, e.econ, e.econPi);
  s->BumpVersion(tally, Change::Prices);
  auto next = WithPrices(m, qi, q.VRPRECUNIAP, e);
  Publication pub(*this, tally, next->header.version);
  tx.Commit();
  pub.Keep(std::move(next));
}

// The model after a price update, for the version that update commits.
std::shared_ptr<const TallyModel> TallyService::WithPrices(
    const std::shared_ptr<const TallyModel>& m, int quote, double unitPrice,
    const EconomicPrices& e) {
  auto next = NextVersion(*m, Change::Prices);
  QuoteLine& q = next->quotes.Edit()[static_cast<size_t>(quote)];
  q.VRPRECUNIAP = unitPrice;
  q.PRECOECON = e.econ;
  q.PRECOECONPI = e.econPi;
  return next;
}

void TallyService::ExcluiAF(const std::string& branch, const std::string& tally) {
  RequireTallyNumber(tally);
  if (branch.empty()) throw ServerError("Filial não informada.");
  auto s = storage_.OpenSession();
  // An effectuation or deletion committed between the deletion and the lock
  // may have left AFs this one did not see: then it is done again.
  InTurns("A apuração " + tally +
              " mudou durante a exclusão das AFs; nada foi excluído. Tente de novo.",
          [&](bool lockFirst) -> std::optional<bool> {
            Transaction tx(*s, true);
            std::optional<TallyHeader> seen = lockFirst ? s->Tally(tally) : s->PeekTally(tally);
            if (!seen)
              throw ServerError(ErrorCode::NotFound, "Apuração " + tally + " não encontrada.");
            // Only the AFs this branch launched for this tally; another branch's
            // stay, and with them the tally's effectuated state.
            s->DeleteAfs(tally, branch);
            std::optional<TallyHeader> h = lockFirst ? seen : s->Tally(tally);
            if (!h)
              throw ServerError(ErrorCode::NotFound, "Apuração " + tally + " não encontrada.");
            if (h->choiceVersion != seen->choiceVersion) return std::nullopt;
            const bool left = s->HasAfs(tally);
            if (!left) s->SetEffectuated(tally, false, 0);
            s->BumpVersion(tally, Change::Choices);
            Publication pub(*this, tally, h->version + 1);
            tx.Commit();
            // The delivery rows are as they were: the loaded model only changes its state.
            if (auto m = CachedAt(*h)) {
              auto next = NextVersion(*m, Change::Choices);
              next->header.effectuated = left && h->effectuated;
              pub.Keep(std::move(next));
            } else {
              Forget(tally);
            }
            return true;
          });
}

// --- Import ------------------------------------------------------------------

std::optional<TallyHeader> TallyService::Header(const std::string& tally) {
  auto s = storage_.OpenSession();
  return s->Tally(tally);
}

bool TallyService::TallyExists(const std::string& number) {
  auto s = storage_.OpenSession();
  return s->Tally(number).has_value();
}

void TallyService::Import(const TallyDocument& doc) {
  ValidateDocument(doc);
  auto s = storage_.OpenSession();
  Transaction tx(*s, true);
  if (s->Tally(doc.number)) {
    throw ServerError(ErrorCode::Conflict,
                      "Apuração " + doc.number + " já existe; não foi importada.");
  }
  s->ImportTally(doc);
  tx.Commit();
  Released released;
  std::lock_guard lock(mutex_);
  // Centre parameters may have changed for other tallies.
  for (auto& [number, model] : cache_) released.models.push_back(std::move(model));
  cache_.clear();
  used_.clear();
}

}  // namespace apura::server
