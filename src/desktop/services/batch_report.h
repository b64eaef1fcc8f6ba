#pragma once
// A report written to a PDF file without a window, for batch use: the report
// of the launch's tally, read from the session's application server.

#include <string>

#include "desktop/app/settings.h"
#include "framework/forms.h"

namespace apura::desktop {

// The parameters a report of the tally gets outside the worksheet: the tally
// number and the purchasing centre from the launch values. A parameter of
// another name stays empty.
TReportParams TallyReportParams(const std::vector<std::string>& paramNames,
                                const std::vector<std::string>& launchValues);

// Renders settings.reportCode to settings.reportPdf. Answers the process's
// exit code; an error is written to `error`.
int RunBatchReport(const HostSettings& settings, std::string& error);

}  // namespace apura::desktop
