#include "server/embedded_server.h"

#include "rpc/grpc_transport.h"
#include "server/report_service.h"
#include "server/server_objects.h"
#include "server/sqlite_storage.h"

namespace apura::server {

struct EmbeddedServer::Impl {
  explicit Impl(const EmbeddedServerOptions& o)
      : storage(o.dbPath), service(storage), reports(o.dbPath) {
    if (o.demo && !service.TallyExists(o.demoOptions.tally)) {
      service.Import(GenerateDemo(o.demoOptions));
    }
    RegisterServerObjects(registry, service);
    RegisterReportObject(registry, reports);
    server = std::make_unique<rpc::GrpcServer>(registry, o.listen);
  }
  SqliteStorage storage;
  TallyService service;
  ReportService reports;
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
TallyService& EmbeddedServer::service() {
  return impl_->service;
}
void EmbeddedServer::Shutdown() {
  impl_->server->Shutdown();
}

}  // namespace apura::server
