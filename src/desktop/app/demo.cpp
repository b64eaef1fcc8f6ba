#include "desktop/app/demo.h"

#include <filesystem>

#include "framework/format.h"
#include "rpc/grpc_transport.h"
#include "server/exchange/demo.h"
#include "server/objects/server_objects.h"
#include "server/services/report_service.h"
#include "server/services/tally_service.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::desktop {

struct DemoEnvironment::Impl {
  server::DemoOptions options;
  server::TallyDocument doc;
  std::unique_ptr<server::SqliteStorage> storage;
  std::unique_ptr<server::TallyService> service;
  std::unique_ptr<server::ReportService> reports;
  std::unique_ptr<server::OperatorDirectory> operators;
  std::unique_ptr<server::Sessions> sessions;
  std::string token;
  rpc::ServerRegistry registry;
  std::unique_ptr<rpc::GrpcServer> grpc;
};

DemoEnvironment::DemoEnvironment(const std::string& dir, size_t rows) : impl_(new Impl) {
  std::filesystem::create_directories(dir);
  Impl& d = *impl_;
  d.options = rows ? server::DemoOptions::ForDeliveryRows(rows) : server::DemoOptions{};
  const std::string suffix = rows ? "-" + std::to_string(rows) : std::string();
  d.doc = server::GenerateDemo(d.options);
  dbPath_ = (std::filesystem::path(dir) / ("apura-demo" + suffix + ".sqlite")).string();
  d.storage = std::make_unique<server::SqliteStorage>(dbPath_);
  d.service = std::make_unique<server::TallyService>(*d.storage);
  if (!d.service->TallyExists(d.options.tally)) d.service->Import(d.doc);
  d.operators = std::make_unique<server::OperatorDirectory>(dbPath_);
  d.sessions = std::make_unique<server::Sessions>(*d.operators);
  server::RegisterServerObjects(d.registry, *d.service, *d.sessions);
  d.reports = std::make_unique<server::ReportService>(dbPath_);
  server::RegisterReportObject(d.registry, *d.reports, d.sessions.get());
  // The demo logs its buyer in by itself: this program runs the server too.
  d.token = d.sessions->Open(server::DemoBuyer(d.options)).token;
  // Loopback only: the demo never listens beyond this machine.
  d.grpc = std::make_unique<rpc::GrpcServer>(d.registry, "127.0.0.1:0");
  localPath_ = (std::filesystem::path(dir) / "apura-local-demo.sqlite").string();
  server::SeedLocalDatabase(localPath_, &d.doc);
}

std::unique_ptr<DemoEnvironment> DemoEnvironment::FromSettings(const HostSettings& settings,
                                                               const std::string& defaultDir) {
  return std::make_unique<DemoEnvironment>(settings.demoDir.empty() ? defaultDir : settings.demoDir,
                                           settings.demoRows);
}

DemoEnvironment::~DemoEnvironment() {
  if (impl_->grpc) impl_->grpc->Shutdown();
}

int DemoEnvironment::Port() const {
  return impl_->grpc->port();
}

const std::string& DemoEnvironment::SessionToken() const {
  return impl_->token;
}
std::string DemoEnvironment::Address() const {
  return impl_->grpc->address();
}

std::vector<std::string> DemoEnvironment::LaunchValues() const {
  const Impl& d = *impl_;
  return {d.options.centre,
          d.options.buyer,
          "Comprador de Demonstração",
          FormatDateTime(CurrentFormat().shortDateFormat, d.doc.start),
          FormatDateTime(CurrentFormat().shortDateFormat, d.doc.end),
          d.options.tally,
          "N"};
}

void DemoEnvironment::Configure(HostSettings& s) const {
  s.serverHost = "127.0.0.1";
  s.serverPort = Port();
  s.localDatabase = localPath_;
  s.operatorCode = impl_->options.buyer;
  // The demo's tree codes are stored with their dots ("1.01.001").
  s.productTreePicture.clear();
  if (!s.launchValues) s.launchValues = LaunchValues();
}

void DemoEnvironment::EnsureTallied() {
  Impl& d = *impl_;
  const DataPacket items = d.service->GetDados(d.options.centre, d.options.tally);
  const int sel = items.FieldIndex("IDITMSELAPUR");
  for (size_t r = 0; r < items.RowCount(); ++r)
    if (items.Text(static_cast<size_t>(sel), r) == "S") return;
  d.service->MelhorCotacao(d.options.centre, d.options.tally, "PRQ", "F");
}

}  // namespace apura::desktop
