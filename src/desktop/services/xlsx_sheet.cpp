#include "desktop/services/xlsx_sheet.h"

#include <zip.h>

#include <QByteArrayView>
#include <QString>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace apura::desktop {

namespace {

constexpr const char* kSheetName = "Planilha1";
// Deflating is most of the cost of a large sheet; the fastest level still
// shrinks these repetitive rows about eight times.
constexpr int kSheetLevel = Z_BEST_SPEED;
constexpr size_t kChunk = 256 * 1024;
constexpr int kFirstNumberFormat = 164;  // below are the built-in ones
enum Style { kPlain, kHeader, kDay, kDayAndTime, kFirstNumberStyle };

zipFile Zip(void* z) {
  return static_cast<zipFile>(z);
}

std::string ColumnLetters(int index) {
  std::string s;
  for (int n = index + 1; n > 0; n = (n - 1) / 26) s.insert(s.begin(), char('A' + (n - 1) % 26));
  return s;
}

// Markup characters as entities; the control characters XML cannot hold in
// the spreadsheet's own _xHHHH_ notation; bytes that are not UTF-8 (a text
// from elsewhere) as U+FFFD, since one bad byte makes the whole part
// unreadable.
void AppendXml(std::string& out, std::string_view s, bool attribute) {
  if (!QByteArrayView(s.data(), qsizetype(s.size())).isValidUtf8()) {
    const QByteArray fixed = QString::fromUtf8(s.data(), qsizetype(s.size())).toUtf8();
    AppendXml(out, std::string_view(fixed.constData(), size_t(fixed.size())), attribute);
    return;
  }
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      case '\r':
        // A reader turns a bare one into a line feed.
        out += "&#13;";
        break;
      case '\t':
      case '\n':
        if (attribute)
          out += c == '\t' ? "&#9;" : "&#10;";
        else
          out += ch;
        break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "_x%04X_", unsigned(c));
          out += code;
        } else {
          out += ch;
        }
    }
  }
}

std::string Xml(std::string_view s) {
  std::string out;
  AppendXml(out, s, true);
  return out;
}

// The text as a cell holds it: at most kMaxTextUnits UTF-16 units, cut
// between characters.
std::string_view Clip(std::string_view s) {
  if (s.size() <= size_t(XlsxSheet::kMaxTextUnits)) return s;  // bytes >= units
  size_t units = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;
    const size_t add = c >= 0xF0 ? 2 : 1;
    if (units + add > size_t(XlsxSheet::kMaxTextUnits)) return s.substr(0, i);
    units += add;
  }
  return s;
}

void AppendTextElement(std::string& out, std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  out += !text.empty() && (blank(text.front()) || blank(text.back())) ? "<t xml:space=\"preserve\">"
                                                                      : "<t>";
  AppendXml(out, text, false);
  out += "</t>";
}

template <typename T>
void AppendNumber(std::string& out, T value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, size_t(end - text));
}

zip_fileinfo Now() {
  zip_fileinfo info{};
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&t, &local)) {
    info.tmz_date.tm_sec = uInt(local.tm_sec);
    info.tmz_date.tm_min = uInt(local.tm_min);
    info.tmz_date.tm_hour = uInt(local.tm_hour);
    info.tmz_date.tm_mday = uInt(local.tm_mday);
    info.tmz_date.tm_mon = uInt(local.tm_mon);
    info.tmz_date.tm_year = uInt(local.tm_year + 1900);
  }
  return info;
}

// `raw`: the caller hands over data it deflated itself.
bool OpenEntry(void* zip, const char* name, int level, bool large, bool raw = false) {
  const zip_fileinfo info = Now();
  return zipOpenNewFileInZip3_64(Zip(zip), name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                 level, raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                 nullptr, 0, large ? 1 : 0) == ZIP_OK;
}

constexpr const char* kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRelations =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

}  // namespace

