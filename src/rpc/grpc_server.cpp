#include <grpcpp/grpcpp.h>
#include <malloc.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "apura.grpc.pb.h"
#include "rpc/grpc_transport.h"
#include "rpc/wire.h"

namespace apura::rpc {

namespace {

// Thin: decode, dispatch, encode. Business failures travel inside the envelope;
// only a broken request or connection becomes a gRPC status.
class Service final : public wire::ApplicationServer::Service {
 public:
  Service(const ServerRegistry& registry, GrpcServerOptions options)
      : registry_(registry), options_(options) {}

  grpc::Status Invoke(grpc::ServerContext* context, const wire::InvokeRequest* request,
                      grpc::ServerWriter<wire::InvokeReply>* writer) override {
    Value envelope;
    CallContext call;
    const auto& metadata = context->client_metadata();
    if (auto it = metadata.find(kSessionMetadataKey); it != metadata.end())
      call.sessionToken.assign(it->second.data(), it->second.size());
    try {
      std::vector<CallArg> args;
      args.reserve(request->args_size());
      // The request is const; decoding moves buffers, so work on a copy of each arg.
      for (const wire::Arg& a : request->args()) {
        wire::Value v = a.value();
        args.push_back(CallArg{DecodeValue(&v), a.by_ref()});
      }
      envelope = registry_.Dispatch(request->object(), request->method(), args, call);
    } catch (const std::exception& e) {
      envelope = ResultFailure(
          BoundedFailureText("malformed arguments of " + request->method() + ": " + e.what()));
    }

    wire::InvokeReply reply;
    wire::Result* result = reply.mutable_result();
    const ValueArray& parts = envelope.AsArray();
    result->set_ok(parts[0].AsBoolean());
    if (result->ok()) {
      EncodeValue(parts[1], result->mutable_payload());
    } else {
      result->set_failure(parts[1].ToText());
      // A refused request may have brought megabytes; the allocator is tuned
      // to keep freed memory for the next large packet, so give it back now.
      if (request->ByteSizeLong() > (1u << 20)) malloc_trim(0);
    }
    if (result->ByteSizeLong() <= options_.chunkBytes) {
      writer->Write(reply);
      return grpc::Status::OK;
    }
    std::string encoded;
    result->SerializeToString(&encoded);
    reply.Clear();
    for (size_t at = 0; at < encoded.size(); at += options_.chunkBytes) {
      if (context->IsCancelled()) return grpc::Status(grpc::StatusCode::CANCELLED, "cancelled");
      wire::InvokeReply chunk;
      chunk.set_chunk(encoded.substr(at, options_.chunkBytes));
      if (at == 0) chunk.set_total_size(encoded.size());
      if (!writer->Write(chunk)) break;
    }
    return grpc::Status::OK;
  }

 private:
  const ServerRegistry& registry_;
  GrpcServerOptions options_;
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
};

GrpcServer::GrpcServer(const ServerRegistry& registry, const std::string& listenAddress,
                       GrpcServerOptions options)
    : impl_(std::make_unique<Impl>(registry, options)) {
  auto colon = listenAddress.rfind(':');
  if (colon == std::string::npos) {
    throw std::invalid_argument("listen address \"" + listenAddress + "\" is not host:port");
  }
  impl_->host = listenAddress.substr(0, colon);
  grpc::ServerBuilder builder;
  builder.AddListeningPort(listenAddress, Credentials(listenAddress, options), &impl_->port);
  builder.SetMaxReceiveMessageSize(options.maxMessageBytes);
  builder.SetMaxSendMessageSize(options.maxMessageBytes);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, 64 << 20);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_FRAME_SIZE, (1 << 24) - 1);
  builder.RegisterService(&impl_->service);
  impl_->server = builder.BuildAndStart();
  if (!impl_->server || impl_->port == 0) {
    throw std::runtime_error("cannot listen on " + listenAddress);
  }
}

GrpcServer::~GrpcServer() {
  Shutdown();
  impl_->server->Wait();
}

int GrpcServer::port() const {
  return impl_->port;
}

std::string GrpcServer::address() const {
  return impl_->host + ":" + std::to_string(impl_->port);
}

void GrpcServer::Shutdown() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->isShutdown) return;
    impl_->isShutdown = true;
  }
  impl_->server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(5));
  impl_->stopped.notify_all();
}

void GrpcServer::Wait() {
  std::unique_lock lock(impl_->mutex);
  impl_->stopped.wait(lock, [&] { return impl_->isShutdown; });
}

}  // namespace apura::rpc
