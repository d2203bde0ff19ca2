#include "dialogs/templates.h"

#include "protocol/wire.h"

namespace okt {

std::u16string toUtf16(const std::string& utf8, size_t maxUnits) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80)
      cp = c;
    else if ((c >> 5) == 0x6)
      len = 2, cp = c & 0x1F;
    else if ((c >> 4) == 0xE)
      len = 3, cp = c & 0x0F;
    else if ((c >> 3) == 0x1E)
      len = 4, cp = c & 0x07;
    if (len > 1) {
      if (i + len > utf8.size()) {
        cp = 0xFFFD, len = 1;
      } else {
        for (size_t k = 1; k < len; ++k) {
          unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
          if ((cc >> 6) != 0x2) {
            cp = 0xFFFD, len = 1;
            break;
          }
          cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and numbers past Unicode are no
        // characters: as any other malformed sequence, they show as U+FFFD
        // and never reach the caption as a lone or false surrogate.
        static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (len > 1 && (cp < least[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)) cp = 0xFFFD;
      }
    }
    i += len;
    if (cp > 0xFFFF) {
      if (out.size() + 2 > maxUnits) break;
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      if (out.size() + 1 > maxUnits) break;
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

namespace {

std::string titleOr(const ClientState& s, uint32_t id, const std::string& prefix, const char* fallback) {
  const char* t = id < 0xFFFFFF ? textOf(s, id) : nullptr;
  // The caption is composed in a 512-byte buffer.
  std::string caption = t ? prefix + t : fallback;
  if (caption.size() > 511) caption.resize(511);
  return caption;
}

}  // namespace

DialogTemplate buildEditorTemplate(const ClientState& s, uint32_t titleTextId) {
  DialogTemplate t;
  t.cx = 130;
  t.cy = 90;
  t.caption = toUtf16(titleOr(s, titleTextId, "Modify: ", "Modify variable"), kCaptionUnits);
  t.items.push_back({0x50000001, 10, 60, 35, 18, kIdOk, 0x0080, "OK"});
  t.items.push_back({0x50000000, 85, 60, 35, 18, kIdCancel, 0x0080, "Cancel"});
  return t;
}

DialogTemplate buildPasswordTemplate(const ClientState& s, uint32_t titleTextId) {
  DialogTemplate t;
  t.cx = 240;
  t.cy = 70;
  t.caption = toUtf16(titleOr(s, titleTextId, "", "Password"), kCaptionUnits);
  t.items.push_back({0x50000001, 190, 40, 40, 14, kIdOk, 0x0080, "OK"});
  t.items.push_back({0x50000000, 10, 40, 40, 14, kIdCancel, 0x0080, "Cancel"});
  return t;
}

std::vector<uint8_t> DialogTemplate::bytes() const {
  std::vector<uint8_t> b(2048, 0);
  size_t at = 0;
  auto u16 = [&](uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
    at += 2;
  };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  u32(style);
  u32(0);  // extended style
  u16(static_cast<uint32_t>(items.size()));
  u16(static_cast<uint16_t>(x)), u16(static_cast<uint16_t>(y)), u16(static_cast<uint16_t>(cx)),
      u16(static_cast<uint16_t>(cy));
  u16(0);  // no menu
  u16(0);  // the default dialog class
  for (char16_t c : caption) u16(c);
  u16(0);
  for (const DialogItem& item : items) {
    at = alignUp4(at);
    u32(item.style);
    u32(0);
    u16(static_cast<uint16_t>(item.x)), u16(static_cast<uint16_t>(item.y)), u16(static_cast<uint16_t>(item.cx)),
        u16(static_cast<uint16_t>(item.cy));
    u16(item.id);
    u16(0xFFFF), u16(item.classAtom);
    for (char c : item.text) u16(static_cast<unsigned char>(c));
    u16(0);
    u16(0);  // no creation data
  }
  return b;
}

}  // namespace okt
