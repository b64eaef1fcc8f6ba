#pragma once
// The in-memory table facility: TClientDataSet, its field objects and data links.
//
// Storage is columnar: text columns keep each distinct text once and a small
// integer code per row, so filters, look-ups and index builds compare integers.
// Rows are kept in arrival order (the natural order); an index or a filter is a
// list of row ids over that storage. Deleted rows stay as tombstones until the
// next packet load so the change log can hand them to the server.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "framework/errors.h"
#include "framework/packet.h"
#include "framework/value.h"

namespace apura {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TClientDataSet;
class TDataSource;
class FilterProgram;  // filter_expr.h

class TField {
 public:
  TField(TClientDataSet& owner, FieldDef def, int index, std::string componentName);

  const std::string& FieldName() const { return def_.name; }
  FieldType DataType() const { return def_.type; }
  int Size() const { return def_.size; }
  int Index() const { return index_; }
  const FieldDef& Def() const { return def_; }
  const std::string& Name() const { return name_; }  // component name, cdsTableFIELD
  TClientDataSet& DataSet() const { return *owner_; }

  // Display properties.
  const std::string& DisplayLabel() const { return label_.empty() ? def_.name : label_; }
  void SetDisplayLabel(std::string s) { label_ = std::move(s); }
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(std::string s) { displayFormat_ = std::move(s); }
  const std::string& EditFormat() const { return editFormat_; }
  void SetEditFormat(std::string s) { editFormat_ = std::move(s); }
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(std::string s) { editMask_ = std::move(s); }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultWidth(); }
  void SetDisplayWidth(int w) { displayWidth_ = w; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a) { alignment_ = a; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool r) { readOnly_ = r; }
  int Tag = 0;
  // (sender, text, displayText): replaces the text shown (displayText true) or
  // edited (false).
  std::function<void(TField&, std::string&, bool)> OnGetText;

  // Values of the row the field currently addresses (the edit buffer while the
  // table is edited or inserted, the row under test inside a record filter,
  // otherwise the cursor row; null when the table is empty).
  bool IsNull() const;
  std::string AsString() const;
  double AsFloat() const;
  int64_t AsInteger() const;
  bool AsBoolean() const;
  DateTime AsDateTime() const;
  Value AsValue() const;  // typed as the field; null when null
  // The text compares equal to the field's text, without building a string.
  bool TextEquals(std::string_view s) const;

  // Writes need the table in edit or insert state. A text longer than the
  // field's size is an error naming the field; a text that is not a number for
  // a number field is a conversion error naming the field.
  void SetAsString(std::string_view s);
  void SetAsFloat(double v);
  void SetAsInteger(int64_t v);
  void SetAsBoolean(bool v);
  void SetAsDateTime(DateTime v);
  void SetValue(const Value& v);
  void Clear();

  // The value the row had when the current edit began (the stored row); during
  // an insert, null.
  Value OldValue() const;
  std::string DisplayText() const;  // through OnGetText, display format, edit mask
  std::string Text() const;         // edit text: through OnGetText, edit format

 private:
  friend class TClientDataSet;
  int DefaultWidth() const;
  std::string FormatValue(bool display) const;

  TClientDataSet* owner_;
  FieldDef def_;
  int index_;
  std::string name_;
  std::string label_, displayFormat_, editFormat_, editMask_;
  bool visible_ = true;
  int displayWidth_ = 0;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool readOnly_ = false;
};

// What a view or a state-change handler listens to.
class TDataLink {
 public:
  virtual ~TDataLink() = default;
  virtual void DataSetChanged() {}  // rows, cursor or values changed
  virtual void StateChanged() {}    // the table's state changed
  // The data link is going away; the listener must forget it (it is already
  // detached, so no RemoveLink is needed).
  virtual void DataSourceDestroyed(TDataSource&) {}
};

class TDataSource {
 public:
  explicit TDataSource(std::string name = {}) : Name(std::move(name)) {}
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  std::string Name;
  int Tag = 0;
  TClientDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TClientDataSet* ds);
  TDataSetState State() const;

  std::function<void(TDataSource&)> OnStateChange;
  std::function<void(TDataSource&)> OnDataChange;

  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

 private:
  friend class TClientDataSet;
  void NotifyStateChanged();
  void NotifyDataChanged();
  TClientDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
};

