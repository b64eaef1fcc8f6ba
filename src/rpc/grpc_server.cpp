#include <grpcpp/generic/async_generic_service.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/health_check_service_interface.h>
#include <grpcpp/resource_quota.h>
#include <grpcpp/support/proto_buffer_reader.h>
#include <malloc.h>
#include <sys/mman.h>

#include <arpa/inet.h>

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "apura.grpc.pb.h"
#include "rpc/call_deadline.h"
#include "rpc/grpc_transport.h"
#include "rpc/wire.h"

namespace apura::rpc {

namespace {

// An encoded result. Large ones are mapped from the system and given back to
// it when the last reader is done: the server's heap keeps freed memory for
// the next large packet, and tens of megabytes of bytes already sent would
// otherwise stay in it, scattered among the packets, for the life of the
// server.
class EncodedBytes {
 public:
  explicit EncodedBytes(const google::protobuf::MessageLite& message)
      : size_(message.ByteSizeLong()) {
    if (size_ >= kMappedFrom) {
      void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      data_ = static_cast<char*>(p);
      mapped_ = true;
    } else {
      data_ = new char[std::max<size_t>(size_, 1)];
    }
    // The sizes were just worked out, and the message is not changed meanwhile.
    message.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t*>(data_));
  }
  ~EncodedBytes() { Free(); }
  EncodedBytes(const EncodedBytes&) = delete;
  EncodedBytes& operator=(const EncodedBytes&) = delete;
  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  static constexpr size_t kMappedFrom = size_t{16} << 20;
  void Free() {
    if (mapped_)
      munmap(data_, size_);
    else
      delete[] data_;
    data_ = nullptr;
  }
  size_t size_;
  char* data_ = nullptr;
  bool mapped_ = false;
};

using Encoding = std::shared_ptr<const EncodedBytes>;

// The encoded results of large packets answered. The application server hands
// every reader of one tally version the same packet; its readers then share
// one encoding (and the first one's work) instead of each building and holding
// its own copy of tens of megabytes. An encoding is kept for as long as its
// packet is still held by someone else (the server's loaded tally version),
// so a team's buyers, each reading their own tally, are answered from theirs
// instead of pushing each other's out; once the packet is let go (a newer
// version, a tally unloaded) its encoding goes with it. A byte budget bounds
// the whole, the encodings read longest ago going first.
class SharedEncodings {
 public:
  // Packets smaller than this are encoded per call.
  static constexpr size_t kMinRows = 1000;
  // Beyond this the encodings read longest ago are let go even while their
  // packets are held.
  static constexpr size_t kBudgetBytes = size_t{64} << 20;

  // Lets go of what is no longer wanted, for when no large packet is read.
  void Trim() {
    std::vector<Entry> dropped;
    std::lock_guard lock(mutex_);
    Prune(dropped);
  }

  Encoding Get(const DataPacket& packet) {
    std::promise<Encoding> mine;
    std::shared_future<Encoding> pending;
    bool first = false;
    std::vector<Entry> dropped;  // freed outside the lock
    {
      std::lock_guard lock(mutex_);
      for (auto e = entries_.begin(); e != entries_.end(); ++e) {
        if (&e->packet.body() == &packet.body()) {
          pending = e->bytes;
          entries_.splice(entries_.begin(), entries_, e);
          break;
        }
      }
      if (!pending.valid()) {
        pending = mine.get_future().share();
        entries_.push_front({packet, pending, 0});
        first = true;
      }
      Prune(dropped);
    }
    if (!first) return pending.get();
    try {
      wire::Result result;
      result.set_ok(true);
      EncodeValue(Value(packet), result.mutable_payload());
      auto bytes = std::make_shared<const EncodedBytes>(result);
      const size_t size = bytes->size();
      mine.set_value(std::move(bytes));
      std::lock_guard lock(mutex_);
      for (Entry& e : entries_) {
        if (&e.packet.body() == &packet.body()) {
          e.size = size;
          bytes_ += size;
          break;
        }
      }
      Prune(dropped);
    } catch (...) {
      mine.set_exception(std::current_exception());
      std::lock_guard lock(mutex_);
      std::erase_if(entries_, [&](const Entry& e) { return &e.packet.body() == &packet.body(); });
    }
    return pending.get();
  }

