#include "desktop/app/demo.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "framework/format.h"
#include "server/app/embedded_server.h"
#include "server/exchange/demo.h"

namespace apura::desktop {

struct DemoEnvironment::Impl {
  server::DemoOptions options;
  DateTime start, end;
  std::unique_ptr<server::EmbeddedServer> server;
  // Reads the demo tally into the server while the host starts.
  std::thread warm;
  ~Impl() {
    if (warm.joinable()) warm.join();
  }
};

namespace {

// What a start needs of the demo's document, kept beside its database so that
// a later start opens the database instead of making the document again. A
// file of another format or size is not trusted; neither is its database.
constexpr int kDemoCacheFormat = 1;

struct DemoFacts {
  DateTime start, end;
  std::vector<server::Region> regions;
};

std::optional<DemoFacts> ReadFacts(const std::filesystem::path& file, size_t rows) {
  std::ifstream in(file);
  std::string word;
  int format = 0;
  size_t madeFor = 0;
  DemoFacts f;
  size_t regions = 0;
  if (!(in >> word) || word != "format" || !(in >> format) || format != kDemoCacheFormat)
    return std::nullopt;
  if (!(in >> word) || word != "rows" || !(in >> madeFor) || madeFor != rows) return std::nullopt;
  if (!(in >> word) || word != "dates" || !(in >> f.start.days >> f.end.days)) return std::nullopt;
  if (!(in >> word) || word != "regions" || !(in >> regions) || regions > 10000)
    return std::nullopt;
  in.ignore(1);
  for (size_t i = 0; i < regions; ++i) {
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0) return std::nullopt;
    f.regions.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  if (!(in >> word) || word != "end") return std::nullopt;
  return f;
}

// Written aside and renamed into place: a start cut short leaves no half file.
void WriteFacts(const std::filesystem::path& file, size_t rows, const server::TallyDocument& doc) {
  const std::filesystem::path part = file.string() + ".part";
  {
    std::ofstream out(part, std::ios::trunc);
    out.precision(17);
    out << "format " << kDemoCacheFormat << "\nrows " << rows << "\ndates " << doc.start.days << ' '
        << doc.end.days << "\nregions " << doc.regions.size() << '\n';
    for (const server::Region& r : doc.regions) out << r.code << '\t' << r.name << '\n';
    out << "end\n";
    if (!out.flush()) return;
  }
  std::error_code ec;
  std::filesystem::rename(part, file, ec);
}

void RemoveDatabase(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    std::filesystem::remove(path + suffix, ec);
}

}  // namespace

// The server is the embedded one, on loopback only: the demo never listens
// beyond this machine, and logs its buyer in by itself.
DemoEnvironment::DemoEnvironment(const std::string& dir, size_t rows) : impl_(new Impl) {
  std::filesystem::create_directories(dir);
  Impl& d = *impl_;
  d.options = rows ? server::DemoOptions::ForDeliveryRows(rows) : server::DemoOptions{};
  const std::string suffix = rows ? "-" + std::to_string(rows) : std::string();
  dbPath_ = (std::filesystem::path(dir) / ("apura-demo" + suffix + ".sqlite")).string();
  const std::filesystem::path factsPath = dbPath_ + ".facts";
  auto startServer = [&](const server::TallyDocument* doc) {
    server::EmbeddedServerOptions o;
    o.dbPath = dbPath_;
    o.demoOptions = d.options;
    // Without a document the server makes the demo's again if its database
    // lacks the tally: the demo is the same at every making.
    o.demoDocument = doc;
    d.server = std::make_unique<server::EmbeddedServer>(std::move(o));
  };
  std::optional<DemoFacts> facts;
  if (std::filesystem::exists(dbPath_)) facts = ReadFacts(factsPath, rows);
  if (facts) {
    try {
      startServer(nullptr);
    } catch (const std::exception&) {
      // A database the server cannot open is made again, not reported.
      d.server.reset();
      facts.reset();
    }
  }
  server::TallyDocument seed;
  if (facts) {
    d.start = facts->start;
    d.end = facts->end;
    seed.regions = std::move(facts->regions);
  } else {
    // No facts of this format and size: whatever database is there was made
    // by another and is made again with them.
    std::error_code ec;
    std::filesystem::remove(factsPath, ec);
    RemoveDatabase(dbPath_);
    seed = server::GenerateDemo(d.options);
    startServer(&seed);
    WriteFacts(factsPath, rows, seed);
    d.start = seed.start;
    d.end = seed.end;
  }
  // The host opens this tally as soon as its window is up: the server reads
  // it from its database meanwhile instead of at the first call. A failure
  // here is the first call's to report.
  d.warm =
      std::thread([server = d.server.get(), centre = d.options.centre, tally = d.options.tally] {
        try {
          server::TallyService& service = server->service();
          service.Model(centre, tally);
          // The worksheet's first call then waits for the delivery rows'
          // packet on one core; the lists it asks for next are made on the
          // other meanwhile, and kept for the tally's version.
          service.GetPai_ItmApurPrec(centre, tally);
          service.GetApurNeg(centre, tally);
          service.GetProdItem(centre, tally);
          service.GetRegiao(centre, tally);
        } catch (...) {
        }
      });
  localPath_ = (std::filesystem::path(dir) / "apura-local-demo.sqlite").string();
  server::SeedLocalDatabase(localPath_, &seed);
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
          FormatDateTime(CurrentFormat().shortDateFormat, d.start),
          FormatDateTime(CurrentFormat().shortDateFormat, d.end),
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
