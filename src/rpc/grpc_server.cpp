#include <grpcpp/grpcpp.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "apura.grpc.pb.h"
#include "rpc/call_deadline.h"
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
    try {
      std::vector<CallArg> args;
      args.reserve(request->args_size());
      // The request is const; decoding moves buffers, so work on a copy of each arg.
      for (const wire::Arg& a : request->args()) {
        wire::Value v = a.value();
        args.push_back(CallArg{DecodeValue(&v), a.by_ref()});
      }
      // gRPC gives "no deadline" as a time far in the future.
      std::optional<DeadlineClock::time_point> deadline;
      auto left = context->deadline() - std::chrono::system_clock::now();
      if (left < std::chrono::hours(24 * 365)) {
        deadline = DeadlineClock::now() + std::chrono::duration_cast<DeadlineClock::duration>(left);
      }
      CallDeadlineScope scope(deadline);
      envelope = registry_.Dispatch(request->object(), request->method(), args);
    } catch (const std::exception& e) {
      envelope = ResultFailure("malformed arguments of " + request->method() + ": " + e.what());
    }

    wire::InvokeReply reply;
    wire::Result* result = reply.mutable_result();
    const ValueArray& parts = envelope.AsArray();
    result->set_ok(parts[0].AsBoolean());
    if (result->ok()) {
      EncodeValue(parts[1], result->mutable_payload());
    } else {
      result->set_failure(parts[1].ToText());
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

}  // namespace

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
  builder.AddListeningPort(listenAddress, grpc::InsecureServerCredentials(), &impl_->port);
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
