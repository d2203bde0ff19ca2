#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pixel_buffer.h"
#include "protocol/client_state.h"

namespace okt {

// A password prompt as the dialog needs it: texts already looked up, so the
// window system never reads the protocol tables.
struct PasswordRequest {
  uint32_t promptId = 0;
  std::string title;  // empty: the dialog's own fallback caption
  std::string label;
  uint16_t options = 0;
  uint16_t allowedChars = 0;
  uint8_t maxLength = 0;
};

struct PopupRequest {
  uint32_t popupId = 0;
  std::string title;
  std::string message;
  uint32_t iconId = 0xFFFFFF;
  std::vector<std::string> buttonLabels;
};

// Something on the display the user can press: a button or gauge with a
// press event, or a menu row. The rectangle is in view units (0..65535 of
// the view's width and height); a press is a click at its centre.
struct DisplayTarget {
  enum class Kind { Button, MenuRow };
  Kind kind = Kind::Button;
  uint32_t x = 0, y = 0, width = 0, height = 0;
  std::string name;  // the text it shows; may be empty

  bool operator==(const DisplayTarget&) const = default;
};

// Dialog results, as a modal dialog ends.
constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;

// What the protocol client needs from the window system. Called from the
// client and control threads; the modal calls block their caller until the
// user has answered on the GUI thread, everything else returns at once.
class UiHost {
 public:
  virtual ~UiHost() = default;

  // The display area's client rectangle in pixels.
  virtual ViewRect displayRect() = 0;
  // Shows a finished frame of the display area.
  virtual void presentFrame(const PixelBuffer& frame) = 0;

  virtual void enablePrevPage(bool enable) = 0;
  virtual void enableNextPage(bool enable) = 0;
  virtual void enableBack(bool enable) = 0;
  virtual void enablePageBox(bool enable) = 0;
  // n = 0xFFFFFFFF: no page (a screen).
  virtual void showPageNumber(uint32_t n) = 0;
  virtual void disableNavigation() = 0;
  // What can be pressed on the display just presented, in the order a
  // keyboard walks it (empty on a lock screen, and after the connection ends).
  virtual void showTargets(const std::vector<DisplayTarget>& targets) { (void)targets; }

  // A modal message box captioned "ERROR".
  virtual void errorBox(const std::string& text) = 0;
  // false: every open pop-up, password prompt and editor ends as cancelled,
  // and new ones are answered with a cancel at once until dialogs are
  // allowed again (a connection ended; they cannot be answered any more).
  virtual void allowDialogs(bool allowed) = 0;
  // The program is ending: as allowDialogs(false), error boxes included, for
  // good. No caller waits for the user after this.
  virtual void closeDialogs() = 0;
  // The password dialog; `entry` holds what was typed. kDialogOk or kDialogCancel.
  virtual int passwordDialog(const PasswordRequest& request, std::string& entry) = 0;
  // The pop-up window; `selectedButton` is the index of the button pressed, or -1.
  virtual int popupDialog(const PopupRequest& request, int32_t& selectedButton) = 0;
};

// A window system with nobody at it: a view of a fixed size, nothing to
// enable or show, every dialog cancelled. Programs without a window (and the
// benchmarks and fuzz targets) override what they need of it.
class NullUiHost : public UiHost {
 public:
  explicit NullUiHost(ViewRect rect = {}) : rect_(rect) {}

  ViewRect displayRect() override { return rect_; }
  void presentFrame(const PixelBuffer&) override {}
  void enablePrevPage(bool) override {}
  void enableNextPage(bool) override {}
  void enableBack(bool) override {}
  void enablePageBox(bool) override {}
  void showPageNumber(uint32_t) override {}
  void disableNavigation() override {}
  void showTargets(const std::vector<DisplayTarget>&) override {}
  void errorBox(const std::string&) override {}
  void allowDialogs(bool) override {}
  void closeDialogs() override {}
  int passwordDialog(const PasswordRequest&, std::string&) override { return kDialogCancel; }
  int popupDialog(const PopupRequest&, int32_t&) override { return kDialogCancel; }

 protected:
  ViewRect rect_;
};

// Draws the displays (screens, menus, lock screens) and presents them.
class DisplayRenderer {
 public:
  virtual ~DisplayRenderer() = default;
  virtual void redrawScreen(uint32_t id) = 0;
  virtual void redrawMenu(uint32_t id) = 0;
  virtual void drawLock(uint32_t id) = 0;
  // The tables or the view are changing: nothing kept from earlier frames
  // (pictures, the last frame's surface) may be used again.
  virtual void forgetPictures() {}
};

}  // namespace okt
