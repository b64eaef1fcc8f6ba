#pragma once
// The business of the reference application server: what the two server objects'
// methods do, over a storage. Failures throw ServerError with the text the
// worksheet shows; the server objects turn them into failure envelopes.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "framework/packet.h"
#include "server/errors.h"
#include "server/model.h"
#include "server/services/pricing.h"
#include "server/storage/storage.h"

namespace apura::server {

// Bounds on the numbers a caller sends: a unit price (AtuaPrecEco) and a
// quantity to order (QTACOMP in Gera_AF's changes). Beyond them a total would
// lose every cent to rounding, or overflow to infinity.
inline constexpr double kMaxUnitPrice = 1e9;
inline constexpr double kMaxQuantity = 1e9;

// A unit price a caller sends, stored or only simulated: finite, above zero,
// at most kMaxUnitPrice.
void CheckUnitPrice(double unitPrice);

// Catalogue texts Gera_AF receives (arguments 8 to 16) to build its outcome.
struct GeraAfTexts {
  std::string dirEmpty, dirInvalid, budgetPartial, success, budgetNone, inconsistentRefused,
      unitPrice, priceUsed, notExtraSupplier;
};

struct GeraAfRequest {
  Value changes;  // change packet of the delivery rows, or null
  std::string buyer;
  DateTime processingDate;
  std::string centre, tally, branch, blockAf;
  GeraAfTexts texts;
};

class TallyService {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // A loaded tally nobody has asked for in `idle` is let go, and its memory
  // given back, at the next call that comes.
  explicit TallyService(IStorage& storage, std::chrono::seconds idle = std::chrono::minutes(15),
                        Clock clock = {});

  DataPacket GetParamCmp(const std::string& centre, const std::string& system);
  DataPacket GetProduto(const std::string& centre, const std::string& tally);
  DataPacket GetRegiao(const std::string& centre, const std::string& tally);
  DataPacket GetProdItem(const std::string& centre, const std::string& tally);
  DataPacket GetApurNeg(const std::string& centre, const std::string& tally);
  DataPacket GetPai_ItmApurPrec(const std::string& centre, const std::string& tally);
  DataPacket GetItmApurPrec(const std::string& centre, const std::string& tally);
  DataPacket GetDados(const std::string& centre, const std::string& tally);
  // The rows of both delivery packets with the columns of both.
  DataPacket GetDados_ItmApurPrec(const std::string& centre, const std::string& tally);

  void DelApuracao(const std::string& centre, const std::string& tally);
  void MelhorCotacao(const std::string& centre, const std::string& tally, const std::string& system,
                     const std::string& kind);
  ValueArray AtuaPrecEco(const std::string& centre, const std::string& product,
                         const std::string& collection, const std::string& supplier,
                         const std::string& brand, const std::string& region, double unitPrice,
                         const std::string& tally);
  void Atualiza_PrecoEco(const std::string& centre, const std::string& product,
                         const std::string& collection, const std::string& supplier,
                         const std::string& brand, const std::string& region,
                         const std::string& tally);
  DataPacket GetVd_EfetivaAF(const std::string& buyer, const std::string& branch,
                             const std::string& centre, const std::string& tally,
                             const std::string& op);
  ValueArray Gera_AF(const GeraAfRequest& request);
  void ExcluiAF(const std::string& branch, const std::string& tally);

  // Validates and stores a tally; the tally number must be new.
  void Import(const TallyDocument& doc);
  bool TallyExists(const std::string& number);
  // A tally's header (centre, buyer); nullopt when there is no such tally.
  std::optional<TallyHeader> Header(const std::string& tally);

  // The loaded tally the read methods answer from; reloaded when the stored
  // tally changed since.
  std::shared_ptr<const TallyModel> Model(const std::string& centre, const std::string& tally);

  // Every AF stored for the tally, with its lines, as last committed.
  std::vector<AfRecord> Afs(const std::string& tally);
  // Lets go of the tallies idle too long; for a server that may get no call.
  void ReleaseIdle();

  // The tallies loaded in memory, and what the delivery and price-item
  // packets built for them take (ColumnBytes): what the server's memory is
  // weighed against.
  struct Held {
    size_t tallies = 0;
    size_t packetBytes = 0;
  };
  Held HeldTallies();

 private:
  class Effectuation;
  std::shared_ptr<const TallyModel> Cached(IStorageSession& s, const TallyHeader& h);
  void Forget(const std::string& tally);
  // The version of a tally a write is about to commit, announced before its
  // commit: a caller that finds that version in storage waits for the write's
  // model instead of loading the whole tally again. Withdrawn unless kept.
  class Publication {
   public:
    Publication(TallyService& service, std::string tally, int64_t version);
    ~Publication();
    Publication(const Publication&) = delete;
    Publication& operator=(const Publication&) = delete;
    void Keep(std::shared_ptr<const TallyModel> model);

   private:
    TallyService& service_;
    std::pair<std::string, int64_t> key_;
  };
  // The cached model of exactly that version, or null.
  std::shared_ptr<const TallyModel> CachedAt(const TallyHeader& h);
  static std::shared_ptr<const TallyModel> WithPrices(const std::shared_ptr<const TallyModel>& m,
                                                      int quote, double unitPrice,
                                                      const EconomicPrices& e);
  int FindQuote(const TallyModel& m, const std::string& product, const std::string& collection,
                const std::string& supplier, const std::string& brand,
                const std::string& region) const;

  // Under mutex_: notes the tally as used now and lets go of those idle too long.
  void Touch(const std::string& tally, std::vector<std::shared_ptr<const TallyModel>>& dropped);

  IStorage& storage_;
  std::chrono::seconds idle_;
  Clock clock_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const TallyModel>> cache_;
  std::map<std::string, std::chrono::steady_clock::time_point> used_;
  // Tally versions being loaded; callers wanting one of them wait on loaded_.
  std::set<std::pair<std::string, int64_t>> loading_;
  std::condition_variable loaded_;
};

// Checks a tally document, naming the first offending entry.
void ValidateDocument(const TallyDocument& doc);

}  // namespace apura::server
