#pragma once
// What the tally service's files share and nobody else needs: the checks every
// method starts with, the next version's model, and how a write takes its turns.

#include <memory>
#include <optional>
#include <string>

#include "framework/format.h"
#include "server/errors.h"
#include "server/model.h"
#include "server/storage/storage.h"

namespace apura::server::detail {

inline void RequireTallyNumber(const std::string& tally) {
  if (tally.empty()) throw ServerError("Número da apuração não informado.");
}

inline TallyHeader RequireTally(IStorageSession& s, const std::string& centre,
                                const std::string& tally) {
  RequireTallyNumber(tally);
  auto h = s.Tally(tally);
  if (!h) throw ServerError(ErrorCode::NotFound, "Apuração " + tally + " não encontrada.");
  if (h->centre != centre) {
    throw ServerError(ErrorCode::Forbidden,
                      "Apuração " + tally + " não pertence ao centro de compras " + centre + ".");
  }
  return *h;
}

inline std::string FormatMoney(double v) {
  return FormatFloat("#,##0.00000", v);
}

// The model of the version a write commits: shares every list the write does
// not change.
inline std::shared_ptr<TallyModel> NextVersion(const TallyModel& m, Change what) {
  auto next = std::make_shared<TallyModel>(m);
  next->header.version = m.header.version + 1;
  if (what == Change::Choices) ++next->header.choiceVersion;
  return next;
}

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

}  // namespace apura::server::detail
