// The demo server inside a program, reached over loopback gRPC as the host does.

#include <gtest/gtest.h>

#include <filesystem>

#include "rpc/grpc_transport.h"
#include "server/app/embedded_server.h"
#include "server/objects/server_objects.h"

namespace apura::server {
namespace {

TEST(EmbeddedServerTest, ServesTheDemoTallyOverGrpc) {
  auto db = std::filesystem::temp_directory_path() /
            ("apura-embedded-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(db);
  EmbeddedServerOptions options;
  options.dbPath = db.string();
  {
    EmbeddedServer server(options);
    rpc::GrpcClientOptions with;
    with.sessionToken = [&] { return server.token(); };
    auto client = rpc::MakeGrpcTransport(with);
    client->Connect("127.0.0.1", server.port());
    // Without the session, nothing is served.
    auto anonymous = rpc::MakeGrpcTransport(rpc::GrpcClientOptions{});
    anonymous->Connect("127.0.0.1", server.port());
    Value refused = anonymous->Invoke(kPurchasingObject, "GetParamCmp",
                                      {ByRef(Value(server.demo().centre)), ByVal(Value("PRQ"))});
    EXPECT_FALSE(refused.AsArray()[0].AsBoolean());
    EXPECT_NE(refused.AsArray()[1].ToText().find("faça login"), std::string::npos);
    auto call = [&](const char* object, const char* method, std::vector<CallArg> args) {
      Value env = client->Invoke(object, method, args);
      EXPECT_TRUE(env.AsArray()[0].AsBoolean()) << method << ": " << env.AsArray()[1].ToText();
      return env.AsArray()[1];
    };
    const std::string centre = server.demo().centre, tally = server.demo().tally;
    EXPECT_EQ(call(kPurchasingObject, "GetParamCmp", {ByRef(Value(centre)), ByVal(Value("PRQ"))})
                  .AsPacket()
                  .RowCount(),
              1u);
    call(kWorksheetObject, "DelApuracao", {ByRef(Value(centre)), ByRef(Value(""))});
    call(kWorksheetObject, "MelhorCotacao",
         {ByRef(Value(centre)), ByRef(Value(tally)), ByRef(Value("PRQ")), ByRef(Value("F"))});
    DataPacket items =
        call(kWorksheetObject, "GetItmApurPrec", {ByRef(Value(centre)), ByRef(Value(tally))})
            .AsPacket();
    size_t chosen = 0;
    int sel = items.FieldIndex("IDITMSELAPUR");
    for (size_t r = 0; r < items.RowCount(); ++r) chosen += items.Text(sel, r) == "S";
    EXPECT_GT(chosen, 0u);
    EXPECT_LT(chosen, items.RowCount());
  }
  // A second start over the same file reuses the demo tally.
  EmbeddedServer again(options);
  EXPECT_TRUE(again.service().TallyExists("1234"));
  again.Shutdown();
  std::filesystem::remove(db);
  std::filesystem::remove(db.string() + "-wal");
  std::filesystem::remove(db.string() + "-shm");
}

}  // namespace
}  // namespace apura::server
