// What a refused request leaves behind: nothing. A caller sending oversized
// arguments again and again must not grow the server.

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "rpc/dispatch.h"
#include "rpc/grpc_transport.h"
#include "server/app/embedded_server.h"
#include "server/objects/server_objects.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define APURA_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(APURA_TEST_ASAN)
#define APURA_TEST_ASAN 1
#endif

#ifdef APURA_TEST_ASAN
#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#else
// GCC's runtime has it without shipping the header.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#else
#include <malloc.h>
#endif

namespace apura::server {
namespace {

// Bytes the process holds from the allocator now (freed ones excluded).
size_t AllocatedBytes() {
#ifdef APURA_TEST_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

TEST(RefusedRequestMemoryTest, OversizedTextsSentOverAndOverLeaveTheServerAsItWas) {
  auto db = std::filesystem::temp_directory_path() /
            ("apura-memory-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(db);
  EmbeddedServerOptions options;
  options.dbPath = db.string();
  options.demo = false;
  {
    EmbeddedServer server(options);
    auto client = rpc::MakeGrpcTransport(rpc::GrpcClientOptions{});
    client->Connect("127.0.0.1", server.port());
    const size_t empty = AllocatedBytes();
    const std::string huge(10u << 20, 'x');
    // The server's threads allocate and free meanwhile: half is proof enough.
    ASSERT_GE(AllocatedBytes(), empty + huge.size() / 2) << "the allocator's count sees a request";
    auto send = [&] {
      Value env =
          client->Invoke(kWorksheetObject, "GetDados", {ByRef(Value("0001")), ByRef(Value(huge))});
      ASSERT_FALSE(env.AsArray()[0].AsBoolean());
      // Refused by its size, before its arguments are decoded.
      EXPECT_NE(env.AsArray()[1].ToText().find("GetDados: o pedido tem 104858"), std::string::npos)
          << env.AsArray()[1].ToText();
    };
    // The channel's and the server's buffers settle on the first calls.
    for (int i = 0; i < 3; ++i) send();
    const size_t before = AllocatedBytes();
    constexpr int kCalls = 25;
    for (int i = 0; i < kCalls; ++i) send();
    const size_t after = AllocatedBytes();
    // Keeping one request in five would already be 50 MB more; a few buffers
    // of the size of one request may stay for reuse.
    const size_t slack = 3 * huge.size();
    EXPECT_LT(after, before + slack)
        << "before " << before << " bytes, after " << after << " bytes, " << kCalls
        << " refused calls of " << huge.size() << " bytes";
    client->Disconnect();
    server.Shutdown();
  }
  std::filesystem::remove(db);
  std::filesystem::remove(db.string() + "-wal");
  std::filesystem::remove(db.string() + "-shm");
}

}  // namespace
}  // namespace apura::server
