#include "desktop/services/batch_report.h"

#include "desktop/services/report_view.h"
#include "framework/names.h"
#include "framework/netconnection.h"
#include "framework/report.h"

namespace apura::desktop {

TReportParams TallyReportParams(const std::vector<std::string>& paramNames,
                                const std::vector<std::string>& launchValues) {
  TReportParams params;
  for (const std::string& name : paramNames) {
    std::string value;
    if (SameName(name, "P_NRAPURACAO") && launchValues.size() > 5) value = launchValues[5];
    if (SameName(name, "P_CDCENTITMAP") && !launchValues.empty()) value = launchValues[0];
    params.Items.push_back({name, value});
  }
  return params;
}

int RunBatchReport(const HostSettings& settings, std::string& error) {
  if (!settings.launchValues) {
    error = "--report needs the tally: give the launch values or --demo";
    return 2;
  }
  try {
    TNetConnection net(nullptr, "netRelatorio");
    net.ServerName = kReportServerObject;
    net.ThrowException = false;
    net.Host = settings.serverHost;
    net.Port = settings.serverPort;
    ReportClient client(net);
    const ReportDefinition def = client.Definition(settings.reportCode);
    const ReportDocument doc = BuildReport(
        def,
        client.Run(settings.reportCode, TallyReportParams(def.params, *settings.launchValues)));
    QString why;
    if (!WriteReportPdf(doc, QString::fromStdString(settings.reportPdf), &why)) {
      error = why.toStdString();
      return 1;
    }
  } catch (const std::exception& e) {
    error = e.what();
    return 1;
  }
  return 0;
}

}  // namespace apura::desktop
