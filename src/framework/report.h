#pragma once
// Reports as the framework runs them: a definition kept on the application
// server (its parameters, the queries the server runs, its layout), the
// document built from the queries' answers, and its division into pages. A
// renderer of the host draws the pages; nothing here knows how.

#include <string>
#include <utility>
#include <vector>

#include "framework/packet.h"
#include "framework/transport.h"
#include "framework/value.h"

namespace apura {

class TNetConnection;
struct TReportParams;

enum class ReportAlign { Left, Right, Center };

struct ReportColumn {
  std::string caption;
  std::string field;
  // A number picture ("#,##0.00"), a date picture ("dd/mm/yyyy") for a
  // date-time or a number of days, or empty for the value's own text.
  std::string format;
  double width = 1;  // share of the line's width
  ReportAlign align = ReportAlign::Left;
  bool total = false;  // summed in the group footers and the grand total
};

struct ReportGroup {
  std::string field;   // a new group starts where it changes (or an outer group does)
  std::string header;  // shown above the group; {FIELD} from the group's first row
  std::string footer;  // label of the group's subtotal line; empty: no subtotal
};

struct ReportDefinition {
  std::string code, title;
  std::vector<std::string> params;   // the query parameters the form fills
  std::vector<std::string> queries;  // names, in the order a run answers them
  std::string headerQuery;           // its first row fills the header lines
  std::string detailQuery;           // its rows are the detail lines, in order
  // Lines under the title. {FIELD} is replaced by the header row's field;
  // {FIELD:picture} formats it with a number or date picture.
  std::vector<std::string> headerLines;
  std::vector<ReportGroup> groups;  // outermost first
  std::vector<ReportColumn> columns;
  std::string grandTotal;  // label of the last line; empty: none
  std::string pageFooter = "Página {PAGE} de {PAGES}";

  // Errors name the report and the offending item.
  void Check() const;
  // The definition as the server's report object answers it: one row an item.
  DataPacket ToPacket() const;
  static ReportDefinition FromPacket(const DataPacket& packet);
};

struct ReportLine {
  enum class Kind { GroupHeader, Detail, GroupFooter, GrandTotal };
  Kind kind = Kind::Detail;
  int level = 0;                   // the group's, for headers and footers
  std::string text;                // headers and footer labels
  std::vector<std::string> cells;  // one a column; footers fill the totalled ones
};

struct ReportDocument {
  std::string code, title;
  std::vector<std::string> header;
  std::vector<ReportColumn> columns;
  std::vector<ReportLine> lines;
  std::string pageFooter;
  std::string FooterText(int page, int pages) const;
};

// The document of a run: `results` holds one data packet a query, in the
// definition's order. A missing query answer or field names the report.
ReportDocument BuildReport(const ReportDefinition& def, const ValueArray& results);

// Pages as ranges [first, last) of the document's lines, at most
// `linesPerPage` each; a group header is not left alone at the foot of a
// page. A document without lines still has one page.
std::vector<std::pair<size_t, size_t>> Paginate(const ReportDocument& doc, int linesPerPage);

// The application server's report object and its two methods:
// GetRelatorio(code) answers the definition as a packet; ExecutaRelatorio(code,
// names, values) runs its queries with the parameters and answers one packet a
// query.
inline constexpr const char* kReportServerObject = "Rel.rdmRelatorios";

class ReportClient {
 public:
  // The connection's ServerName must be kReportServerObject; it is opened
  // and closed around each call.
  explicit ReportClient(TNetConnection& net) : net_(net) {}
  ReportDefinition Definition(const std::string& code);
  ValueArray Run(const std::string& code, const TReportParams& params);
  // Both, and the document.
  ReportDocument Build(const std::string& code, const TReportParams& params);

 private:
  Value Call(const std::string& method, std::vector<CallArg> args);
  TNetConnection& net_;
};

}  // namespace apura
