// The JSON reader of the tally import: any text parses or is refused, and what
// parses writes out as text that parses again to the same document.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "server/exchange/json.h"

using apura::server::Json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Json doc;
  try {
    doc = Json::Parse(text);
  } catch (const std::exception&) {
    return 0;
  }
  const std::string once = doc.Dump(0);
  const std::string twice = Json::Parse(once).Dump(0);
  if (once != twice) std::abort();
  return 0;
}
