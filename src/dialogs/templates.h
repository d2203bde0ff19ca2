#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/client_state.h"

namespace okt {

// A modal dialog described as data: a frame with a caption and its items,
// positions and sizes in dialog units. The window system realises it.
struct DialogItem {
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  uint16_t id = 0;
  uint16_t classAtom = 0x0080;  // a button
  std::string text;
};

struct DialogTemplate {
  uint32_t style = 0x80C80080;  // pop-up, caption, system menu, modal frame
  int16_t x = 10, y = 10, cx = 0, cy = 0;
  std::u16string caption;  // at most 128 UTF-16 units
  std::vector<DialogItem> items;

  // The classic in-memory layout: header, menu, class and title arrays, then
  // each item at the next 4-byte boundary; a 2048-byte block.
  std::vector<uint8_t> bytes() const;
};

constexpr size_t kCaptionUnits = 128;
constexpr uint16_t kIdOk = 1;
constexpr uint16_t kIdCancel = 2;

// UTF-8 to UTF-16, cut after `maxUnits` units (never inside a surrogate pair).
std::u16string toUtf16(const std::string& utf8, size_t maxUnits);
inline size_t alignUp4(size_t offset) { return (offset + 3) & ~size_t{3}; }

// The variable editor's frame: 130 x 90, OK at (10, 60), Cancel at (85, 60);
// caption "Modify: <title>" or "Modify variable".
DialogTemplate buildEditorTemplate(const ClientState& s, uint32_t titleTextId);
// The password frame: 240 x 70, OK at (190, 40), Cancel at (10, 40); caption
// the title text or "Password".
DialogTemplate buildPasswordTemplate(const ClientState& s, uint32_t titleTextId);

}  // namespace okt
