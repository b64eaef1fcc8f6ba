#include "desktop/services/report_view.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <cmath>

namespace apura::desktop {

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

Qt::Alignment Align(ReportAlign a) {
  switch (a) {
    case ReportAlign::Right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case ReportAlign::Center:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// Where everything of a page goes, worked out once for the device.
struct Layout {
  QRectF page;
  QFont title, text, bold;
  qreal titleH = 0, lineH = 0, pad = 0, top = 0, bodyTop = 0, footerTop = 0;
  std::vector<qreal> x;  // column edges, one more than the columns
  int linesPerPage = 1;

  Layout(const ReportDocument& doc, QPainter& p) {
    page = QRectF(p.viewport());
    page.moveTo(0, 0);
    title = QFont("DejaVu Sans");
    title.setPointSizeF(12);
    title.setBold(true);
    text = QFont("DejaVu Sans");
    text.setPointSizeF(8);
    bold = text;
    bold.setBold(true);
    const QFontMetricsF tm(title, p.device()), fm(text, p.device());
    titleH = tm.height() * 1.4;
    lineH = fm.height() * 1.35;
    pad = fm.averageCharWidth() * 0.6;
    top = page.top();
    // Title, header lines, a gap, the column headings and their rule.
    bodyTop = top + titleH + lineH * static_cast<qreal>(doc.header.size()) + lineH * 0.5 + lineH +
              lineH * 0.3;
    footerTop = page.bottom() - lineH;
    linesPerPage =
        std::max(2, static_cast<int>(std::floor((footerTop - lineH * 0.5 - bodyTop) / lineH)));
    double total = 0;
    for (const ReportColumn& c : doc.columns) total += c.width;
    x.push_back(page.left());
    double acc = 0;
    for (const ReportColumn& c : doc.columns) {
      acc += c.width;
      x.push_back(page.left() + page.width() * (acc / total));
    }
  }

  QRectF Cell(size_t col, qreal y) const {
    return QRectF(x[col] + pad, y, x[col + 1] - x[col] - 2 * pad, lineH);
  }
};

void Text(QPainter& p, const QRectF& r, const QString& s, Qt::Alignment a) {
  const QString shown = p.fontMetrics().elidedText(s, Qt::ElideRight, static_cast<int>(r.width()));
  p.drawText(r, a, shown);
}

void PaintPage(QPainter& p, const Layout& l, const ReportDocument& doc, size_t first, size_t last,
               int page, int pages) {
  const QPen thin(Qt::black, std::max<qreal>(1, l.lineH / 24));
  qreal y = l.top;
  p.setFont(l.title);
  Text(p, QRectF(l.page.left(), y, l.page.width(), l.titleH), Q(doc.title),
       Qt::AlignLeft | Qt::AlignVCenter);
  p.setFont(l.text);
  Text(p, QRectF(l.page.left(), y, l.page.width(), l.titleH), Q(doc.code),
       Qt::AlignRight | Qt::AlignVCenter);
  y += l.titleH;
  for (const std::string& h : doc.header) {
    Text(p, QRectF(l.page.left(), y, l.page.width(), l.lineH), Q(h),
         Qt::AlignLeft | Qt::AlignVCenter);
    y += l.lineH;
  }
  y += l.lineH * 0.5;
  p.setFont(l.bold);
  for (size_t c = 0; c < doc.columns.size(); ++c)
    Text(p, l.Cell(c, y), Q(doc.columns[c].caption), Align(doc.columns[c].align));
  y += l.lineH;
  p.setPen(thin);
  p.drawLine(QPointF(l.page.left(), y), QPointF(l.page.right(), y));
  y = l.bodyTop;

  for (size_t i = first; i < last; ++i) {
    const ReportLine& line = doc.lines[i];
    switch (line.kind) {
      case ReportLine::Kind::GroupHeader: {
        p.setFont(l.bold);
        const qreal indent = l.pad * 3 * line.level;
        Text(p, QRectF(l.page.left() + indent, y, l.page.width() - indent, l.lineH), Q(line.text),
             Qt::AlignLeft | Qt::AlignVCenter);
        break;
      }
      case ReportLine::Kind::Detail:
        p.setFont(l.text);
        for (size_t c = 0; c < doc.columns.size() && c < line.cells.size(); ++c)
          Text(p, l.Cell(c, y), Q(line.cells[c]), Align(doc.columns[c].align));
        break;
      case ReportLine::Kind::GroupFooter:
      case ReportLine::Kind::GrandTotal: {
        p.setFont(l.bold);
        size_t firstTotal = 0;
        while (firstTotal < doc.columns.size() && !doc.columns[firstTotal].total) ++firstTotal;
        const qreal ruleFrom = firstTotal < doc.columns.size() ? l.x[firstTotal] : l.page.left();
        p.drawLine(QPointF(line.kind == ReportLine::Kind::GrandTotal ? l.page.left() : ruleFrom, y),
                   QPointF(l.page.right(), y));
        // The label takes the columns up to the first total this line
        // fills; a name still too long is set smaller before it is cut.
        size_t firstFilled = firstTotal;
        while (firstFilled < doc.columns.size() &&
               (firstFilled >= line.cells.size() || !doc.columns[firstFilled].total ||
                line.cells[firstFilled].empty()))
          ++firstFilled;
        // Totals are right-aligned: the label may run up to the figure itself.
        qreal labelEnd = l.page.right();
        if (firstFilled < doc.columns.size()) {
          const QRectF cell = l.Cell(firstFilled, y);
          const qreal figure = p.fontMetrics().horizontalAdvance(Q(line.cells[firstFilled]));
          labelEnd = doc.columns[firstFilled].align == ReportAlign::Right
                         ? cell.right() - figure - l.pad * 2
                         : l.x[firstFilled];
        }
        const QRectF labelRect(l.page.left() + l.pad, y, labelEnd - l.page.left() - 2 * l.pad,
                               l.lineH);
        const QString label = Q(line.text);
        const qreal needed = p.fontMetrics().horizontalAdvance(label);
        if (needed > labelRect.width() && labelRect.width() > 0) {
          QFont smaller = l.bold;
          smaller.setPointSizeF(l.bold.pointSizeF() *
                                std::max<qreal>(0.7, labelRect.width() / needed));
          p.setFont(smaller);
        }
        Text(p, labelRect, label, Qt::AlignLeft | Qt::AlignVCenter);
        p.setFont(l.bold);
        for (size_t c = 0; c < doc.columns.size() && c < line.cells.size(); ++c)
          if (doc.columns[c].total)
            Text(p, l.Cell(c, y), Q(line.cells[c]), Align(doc.columns[c].align));
        break;
      }
    }
    y += l.lineH;
  }

  p.setFont(l.text);
  p.drawLine(QPointF(l.page.left(), l.footerTop), QPointF(l.page.right(), l.footerTop));
  Text(p, QRectF(l.page.left(), l.footerTop, l.page.width(), l.lineH),
       Q(doc.FooterText(page, pages)), Qt::AlignRight | Qt::AlignVCenter);
  Text(p, QRectF(l.page.left(), l.footerTop, l.page.width() / 2, l.lineH), Q(doc.title),
       Qt::AlignLeft | Qt::AlignVCenter);
}

}  // namespace

int PaintReport(const ReportDocument& doc, QPagedPaintDevice& device) {
  QPainter p;
  if (!p.begin(&device)) return 0;
  p.setRenderHint(QPainter::TextAntialiasing);
  const Layout l(doc, p);
  const auto pages = Paginate(doc, l.linesPerPage);
  const int n = static_cast<int>(pages.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0) device.newPage();
    PaintPage(p, l, doc, pages[static_cast<size_t>(i)].first, pages[static_cast<size_t>(i)].second,
              i + 1, n);
  }
  p.end();
  return n;
}

bool WriteReportPdf(const ReportDocument& doc, const QString& file, QString* error) {
  QPdfWriter pdf(file);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
  pdf.setResolution(300);
  pdf.setTitle(Q(doc.code + " - " + doc.title));
  pdf.setCreator("Apura");
  if (PaintReport(doc, pdf) == 0) {
    if (error) *error = QString("não foi possível escrever o arquivo %1").arg(file);
    return false;
  }
  return true;
}

QString SuggestedPdfPath(const std::string& reportCode, const std::string& tally) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  const QString name = tally.empty() ? Q(reportCode) : "Apuracao-" + Q(tally);
  return QDir(folder).filePath(name + ".pdf");
}

