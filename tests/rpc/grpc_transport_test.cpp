// The gRPC transport end to end on a loopback port: values and packets arrive as
// they left, and every failure says what failed and where.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <mutex>
#include <semaphore>
#include <thread>

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>

#include "apura.grpc.pb.h"
#include "framework/packet.h"
#include "rpc/grpc_transport.h"

namespace apura::rpc {
namespace {

// Answers its arguments back, with their by-reference marks.
class Echo : public IServerObject {
 public:
  Value Invoke(const std::string& method, const std::vector<CallArg>& args) override {
    if (method == "Echo") {
      ValueArray values, refs;
      for (const CallArg& a : args) {
        values.push_back(a.value);
        refs.push_back(Value(a.byRef));
      }
      return ResultOk(Value(ValueArray{Value(values), Value(refs)}));
    }
    if (method == "First") return ResultOk(args.at(0).value);
    if (method == "Slow") {
      std::this_thread::sleep_for(std::chrono::milliseconds(800));
      return ResultOk(Value());
    }
    if (method == "Refuse") return ResultFailure("Apuração 99 não encontrada.");
    if (method == "Throw") throw std::runtime_error("disk on fire");
    if (method == "Garbage") return Value(42);
    if (method == "Coded")
      throw CodedError(static_cast<ErrorCode>(args.at(0).value.AsInteger()), "recusada");
    return ResultFailure("no method " + method);
  }
};

class GrpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.Register("Test.Echo", std::make_shared<Echo>());
    GrpcServerOptions options;
    options.packetMethods = {"First", "Echo"};  // the ones the large tests send packets to
    server_ = std::make_unique<GrpcServer>(registry_, "127.0.0.1:0", options);
    client_ = MakeGrpcTransport();
    client_->Connect("127.0.0.1", server_->port());
  }

  Value Call(const std::string& method, std::vector<CallArg> args) {
    return client_->Invoke("Test.Echo", method, args);
  }
  static const Value& Payload(const Value& envelope) {
    EXPECT_TRUE(envelope.AsArray()[0].AsBoolean()) << envelope.AsArray()[1].ToText();
    return envelope.AsArray()[1];
  }

  ServerRegistry registry_;
  std::unique_ptr<GrpcServer> server_;
  std::unique_ptr<ITransport> client_;
};

// Packets compare by identity; across a wire only their content can match.
bool SamePacket(const DataPacket& a, const DataPacket& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty();
  if (a.fields() != b.fields() || a.RowCount() != b.RowCount()) return false;
  for (size_t c = 0; c < a.fields().size(); ++c) {
    const ColumnData &x = a.column(c), &y = b.column(c);
    if (x.dictBytes != y.dictBytes || x.dictOffsets != y.dictOffsets || x.codes != y.codes ||
        x.numbers != y.numbers || x.nullBits != y.nullBits)
      return false;
  }
  if (a.status() != b.status() || a.originalOf() != b.originalOf()) return false;
  if (!a.originals() || !b.originals()) return !a.originals() == !b.originals();
  return SamePacket(*a.originals(), *b.originals());
}

bool Same(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() == Value::Kind::Packet) return SamePacket(a.AsPacket(), b.AsPacket());
  if (a.kind() == Value::Kind::Array) {
    const ValueArray &x = a.AsArray(), &y = b.AsArray();
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (!Same(x[i], y[i])) return false;
    }
    return true;
  }
  return a == b;
}

DataPacket MixedPacket() {
  std::vector<FieldDef> fields{
      {"NAME", FieldType::String, 40, false},  {"PRICE", FieldType::Float, 0, false},
      {"WHEN", FieldType::DateTime, 0, false}, {"COUNT", FieldType::Integer, 0, false},
      {"OK", FieldType::Boolean, 0, false},    {"FLAG", FieldType::String, 1, true}};
  PacketBuilder b(fields);
  b.Add({Value("Açúcar Cristal"), Value(4.25),
         Value(DateTime::FromDateTime(2026, 12, 8, 14, 30, 0)), Value(7), Value(true), Value("S")});
  b.Add({Value(), Value(), Value(), Value(), Value(), Value()});
  b.Add({Value(""), Value(-0.5), Value(DateTime::FromDate(1899, 12, 30)),
         Value(static_cast<int64_t>(-3)), Value(false), Value("N")});
  return b.Build();
}

