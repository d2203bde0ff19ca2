#include "presentation/display.h"

#include <cstring>

#include "platform/log.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

namespace okt {
namespace {

// Pop-ups and prompts that lead to further pop-ups and prompts nest their
// calls; past this depth a further one is made current but not opened.
constexpr int kMaxModalDepth = 32;

}  // namespace

void pushBack(ClientState& s, uint32_t id) {
  if (s.backDepth < kBackStackSize) s.backStack[s.backDepth++] = id;
}

uint32_t popBack(ClientState& s) {
  if (s.backDepth == 0) return 0xFFFFFFFF;
  return s.backStack[--s.backDepth];
}

Display::Display(Protocol& protocol, DisplayRenderer& renderer, UiHost& ui)
    : p_(protocol), renderer_(renderer), ui_(ui) {}

std::string Display::text(uint32_t id) const {
  const char* t = isValidId(id) ? textOf(p_.state, id) : nullptr;
  return t ? t : "";
}

void Display::sendEvent(uint32_t event, uint32_t source, const uint8_t* data, size_t length) {
  if (isValidId(event)) okt::sendEvent(p_, event, source, data, length);
}

void Display::syncMenuPages(const MenuBody& menu) {
  // The page count follows the menu as it is now (its body may have been
  // replaced), and the page stays within it.
  ClientState& s = p_.state;
  s.menuPageCount = lastMenuPage(menu.itemCount);
  if (s.menuPage > s.menuPageCount) s.menuPage = s.menuPageCount;
}

void Display::showDisplay(uint32_t id) {
  ClientState& s = p_.state;
  const ObjectEntry* e = s.pObjList.find(id);
  if (!e || !e->body) return;
  switch (e->type) {
    case ObjectType::Screen: renderer_.redrawScreen(id); break;
    case ObjectType::Menu:
      if (id == s.currentScreen) syncMenuPages(std::get<MenuBody>(*e->body));
      renderer_.redrawMenu(id);
      break;
    case ObjectType::PasswordPrompt: runPasswordPrompt(id); break;
    case ObjectType::Popup: runPopup(id); break;
    case ObjectType::LockObject: renderer_.drawLock(id); break;
    default: break;
  }
}

void Display::redrawCurrent() { showDisplay(p_.state.currentScreen); }

bool Display::objectShown(uint32_t id) const {
  const ClientState& s = p_.state;
  return objectBody(s, id) && (id == s.currentScreen || objectOnScreen(s, id, s.currentScreen));
}

bool Display::variableShown(uint32_t id) const {
  const ClientState& s = p_.state;
  return s.pVarList.contains(id) && variableOnScreen(s, id, s.currentScreen, 0);
}

void Display::objectChanged(uint32_t id) {
  if (objectShown(id)) showDisplay(p_.state.currentScreen);
}

void Display::variableChanged(uint32_t id) {
  if (variableShown(id)) showDisplay(p_.state.currentScreen);
}

void Display::goToScreen(uint32_t id) {
  ClientState& s = p_.state;
  if (ObjectEntry* current = isValidId(s.currentScreen) ? s.pObjList.existing(s.currentScreen) : nullptr)
    current->selectedItem = -1;
  s.currentScreen = id;
  if (objectType(s, id) == static_cast<int32_t>(ObjectType::Menu)) {
    const MenuBody* menu = bodyOf<MenuBody>(s, id);
    sendEvent(menu->enterEvent, id);
    s.menuPage = 0;
    s.menuPageCount = lastMenuPage(menu->itemCount);
  } else if (objectType(s, id) == static_cast<int32_t>(ObjectType::LockObject)) {
    enterLock(id);
  }
  redrawCurrent();
}

bool Display::syncCurrentMenu() {
  ClientState& s = p_.state;
  if (!isValidId(s.currentScreen) || objectType(s, s.currentScreen) != static_cast<int32_t>(ObjectType::Menu))
    return false;
  syncMenuPages(*bodyOf<MenuBody>(s, s.currentScreen));
  return true;
}

void Display::previousMenuPage() {
  ClientState& s = p_.state;
  if (!syncCurrentMenu() || s.menuPage == 0) return;
  s.menuPage -= 1;
  showDisplay(s.currentScreen);
}

void Display::nextMenuPage() {
  ClientState& s = p_.state;
  if (!syncCurrentMenu() || s.menuPage >= s.menuPageCount) return;
  s.menuPage += 1;
  showDisplay(s.currentScreen);
}

void Display::returnBack() {
  uint32_t id = popBack(p_.state);
  if (isValidId(id)) goToScreen(id);
}

void Display::goToOrBack(uint32_t id) {
  if (isValidId(id))
    goToScreen(id);
  else
    returnBack();
}

void Display::runPasswordPrompt(uint32_t id) {
  ClientState& s = p_.state;
  if (objectType(s, id) != static_cast<int32_t>(ObjectType::PasswordPrompt) || modalDepth_ >= kMaxModalDepth) return;
  // The body is copied: the flow goes on after the dialog whatever arrives.
  const PasswordPromptBody prompt = *bodyOf<PasswordPromptBody>(s, id);
  PasswordRequest request;
  request.promptId = id;
  request.title = text(prompt.titleText);
  request.label = text(prompt.labelText);
  request.options = prompt.options;
  request.allowedChars = prompt.allowedChars;
  request.maxLength = prompt.maxLength;
  std::string entry;
  ++modalDepth_;
  int result = ui_.passwordDialog(request, entry);
  if (entry.size() > 1023) entry.resize(1023);  // the entry buffer's size

  if (result == kDialogOk) {
    platform::logText("REDO PASSWD: Password accepted for processing\n");
    if (prompt.options & 0x08) {
      platform::logText("REDO PASSWD: Password evaluation:\n");
      // Compared as texts: up to the first zero byte of each.
      bool equal = std::strcmp(entry.c_str(), prompt.password.c_str()) == 0;
      platform::logText(equal ? "REDO PASSWD: PASSWORD OK\n" : "REDO PASSWD: PASSWORD ERROR\n");
      sendEvent(equal ? prompt.okEvent : prompt.errorEvent, id);
      goToOrBack(equal ? prompt.nextScreen : prompt.errorScreen);
    } else {
      if (isValidId(prompt.submitEvent)) {
        size_t length = std::strlen(entry.c_str()) + 1;
        okt::sendEvent(p_, prompt.submitEvent, id, reinterpret_cast<const uint8_t*>(entry.c_str()), length);
      }
      goToOrBack(prompt.nextScreen);
    }
  } else {
    platform::logText("REDO PASSWD: Password cancelled\n");
    sendEvent(prompt.cancelEvent, id);
    returnBack();
  }
  --modalDepth_;
}

void Display::runPopup(uint32_t id) {
  ClientState& s = p_.state;
  if (objectType(s, id) != static_cast<int32_t>(ObjectType::Popup) || modalDepth_ >= kMaxModalDepth) return;
  const PopupBody popup = *bodyOf<PopupBody>(s, id);
  PopupRequest request;
  request.popupId = id;
  request.title = text(popup.titleText);
  request.message = text(popup.messageText);
  request.iconId = popup.iconId;
  for (const PopupButton& b : popup.buttons) request.buttonLabels.push_back(text(b.labelText));
  int32_t selected = -1;
  ++modalDepth_;
  int result = ui_.popupDialog(request, selected);
  // Enter without a button ends the dialog with OK too; it counts as a cancel.
  if (result == kDialogOk && selected >= 0 && selected < static_cast<int32_t>(popup.buttons.size())) {
    platform::logf("REDO POPUP: Dialog pressed button: %u\n", static_cast<unsigned>(selected));
    const PopupButton& b = popup.buttons[static_cast<size_t>(selected)];
    sendEvent(b.event, id);
    goToOrBack(b.targetScreen);
  } else {
    platform::logText("REDO POPUP: Dialog cancelled\n");
    returnBack();
  }
  --modalDepth_;
}

}  // namespace okt
