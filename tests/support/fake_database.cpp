#include "support/fake_database.h"

#include <gtest/gtest.h>

#include <cctype>

#include "framework/errors.h"

namespace apura::test {

std::string NormaliseSql(const std::string& sql) {
  std::string out;
  bool blank = false;
  for (char c : sql) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string ExecutedQuery::Param(const std::string& name) const {
  for (const auto& p : params)
    if (NormaliseSql(p.name) == NormaliseSql(name)) return p.value.ToText();
  ADD_FAILURE() << "Statement has no parameter " << name << ": " << sql;
  return {};
}

FakeDatabase& FakeDatabase::Answer(std::string sqlPart, DataPacket rows) {
  return Answer(std::move(sqlPart), [rows](const ExecutedQuery&) { return rows; });
}

FakeDatabase& FakeDatabase::Answer(std::string sqlPart, Handler handler) {
  scripts_.push_back({NormaliseSql(sqlPart), std::move(handler), {}});
  return *this;
}

FakeDatabase& FakeDatabase::Fail(std::string sqlPart, std::string error) {
  scripts_.push_back({NormaliseSql(sqlPart), nullptr, std::move(error)});
  return *this;
}

int FakeDatabase::Count(const std::string& sqlPart) const {
  std::string part = NormaliseSql(sqlPart);
  int n = 0;
  for (const auto& e : executed_) n += NormaliseSql(e.sql).find(part) != std::string::npos;
  return n;
}

DataPacket FakeDatabase::Execute(const std::string& sql, const std::vector<QueryParam>& params) {
  executed_.push_back({sql, params});
  std::string text = NormaliseSql(sql);
  for (auto it = scripts_.rbegin(); it != scripts_.rend(); ++it) {
    if (text.find(it->part) == std::string::npos) continue;
    if (!it->handler) throw EDatabaseError(it->error);
    return it->handler(executed_.back());
  }
  throw EDatabaseError("FakeDatabase: no answer scripted for: " + text);
}

}  // namespace apura::test
