// Canvas programs and gauges drawn directly, with whatever objects they
// place: any program must end, stay within the redraw's work budget and its
// nesting depth, and draw only what the surface can take.
//
// Input: a header, then object records.
//   header (23 bytes): u16 x, y, width, height of the placement drawn;
//     u8 the object drawn (0..63); variable 0: u16 type, u32 minimum,
//     u32 maximum, u32 value (big-endian, of the type's width).
//   record: u8 id (0..63), u8 kind, u16 length, then the bytes: for kinds
//     0 to 7 an object body of type canvas, gauge, polyline, text box,
//     button, GIF, JPEG or SVG picture (with 0x80 a canvas program is
//     stored as given, without the decoder's check); for kind 8 a text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "images/jpeg_decoder.h"
#include "presentation/drawing.h"
#include "protocol/decoder.h"
#include "protocol/wire.h"
#include "support/pictures.h"
#include "support/quiet_logs.h"
#include "support/raster_surface.h"

using namespace okt;

namespace {

constexpr ViewRect kView{0, 0, 200, 150};
constexpr uint32_t kObjects = 64;

const uint32_t kTypes[8] = {ObjectType::Canvas,      ObjectType::Gauge,     ObjectType::Polyline,
                            ObjectType::TextBox,     ObjectType::Button,    ObjectType::GifPicture,
                            ObjectType::JpegPicture, ObjectType::SvgPicture};

void store(ClientState& s, uint32_t id, uint32_t type, ObjectBody body) {
  ObjectEntry* e = s.pObjList.edit(id, s.budget);
  if (!e || (e->type != 0 && e->type != type)) return;
  e->type = type;
  e->body = std::make_unique<ObjectBody>(std::move(body));
  e->loaded = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::quietLogs();
  static auto jpeg = std::make_unique<JpegContext>();

  ClientState s;
  s.viewRect = kView;
  allocateObjectTable(s, kObjects);
  allocateTextTable(s, kObjects);
  allocateVariableTable(s, 1);
  const char* texts[4] = {"OK", "", "A longer text of a few words", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"};
  for (uint32_t i = 0; i < 4; ++i) s.pStrList.edit(i, s.budget)->text = texts[i];

  WireReader r(data, size);
  Placement top;
  uint8_t topId = 0;
  uint16_t varType = 0;
  uint32_t minimum = 0, maximum = 0, value = 0;
  r.u16(top.x) && r.u16(top.y) && r.u16(top.width) && r.u16(top.height) && r.u8(topId) && r.u16(varType) &&
      r.u32(minimum) && r.u32(maximum) && r.u32(value);
  top.objectId = topId % kObjects;
  VariableEntry* v = s.pVarList.edit(0, s.budget);
  v->type = varType;
  v->minimum = minimum;
  v->maximum = maximum;
  v->length = 4;
  v->value = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value), 0};

  while (r.remaining() > 0) {
    uint8_t id = 0, type = 0;
    uint16_t length = 0;
    const uint8_t* body = nullptr;
    if (!(r.u8(id) && r.u8(type) && r.u16(length))) break;
    if (!r.bytes(length, body)) {
      body = r.position();
      length = static_cast<uint16_t>(r.remaining());
      r.skip(length);
    }
    if ((type & 0x0F) == 8) {
      s.pStrList.edit(id % kObjects, s.budget)->text = std::string(reinterpret_cast<const char*>(body), length);
      continue;
    }
    uint32_t t = kTypes[type & 7];
    ObjectBody parsed;
    if (t == ObjectType::Canvas && (type & 0x80)) {
      CanvasBody raw;
      raw.program.assign(body, body + length);
      parsed = std::move(raw);
    } else if (!parseObjectBody(t, body, length, parsed)) {
      continue;
    }
    store(s, id % kObjects, t, std::move(parsed));
  }

  fuzz::RasterSurface surface(kView.right, kView.bottom);
  DrawContext ctx{s, *jpeg, fuzz::fakeSvg, fuzz::fakeIcon};
  drawObject(ctx, surface, top);
  if (ctx.canvasDepth != 0) fuzz::fault("canvas nesting not unwound");
  if (ctx.canvasWork > kMaxCanvasWork) fuzz::fault("canvas work past its budget");
  releaseTables(s);
  return 0;
}
