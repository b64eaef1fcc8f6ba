#pragma once
// The local query component over the host's shared database connection.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/controls.h"
#include "framework/dataset/dataset.h"
#include "framework/packet.h"
#include "framework/value.h"

namespace apura {

struct QueryParam {
  std::string name;  // as written after ':' in the text
  FieldType type = FieldType::String;
  Value value;  // null when never set
};

// The host's database. The desktop implements it over its local database.
class IDatabaseConnection {
 public:
  virtual ~IDatabaseConnection() = default;
  // Runs the statement; parameters are written ":NAME" in the text. Answers
  // the rows; errors throw (EDatabaseError or std::runtime_error) saying why.
  virtual DataPacket Execute(const std::string& sql, const std::vector<QueryParam>& params) = 0;
};

// The process-wide connection queries use unless given their own.
void SetDefaultDatabase(std::shared_ptr<IDatabaseConnection> db);
const std::shared_ptr<IDatabaseConnection>& DefaultDatabase();

class TParam {
 public:
  explicit TParam(QueryParam& p) : p_(&p) {}
  const std::string& Name() const { return p_->name; }
  void SetAsString(std::string_view s);
  void SetAsInteger(int64_t v);
  void SetAsFloat(double v);
  void SetAsDateTime(DateTime v);
  void SetValue(const Value& v);
  void Clear();
  bool IsNull() const { return p_->value.IsNull(); }
  std::string AsString() const { return p_->value.ToText(); }
  const Value& AsValue() const { return p_->value; }

 private:
  QueryParam* p_;
};

class TADOIBQuery : public TComponent {
 public:
  explicit TADOIBQuery(TComponent* owner = nullptr, std::string name = {});
  ~TADOIBQuery() override;

  // The statement, line by line. Changing it closes the query and rebuilds
  // the parameters from the ":NAME" marks (outside quoted text); values of
  // parameters that keep their name are kept.
  const std::vector<std::string>& SQL() const { return sql_; }
  void SetSQL(std::vector<std::string> lines);
  void AddSQL(std::string line);
  std::string SQLText() const;  // lines joined by "\n"

  const std::vector<QueryParam>& Params() const { return params_; }
  // An error naming the parameter and the query when the text has none.
  TParam ParamByName(std::string_view name);

  void SetConnection(std::shared_ptr<IDatabaseConnection> db) { db_ = std::move(db); }

  // Persistent fields: every result must carry them (an error names a
  // missing one). Without any, the result's columns become the fields.
  TField& AddField(FieldDef def) { return data_.AddField(std::move(def)); }
  TField& AddStringField(std::string name, int size) {
    return data_.AddStringField(std::move(name), size);
  }

  // Runs the statement through the connection and holds its rows; nothing
  // when already open. A failure is an EDatabaseError naming the query and
  // saying why; the query stays closed.
  void Open();
  void Close();
  bool Active() const { return data_.Active(); }

  // The rows, through the table facility.
  TClientDataSet& DataSet() { return data_; }
  TField& FieldByName(std::string_view name) const { return data_.FieldByName(name); }
  TField* FindField(std::string_view name) const { return data_.FindField(name); }
  void First() { data_.First(); }
  void Next() { data_.Next(); }
  bool Eof() const { return data_.Eof(); }
  bool IsEmpty() const { return data_.IsEmpty(); }
  int RecordCount() const { return data_.RecordCount(); }

 private:
  void RebuildParams();
  std::vector<std::string> sql_;
  std::vector<QueryParam> params_;
  std::shared_ptr<IDatabaseConnection> db_;
  TClientDataSet data_;
};

}  // namespace apura
