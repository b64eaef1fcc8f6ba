// The packet decoder and the table's packet load: any bytes either decode to a
// packet or are refused; a packet that decodes loads into a table, and the
// table's Data loads again to the same content (load - Data - load).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "apura.pb.h"
#include "framework/dataset/dataset.h"
#include "rpc/wire.h"

using namespace apura;

namespace {

bool SameCell(const DataPacket& a, const DataPacket& b, size_t c, size_t r) {
  if (a.IsNull(c, r) != b.IsNull(c, r)) return false;
  if (a.fields()[c].type == FieldType::String) return a.Text(c, r) == b.Text(c, r);
  const double x = a.Number(c, r), y = b.Number(c, r);
  return std::memcmp(&x, &y, sizeof x) == 0;  // NaN payloads too
}

void ExpectSame(const DataPacket& a, const DataPacket& b) {
  if (a.fields() != b.fields() || a.RowCount() != b.RowCount()) std::abort();
  for (size_t c = 0; c < a.fields().size(); ++c)
    for (size_t r = 0; r < a.RowCount(); ++r)
      if (!SameCell(a, b, c, r)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wire::Packet message;
  if (!message.ParseFromArray(data, static_cast<int>(size))) return 0;
  DataPacket packet;
  try {
    packet = rpc::DecodePacket(&message);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  TClientDataSet first("cdsFirst");
  try {
    first.SetData(packet);
  } catch (const std::exception&) {
    return 0;  // a packet a table refuses (a text too long for its field, ...)
  }
  // Rows with a change log come back as the table keeps them; compare the
  // live content only when there is none.
  const DataPacket once = first.Data();
  if (packet.status().empty()) ExpectSame(packet, once);
  TClientDataSet second("cdsSecond");
  second.SetData(once);
  ExpectSame(once, second.Data());
  // And across the wire.
  wire::Packet encoded;
  rpc::EncodePacket(once, &encoded);
  ExpectSame(once, rpc::DecodePacket(&encoded));
  return 0;
}