 private:
  struct Entry {
    DataPacket packet;  // holds the body, so its address names no other packet
    std::shared_future<Encoding> bytes;
    size_t size = 0;  // 0 while being encoded
  };

  // Under mutex_: lets go of the encodings of packets nobody else holds, then
  // of the oldest read beyond the budget (never the newest, being answered).
  void Prune(std::vector<Entry>& dropped) {
    auto drop = [&](std::list<Entry>::iterator e) {
      bytes_ -= e->size;
      dropped.push_back(std::move(*e));
      return entries_.erase(e);
    };
    for (auto e = entries_.begin(); e != entries_.end();)
      e = e->size > 0 && e->packet.Holders() == 1 ? drop(e) : std::next(e);
    while (bytes_ > kBudgetBytes && entries_.size() > 1) {
      auto oldest = std::prev(entries_.end());
      if (oldest->size == 0) break;
      drop(oldest);
    }
  }

  std::mutex mutex_;
  std::list<Entry> entries_;  // read most recently first
  size_t bytes_ = 0;
};

SharedEncodings& Encodings() {
  static SharedEncodings encodings;
  return encodings;
}

// A slice over part of a shared encoding, without copying it: the slice keeps
// the encoding alive until gRPC has sent it.
grpc::Slice SliceOf(const Encoding& bytes, size_t at, size_t size) {
  auto* hold = new Encoding(bytes);
  return grpc::Slice(
      const_cast<char*>(bytes->data() + at), size,
      [](void* p) { delete static_cast<Encoding*>(p); }, hold);
}

// The one place an envelope's code becomes a gRPC status. Busy is not
// UNAVAILABLE: a channel may retry that by itself, and a write must not be.
grpc::StatusCode StatusFor(ErrorCode code) {
  switch (code) {
    case ErrorCode::Ok:
      return grpc::StatusCode::OK;
    case ErrorCode::Unauthenticated:
      return grpc::StatusCode::UNAUTHENTICATED;
    case ErrorCode::Forbidden:
      return grpc::StatusCode::PERMISSION_DENIED;
    case ErrorCode::InvalidArgument:
      return grpc::StatusCode::INVALID_ARGUMENT;
    case ErrorCode::Conflict:
      return grpc::StatusCode::FAILED_PRECONDITION;
    case ErrorCode::Busy:
      return grpc::StatusCode::RESOURCE_EXHAUSTED;
    case ErrorCode::NotFound:
      return grpc::StatusCode::NOT_FOUND;
    case ErrorCode::Internal:
      return grpc::StatusCode::INTERNAL;
  }
  return grpc::StatusCode::INTERNAL;
}

// gRPC's "ipv4:127.0.0.1:5123" or "ipv6:[::1]:5123" as the address alone: a
// client's every connection comes from another port.
std::string PeerAddress(const std::string& peer) {
  std::string address = peer.substr(peer.find(':') + 1);
  if (peer.rfind("ipv4:", 0) == 0 || peer.rfind("ipv6:", 0) == 0)
    address = address.substr(0, address.rfind(':'));
  if (address.size() > 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  return address;
}

// Bodies being read, each given up when it has not arrived whole in time: a
// stream that declared a large request and stalls must not hold its buffers.
class BodyWatch {
 public:
  explicit BodyWatch(std::chrono::seconds limit) : limit_(limit) {}
  ~BodyWatch() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  void Add(const void* call, grpc::CallbackServerContext* context) {
    std::lock_guard lock(mutex_);
    reads_[call] = {context, std::chrono::steady_clock::now() + limit_};
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  void Remove(const void* call) {
    std::lock_guard lock(mutex_);
    reads_.erase(call);
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stop_; })) {
      const auto now = std::chrono::steady_clock::now();
      for (auto it = reads_.begin(); it != reads_.end();) {
        if (it->second.second > now) {
          ++it;
          continue;
        }
        it->second.first->TryCancel();
        it = reads_.erase(it);
      }
    }
  }
  std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::map<const void*,
           std::pair<grpc::CallbackServerContext*, std::chrono::steady_clock::time_point>>
      reads_;
  std::thread thread_;
};

