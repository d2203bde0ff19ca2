#include <gtest/gtest.h>

#include "protocol/wire.h"

namespace okt {

// The byte order of put* and get* is in every request and message the
// protocol tests compare byte for byte; here, what the reader refuses.
TEST(WireReader, RefusesReadsPastTheEndAndStaysFailed) {
  const uint8_t bytes[] = {1, 2, 3};
  WireReader r(bytes, sizeof bytes);
  uint16_t a = 0;
  uint32_t b = 0xDEAD;
  EXPECT_TRUE(r.u16(a));
  EXPECT_FALSE(r.u24(b));
  EXPECT_EQ(b, 0xDEADu);  // output untouched
  uint8_t c = 0;
  EXPECT_FALSE(r.u8(c));  // even though one byte is left
  EXPECT_TRUE(r.failed());
}

TEST(WireReader, TextEndsAtZeroAtLimitOrAtEnd) {
  struct Case {
    std::vector<uint8_t> bytes;
    size_t limit;
    std::string text;
    size_t left;
  };
  const Case cases[] = {
      {{'H', 'i', 0, 'x'}, SIZE_MAX, "Hi", 1},
      {{'H', 'i'}, SIZE_MAX, "Hi", 0},         // no zero: the text ends with the data
      {{'a', 'b', 'c', 'd', 0}, 3, "abc", 2},  // cut after limit bytes
      {{0}, SIZE_MAX, "", 0},
  };
  for (const Case& c : cases) {
    WireReader r(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(r.text(c.limit), c.text);
    EXPECT_EQ(r.remaining(), c.left);
  }
}

}  // namespace okt
