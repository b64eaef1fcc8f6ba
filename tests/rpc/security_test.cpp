// What protects the transport: the session token in each call's metadata, TLS
// beyond loopback, and a request that cannot be decoded named as such.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>

#include "rpc/grpc_transport.h"

namespace apura::rpc {
namespace {

// Answers the session token the call brought.
class WhoCalls : public IServerObject {
 public:
  Value Invoke(const std::string&, const std::vector<CallArg>&) override {
    return ResultFailure("called without its context");
  }
  Value Invoke(const std::string&, const std::vector<CallArg>&, const CallContext& c) override {
    return ResultOk(Value(c.sessionToken));
  }
};

std::string TokenSeen(ITransport& t) {
  Value env = t.Invoke("Test.Who", "Token", {});
  EXPECT_TRUE(env.AsArray()[0].AsBoolean()) << env.AsArray()[1].ToText();
  return env.AsArray()[1].ToText();
}

TEST(TransportSecurity, EachCallCarriesItsSessionTokenInTheMetadata) {
  ServerRegistry registry;
  registry.Register("Test.Who", std::make_shared<WhoCalls>());
  GrpcServer server(registry, "127.0.0.1:0");
  GrpcClientOptions own;
  std::string token = "first";
  own.sessionToken = [&] { return token; };
  auto client = MakeGrpcTransport(own);
  client->Connect("127.0.0.1", server.port());
  EXPECT_EQ(TokenSeen(*client), "first");
  token = "renewed";  // a new login replaces it for the calls that follow
  EXPECT_EQ(TokenSeen(*client), "renewed");

  SetClientSessionToken("process-wide");
  auto plain = MakeGrpcTransport();
  plain->Connect("127.0.0.1", server.port());
  EXPECT_EQ(TokenSeen(*plain), "process-wide");
  SetClientSessionToken("");
  EXPECT_EQ(TokenSeen(*plain), "");
}

TEST(TransportSecurity, PlainTextIsServedOnLoopbackOnly) {
  for (const char* a : {"127.0.0.1:1", "127.8.9.10:5", "localhost:80", "[::1]:50051"})
    EXPECT_TRUE(IsLoopbackAddress(a)) << a;
  for (const char* a : {"0.0.0.0:1", "[::]:1", "10.0.0.1:1", "128.0.0.1:1", "example.com:1", ":1"})
    EXPECT_FALSE(IsLoopbackAddress(a)) << a;
  ServerRegistry registry;
  try {
    GrpcServer server(registry, "0.0.0.0:0");
    ADD_FAILURE() << "listened on every interface without TLS";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("without TLS"), std::string::npos) << e.what();
  }
  GrpcServerOptions half;
  half.tlsCertFile = "cert.pem";
  EXPECT_THROW(GrpcServer(registry, "127.0.0.1:0", half), std::invalid_argument);
}

TEST(TransportSecurity, ARequestThatCannotBeDecodedIsToldSo) {
  ServerRegistry registry;
  registry.Register("Test.Who", std::make_shared<WhoCalls>());
  GrpcServer server(registry, "127.0.0.1:0");
  auto channel = grpc::CreateChannel(server.address(), grpc::InsecureChannelCredentials());
  grpc::GenericStub stub(channel);
  // A length-delimited field whose length runs past the end of the message.
  const std::string garbage(
      "\x0a\xff\xff\xff\x0f"
      "abc",
      8);
  grpc::Slice slice(garbage);
  grpc::ByteBuffer request(&slice, 1), reply;
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
  grpc::CompletionQueue cq;
  auto call = stub.PrepareCall(&context, "/apura.wire.ApplicationServer/Invoke", &cq);
  void* tag = nullptr;
  bool ok = false;
  call->StartCall(reinterpret_cast<void*>(1));
  ASSERT_TRUE(cq.Next(&tag, &ok));
  call->Write(request, reinterpret_cast<void*>(2));
  ASSERT_TRUE(cq.Next(&tag, &ok));
  call->WritesDone(reinterpret_cast<void*>(3));
  ASSERT_TRUE(cq.Next(&tag, &ok));
  grpc::Status status;
  call->Finish(&status, reinterpret_cast<void*>(4));
  while (cq.Next(&tag, &ok))
    if (tag == reinterpret_cast<void*>(4)) break;
  EXPECT_EQ(status.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_NE(status.error_message().find("malformed request: 8 bytes"), std::string::npos)
      << status.error_message();
  cq.Shutdown();
  while (cq.Next(&tag, &ok)) {
  }
  // The server goes on serving well-formed calls.
  auto client = MakeGrpcTransport();
  client->Connect("127.0.0.1", server.port());
  EXPECT_EQ(TokenSeen(*client), "");
}

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("apura-tls-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    MakeCertificate("server");
    MakeCertificate("stranger");
    registry_.Register("Test.Who", std::make_shared<WhoCalls>());
    GrpcServerOptions tls;
    tls.tlsCertFile = Path("server-cert.pem");
    tls.tlsKeyFile = Path("server-key.pem");
    server_ = std::make_unique<GrpcServer>(registry_, "127.0.0.1:0", tls);
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // A self-signed certificate for localhost and 127.0.0.1, as an operator's
  // own certificate authority would issue.
  void MakeCertificate(const std::string& name) {
    const std::string cmd =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost"
        " -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
        Path(name + "-key.pem") + " -out " + Path(name + "-cert.pem") + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  std::unique_ptr<ITransport> Client(const std::string& ca) {
    GrpcClientOptions o;
    o.tlsCaFile = ca;
    o.connectTimeoutSeconds = 3;
    o.sessionToken = [] { return std::string("secret-token"); };
    return MakeGrpcTransport(o);
  }

  std::filesystem::path dir_;
  ServerRegistry registry_;
  std::unique_ptr<GrpcServer> server_;
};

TEST_F(TlsTest, ClientThatTrustsTheCertificateIsServedOthersAreNot) {
  auto trusting = Client(Path("server-cert.pem"));
  trusting->Connect("127.0.0.1", server_->port());
  EXPECT_EQ(TokenSeen(*trusting), "secret-token");

  // A plain-text client never gets through the handshake.
  auto plain = Client("");
  EXPECT_THROW(plain->Connect("127.0.0.1", server_->port()), std::runtime_error);
  // Nor does one that trusts another authority: the server is not who it claims.
  auto wary = Client(Path("stranger-cert.pem"));
  EXPECT_THROW(wary->Connect("127.0.0.1", server_->port()), std::runtime_error);
  // A CA file that cannot be read is said so.
  auto lost = Client(Path("missing.pem"));
  try {
    lost->Connect("127.0.0.1", server_->port());
    ADD_FAILURE() << "connected with a missing CA file";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("missing.pem"), std::string::npos) << e.what();
  }
}

// A list of servers over TLS: each certificate is checked against the first
// entry's name, and a server it does not match is not used.
TEST_F(TlsTest, AListOfServersIsCheckedAgainstTheFirstName) {
  GrpcServerOptions tls;
  tls.tlsCertFile = Path("server-cert.pem");
  tls.tlsKeyFile = Path("server-key.pem");
  GrpcServer second(registry_, "127.0.0.1:0", tls);
  auto trusting = Client(Path("server-cert.pem"));
  trusting->Connect("localhost:" + std::to_string(server_->port()) +
                        ",127.0.0.1:" + std::to_string(second.port()),
                    0);
  EXPECT_EQ(TokenSeen(*trusting), "secret-token");
  EXPECT_EQ(TokenSeen(*trusting), "secret-token");

  // Named otherwise than its certificate says, no server is trusted.
  auto misnamed = Client(Path("server-cert.pem"));
  EXPECT_THROW(misnamed->Connect("127.0.0.2:" + std::to_string(server_->port()) +
                                     ",127.0.0.1:" + std::to_string(second.port()),
                                 0),
               std::runtime_error);
  auto wary = Client(Path("stranger-cert.pem"));
  EXPECT_THROW(wary->Connect("localhost:" + std::to_string(server_->port()) +
                                 ",127.0.0.1:" + std::to_string(second.port()),
                             0),
               std::runtime_error);
}

}  // namespace
}  // namespace apura::rpc
