#include "demo_host.h"

#include "desktop/app/demo.h"
#include "desktop/app/local_database.h"
#include "framework/format.h"
#include "framework/netconnection.h"
#include "framework/query.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop::test {

HostSettings StartDemoHost(const QTemporaryDir& dir, std::unique_ptr<DemoEnvironment>& demo) {
  CurrentFormat().decimalSeparator = ',';
  CurrentFormat().thousandSeparator = '.';
  CurrentFormat().shortDateFormat = "dd/mm/yyyy";
  demo = std::make_unique<DemoEnvironment>(dir.path().toStdString());
  rpc::SetClientSessionToken(demo->SessionToken());
  HostSettings settings;
  settings.decimalSeparator = ',';
  settings.shortDateFormat = "dd/mm/yyyy";
  settings.activeModule = 34;
  demo->Configure(settings);
  SetDefaultDatabase(std::make_shared<SqliteDatabase>(demo->LocalDatabasePath()));
  SetDefaultTransportFactory([](const TNetConnection&) -> std::shared_ptr<ITransport> {
    return rpc::MakeGrpcTransport();
  });
  return settings;
}

void StopDemoHost(std::unique_ptr<DemoEnvironment>& demo) {
  SetDefaultDatabase(nullptr);
  SetDefaultTransportFactory(nullptr);
  demo.reset();
}

}  // namespace apura::desktop::test
