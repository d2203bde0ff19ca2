// Writes seed inputs for the fuzz targets into <dir>/<target>/: what the demo
// device sends, display by display, in the session, decoder, canvas and
// editors formats, and the edge cases the tests build by hand.
//
//   fuzz_seeds <dir>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "emulator/device_description.h"
#include "emulator/emulator.h"
#include "protocol/decoder.h"
#include "protocol/encoder.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

using namespace okt;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

fs::path root;

void save(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(root / target);
  std::ofstream(root / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// [n][message] records, as the session and decoder targets read them.
struct Stream {
  Bytes bytes;
  void message(const Bytes& m) {
    bytes.push_back(static_cast<uint8_t>(m.size()));
    bytes.insert(bytes.end(), m.begin(), m.end());
  }
  void action(uint8_t kind, uint32_t arg) {
    Bytes a = WireWriter().u8(0).u8(kind).u24(arg).take();
    bytes.insert(bytes.end(), a.begin(), a.end());
  }
};

Bytes request(uint16_t type, uint32_t count = 0) {
  WireWriter w;
  w.u16(type).u32(1);
  if (type != RequestType::GET_INFO) w.u24(0).u16(count).u24(0xFFFFFF).u16(0);
  return w.take();
}

Bytes info(const emu::DeviceDescription& d, uint32_t home) {
  return WireWriter()
      .u16(MessageType::INFO)
      .u32(1)
      .u8(d.infoBytes[0])
      .u8(d.infoBytes[1])
      .u8(d.infoBytes[2])
      .u24(d.objectCount)
      .u24(d.textCount)
      .u24(d.variableCount)
      .u24(home)
      .take();
}

const emu::ObjectDef* objectOf(const emu::DeviceDescription& d, uint32_t id) {
  for (const auto& o : d.objects)
    if (o.id == id) return &o;
  return nullptr;
}

// The objects a canvas program places.
std::vector<uint32_t> placedByCanvas(const CanvasBody& c) {
  std::vector<uint32_t> out;
  WireReader r(c.program.data(), c.program.size());
  for (;;) {
    uint8_t op = 0;
    if (!r.u8(op) || op == 0) break;
    switch (op) {
      case 0x01:
      case 0x02: r.skip(2); break;
      case 0x03:
      case 0x04:
      case 0x05: r.skip(3); break;
      case 0x06:
      case 0x07: r.skip(1); break;
      case 0x20: r.skip(7); break;
      case 0x21: r.skip(4), r.text(); break;
      case 0x22: {
        uint32_t id = 0;
        r.skip(8), r.u24(id);
        out.push_back(id);
        break;
      }
      case 0x23: {
        uint8_t n = 0;
        r.u8(n), r.skip(size_t{n} * 4);
        break;
      }
      default: return out;
    }
  }
  return out;
}

// The display and what it draws: its placements and whatever canvases place.
std::set<uint32_t> closure(const emu::DeviceDescription& d, uint32_t id) {
  std::set<uint32_t> out;
  std::function<void(uint32_t)> add = [&](uint32_t x) {
    const emu::ObjectDef* o = objectOf(d, x);
    if (!o || !out.insert(x).second) return;
    if (const auto* s = std::get_if<ScreenBody>(&o->body))
      for (const Placement& p : s->children) add(p.objectId);
    if (const auto* c = std::get_if<CanvasBody>(&o->body))
      for (uint32_t placed : placedByCanvas(*c)) add(placed);
  };
  add(id);
  return out;
}

void sessionSeeds(const emu::DeviceDescription& d, emu::Emulator& em) {
  auto answer = [&](uint16_t type, uint32_t count = 0) {
    Bytes r = request(type, count);
    em.handleRequest(r.data(), r.size(), 0);
    return em.takeNotifications();
  };
  auto infoMessages = answer(RequestType::GET_INFO);
  auto texts = answer(RequestType::GET_TEXTS, d.textCount);
  auto variables = answer(RequestType::GET_VARIABLES, d.variableCount);
  auto objects = answer(RequestType::GET_OBJECTS, d.objectCount);

  // The whole download, as the decoder and the session see it.
  Stream all;
  for (const auto* list : {&infoMessages, &texts, &variables, &objects})
    for (const Bytes& m : *list) all.message(m);
  save("decoder", "demo-download", all.bytes);
  save("session", "demo-download", all.bytes);

  // Display by display: INFO naming it as home, the texts and variables,
  // then the display and what it draws; with the actions it invites.
  auto download = [&](uint32_t home) {
    Stream s;
    s.message(info(d, home));
    for (const auto* list : {&texts, &variables})
      for (const Bytes& m : *list) s.message(m);
    for (uint32_t id : closure(d, home)) {
      const emu::ObjectDef* o = objectOf(d, id);
      for (const Bytes& m : objectMessages(id, encodeObjectBody(o->type, o->body))) s.message(m);
    }
    return s;
  };
  for (const auto& o : d.objects) {
    if (o.type != ObjectType::Screen && o.type != ObjectType::Menu && o.type != ObjectType::LockObject &&
        o.type != ObjectType::Popup && o.type != ObjectType::PasswordPrompt)
      continue;
    Stream s = download(o.id);
    switch (o.type) {
      case ObjectType::Menu:
        s.action(1, 0);
        s.action(7, 1 | (2 << 9) | ('a' << 16));
        s.action(6, 0);
        s.action(2, 0);
        break;
      case ObjectType::LockObject:
        s.action(4, 1500);
        s.action(5, (2048u << 12) | 2600u);
        s.action(4, 60000);
        break;
      case ObjectType::Popup:
        s.action(7, 1 | (1 << 1));
        s.action(0, o.id);
        break;
      case ObjectType::PasswordPrompt:
        s.action(7, 1 | (1 << 9) | ('1' << 16));
        s.action(0, o.id);
        break;
      default: s.action(3, 0); break;
    }
    save("session", "demo-" + o.name, s.bytes);
  }

  // Each variable edited from the home display, the editor answered OK;
  // eight to an input, within the actions one input may take.
  for (size_t first = 0; first < d.variables.size(); first += 8) {
    Stream edits = download(d.homeScreen);
    for (size_t i = first; i < first + 8 && i < d.variables.size(); ++i) {
      edits.action(7, 1 | (77u << 1) | ('x' << 16) | (3u << 9));
      edits.action(6, d.variables[i].id);
    }
    save("session", "demo-edits-" + std::to_string(first / 8), edits.bytes);
  }
}

// Canvas inputs: header, then object and text records.
void canvasSeeds(const emu::DeviceDescription& d) {
  auto kindOf = [](uint32_t type) -> int {
    switch (type) {
      case ObjectType::Canvas: return 0;
      case ObjectType::Gauge: return 1;
      case ObjectType::Polyline: return 2;
      case ObjectType::TextBox: return 3;
      case ObjectType::Button: return 4;
      case ObjectType::GifPicture: return 5;
      case ObjectType::JpegPicture: return 6;
      case ObjectType::SvgPicture: return 7;
      default: return -1;
    }
  };
  for (const auto& o : d.objects) {
    if (o.type != ObjectType::Canvas && o.type != ObjectType::Gauge) continue;
    // Placed where its screen places it.
    Placement at{o.id, 0, 0, 65535, 65535};
    for (const auto& screen : d.objects)
      if (const auto* s = std::get_if<ScreenBody>(&screen.body))
        for (const Placement& p : s->children)
          if (p.objectId == o.id) at = p;
    WireWriter w;
    w.u16(at.x).u16(at.y).u16(at.width).u16(at.height).u8(o.id);
    uint32_t variable = 0xFFFFFF;
    if (const auto* g = std::get_if<GaugeBody>(&o.body)) variable = g->variableId;
    const emu::VariableDef* v = nullptr;
    for (const auto& x : d.variables)
      if (x.id == variable) v = &x;
    uint32_t value = 0;
    if (v)
      for (uint8_t b : v->desc.value) value = (value << 8) | b;
    w.u16(v ? v->desc.type : 0).u32(v ? v->desc.minimum : 0).u32(v ? v->desc.maximum : 0).u32(value);
    for (uint32_t id : closure(d, o.id)) {
      const emu::ObjectDef* x = objectOf(d, id);
      int kind = kindOf(x->type);
      if (kind < 0 || id >= 64) continue;
      Bytes body = encodeObjectBody(x->type, x->body);
      body.erase(body.begin(), body.begin() + 2);  // the type travels in the record
      w.u8(id).u8(static_cast<uint32_t>(kind)).u16(static_cast<uint32_t>(body.size())).bytes(body);
    }
    for (const auto& t : d.texts)
      if (t.id < 64)
        w.u8(t.id)
            .u8(8)
            .u16(static_cast<uint32_t>(t.text.size()))
            .bytes(reinterpret_cast<const uint8_t*>(t.text.data()), t.text.size());
    save("canvas", "demo-" + o.name, w.take());
  }
  // A canvas that places itself and a long line: the work budget's cases.
  WireWriter self;
  self.u16(0).u16(0).u16(65535).u16(65535).u8(1).u16(0).u32(0).u32(0).u32(0);
  Bytes program = {0x05, 0xFF, 0,    0,    0x06, 9,    0x23, 2, 0, 0,    0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x22, 0, 0,
                   0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0,    0, 1, 0x21, 0, 0, 0,    0,    'h',  'i',  0,    0};
  self.u8(1).u8(0).u16(static_cast<uint32_t>(program.size())).bytes(program);
  save("canvas", "self-placing", self.take());
}

// Editors inputs: variable body, title, texts, prompt fields, a number, typing.
void editorSeeds(const emu::DeviceDescription& d) {
  auto typingFor = [](uint16_t type) -> std::string {
    switch (type) {
      case VariableType::STRING: return "abc";
      case VariableType::DATE: return "24/12/25";
      case VariableType::TIME: return "12:34:56";
      case VariableType::HOUR_MINUTE: return "300:5";
      case VariableType::LIST: return "1\n1";
      default: return "0x1F";
    }
  };
  for (const auto& v : d.variables) {
    VariableDescription desc = v.desc;
    desc.access |= 0x02;
    std::vector<std::string> choices;
    if (desc.type == VariableType::LIST) {
      // The choices become texts 1.. of the editor's table.
      for (size_t i = 2; i + 3 <= desc.value.size() && choices.size() < 7; i += 3) {
        uint32_t id = (uint32_t{desc.value[i]} << 16) | (uint32_t{desc.value[i + 1]} << 8) | desc.value[i + 2];
        std::string text;
        for (const auto& t : d.texts)
          if (t.id == id) text = t.text;
        choices.push_back(text);
        uint32_t now = static_cast<uint32_t>(choices.size());
        desc.value[i] = 0, desc.value[i + 1] = 0, desc.value[i + 2] = static_cast<uint8_t>(now);
      }
    }
    Bytes body = encodeVariableBody(desc);
    if (body.size() > 255) continue;
    WireWriter w;
    w.u8(static_cast<uint32_t>(body.size())).bytes(body).u8(5).bytes(reinterpret_cast<const uint8_t*>("Level"), 5);
    w.u8(static_cast<uint32_t>(choices.size()));
    for (const std::string& c : choices)
      w.u8(static_cast<uint32_t>(c.size())).bytes(reinterpret_cast<const uint8_t*>(c.data()), c.size());
    w.u16(0x58).u16(0xE0).u8(8).u32(0).u32(0x41);
    std::string typing = typingFor(desc.type) + "\n1\n1234\n1234";
    w.bytes(reinterpret_cast<const uint8_t*>(typing.data()), typing.size());
    save("editors", "demo-" + v.name, w.take());
  }
  // Typing the tests try: numbers in each base, junk after a number, signs.
  const char* typed[] = {"017", "12abc", "abc", "70000", " -128 ", "0x", "-", "99999999999999999999", ""};
  int k = 0;
  for (const char* t : typed) {
    VariableDescription u16v{VariableType::U16, 0x02, 0xFFFFFF, 0, 1000, 0, {0x01, 0x02}};
    Bytes body = encodeVariableBody(u16v);
    WireWriter w;
    w.u8(static_cast<uint32_t>(body.size()))
        .bytes(body)
        .u8(0)
        .u8(0)
        .u16(0x10)
        .u16(0x18)
        .u8(0)
        .u32(0xFFFFFFFF)
        .u32(0x80);
    w.bytes(reinterpret_cast<const uint8_t*>(t), std::char_traits<char>::length(t));
    save("editors", "typed-" + std::to_string(k++), w.take());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  root = argv[1];
  emu::DeviceDescription d;
  std::string error;
  if (!emu::loadDemoDevice(d, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  emu::Emulator em(d);
  sessionSeeds(d, em);
  canvasSeeds(d);
  editorSeeds(d);
  return 0;
}
