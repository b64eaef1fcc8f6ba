#pragma once
// A one-sheet .xlsx workbook written a row at a time, for exports of many rows.
// Texts go to a shared string table (a grid's texts repeat a lot: suppliers,
// brands, branches), so the sheet stays small and each distinct text is
// escaped once; the sheet is deflated at the fastest level while it is
// written. The header row is bold, frozen and filtered, and the sheet prints
// landscape, one page wide, with the header on every page.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace apura::desktop {

struct XlsxColumn {
  std::string title;  // UTF-8
  double width = 12;  // in characters of the default font
  // Of the column's numbers; empty or "General": as the spreadsheet likes.
  std::string numberFormat;
};

class XlsxSheet {
 public:
  // Rows of a sheet, the header row included.
  static constexpr int kMaxRows = 1048576;
  // Of a cell; longer texts are cut.
  static constexpr int kMaxTextUnits = 32767;

  // `dataRows` is the number of rows that follow the header (the dimension
  // and the filter cover them); `dateFormat` the format of dates without a
  // time of day. Nothing is usable unless ok().
  XlsxSheet(const std::string& fileName, std::vector<XlsxColumn> columns, int dataRows,
            const std::string& dateFormat);
  ~XlsxSheet();
  XlsxSheet(const XlsxSheet&) = delete;
  XlsxSheet& operator=(const XlsxSheet&) = delete;

  bool ok() const;
  // Distinct texts kept in the shared table; later new ones go in their cells.
  void LimitSharedTexts(size_t count) { maxSharedTexts_ = count; }

  void BeginRow();
  void Text(int column, std::string_view text);
  // Non-finite values have no place in a sheet and leave the cell empty.
  void Number(int column, double value);
  // Days since 30/12/1899; a fraction of a day is shown as the time.
  void Date(int column, double days);
  void EndRow();

  // Writes the rest of the workbook and closes the file; false when anything
  // failed on the way (the caller removes the file). Without Finish() the
  // destructor closes what was written, an unusable file.
  bool Finish();

 private:
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  void Cell(int column, const char* attributes);
  void Flush();
  bool Part(const char* name, std::string_view content);
  std::string Styles() const;
  std::string Workbook() const;
  std::string SheetHead() const;

  class Deflater;
  void* zip_ = nullptr;
  std::unique_ptr<Deflater> deflater_;
  bool failed_ = false;
  bool finished_ = false;
  std::vector<XlsxColumn> columns_;
  std::vector<std::string> letters_;
  std::vector<int> styles_;  // the cell style of each column's numbers
  std::vector<std::string> numberFormats_;
  std::string dateFormat_;
  int dataRows_ = 0;
  int row_ = 0;  // 1-based, the row being written
  char rowText_[12] = {};
  size_t rowTextSize_ = 0;
  int nextColumn_ = 0;  // the column a cell without a reference goes to
  std::string buffer_;
  std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>> strings_;
  uint64_t stringUses_ = 0;
  // Past this many distinct texts, so a sheet of unique texts does not hold
  // them all in memory until the end.
  size_t maxSharedTexts_ = size_t(1) << 20;
  const char* textAttributes_ = "";
};

}  // namespace apura::desktop
