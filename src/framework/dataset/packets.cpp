// Data packets in and out: loading a packet into the columns and building the whole content or
// the pending changes as one packet.

#include "framework/dataset/dataset.h"

#include <cmath>
#include <unordered_map>

#include "framework/dataset/dataset_internal.h"

namespace apura {

// ---------------------------------------------------------------------------
// Packets

void TClientDataSet::ClearRows() {
  ForgetKeyGroups();
  for (auto& c : columns_) c.ClearCells();
  rowCount_ = 0;
  rowState_.clear();
  originals_.clear();
  changeCount_ = 0;
  visible_.clear();
  order_.clear();
  orderValid_ = false;
  pos_ = 0;
  eof_ = bof_ = true;
}

void TClientDataSet::LoadPacket(DataPacket packet) {
  const auto& pf = packet.fields();
  std::vector<int> source;  // packet column of each table field
  std::vector<FieldDef> defs;
  if (persistent_) {
    for (auto& f : fields_) {
      int i = packet.FieldIndex(f->FieldName());
      if (i < 0) throw EDatabaseError(Name + ": Field '" + f->FieldName() + "' not found");
      FieldType want = f->DataType(), got = pf[i].type;
      if ((want == FieldType::String) != (got == FieldType::String))
        throw EDatabaseError(Name + ": Type mismatch for field '" + f->FieldName() +
                             "', expecting: " + FieldTypeName(want) +
                             " actual: " + FieldTypeName(got));
      if (want == FieldType::String && f->Size() > 0) {
        const ColumnData& c = packet.column(i);
        for (size_t k = 0; k < c.DictSize(); ++k)
          if (Utf8Length(c.DictEntry(static_cast<int32_t>(k))) > static_cast<size_t>(f->Size()))
            throw EDatabaseError(Name + ": value too long for field '" + f->FieldName() +
                                 "' (at most " + std::to_string(f->Size()) + " characters): '" +
                                 std::string(c.DictEntry(static_cast<int32_t>(k))) + "'");
      }
      source.push_back(i);
    }
  } else {
    for (size_t i = 0; i < pf.size(); ++i) source.push_back(static_cast<int>(i));
    defs = pf;
  }
  // Everything checked: from here on nothing fails, so a refused packet leaves
  // the table as it was.
  if (!persistent_) {
    fields_.clear();
    for (size_t i = 0; i < defs.size(); ++i)
      fields_.push_back(
          std::make_unique<TField>(*this, defs[i], static_cast<int>(i), Name + defs[i].name));
  }
  const size_t n = packet.RowCount();
  // The packet's columns move into the table when nobody else holds it.
  DataPacket::Body body = std::move(packet).ReleaseBody();
  std::vector<Column> cols(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    ColumnData& src = body.columns[source[i]];
    const bool text = fields_[i]->DataType() == FieldType::String;
    if (text) {
      src.numbers.clear();
      src.nullBits.clear();
    } else {
      src.dictBytes.clear();
      src.dictOffsets.assign(1, 0);
      src.codes.clear();
      src.nullBits.resize((n + 63) / 64, 0);
    }
    cols[i].Adopt(std::move(src), fields_[i]->FieldName(), text);
  }
  columns_ = std::move(cols);
  ForgetKeyGroups();
  rowCount_ = n;
  rowState_.assign(n, RowState::Unmodified);
  originals_.clear();
  changeCount_ = 0;
  const auto& status = body.status;
  if (!status.empty()) {
    for (size_t r = 0; r < n; ++r) {
      rowState_[r] = static_cast<RowState>(status[r]);
      if (status[r] != RowStatus::Unmodified) ++changeCount_;
    }
    if (const DataPacket* orig = body.originals.get()) {
      // Originals come with the same fields as the rows.
      for (size_t k = 0; k < orig->RowCount(); ++k) {
        std::vector<Cell> cells(fields_.size());
        for (size_t i = 0; i < fields_.size(); ++i) {
          Cell& cell = cells[i];
          int pc = source[i];
          cell.null = orig->IsNull(pc, k);
          if (fields_[i]->DataType() == FieldType::String) {
            cell.code = cell.null ? -1 : columns_[i].Intern(orig->Text(pc, k));
          } else {
            cell.number = orig->Number(pc, k);
          }
        }
        originals_[body.originalOf[k]] = std::move(cells);
      }
    }
  }
}

void TClientDataSet::SetData(const Value& packet) {
  if (packet.IsNull()) {
    SetData(DataPacket());
    return;
  }
  SetData(packet.AsPacket());
}

void TClientDataSet::SetData(Value&& packet) {
  if (packet.IsNull()) {
    SetData(DataPacket());
    return;
  }
  if (packet.kind() != Value::Kind::Packet) (void)packet.AsPacket();  // says what it is instead
  SetData(std::move(packet).TakePacket());
}

void TClientDataSet::SetData(const DataPacket& packet) {
  SetData(DataPacket(packet));
}

void TClientDataSet::SetData(DataPacket&& packet) {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    buffer_.clear();
    modified_ = false;
    state_ = TDataSetState::dsBrowse;
  }
  if (packet.empty() && persistent_) {
    // An empty value: keep the fields, no rows.
    Fire(BeforeOpen);
    ClearRows();
    for (auto& c : columns_) c.RebuildIntern();
    if (columns_.size() != fields_.size()) columns_ = std::vector<Column>(fields_.size());
  } else {
    LoadPacket(std::move(packet));  // throws before touching anything when the packet is refused
    Fire(BeforeOpen);
  }
  indexDefs_.clear();
  indexName_.clear();
  orderFields_.clear();
  order_.clear();
  orderValid_ = false;
  pos_ = 0;
  Rebuild();
  pos_ = 0;
  bof_ = true;
  eof_ = visible_.empty();
  SetState(TDataSetState::dsBrowse);
  DataChanged();
  Fire(AfterOpen);
  if (!visible_.empty()) Fire(AfterScroll);
}