TEST_F(GrpcTest, EveryValueKindArrivesAsSent) {
  std::vector<CallArg> args{
      ByVal(Value()),
      ByVal(Value(true)),
      ByVal(Value(false)),
      ByRef(Value(std::numeric_limits<int64_t>::min())),
      ByVal(Value(std::numeric_limits<int64_t>::max())),
      ByVal(Value(3.141592653589793)),
      ByVal(Value(-std::numeric_limits<double>::infinity())),
      ByRef(Value("Fornecedor não é extra.\r\nsegunda linha")),
      ByVal(Value(std::string("nul\0inside", 10))),
      ByVal(Value("")),
      ByVal(Value(DateTime::FromDateTime(2026, 12, 8, 23, 59, 59))),
      ByRef(Value(MixedPacket())),
      ByVal(Value(
          ValueArray{Value(1), Value(ValueArray{Value("nested"), Value()}), Value(MixedPacket())})),
      ByVal(Value(ValueArray{})),
  };
  Value got = Payload(Call("Echo", args));
  const ValueArray& values = got.AsArray()[0].AsArray();
  const ValueArray& refs = got.AsArray()[1].AsArray();
  ASSERT_EQ(values.size(), args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    EXPECT_EQ(values[i].kind(), args[i].value.kind()) << "argument " << i;
    EXPECT_TRUE(Same(values[i], args[i].value)) << "argument " << i;
    EXPECT_EQ(refs[i].AsBoolean(), args[i].byRef) << "argument " << i;
  }
  // Cell by cell, including nulls and the fixed-length flag of a field.
  const DataPacket& p = values[11].AsPacket();
  EXPECT_EQ(p.fields(), MixedPacket().fields());
  EXPECT_TRUE(p.IsNull(0, 1));
  EXPECT_TRUE(p.IsNull(1, 1));
  EXPECT_FALSE(p.IsNull(0, 2));
  EXPECT_EQ(p.Text(0, 0), "Açúcar Cristal");
  EXPECT_EQ(p.Number(1, 2), -0.5);
}

TEST_F(GrpcTest, ChangeLogWithOriginalsTravels) {
  std::vector<FieldDef> fields{{"KEY", FieldType::String, 4, false},
                               {"QTY", FieldType::Float, 0, false}};
  PacketBuilder orig(fields);
  orig.Add({Value("0101"), Value(3.0)});
  DataPacket::Body body = PacketBuilder(fields)
                              .Add({Value("0101"), Value(5.0)})
                              .Status(RowStatus::Modified)
                              .Add({Value("0102"), Value(1.0)})
                              .Status(RowStatus::Inserted)
                              .Build()
                              .body();
  body.originals = std::make_shared<const DataPacket>(orig.Build());
  body.originalOf = {0};
  DataPacket delta = DataPacket::FromBody(body);

  Value got = Payload(Call("First", {ByRef(Value(delta))}));
  const DataPacket& p = got.AsPacket();
  ASSERT_EQ(p.status().size(), 2u);
  EXPECT_EQ(p.status()[0], RowStatus::Modified);
  EXPECT_EQ(p.status()[1], RowStatus::Inserted);
  ASSERT_NE(p.originals(), nullptr);
  EXPECT_EQ(p.originals()->Number(1, 0), 3.0);
  EXPECT_EQ(p.originalOf(), std::vector<uint32_t>{0});
}

// Large enough to be streamed in many chunks.
TEST_F(GrpcTest, HalfAMillionRowPacketRoundTrips) {
  const size_t rows = 500000;
  DataPacket::Body b;
  b.fields = {{"NMFANTFORN", FieldType::String, 40, false},
              {"QTACOMP", FieldType::Float, 0, false},
              {"DTENTRAPUT", FieldType::DateTime, 0, false},
              {"CDFILIAP", FieldType::String, 4, false}};
  b.rowCount = rows;
  b.columns.resize(4);
  for (int s = 0; s < 300; ++s) {
    std::string name = "Distribuidora " + std::to_string(s);
    b.columns[0].dictBytes += name;
    b.columns[0].dictOffsets.push_back(static_cast<uint32_t>(b.columns[0].dictBytes.size()));
  }
  for (int f = 0; f < 40; ++f) {
    b.columns[3].dictBytes += std::to_string(1000 + f);
    b.columns[3].dictOffsets.push_back(static_cast<uint32_t>(b.columns[3].dictBytes.size()));
  }
  b.columns[2].nullBits.assign((rows + 63) / 64, 0);
  for (size_t r = 0; r < rows; ++r) {
    b.columns[0].codes.push_back(static_cast<int32_t>(r % 300));
    b.columns[1].numbers.push_back(static_cast<double>(r) * 0.25);
    b.columns[2].numbers.push_back(46000 + static_cast<double>(r % 31));
    b.columns[3].codes.push_back(r % 97 == 0 ? -1 : static_cast<int32_t>(r % 40));
    if (r % 1000 == 0) b.columns[2].nullBits[r >> 6] |= uint64_t{1} << (r & 63);
  }
  DataPacket sent = DataPacket::FromBody(b);
  Value got = Payload(Call("First", {ByVal(Value(sent))}));
  const DataPacket& p = got.AsPacket();
  ASSERT_EQ(p.RowCount(), rows);
  EXPECT_TRUE(SamePacket(p, sent));
  EXPECT_TRUE(p.IsNull(2, 1000));
  EXPECT_TRUE(p.IsNull(3, 97));
  EXPECT_EQ(p.Text(0, 499999), "Distribuidora " + std::to_string(499999 % 300));
}

