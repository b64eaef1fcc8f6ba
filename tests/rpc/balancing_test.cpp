// A client given several servers: the list it reads, calls spread over the
// servers that answer, reads sent again when a server goes away under them,
// writes never sent twice.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>

#include <grpcpp/grpcpp.h>

#include "apura.grpc.pb.h"
#include "rpc/grpc_transport.h"

namespace apura::rpc {
namespace {

TEST(ServerAddressesTest, ListsAreReadEntryByEntry) {
  auto a = ParseServerAddresses("srv1:50052, 10.0.0.7 ,[::1]:7000,fe80::1", 50051);
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0].Text(), "srv1:50052");
  EXPECT_EQ(a[1].Text(), "10.0.0.7:50051");
  EXPECT_EQ(a[2].host, "::1");
  EXPECT_EQ(a[2].Text(), "[::1]:7000");
  EXPECT_EQ(a[3].Text(), "[fe80::1]:50051");

  // Each refusal names the entry at fault.
  for (const char* bad : {"srv1:50051,", "srv1:0", "srv1:65536", "srv1:5x", "srv1:", "[::1",
                          "[::1]7000", "a b:1", ":5000", "srv1:50051,,srv2:50051"}) {
    try {
      ParseServerAddresses(bad, 50051);
      ADD_FAILURE() << bad << " was taken for a list of servers";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("is not an address"), std::string::npos) << e.what();
    }
  }
  try {
    ParseServerAddresses("srv1:1,srv2", 0);
    ADD_FAILURE() << "an entry without a port was taken where every one needs one";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("\"srv2\""), std::string::npos) << e.what();
  }
}

TEST(ServerAddressesTest, OnlyReadsMaySendACallAgain) {
  for (const char* m : {"GetDados", "GetItmApurPrec", "GetAutoForne", "SimulaPreco",
                        "ExecutaRelatorio", "GetRelatorio"})
    EXPECT_TRUE(IsRetryableRead(m)) << m;
  for (const char* m : {"Gera_AF", "ExcluiAF", "AtuaPrecEco", "MelhorCotacao", "GravaPreco",
                        "Login", "Logout", "DelApuracao", "Atualiza_PrecoEco"})
    EXPECT_FALSE(IsRetryableRead(m)) << m;
}

// Answers which server it is and counts the calls it took.
class Tagged : public IServerObject {
 public:
  explicit Tagged(std::string tag) : tag_(std::move(tag)) {}
  Value Invoke(const std::string& method, const std::vector<CallArg>&) override {
    ++calls;
    if (method == "GetFails") throw std::runtime_error("disco cheio");
    return ResultOk(Value(tag_));
  }
  std::atomic<int> calls{0};

 private:
  std::string tag_;
};

struct TaggedServer {
  explicit TaggedServer(const std::string& tag) : object(std::make_shared<Tagged>(tag)) {
    registry.Register("Test.Tagged", object);
    server = std::make_unique<GrpcServer>(registry, "127.0.0.1:0");
  }
  ServerRegistry registry;
  std::shared_ptr<Tagged> object;
  std::unique_ptr<GrpcServer> server;
};

std::string Tag(const Value& envelope) {
  EXPECT_TRUE(envelope.AsArray()[0].AsBoolean()) << envelope.AsArray()[1].ToText();
  return envelope.AsArray()[1].ToText();
}

TEST(BalancingTest, CallsGoRoundTheServersAndOnThroughTheOneLeft) {
  TaggedServer a("a"), b("b");
  const std::string list = a.server->address() + "," + b.server->address();
  auto client = MakeGrpcTransport();
  client->Connect(list, 0);
  // Both connect in the background; once both took a call, they alternate.
  std::map<std::string, int> seen;
  for (int i = 0; i < 400 && seen.size() < 2; ++i)
    ++seen[Tag(client->Invoke("Test.Tagged", "GetX", {}))];
  ASSERT_EQ(seen.size(), 2u) << "every call went to one server";
  seen.clear();
  for (int i = 0; i < 10; ++i) ++seen[Tag(client->Invoke("Test.Tagged", "GetX", {}))];
  EXPECT_EQ(seen["a"], 5);
  EXPECT_EQ(seen["b"], 5);

  // A failure the server answered is the answer, even to a read: asking
  // again would only repeat it.
  const int calls = a.object->calls + b.object->calls;
  Value failed = client->Invoke("Test.Tagged", "GetFails", {});
  EXPECT_EQ(FailureCode(failed), ErrorCode::Internal);
  EXPECT_EQ(a.object->calls + b.object->calls - calls, 1);

  // One server stops: every later call, reads and writes, goes to the other.
  const std::string gone = a.server->address();
  a.server.reset();
  const int before = b.object->calls;
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Tag(client->Invoke("Test.Tagged", i % 2 ? "GetX" : "Gera_AF", {})), "b");
  }
  EXPECT_EQ(b.object->calls - before, 20);

  // A client connecting now finds the one that answers.
  auto late = MakeGrpcTransport();
  late->Connect(list, 0);
  EXPECT_EQ(Tag(late->Invoke("Test.Tagged", "GetX", {})), "b");

  // None left: the failure names every server of the list.
  b.server.reset();
  for (ITransport* t : {client.get(), late.get()}) {
    try {
      t->Invoke("Test.Tagged", "GetX", {});
      ADD_FAILURE() << "a call succeeded with no server left";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(gone), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(list.substr(list.find(',') + 1)), std::string::npos)
          << e.what();
    }
  }
  auto none = MakeGrpcTransport();
  try {
    none->Connect(list, 0);
    ADD_FAILURE() << "connected with no server listening";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(gone + ", "), std::string::npos) << e.what();
  }
  EXPECT_FALSE(none->IsConnected());
}