// The object and method a request names, read from the head of its encoding
// (the fields in number order) without decoding its arguments.
std::pair<std::string, std::string> Names(grpc::ByteBuffer& body) {
  grpc::ByteBuffer bytes(body);
  grpc::ProtoBufferReader reader(&bytes);
  google::protobuf::io::CodedInputStream in(&reader);
  std::string object, method;
  for (uint32_t tag; (tag = in.ReadTag()) != 0;) {
    const uint32_t field = tag >> 3;
    if ((field != wire::InvokeRequest::kObjectFieldNumber &&
         field != wire::InvokeRequest::kMethodFieldNumber) ||
        (tag & 7) != 2)
      break;
    uint32_t size = 0;
    if (!in.ReadVarint32(&size) || size > kMaxTextArgumentBytes) break;
    std::string& into = field == wire::InvokeRequest::kObjectFieldNumber ? object : method;
    if (!in.ReadString(&into, static_cast<int>(size))) break;
  }
  return {object, method};
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

constexpr const char* kInvokePath = "/apura.wire.ApplicationServer/Invoke";

// One call, from its raw bytes: decoding them here (rather than in gRPC's
// generated handler) lets a request that is no Invoke message be answered
// INVALID_ARGUMENT saying so, instead of INTERNAL with no text. A small request
// comes in the metadata; a body is read only after the session of the
// metadata is found live, since gRPC takes in a body whole before it hands it
// over. The method runs on a thread of its own, as a blocking handler would,
// so a long Gera_AF never holds up gRPC's own threads. Business failures
// travel inside the envelope, and the call then ends with the status their
// code maps to.
class InvokeCall final : public grpc::ServerBidiReactor<grpc::ByteBuffer, grpc::ByteBuffer> {
 public:
  InvokeCall(const ServerRegistry& registry, const GrpcServerOptions& options, BodyWatch& watch,
             std::atomic<int>& underWay, grpc::GenericCallbackServerContext* context)
      : registry_(registry),
        options_(options),
        watch_(watch),
        underWay_(underWay),
        context_(context) {
    ++underWay_;
    if (context->method() != kInvokePath) {
      Finish(grpc::Status(grpc::StatusCode::UNIMPLEMENTED, "no method " + context->method()));
      return;
    }
    const auto& metadata = context->client_metadata();
    if (auto it = metadata.find(kSessionMetadataKey); it != metadata.end())
      call_.sessionToken.assign(it->second.data(), it->second.size());
    call_.peer = PeerAddress(context->peer());
    if (auto it = metadata.find(kRequestMetadataKey); it != metadata.end()) {
      requestBytes_ = it->second.size();
      if (requestBytes_ > kMaxMetadataRequestBytes ||
          !request_.ParseFromArray(it->second.data(), static_cast<int>(it->second.size()))) {
        Malformed();
        return;
      }
      Start();
      return;
    }
    if (options_.sessionAlive) {
      std::string why = options_.sessionAlive(call_.sessionToken);
      if (!why.empty()) {
        Answer(ResultFailure(why, ErrorCode::Unauthenticated));
        return;
      }
    }
    watch_.Add(this, context_);
    reading_ = true;
    StartRead(&body_);
  }

  void OnReadDone(bool ok) override {
    watch_.Remove(this);
    reading_ = false;
    if (!ok) {
      Finish(grpc::Status(grpc::StatusCode::CANCELLED, "the request did not arrive whole"));
      return;
    }
    requestBytes_ = body_.Length();
    if (requestBytes_ > options_.maxPlainRequestBytes) {
      auto [object, method] = Names(body_);
      bool packet = false;
      for (const std::string& m : options_.packetMethods) packet = packet || SameName(m, method);
      const size_t limit = packet ? options_.maxPacketRequestBytes : options_.maxPlainRequestBytes;
      if (requestBytes_ > limit) {
        body_.Clear();
        Answer(ResultFailure(BoundedFailureText(method) + ": o pedido tem " +
                                 std::to_string(requestBytes_) + " bytes; o máximo é " +
                                 std::to_string(limit) + ".",
                             ErrorCode::InvalidArgument));
        return;
      }
    }
    grpc::ProtoBufferReader reader(&body_);
    const bool parsed = request_.ParseFromZeroCopyStream(&reader);
    body_.Clear();
    if (!parsed) {
      Malformed();
      return;
    }
    Start();
  }

  void OnWriteDone(bool ok) override {
    if (!ok) {
      Finish(grpc::Status(grpc::StatusCode::CANCELLED, "the client went away"));
      return;
    }
    WriteNext();
  }
  void OnDone() override {
    if (reading_) watch_.Remove(this);
    // A refused or given-up request may have brought megabytes; the allocator
    // is tuned to keep freed memory for the next large packet, so give it back.
    if (requestBytes_ > (1u << 20) && refused_) malloc_trim(0);
    --underWay_;
    delete this;
  }

 private:
  void Malformed() {
    Finish(grpc::Status(grpc::StatusCode::INVALID_ARGUMENT,
                        "malformed request: " + std::to_string(requestBytes_) +
                            " bytes that are no Invoke message of this server's protocol"));
  }
  void Start() {
    std::thread([this] { Run(); }).detach();
  }

  // The metrics' record of the call, its reply ready to send.
  void Observed(ErrorCode code) {
    if (!options_.onCall) return;
    ServedCall served;
    std::tie(served.object, served.method) = names_;
    served.code = code;
    served.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    options_.onCall(served);
  }

  void Run() {
    Value envelope;
    try {
      std::vector<CallArg> args;
      args.reserve(request_.args_size());
      for (wire::Arg& a : *request_.mutable_args())
        args.push_back(CallArg{DecodeValue(a.mutable_value()), a.by_ref()});
      // gRPC gives "no deadline" as a time far in the future.
      std::optional<DeadlineClock::time_point> deadline;
      auto left = context_->deadline() - std::chrono::system_clock::now();
      if (left < std::chrono::hours(24 * 365)) {
        deadline = DeadlineClock::now() + std::chrono::duration_cast<DeadlineClock::duration>(left);
      }
      CallDeadlineScope scope(deadline);
      envelope = registry_.Dispatch(request_.object(), request_.method(), args, call_);
    } catch (const std::exception& e) {
      envelope = ResultFailure(
          BoundedFailureText("malformed arguments of " + request_.method() + ": " + e.what()));
    }
    if (options_.onCall) names_ = registry_.Names(request_.object(), request_.method());
    request_.Clear();
    Answer(std::move(envelope));
  }

  void Answer(Value envelope) {
    const ValueArray& parts = envelope.AsArray();
    if (parts[0].AsBoolean() && parts[1].kind() == Value::Kind::Packet &&
        parts[1].AsPacket().RowCount() >= SharedEncodings::kMinRows) {
      try {
        encoded_ = Encodings().Get(parts[1].AsPacket());
      } catch (const std::exception& e) {
        Observed(ErrorCode::Busy);
        Finish(grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED,
                            std::string("cannot encode the result: ") + e.what()));
        return;
      }
      envelope = Value();
      Observed(ErrorCode::Ok);
      WriteNext();
      return;
    }
    Encodings().Trim();
    wire::InvokeReply reply;
    wire::Result* result = reply.mutable_result();
    result->set_ok(parts[0].AsBoolean());
    if (result->ok()) {
      EncodeValue(parts[1], result->mutable_payload());
    } else {
      const ErrorCode code = FailureCode(envelope);
      result->set_failure(parts[1].ToText());
      result->set_code(static_cast<wire::ErrorCode>(code));
      // Proxies, health checks and logs see the failure in the status; the
      // client reads the envelope sent before it.
      status_ = grpc::Status(StatusFor(code), parts[1].ToText());
    }
    refused_ = !result->ok();
    const ErrorCode outcome = refused_ ? FailureCode(envelope) : ErrorCode::Ok;
    envelope = Value();
    if (result->ByteSizeLong() <= options_.chunkBytes) {
      reply.SerializeToString(&whole_);
    } else {
      encoded_ = std::make_shared<const EncodedBytes>(*result);
    }
    reply.Clear();
    Observed(outcome);
    // The last touch of this object from this thread: from here on gRPC's
    // callbacks carry the call to its end.
    WriteNext();
  }

  void WriteNext() {
    if (context_->IsCancelled()) {
      Finish(grpc::Status(grpc::StatusCode::CANCELLED, "cancelled"));
      return;
    }
    if (!whole_.empty()) {
      std::string message;
      message.swap(whole_);
      grpc::Slice slice(message);
      buffer_ = grpc::ByteBuffer(&slice, 1);
    } else if (encoded_ && at_ < encoded_->size()) {
      // An InvokeReply whose chunk is this slice of the encoding: its field
      // header written here, the bytes themselves sent from the encoding.
      const size_t n = std::min(options_.chunkBytes, encoded_->size() - at_);
      std::string header;
      {
        google::protobuf::io::StringOutputStream raw(&header);
        google::protobuf::io::CodedOutputStream out(&raw);
        constexpr uint32_t kVarint = 0, kLengthDelimited = 2;
        if (at_ == 0) {
          out.WriteTag(wire::InvokeReply::kTotalSizeFieldNumber << 3 | kVarint);
          out.WriteVarint64(encoded_->size());
        }
        out.WriteTag(wire::InvokeReply::kChunkFieldNumber << 3 | kLengthDelimited);
        out.WriteVarint32(static_cast<uint32_t>(n));
      }
      grpc::Slice slices[2] = {grpc::Slice(header), SliceOf(encoded_, at_, n)};
      buffer_ = grpc::ByteBuffer(slices, 2);
      at_ += n;
    } else {
      Finish(status_);
      return;
    }
    StartWrite(&buffer_);
  }

  const ServerRegistry& registry_;
  const GrpcServerOptions& options_;
  BodyWatch& watch_;
  std::atomic<int>& underWay_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  grpc::CallbackServerContext* context_;
  grpc::ByteBuffer body_;
  bool reading_ = false;
  bool refused_ = true;  // until an answer says otherwise
  size_t requestBytes_ = 0;
  wire::InvokeRequest request_;
  CallContext call_;
  std::pair<std::string, std::string> names_;  // as the registry knows them
  grpc::Status status_;                        // how the call ends once its reply is sent
  std::string whole_;                          // a reply small enough for one message
  Encoding encoded_;                           // or the encoded result, sent in slices
  size_t at_ = 0;
  grpc::ByteBuffer buffer_;
};