// The server hands the same packet to many readers (one tally version); they
// share its encoding, and a new packet is never answered with an old one's.
TEST_F(GrpcTest, ReadersOfOnePacketAndThenOfAnotherGetEachAsItIs) {
  struct Holder : IServerObject {
    std::mutex mutex;
    DataPacket held;
    Value Invoke(const std::string&, const std::vector<CallArg>&) override {
      std::lock_guard lock(mutex);
      return ResultOk(Value(held));
    }
  };
  auto holder = std::make_shared<Holder>();
  registry_.Register("Test.Holder", holder);
  auto packet = [](double base) {
    PacketBuilder b({{"QTACOMP", FieldType::Float, 0, false}, {"CDFILIAP", FieldType::String, 4}});
    for (int r = 0; r < 20000; ++r) b.Add({Value(base + r), Value(std::to_string(r % 50))});
    return b.Build();
  };
  auto read = [&](std::unique_ptr<ITransport>& t) {
    return Payload(t->Invoke("Test.Holder", "Get", {})).AsPacket();
  };
  for (double base : {1.0, 2.0, 1.0}) {
    DataPacket sent = packet(base);
    {
      std::lock_guard lock(holder->mutex);
      holder->held = sent;
    }
    std::vector<std::unique_ptr<ITransport>> clients;
    for (int k = 0; k < 4; ++k) {
      clients.push_back(MakeGrpcTransport());
      clients.back()->Connect("127.0.0.1", server_->port());
    }
    std::vector<DataPacket> got(clients.size());
    std::vector<std::thread> readers;
    for (size_t k = 0; k < clients.size(); ++k)
      readers.emplace_back([&, k] { got[k] = read(clients[k]); });
    for (auto& t : readers) t.join();
    for (const DataPacket& p : got) EXPECT_TRUE(SamePacket(p, sent)) << "base " << base;
  }
}

TEST_F(GrpcTest, UnknownObjectAndMethodAnswerFailuresNamingThem) {
  Value env = client_->Invoke("Nobody.Here", "GetDados", {});
  EXPECT_FALSE(env.AsArray()[0].AsBoolean());
  EXPECT_NE(env.AsArray()[1].ToText().find("Nobody.Here"), std::string::npos);

  MethodTable table("Cmp.rdmCompras");
  table.Add("GetParamCmp", [](const std::vector<CallArg>&) { return Value(); });
  Value missing = table.Invoke("GetParamX", {});
  EXPECT_FALSE(missing.AsArray()[0].AsBoolean());
  EXPECT_NE(missing.AsArray()[1].ToText().find("GetParamX"), std::string::npos);
  EXPECT_NE(missing.AsArray()[1].ToText().find("Cmp.rdmCompras"), std::string::npos);
  // Late binding ignores case, as the worksheet's calls do.
  EXPECT_TRUE(table.Invoke("getparamcmp", {}).AsArray()[0].AsBoolean());
}

TEST_F(GrpcTest, ServerFailuresTravelInTheEnvelope) {
  Value refused = Call("Refuse", {});
  EXPECT_FALSE(refused.AsArray()[0].AsBoolean());
  EXPECT_EQ(refused.AsArray()[1].ToText(), "Apuração 99 não encontrada.");

  Value thrown = Call("Throw", {});
  EXPECT_FALSE(thrown.AsArray()[0].AsBoolean());
  EXPECT_NE(thrown.AsArray()[1].ToText().find("disk on fire"), std::string::npos);

  Value garbage = Call("Garbage", {});
  EXPECT_FALSE(garbage.AsArray()[0].AsBoolean());
  EXPECT_NE(garbage.AsArray()[1].ToText().find("malformed"), std::string::npos);
}

