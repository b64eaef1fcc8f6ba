#include "desktop/services/grid_export.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "desktop/binding/grid_view.h"
#include "desktop/services/xlsx_sheet.h"
#include "framework/format.h"
#include "framework/forms.h"

namespace apura::desktop {

namespace {

constexpr int kProgressStep = 4096;

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Beside the target, so the last step is a rename within one file system.
QString TemporaryPath(const QString& path) {
  const QFileInfo info(path);
  return info.dir().filePath(QStringLiteral(".%1.parcial").arg(info.fileName()));
}

bool Finish(const QString& temporary, const QString& path, ExportOutcome& out) {
  if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) !=
      0) {
    QFile::remove(temporary);
    out.error = QStringLiteral("Não foi possível gravar %1.").arg(path);
    return false;
  }
  out.written = true;
  return true;
}

// Every section of a picture converted on its own; literal text is quoted.
std::string ConvertSection(std::string_view s) {
  const size_t point = s.find('.');
  const std::string_view integer = s.substr(0, point);
  bool grouping = false, digits = false;
  std::string prefix, suffix;
  for (char c : integer) {
    if (c == ',')
      grouping = true;
    else if (c == '#' || c == '0')
      digits = true;
    else if (!digits)
      prefix += c;
    else
      suffix += c;
  }
  int mandatory = 0;
  for (char c : integer)
    if (c == '0') ++mandatory;
  std::string out;
  if (!prefix.empty()) out += "\"" + prefix + "\"";
  if (grouping) {
    out += mandatory > 1 ? "#," + std::string(size_t(std::max(0, 3 - mandatory)), '#') +
                               std::string(size_t(mandatory), '0')
                         : "#,##0";
  } else {
    out += mandatory > 0 ? std::string(size_t(mandatory), '0') : "0";
  }
  if (point != std::string_view::npos) {
    std::string decimals;
    for (char c : s.substr(point + 1)) {
      if (c == '0' || c == '#')
        decimals += c;
      else
        suffix += c;
    }
    if (!decimals.empty()) out += "." + decimals;
  }
  if (!suffix.empty()) out += "\"" + suffix + "\"";
  return out;
}

// The picture without grouping: what a .csv holds is read back as a number.
std::string WithoutGrouping(std::string_view picture) {
  std::string out;
  for (char c : picture)
    if (c != ',') out += c;
  return out;
}

std::string CsvField(std::string text) {
  if (text.find_first_of(";\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

// One cell as a number, a date or a text; null cells are empty.
struct Cell {
  enum Kind { Empty, Number, Date, Text } kind = Empty;
  double number = 0;
  std::string text;
};

Cell ReadCell(const TClientDataSet& table, const SheetColumn& c, int row) {
  Cell cell;
  if (c.field < 0) return cell;
  if (c.asText) {
    cell.text = table.CellDisplayText(row, c.field);
    cell.kind = cell.text.empty() ? Cell::Empty : Cell::Text;
    return cell;
  }
  const Value v = table.CellValue(row, c.field);
  if (v.IsNull()) return cell;
  if (c.type == FieldType::DateTime) {
    cell.kind = Cell::Date;
    cell.number = v.AsDate().days;
  } else {
    cell.kind = Cell::Number;
    cell.number = v.AsFloat();
  }
  return cell;
}

bool Stop(const ExportProgress& progress, int done, int total) {
  return progress && !progress(done, total);
}

ExportOutcome WriteXlsx(const TClientDataSet& table, const std::vector<SheetColumn>& columns,
                        const QString& temporary, int rows, const ExportProgress& progress) {
  ExportOutcome out;
  if (rows >= XlsxSheet::kMaxRows) {
    // Cutting the rows off would pass a partial sheet for the grid.
    out.error = QStringLiteral(
                    "A grade tem %1 linhas; uma planilha .xlsx comporta até %2. Exporte para .csv.")
                    .arg(rows)
                    .arg(XlsxSheet::kMaxRows - 1);
    return out;
  }
  std::vector<XlsxColumn> sheetColumns;
  for (const SheetColumn& c : columns) {
    XlsxColumn x;
    x.title = c.title.toStdString();
    const double width = c.widthPixels > 0 ? c.widthPixels / 7.0 : 12.0;
    x.width = std::clamp(width, 6.0, 80.0);
    if (!c.asText && c.type != FieldType::DateTime)
      x.numberFormat = SpreadsheetNumberFormat(c.picture);
    sheetColumns.push_back(std::move(x));
  }
  bool written = false;
  {
    XlsxSheet sheet(QFile::encodeName(temporary).toStdString(), std::move(sheetColumns), rows,
                    SpreadsheetDateFormat(CurrentFormat().shortDateFormat));
    for (int r = 0; r < rows && sheet.ok(); ++r) {
      if (r % kProgressStep == 0 && Stop(progress, r, rows)) {
        out.cancelled = true;
        break;
      }
      sheet.BeginRow();
      for (size_t i = 0; i < columns.size(); ++i) {
        const Cell cell = ReadCell(table, columns[i], r);
        switch (cell.kind) {
          case Cell::Empty:
            break;
          case Cell::Text:
            sheet.Text(int(i), cell.text);
            break;
          case Cell::Number:
            sheet.Number(int(i), cell.number);
            break;
          case Cell::Date:
            sheet.Date(int(i), cell.number);
            break;
        }
      }
      sheet.EndRow();
    }
    written = !out.cancelled && sheet.Finish();
  }
  if (!written) {
    // The sheet is closed by now; what it left goes.
    QFile::remove(temporary);
    if (!out.cancelled) out.error = QStringLiteral("Não foi possível gravar a planilha.");
    return out;
  }
  out.rows = rows;
  return out;
}

ExportOutcome WriteCsv(const TClientDataSet& table, const std::vector<SheetColumn>& columns,
                       const QString& temporary, int rows, const ExportProgress& progress) {
  ExportOutcome out;
  std::unique_ptr<FILE, int (*)(FILE*)> file(
      std::fopen(QFile::encodeName(temporary).constData(), "wb"), &std::fclose);
  if (!file) {
    out.error = QStringLiteral("Não foi possível criar o arquivo.");
    return out;
  }
  std::vector<std::string> pictures;
  for (const SheetColumn& c : columns) pictures.push_back(WithoutGrouping(c.picture));
  // The byte order mark tells spreadsheets the text is UTF-8.
  std::string line = "\xEF\xBB\xBF";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) line += ';';
    line += CsvField(columns[i].title.toStdString());
  }
  line += "\r\n";
  bool ok = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  for (int r = 0; ok && r < rows; ++r) {
    if (r % kProgressStep == 0 && Stop(progress, r, rows)) {
      file.reset();
      QFile::remove(temporary);
      out.cancelled = true;
      return out;
    }
    line.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i) line += ';';
      const Cell cell = ReadCell(table, columns[i], r);
      switch (cell.kind) {
        case Cell::Empty:
          break;
        case Cell::Text:
          line += CsvField(cell.text);
          break;
        case Cell::Number:
          line += pictures[i].empty() ? FloatToText(cell.number)
                                      : FormatFloat(pictures[i], cell.number);
          break;
        case Cell::Date:
          line += DateTimeToText(DateTime{cell.number});
          break;
      }
    }
    line += "\r\n";
    ok = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  }
  ok = std::fclose(file.release()) == 0 && ok;
  if (!ok) {
    QFile::remove(temporary);
    out.error = QStringLiteral("Não foi possível gravar o arquivo (disco cheio?).");
    return out;
  }
  out.rows = rows;
  return out;
}

