#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "presentation/ui_host.h"
#include "protocol/protocol.h"

namespace okt {

constexpr uint32_t kMenuRowsPerPage = 6;

// The back stack of displays to return to (128 deep; a push onto a full
// stack is dropped). Pop gives 0xFFFFFFFF when it is empty.
void pushBack(ClientState& s, uint32_t id);
uint32_t popBack(ClientState& s);

// Index of the last page of a menu of n items.
inline uint32_t lastMenuPage(uint32_t itemCount) { return itemCount ? (itemCount - 1) / kMenuRowsPerPage : 0; }

// Which display is current, when it is shown again, and how the user moves
// between displays. Runs on the client thread.
class Display {
 public:
  Display(Protocol& protocol, DisplayRenderer& renderer, UiHost& ui);

  void showDisplay(uint32_t id);
  void redrawCurrent();
  void objectChanged(uint32_t id);
  void variableChanged(uint32_t id);
  // Whether the current display shows the object or variable: what
  // objectChanged and variableChanged redraw for.
  bool objectShown(uint32_t id) const;
  bool variableShown(uint32_t id) const;
  void goToScreen(uint32_t id);
  void previousMenuPage();
  void nextMenuPage();
  void runPasswordPrompt(uint32_t id);
  void runPopup(uint32_t id);
  // Pops the back stack and goes there; nothing when it is empty.
  void returnBack();

  // The lock screen's operations, filled in by the lock logic.
  std::function<int(uint32_t id)> enterLock = [](uint32_t) { return 0; };

  ClientState& state() { return p_.state; }
  Protocol& protocol() { return p_; }
  UiHost& ui() { return ui_; }

 private:
  std::string text(uint32_t id) const;
  void syncMenuPages(const MenuBody& menu);
  // Brings the page count up to date when the current screen is a loaded menu.
  bool syncCurrentMenu();
  // Goes to the screen if it is set, otherwise back.
  void goToOrBack(uint32_t id);
  void sendEvent(uint32_t event, uint32_t source, const uint8_t* data = nullptr, size_t length = 0);

  Protocol& p_;
  DisplayRenderer& renderer_;
  UiHost& ui_;
  int modalDepth_ = 0;
};

}  // namespace okt
