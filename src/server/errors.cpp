#include "server/errors.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

namespace apura::server {

namespace {

// Ids stay distinct across restarts and across the servers of one database, so
// a caller's id finds one line in whichever server's log holds it.
std::string NewFailureId() {
  static const uint32_t prefix = [] {
    std::random_device random;
    return random();
  }();
  static std::atomic<uint32_t> next{0};
  char text[24];
  std::snprintf(text, sizeof text, "%04x-%u", prefix & 0xffff, ++next);
  return text;
}

std::string CallerText(const std::string& id, const std::string& reason) {
  return "Falha no banco de dados" + (reason.empty() ? std::string() : ": " + reason) +
         " (ocorrência " + id + "; detalhes no registro do servidor).";
}

}  // namespace

StorageFailure::StorageFailure(const std::string& detail, const std::string& reason, ErrorCode code)
    : StorageFailure(NewFailureId(), detail, reason, code) {}

StorageFailure::StorageFailure(const std::string& id, const std::string& detail,
                               const std::string& reason, ErrorCode code)
    : CodedError(code, CallerText(id, reason)), id_(id), detail_(detail) {
  LogLine("database failure " + id_ + ": " + detail_);
}

void LogLine(const std::string& line) {
  static std::mutex mutex;
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::lock_guard lock(mutex);
  std::fprintf(stderr, "apura-server %s %s\n", stamp, line.c_str());
  std::fflush(stderr);
}

std::string MaskConnectionString(const std::string& db) {
  std::string out = db;
  const size_t scheme = out.find("://");
  if (scheme != std::string::npos) {
    // user:password@ before the host; the host part never has '@'.
    const size_t start = scheme + 3;
    const size_t at = out.find('@', start);
    const size_t slash = out.find('/', start);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
      const size_t colon = out.find(':', start);
      if (colon != std::string::npos && colon < at) out.replace(colon + 1, at - colon - 1, "***");
    }
  }
  // password=... as a key=value pair or a query parameter, quoted or not.
  for (size_t at = 0; (at = out.find("password", at)) != std::string::npos;) {
    size_t p = at + 8;
    const bool key = at == 0 || out[at - 1] == ' ' || out[at - 1] == '?' || out[at - 1] == '&';
    while (p < out.size() && out[p] == ' ') ++p;
    if (!key || p >= out.size() || out[p] != '=') {
      at = p;
      continue;
    }
    ++p;
    while (p < out.size() && out[p] == ' ') ++p;
    size_t end = p;
    if (end < out.size() && out[end] == '\'') {
      ++end;
      while (end < out.size() && out[end] != '\'') end += out[end] == '\\' ? 2 : 1;
      end = std::min(end + 1, out.size());
    } else {
      while (end < out.size() && out[end] != ' ' && out[end] != '&') ++end;
    }
    out.replace(p, end - p, "***");
    at = p + 3;
  }
  return out;
}

}  // namespace apura::server
