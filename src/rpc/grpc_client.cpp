#include <grpcpp/grpcpp.h>
#include <malloc.h>

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "apura.grpc.pb.h"
#include "rpc/grpc_transport.h"
#include "rpc/wire.h"

namespace apura::rpc {

namespace {

std::string Seconds(double s) {
  std::ostringstream out;
  if (s == std::floor(s)) {
    out << static_cast<long long>(s);
  } else {
    out << s;
  }
  return out.str();
}

std::chrono::system_clock::time_point After(double seconds) {
  return std::chrono::system_clock::now() +
         std::chrono::duration_cast<std::chrono::system_clock::duration>(
             std::chrono::duration<double>(seconds));
}

// The worksheet opens a connection around nearly every call (usage counts), so
// channels are kept per address and reused: opening one that is up costs
// nothing, and a call never pays for a new TCP and HTTP/2 handshake.
std::string ReadFile(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read the ") + what + " " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::shared_ptr<grpc::ChannelCredentials> Credentials(const GrpcClientOptions& options) {
  if (options.tlsCaFile.empty()) return grpc::InsecureChannelCredentials();
  grpc::SslCredentialsOptions ssl;
  ssl.pem_root_certs = ReadFile(options.tlsCaFile, "certificate authority file");
  return grpc::SslCredentials(ssl);
}

std::mutex tokenMutex;
std::string& ProcessToken() {
  static auto* token = new std::string();
  return *token;
}

std::shared_ptr<grpc::Channel> SharedChannel(const std::string& address,
                                             const GrpcClientOptions& options, bool renew) {
  static std::mutex mutex;
  // Never destroyed: channels must not outlive the gRPC runtime at exit.
  static auto* channels = new std::map<std::string, std::shared_ptr<grpc::Channel>>();
  std::string key =
      address + "|" + std::to_string(options.maxMessageBytes) + "|" + options.tlsCaFile;
  std::lock_guard lock(mutex);
  auto& channel = (*channels)[key];
  if (!channel || renew) {
    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(options.maxMessageBytes);
    args.SetMaxSendMessageSize(options.maxMessageBytes);
    // A renewed channel must not inherit the failed connection of the old one.
    args.SetInt("grpc.use_local_subchannel_pool", 1);
    // Large packets: a wide flow-control window and big frames spare the round
    // trips of window updates.
    args.SetInt(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, 64 << 20);
    args.SetInt(GRPC_ARG_HTTP2_MAX_FRAME_SIZE, (1 << 24) - 1);
    channel = grpc::CreateCustomChannel(address, Credentials(options), args);
  }
  return channel;
}

class GrpcTransport : public ITransport {
 public:
  explicit GrpcTransport(GrpcClientOptions options) : options_(options) {}

  void Connect(const std::string& host, int port) override {
    Disconnect();
    address_ = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
               std::to_string(port);
    if (host.empty() || port <= 0 || port > 65535) {
      throw std::runtime_error("cannot reach the application server at " + address_ +
                               ": not a valid address");
    }
    auto deadline = After(options_.connectTimeoutSeconds);
    std::shared_ptr<grpc::Channel> channel = SharedChannel(address_, options_, false);
    for (bool fresh = false;;) {
      grpc_connectivity_state state = channel->GetState(true);
      if (state == GRPC_CHANNEL_READY) break;
      if (state == GRPC_CHANNEL_TRANSIENT_FAILURE || state == GRPC_CHANNEL_SHUTDOWN) {
        // A kept channel may still be backing off from an earlier failure (a
        // restarted server): try once more on a new one before giving up.
        if (!fresh) {
          channel = SharedChannel(address_, options_, true);
          fresh = true;
          continue;
        }
        throw std::runtime_error("cannot reach the application server at " + address_ +
                                 ": connection failed");
      }
      if (!channel->WaitForStateChange(state, deadline)) {
        throw std::runtime_error("cannot reach the application server at " + address_ +
                                 ": no answer within " + Seconds(options_.connectTimeoutSeconds) +
                                 " s");
      }
    }
    channel_ = channel;
    stub_ = wire::ApplicationServer::NewStub(channel_);
  }

  void Disconnect() override {
    stub_.reset();
    channel_.reset();
  }

  bool IsConnected() const override { return stub_ != nullptr; }