class Service final : public grpc::CallbackGenericService {
 public:
  Service(const ServerRegistry& registry, GrpcServerOptions options)
      : registry_(registry), options_(std::move(options)), watch_(options_.bodyTimeout) {}

  grpc::ServerGenericBidiReactor* CreateReactor(
      grpc::GenericCallbackServerContext* context) override {
    return new InvokeCall(registry_, options_, watch_, underWay, context);
  }

  std::atomic<int> underWay{0};

 private:
  const ServerRegistry& registry_;
  GrpcServerOptions options_;
  BodyWatch watch_;
};

std::string ReadPem(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read the TLS ") + what + " " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::shared_ptr<grpc::ServerCredentials> Credentials(const std::string& listenAddress,
                                                     const GrpcServerOptions& options) {
  if (options.tlsCertFile.empty() != options.tlsKeyFile.empty())
    throw std::invalid_argument("TLS needs both a certificate and a private key");
  if (options.tlsCertFile.empty()) {
    // Sessions and passwords would cross the network in plain text.
    if (!IsLoopbackAddress(listenAddress))
      throw std::invalid_argument("refusing to listen on " + listenAddress +
                                  " without TLS: give a certificate and key, or listen on "
                                  "127.0.0.1");
    return grpc::InsecureServerCredentials();
  }
  grpc::SslServerCredentialsOptions ssl;
  ssl.pem_key_cert_pairs.push_back(
      {ReadPem(options.tlsKeyFile, "private key"), ReadPem(options.tlsCertFile, "certificate")});
  return grpc::SslServerCredentials(ssl);
}

}  // namespace