struct IndexDef {
  std::string name;
  std::string fields;  // "F1;F2"
  bool caseInsensitive = false;
  bool descending = false;
};

struct LocateOptions {
  bool caseInsensitive = false;
};

// Folds letters for case-insensitive comparison, accented Latin letters included.
std::string FoldCase(std::string_view s);
// Puts a value between single quotes for a filter expression, doubling any quote
// inside. Every filter text that splices a value goes through this.
std::string QuotedStr(std::string_view s);

class TClientDataSet {
 public:
  using Event = std::function<void(TClientDataSet&)>;

  explicit TClientDataSet(std::string name = {});
  ~TClientDataSet();
  TClientDataSet(const TClientDataSet&) = delete;
  TClientDataSet& operator=(const TClientDataSet&) = delete;

  std::string Name;
  int Tag = 0;

  // --- Field definitions ---------------------------------------------------
  // A persistent field: the table keeps it across loads, and every packet
  // loaded must carry a column of that name. componentName defaults to the
  // table name followed by the field name.
  TField& AddField(FieldDef def, std::string componentName = {});
  TField& AddStringField(std::string name, int size = 20);
  TField& AddFloatField(std::string name);
  TField& AddDateTimeField(std::string name);
  TField& AddIntegerField(std::string name);
  TField& AddBooleanField(std::string name);
  const std::vector<std::unique_ptr<TField>>& Fields() const { return fields_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  std::vector<FieldDef> FieldDefs() const;
  TField* FindField(std::string_view name) const;    // case-insensitive, null when absent
  TField& FieldByName(std::string_view name) const;  // EDatabaseError naming it when absent
  TField* FindComponent(std::string_view componentName) const;

  // --- Opening and packets -------------------------------------------------
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  TDataSetState State() const { return state_; }
  void CreateDataSet();  // opens empty, from the fields defined
  void EmptyDataSet();   // removes every row and the change log
  void Close();
  // Data := packet. Replaces rows (and, for a table without persistent fields,
  // the fields), drops the indexes added before, opens the table and moves to
  // the first visible row (after-scroll when not empty).
  void SetData(const DataPacket& packet);
  void SetData(const Value& packet);  // a null value empties the table
  // The same, taking the packet's columns over instead of copying them when
  // nobody else holds the packet.
  void SetData(DataPacket&& packet);
  void SetData(Value&& packet);
  // Every row whatever the filter, with the unapplied changes and their log.
  DataPacket Data() const;
  int ChangeCount() const { return changeCount_; }
  // The change packet: one row per changed row with its status; originals of
  // modified rows alongside.
  DataPacket Delta() const;
  void MergeChangeLog();
  void CancelUpdates();

  // --- Cursor --------------------------------------------------------------
  void First();
  void Last();
  void Next();
  void Prior();
  bool Eof() const;
  bool Bof() const;
  int RecordCount() const;  // visible rows
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecNo() const;  // 1-based position among visible rows; 0 when empty
  void SetRecNo(int recNo);
  // A bookmark is the row's id in storage; it survives filters and indexes.
  int64_t Bookmark() const;
  bool GotoBookmark(int64_t bookmark);  // false (cursor kept) when not visible
  bool Locate(std::string_view fieldNames, const std::vector<Value>& values,
              LocateOptions options = {});
  bool Locate(std::string_view fieldName, const Value& value, LocateOptions options = {}) {
    return Locate(fieldName, std::vector<Value>{value}, options);
  }

  // --- Editing -------------------------------------------------------------
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  bool Modified() const { return modified_; }

  // --- Filters -------------------------------------------------------------
  const std::string& Filter() const { return filterText_; }
  // A malformed expression is an EDatabaseError quoting it and saying where it
  // broke; the filter in force is then kept.
  void SetFilter(std::string expression);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool on);
  bool FilterCaseInsensitive = false;
  std::function<void(TClientDataSet&, bool&)> OnFilterRecord;
  // For a record filter that only accepts rows whose text fields `fields`
  // ("F1;F2") hold the texts `key` answers (a master's current values): the
  // filter then asks OnFilterRecord about those rows alone instead of every
  // row of the table. `key` answering false asks about every row. The handler
  // still decides; the key only spares it rows it would refuse.
  void SetFilterKey(std::string fields, std::function<bool(std::vector<std::string>& key)> key);