  Value Invoke(const std::string& serverObject, const std::string& method,
               const std::vector<CallArg>& args) override {
    if (!stub_) {
      throw std::runtime_error("cannot call " + method +
                               ": not connected to an application server");
    }
    wire::InvokeRequest request;
    request.set_object(serverObject);
    request.set_method(method);
    request.mutable_args()->Reserve(static_cast<int>(args.size()));
    for (const CallArg& a : args) {
      wire::Arg* wa = request.add_args();
      EncodeValue(a.value, wa->mutable_value());
      wa->set_by_ref(a.byRef);
    }

    grpc::ClientContext context;
    context.set_deadline(After(options_.callTimeoutSeconds));
    const std::string token =
        options_.sessionToken ? options_.sessionToken() : ClientSessionToken();
    if (!token.empty()) context.AddMetadata(kSessionMetadataKey, token);
    auto reader = stub_->Invoke(&context, request);
    wire::InvokeReply reply;
    wire::Result result;
    bool haveResult = false;
    std::vector<std::string> chunks;
    // The first chunk announces the whole size; nothing beyond it is kept, so a
    // misbehaving server cannot make the client collect without end.
    uint64_t announced = 0, received = 0;
    while (reader->Read(&reply)) {
      if (reply.has_result()) {
        result.Swap(reply.mutable_result());
        haveResult = true;
      } else if (reply.body_case() == wire::InvokeReply::kChunk) {
        if (chunks.empty()) {
          announced = reply.total_size();
          if (announced > 0) chunks.reserve(16);
        }
        received += reply.chunk().size();
        if (received > announced) {
          context.TryCancel();
          break;
        }
        chunks.emplace_back();
        chunks.back().swap(*reply.mutable_chunk());
      }
    }
    grpc::Status status = reader->Finish();
    auto malformedSize = [&] {
      return std::runtime_error("malformed answer to " + method + " from " + address_ + ": " +
                                std::to_string(received) + " bytes where " +
                                std::to_string(announced) + " were announced");
    };
    if (received > announced) throw malformedSize();
    // A failure the server answered arrives as its envelope, then its status.
    if (!status.ok() && !(haveResult && !result.ok())) Fail(method, status);
    if (received != announced) throw malformedSize();

    if (!haveResult) {
      std::vector<std::unique_ptr<google::protobuf::io::ArrayInputStream>> pieces;
      std::vector<google::protobuf::io::ZeroCopyInputStream*> streams;
      for (const std::string& c : chunks) {
        pieces.push_back(std::make_unique<google::protobuf::io::ArrayInputStream>(
            c.data(), static_cast<int>(c.size())));
        streams.push_back(pieces.back().get());
      }
      google::protobuf::io::ConcatenatingInputStream all(streams.data(),
                                                         static_cast<int>(streams.size()));
      if (chunks.empty() || !result.ParseFromZeroCopyStream(&all)) {
        throw std::runtime_error("malformed answer to " + method + " from " + address_);
      }
    }
    // Parsed: the received bytes are not needed while the answer is decoded.
    std::vector<std::string>().swap(chunks);
    try {
      if (!result.ok()) {
        const int code = result.code();
        return ResultFailure(std::move(*result.mutable_failure()),
                             code > 0 && code <= static_cast<int>(kLastErrorCode)
                                 ? static_cast<ErrorCode>(code)
                                 : ErrorCode::Internal);
      }
      return ResultOk(DecodeValue(result.mutable_payload()));
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error("malformed answer to " + method + " from " + address_ + ": " +
                               e.what());
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& method, const grpc::Status& status) {
    switch (status.error_code()) {
      case grpc::StatusCode::DEADLINE_EXCEEDED:
        throw std::runtime_error("method " + method + " timed out after " +
                                 Seconds(options_.callTimeoutSeconds) + " s at " + address_);
      case grpc::StatusCode::UNAVAILABLE:
        throw std::runtime_error("cannot reach the application server at " + address_ +
                                 " (method " + method + "): " + status.error_message());
      default:
        throw std::runtime_error("method " + method + " failed at " + address_ + ": " +
                                 status.error_message());
    }
  }

  GrpcClientOptions options_;
  std::string address_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<wire::ApplicationServer::Stub> stub_;
};

}  // namespace

void SetClientSessionToken(std::string token) {
  std::lock_guard lock(tokenMutex);
  ProcessToken() = std::move(token);
}

std::string ClientSessionToken() {
  std::lock_guard lock(tokenMutex);
  return ProcessToken();
}

void TuneAllocatorForLargePackets() {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  // A thread's own arena grows in heaps of at most 64 MiB, so a larger buffer
  // allocated off the main thread is mapped afresh whatever the threshold says.
  // One arena keeps every thread's large buffers in the reused heap; small
  // allocations still come from each thread's own cache.
  mallopt(M_ARENA_MAX, 1);
}

std::unique_ptr<ITransport> MakeGrpcTransport(GrpcClientOptions options) {
  return std::make_unique<GrpcTransport>(options);
}

}  // namespace apura::rpc
