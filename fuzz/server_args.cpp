// The server's argument decoding and its methods: any Invoke request, decoded
// as the gRPC server decodes it, is dispatched in a logged-in session to the
// real server objects over a demo tally. Every answer must be an envelope whose
// failure text is bounded; no crash, no undefined behaviour.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include <google/protobuf/stubs/logging.h>

#include "apura.pb.h"
#include "rpc/wire.h"
#include "server/exchange/demo.h"
#include "server/objects/server_objects.h"
#include "server/storage/sqlite/sqlite_storage.h"

using namespace apura;

namespace {

struct World {
  World() {
    // Every undecodable input would log a protobuf parse error; at thousands of
    // inputs a second that is the whole run's output. The server answers them anyway.
    google::protobuf::SetLogHandler(nullptr);
    const auto path = std::filesystem::temp_directory_path() /
                      ("apura-fuzz-" + std::to_string(::getpid()) + ".db");
    std::filesystem::remove(path);
    storage = std::make_unique<server::SqliteStorage>(path.string());
    service = std::make_unique<server::TallyService>(*storage);
    server::DemoOptions small;
    small.stockProducts = 2;
    small.branches = 2;
    small.suppliers = 2;
    service->Import(server::GenerateDemo(small));
    operators =
        std::make_unique<server::OperatorDirectory>(path.string(), server::HashCost::Minimum);
    sessions = std::make_unique<server::Sessions>(*operators);
    server::RegisterServerObjects(registry, *service, *sessions);
    context.sessionToken = sessions->Open(server::DemoBuyer(small)).token;
  }
  std::unique_ptr<server::SqliteStorage> storage;
  std::unique_ptr<server::TallyService> service;
  std::unique_ptr<server::OperatorDirectory> operators;
  std::unique_ptr<server::Sessions> sessions;
  rpc::ServerRegistry registry;
  rpc::CallContext context;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  wire::InvokeRequest request;
  if (!request.ParseFromArray(data, static_cast<int>(size))) return 0;
  std::vector<CallArg> args;
  try {
    for (wire::Arg& a : *request.mutable_args())
      args.push_back(CallArg{rpc::DecodeValue(a.mutable_value()), a.by_ref()});
  } catch (const std::invalid_argument&) {
    return 0;
  }
  Value envelope =
      world->registry.Dispatch(request.object(), request.method(), args, world->context);
  if (!rpc::IsEnvelope(envelope)) std::abort();
  const ValueArray& parts = envelope.AsArray();
  if (!parts[0].AsBoolean() && parts[1].ToText().size() > rpc::kMaxFailureTextBytes + 64)
    std::abort();
  return 0;
}
