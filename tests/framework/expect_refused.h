#pragma once
// A packet body that must not become a packet: the refusal names what is wrong.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "framework/packet.h"

namespace apura::testing {

inline void ExpectRefused(DataPacket::Body body, const std::string& part) {
  try {
    DataPacket::FromBody(std::move(body));
    ADD_FAILURE() << "accepted a packet that should mention " << part;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

}  // namespace apura::testing