// Deflates the large parts and writes them to the zip on a thread of its own,
// so that the host's thread, which reads the table, only produces their text.
// The thread sees nothing but the chunks of text handed to it, and the zip
// only between Begin() and End(), while the host's thread leaves it alone.
class XlsxSheet::Deflater {
 public:
  explicit Deflater(void* zip) : zip_(zip) {
    initialised_ = deflateInit2(&stream_, kSheetLevel, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY) == Z_OK;
    failed_ = !initialised_;
    if (!initialised_) return;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread to be had: the export fails as a write would.
      failed_ = true;
    }
  }
  ~Deflater() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (initialised_) deflateEnd(&stream_);
  }

  bool Failed() const { return failed_.load(std::memory_order_relaxed); }

  bool Begin(const char* name) {
    if (Failed() || !OpenEntry(zip_, name, kSheetLevel, true, true) ||
        deflateReset(&stream_) != Z_OK)
      failed_ = true;
    crc_ = crc32(0, nullptr, 0);
    size_ = 0;
    return !Failed();
  }
  // Waits while the thread is a few chunks behind, so the text produced
  // ahead of it stays bounded.
  void Push(std::string& chunk) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return queue_.size() < kDepth; });
    queue_.push_back({std::move(chunk), false});
    chunk = {};
    lock.unlock();
    work_.notify_one();
  }
  bool End() {
    if (!thread_.joinable()) return false;
    std::unique_lock lock(mutex_);
    queue_.push_back({{}, true});
    work_.notify_one();
    done_.wait(lock, [this] { return queue_.empty() && !busy_; });
    lock.unlock();
    if (!Failed() && zipCloseFileInZipRaw64(Zip(zip_), size_, crc_) != ZIP_OK) failed_ = true;
    return !Failed();
  }

 private:
  static constexpr size_t kDepth = 4;
  struct Chunk {
    std::string text;
    bool last = false;
  };

  void Run() {
    std::unique_lock lock(mutex_);
    while (true) {
      work_.wait(lock, [this] { return quit_ || !queue_.empty(); });
      if (quit_) return;
      Chunk chunk = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      lock.unlock();
      if (!Failed()) Deflate(chunk);
      lock.lock();
      busy_ = false;
      done_.notify_all();
    }
  }

  void Deflate(const Chunk& chunk) {
    const auto* data = reinterpret_cast<const Bytef*>(chunk.text.data());
    crc_ = crc32_z(crc_, data, chunk.text.size());
    size_ += chunk.text.size();
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = uInt(chunk.text.size());
    const int flush = chunk.last ? Z_FINISH : Z_NO_FLUSH;
    int result = Z_OK;
    do {
      stream_.next_out = out_.data();
      stream_.avail_out = uInt(out_.size());
      result = deflate(&stream_, flush);
      const auto produced = unsigned(out_.size() - stream_.avail_out);
      if (result == Z_STREAM_ERROR ||
          (produced && zipWriteInFileInZip(Zip(zip_), out_.data(), produced) != ZIP_OK)) {
        failed_ = true;
        return;
      }
    } while (stream_.avail_out == 0 || (chunk.last && result != Z_STREAM_END));
  }

  void* zip_;
  z_stream stream_{};
  bool initialised_ = false;
  std::vector<unsigned char> out_ = std::vector<unsigned char>(kChunk);
  uLong crc_ = 0;
  ZPOS64_T size_ = 0;
  std::atomic<bool> failed_ = false;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<Chunk> queue_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;
};

XlsxSheet::XlsxSheet(const std::string& fileName, std::vector<XlsxColumn> columns, int dataRows,
                     const std::string& dateFormat)
    : columns_(std::move(columns)), dateFormat_(dateFormat), dataRows_(dataRows) {
  std::map<std::string, int> formats;
  for (size_t i = 0; i < columns_.size(); ++i) {
    letters_.push_back(ColumnLetters(int(i)));
    const std::string& f = columns_[i].numberFormat;
    int style = kPlain;
    if (!f.empty() && f != "General") {
      auto [at, added] = formats.emplace(f, kFirstNumberStyle + int(numberFormats_.size()));
      if (added) numberFormats_.push_back(f);
      style = at->second;
    }
    styles_.push_back(style);
  }
  buffer_.reserve(kChunk + 4096);
  zip_ = zipOpen64(fileName.c_str(), APPEND_STATUS_CREATE);
  if (zip_) deflater_ = std::make_unique<Deflater>(zip_);
  // The sheet may pass 4 GB before deflating.
  failed_ = !zip_ || !deflater_->Begin("xl/worksheets/sheet1.xml");
  if (failed_) return;
  buffer_ += SheetHead();
  buffer_ += "<row r=\"1\">";
  row_ = 1;
  rowTextSize_ = 1;
  rowText_[0] = '1';
  textAttributes_ = " s=\"1\" t=\"s\"><v>";
  for (size_t i = 0; i < columns_.size(); ++i) Text(int(i), columns_[i].title);
  textAttributes_ = " t=\"s\"><v>";
  buffer_ += "</row>";
}

XlsxSheet::~XlsxSheet() {
  // The thread first: it may be writing to the zip.
  deflater_.reset();
  if (zip_) zipClose(Zip(zip_), nullptr);
}

bool XlsxSheet::ok() const {
  return !failed_ && !(deflater_ && deflater_->Failed());
}