QString SafeFileName(QString s) {
  static const QString bad = QStringLiteral("/\\:*?\"<>|");
  for (QChar& c : s)
    if (bad.contains(c) || c.unicode() < 32) c = QLatin1Char('_');
  return s.trimmed();
}

QTableView* GridOf(QObject* o) {
  auto* g = qobject_cast<QTableView*>(o);
  // The mouse's menu event goes to the grid's viewport.
  if (!g && o) g = qobject_cast<QTableView*>(o->parent());
  return g && DataSetModelOf(*g) ? g : nullptr;
}

}  // namespace

std::string SpreadsheetNumberFormat(std::string_view picture) {
  if (picture.empty()) return "General";
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t end = picture.find(';', start);
    if (!out.empty()) out += ';';
    out += ConvertSection(picture.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

std::string SpreadsheetDateFormat(std::string_view shortDate) {
  if (shortDate.empty()) return "dd/mm/yyyy";
  return std::string(shortDate);
}

DataSetModel* DataSetModelOf(const QTableView& view) {
  return qobject_cast<DataSetModel*>(view.model());
}

std::vector<SheetColumn> SheetColumnsOf(const QTableView& view) {
  std::vector<SheetColumn> out;
  const DataSetModel* m = DataSetModelOf(view);
  if (!m) return out;
  const DataSetModel& model = *m;
  const TClientDataSet* table = model.DataSet();
  const QHeaderView* header = view.horizontalHeader();
  for (int visual = 0; visual < header->count(); ++visual) {
    const int logical = header->logicalIndex(visual);
    if (logical < 0 || view.isColumnHidden(logical) || header->isSectionHidden(logical)) continue;
    SheetColumn c;
    c.title = model.headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString();
    c.widthPixels = header->sectionSize(logical);
    if (TField* f = table ? model.FieldOf(logical) : nullptr) {
      c.field = f->Index();
      c.type = f->DataType();
      c.picture = f->DisplayFormat();
      // Numbers and dates are written as values unless something else than
      // the value decides what the buyer reads.
      c.asText = c.type == FieldType::String || c.type == FieldType::Boolean ||
                 static_cast<bool>(f->OnGetText) || !f->EditMask().empty();
    }
    out.push_back(std::move(c));
  }
  return out;
}

ExportOutcome ExportRows(const TClientDataSet& table, const std::vector<SheetColumn>& columns,
                         const QString& path, SheetFormat format, const ExportProgress& progress) {
  ExportOutcome out;
  if (!table.Active()) {
    out.error = QStringLiteral("A tabela não está aberta.");
    return out;
  }
  const int rows = table.RecordCount();
  const QString temporary = TemporaryPath(path);
  try {
    out = format == SheetFormat::Xlsx ? WriteXlsx(table, columns, temporary, rows, progress)
                                      : WriteCsv(table, columns, temporary, rows, progress);
  } catch (const std::exception& e) {
    QFile::remove(temporary);
    out = {};
    out.error = QStringLiteral("Não foi possível exportar: %1").arg(QString::fromUtf8(e.what()));
    return out;
  }
  if (out.cancelled || !out.error.isEmpty()) return out;
  if (Stop(progress, rows, rows)) {
    QFile::remove(temporary);
    out.cancelled = true;
    return out;
  }
  Finish(temporary, path, out);
  return out;
}

ExportOutcome ExportGrid(const QTableView& view, const QString& path, SheetFormat format,
                         const ExportProgress& progress) {
  const DataSetModel* model = DataSetModelOf(view);
  const TClientDataSet* table = model ? model->DataSet() : nullptr;
  if (!table) {
    ExportOutcome out;
    out.error = QStringLiteral("A grade não mostra nenhuma tabela.");
    return out;
  }
  return ExportRows(*table, SheetColumnsOf(view), path, format, progress);
}

// --- The command ---------------------------------------------------------------

GridExporter::GridExporter(QWidget* mainWindow) : QObject(mainWindow), main_(mainWindow) {
  qApp->installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* now) { FocusChanged(now); });
  choosePath = [](QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(
        parent, QStringLiteral("Exportar para planilha"), suggested,
        QStringLiteral("Pasta de trabalho do Excel (*.xlsx);;Texto separado por ponto e vírgula "
                       "(*.csv)"));
  };
}

