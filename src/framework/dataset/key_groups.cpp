// Rows grouped by key: a detail's rows of one master row found without going
// through the whole table, for look-ups and for record filters that name their
// key.

#include <algorithm>
#include <cstdint>

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
  const size_t k = g->fields.size();
  g->emptyCode.assign(k, -1);
  g->dictSize.assign(k, 0);
  g->radix.assign(k, 0);
  g->packed.clear();
  g->bytes.clear();
  // Each field's code + 1 is a digit below its dictionary's size + 1.
  uint64_t weight = 1;
  bool fits = true;
  for (size_t i = 0; i < k; ++i) {
    const Column& c = columns_[g->fields[i]];
    g->emptyCode[i] = c.Find("");
    g->dictSize[i] = c.DictSize();
    g->radix[i] = weight;
    fits = fits && !__builtin_mul_overflow(weight, uint64_t(c.DictSize()) + 1, &weight);
  }
  if (!fits) g->radix.clear();
  // Two passes: each row's group and the groups' sizes, then the rows laid
  // out group after group.
  std::vector<uint32_t> groupOfRow(rowCount_, UINT32_MAX);
  std::vector<uint32_t> count;
  std::string bytes;
  for (uint32_t r = 0; r < rowCount_; ++r) {
    if (rowState_[r] == RowState::Gone) continue;
    uint64_t number = 0;
    bytes.clear();
    for (size_t i = 0; i < k; ++i) {
      int32_t code = columns_[g->fields[i]]->codes[r];
      if (code == g->emptyCode[i]) code = -1;
      if (fits)
        number += uint64_t(code + 1) * g->radix[i];
      else
        AppendCode(bytes, code);
    }
    const uint32_t next = static_cast<uint32_t>(count.size());
    const uint32_t group = fits ? g->packed.try_emplace(number, next).first->second
                                : g->bytes.try_emplace(bytes, next).first->second;
    if (group == next) count.push_back(0);
    ++count[group];
    groupOfRow[r] = group;
  }
  g->start.assign(count.size() + 1, 0);
  for (size_t i = 0; i < count.size(); ++i) g->start[i + 1] = g->start[i] + count[i];
  g->rows.resize(g->start.back());
  std::vector<uint32_t> fill(g->start.begin(), g->start.end() - 1);
  for (uint32_t r = 0; r < rowCount_; ++r)
    if (groupOfRow[r] != UINT32_MAX) g->rows[fill[groupOfRow[r]]++] = r;
  g->valid = true;
  return *g;
}

std::span<const uint32_t> TClientDataSet::GroupOf(const KeyGroups& g,
                                                  const std::vector<std::string>& texts) const {
  if (texts.size() != g.fields.size())
    throw EDatabaseError(Name + ": key '" + g.fieldsText + "' got " + std::to_string(texts.size()) +
                         " values");
  uint64_t number = 0;
  std::string bytes;
  for (size_t i = 0; i < g.fields.size(); ++i) {
    int32_t code = texts[i].empty() ? -1 : columns_[g.fields[i]].Find(texts[i]);
    // A text no row held when the rows were grouped: no row has the key (a
    // row written since would have had them grouped again).
    if (!texts[i].empty() && (code < 0 || size_t(code) >= g.dictSize[i])) return {};
    if (code == g.emptyCode[i]) code = -1;
    if (!g.radix.empty())
      number += uint64_t(code + 1) * g.radix[i];
    else
      AppendCode(bytes, code);
  }
  uint32_t group;
  if (!g.radix.empty()) {
    auto it = g.packed.find(number);
    if (it == g.packed.end()) return {};
    group = it->second;
  } else {
    auto it = g.bytes.find(bytes);
    if (it == g.bytes.end()) return {};
    group = it->second;
  }
  return std::span<const uint32_t>(g.rows.data() + g.start[group],
                                   g.start[group + 1] - g.start[group]);
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
  for (uint32_t r : GroupOf(GroupsFor(fields), texts))
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
