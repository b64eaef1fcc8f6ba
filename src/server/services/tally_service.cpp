#include "server/services/tally_service.h"

#include <malloc.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "framework/format.h"
#include "server/services/packets.h"
#include "server/services/pricing.h"

namespace apura::server {

namespace {

void RequireTallyNumber(const std::string& tally) {
  if (tally.empty()) throw ServerError("Número da apuração não informado.");
}

TallyHeader RequireTally(IStorageSession& s, const std::string& centre, const std::string& tally) {
  RequireTallyNumber(tally);
  auto h = s.Tally(tally);
  if (!h) throw ServerError(ErrorCode::NotFound, "Apuração " + tally + " não encontrada.");
  if (h->centre != centre) {
    throw ServerError(ErrorCode::Forbidden,
                      "Apuração " + tally + " não pertence ao centro de compras " + centre + ".");
  }
  return *h;
}

std::string FormatMoney(double v) {
  return FormatFloat("#,##0.00000", v);
}

// Key of a stored delivery row as the change packet names it.
std::string DeliveryKey(std::string_view product, std::string_view region, std::string_view branch,
                        double date, std::string_view collection, std::string_view supplier,
                        std::string_view brand) {
  std::string k;
  k.reserve(64);
  for (std::string_view part : {product, region, branch}) {
    k.append(part);
    k += '\x1f';
  }
  char bits[sizeof(double)];
  std::memcpy(bits, &date, sizeof bits);
  k.append(bits, sizeof bits);
  for (std::string_view part : {collection, supplier, brand}) {
    k += '\x1f';
    k.append(part);
  }
  return k;
}

// What the buyer decides on a delivery row: chosen, quantity, justification.
std::tuple<bool, double, std::string> RowState(const Item& it) {
  return {it.selected, it.QTACOMP, it.TXOBESCMANAP};
}

// The same, as a row of the change packet's originals says it was loaded; a
// field the originals do not carry is taken as stored.
std::tuple<bool, double, std::string> RowState(const DataPacket& o, size_t row,
                                               const Item& stored) {
  auto [sel, qt, just] = RowState(stored);
  const int cSel = o.FieldIndex("IDITMSELAPUR"), cQt = o.FieldIndex("QTACOMP"),
            cJust = o.FieldIndex("TXOBESCMANAP");
  auto text = [&](int c) {
    return c >= 0 && o.fields()[static_cast<size_t>(c)].type == FieldType::String &&
           !o.IsNull(static_cast<size_t>(c), row);
  };
  if (text(cSel)) sel = o.Text(static_cast<size_t>(cSel), row) == "S";
  if (cQt >= 0 && o.fields()[static_cast<size_t>(cQt)].type != FieldType::String &&
      !o.IsNull(static_cast<size_t>(cQt), row))
    qt = o.Number(static_cast<size_t>(cQt), row);
  if (text(cJust)) just = o.Text(static_cast<size_t>(cJust), row);
  return {sel, qt, just};
}

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

using RowIndex = std::unordered_map<std::string, size_t>;

// The delivery rows of a tally by the key a change packet names them with; built
// once for all the versions of a loaded tally, since no write changes a key.
const RowIndex& DeliveryRows(const TallyModel& m, std::shared_ptr<const RowIndex>& hold) {
  hold = m.stable->Get<RowIndex>(DerivedCache::RowIndex, [&] {
    RowIndex index;
    index.reserve(m.items.size());
    for (size_t i = 0; i < m.items.size(); ++i) {
      const QuoteLine& q = m.quotes[m.items[i].quote];
      const RequestLine& r = m.requests[m.items[i].request];
      index.emplace(DeliveryKey(q.CDPRODITMAP, q.CDREGITMAP, r.CDFILIAP, r.DTENTRAPUT,
                                q.NRCOLEITMAP, q.CDFORNITMAP, q.CDMARCITMAP),
                    i);
    }
    return index;
  });
  return *hold;
}

// Applies the worksheet's change packet of cdsDados to the items of the model:
// selection, quantity and justification of each changed delivery row, kept in
// `changed` by row (the model itself is shared with its readers). Returns the
// updates; refuses the whole packet when a row cannot be applied.
std::vector<ItemUpdate> ApplyChanges(const TallyModel& m, const DataPacket& p,
                                     std::map<size_t, Item>& changed) {
  auto need = [&](const char* name) {
    int i = p.FieldIndex(name);
    if (i < 0)
      throw ServerError(std::string("O pacote de alterações não tem o campo ") + name + ".");
    return static_cast<size_t>(i);
  };
  const size_t cProd = need("CDPRODITMAP"), cReg = need("CDREGITMAP"), cFil = need("CDFILIAP"),
               cDate = need("DTENTRAPUT"), cCol = need("NRCOLEITMAP"), cForn = need("CDFORNITMAP"),
               cMarc = need("CDMARCITMAP");
  const int cCent = p.FieldIndex("CDCENTITMAP"), cSeq = p.FieldIndex("NRSEQITMAP");
  const int cSel = p.FieldIndex("IDITMSELAPUR"), cQt = p.FieldIndex("QTACOMP"),
            cJust = p.FieldIndex("TXOBESCMANAP");
  // The packet comes off the wire: a text read from a number column (or the
  // reverse) would read past the column's buffers.
  auto typed = [&](int col, bool text) {
    if (col < 0) return;
    const FieldDef& f = p.fields()[static_cast<size_t>(col)];
    if ((f.type == FieldType::String) != text) {
      throw ServerError("O campo " + f.name + " do pacote de alterações deve ser " +
                        (text ? "um texto" : "um número ou uma data") + ", não " +
                        FieldTypeName(f.type) + ".");
    }
  };
  for (size_t col : {cProd, cReg, cFil, cCol, cForn, cMarc}) typed(static_cast<int>(col), true);
  for (int col : {cCent, cSeq, cSel, cJust}) typed(col, true);
  typed(static_cast<int>(cDate), false);
  typed(cQt, false);

  std::shared_ptr<const RowIndex> hold;
  const RowIndex& index = DeliveryRows(m, hold);
  // Rows of the originals, by the row of the packet they belong to.
  std::unordered_map<size_t, size_t> originalRow;
  const DataPacket* originals = p.originals();
  if (originals) {
    for (size_t k = 0; k < p.originalOf().size(); ++k) originalRow[p.originalOf()[k]] = k;
  }

  for (size_t r = 0; r < p.RowCount(); ++r) {
    const std::string where = "Linha " + std::to_string(r + 1) + " do pacote de alterações";
    RowStatus st = p.status().empty() ? RowStatus::Modified : p.status()[r];
    if (st == RowStatus::Inserted || st == RowStatus::Deleted) {
      throw ServerError(where + ": linhas de entrega não podem ser incluídas nem excluídas.");
    }
    if (st == RowStatus::Unmodified) continue;
    // Keys as they were loaded: from the originals when the row carries them.
    const DataPacket* kp = &p;
    size_t kr = r;
    size_t kc[7] = {cProd, cReg, cFil, cDate, cCol, cForn, cMarc};
    if (auto it = originalRow.find(r); it != originalRow.end()) {
      static const char* kNames[7] = {"CDPRODITMAP", "CDREGITMAP",  "CDFILIAP",   "DTENTRAPUT",
                                      "NRCOLEITMAP", "CDFORNITMAP", "CDMARCITMAP"};
      size_t oc[7];
      bool all = true;
      for (int k = 0; k < 7 && all; ++k) {
        int i = originals->FieldIndex(kNames[k]);
        all = i >= 0;
        if (all) oc[k] = static_cast<size_t>(i);
      }
      if (all) {
        kp = originals;
        kr = it->second;
        std::copy(oc, oc + 7, kc);
      }
    }
    if (cCent >= 0 && !p.IsNull(cCent, r) && p.Text(cCent, r) != m.header.centre) {
      throw ServerError(ErrorCode::Forbidden, where + " pertence ao centro de compras " +
                                                  std::string(p.Text(cCent, r)) + ".");
    }
    if (cSeq >= 0 && !p.IsNull(cSeq, r) && p.Text(cSeq, r) != m.header.number) {
      throw ServerError(ErrorCode::Forbidden,
                        where + " pertence à apuração " + std::string(p.Text(cSeq, r)) + ".");
    }
    std::string product(kp->Text(kc[0], kr)), region(kp->Text(kc[1], kr)),
        branch(kp->Text(kc[2], kr)), collection(kp->Text(kc[4], kr)), supplier(kp->Text(kc[5], kr)),
        brand(kp->Text(kc[6], kr));
    double date = kp->Number(kc[3], kr);
    auto found =
        index.find(DeliveryKey(product, region, branch, date, collection, supplier, brand));
    if (found == index.end()) {
      throw ServerError(ErrorCode::NotFound,
                        where + ": linha de entrega não encontrada (produto " + product +
                            ", região " + region + ", filial " + branch + ", entrega " +
                            DateTimeToText(DateTime{date}) + ", coleta " + collection +
                            ", fornecedor " + supplier + ", marca " + brand + ").");
    }
    const Item& stored = m.items[found->second];
    Item& it = changed.try_emplace(found->second, stored).first->second;
    if (cSel >= 0 && !p.IsNull(cSel, r)) {
      std::string_view sel = p.Text(cSel, r);
      if (sel != "S" && sel != "N") {
        throw ServerError(where + ": IDITMSELAPUR deve ser \"S\" ou \"N\", não \"" +
                          std::string(sel) + "\".");
      }
      it.selected = sel == "S";
    }
    if (cQt >= 0 && !p.IsNull(cQt, r)) {
      double q = p.Number(cQt, r);
      if (!std::isfinite(q) || q < 0 || q > kMaxQuantity) {
        throw ServerError(where + ": quantidade QTACOMP inválida (" + FloatToText(q) + ").");
      }
      it.QTACOMP = q;
    }
    if (cJust >= 0 && !p.IsNull(cJust, r)) {
      std::string_view just = p.Text(cJust, r);
      if (Utf8Length(just) > 2000) {
        throw ServerError(where + ": a justificativa passa de 2000 caracteres.");
      }
      it.TXOBESCMANAP = just;
    }
    // Another buyer may have changed the row since this worksheet loaded it:
    // what it was then must still be what is stored, unless the stored row
    // already holds this very change (a retried call).
    if (kp == originals) {
      if (RowState(*originals, kr, stored) != RowState(stored) &&
          RowState(it) != RowState(stored)) {
        throw ServerError(where +
                          ": a linha de entrega foi alterada por outro usuário depois de "
                          "carregada (produto " +
                          product + ", região " + region + ", filial " + branch + ", entrega " +
                          DateTimeToText(DateTime{date}) + ", coleta " + collection +
                          ", fornecedor " + supplier + ", marca " + brand +
                          "). Nada foi gravado; carregue a apuração novamente.");
      }
    }
  }
  std::vector<ItemUpdate> updates;
  for (auto& [i, it] : changed) {
    // A manual change carries no reason code of the server's tally.
    if (it.selected != m.items[i].selected) it.IDMOTIVPRESC.clear();
    updates.push_back({it.id, it.selected, it.QTACOMP, it.IDMOTIVPRESC, it.TXOBESCMANAP});
  }
  return updates;
}

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

// The model of the version a write commits: shares every list the write does
// not change.
std::shared_ptr<TallyModel> NextVersion(const TallyModel& m, Change what) {
  auto next = std::make_shared<TallyModel>(m);
  next->header.version = m.header.version + 1;
  if (what == Change::Choices) ++next->header.choiceVersion;
  return next;
}

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
  s->ClearSelections(tally);
  s->UpdateItems(choice.selected);
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

namespace {

// A write that, where the database locks rows, does its long part before it
// takes the tally's lock (`write` is told when to take it first), and is done
// again when another write got there first: `write` answers nothing, or the
// database reports a conflict. After a few turns the lock is taken first and
// the turn is sure; should it still not come, the caller hears `changed`.
template <class Write>
auto InTurns(const std::string& changed, Write write) {
  constexpr int kAttempts = 6, kUnlockedAttempts = 3;
  for (int attempt = 0;; ++attempt) {
    try {
      if (auto done = write(attempt >= kUnlockedAttempts)) return *std::move(done);
    } catch (const StorageConflict&) {
    }
    if (attempt + 1 >= kAttempts) throw ServerError(ErrorCode::Conflict, changed);
  }
}

}  // namespace

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

ValueArray TallyService::Gera_AF(const GeraAfRequest& rq) {
  const GeraAfTexts& tx_ = rq.texts;
  if (!rq.changes.IsNull() && rq.changes.kind() != Value::Kind::Packet) {
    throw ServerError("O pacote de alterações deve ser um pacote de dados ou nulo.");
  }
  auto s = storage_.OpenSession();
  // The plan is made on a snapshot, so the write lock is held only to store it.
  // It holds while nothing chosen or ordered changes: a price edit committed in
  // between comes after the effectuation, which orders at the prices it was
  // asked at. The snapshot's versions, not the model's, say what the plan holds
  // for: the kept model may be newer than the snapshot the AFs were read in.
  std::optional<EffectuationPlan> plan;
  TallyHeader planned;
  auto planOnSnapshot = [&] {
    Transaction read(*s, false);
    planned = RequireTally(*s, rq.centre, rq.tally);
    plan = PlanEffectuation(Cached(*s, planned), rq, s->OrderedAfs(rq.tally));
    read.Commit();
  };
  auto holds = [&](const TallyHeader& h) {
    return h.choiceVersion == planned.choiceVersion && h.effectuated == planned.effectuated;
  };

  // Where the database locks rows (several servers on one database), the AFs
  // are stored before the tally's lock is taken, so that price edits of the
  // tally go on meanwhile; a write that changed choices first, or another
  // server's effectuation of the same rows, has the whole done again.
  bool needPlan = true;
  return InTurns(
      "A apuração " + rq.tally + " mudou durante a efetivação; nada foi gravado. Tente de novo.",
      [&](bool lockFirst) -> std::optional<ValueArray> {
        if (needPlan && !lockFirst) {
          planOnSnapshot();
          needPlan = false;
        }
        Transaction tx(*s, true);
        TallyHeader now = lockFirst ? RequireTally(*s, rq.centre, rq.tally) : [&] {
          auto h = s->PeekTally(rq.tally);
          if (!h)
            throw ServerError(ErrorCode::NotFound, "Apuração " + rq.tally + " não encontrada.");
          return *h;
        }();
        if (!holds(now)) {
          // Without the tally's lock a load may see two writes' halves: the plan is
          // made again on a snapshot. Under the lock what it reads is one state.
          needPlan = true;
          if (!lockFirst) return std::nullopt;
          planned = now;
          plan = PlanEffectuation(Cached(*s, now), rq, s->OrderedAfs(rq.tally));
        }
        EffectuationPlan& p = *plan;
        const std::shared_ptr<const TallyModel> m = p.model;

        std::string earlierList;
        for (const std::string& n : p.earlierAfs)
          earlierList += (earlierList.empty() ? "" : ", ") + n;
        const std::string alreadyText =
            std::to_string(p.alreadyOrdered) +
            " linha(s) de entrega escolhida(s) já constam de AF(s) gerada(s) antes (" +
            earlierList + ") e não foram pedidas de novo.";

        std::shared_ptr<const TallyNames> names = Names(*m);
        auto inconsistentPacket = [&] {
          std::vector<std::pair<const AfRecord*, Limits>> refused;
          for (size_t k = 0; k < p.inconsistent.size(); ++k)
            refused.push_back({&p.inconsistent[k], p.inconsistentLimits[k]});
          return InconsistentPacket(refused, *names);
        };
        if (!p.nothingNew && p.kept.empty()) {
          // A refusal leaves nothing behind: neither AFs nor the applied changes.
          std::string text = p.overBudget ? tx_.budgetNone : tx_.inconsistentRefused;
          DataPacket incons = inconsistentPacket();
          return ValueArray{Value(incons), Value(text), Value(true), Value(""), Value(), Value("")};
        }

        // Whatever undoes the rest of this turn (a choice write committed before the
        // lock, a deadlock the database broke, a delivery row another server
        // ordered first) has the plan made again.
        needPlan = true;
        if (!p.nothingNew) {
          s->InsertAfs(p.kept);
          s->InsertAfs(p.inconsistent);
        }
        const TallyHeader h = lockFirst ? now : RequireTally(*s, rq.centre, rq.tally);
        if (!holds(h)) return std::nullopt;
        s->UpdateItems(p.updates);

        // Commits, and keeps the version committed: the planned model with the
        // changed rows, or when prices were edited in between, the model of the
        // edits with them; never a reload of the whole tally.
        auto commit = [&](bool effectuated) {
          if (effectuated) s->SetEffectuated(rq.tally, true, rq.processingDate.days);
          s->BumpVersion(rq.tally, Change::Choices);
          Publication pub(*this, rq.tally, h.version + 1);
          tx.Commit();
          std::shared_ptr<TallyModel> next;
          if (p.next->header.version == h.version + 1) {
            next = std::move(p.next);
          } else if (auto current = CachedAt(h)) {
            next = NextVersion(*current, Change::Choices);
            if (!p.changed.empty()) {
              std::vector<Item>& items = next->items.Edit();
              for (auto& [i, it] : p.changed) items[i] = it;
            }
          }
          if (!next) return Forget(rq.tally);
          if (effectuated) next->header.effectuated = true;
          pub.Keep(std::move(next));
        };

        if (p.nothingNew && p.alreadyOrdered > 0) {
          // A retry after a lost answer, or a second worksheet on the same choice:
          // everything chosen is on order already. The AFs that hold it are this
          // call's outcome, so a committed effectuation is never reported as lost.
          commit(false);
          std::vector<std::pair<const AfRecord*, Limits>> refused;
          for (const AfRecord& af : p.storedAfs)
            if (af.inconsistent && p.earlierAfs.count(af.number)) refused.push_back({&af, {}});
          // The supplier's minimums of a refused AF, as its quotation lines say now.
          std::unordered_map<int64_t, Limits*> limitsOf;
          for (auto& [af, lim] : refused)
            for (const AfLine& l : af->lines) limitsOf.emplace(l.item, &lim);
          for (size_t i = 0; i < m->items.size() && !limitsOf.empty(); ++i)
            if (auto r = limitsOf.find(m->items[i].id); r != limitsOf.end())
              r->second->Add(m->quotes[m->items[i].quote]);
          return ValueArray{Value(InconsistentPacket(refused, *names)),
                            Value(tx_.success),
                            Value(false),
                            Value(alreadyText),
                            Value(),
                            Value("")};
        }

        if (p.nothingNew) {
          // Nothing (left) to order: the changes stand, no AF, the tally unchanged.
          commit(false);
          ColumnBuilder empty(RelInconsFields(), 0);
          return ValueArray{
              Value(empty.Build()), Value(""), Value(false), Value(""), Value(), Value("")};
        }

        std::vector<std::string> warnings;
        if (p.overBudget) warnings.push_back(tx_.budgetPartial);
        if (p.alreadyOrdered > 0) warnings.push_back(alreadyText);
        // A price above the last one paid for the stock product deserves a look.
        std::set<int> warned;
        for (size_t i : p.keptRows) {
          const QuoteLine& q = m->quotes[p.item(i).quote];
          const ProductInfo& pr = m->products[q.product];
          double perStock = q.VRPRECUNIAP / (pr.VRFATOCONV > 0 ? pr.VRFATOCONV : 1);
          if (pr.stockLastPrice > 0 && perStock > pr.stockLastPrice &&
              warned.insert(q.product).second) {
            warnings.push_back(pr.NMPRODUTO + ": " + tx_.unitPrice + FormatMoney(perStock) +
                               tx_.priceUsed + FormatMoney(pr.stockLastPrice));
          }
        }
        std::string warning;
        for (const std::string& w : warnings) warning += (warning.empty() ? "" : "\r\n") + w;

        // AFs of web products are also written as files for the suppliers' portal; a
        // missing directory is fatal and the worksheet deletes the AFs again.
        std::string fatal;
        bool anyWeb =
            std::any_of(p.kept.begin(), p.kept.end(), [](const AfRecord& a) { return a.web; });
        std::error_code ec;
        if (anyWeb) {
          if (m->centre.afDirectory.empty()) {
            fatal = tx_.dirEmpty;
          } else if (!std::filesystem::is_directory(m->centre.afDirectory, ec)) {
            fatal = tx_.dirInvalid;
          }
        }

        commit(true);

        if (anyWeb && fatal.empty()) {
          for (const AfRecord& af : p.kept) {
            if (!af.web) continue;
            std::ofstream out(std::filesystem::path(m->centre.afDirectory) /
                              ("AF_" + af.number + ".txt"));
            out << "AF;" << af.number << ";" << af.destBranch << ";" << af.supplier << ";"
                << FloatToText(af.total) << "\r\n";
            for (const AfLine& l : af.lines) {
              out << "ITEM;" << l.product << ";" << l.brand << ";" << l.collection << ";"
                  << DateTimeToText(DateTime{l.date}) << ";" << FloatToText(l.quantity) << ";"
                  << FloatToText(l.unitPrice) << "\r\n";
            }
            if (!out) fatal = tx_.dirInvalid;
          }
        }
        return ValueArray{Value(inconsistentPacket()),
                          Value(tx_.success),
                          Value(false),
                          Value(warning),
                          Value(),
                          Value(fatal)};
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