std::string XlsxSheet::SheetHead() const {
  const std::string last =
      columns_.empty() ? "A1" : letters_.back() + std::to_string(dataRows_ + 1);
  std::string s = kDeclaration;
  s += "<worksheet xmlns=\"";
  s += kMain;
  s += "\" xmlns:r=\"";
  s += kRelations;
  s += "\"><sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr><dimension ref=\"";
  s += columns_.empty() ? "A1" : "A1:" + last;
  s += "\"/><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"><pane ySplit=\"1\" "
       "topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/><selection "
       "pane=\"bottomLeft\" activeCell=\"A2\" sqref=\"A2\"/></sheetView></sheetViews>"
       "<sheetFormatPr defaultRowHeight=\"15\"/>";
  if (!columns_.empty()) {
    s += "<cols>";
    for (size_t i = 0; i < columns_.size(); ++i) {
      // Stored as the spreadsheet stores a width typed in characters: whole
      // pixels of a 7-pixel digit with 5 pixels of padding.
      const double w = std::max(columns_[i].width, 1.0);
      const auto pixels = unsigned(w * 7 + 0.5) + 5;
      const double stored = double(unsigned(pixels / 7.0 * 256.0)) / 256.0;
      s += "<col min=\"" + std::to_string(i + 1) + "\" max=\"" + std::to_string(i + 1) +
           "\" width=\"";
      AppendNumber(s, stored);
      s += "\" customWidth=\"1\"/>";
    }
    s += "</cols>";
  }
  s += "<sheetData>";
  return s;
}

void XlsxSheet::BeginRow() {
  ++row_;
  rowTextSize_ = size_t(std::to_chars(rowText_, rowText_ + sizeof rowText_, row_).ptr - rowText_);
  buffer_ += "<row r=\"";
  buffer_.append(rowText_, rowTextSize_);
  buffer_ += "\">";
  nextColumn_ = 0;
}

void XlsxSheet::Cell(int column, const char* attributes) {
  // A cell right after the one before it needs no reference: readers count
  // it as the next column. That is a third less text to deflate.
  if (column == nextColumn_) {
    buffer_ += "<c";
  } else {
    buffer_ += "<c r=\"";
    buffer_ += letters_[size_t(column)];
    buffer_.append(rowText_, rowTextSize_);
    buffer_ += '"';
  }
  nextColumn_ = column + 1;
  buffer_ += attributes;
}

void XlsxSheet::Text(int column, std::string_view text) {
  text = Clip(text);
  if (text.empty()) return;
  auto at = strings_.find(text);
  if (at == strings_.end() && strings_.size() < maxSharedTexts_)
    at = strings_.emplace(std::string(text), uint32_t(strings_.size())).first;
  if (at == strings_.end()) {
    Cell(column, " t=\"inlineStr\"><is>");
    AppendTextElement(buffer_, text);
    buffer_ += "</is></c>";
    return;
  }
  ++stringUses_;
  Cell(column, textAttributes_);
  AppendNumber(buffer_, at->second);
  buffer_ += "</v></c>";
}

void XlsxSheet::Number(int column, double value) {
  if (!std::isfinite(value)) return;
  const int style = styles_[size_t(column)];
  if (style == kPlain) {
    Cell(column, "><v>");
  } else {
    Cell(column, " s=\"");
    AppendNumber(buffer_, style);
    buffer_ += "\"><v>";
  }
  AppendNumber(buffer_, value);
  buffer_ += "</v></c>";
}

void XlsxSheet::Date(int column, double days) {
  if (!std::isfinite(days)) return;
  Cell(column, days != std::floor(days) ? " s=\"3\"><v>" : " s=\"2\"><v>");
  AppendNumber(buffer_, days);
  buffer_ += "</v></c>";
}

void XlsxSheet::EndRow() {
  buffer_ += "</row>";
  if (buffer_.size() >= kChunk) Flush();
}

void XlsxSheet::Flush() {
  if (ok() && !buffer_.empty()) deflater_->Push(buffer_);
  buffer_.clear();
  buffer_.reserve(kChunk + 4096);
}

bool XlsxSheet::Part(const char* name, std::string_view content) {
  if (failed_) return false;
  failed_ = !OpenEntry(zip_, name, Z_DEFAULT_COMPRESSION, false) ||
            zipWriteInFileInZip(Zip(zip_), content.data(), unsigned(content.size())) != ZIP_OK ||
            zipCloseFileInZip(Zip(zip_)) != ZIP_OK;
  return !failed_;
}

