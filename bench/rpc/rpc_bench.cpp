// The delivery tables over loopback gRPC: fetch, decode and load into the
// worksheet's table, next to the same packet's in-process encode and decode and a
// unary no-op call. Demo tallies of 50,000 and 500,000 delivery rows are built
// once per run in the temporary directory.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "framework/dataset/dataset.h"
#include "rpc/grpc_transport.h"
#include "rpc/wire.h"
#include "server/exchange/demo.h"
#include "server/objects/server_objects.h"
#include "server/services/packets.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace {

using namespace apura;
using namespace apura::server;

class Noop : public rpc::IServerObject {
 public:
  Value Invoke(const std::string&, const std::vector<CallArg>&) override {
    return ResultOk(Value());
  }
};

// One server per process, holding both demo tallies.
struct World {
  std::unique_ptr<SqliteStorage> storage;
  std::unique_ptr<TallyService> service;
  std::unique_ptr<OperatorDirectory> operators;
  std::unique_ptr<Sessions> sessions;
  rpc::ServerRegistry registry;
  std::unique_ptr<rpc::GrpcServer> server;
  std::unique_ptr<ITransport> client;
  std::map<int64_t, std::string> tallies;  // rows -> tally number

  World() {
    auto dir = std::filesystem::temp_directory_path() / "apura-bench-rpc";
    std::filesystem::create_directories(dir);
    storage = std::make_unique<SqliteStorage>((dir / "bench.db").string());
    service = std::make_unique<TallyService>(*storage);
    for (int64_t rows : {50000, 500000}) {
      DemoOptions o = DemoOptions::ForDeliveryRows(static_cast<size_t>(rows));
      o.tally = std::to_string(rows);
      o.tally.insert(0, 1, 'B');
      o.centre = "0009";
      if (!service->TallyExists(o.tally)) service->Import(GenerateDemo(o));
      tallies[rows] = o.tally;
    }
    operators = std::make_unique<OperatorDirectory>((dir / "bench.db").string());
    sessions = std::make_unique<Sessions>(*operators);
    RegisterServerObjects(registry, *service, *sessions);
    rpc::SetClientSessionToken(sessions->Open(Operator{"BENCH", "Bench", {"*"}, {"*"}, {}}).token);
    registry.Register("Bench.Noop", std::make_shared<Noop>());
    server = std::make_unique<rpc::GrpcServer>(registry, "127.0.0.1:0");
    client = rpc::MakeGrpcTransport();
    client->Connect("127.0.0.1", server->port());
  }
};

World& W() {
  static World w;
  return w;
}

std::vector<CallArg> TallyArgs(int64_t rows) {
  return {ByRef(Value("0009")), ByRef(Value(W().tallies.at(rows)))};
}

const std::vector<FieldDef>& FieldsOf(const std::string& method) {
  return method == "GetDados" ? DadosFields() : ItmApurPrecFields();
}

