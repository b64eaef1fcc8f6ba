#pragma once
// A grid written out as the buyer sees it: its visible columns in their
// screen order and titles, and the rows its table shows (filters applied), to
// an .xlsx workbook or a ';'-separated .csv file. The file is written under a
// temporary name and only takes its own name once complete, so a cancelled or
// failed export never leaves a partial file behind.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/dataset/dataset.h"

class QWidget;

namespace apura::desktop {

class DataSetModel;

enum class SheetFormat { Xlsx, Csv };

struct SheetColumn {
  QString title;
  int field = -1;  // index in the table; -1: an unbound column, left empty
  FieldType type = FieldType::String;
  std::string picture;  // the field's display format
  // A field whose text comes from a handler is written as the text it shows.
  bool asText = true;
  int widthPixels = 0;
};

// The columns a grid shows, in the order the buyer has them on screen.
std::vector<SheetColumn> SheetColumnsOf(const QTableView& view);
// The table a view over the rows of a table shows; null for any other view.
DataSetModel* DataSetModelOf(const QTableView& view);

// Called every few thousand rows with the rows written so far; false stops.
using ExportProgress = std::function<bool(int done, int total)>;

struct ExportOutcome {
  bool written = false;
  bool cancelled = false;
  QString error;  // in Portuguese, for the buyer
  int rows = 0;
};

// Writes the table's visible rows (a row being inserted is not in the table
// yet and is left out).
ExportOutcome ExportRows(const TClientDataSet& table, const std::vector<SheetColumn>& columns,
                         const QString& path, SheetFormat format,
                         const ExportProgress& progress = {});
ExportOutcome ExportGrid(const QTableView& view, const QString& path, SheetFormat format,
                         const ExportProgress& progress = {});

// The spreadsheet number format of a display picture ("#,##0.000" stays as it
// is, "####,##0.00000" becomes "#,##0.00000"); "General" when there is none.
std::string SpreadsheetNumberFormat(std::string_view picture);
// The spreadsheet date format of a short date picture ("dd/mm/yyyy").
std::string SpreadsheetDateFormat(std::string_view shortDate);

// The export command of every grid: the grid's context menu and the host's
// "Arquivo" menu. It asks where to write (the documents folder by default),
// shows the progress with a cancel button and says where the file went.
class GridExporter : public QObject {
  Q_OBJECT
 public:
  explicit GridExporter(QWidget* mainWindow);
  ~GridExporter() override;

  // The grid the command applies to: the one with focus, else the last one
  // that had it while its window is still open. Any table view over a
  // table's rows counts (the screens' grids, the pick lists).
  QTableView* CurrentGrid() const;
  // Asks for the file and writes it; answers the path written, empty when
  // nothing was (no grid, cancelled, failed).
  QString ExportInteractive(QTableView* view);
  QString ExportCurrent() { return ExportInteractive(CurrentGrid()); }

  // Where the file goes; by default a save dialog on `suggested` (in the
  // documents folder). Empty: the buyer gave up.
  std::function<QString(QWidget* parent, const QString& suggested)> choosePath;
  // Told where the file went, or why it was not written.
  std::function<void(const QString& message)> report;

  static QString ActionText();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FocusChanged(QWidget* now);
  QPointer<QWidget> main_;
  QPointer<QTableView> last_;
};

}  // namespace apura::desktop
