#pragma once
// The row mapping of every storage, written once: which statements read and
// write a tally, its AFs and an import, and how their rows become the model.
// A storage supplies only what its database really does differently: running
// a statement and reading its rows, writing many rows at once (prepared
// inserts or COPY), a batch update, the tally's row lock, and a few SQL
// fragments (SqlDialect). Statements are written with "?" placeholders; a
// storage whose database numbers them ($1) rewrites them once per statement.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/storage/storage.h"

namespace apura::server {

// A statement's parameter: null, a text, a number or an integer.
using SqlParam = std::variant<std::monostate, std::string_view, double, int64_t>;
using SqlParams = std::span<const SqlParam>;

// The rows a query answered, one at a time; columns by position.
class SqlRows {
 public:
  virtual ~SqlRows() = default;
  virtual bool Next() = 0;
  virtual std::string_view Text(int col) const = 0;
  virtual double Double(int col) const = 0;
  virtual int64_t Int(int col) const = 0;
  virtual bool IsNull(int col) const = 0;
  std::string Str(int col) const { return std::string(Text(col)); }
};

// Many rows into one table's columns, in order; nothing is certain to be
// written before Finish.
class SqlRowWriter {
 public:
  virtual ~SqlRowWriter() = default;
  virtual void Row(const std::vector<SqlParam>& values) = 0;
  virtual void Finish() = 0;
};

// SQL that differs between the databases, as fragments of statements.
struct SqlDialect {
  // After ORDER BY on a text: codes sort by their bytes on both.
  std::string_view byteOrder;
  // A table's rows in the order they were inserted.
  std::string_view insertionOrder;
  // Before a column in WHERE: keeps the planner off that column's index, so a
  // tally's delivery rows are read by their id range.
  std::string_view notIndexed;
  // Appended to a SELECT that takes the rows' write lock; empty where a write
  // transaction already holds the whole database.
  std::string_view lockRows;
  // The lowest and highest delivery row id of a tally (parameter: the tally),
  // each found without reading all of the tally's rows where the database can.
  std::string_view itemIdRange;
};

// What a report column holds, as each database tells it.
enum class ReportColumnKind { Text, Real, Integer };
// The packet of a report statement's rows; values are brought to their
// column's kind (a text column of numbers holds texts).
DataPacket ReportPacket(const std::vector<std::string>& names,
                        const std::vector<ReportColumnKind>& kinds,
                        std::vector<std::vector<Value>> rows);
// The value of the parameter a statement names (without its ":"), matched as
// names are, without regard to case; ReportQueryError when not given.
const std::string* ReportParam(const ReportParams& params, std::string_view name);

class SqlSession : public IStorageSession {
 public:
  explicit SqlSession(const SqlDialect& dialect) : dialect_(dialect) {}

  std::optional<CentreParams> Centre(const std::string& code) override;
  std::optional<TallyHeader> Tally(const std::string& number) override;
  std::optional<TallyHeader> PeekTally(const std::string& number) override;
  TallyModel LoadTally(const TallyHeader& header) override;

  void UpdateItems(const std::vector<ItemUpdate>& updates) override;
  void UpdateQuotePrices(int64_t quoteId, double unitPrice, double econ, double econPi) override;
  void SetEffectuated(const std::string& tally, bool effectuated, double date) override;
  void BumpVersion(const std::string& tally, Change what) override;

  void InsertAfs(std::vector<AfRecord>& afs) override;
  int DeleteAfs(const std::string& tally, const std::string& branch) override;
  std::vector<AfRecord> Afs(const std::string& tally) override { return ReadAfs(tally, true); }
  std::vector<AfRecord> OrderedAfs(const std::string& tally) override {
    return ReadAfs(tally, false);
  }
  bool HasAfs(const std::string& tally) override;

  void ImportTally(const TallyDocument& doc) override;

  std::optional<OperatorRow> FindOperator(const std::string& code) override;
  void SaveOperator(const OperatorRow& op) override;
  void SaveSession(const SessionRow& s, double now) override;
  std::optional<SessionRow> FindSession(const std::string& tokenHash) override;
  void DeleteSession(const std::string& tokenHash) override;
  size_t CountSessions(double now) override;

  std::optional<std::string> ReportDefinition(const std::string& code) override;
  void SaveReportDefinition(const std::string& code, const std::string& text,
                            bool replace) override;

 protected:
  virtual std::unique_ptr<SqlRows> Query(std::string_view sql, SqlParams params) = 0;
  std::unique_ptr<SqlRows> Query(std::string_view sql, std::initializer_list<SqlParam> params) {
    return Query(sql, SqlParams(params.begin(), params.size()));
  }
  // Runs a statement that answers no rows; the number of rows it changed.
  virtual int64_t Exec(std::string_view sql, SqlParams params) = 0;
  int64_t Exec(std::string_view sql, std::initializer_list<SqlParam> params) {
    return Exec(sql, SqlParams(params.begin(), params.size()));
  }
  virtual std::unique_ptr<SqlRowWriter> Writer(std::string_view table,
                                               const std::vector<std::string_view>& columns) = 0;
  // Whether Tally() takes the tally's row lock now (in a write, on a database
  // that locks rows).
  virtual bool LocksTallyRow() const { return false; }
  // After an import's rows are in.
  virtual void Imported() {}
  // Another connection of the same storage, not in a transaction, for reading
  // alongside this session's read transaction; null when this session is not
  // in one (what a writer changed is not seen by another connection).
  virtual std::unique_ptr<SqlSession> ReadSibling() { return nullptr; }

  const SqlDialect& dialect_;

 private:
  std::optional<TallyHeader> ReadTally(const std::string& number, bool lock);
  struct StoredItems;
  StoredItems ReadItems(const std::string& tally);
  std::optional<StoredItems> ReadItemsAside(const TallyHeader& header);
  // `n` AF numbers no other effectuation gets, ascending.
  virtual std::vector<int64_t> TakeAfNumbers(int64_t n);
  void StoreAfs(const std::vector<const AfRecord*>& afs);
  std::vector<AfRecord> ReadAfs(const std::string& tally, bool whole);
  // Inserts the row, or replaces every other column of the row with its key.
  void Upsert(std::string_view table, const std::vector<SqlParam>& values);
  std::vector<int64_t> IdsOf(std::string_view table, const std::string& tally);
};

}  // namespace apura::server
