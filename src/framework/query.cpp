#include "framework/query.h"
#include "framework/names.h"

#include <cctype>

#include "framework/errors.h"

namespace apura {

namespace {
std::shared_ptr<IDatabaseConnection>& DatabaseSlot() {
  static std::shared_ptr<IDatabaseConnection> db;
  return db;
}

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The ":NAME" marks of a statement, in order of first appearance; quoted
// text, "::" casts and comments are skipped.
std::vector<std::string> ParamNames(const std::string& sql) {
  std::vector<std::string> names;
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      while (j < sql.size()) {
        if (sql[j] == c) {
          if (j + 1 < sql.size() && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      i = j + 1;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {
      i += 2;
    } else if (c == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      size_t j = i + 1;
      while (j < sql.size() && IsNameChar(sql[j])) ++j;
      std::string name = sql.substr(i + 1, j - i - 1);
      bool seen = false;
      for (const auto& n : names) seen = seen || SameName(n, name);
      if (!seen) names.push_back(std::move(name));
      i = j;
    } else {
      ++i;
    }
  }
  return names;
}
}  // namespace

void SetDefaultDatabase(std::shared_ptr<IDatabaseConnection> db) {
  DatabaseSlot() = std::move(db);
}
const std::shared_ptr<IDatabaseConnection>& DefaultDatabase() {
  return DatabaseSlot();
}

void TParam::SetAsString(std::string_view s) {
  p_->type = FieldType::String;
  p_->value = Value(s);
}
void TParam::SetAsInteger(int64_t v) {
  p_->type = FieldType::Integer;
  p_->value = Value(v);
}
void TParam::SetAsFloat(double v) {
  p_->type = FieldType::Float;
  p_->value = Value(v);
}
void TParam::SetAsDateTime(DateTime v) {
  p_->type = FieldType::DateTime;
  p_->value = Value(v);
}
void TParam::SetValue(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Boolean:
      p_->type = FieldType::Boolean;
      break;
    case Value::Kind::Integer:
      p_->type = FieldType::Integer;
      break;
    case Value::Kind::Float:
      p_->type = FieldType::Float;
      break;
    case Value::Kind::Date:
      p_->type = FieldType::DateTime;
      break;
    case Value::Kind::Text:
      p_->type = FieldType::String;
      break;
    case Value::Kind::Null:
      break;
    case Value::Kind::Packet:
    case Value::Kind::Array:
      throw EDatabaseError("Parameter " + p_->name + " cannot take a " + KindName(v.kind()));
  }
  p_->value = v;
}
void TParam::Clear() {
  p_->value = Value();
}

TADOIBQuery::TADOIBQuery(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)), data_(Name) {}

TADOIBQuery::~TADOIBQuery() = default;

void TADOIBQuery::SetSQL(std::vector<std::string> lines) {
  Close();
  sql_ = std::move(lines);
  RebuildParams();
}

void TADOIBQuery::AddSQL(std::string line) {
  Close();
  sql_.push_back(std::move(line));
  RebuildParams();
}

std::string TADOIBQuery::SQLText() const {
  std::string text;
  for (size_t i = 0; i < sql_.size(); ++i) {
    if (i) text += '\n';
    text += sql_[i];
  }
  return text;
}

void TADOIBQuery::RebuildParams() {
  std::vector<QueryParam> next;
  for (std::string& name : ParamNames(SQLText())) {
    QueryParam p{std::move(name), FieldType::String, Value()};
    for (const QueryParam& old : params_)
      if (SameName(old.name, p.name)) {
        p.type = old.type;
        p.value = old.value;
      }
    next.push_back(std::move(p));
  }
  params_ = std::move(next);
}

TParam TADOIBQuery::ParamByName(std::string_view name) {
  for (QueryParam& p : params_)
    if (SameName(p.name, name)) return TParam(p);
  throw EDatabaseError("Query " + (Name.empty() ? std::string("(unnamed)") : Name) +
                       " has no parameter '" + std::string(name) + "'");
}

void TADOIBQuery::Open() {
  if (Active()) return;
  const std::string label = Name.empty() ? std::string("(unnamed)") : Name;
  std::shared_ptr<IDatabaseConnection> db = db_ ? db_ : DefaultDatabase();
  if (!db) throw EDatabaseError("Query " + label + ": no database connection");
  if (sql_.empty()) throw EDatabaseError("Query " + label + ": no SQL text");
  try {
    DataPacket rows = db->Execute(SQLText(), params_);
    data_.SetData(rows);
  } catch (const EAbort&) {
    if (data_.Active()) data_.Close();
    throw;
  } catch (const std::exception& e) {
    if (data_.Active()) data_.Close();
    throw EDatabaseError("Query " + label + ": " + e.what());
  }
}

void TADOIBQuery::Close() {
  if (data_.Active()) data_.Close();
}

}  // namespace apura
