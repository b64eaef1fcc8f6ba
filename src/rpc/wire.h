#pragma once
// Conversion between the framework's values and their wire messages. Internal to
// the gRPC transport.

#include "apura.pb.h"
#include "framework/packet.h"
#include "framework/value.h"

namespace apura::rpc {

void EncodeValue(const Value& v, wire::Value* out);
void EncodePacket(const DataPacket& p, wire::Packet* out);

// Decoding takes the message apart (its buffers are moved, not copied) and
// throws std::invalid_argument saying what is wrong with a malformed one.
Value DecodeValue(wire::Value* in);
DataPacket DecodePacket(wire::Packet* in);

}  // namespace apura::rpc
