// The report object: a definition the fuzzer writes (whole, or only its query
// inside a fixed definition) is saved and run with the fuzzer's parameter
// values, under a short deadline, on the SQLite storage over a demo tally. A
// definition is refused or run; a run is answered or refused; every answer is
// an envelope with a bounded failure text, and nothing reaches the operators'
// table or another file.

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "framework/report.h"
#include "rpc/call_deadline.h"
#include "server/exchange/demo.h"
#include "server/exchange/json.h"
#include "server/objects/server_objects.h"
#include "server/services/report_service.h"
#include "server/storage/sqlite/sqlite_storage.h"

using namespace apura;

namespace {

struct World {
  World() {
    dir = std::filesystem::temp_directory_path() /
          ("apura-fuzz-report-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    storage = std::make_unique<server::SqliteStorage>((dir / "report.db").string());
    service = std::make_unique<server::TallyService>(*storage);
    server::DemoOptions small;
    small.stockProducts = 2;
    small.branches = 2;
    small.suppliers = 2;
    service->Import(server::GenerateDemo(small));
    reports = std::make_unique<server::ReportService>(*storage);
    server::RegisterReportObject(registry, *reports, nullptr);
  }
  std::filesystem::path dir;
  std::unique_ptr<server::SqliteStorage> storage;
  std::unique_ptr<server::TallyService> service;
  std::unique_ptr<server::ReportService> reports;
  rpc::ServerRegistry registry;
};

// Input: a mode byte, then the definition (mode even) or its query (mode odd)
// up to the first NUL, then parameter values separated by NULs.
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t cut = input.find('\0');
  std::string definition = input.substr(0, cut);
  ValueArray names, values;
  if (cut != std::string::npos) {
    std::string rest = input.substr(cut + 1);
    for (size_t at = 0, n = 0; at <= rest.size() && n < 8; ++n) {
      const size_t end = std::min(rest.find('\0', at), rest.size());
      names.push_back(Value("P" + std::to_string(n)));
      values.push_back(Value(rest.substr(at, end - at)));
      at = end + 1;
    }
  }
  if (data[0] & 1) {
    server::Json query = definition;
    definition = R"({"code": "FZ01", "title": "Fuzz", "params": ["P0", "P1"],
      "queries": [{"name": "q", "role": "detail", "sql": )" +
                 server::DumpJson(query, -1) +
                 R"(}], "columns": [{"caption": "A", "field": "A"}]})";
  }
  try {
    world->reports->Save(definition);
  } catch (const std::exception&) {
    return 0;  // refused, saying why
  }
  rpc::CallDeadlineScope deadline(rpc::DeadlineClock::now() + std::chrono::milliseconds(200));
  for (const char* code : {"FZ01", "LIB050"}) {
    Value envelope = world->registry.Dispatch(
        kReportServerObject, "ExecutaRelatorio",
        {ByVal(Value(code)), ByVal(Value(names)), ByVal(Value(values))}, {});
    if (!rpc::IsEnvelope(envelope)) std::abort();
    const ValueArray& parts = envelope.AsArray();
    if (!parts[0].AsBoolean() && parts[1].ToText().size() > rpc::kMaxFailureTextBytes + 64)
      std::abort();
  }
  // The operators' table is never reached, and no other file appears.
  for (const auto& entry : std::filesystem::directory_iterator(world->dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("report.db", 0) != 0) std::abort();
  }
  return 0;
}