bool IsLoopbackAddress(const std::string& listenAddress) {
  auto colon = listenAddress.rfind(':');
  std::string host = colon == std::string::npos ? listenAddress : listenAddress.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host == "localhost" || host == "::1") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return false;
}

struct GrpcServer::Impl {
  Impl(const ServerRegistry& registry, GrpcServerOptions options) : service(registry, options) {}
  Service service;
  std::unique_ptr<grpc::Server> server;
  std::string host;
  int port = 0;
  std::mutex mutex;
  std::condition_variable stopped;
  bool isShutdown = false;
  // gRPC's own shutdown waits for every call to end, however long one runs;
  // it runs on a thread of its own so a drain can stop waiting at its bound.
  std::thread stopping;
  std::condition_variable drained;
  bool isDrained = false;
};

GrpcServer::GrpcServer(const ServerRegistry& registry, const std::string& listenAddress,
                       GrpcServerOptions options)
    : impl_(std::make_unique<Impl>(registry, options)) {
  auto colon = listenAddress.rfind(':');
  if (colon == std::string::npos) {
    throw std::invalid_argument("listen address \"" + listenAddress + "\" is not host:port");
  }
  impl_->host = listenAddress.substr(0, colon);
  // The standard health service (grpc.health.v1.Health): a balancer in front
  // of several servers asks it whether to send calls here.
  grpc::EnableDefaultHealthCheckService(true);
  grpc::ServerBuilder builder;
  builder.AddListeningPort(listenAddress, Credentials(listenAddress, options), &impl_->port);
  // No body is taken beyond the largest a method accepts.
  builder.SetMaxReceiveMessageSize(static_cast<int>(
      std::min<size_t>(std::max(options.maxPacketRequestBytes, options.maxPlainRequestBytes) + 1024,
                       static_cast<size_t>(options.maxMessageBytes))));
  builder.SetMaxSendMessageSize(options.maxMessageBytes);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_FRAME_SIZE, (1 << 24) - 1);
  builder.AddChannelArgument(GRPC_ARG_MAX_CONCURRENT_STREAMS, options.maxStreamsPerConnection);
  // A connection that went quiet is asked whether its client is still there,
  // and one without calls for long is closed.
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 60 * 1000);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 20 * 1000);
  builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, 10 * 60 * 1000);
  builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, 20 * 1000);
  if (options.maxMemoryBytes > 0)
    builder.SetResourceQuota(grpc::ResourceQuota("apura-server").Resize(options.maxMemoryBytes));
  builder.RegisterCallbackGenericService(&impl_->service);
  impl_->server = builder.BuildAndStart();
  if (!impl_->server || impl_->port == 0) {
    throw std::runtime_error("cannot listen on " + listenAddress);
  }
}