// Every code reaches the client with its text, and the call ends with the gRPC
// status the code maps to, for proxies and anything else that reads statuses.
TEST_F(GrpcTest, FailureCodesReachTheClientAndTheStatus) {
  const std::pair<ErrorCode, grpc::StatusCode> expected[] = {
      {ErrorCode::Unauthenticated, grpc::StatusCode::UNAUTHENTICATED},
      {ErrorCode::Forbidden, grpc::StatusCode::PERMISSION_DENIED},
      {ErrorCode::InvalidArgument, grpc::StatusCode::INVALID_ARGUMENT},
      {ErrorCode::Conflict, grpc::StatusCode::FAILED_PRECONDITION},
      {ErrorCode::Busy, grpc::StatusCode::RESOURCE_EXHAUSTED},
      {ErrorCode::NotFound, grpc::StatusCode::NOT_FOUND},
      {ErrorCode::Internal, grpc::StatusCode::INTERNAL}};
  auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(server_->port()),
                                     grpc::InsecureChannelCredentials());
  auto stub = wire::ApplicationServer::NewStub(channel);
  for (auto [code, status] : expected) {
    Value env = Call("Coded", {ByVal(Value(static_cast<int64_t>(code)))});
    EXPECT_EQ(FailureCode(env), code) << ErrorCodeName(code);
    EXPECT_NE(env.AsArray()[1].ToText().find("recusada"), std::string::npos);

    wire::InvokeRequest request;
    request.set_object("Test.Echo");
    request.set_method("Coded");
    request.add_args()->mutable_value()->set_integer(static_cast<int64_t>(code));
    grpc::ClientContext context;
    auto reader = stub->Invoke(&context, request);
    wire::InvokeReply reply;
    ASSERT_TRUE(reader->Read(&reply)) << ErrorCodeName(code);
    EXPECT_EQ(static_cast<int>(reply.result().code()), static_cast<int>(code));
    EXPECT_FALSE(reader->Read(&reply));
    EXPECT_EQ(reader->Finish().error_code(), status) << ErrorCodeName(code);
  }
  // The dispatcher's own refusals carry codes too; what a method throws
  // without one is internal; a success has none.
  EXPECT_EQ(FailureCode(client_->Invoke("Nobody.Here", "GetDados", {})), ErrorCode::NotFound);
  EXPECT_EQ(FailureCode(Call("Missing", {})), ErrorCode::Internal);
  EXPECT_EQ(FailureCode(MethodTable("Test.Table").Invoke("NoSuchMethod", {})), ErrorCode::NotFound);
  EXPECT_EQ(FailureCode(Call("Throw", {})), ErrorCode::Internal);
  EXPECT_EQ(FailureCode(Call("First", {ByVal(Value(1))})), ErrorCode::Ok);
  EXPECT_EQ(FailureCode(Call("Echo", {ByVal(Value(std::string(kMaxTextArgumentBytes + 1, 'x')))})),
            ErrorCode::InvalidArgument);
}

// A balancer in front of several servers asks the standard health service
// whether to send calls to this one.
TEST_F(GrpcTest, TheStandardHealthServiceSaysTheServerIsServing) {
  auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(server_->port()),
                                     grpc::InsecureChannelCredentials());
  grpc::GenericStub stub(channel);
  grpc::ClientContext context;
  grpc::Slice empty(std::string{});
  grpc::ByteBuffer request(&empty, 1), response;  // a HealthCheckRequest for the whole server
  std::promise<grpc::Status> done;
  stub.UnaryCall(&context, "/grpc.health.v1.Health/Check", grpc::StubOptions(), &request, &response,
                 [&](grpc::Status s) { done.set_value(std::move(s)); });
  const grpc::Status status = done.get_future().get();
  ASSERT_TRUE(status.ok()) << status.error_message();
  std::vector<grpc::Slice> slices;
  ASSERT_TRUE(response.Dump(&slices).ok());
  std::string bytes;
  for (const grpc::Slice& s : slices)
    bytes.append(reinterpret_cast<const char*>(s.begin()), s.size());
  EXPECT_EQ(bytes, std::string("\x08\x01", 2));  // status = SERVING
}