void PreviewReport(const ReportDocument& doc, QWidget* parent,
                   const std::function<void(QPrintPreviewDialog&)>& onShown,
                   const QString& suggestedPdf) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
  printer.setDocName(Q(doc.code));
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setWindowTitle(Q(doc.code + " - " + doc.title));
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested,
                   [&doc](QPrinter* target) { PaintReport(doc, *target); });
  // The preview prints to the system's printers; saving as PDF is one click more.
  if (QToolBar* bar = dialog.findChild<QToolBar*>()) {
    bar->addSeparator();
    QAction* save = bar->addAction("Salvar PDF");
    save->setObjectName("actSalvarPdf");
    save->setToolTip("Salvar o relatório como PDF");
    const QString suggested =
        suggestedPdf.isEmpty() ? SuggestedPdfPath(doc.code, std::string()) : suggestedPdf;
    QObject::connect(save, &QAction::triggered, &dialog, [&doc, &dialog, suggested] {
      // Qt's own dialog, so that it speaks the host's language everywhere.
      QFileDialog ask(&dialog, "Salvar relatório como PDF");
      ask.setObjectName("dlgSalvarPdf");
      ask.setOption(QFileDialog::DontUseNativeDialog);
      ask.setAcceptMode(QFileDialog::AcceptSave);
      ask.setNameFilter("PDF (*.pdf)");
      ask.setDefaultSuffix("pdf");
      // A fresh account may have no documents folder yet.
      QDir().mkpath(QFileInfo(suggested).absolutePath());
      ask.setDirectory(QFileInfo(suggested).absolutePath());
      ask.selectFile(QFileInfo(suggested).fileName());
      if (ask.exec() != QDialog::Accepted || ask.selectedFiles().isEmpty()) return;
      const QString file = ask.selectedFiles().constFirst();
      QString error;
      if (!WriteReportPdf(doc, file, &error)) {
        QMessageBox::warning(&dialog, "Apura", error);
        return;
      }
      QMessageBox done(QMessageBox::Information, "Apura",
                       QString("Relatório salvo em %1").arg(QDir::toNativeSeparators(file)),
                       QMessageBox::NoButton, &dialog);
      done.addButton("OK", QMessageBox::AcceptRole)->setObjectName("OK");
      done.exec();
    });
  }
  if (onShown) QTimer::singleShot(0, &dialog, [&dialog, &onShown] { onShown(dialog); });
  dialog.exec();
}

}  // namespace apura::desktop
