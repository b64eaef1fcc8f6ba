#pragma once
// The server's reports: definitions kept in the database as text (the shipped
// ones installed when missing), read by code, and their queries run here,
// read-only, with the parameters the client's form filled.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/packet.h"
#include "framework/report.h"
#include "framework/value.h"
#include "server/storage/storage.h"

namespace apura::rpc {
class ServerRegistry;
}

namespace apura::server {

class Sessions;

// A stored definition: the layout the client draws and the queries this
// server runs, by name.
struct StoredReport {
  ReportDefinition layout;
  std::map<std::string, std::string> sql;  // query name → statement
};

// Reads a definition's text (JSON); errors name the report and the member.
StoredReport ParseReportDefinition(const std::string& text);

// The definitions shipped with the server, as text by code.
const std::map<std::string, std::string>& ShippedReports();

class ReportService {
 public:
  // Definitions and queries in the storage the server uses, SQLite or
  // PostgreSQL alike.
  explicit ReportService(IStorage& storage);
  ~ReportService();
  ReportService(const ReportService&) = delete;
  ReportService& operator=(const ReportService&) = delete;

  // Stores (replacing) a definition after checking it.
  void Save(const std::string& text);
  DataPacket GetRelatorio(const std::string& code);
  // One packet a query, in the definition's order. Every parameter a query
  // names must be given; the values are bound, never spliced into the text.
  ValueArray ExecutaRelatorio(const std::string& code, const std::vector<std::string>& names,
                              const std::vector<std::string>& values);
  // The centre of a stored tally; empty when there is no such tally.
  std::string CentreOfTally(const std::string& tally);

 private:
  StoredReport Load(IStorageSession& s, const std::string& code);
  void InstallShipped();
  IStorage& storage_;
};

// The report object (kReportServerObject): GetRelatorio(code) and
// ExecutaRelatorio(code, names, values).
// With sessions, every call needs a live one, and a parameter naming a centre
// or a branch (its name holds CDCENT or CDFIL) must name one of the caller's;
// one naming a tally (NRAPUR, NRSEQAPUR) a tally of one of the caller's centres.
void RegisterReportObject(rpc::ServerRegistry& registry, ReportService& service,
                          Sessions* sessions = nullptr);

}  // namespace apura::server
