#pragma once

#include <cstdint>
#include <vector>

#include "presentation/ui_host.h"
#include "protocol/client_state.h"

namespace okt {

// The targets of a screen: its placements whose object reacts to a press
// (a button with a press event or a screen to go to, a gauge with a press
// event, a text box showing a variable, whose press edits it), in placement
// order, clipped to the view.
std::vector<DisplayTarget> screenTargets(const ClientState& s, uint32_t screenId);
// The rows of the menu's current page that hold an entry.
std::vector<DisplayTarget> menuTargets(const ClientState& s, uint32_t menuId);

}  // namespace okt