  // --- Rows by key ---------------------------------------------------------
  // The live rows, as bookmarks in storage order, whose text fields `fields`
  // ("F1;F2") hold exactly `texts` (a null cell reads as ""), whatever the
  // filter. The rows stay grouped by those fields until the table loads or one
  // of them is written, so a repeated look-up costs the group, not the table.
  std::vector<int64_t> RowsWithKey(std::string_view fields,
                                   const std::vector<std::string>& texts) const;
  // The current values of the given rows (bookmarks), in that order, as a
  // packet without change log: what Data() would give of those rows alone.
  DataPacket RowsData(const std::vector<int64_t>& bookmarks) const;

  // --- Indexes -------------------------------------------------------------
  void AddIndex(std::string name, std::string fields, bool caseInsensitive = false,
                bool descending = false);
  void DeleteIndex(std::string_view name);
  const std::vector<IndexDef>& IndexDefs() const { return indexDefs_; }
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(std::string name);  // "" = natural order; keeps the current row

  // --- Controls ------------------------------------------------------------
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // --- Events --------------------------------------------------------------
  Event BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  Event BeforeInsert, AfterInsert, OnNewRecord;
  Event BeforeEdit, AfterEdit;
  Event BeforePost, AfterPost;
  Event BeforeCancel, AfterCancel;
  Event BeforeDelete, AfterDelete;
  Event BeforeScroll, AfterScroll;

  // --- For views -----------------------------------------------------------
  // Reads field `field` of visible row `pos` (0-based) without moving the
  // cursor or raising events; OnGetText handlers see that row.
  std::string CellDisplayText(int pos, int field) const;
  // Makes every field of the table read visible row `pos` (0-based) until the
  // peek ends, without moving the cursor or raising events: for painting a
  // row through handlers that read fields. The row being edited reads its
  // edit buffer as usual. Peeks nest; writes are refused while one is active.
  class RowPeek {
   public:
    RowPeek(const TClientDataSet& table, int pos);
    // The row of a bookmark, visible or not; invalid for a row that is gone.
    struct AtBookmark {
      int64_t bookmark;
    };
    RowPeek(const TClientDataSet& table, AtBookmark at);
    ~RowPeek();
    RowPeek(const RowPeek&) = delete;
    RowPeek& operator=(const RowPeek&) = delete;
    bool valid() const { return valid_; }  // false when pos is no visible row

   private:
    const TClientDataSet& table_;
    int64_t saved_;
    bool valid_ = false;
  };
  Value CellValue(int pos, int field) const;
  int CursorPos() const { return visible_.empty() ? -1 : static_cast<int>(pos_); }
  size_t StorageRows() const { return rowCount_; }
  // Bytes the table holds; cells it shares with other tables count for its
  // share of them.
  size_t MemoryBytes() const;

 private:
  friend class TField;
  friend class TDataSource;
  friend class FilterProgram;
  friend class IndexOrder;

