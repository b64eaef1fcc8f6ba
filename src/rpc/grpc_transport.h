#pragma once
// The gRPC client and server. This header pulls in no gRPC header, so a host can
// construct the transport without depending on gRPC's include paths.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/transport.h"
#include "rpc/dispatch.h"

namespace apura::rpc {

struct GrpcClientOptions {
  // Every call gets this deadline; a call that runs out throws "method X timed
  // out after N s at host:port".
  double callTimeoutSeconds = 120;
  // How long Connect waits for the server to answer before calling it unreachable.
  double connectTimeoutSeconds = 5;
  // Largest single message accepted either way; results beyond one chunk stream.
  int maxMessageBytes = 1 << 30;
  // The session token each call carries in its metadata; when unset, the
  // process-wide one (SetClientSessionToken).
  std::function<std::string()> sessionToken;
  // TLS: when caFile names a PEM file, the channel is encrypted and the server's
  // certificate must be signed by it and name the host connected to. Without
  // it the channel is plain text, which servers accept on loopback only.
  std::string tlsCaFile;
};

// One application server of a list.
struct ServerAddress {
  std::string host;  // a name, an IPv4 address or an IPv6 address without brackets
  int port = 0;
  // host:port, with an IPv6 address in brackets.
  std::string Text() const;
};

// Reads a list of servers separated by commas: "host", "host:port",
// "[v6]:port" or a bare IPv6 address; an entry without a port takes
// `defaultPort` (0: every entry must name its own). Throws
// std::invalid_argument naming the entry that is no address.
std::vector<ServerAddress> ParseServerAddresses(const std::string& list, int defaultPort);

// True for the methods that only read, which the transport may send again to
// another server when the first went away under the call. Every other call is
// sent once: a write whose answer was lost may have been done, and only the
// caller can tell (an effectuation repeated reports the AFs it made before).
bool IsRetryableRead(const std::string& method);

// The logged-in operator's token, sent by every transport made without its own.
void SetClientSessionToken(std::string token);
std::string ClientSessionToken();

// The transport behind TNetConnection. Connect takes one server or a list of
// them in the host (see ParseServerAddresses; the port is the default of the
// entries without one). With several, calls are spread over those that answer
// (gRPC's round robin), a server that goes away is left out until it is back,
// and a read it was answering is sent again to another. Over TLS every
// server's certificate must name the first entry's host (a name the team's
// servers share), since the channel checks them all against one name.
std::unique_ptr<ITransport> MakeGrpcTransport(GrpcClientOptions options = {});

// Large packets allocate and free buffers of tens of megabytes per call; by
// default the C library maps and unmaps each one, and the page faults cost more
// than the copies (a 500,000-row fetch runs about twice as fast with this).
// Keeps such buffers in the heap for reuse instead, on every thread. Process-wide: call once at
// start from main (the programs here do; a host may).
void TuneAllocatorForLargePackets();

struct GrpcServerOptions {
  // Results whose encoding exceeds this are streamed in slices of this size.
  size_t chunkBytes = 4u << 20;
  int maxMessageBytes = 1 << 30;
  // What a call may send in its body (a request over kMaxMetadataRequestBytes).
  // gRPC takes in a body whole before anyone sees it, so a body is read only in
  // a live session (sessionAlive, given the token of the call's metadata, says
  // why not otherwise; unset, every session is live), and then up to
  // maxPacketRequestBytes for the methods in packetMethods (those that carry a
  // change packet) and maxPlainRequestBytes for every other method.
  std::function<std::string(const std::string& token)> sessionAlive;
  std::vector<std::string> packetMethods;
  size_t maxPlainRequestBytes = 256u << 10;
  size_t maxPacketRequestBytes = 192u << 20;
  // Streams one connection may have open at once; a body that has not arrived
  // whole this long after its call began is given up (a stalled stream).
  int maxStreamsPerConnection = 8;
  std::chrono::seconds bodyTimeout{120};
  // gRPC's memory quota for the whole server (buffers of every connection and
  // call): beyond it, calls and connections are refused instead of taking
  // more. 0: none.
  size_t maxMemoryBytes = 0;
  // PEM files of the server's certificate (chain) and private key. Both or
  // neither; without them the server listens on loopback only.
  std::string tlsCertFile, tlsKeyFile;
  // Told of every call once its reply is ready to send (the server's metrics).
  CallObserver onCall;
};

// True for an address only this machine reaches: 127.x.x.x, ::1, localhost.
bool IsLoopbackAddress(const std::string& listenAddress);

// Serves the objects of a registry. Starts listening in the constructor (port 0
// picks a free port; port() tells which) and stops in Shutdown or the destructor.
class GrpcServer {
 public:
  GrpcServer(const ServerRegistry& registry, const std::string& listenAddress,
             GrpcServerOptions options = {});
  ~GrpcServer();
  GrpcServer(const GrpcServer&) = delete;
  GrpcServer& operator=(const GrpcServer&) = delete;

  int port() const;
  // host:port as bound, e.g. "127.0.0.1:50051".
  std::string address() const;
  // Stops accepting calls (the health service says NOT_SERVING at once, so a
  // balancer sends elsewhere) and waits for the calls under way to finish,
  // for at most `drain`. True when they all did; false when some still run,
  // which then go on unless the process ends. Idempotent: a later call only
  // waits again.
  bool Shutdown(std::chrono::milliseconds drain = std::chrono::seconds(5));
  // Calls received and not yet answered.
  int CallsUnderWay() const;
  // Blocks until Shutdown has been called (from another thread or a signal watcher).
  void Wait();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace apura::rpc
