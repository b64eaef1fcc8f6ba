// Malformed packets on the wire are refused with a reason, never trusted.

#include <gtest/gtest.h>

#include "rpc/wire.h"

namespace apura::rpc {
namespace {

wire::Value TextPacket() {
  PacketBuilder b({{"CDFILIAP", FieldType::String, 4, false}, {"QT", FieldType::Float, 0, false}});
  b.Add({Value("0101"), Value(1.5)}).Add({Value("0102"), Value()});
  wire::Value v;
  EncodeValue(Value(b.Build()), &v);
  return v;
}

std::string Refusal(wire::Value v) {
  try {
    DecodeValue(&v);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(WireTest, WellFormedPacketDecodes) {
  wire::Value v = TextPacket();
  Value back = DecodeValue(&v);
  EXPECT_EQ(back.AsPacket().Text(0, 1), "0102");
  EXPECT_TRUE(back.AsPacket().IsNull(1, 1));
}

TEST(WireTest, MalformedPacketsAreRefused) {
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->mutable_columns(0)->set_codes(
        std::string("\x07\x00\x00\x00\x00\x00\x00\x00", 8));
    EXPECT_NE(Refusal(v), "") << "code outside the dictionary";
  }
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->mutable_columns(0)->set_codes("abc");
    EXPECT_NE(Refusal(v).find("multiple of 4"), std::string::npos);
  }
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->mutable_columns(0)->set_dict_bytes("0101010");
    EXPECT_NE(Refusal(v).find("CDFILIAP"), std::string::npos);
  }
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->set_row_count(3);
    EXPECT_NE(Refusal(v), "") << "columns shorter than the row count";
  }
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->mutable_fields(1)->set_type(77);
    EXPECT_NE(Refusal(v).find("unknown type"), std::string::npos);
  }
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->add_fields()->set_name("EXTRA");
    EXPECT_NE(Refusal(v).find("columns"), std::string::npos);
  }
  {
    // Nothing else bounds the row count of a packet without fields, and a
    // table allocates per row.
    wire::Value v;
    v.mutable_packet()->set_row_count(uint64_t{1} << 40);
    EXPECT_NE(Refusal(v).find("no fields"), std::string::npos);
  }
  {
    wire::Value v = TextPacket();
    v.mutable_packet()->set_status(std::string("\x01\x09", 2));
    EXPECT_NE(Refusal(v).find("row status"), std::string::npos);
  }
  {
    wire::Value v = TextPacket();
    *v.mutable_packet()->mutable_originals() = TextPacket().packet();
    v.mutable_packet()->set_original_of(std::string("\x05\x00\x00\x00\x00\x00\x00\x00", 8));
    EXPECT_NE(Refusal(v).find("original"), std::string::npos);
  }
}

}  // namespace
}  // namespace apura::rpc
