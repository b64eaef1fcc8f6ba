// What a caller without a session can make the server take in: a small request
// in the metadata, never a body. Measured on apura-server in a process of its
// own, where its resident memory is its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>

#include "rpc/grpc_transport.h"

extern char** environ;

namespace apura::rpc {
namespace {

constexpr const char* kInvoke = "/apura.wire.ApplicationServer/Invoke";

// One call with `body` as its request and `token` in its metadata; `stall`
// starts the call and sends nothing, as a client that went quiet.
grpc::Status RawCall(grpc::GenericStub& stub, const std::string& token, const grpc::Slice* body,
                     bool stall = false) {
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
  if (!token.empty()) context.AddMetadata(kSessionMetadataKey, token);
  grpc::CompletionQueue cq;
  auto call = stub.PrepareCall(&context, kInvoke, &cq);
  void* tag = nullptr;
  bool ok = false;
  auto step = [&](void* t) {
    while (cq.Next(&tag, &ok))
      if (tag == t) return ok;
    return false;
  };
  call->StartCall(reinterpret_cast<void*>(1));
  step(reinterpret_cast<void*>(1));
  if (!stall) {
    grpc::ByteBuffer request(body, 1);
    call->WriteLast(request, grpc::WriteOptions(), reinterpret_cast<void*>(2));
    step(reinterpret_cast<void*>(2));
  }
  // The refusal's envelope, then the status.
  for (grpc::ByteBuffer reply;;) {
    call->Read(&reply, reinterpret_cast<void*>(4));
    if (!step(reinterpret_cast<void*>(4))) break;
  }
  grpc::Status status;
  call->Finish(&status, reinterpret_cast<void*>(3));
  step(reinterpret_cast<void*>(3));
  cq.Shutdown();
  while (cq.Next(&tag, &ok)) {
  }
  return status;
}

TEST(StrangerTest, ABodyIsReadOnlyInALiveSessionAndWithinItsMethodsLimit) {
  std::atomic<int> served{0};
  class Counting : public IServerObject {
   public:
    explicit Counting(std::atomic<int>& n) : n_(n) {}
    Value Invoke(const std::string&, const std::vector<CallArg>& args) override {
      ++n_;
      return ResultOk(Value(static_cast<int64_t>(args.at(0).value.AsArray().size())));
    }
    std::atomic<int>& n_;
  };
  ServerRegistry registry;
  registry.Register("Test.Count", std::make_shared<Counting>(served));
  GrpcServerOptions options;
  options.sessionAlive = [](const std::string& token) {
    return token == "live" ? std::string() : std::string("Sessão desconhecida: faça login.");
  };
  options.packetMethods = {"Packet"};
  options.maxPlainRequestBytes = 64 << 10;
  options.maxPacketRequestBytes = 1 << 20;
  GrpcServer server(registry, "127.0.0.1:0", options);
  std::string token;
  GrpcClientOptions own;
  own.sessionToken = [&] { return token; };
  auto client = MakeGrpcTransport(own);
  client->Connect("127.0.0.1", server.port());
  // About `kib` KiB of request, as that many texts of 1 KiB (a text alone is
  // held to 64 KiB before any method).
  auto call = [&](const std::string& method, size_t kib) {
    ValueArray texts(kib, Value(std::string(1024, 'x')));
    return client->Invoke("Test.Count", method, {ByVal(Value(std::move(texts)))});
  };

  // Small calls come in the metadata and reach the object, which checks the
  // session itself (a login has none).
  EXPECT_TRUE(call("Plain", 1).AsArray()[0].AsBoolean());
  EXPECT_EQ(served, 1);
  // A body without a live session is refused before it is read.
  for (const char* t : {"", "stale"}) {
    token = t;
    Value env = call("Packet", 200);
    ASSERT_FALSE(env.AsArray()[0].AsBoolean());
    EXPECT_EQ(env.AsArray()[1].ToText(), "Sessão desconhecida: faça login.");
    EXPECT_EQ(FailureCode(env), ErrorCode::Unauthenticated);
  }
  EXPECT_EQ(served, 1);
  // In a live session, each method within its own limit.
  token = "live";
  EXPECT_EQ(call("Plain", 60).AsArray()[1].AsInteger(), 60);
  Value env = call("Plain", 200);
  ASSERT_FALSE(env.AsArray()[0].AsBoolean());
  EXPECT_NE(env.AsArray()[1].ToText().find("Plain: o pedido tem"), std::string::npos)
      << env.AsArray()[1].ToText();
  EXPECT_EQ(FailureCode(env), ErrorCode::InvalidArgument);
  EXPECT_EQ(call("packet", 900).AsArray()[1].AsInteger(), 900);
  // Beyond the largest any method takes, gRPC itself refuses the body.
  EXPECT_THROW(call("Packet", 2048), std::runtime_error);
  EXPECT_EQ(served, 3);
}

long ResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// apura-server on a fresh database, on a free loopback port.
class ServerProcess {
 public:
  explicit ServerProcess(const std::filesystem::path& dir) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string db = (dir / "stranger.db").string();
    std::vector<const char*> argv{APURA_SERVER_PROGRAM, "--db",        db.c_str(), "--create",
                                  "--listen",           "127.0.0.1:0", nullptr};
    if (posix_spawn(&pid_, APURA_SERVER_PROGRAM, &actions, nullptr,
                    const_cast<char* const*>(argv.data()), environ) != 0)
      throw std::runtime_error("cannot start " APURA_SERVER_PROGRAM);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[256];
    const std::string listening = "apura-server listening on ";
    while (fgets(line, sizeof line, f)) {
      std::string s = line;
      if (s.rfind(listening, 0) == 0) {
        address_ = s.substr(listening.size(), s.find_last_not_of("\r\n") + 1 - listening.size());
        break;
      }
    }
    fclose(f);
  }
  ~ServerProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  pid_t pid() const { return pid_; }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = 0;
  std::string address_;
};

TEST(StrangerTest, LargeAndStalledRequestsWithoutASessionTakeNoMemory) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("apura-stranger-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    ServerProcess server(dir);
    ASSERT_FALSE(server.address().empty()) << "the server did not start";
    auto channel = grpc::CreateChannel(server.address(), grpc::InsecureChannelCredentials());
    grpc::GenericStub stub(channel);
    // A first call makes the server set up what every call shares.
    auto client = MakeGrpcTransport();
    client->Connect(server.address().substr(0, server.address().rfind(':')),
                    std::stoi(server.address().substr(server.address().rfind(':') + 1)));
    client->Invoke("Apura.Sessao", "Login", {ByVal(Value("NINGUEM")), ByVal(Value("x"))});
    const long before = ResidentKiB(server.pid());

    std::atomic<bool> done{false};
    std::atomic<long> peak{before};
    std::thread watch([&] {
      while (!done) {
        peak = std::max(peak.load(), ResidentKiB(server.pid()));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    // Four requests of 200 MB at once, without a session or with a made-up one.
    const grpc::Slice huge(std::string(200u << 20, '\x0a'));
    std::vector<std::thread> calls;
    std::atomic<int> refused{0};
    for (int i = 0; i < 4; ++i)
      calls.emplace_back([&, i] {
        grpc::GenericStub own(
            grpc::CreateChannel(server.address(), grpc::InsecureChannelCredentials()));
        grpc::Status s = RawCall(own, i % 2 ? "made-up" : "", &huge);
        refused += s.error_code() == grpc::StatusCode::UNAUTHENTICATED;
      });
    // Forty streams over two connections that start and never send.
    for (int c = 0; c < 2; ++c)
      calls.emplace_back([&] {
        grpc::GenericStub own(
            grpc::CreateChannel(server.address(), grpc::InsecureChannelCredentials()));
        std::vector<std::thread> streams;
        for (int k = 0; k < 20; ++k)
          streams.emplace_back([&] {
            refused +=
                RawCall(own, "", nullptr, true).error_code() == grpc::StatusCode::UNAUTHENTICATED;
          });
        for (auto& t : streams) t.join();
      });
    for (auto& t : calls) t.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
    watch.join();
    const long after = ResidentKiB(server.pid());
    EXPECT_EQ(refused, 44);
    RecordProperty("rss_before_kib", std::to_string(before));
    RecordProperty("rss_peak_kib", std::to_string(peak.load()));
    std::printf("server resident: %ld MiB before, %ld MiB at most, %ld MiB after\n", before >> 10,
                peak.load() >> 10, after >> 10);
    EXPECT_LE(peak - before, 64 << 10);
    EXPECT_LE(after - before, 64 << 10);
    // And it goes on answering.
    Value env =
        client->Invoke("Apura.Sessao", "Login", {ByVal(Value("NINGUEM")), ByVal(Value("x"))});
    EXPECT_EQ(env.AsArray()[1].ToText(), "Operador ou senha inválidos.");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace apura::rpc