GridExporter::~GridExporter() {
  qApp->removeEventFilter(this);
}

QString GridExporter::ActionText() {
  return QStringLiteral("E&xportar para planilha…");
}

void GridExporter::FocusChanged(QWidget* now) {
  if (QTableView* g = GridOf(now)) last_ = g;
}

QTableView* GridExporter::CurrentGrid() const {
  if (QTableView* g = GridOf(QApplication::focusWidget())) return g;
  if (last_ && last_->window()->isVisible() && DataSetModelOf(*last_)) return last_;
  return nullptr;
}

bool GridExporter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ContextMenu) return false;
  QTableView* grid = GridOf(watched);
  if (!grid) return false;
  auto* e = static_cast<QContextMenuEvent*>(event);
  QPointer<QTableView> target = grid;
  auto* menu = new QMenu(grid);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->setObjectName(QStringLiteral("gridContextMenu"));
  QAction* action = menu->addAction(ActionText());
  action->setObjectName(QStringLiteral("exportarPlanilha"));
  connect(action, &QAction::triggered, this, [this, target] {
    if (target) ExportInteractive(target);
  });
  menu->popup(e->globalPos());
  return true;
}

QString GridExporter::ExportInteractive(QTableView* view) {
  QWidget* parent = view ? view->window() : main_.data();
  auto say = [this, parent](const QString& m, bool failure) {
    if (report) {
      report(m);
    } else if (failure) {
      QMessageBox::warning(parent, QStringLiteral("Exportar para planilha"), m);
    }
  };
  const DataSetModel* model = view ? DataSetModelOf(*view) : nullptr;
  if (!model || !model->DataSet()) {
    say(QStringLiteral("Escolha antes a grade a exportar (clique nela)."), true);
    return {};
  }
  const auto* grid = qobject_cast<GridView*>(view);
  const TForm* form = grid && grid->Grid() ? grid->Grid()->ParentForm() : nullptr;
  QString name = form ? Q(form->Caption()) : view->window()->windowTitle();
  name = SafeFileName(name.isEmpty() ? view->objectName()
                                     : name + QStringLiteral(" - ") + view->objectName());
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  QDir().mkpath(folder);
  QString path = choosePath(parent, QDir(folder).filePath(name + QStringLiteral(".xlsx")));
  if (path.isEmpty()) return {};
  const SheetFormat format = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
                                 ? SheetFormat::Csv
                                 : SheetFormat::Xlsx;
  if (format == SheetFormat::Xlsx && !path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
    path += QStringLiteral(".xlsx");

  QProgressDialog progress(QStringLiteral("Exportando %1…").arg(QFileInfo(path).fileName()),
                           QStringLiteral("Cancelar"), 0, 100, parent);
  progress.setObjectName(QStringLiteral("exportProgress"));
  progress.setWindowTitle(QStringLiteral("Exportar para planilha"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(300);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  const ExportOutcome out = ExportGrid(*view, path, format, [&progress](int done, int total) {
    progress.setValue(total > 0 ? int(qint64(done) * 100 / total) : 100);
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  });
  progress.close();
  if (out.cancelled) {
    say(QStringLiteral("Exportação cancelada; nenhum arquivo foi gravado."), false);
    return {};
  }
  if (!out.written) {
    say(out.error, true);
    return {};
  }
  say(QStringLiteral("%1 linha(s) exportada(s) para %2")
          .arg(out.rows)
          .arg(QDir::toNativeSeparators(path)),
      false);
  return path;
}

}  // namespace apura::desktop
