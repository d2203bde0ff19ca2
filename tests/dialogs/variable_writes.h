#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "protocol/protocol.h"
#include "support/messages.h"

namespace okt::test {

// A connected client's tables whose write-variable requests are kept as the
// value bytes they carry.
struct VariableWrites {
  using Bytes = std::vector<uint8_t>;

  VariableWrites() {
    openTables(p, 4, 16, 64);
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) {
      writes.emplace_back(b + 13, b + n);
      return 0;
    };
  }
  VariableWrites(const VariableWrites&) = delete;

  void variable(uint32_t id, uint16_t type, const Bytes& value, uint32_t min = 0, uint32_t max = 0,
                uint8_t access = 2) {
    ASSERT_EQ(decode(p, variableMessage(id, variableBody(type, value, 0xFFFFFF, min, max, access))), 0);
  }

  Protocol p;
  std::vector<Bytes> writes;
};

}  // namespace okt::test