DataPacket TClientDataSet::BuildPacket(bool deltaOnly) const {
  DataPacket::Body body;
  body.fields = FieldDefs();
  std::vector<uint32_t> rows;
  bool all = !deltaOnly;
  if (deltaOnly) {
    for (uint32_t r = 0; r < rowCount_; ++r)
      if (rowState_[r] == RowState::Modified || rowState_[r] == RowState::Inserted ||
          rowState_[r] == RowState::Deleted)
        rows.push_back(r);
  } else {
    for (uint32_t r = 0; r < rowCount_; ++r)
      if (rowState_[r] == RowState::Gone ||
          (changeCount_ == 0 && rowState_[r] == RowState::Deleted))
        all = false;
    if (!all)
      for (uint32_t r = 0; r < rowCount_; ++r)
        if (rowState_[r] != RowState::Gone &&
            !(changeCount_ == 0 && rowState_[r] == RowState::Deleted))
          rows.push_back(r);
  }
  const size_t n = all ? rowCount_ : rows.size();
  body.rowCount = n;
  body.columns.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    const ColumnData& src = *columns_[i].operator->();
    ColumnData& c = body.columns[i];
    if (fields_[i]->DataType() == FieldType::String) {
      c.dictBytes = src.dictBytes;
      c.dictOffsets = src.dictOffsets;
      if (all)
        c.codes = src.codes;
      else {
        c.codes.resize(n);
        for (size_t k = 0; k < n; ++k) c.codes[k] = src.codes[rows[k]];
      }
    } else {
      if (all) {
        c.numbers = src.numbers;
        c.nullBits = src.nullBits;
      } else {
        c.numbers.resize(n);
        c.nullBits.assign((n + 63) / 64, 0);
        for (size_t k = 0; k < n; ++k) {
          c.numbers[k] = src.numbers[rows[k]];
          if (src.NumberIsNull(rows[k])) c.nullBits[k >> 6] |= uint64_t{1} << (k & 63);
        }
      }
      bool anyNull = false;
      for (uint64_t w : c.nullBits) anyNull |= w != 0;
      if (!anyNull) c.nullBits.clear();
    }
  }
  if (changeCount_ > 0 || deltaOnly) {
    body.status.resize(n);
    DataPacket::Body orig;
    orig.fields = body.fields;
    orig.columns.resize(fields_.size());
    for (size_t i = 0; i < fields_.size(); ++i) {
      orig.columns[i].dictBytes = columns_[i]->dictBytes;
      orig.columns[i].dictOffsets = columns_[i]->dictOffsets;
    }
    for (size_t k = 0; k < n; ++k) {
      uint32_t r = all ? static_cast<uint32_t>(k) : rows[k];
      body.status[k] = static_cast<RowStatus>(rowState_[r]);
      auto it = originals_.find(r);
      if (it == originals_.end() || rowState_[r] == RowState::Inserted) continue;
      for (size_t i = 0; i < fields_.size(); ++i) {
        const Cell& cell = it->second[i];
        ColumnData& c = orig.columns[i];
        if (fields_[i]->DataType() == FieldType::String) {
          c.codes.push_back(cell.null ? -1 : cell.code);
        } else {
          size_t row = c.numbers.size();
          c.numbers.push_back(cell.null ? 0 : cell.number);
          c.nullBits.resize((row + 64) / 64, 0);
          if (cell.null) c.nullBits[row >> 6] |= uint64_t{1} << (row & 63);
        }
      }
      body.originalOf.push_back(static_cast<uint32_t>(k));
    }
    orig.rowCount = body.originalOf.size();
    for (size_t i = 0; i < fields_.size(); ++i) {
      ColumnData& c = orig.columns[i];
      if (fields_[i]->DataType() == FieldType::String) continue;
      bool anyNull = false;
      for (uint64_t w : c.nullBits) anyNull |= w != 0;
      if (!anyNull)
        c.nullBits.clear();
      else
        c.nullBits.resize((orig.rowCount + 63) / 64, 0);
    }
    if (orig.rowCount > 0)
      body.originals = std::make_shared<const DataPacket>(DataPacket::FromBody(std::move(orig)));
    else
      body.originalOf.clear();
  }
  return DataPacket::FromBody(std::move(body));
}

