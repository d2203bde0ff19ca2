#include "presentation/targets.h"

#include <algorithm>

#include "presentation/display.h"
#include "presentation/renderer.h"
#include "protocol/wire.h"

namespace okt {
namespace {

std::string textFor(const ClientState& s, uint32_t id) {
  if (!isValidId(id)) return {};
  const char* t = textOf(s, id);
  return t ? t : "";
}

}  // namespace

std::vector<DisplayTarget> screenTargets(const ClientState& s, uint32_t screenId) {
  std::vector<DisplayTarget> out;
  const ScreenBody* screen = bodyOf<ScreenBody>(s, screenId);
  if (!screen) return out;
  for (const Placement& p : screen->children) {
    std::string name;
    bool reacts = false;
    if (const auto* button = bodyOf<ButtonBody>(s, p.objectId)) {
      reacts = isValidId(button->pressEvent) || isValidId(button->targetScreen);
      name = textFor(s, button->textId);
    } else if (const auto* gauge = bodyOf<GaugeBody>(s, p.objectId)) {
      reacts = isValidId(gauge->pressEvent);
    } else if (const auto* box = bodyOf<TextBoxBody>(s, p.objectId)) {
      reacts = isValidId(box->variableId);  // a press opens the variable's editor
      name = textFor(s, box->textId);
      if (name.empty() && reacts) formatVariable(s, box->variableId, name);  // named by what it shows
    }
    if (!reacts || p.width == 0 || p.height == 0) continue;
    DisplayTarget t;
    t.kind = DisplayTarget::Kind::Button;
    t.x = p.x;
    t.y = p.y;
    // Clipped to the view, so that its centre is a point of the view.
    t.width = std::min<uint32_t>(p.width, 65536u - p.x);
    t.height = std::min<uint32_t>(p.height, 65536u - p.y);
    t.name = std::move(name);
    out.push_back(std::move(t));
  }
  return out;
}

std::vector<DisplayTarget> menuTargets(const ClientState& s, uint32_t menuId) {
  std::vector<DisplayTarget> out;
  const MenuBody* menu = bodyOf<MenuBody>(s, menuId);
  if (!menu) return out;
  uint32_t first = s.menuPage * kMenuRowsPerPage;
  for (uint32_t k = 0; k < kMenuRowsPerPage && first + k < menu->items.size(); ++k) {
    const MenuItem& item = menu->items[first + k];
    if (item.kind != 0) continue;  // an empty row
    DisplayTarget t;
    t.kind = DisplayTarget::Kind::MenuRow;
    t.x = 0;
    t.y = MenuLayout::kFirstRow + k * MenuLayout::kRowPitch;
    t.width = 65536;
    t.height = MenuLayout::kRowHeight;
    t.name = item.label.empty() ? textFor(s, item.textId) : item.label;
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace okt
