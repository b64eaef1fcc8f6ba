#pragma once
// A scripted local database: answers each statement from the packets scripted
// for it and records every statement run with its parameters.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/query.h"

namespace apura::test {

struct ExecutedQuery {
  std::string sql;
  std::vector<QueryParam> params;
  // The parameter's value as text; fails the test when it was not passed.
  std::string Param(const std::string& name) const;
};

class FakeDatabase : public IDatabaseConnection {
 public:
  using Handler = std::function<DataPacket(const ExecutedQuery&)>;

  // Statements whose text contains `sqlPart` (blanks and line breaks
  // compared as one blank, letter case ignored) answer these rows. The
  // latest script that matches wins.
  FakeDatabase& Answer(std::string sqlPart, DataPacket rows);
  FakeDatabase& Answer(std::string sqlPart, Handler handler);
  // Such statements fail with this text.
  FakeDatabase& Fail(std::string sqlPart, std::string error);
  // A statement no script covers fails, quoting it.

  const std::vector<ExecutedQuery>& Executed() const { return executed_; }
  int Count(const std::string& sqlPart) const;

  DataPacket Execute(const std::string& sql, const std::vector<QueryParam>& params) override;

 private:
  struct Script {
    std::string part;  // normalised
    Handler handler;
    std::string error;
  };
  std::vector<Script> scripts_;
  std::vector<ExecutedQuery> executed_;
};

// Installs a database as the process default for a scope.
class ScopedDatabase {
 public:
  explicit ScopedDatabase(std::shared_ptr<IDatabaseConnection> db) : previous_(DefaultDatabase()) {
    SetDefaultDatabase(std::move(db));
  }
  ~ScopedDatabase() { SetDefaultDatabase(previous_); }
  ScopedDatabase(const ScopedDatabase&) = delete;
  ScopedDatabase& operator=(const ScopedDatabase&) = delete;

 private:
  std::shared_ptr<IDatabaseConnection> previous_;
};

// Blanks and line breaks collapsed to one blank, trimmed, upper case.
std::string NormaliseSql(const std::string& sql);

}  // namespace apura::test
