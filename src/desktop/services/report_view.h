#pragma once
// Reports on paper and on screen: a report document drawn onto any paged
// device (a printer, a PDF file), the print preview with zoom, paging,
// printing and saving as PDF.

#include <QString>
#include <functional>
#include <string>

#include "framework/report.h"

class QPagedPaintDevice;
class QPrintPreviewDialog;
class QWidget;

namespace apura::desktop {

// Draws the document onto the device, one page after another (the device's
// page size and margins); answers the number of pages.
int PaintReport(const ReportDocument& doc, QPagedPaintDevice& device);

// Writes the document as an A4 PDF file. False with `error` saying why.
bool WriteReportPdf(const ReportDocument& doc, const QString& file, QString* error = nullptr);

// Where a report is saved as PDF unless the user says otherwise: the user's
// documents folder, "Apuracao-<tally>.pdf" for a tally's report, the
// report's code otherwise.
QString SuggestedPdfPath(const std::string& reportCode, const std::string& tally);

// The print preview of the document, modal. `onShown`, when set, gets the
// dialog once it is up (tests answer it from there). Saving as PDF offers
// `suggestedPdf` and tells the user where the file went.
void PreviewReport(const ReportDocument& doc, QWidget* parent,
                   const std::function<void(QPrintPreviewDialog&)>& onShown = {},
                   const QString& suggestedPdf = {});

}  // namespace apura::desktop