// A server whose connection is lost under every call: the client sees
// UNAVAILABLE after the call reached it, as when a server is killed mid-call.
class Vanishing final : public wire::ApplicationServer::Service {
 public:
  grpc::Status Invoke(grpc::ServerContext* context, const wire::InvokeRequest* request,
                      grpc::ServerWriter<wire::InvokeReply>*) override {
    // A small request travels in the call's metadata, its body empty.
    wire::InvokeRequest whole = *request;
    const auto& metadata = context->client_metadata();
    if (auto it = metadata.find(kRequestMetadataKey); it != metadata.end())
      whole.ParseFromArray(it->second.data(), static_cast<int>(it->second.size()));
    std::lock_guard lock(mutex);
    ++calls[whole.method()];
    return grpc::Status(code.load(), "connection lost");
  }
  // UNAVAILABLE: the server went away; INTERNAL: a proxy reset the stream.
  std::atomic<grpc::StatusCode> code{grpc::StatusCode::UNAVAILABLE};
  int Calls(const std::string& method) {
    std::lock_guard lock(mutex);
    return calls[method];
  }

 private:
  std::mutex mutex;
  std::map<std::string, int> calls;
};

// A raw gRPC server of `service` on a free loopback port.
std::unique_ptr<grpc::Server> Serve(grpc::Service& service, int& port) {
  grpc::ServerBuilder builder;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
  builder.RegisterService(&service);
  return builder.BuildAndStart();
}

TEST(BalancingTest, ReadsLostUnderwayGoToAnotherServerWritesAreReportedOnce) {
  Vanishing vanishing;
  int port = 0;
  std::unique_ptr<grpc::Server> lossy = Serve(vanishing, port);
  ASSERT_NE(port, 0);
  TaggedServer good("good");
  const std::string lossyAddress = "127.0.0.1:" + std::to_string(port);
  auto client = MakeGrpcTransport();
  client->Connect(lossyAddress + "," + good.server->address(), 0);

  // Every read is answered, those the lossy server lost by the other.
  for (int i = 0; i < 400 && vanishing.Calls("GetDados") < 3; ++i)
    EXPECT_EQ(Tag(client->Invoke("Test.Tagged", "GetDados", {})), "good");
  ASSERT_GE(vanishing.Calls("GetDados"), 3) << "the lossy server never took a read";

  // A write the lossy server lost is reported, naming the servers, and never
  // sent again: each failure is one call that reached it.
  int failed = 0, done = 0;
  const int goodBefore = good.object->calls;
  for (int i = 0; i < 400 && failed < 3; ++i) {
    try {
      EXPECT_EQ(Tag(client->Invoke("Test.Tagged", "Gera_AF", {})), "good");
      ++done;
    } catch (const std::runtime_error& e) {
      ++failed;
      EXPECT_NE(std::string(e.what()).find(lossyAddress), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("may have been carried out"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(failed, 3);
  EXPECT_EQ(vanishing.Calls("Gera_AF"), failed);
  EXPECT_EQ(good.object->calls - goodBefore, done);
  lossy->Shutdown();
}

// With one server too (a proxy in front), a read lost underway is sent again,
// whether the connection went or the proxy reset the stream; a write is not.
TEST(BalancingTest, OneServerReadIsTriedAgainWriteIsNot) {
  Vanishing vanishing;
  int port = 0;
  std::unique_ptr<grpc::Server> lossy = Serve(vanishing, port);
  ASSERT_NE(port, 0);
  auto client = MakeGrpcTransport();
  client->Connect("127.0.0.1", port);
  for (grpc::StatusCode code : {grpc::StatusCode::UNAVAILABLE, grpc::StatusCode::INTERNAL}) {
    vanishing.code = code;
    const int reads = vanishing.Calls("GetDados"), writes = vanishing.Calls("AtuaPrecEco");
    EXPECT_THROW(client->Invoke("Test.Tagged", "GetDados", {}), std::runtime_error);
    EXPECT_GT(vanishing.Calls("GetDados") - reads, 1) << code;
    try {
      client->Invoke("Test.Tagged", "AtuaPrecEco", {});
      ADD_FAILURE() << "a lost write was taken for done";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("may have been carried out"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(vanishing.Calls("AtuaPrecEco") - writes, 1) << code;
  }
  lossy->Shutdown();
}

}  // namespace
}  // namespace apura::rpc
