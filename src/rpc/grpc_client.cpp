#include <arpa/inet.h>
#include <grpcpp/grpcpp.h>
#include <malloc.h>
#include <netdb.h>
#include <sys/socket.h>

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

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

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += separator;
    out += p;
  }
  return out;
}

// What a channel is opened on: the target gRPC resolves, and for a list the
// addresses already resolved, balanced by round robin.
struct ChannelTarget {
  std::string target;
  bool balanced = false;
  std::string authority;  // the first server, as TLS checks and HTTP/2 names it
};

// A list's entries resolved here, once per Connect: gRPC's own resolver of a
// multi-address target takes numbers only. Every address of a name is kept;
// the round robin leaves out those nobody answers on.
ChannelTarget ResolveList(const std::vector<ServerAddress>& servers, const std::string& label) {
  std::vector<std::string> v4, v6;
  std::set<std::string> seen;
  for (const ServerAddress& a : servers) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(a.port);
    if (int rc = getaddrinfo(a.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
      throw std::runtime_error("cannot reach the application server at " + label + ": " + a.Text() +
                               ": " + gai_strerror(rc));
    }
    for (addrinfo* i = found; i; i = i->ai_next) {
      char text[INET6_ADDRSTRLEN] = {};
      if (i->ai_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ai_addr)->sin_addr, text,
                  sizeof text);
        if (seen.insert(std::string(text) + ":" + port).second)
          v4.push_back(std::string(text) + ":" + port);
      } else if (i->ai_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(i->ai_addr)->sin6_addr, text,
                  sizeof text);
        if (seen.insert("[" + std::string(text) + "]:" + port).second)
          v6.push_back("[" + std::string(text) + "]:" + port);
      }
    }
    freeaddrinfo(found);
  }
  // One scheme per target: IPv4 addresses join an IPv6 list as mapped ones.
  ChannelTarget t;
  t.balanced = true;
  t.authority = servers.front().Text();
  if (!v6.empty()) {
    for (const std::string& a : v4)
      v6.push_back("[::ffff:" + a.substr(0, a.rfind(':')) + "]" + a.substr(a.rfind(':')));
    v4.clear();
  }
  t.target = v6.empty() ? "ipv4:" : "ipv6:";
  t.target += Joined(v6.empty() ? v4 : v6, ",");
  return t;
}

std::shared_ptr<grpc::Channel> SharedChannel(const ChannelTarget& target,
                                             const GrpcClientOptions& options, bool renew) {
  static std::mutex mutex;
  // Never destroyed: channels must not outlive the gRPC runtime at exit.
  static auto* channels = new std::map<std::string, std::shared_ptr<grpc::Channel>>();
  std::string key =
      target.target + "|" + std::to_string(options.maxMessageBytes) + "|" + options.tlsCaFile;
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
    if (target.balanced) {
      args.SetServiceConfigJSON(R"({"loadBalancingConfig": [{"round_robin": {}}]})");
      args.SetString(GRPC_ARG_DEFAULT_AUTHORITY, target.authority);
      if (!options.tlsCaFile.empty())
        args.SetSslTargetNameOverride(target.authority.substr(0, target.authority.rfind(':')));
    }
    channel = grpc::CreateCustomChannel(target.target, Credentials(options), args);
  }
  return channel;
}

class GrpcTransport : public ITransport {
 public:
  explicit GrpcTransport(GrpcClientOptions options) : options_(options) {}

