#include <string>
#include <vector>

#include "framework/dataset/dataset.h"
#include "server/objects/args.h"
#include "server/objects/server_objects.h"
#include "server/services/report_service.h"

namespace apura::server {

namespace {

// A report's parameters name centres, branches and tallies by their column
// codes (P_CDCENTITMAP, P_CDFILIAP, P_NRAPURACAO): those must be the caller's,
// or the report would read another centre's tallies.
void CheckScope(ReportService& service, const Session& who, const std::vector<std::string>& names,
                const std::vector<std::string>& values, const char* method) {
  for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
    const std::string name = FoldCase(names[i]);
    if (name.find("cdcent") != std::string::npos) CheckCentre(who, values[i], method);
    if (name.find("cdfil") != std::string::npos) CheckBranch(who, values[i], method);
    if (name.find("nrapur") != std::string::npos || name.find("nrseqapur") != std::string::npos) {
      // An unknown tally has no rows to show.
      const std::string centre = service.CentreOfTally(values[i]);
      if (!centre.empty()) CheckCentre(who, centre, method);
    }
  }
}

}  // namespace

void RegisterReportObject(rpc::ServerRegistry& registry, ReportService& service,
                          Sessions* sessions) {
  auto t = std::make_shared<rpc::MethodTable>(kReportServerObject);
  t->Add("GetRelatorio", [&service](const std::vector<CallArg>& a) {
    struct R {
      std::string code;
    };
    return Value(service.GetRelatorio(
        args::Read<R>("GetRelatorio", a, args::Arg{"relatório", &R::code}).code));
  });
  t->Add("ExecutaRelatorio",
         rpc::MethodTable::ContextMethod(
             [&service, sessions](const std::vector<CallArg>& a, const rpc::CallContext& ctx) {
               const char* m = "ExecutaRelatorio";
               struct R {
                 std::string code;
                 std::vector<std::string> names, values;
               };
               const R r = args::Read<R>(m, a, args::Arg{"relatório", &R::code},
                                         args::Arg{"nomes dos parâmetros", &R::names},
                                         args::Arg{"valores dos parâmetros", &R::values});
               if (sessions) CheckScope(service, Caller(*sessions, ctx), r.names, r.values, m);
               return Value(service.ExecutaRelatorio(r.code, r.names, r.values));
             }));
  registry.Register(kReportServerObject, RequiringSession(t, sessions));
}

}  // namespace apura::server
