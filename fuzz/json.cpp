// The JSON readers: any text is read or refused, never a crash. A refusal of
// malformed text says where; a tally document that is accepted writes out as text
// that reads back to the same document.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "server/errors.h"
#include "server/exchange/json.h"
#include "server/exchange/tally_document.h"
#include "server/services/report_service.h"

using namespace apura::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    JsonText::Parse(text);
  } catch (const JsonError& e) {
    const std::string what = e.what();
    if (what.rfind("JSON line ", 0) != 0 && what.rfind("JSON: ", 0) != 0) std::abort();
    return 0;
  }
  try {
    ParseReportDefinition(std::string(text));
  } catch (const ServerError&) {
  }
  TallyDocument doc;
  try {
    doc = DocumentFromText(text);
  } catch (const ServerError&) {
    return 0;
  }
  const std::string once = DocumentToJson(doc).dump(1);
  const std::string twice = DocumentToJson(DocumentFromText(once)).dump(1);
  if (once != twice) std::abort();
  return 0;
}
