#include "desktop/app/demo.h"

#include <filesystem>
#include <thread>

#include "framework/format.h"
#include "server/app/embedded_server.h"
#include "server/exchange/demo.h"

namespace apura::desktop {

struct DemoEnvironment::Impl {
  server::DemoOptions options;
  server::TallyDocument doc;
  std::unique_ptr<server::EmbeddedServer> server;
  // Reads the demo tally into the server while the host starts.
  std::thread warm;
  ~Impl() {
    if (warm.joinable()) warm.join();
  }
};

// The server is the embedded one, on loopback only: the demo never listens
// beyond this machine, and logs its buyer in by itself.
DemoEnvironment::DemoEnvironment(const std::string& dir, size_t rows) : impl_(new Impl) {
  std::filesystem::create_directories(dir);
  Impl& d = *impl_;
  d.options = rows ? server::DemoOptions::ForDeliveryRows(rows) : server::DemoOptions{};
  const std::string suffix = rows ? "-" + std::to_string(rows) : std::string();
  d.doc = server::GenerateDemo(d.options);
  dbPath_ = (std::filesystem::path(dir) / ("apura-demo" + suffix + ".sqlite")).string();
  server::EmbeddedServerOptions o;
  o.dbPath = dbPath_;
  o.demoOptions = d.options;
  o.demoDocument = &d.doc;
  d.server = std::make_unique<server::EmbeddedServer>(std::move(o));
  // The host opens this tally as soon as its window is up: the server reads
  // it from its database meanwhile instead of at the first call. A failure
  // here is the first call's to report.
  d.warm =
      std::thread([server = d.server.get(), centre = d.options.centre, tally = d.options.tally] {
        try {
          server->service().Model(centre, tally);
        } catch (...) {
        }
      });
  localPath_ = (std::filesystem::path(dir) / "apura-local-demo.sqlite").string();
  server::SeedLocalDatabase(localPath_, &d.doc);
}

std::unique_ptr<DemoEnvironment> DemoEnvironment::FromSettings(const HostSettings& settings,
                                                               const std::string& defaultDir) {
  return std::make_unique<DemoEnvironment>(settings.demoDir.empty() ? defaultDir : settings.demoDir,
                                           settings.demoRows);
}

DemoEnvironment::~DemoEnvironment() {
  if (impl_->warm.joinable()) impl_->warm.join();
  if (impl_->server) impl_->server->Shutdown();
}

int DemoEnvironment::Port() const {
  return impl_->server->port();
}

const std::string& DemoEnvironment::SessionToken() const {
  return impl_->server->token();
}
std::string DemoEnvironment::Address() const {
  return impl_->server->address();
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
  server::TallyService& service = d.server->service();
  const DataPacket items = service.GetDados(d.options.centre, d.options.tally);
  const int sel = items.FieldIndex("IDITMSELAPUR");
  for (size_t r = 0; r < items.RowCount(); ++r)
    if (items.Text(static_cast<size_t>(sel), r) == "S") return;
  service.MelhorCotacao(d.options.centre, d.options.tally, "PRQ", "F");
}

}  // namespace apura::desktop
