#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "images/jpeg_decoder.h"
#include "platform/surface.h"
#include "presentation/display.h"
#include "presentation/drawing.h"
#include "presentation/ui_host.h"

namespace okt {

// Makes the off-screen surface a display is composed on.
using SurfaceFactory = std::function<std::unique_ptr<Surface>(int width, int height)>;

// Menu layout, view units.
struct MenuLayout {
  static constexpr uint32_t kFirstRow = 6144;
  static constexpr uint32_t kRowPitch = 9728;
  static constexpr uint32_t kRowHeight = 8192;
  static constexpr Colour kBackground = 0xC8C8C8;
  static constexpr Colour kDark = 0x14143C;
  static constexpr Colour kLight = 0xFFFFFF;
};

// Composes screens, menus and lock screens off screen, presents each frame
// in one step and sets the navigation buttons; owns the lock screen's life.
// Runs on the client thread.
class Renderer : public DisplayRenderer {
 public:
  Renderer(Protocol& protocol, UiHost& ui, SurfaceFactory surfaces);

  // Needed by the lock screen to move on (set once, before any lock).
  void setDisplay(Display* display) { display_ = display; }
  std::function<std::optional<PixelBuffer>(const char*, uint32_t)> renderSvg;
  std::function<std::optional<PixelBuffer>(uint32_t, uint32_t)> renderIcon;
  std::function<uint32_t()> tick;

  void redrawScreen(uint32_t id) override;
  void redrawMenu(uint32_t id) override;
  void drawLock(uint32_t id) override;
  void forgetPictures() override {
    pictures_.clear();
    spare_.reset();
    forgetLockBackground();
  }
  void drawMenuItem(DrawContext& ctx, Surface& s, uint32_t rowTop, const MenuItem& item, bool highlighted);

  int enterLock(uint32_t id);
  void refreshLock();
  int32_t lockButtonHit(uint32_t id);
  int leaveLock(uint32_t target, int reason);
  std::unique_ptr<PixelBuffer> captureDisplay();

  const PixelBuffer& lastFrame() const { return lastFrame_; }

 private:
  std::unique_ptr<Surface> backBuffer();
  DrawContext context();
  void present(std::unique_ptr<Surface> s);
  void placeIcon(Surface& s, uint32_t iconId, int x, int y);
  void drawCentredText(Surface& s, int x, int y, int height, const std::string& text);
  void drawAnimation(Surface& s, uint16_t animation, int cx, int ay, uint32_t t);
  uint32_t now() const;
  void forgetLockBackground() {
    dimmedLock_ = PixelBuffer{};
    dimmedFrom_ = nullptr;
  }

  Protocol& p_;
  UiHost& ui_;
  SurfaceFactory surfaces_;
  Display* display_ = nullptr;
  std::unique_ptr<JpegContext> jpeg_;
  PictureCache pictures_;
  std::unique_ptr<Surface> spare_;           // the last frame's, to draw the next on
  PixelBuffer dimmedLock_;                   // the lock screen's dimmed background...
  const PixelBuffer* dimmedFrom_ = nullptr;  // ...made from this frozen display
  PixelBuffer lastFrame_;
};

}  // namespace okt
