// Rows grouped by key: a detail's rows of one master row found without going
// through the whole table, for look-ups and for record filters that name their
// key.

#include <algorithm>

#include "framework/dataset/dataset.h"
#include "framework/dataset/dataset_internal.h"
#include "framework/names.h"

namespace apura {

namespace {

void AppendCode(std::string& key, int32_t code) {
  key.append(reinterpret_cast<const char*>(&code), sizeof code);
}

}  // namespace

TClientDataSet::KeyGroups& TClientDataSet::GroupsFor(std::string_view fields) const {
  KeyGroups* g = nullptr;
  for (auto& k : keyGroups_)
    if (SameName(k->fieldsText, fields)) g = k.get();
  if (!g) {
    auto names = SplitFields(fields);
    if (names.empty()) throw EDatabaseError(Name + ": a key needs at least one field");
    auto made = std::make_unique<KeyGroups>();
    made->fieldsText = std::string(fields);
    for (const auto& n : names) {
      const TField& f = FieldByName(n);
      if (f.DataType() != FieldType::String)
        throw EDatabaseError(Name + ": key field '" + f.FieldName() + "' is not a text field");
      made->fields.push_back(f.Index());
    }
    keyGroups_.push_back(std::move(made));
    g = keyGroups_.back().get();
  }
  if (g->valid) return *g;
  g->groups.clear();
  // "" and null compare equal through AsString, so they share a group.
  std::vector<int32_t> empty;
  for (int f : g->fields) empty.push_back(columns_[f].Find(""));
  std::string key;
  for (uint32_t r = 0; r < rowCount_; ++r) {
    if (rowState_[r] == RowState::Gone) continue;
    key.clear();
    for (size_t i = 0; i < g->fields.size(); ++i) {
      int32_t code = columns_[g->fields[i]]->codes[r];
      AppendCode(key, code == empty[i] ? -1 : code);
    }
    g->groups[key].push_back(r);
  }
  g->valid = true;
  return *g;
}

const std::vector<uint32_t>* TClientDataSet::GroupOf(const KeyGroups& g,
                                                     const std::vector<std::string>& texts) const {
  if (texts.size() != g.fields.size())
    throw EDatabaseError(Name + ": key '" + g.fieldsText + "' got " + std::to_string(texts.size()) +
                         " values");
  std::string key;
  for (size_t i = 0; i < g.fields.size(); ++i) {
    int32_t code = texts[i].empty() ? -1 : columns_[g.fields[i]].Find(texts[i]);
    // A text no row holds: no row has the key.
    if (code < 0 && !texts[i].empty()) return nullptr;
    AppendCode(key, code);
  }
  auto it = g.groups.find(key);
  return it == g.groups.end() ? nullptr : &it->second;
}

void TClientDataSet::ForgetKeyGroups(int field) {
  for (auto& g : keyGroups_)
    if (field < 0 || std::find(g->fields.begin(), g->fields.end(), field) != g->fields.end())
      g->valid = false;
}

std::vector<int64_t> TClientDataSet::RowsWithKey(std::string_view fields,
                                                 const std::vector<std::string>& texts) const {
  CheckActive();
  std::vector<int64_t> out;
  if (const auto* rows = GroupOf(GroupsFor(fields), texts))
    for (uint32_t r : *rows)
      if (rowState_[r] != RowState::Deleted && rowState_[r] != RowState::Gone) out.push_back(r);
  return out;
}

void TClientDataSet::SetFilterKey(std::string fields,
                                  std::function<bool(std::vector<std::string>&)> key) {
  // Resolved now, so a wrong field name fails here and not in a later filter.
  if (key && FieldCount() > 0)
    for (const auto& n : SplitFields(fields))
      if (FieldByName(n).DataType() != FieldType::String)
        throw EDatabaseError(Name + ": key field '" + n + "' is not a text field");
  filterKeyFields_ = std::move(fields);
  filterKey_ = std::move(key);
}

}  // namespace apura
