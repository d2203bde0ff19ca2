#include <gtest/gtest.h>

#include "protocol/wire.h"

namespace okt {

TEST(Wire, PutWritesBigEndianAndReturnsNextPosition) {
  uint8_t buf[9] = {};
  uint8_t* p = putU16(buf, 0x1234);
  p = putU24(p, 0xABCDEF);
  p = putU32(p, 0x01020304);
  EXPECT_EQ(p, buf + 9);
  const uint8_t expected[9] = {0x12, 0x34, 0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(0, memcmp(buf, expected, 9));
  EXPECT_EQ(putU16(buf, 0xFFFF1234), buf + 2);
  EXPECT_EQ(buf[0], 0x12);  // only the low 16 bits
}

TEST(Wire, GetReadsBigEndianWithOptionalOutput) {
  const uint8_t bytes[] = {0xFF, 0x10, 0x00, 0x80, 0x00, 0x00, 0x01};
  uint32_t v24 = 0;
  EXPECT_EQ(getU24(bytes, &v24), bytes + 3);
  EXPECT_EQ(v24, 0xFF1000u);
  uint16_t v16 = 0;
  getU16(bytes, &v16);
  EXPECT_EQ(v16, 0xFF10);
  uint32_t v32 = 0;
  getU32(bytes + 3, &v32);
  EXPECT_EQ(v32, 0x80000001u);
  EXPECT_EQ(getU32(bytes, nullptr), bytes + 4);
}

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
