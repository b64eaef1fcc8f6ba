#pragma once
// The application-server objects by the names clients call them, shared by the
// screens that call and the server that answers, so neither types them again.

namespace apura::contract {

// The tally worksheet's own object and the purchasing parameters.
inline constexpr const char* kWorksheetObject = "Prq05001.rdmPlanApurNegGrid";
inline constexpr const char* kPurchasingObject = "Cmp.rdmCompras";
// Login(operator, password) answers [token, expiry date-time, operator name];
// Logout ends the call's session. The only calls that need no session.
inline constexpr const char* kSessionObject = "Apura.Sessao";
inline constexpr const char* kLoginMethod = "Login";
inline constexpr const char* kLogoutMethod = "Logout";
// The screens the worksheet opens: AF analysis, negotiation, spreadsheet
// information.
inline constexpr const char* kAfAnalysisObject = "Prq05100.rdmAnaliseAF";
inline constexpr const char* kNegotiationObject = "Prq01802.rdmNegociacao";
inline constexpr const char* kSpreadsheetObject = "Prq01803.rdmInfPlanilha";

}  // namespace apura::contract