  void Connect(const std::string& host, int port) override {
    Disconnect();
    std::vector<ServerAddress> servers;
    try {
      servers = ParseServerAddresses(host, port);
    } catch (const std::invalid_argument& e) {
      address_ = host.find(',') == std::string::npos && host.find(':') == std::string::npos
                     ? host + ":" + std::to_string(port)
                     : host;
      throw std::runtime_error("cannot reach the application server at " + address_ + ": " +
                               e.what());
    }
    std::vector<std::string> texts;
    for (const ServerAddress& a : servers) texts.push_back(a.Text());
    address_ = Joined(texts, ", ");
    servers_ = servers.size();
    ChannelTarget target = servers.size() == 1 ? ChannelTarget{servers[0].Text(), false, {}}
                                               : ResolveList(servers, address_);
    auto deadline = After(options_.connectTimeoutSeconds);
    std::shared_ptr<grpc::Channel> channel = SharedChannel(target, options_, false);
    for (bool fresh = false;;) {
      grpc_connectivity_state state = channel->GetState(true);
      if (state == GRPC_CHANNEL_READY) break;
      if (state == GRPC_CHANNEL_TRANSIENT_FAILURE || state == GRPC_CHANNEL_SHUTDOWN) {
        // A kept channel may still be backing off from an earlier failure (a
        // restarted server): try once more on a new one before giving up.
        if (!fresh) {
          channel = SharedChannel(target, options_, true);
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

    const auto deadline = After(options_.callTimeoutSeconds);
    const std::string token =
        options_.sessionToken ? options_.sessionToken() : ClientSessionToken();
    // A read that lost its server is sent again while the deadline allows: the
    // round robin has left the lost server out by then, and behind a proxy the
    // proxy picks another. A couple of tries beyond the servers known covers a
    // proxy's list too.
    const int tries = IsRetryableRead(method) ? static_cast<int>(servers_) + 2 : 1;
    for (int attempt = 1;; ++attempt) {
      grpc::Status lost;
      if (std::optional<Value> v = Attempt(request, method, token, deadline, lost)) return *v;
      if (attempt >= tries || std::chrono::system_clock::now() >= deadline) Fail(method, lost);
      // The lost server's connection may not have been seen closing yet.
      std::this_thread::sleep_until(std::min(
          deadline, std::chrono::system_clock::now() + std::chrono::milliseconds(20 * attempt)));
    }
  }

 private:
  // One sending of the call. Nothing when the server could not be reached or
  // went away under it (`lost` says how); the answer otherwise.
  std::optional<Value> Attempt(const wire::InvokeRequest& request, const std::string& method,
                               const std::string& token,
                               std::chrono::system_clock::time_point deadline, grpc::Status& lost) {
    grpc::ClientContext context;
    context.set_deadline(deadline);
    if (!token.empty()) context.AddMetadata(kSessionMetadataKey, token);
    // A small request travels in the metadata and the body goes empty; the
    // request itself stays whole for another try.
    const wire::InvokeRequest empty;
    const wire::InvokeRequest* body = &request;
    if (request.ByteSizeLong() <= kMaxMetadataRequestBytes) {
      context.AddMetadata(kRequestMetadataKey, request.SerializeAsString());
      body = &empty;
    }
    auto reader = stub_->Invoke(&context, *body);
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
    if (!status.ok() && !(haveResult && !result.ok())) {
      // Without the server's envelope, INTERNAL is a stream broken under way:
      // a proxy resets the call when its server dies in the middle of an
      // answer. A read can be asked again; a write is reported.
      if (status.error_code() == grpc::StatusCode::UNAVAILABLE ||
          (status.error_code() == grpc::StatusCode::INTERNAL && IsRetryableRead(method))) {
        lost = status;
        return std::nullopt;
      }
      Fail(method, status);
    }
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

  [[noreturn]] void Fail(const std::string& method, const grpc::Status& status) {
    // A write whose answer was lost may have been done.
    const std::string mayBeDone =
        IsRetryableRead(method) ? ""
                                : "; the call may have been carried out before the connection "
                                  "was lost";
    switch (status.error_code()) {
      case grpc::StatusCode::DEADLINE_EXCEEDED:
        throw std::runtime_error("method " + method + " timed out after " +
                                 Seconds(options_.callTimeoutSeconds) + " s at " + address_);
      case grpc::StatusCode::UNAVAILABLE:
        throw std::runtime_error("cannot reach the application server at " + address_ +
                                 " (method " + method + "): " + status.error_message() + mayBeDone);
      case grpc::StatusCode::INTERNAL:
        throw std::runtime_error("method " + method + " failed at " + address_ + ": " +
                                 status.error_message() + mayBeDone);
      default:
        throw std::runtime_error("method " + method + " failed at " + address_ + ": " +
                                 status.error_message());
    }
  }

  GrpcClientOptions options_;
  std::string address_;  // every server of the list, for the messages
  size_t servers_ = 1;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<wire::ApplicationServer::Stub> stub_;
};

}  // namespace

std::string ServerAddress::Text() const {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

std::vector<ServerAddress> ParseServerAddresses(const std::string& list, int defaultPort) {
  std::vector<ServerAddress> out;
  size_t begin = 0;
  for (;;) {
    size_t end = list.find(',', begin);
    std::string entry = list.substr(begin, end == std::string::npos ? end : end - begin);
    while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.front())))
      entry.erase(0, 1);
    while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.back())))
      entry.pop_back();
    auto refuse = [&](const std::string& why) {
      throw std::invalid_argument("\"" + entry + "\" is not an address (" + why + ")");
    };
    ServerAddress a;
    std::string portText;
    if (!entry.empty() && entry.front() == '[') {
      size_t close = entry.find(']');
      if (close == std::string::npos) refuse("no closing bracket");
      a.host = entry.substr(1, close - 1);
      std::string rest = entry.substr(close + 1);
      if (!rest.empty() && rest.front() != ':') refuse("HOST:PORT expected");
      if (!rest.empty()) portText = rest.substr(1);
      if (rest == ":") refuse("no port after the colon");
    } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
      a.host = entry.substr(0, entry.find(':'));
      portText = entry.substr(entry.find(':') + 1);
      if (portText.empty()) refuse("no port after the colon");
    } else {
      a.host = entry;  // a name, or an IPv6 address without its port
    }
    if (a.host.empty()) refuse("no host");
    for (char c : a.host)
      if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '[' || c == ']')
        refuse("not a host name");
    if (portText.empty()) {
      a.port = defaultPort;
    } else {
      char* stop = nullptr;
      long n = std::strtol(portText.c_str(), &stop, 10);
      a.port = *stop || !std::isdigit(static_cast<unsigned char>(portText[0])) || n > 65535
                   ? -1
                   : static_cast<int>(n);
    }
    if (a.port <= 0 || a.port > 65535) refuse("the port is a number from 1 to 65535");
    out.push_back(std::move(a));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return out;
}

bool IsRetryableRead(const std::string& method) {
  // Every Get… method reads; so do the price simulation and the reports.
  static const std::set<std::string> kOthers{"SimulaPreco", "ExecutaRelatorio"};
  return method.rfind("Get", 0) == 0 || kOthers.count(method) > 0;
}

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