TEST_F(GrpcTest, DeadlineNamesMethodSecondsAndAddress) {
  GrpcClientOptions quick;
  quick.callTimeoutSeconds = 0.3;
  auto impatient = MakeGrpcTransport(quick);
  impatient->Connect("127.0.0.1", server_->port());
  try {
    impatient->Invoke("Test.Echo", "Slow", {});
    FAIL() << "no timeout";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "method Slow timed out after 0.3 s at 127.0.0.1:" + std::to_string(server_->port()));
  }
}

TEST_F(GrpcTest, UnreachableServerNamesTheAddress) {
  int port = server_->port();
  server_.reset();  // nothing listens there any more
  try {
    client_->Invoke("Test.Echo", "Echo", {});
    FAIL() << "call to a stopped server succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << e.what();
  }
  auto fresh = MakeGrpcTransport();
  try {
    fresh->Connect("127.0.0.1", port);
    FAIL() << "connected to nothing";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(fresh->IsConnected());
}

// Connections are cheap to reopen because channels are kept; a server that went
// away and came back on its port is reached again.
TEST_F(GrpcTest, RestartedServerIsReachedAgain) {
  int port = server_->port();
  client_->Disconnect();
  server_.reset();
  EXPECT_THROW(client_->Connect("127.0.0.1", port), std::runtime_error);
  server_ = std::make_unique<GrpcServer>(registry_, "127.0.0.1:" + std::to_string(port));
  client_->Connect("127.0.0.1", port);
  EXPECT_TRUE(Call("Echo", {}).AsArray()[0].AsBoolean());
}

// Holds each call until the test lets it go.
class Gate : public MethodTable {
 public:
  Gate() : MethodTable("Test.Gate") {
    Add("Hold", [this](const std::vector<CallArg>&) {
      entered_.release();
      release_.wait();
      return Value("done");
    });
  }
  void AwaitEntry() { entered_.acquire(); }
  void Release() { opened_.set_value(); }

 private:
  std::counting_semaphore<16> entered_{0};
  std::promise<void> opened_;
  std::shared_future<void> release_ = opened_.get_future().share();
};

// A stopping server refuses new calls at once but answers the ones under way;
// past its bound it stops waiting for them and says so.
TEST(GrpcDrainTest, ACallUnderWayIsAnsweredAndNewCallsAreRefused) {
  ServerRegistry registry;
  auto gate = std::make_shared<Gate>();
  registry.Register("Test.Gate", gate);
  registry.Register("Test.Echo", std::make_shared<Echo>());
  GrpcServer server(registry, "127.0.0.1:0");
  auto client = MakeGrpcTransport();
  client->Connect("127.0.0.1", server.port());
  auto answer =
      std::async(std::launch::async, [&] { return client->Invoke("Test.Gate", "Hold", {}); });
  gate->AwaitEntry();
  EXPECT_EQ(server.CallsUnderWay(), 1);
  auto drained =
      std::async(std::launch::async, [&] { return server.Shutdown(std::chrono::seconds(30)); });
  // Once the server stops taking calls, a new one is refused, not queued.
  bool refused = false;
  for (int i = 0; i < 200 && !refused; ++i) {
    GrpcClientOptions quick;
    quick.callTimeoutSeconds = 2;
    quick.connectTimeoutSeconds = 0.5;
    auto late = MakeGrpcTransport(quick);
    try {
      late->Connect("127.0.0.1", server.port());
      late->Invoke("Test.Echo", "Echo", {});
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } catch (const std::runtime_error&) {
      refused = true;
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(drained.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "the drain ended with a call under way";
  gate->Release();
  const Value reply = answer.get();
  ASSERT_TRUE(reply.AsArray()[0].AsBoolean()) << reply.AsArray()[1].ToText();
  EXPECT_EQ(reply.AsArray()[1].ToText(), "done");
  EXPECT_TRUE(drained.get());
  EXPECT_EQ(server.CallsUnderWay(), 0);
}

TEST(GrpcDrainTest, TheDrainStopsWaitingAtItsBound) {
  ServerRegistry registry;
  auto gate = std::make_shared<Gate>();
  registry.Register("Test.Gate", gate);
  auto server = std::make_unique<GrpcServer>(registry, "127.0.0.1:0");
  auto client = MakeGrpcTransport();
  client->Connect("127.0.0.1", server->port());
  auto answer =
      std::async(std::launch::async, [&] { return client->Invoke("Test.Gate", "Hold", {}); });
  gate->AwaitEntry();
  EXPECT_FALSE(server->Shutdown(std::chrono::milliseconds(200)));
  EXPECT_EQ(server->CallsUnderWay(), 1);
  gate->Release();  // the method ends; the server can be destroyed
  try {
    answer.get();  // answered or cancelled at the deadline: either way it ends
  } catch (const std::runtime_error&) {
  }
  server.reset();
}

// Every call is reported once, under the names the registry knows; names a
// caller made up are not carried into the report.
TEST(GrpcObserverTest, EachCallIsReportedWithItsRegisteredNamesAndOutcome) {
  ServerRegistry registry;
  auto table = std::make_shared<MethodTable>("Test.Table");
  table->Add("Answer", [](const std::vector<CallArg>&) { return Value(42); });
  table->Add("Refuse", [](const std::vector<CallArg>&) -> Value {
    throw CodedError(ErrorCode::Conflict, "já efetivada");
  });
  registry.Register("Test.Table", table);
  std::mutex mutex;
  std::vector<ServedCall> seen;
  GrpcServerOptions options;
  options.onCall = [&](const ServedCall& c) {
    std::lock_guard lock(mutex);
    seen.push_back(c);
  };
  GrpcServer server(registry, "127.0.0.1:0", options);
  auto client = MakeGrpcTransport();
  client->Connect("127.0.0.1", server.port());
  client->Invoke("test.table", "answer", {});
  client->Invoke("Test.Table", "Refuse", {});
  client->Invoke("Test.Table", "Invented", {});
  client->Invoke("No.Such", "Answer", {});
  std::lock_guard lock(mutex);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].object, "Test.Table");
  EXPECT_EQ(seen[0].method, "Answer");
  EXPECT_EQ(seen[0].code, ErrorCode::Ok);
  EXPECT_GE(seen[0].seconds, 0);
  EXPECT_EQ(seen[1].method, "Refuse");
  EXPECT_EQ(seen[1].code, ErrorCode::Conflict);
  EXPECT_EQ(seen[2].object, "Test.Table");
  EXPECT_EQ(seen[2].method, "");
  EXPECT_EQ(seen[2].code, ErrorCode::NotFound);
  EXPECT_EQ(seen[3].object, "");
  EXPECT_EQ(seen[3].code, ErrorCode::NotFound);
}

TEST_F(GrpcTest, CallsNeedAConnection) {
  client_->Disconnect();
  EXPECT_FALSE(client_->IsConnected());
  EXPECT_THROW(client_->Invoke("Test.Echo", "Echo", {}), std::runtime_error);
  client_->Connect("127.0.0.1", server_->port());
  EXPECT_TRUE(Call("Echo", {}).AsArray()[0].AsBoolean());
}

// A server that streams more result bytes than it announced (here a second
// copy, which would parse as a merged message): the client must not keep
// collecting what the announcement does not cover.
class Overlong final : public wire::ApplicationServer::Service {
  grpc::Status Invoke(grpc::ServerContext*, const wire::InvokeRequest*,
                      grpc::ServerWriter<wire::InvokeReply>* writer) override {
    wire::Result r;
    r.set_ok(true);
    r.mutable_payload()->set_text("x");
    std::string encoded = r.SerializeAsString();
    wire::InvokeReply first;
    first.set_chunk(encoded);
    first.set_total_size(encoded.size());
    writer->Write(first);
    wire::InvokeReply more;
    more.set_chunk(encoded);
    writer->Write(more);
    return grpc::Status::OK;
  }
};

TEST(GrpcClientTest, ChunksBeyondTheAnnouncedSizeAreRefused) {
  Overlong service;
  int port = 0;
  grpc::ServerBuilder builder;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
  builder.RegisterService(&service);
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  ASSERT_NE(port, 0);
  auto client = MakeGrpcTransport();
  client->Connect("127.0.0.1", port);
  try {
    client->Invoke("Test.Echo", "GetDados", {});
    ADD_FAILURE() << "an overlong answer was accepted";
  } catch (const std::runtime_error& e) {
    std::string text = e.what();
    EXPECT_NE(text.find("malformed answer to GetDados from 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << text;
  }
  server->Shutdown();
}

TEST(GrpcServerTest, RefusesAnAddressItCannotListenOn) {
  ServerRegistry registry;
  EXPECT_THROW(GrpcServer(registry, "no-port-here"), std::invalid_argument);
  // Beyond loopback only with TLS.
  EXPECT_THROW(GrpcServer(registry, "203.0.113.7:1"), std::invalid_argument);
}

}  // namespace
}  // namespace apura::rpc