void FetchDecodeLoad(benchmark::State& state, const std::string& method) {
  World& w = W();
  auto args = TallyArgs(state.range(0));
  std::string tableName = "cds";
  tableName.append(method, 3, std::string::npos);
  TClientDataSet table(tableName);
  for (const FieldDef& f : FieldsOf(method)) table.AddField(f);
  w.client->Invoke(kWorksheetObject, method, args);  // the server loads the tally once
  size_t rows = 0;
  for (auto _ : state) {
    Value env = w.client->Invoke(kWorksheetObject, method, args);
    const ValueArray& parts = env.AsArray();
    if (!parts[0].AsBoolean()) {
      state.SkipWithError(parts[1].ToText().c_str());
      return;
    }
    table.SetData(parts[1]);
    rows = table.StorageRows();
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void EncodeDecode(benchmark::State& state, const std::string& method) {
  World& w = W();
  auto model = w.service->Model("0009", w.tallies.at(state.range(0)));
  DataPacket p = method == "GetDados" ? DadosPacket(*model) : ItmApurPrecPacket(*model);
  size_t bytes = 0;
  for (auto _ : state) {
    wire::Value msg;
    rpc::EncodeValue(Value(p), &msg);
    std::string encoded;
    msg.SerializeToString(&encoded);
    wire::Value parsed;
    parsed.ParseFromString(encoded);
    Value back = rpc::DecodeValue(&parsed);
    benchmark::DoNotOptimize(back);
    bytes = encoded.size();
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

void BuildOnServer(benchmark::State& state, const std::string& method) {
  World& w = W();
  auto model = w.service->Model("0009", w.tallies.at(state.range(0)));
  for (auto _ : state) {
    DataPacket p = method == "GetDados" ? DadosPacket(*model) : ItmApurPrecPacket(*model);
    benchmark::DoNotOptimize(p);
  }
}

void BM_FetchDecodeLoad_GetItmApurPrec(benchmark::State& s) {
  FetchDecodeLoad(s, "GetItmApurPrec");
}
void BM_FetchDecodeLoad_GetDados(benchmark::State& s) {
  FetchDecodeLoad(s, "GetDados");
}
void BM_InProcessEncodeDecode_GetItmApurPrec(benchmark::State& s) {
  EncodeDecode(s, "GetItmApurPrec");
}
void BM_InProcessEncodeDecode_GetDados(benchmark::State& s) {
  EncodeDecode(s, "GetDados");
}
void BM_ServerBuildPacket_GetItmApurPrec(benchmark::State& s) {
  BuildOnServer(s, "GetItmApurPrec");
}
void BM_ServerBuildPacket_GetDados(benchmark::State& s) {
  BuildOnServer(s, "GetDados");
}

void BM_UnaryNoopRoundTrip(benchmark::State& state) {
  World& w = W();
  for (auto _ : state) {
    Value env = w.client->Invoke("Bench.Noop", "Noop", {});
    benchmark::DoNotOptimize(env);
  }
}

// The worksheet's calling pattern: the connection opens when its usage count
// leaves 0 and closes after the call.
void BM_ConnectCallDisconnect(benchmark::State& state) {
  World& w = W();
  auto t = rpc::MakeGrpcTransport();
  for (auto _ : state) {
    t->Connect("127.0.0.1", w.server->port());
    Value env = t->Invoke("Bench.Noop", "Noop", {});
    benchmark::DoNotOptimize(env);
    t->Disconnect();
  }
}

// Loading a tally from SQLite into the server's working model (first call after
// a write or a DelApuracao).
void BM_ServerLoadTallyFromSqlite(benchmark::State& state) {
  World& w = W();
  for (auto _ : state) {
    auto s = w.storage->OpenSession();
    Transaction tx(*s, false);
    auto h = s->Tally(w.tallies.at(state.range(0)));
    TallyModel m = s->LoadTally(*h);
    benchmark::DoNotOptimize(m);
    tx.Commit();
  }
}

// Loading a fetched packet into the worksheet's table, alone.
void LoadOnly(benchmark::State& state, const std::string& method) {
  World& w = W();
  auto model = w.service->Model("0009", w.tallies.at(state.range(0)));
  Value packet(method == "GetDados" ? DadosPacket(*model) : ItmApurPrecPacket(*model));
  TClientDataSet table("cds");
  for (const FieldDef& f : FieldsOf(method)) table.AddField(f);
  for (auto _ : state) table.SetData(packet);
}
void BM_TableLoad_GetItmApurPrec(benchmark::State& s) {
  LoadOnly(s, "GetItmApurPrec");
}
void BM_TableLoad_GetDados(benchmark::State& s) {
  LoadOnly(s, "GetDados");
}

// The server's best-quote tally: load, choose, clear and write the selections in
// one transaction.
void BM_ServerMelhorCotacao(benchmark::State& state) {
  World& w = W();
  const std::string& tally = w.tallies.at(state.range(0));
  for (auto _ : state) w.service->MelhorCotacao("0009", tally, "PRQ", "F");
}

#define SIZES Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_FetchDecodeLoad_GetItmApurPrec)->SIZES;
BENCHMARK(BM_FetchDecodeLoad_GetDados)->SIZES;
BENCHMARK(BM_InProcessEncodeDecode_GetItmApurPrec)->SIZES;
BENCHMARK(BM_InProcessEncodeDecode_GetDados)->SIZES;
BENCHMARK(BM_ServerBuildPacket_GetItmApurPrec)->SIZES;
BENCHMARK(BM_ServerBuildPacket_GetDados)->SIZES;
BENCHMARK(BM_TableLoad_GetItmApurPrec)->SIZES;
BENCHMARK(BM_TableLoad_GetDados)->SIZES;
BENCHMARK(BM_ServerLoadTallyFromSqlite)->SIZES;
BENCHMARK(BM_UnaryNoopRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ConnectCallDisconnect)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ServerMelhorCotacao)->SIZES;

}  // namespace

// As the programs do; APURA_DEFAULT_MALLOC=1 measures without.
int main(int argc, char** argv) {
  if (!std::getenv("APURA_DEFAULT_MALLOC")) apura::rpc::TuneAllocatorForLargePackets();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
