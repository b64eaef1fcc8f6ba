#include "server/app/embedded_server.h"

#include "rpc/grpc_transport.h"
#include "server/objects/server_objects.h"
#include "server/services/report_service.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace apura::server {

struct EmbeddedServer::Impl {
  explicit Impl(const EmbeddedServerOptions& o)
      : storage(o.dbPath),
        service(storage),
        reports(storage),
        operators(storage),
        sessions(operators) {
    if (o.demo && !service.TallyExists(o.demoOptions.tally))
      service.Import(o.demoDocument ? *o.demoDocument : GenerateDemo(o.demoOptions));
    RegisterServerObjects(registry, service, sessions);
    RegisterReportObject(registry, reports, &sessions);
    server = std::make_unique<rpc::GrpcServer>(registry, o.listen);
    token = sessions.Open(DemoBuyer(o.demoOptions)).token;
  }
  SqliteStorage storage;
  TallyService service;
  ReportService reports;
  OperatorDirectory operators;
  Sessions sessions;
  std::string token;
  rpc::ServerRegistry registry;
  std::unique_ptr<rpc::GrpcServer> server;
};

EmbeddedServer::EmbeddedServer(EmbeddedServerOptions options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>(options_)) {}

EmbeddedServer::~EmbeddedServer() = default;

int EmbeddedServer::port() const {
  return impl_->server->port();
}
std::string EmbeddedServer::address() const {
  return impl_->server->address();
}
const std::string& EmbeddedServer::token() const {
  return impl_->token;
}
Sessions& EmbeddedServer::sessions() {
  return impl_->sessions;
}
TallyService& EmbeddedServer::service() {
  return impl_->service;
}
void EmbeddedServer::Shutdown() {
  impl_->server->Shutdown();
}

}  // namespace apura::server
