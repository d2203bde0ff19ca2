// Receive-path throughput: decoding a realistic mix of messages, and the
// queue's push and pop.
#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/support/messages.h"
#include "protocol/decoder.h"
#include "protocol/protocol.h"
#include "protocol/wire.h"

using namespace okt;

namespace {

using namespace okt::test::fields;

std::vector<uint8_t> msg(uint16_t type, const std::vector<uint8_t>& body) {
  return WireWriter().u16(type).u32(1).bytes(body).take();
}

std::vector<uint8_t> object(uint32_t id, const std::vector<uint8_t>& body) {
  return msg(MessageType::OBJECT, WireWriter().u24(id).u8(0).bytes(body).take());
}

// One connection's worth of traffic: texts, every object type, variables and
// bodies that arrive in parts.
std::vector<std::vector<uint8_t>> realisticMix() {
  std::vector<std::vector<uint8_t>> out;
  for (uint32_t i = 0; i < 40; ++i)
    out.push_back(msg(MessageType::TEXT, WireWriter().u24(i).text("Menu entry number " + std::to_string(i)).take()));
  for (uint32_t i = 0; i < 20; ++i)
    out.push_back(msg(MessageType::VARIABLE,
                      test::wire({u24(i), u8(0), u16(i % 2 ? VariableType::U16 : VariableType::STRING), u8(2),
                                  u24(0xFFFFFF), u32(0), u32(100), u32(0), u16(4), u8('a'), u8('b'), u8('c'), u8(0)})));
  WireWriter screen;
  screen.u16(ObjectType::Screen).u16(10).u24(0x203040);
  for (uint32_t c = 0; c < 10; ++c) screen.u24(10 + c).u16(c * 6000).u16(c * 5000).u16(6000).u16(5000);
  out.push_back(object(0, screen.take()));
  for (uint32_t b = 10; b < 20; ++b) {
    WireWriter w;
    w.u16(ObjectType::Button).u16(1).u8(0).u16(0).u16(18);
    for (int i = 0; i < 6; ++i) w.u24(0x102030);
    out.push_back(object(b, w.u24(b).u24(0xFFFFFF).u24(b).u24(0).take()));
  }
  WireWriter menu;
  menu.u16(ObjectType::Menu).u16(8).u24(0xFF1000).u24(1).u24(2).u24(3);
  for (uint32_t i = 0; i < 8; ++i) menu.u8(0).u8(0x1F).u24(i).u24(0xFF1400 + i).u24(i).u24(0).u24(i);
  out.push_back(object(1, menu.take()));
  out.push_back(object(2, test::wire({u16(ObjectType::TextBox), u16(0), u8(0), u16(0), u16(20), u24(1), u24(2), u24(3),
                                      u24(0xFFFFFF), u24(4)})));
  out.push_back(object(3, test::wire({u16(ObjectType::Polyline), u24(0), u8(1), u8(2), u8(4), u16(0), u16(0), u16(100),
                                      u16(100), u16(200), u16(0), u16(300), u16(300), u8(0)})));
  WireWriter gauge;
  gauge.u16(ObjectType::Gauge).u8(0).u8(0x38).u8(2);
  for (int i = 0; i < 8; ++i) gauge.u16(30000);
  for (int i = 0; i < 5; ++i) gauge.u24(0x808080);
  out.push_back(object(4, gauge.u16(3000).u16(33000).u16(10).u16(200).u24(1).u24(5).take()));
  out.push_back(object(5, test::wire({u16(ObjectType::Canvas), u8(0x02), u16(20), u8(0x21), u16(100), u16(100),
                                      text("Canvas"), u8(0x23), u8(2), u16(0), u16(0), u16(9), u16(9), u8(0)})));
  // A 1 KB picture in parts of 136 bytes.
  std::vector<uint8_t> picture = WireWriter().u16(ObjectType::JpegPicture).u16(1024).take();
  picture.resize(1028, 0x55);
  for (size_t off = 0; off < picture.size(); off += 136) {
    size_t n = std::min<size_t>(136, picture.size() - off);
    bool last = off + n == picture.size();
    out.push_back(
        msg(last ? MessageType::OBJECT_LAST_PART : MessageType::OBJECT_PART, WireWriter()
                                                                                 .u24(6)
                                                                                 .u16(static_cast<uint32_t>(off))
                                                                                 .u8(static_cast<uint32_t>(n))
                                                                                 .bytes(picture.data() + off, n)
                                                                                 .take()));
  }
  return out;
}

void BM_DecodeRealisticMix(benchmark::State& state) {
  auto mix = realisticMix();
  Protocol p;
  allocateObjectTable(p.state, 64);
  allocateTextTable(p.state, 64);
  allocateVariableTable(p.state, 64);
  int64_t messages = 0;
  for (auto _ : state) {
    for (const auto& m : mix) benchmark::DoNotOptimize(decodeMessage(p, m.data(), m.size()));
    messages += static_cast<int64_t>(mix.size());
  }
  state.SetItemsProcessed(messages);
  state.counters["messages/s"] = benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeRealisticMix);

void BM_PushPop(benchmark::State& state) {
  ReceiveQueue q;
  initQueue(q);
  std::vector<uint8_t> m(40, 7);
  uint8_t out[kReceiveBufferBytes];
  for (auto _ : state) {
    pushMessage(q, m.data(), m.size());
    benchmark::DoNotOptimize(popMessage(q, out, sizeof out));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PushPop);

}  // namespace