GrpcServer::~GrpcServer() {
  Shutdown();
  impl_->stopping.join();
  impl_->server->Wait();
}

int GrpcServer::CallsUnderWay() const {
  return impl_->service.underWay.load();
}

int GrpcServer::port() const {
  return impl_->port;
}

std::string GrpcServer::address() const {
  return impl_->host + ":" + std::to_string(impl_->port);
}

bool GrpcServer::Shutdown(std::chrono::milliseconds drain) {
  std::unique_lock lock(impl_->mutex);
  if (!impl_->isShutdown) {
    impl_->isShutdown = true;
    // Not serving from now on, whatever finishes meanwhile.
    if (auto* health = impl_->server->GetHealthCheckService()) health->Shutdown();
    // New calls are refused from here on; those under way are cancelled at the
    // deadline, which only tells a method that checks; gRPC then still waits
    // for it to return.
    impl_->stopping = std::thread([impl = impl_.get(), drain] {
      impl->server->Shutdown(std::chrono::system_clock::now() + drain);
      std::lock_guard done(impl->mutex);
      impl->isDrained = true;
      impl->drained.notify_all();
    });
    impl_->stopped.notify_all();
  }
  return impl_->drained.wait_for(lock, drain + std::chrono::milliseconds(100),
                                 [&] { return impl_->isDrained; });
}

void GrpcServer::Wait() {
  std::unique_lock lock(impl_->mutex);
  impl_->stopped.wait(lock, [&] { return impl_->isShutdown; });
}

}  // namespace apura::rpc