  // One column: its cells and the index of its dictionary. The cells may be
  // shared with another table of this thread that loaded an equal column (the
  // worksheet's two delivery tables list the same half-million rows); the
  // first write makes them the table's own.
  struct Column {
    struct Hash {
      const Column* c;
      size_t operator()(int32_t code) const;
    };
    struct Eq {
      const Column* c;
      bool operator()(int32_t a, int32_t b) const;
    };
    Column();
    Column(Column&&) noexcept;
    Column& operator=(Column&&) noexcept;
    const ColumnData* operator->() const { return data_.get(); }
    // The cells for writing, copied first when another table shares them.
    ColumnData& Mut();
    // Takes over loaded cells, kept once with an equal column of field `name`
    // another table of this thread holds; rebuilds the dictionary's index.
    void Adopt(ColumnData cells, const std::string& name, bool text);
    // No rows, the dictionary kept.
    void ClearCells();
    size_t DictSize() const { return data_->DictSize(); }
    std::string_view DictEntry(int32_t code) const { return data_->DictEntry(code); }
    bool NumberIsNull(size_t row) const { return data_->NumberIsNull(row); }
    size_t Sharers() const { return static_cast<size_t>(data_.use_count()); }
    std::unordered_set<int32_t, Hash, Eq> intern;
    mutable std::string_view probe;
    std::string_view Entry(int32_t code) const { return code == -2 ? probe : DictEntry(code); }
    int32_t Find(std::string_view s) const;  // -1 when not in the dictionary
    int32_t Intern(std::string_view s);
    void RebuildIntern();
    // Makes equal texts one code again when a packet brought a dictionary that
    // repeats texts; needs the intern set built.
    void MergeRepeatedTexts();

   private:
    std::shared_ptr<ColumnData> data_;
  };
  // One cell of the edit buffer or of a saved original row.
  struct Cell {
    int32_t code = -1;  // text columns; -1 null
    bool null = true;   // other columns
    double number = 0;
  };
  enum class RowState : uint8_t { Unmodified, Modified, Inserted, Deleted, Gone };

  // Row the fields address now; -1 none (empty), -2 the edit buffer.
  int64_t FieldRow() const;
  bool CellIsNull(int field, int64_t row) const;
  std::string_view CellText(int field, int64_t row) const;
  double CellNumber(int field, int64_t row) const;
  Cell ReadCell(int field, uint32_t row) const;
  void WriteCell(int field, uint32_t row, const Cell& c);
  Cell& BufferCell(int field);
  void CheckActive() const;
  void CheckEditing(const TField& f) const;

  void SetState(TDataSetState s);
  void DataChanged();
  void StateChanged();
  void Fire(const Event& e) {
    if (e) e(*this);
  }
  void Rebuild();  // recompute the visible list from order, filter and callback
  void RebuildAndFirst();
  bool Accepts(uint32_t row);
  void EnsureOrder();
  bool RowLess(uint32_t a, uint32_t b) const;
  void LoadPacket(DataPacket packet);
  DataPacket BuildPacket(bool deltaOnly) const;
  void ClearRows();
  void MarkChanged(uint32_t row);
  void DoScrollTo(size_t pos);
  void CompileFilter();
  // Rows grouped by the codes of some text fields (RowsWithKey, SetFilterKey).
  struct KeyGroups;
  KeyGroups& GroupsFor(std::string_view fields) const;
  std::span<const uint32_t> GroupOf(const KeyGroups& g,
                                    const std::vector<std::string>& texts) const;
  void ForgetKeyGroups(int field = -1);

  std::vector<std::unique_ptr<TField>> fields_;
  bool persistent_ = false;
  std::vector<Column> columns_;
  size_t rowCount_ = 0;
  std::vector<RowState> rowState_;
  std::unordered_map<uint32_t, std::vector<Cell>> originals_;
  int changeCount_ = 0;

  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<uint32_t> visible_;
  size_t pos_ = 0;
  bool eof_ = true, bof_ = true;
  std::vector<Cell> buffer_;
  bool modified_ = false;
  mutable int64_t overrideRow_ = -1;  // row under test in a filter, or a view's peek

  std::string filterText_;
  bool filtered_ = false;
  std::unique_ptr<FilterProgram> filterProgram_;
  std::string filterKeyFields_;
  std::function<bool(std::vector<std::string>&)> filterKey_;
  mutable std::vector<std::unique_ptr<KeyGroups>> keyGroups_;

  std::vector<IndexDef> indexDefs_;
  std::string indexName_;
  std::vector<int> orderFields_;
  bool orderCaseInsensitive_ = false, orderDescending_ = false;
  std::vector<uint32_t> order_;  // active index order of live rows
  bool orderValid_ = false;

  int disableCount_ = 0;
  bool pendingData_ = false, pendingState_ = false;
  std::vector<TDataSource*> sources_;
};

}  // namespace apura