DataPacket TClientDataSet::RowsData(const std::vector<int64_t>& bookmarks) const {
  CheckActive();
  for (int64_t b : bookmarks)
    if (b < 0 || static_cast<size_t>(b) >= rowCount_)
      throw EDatabaseError(Name + ": no row " + std::to_string(b));
  DataPacket::Body body;
  body.fields = FieldDefs();
  const size_t n = bookmarks.size();
  body.rowCount = n;
  body.columns.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    const ColumnData& src = *columns_[i].operator->();
    ColumnData& c = body.columns[i];
    if (fields_[i]->DataType() == FieldType::String) {
      // Only the texts these rows use: a few rows of a large table should
      // not carry its whole dictionary.
      std::unordered_map<int32_t, int32_t> remap;
      c.codes.resize(n);
      for (size_t k = 0; k < n; ++k) {
        const int32_t code = src.codes[size_t(bookmarks[k])];
        if (code < 0) {
          c.codes[k] = -1;
          continue;
        }
        auto [it, added] = remap.emplace(code, static_cast<int32_t>(c.DictSize()));
        if (added) {
          c.dictBytes.append(src.DictEntry(code));
          c.dictOffsets.push_back(static_cast<uint32_t>(c.dictBytes.size()));
        }
        c.codes[k] = it->second;
      }
    } else {
      c.numbers.resize(n);
      bool anyNull = false;
      for (size_t k = 0; k < n; ++k) {
        const size_t r = size_t(bookmarks[k]);
        c.numbers[k] = src.numbers[r];
        if (src.NumberIsNull(r)) {
          if (!anyNull) c.nullBits.assign((n + 63) / 64, 0);
          anyNull = true;
          c.nullBits[k >> 6] |= uint64_t{1} << (k & 63);
        }
      }
    }
  }
  return DataPacket::FromBody(std::move(body));
}

DataPacket TClientDataSet::Data() const {
  CheckActive();
  return BuildPacket(false);
}

DataPacket TClientDataSet::Delta() const {
  CheckActive();
  return BuildPacket(true);
}

}  // namespace apura
