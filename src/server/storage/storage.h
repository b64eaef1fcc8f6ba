#pragma once
// Storage behind the server's methods. A session is one connection; every
// business operation runs in one transaction of one session. SQLite is the
// embedded default (sqlite_storage.h); another database implements the same.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/packet.h"
#include "framework/transport.h"
#include "server/model.h"

namespace apura::server {

// What a write to a tally changed. Prices are only quotation lines' prices; an
// effectuation made before a price edit still holds after it, and is kept as
// if it had come first. Choices are what is chosen, ordered or effectuated.
enum class Change { Prices, Choices };

// A write another one took first, seen only at the database (two servers'
// effectuations ordering one delivery row); nothing of it is left, and the
// write is worked out again from what is stored now.
class StorageConflict : public CodedError {
 public:
  explicit StorageConflict(const std::string& text) : CodedError(ErrorCode::Conflict, text) {}
};

// An operator as stored: the password only as its hash, lists as "a,b".
struct OperatorRow {
  std::string code, name, passwordHash, centres, branches, authorisations;
};

// A login's session as stored, with the rights the operator had when it
// opened (changing the operator ends it), found by its token's hash: what
// the table holds cannot be replayed as a token.
struct SessionRow {
  std::string tokenHash, op, name, centres, branches, authorisations;
  double expires = 0;  // seconds since 1970
};

// A report query's parameters by name, as the caller's form filled them.
using ReportParams = std::vector<std::pair<std::string, std::string>>;

// A report statement refused or failed; the text says why, without the SQL.
class ReportQueryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IStorageSession {
 public:
  virtual ~IStorageSession() = default;

  // Writers take the write lock at once, so two writers never deadlock halfway.
  virtual void Begin(bool write) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  virtual std::optional<CentreParams> Centre(const std::string& code) = 0;
  // In a write, takes the tally's lock: writes to one tally take turns.
  virtual std::optional<TallyHeader> Tally(const std::string& number) = 0;
  // The tally as last committed, without taking its lock: a write can do its
  // long part first and take its turn only to check and finish.
  virtual std::optional<TallyHeader> PeekTally(const std::string& number) { return Tally(number); }
  virtual TallyModel LoadTally(const TallyHeader& header) = 0;

  virtual void UpdateItems(const std::vector<ItemUpdate>& updates) = 0;
  virtual void UpdateQuotePrices(int64_t quoteId, double unitPrice, double econ, double econPi) = 0;
  virtual void SetEffectuated(const std::string& tally, bool effectuated, double date) = 0;
  virtual void BumpVersion(const std::string& tally, Change what) = 0;

  // Numbers the AFs of one effectuation in order and stores them.
  virtual void InsertAfs(std::vector<AfRecord>& afs) = 0;
  // The AFs of the tally launched from the branch, with their items.
  virtual int DeleteAfs(const std::string& tally, const std::string& branch) = 0;
  virtual std::vector<AfRecord> Afs(const std::string& tally) = 0;
  // The same with each line's delivery row only: what is on order, for an
  // effectuation to plan with, without reading every line whole.
  virtual std::vector<AfRecord> OrderedAfs(const std::string& tally) = 0;
  // Whether any AF of the tally is stored, without reading them.
  virtual bool HasAfs(const std::string& tally) = 0;

  // Master data is merged (inserted or replaced); the tally must be new.
  virtual void ImportTally(const TallyDocument& doc) = 0;

  // Operators and their sessions, shared by every server on the database.
  virtual std::optional<OperatorRow> FindOperator(const std::string& code) = 0;
  // Adds or replaces the operator and ends every session they had open.
  virtual void SaveOperator(const OperatorRow& op) = 0;
  // Stores a new session and lets go of those expired by `now`.
  virtual void SaveSession(const SessionRow& s, double now) = 0;
  virtual std::optional<SessionRow> FindSession(const std::string& tokenHash) = 0;
  virtual void DeleteSession(const std::string& tokenHash) = 0;
  // Sessions not expired by `now`.
  virtual size_t CountSessions(double now) = 0;

  // Report definitions by code, as the text they were saved with.
  virtual std::optional<std::string> ReportDefinition(const std::string& code) = 0;
  // Adds the definition; with `replace`, also over one already stored.
  virtual void SaveReportDefinition(const std::string& code, const std::string& text,
                                    bool replace) = 0;
  // Runs one read-only statement a report definition holds, its parameters
  // named (:NAME) and bound by name, never spliced into the text. Columns are
  // typed by what the database says of them. Throws ReportQueryError saying
  // why a statement is refused or failed.
  virtual DataPacket RunReportQuery(const std::string& sql, const ReportParams& params) = 0;
};

class IStorage {
 public:
  virtual ~IStorage() = default;
  virtual std::unique_ptr<IStorageSession> OpenSession() = 0;
};

// Rolls back unless committed.
class Transaction {
 public:
  Transaction(IStorageSession& s, bool write) : s_(s) { s_.Begin(write); }
  ~Transaction() {
    if (!done_) {
      try {
        s_.Rollback();
      } catch (...) {
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit() {
    s_.Commit();
    done_ = true;
  }

 private:
  IStorageSession& s_;
  bool done_ = false;
};

}  // namespace apura::server