std::string XlsxSheet::Styles() const {
  std::string s = kDeclaration;
  s += "<styleSheet xmlns=\"";
  s += kMain;
  s += "\"><numFmts count=\"" + std::to_string(2 + numberFormats_.size()) + "\">";
  const auto numFmt = [&s](int id, const std::string& code) {
    s += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" + Xml(code) + "\"/>";
  };
  numFmt(kFirstNumberFormat, dateFormat_);
  numFmt(kFirstNumberFormat + 1, dateFormat_ + " hh:mm");
  for (size_t i = 0; i < numberFormats_.size(); ++i)
    numFmt(kFirstNumberFormat + 2 + int(i), numberFormats_[i]);
  s += "</numFmts>"
       "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
       "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
       "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill>"
       "<fill><patternFill patternType=\"gray125\"/></fill>"
       "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFDDE4EE\"/>"
       "<bgColor indexed=\"64\"/></patternFill></fill></fills>"
       "<borders count=\"2\"><border><left/><right/><top/><bottom/><diagonal/></border>"
       "<border><left style=\"thin\"><color auto=\"1\"/></left><right style=\"thin\">"
       "<color auto=\"1\"/></right><top style=\"thin\"><color auto=\"1\"/></top>"
       "<bottom style=\"thin\"><color auto=\"1\"/></bottom><diagonal/></border></borders>"
       "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
       "</cellStyleXfs><cellXfs count=\"" +
       std::to_string(kFirstNumberStyle + numberFormats_.size()) +
       "\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
       "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"2\" borderId=\"1\" xfId=\"0\" applyFont=\"1\" "
       "applyFill=\"1\" applyBorder=\"1\"/>";
  for (size_t i = 0; i < 2 + numberFormats_.size(); ++i)
    s += "<xf numFmtId=\"" + std::to_string(kFirstNumberFormat + int(i)) +
         "\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  s += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
       "</cellStyles></styleSheet>";
  return s;
}

std::string XlsxSheet::Workbook() const {
  std::string s = kDeclaration;
  s += "<workbook xmlns=\"";
  s += kMain;
  s += "\" xmlns:r=\"";
  s += kRelations;
  s += "\"><bookViews><workbookView/></bookViews><sheets><sheet name=\"";
  s += kSheetName;
  s += "\" sheetId=\"1\" r:id=\"rId1\"/></sheets><definedNames>";
  if (!columns_.empty()) {
    s += "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" hidden=\"1\">";
    s +=
        std::string(kSheetName) + "!$A$1:$" + letters_.back() + "$" + std::to_string(dataRows_ + 1);
    s += "</definedName>";
  }
  s += "<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"0\">";
  s += std::string(kSheetName) + "!$1:$1</definedName></definedNames></workbook>";
  return s;
}

bool XlsxSheet::Finish() {
  if (!ok() || finished_) return false;
  finished_ = true;
  buffer_ += "</sheetData>";
  if (!columns_.empty())
    buffer_ += "<autoFilter ref=\"A1:" + letters_.back() + std::to_string(dataRows_ + 1) + "\"/>";
  buffer_ +=
      "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
      "footer=\"0.3\"/><pageSetup orientation=\"landscape\" fitToHeight=\"0\"/></worksheet>";
  Flush();
  if (!ok() || !deflater_->End() || !deflater_->Begin("xl/sharedStrings.xml"))
    return failed_ = true, false;
  std::vector<const std::string*> texts(strings_.size());
  for (const auto& [text, index] : strings_) texts[index] = &text;
  buffer_ += kDeclaration;
  buffer_ += "<sst xmlns=\"";
  buffer_ += kMain;
  buffer_ += "\" count=\"" + std::to_string(stringUses_) + "\" uniqueCount=\"" +
             std::to_string(texts.size()) + "\">";
  for (const std::string* text : texts) {
    buffer_ += "<si>";
    AppendTextElement(buffer_, *text);
    buffer_ += "</si>";
    if (buffer_.size() >= kChunk) Flush();
  }
  buffer_ += "</sst>";
  Flush();
  if (!ok() || !deflater_->End()) return failed_ = true, false;

  const std::string types =
      std::string(kDeclaration) +
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" "
      "ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/></Types>";
  const std::string rootRelations =
      std::string(kDeclaration) +
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"" +
      kRelations + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  const std::string bookRelations =
      std::string(kDeclaration) +
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"" +
      kRelations +
      "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
      "<Relationship Id=\"rId2\" Type=\"" +
      kRelations +
      "/styles\" Target=\"styles.xml\"/>"
      "<Relationship Id=\"rId3\" Type=\"" +
      kRelations + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
  if (!Part("xl/styles.xml", Styles()) || !Part("xl/workbook.xml", Workbook()) ||
      !Part("xl/_rels/workbook.xml.rels", bookRelations) || !Part("_rels/.rels", rootRelations) ||
      !Part("[Content_Types].xml", types))
    return false;
  const int closed = zipClose(Zip(zip_), nullptr);
  zip_ = nullptr;
  failed_ = closed != ZIP_OK;
  return !failed_;
}

}  // namespace apura::desktop
