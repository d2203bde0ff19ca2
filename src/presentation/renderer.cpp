#include "presentation/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "platform/log.h"
#include "platform/tick.h"
#include "presentation/targets.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

namespace okt {
namespace {

bool isIcon(uint32_t id) { return id >= 0xFF1000 && id <= 0xFFFFFE; }

}  // namespace

Renderer::Renderer(Protocol& protocol, UiHost& ui, SurfaceFactory surfaces)
    : p_(protocol), ui_(ui), surfaces_(std::move(surfaces)), jpeg_(std::make_unique<JpegContext>()) {}

uint32_t Renderer::now() const { return tick ? tick() : platform::tickCount(); }

DrawContext Renderer::context() {
  DrawContext ctx{p_.state, *jpeg_, renderSvg, renderIcon, 0};
  ctx.pictures = &pictures_;
  return ctx;
}

// The last frame's surface is drawn on again when it can be: a new one costs
// fresh memory from the system for every frame, page by page.
std::unique_ptr<Surface> Renderer::backBuffer() {
  const ViewRect& v = p_.state.viewRect;
  int w = v.right - v.left, h = v.bottom - v.top;
  if (w <= 0 || h <= 0 || !surfaces_) return nullptr;
  if (spare_ && spare_->width() == w && spare_->height() == h) return std::move(spare_);
  spare_.reset();
  return surfaces_(w, h);
}

void Renderer::present(std::unique_ptr<Surface> s) {
  s->copyPixels(lastFrame_);
  ui_.presentFrame(lastFrame_);
  if (s->restart()) spare_ = std::move(s);
}

void Renderer::placeIcon(Surface& s, uint32_t iconId, int x, int y) {
  if (!renderIcon) return;
  // An icon's drawing never changes: it is rendered once for each size.
  PictureKey key;
  key.kind = PictureKey::Icon;
  key.id = iconId;
  key.placement.width = 24;
  if (const KeptPicture* kept = pictures_.find(key)) {
    blendPixels(s, x, y, &kept->scaled.pixels);
    return;
  }
  auto icon = renderIcon(iconId, 24);
  if (!icon) return;
  swapRedBlue(*icon);  // black icons: no visible change, but the order is the rasteriser's
  blendPixels(s, x, y, &*icon);
  KeptPicture kept;
  kept.scaled.pixels = std::move(*icon);
  pictures_.keep(key, std::move(kept));
}

void Renderer::redrawScreen(uint32_t id) {
  platform::logf("REDO Draw: Redrawing Screen %u\n", id);
  const ScreenBody* screen = bodyOf<ScreenBody>(p_.state, id);
  if (!screen) return;
  auto s = backBuffer();
  if (!s) return;
  const ViewRect& v = p_.state.viewRect;
  s->rectangle(v.left, v.top, v.right + 1, v.bottom + 1, Pen{false}, Brush{true, toColorRef(screen->background)});
  DrawContext ctx = context();
  // The placements are copied: drawing never changes them, but a list we
  // iterate must not be the one a nested draw could reach.
  const std::vector<Placement> children = screen->children;
  for (const Placement& child : children) {
    if (!spendScreenWork(ctx, placementCost(ctx, child))) break;
    drawObject(ctx, *s, child);
  }
  present(std::move(s));
  ui_.enablePrevPage(false);
  ui_.enableNextPage(false);
  ui_.enablePageBox(false);
  ui_.showPageNumber(0xFFFFFFFF);
  ui_.enableBack(id != p_.state.homeScreen);
  ui_.showTargets(screenTargets(p_.state, id));
}

void Renderer::drawMenuItem(DrawContext& ctx, Surface& s, uint32_t rowTop, const MenuItem& item, bool highlighted) {
  Colour fill = highlighted ? MenuLayout::kDark : MenuLayout::kLight;
  Colour text = highlighted ? MenuLayout::kLight : MenuLayout::kDark;
  fillBox(ctx, s, 0, rowTop, 65535, MenuLayout::kRowHeight, fill, fill);
  const ViewRect& v = p_.state.viewRect;
  uint32_t labelX = 1024;
  if (isIcon(item.iconId)) {
    placeIcon(s, item.iconId, static_cast<int>(scaleX(v, 1024)), static_cast<int>(scaleY(v, rowTop + 2560)));
    labelX = 8192;  // also when the icon could not be drawn
  }
  std::string label = item.label;
  if (label.empty() && isValidId(item.textId)) {
    const char* t = textOf(p_.state, item.textId);
    if (t) label = t;
  }
  if (!label.empty()) drawText(ctx, s, labelX, rowTop + 4352, 22, text, AlignLeft, label);
  if (isValidId(item.variableId)) {
    std::string value;
    formatVariable(p_.state, item.variableId, value);
    drawText(ctx, s, 65280, rowTop + 4352, 22, text, AlignRight, value);
  }
}

void Renderer::redrawMenu(uint32_t id) {
  platform::logf("REDO Draw: Redrawing Menu %u\n", id);
  const MenuBody* menu = bodyOf<MenuBody>(p_.state, id);
  if (!menu) return;
  auto s = backBuffer();
  if (!s) return;
  ClientState& st = p_.state;
  const ViewRect& v = st.viewRect;
  s->rectangle(v.left, v.top, v.right + 1, v.bottom + 1, Pen{true, toColorRef(MenuLayout::kBackground), 1},
               Brush{true, toColorRef(MenuLayout::kBackground)});
  if (isIcon(menu->iconId)) placeIcon(*s, menu->iconId, 5, 10);
  DrawContext ctx = context();
  if (isValidId(menu->titleText))
    if (const char* title = textOf(st, menu->titleText))
      drawText(ctx, *s, 8192, 3072, 22, MenuLayout::kDark, AlignLeft, title);
  uint32_t first = st.menuPage * kMenuRowsPerPage;
  int32_t highlighted = st.pObjList.find(id)->selectedItem;
  for (uint32_t k = 0; k < kMenuRowsPerPage && first + k < menu->items.size(); ++k)
    drawMenuItem(ctx, *s, MenuLayout::kFirstRow + k * MenuLayout::kRowPitch, menu->items[first + k],
                 static_cast<int32_t>(first + k) == highlighted);
  present(std::move(s));
  ui_.enableBack(id != st.homeScreen);
  ui_.enablePrevPage(st.menuPage != 0);
  ui_.enableNextPage(st.menuPage != st.menuPageCount);
  ui_.enablePageBox(true);
  ui_.showPageNumber(st.menuPage);
  ui_.showTargets(menuTargets(st, id));
}

// ---- Lock screens ----

std::unique_ptr<PixelBuffer> Renderer::captureDisplay() {
  const ViewRect& v = p_.state.viewRect;
  auto image = std::make_unique<PixelBuffer>();
  image->width = static_cast<uint32_t>(std::max(0, v.right - v.left));
  image->height = static_cast<uint32_t>(std::max(0, v.bottom - v.top));
  image->pixels.assign(size_t{image->width} * image->height * 4, 0);
  // What the window shows: the last frame, where it covers the view. A
  // frame drawn at a higher pixel ratio than the view is sampled down.
  uint32_t step = image->width && lastFrame_.width > image->width ? lastFrame_.width / image->width : 1;
  for (uint32_t y = 0; y < image->height && y * step < lastFrame_.height; ++y)
    for (uint32_t x = 0; x < image->width && x * step < lastFrame_.width; ++x)
      std::memcpy(&image->pixels[(size_t{y} * image->width + x) * 4],
                  &lastFrame_.pixels[(size_t{y * step} * lastFrame_.width + x * step) * 4], 3);
  for (size_t i = 3; i < image->pixels.size(); i += 4) image->pixels[i] = 255;
  return image;
}

int Renderer::enterLock(uint32_t id) {
  ClientState& s = p_.state;
  platform::logf("REDO: Entering lock object %u\n", id);
  if (s.activeLock != kNoLock) return 1;
  if (!s.lockImage) {
    s.lockImage = captureDisplay();
    forgetLockBackground();
  }
  s.activeLock = id;
  s.lockStartTick = now();
  const LockObjectBody* lock = bodyOf<LockObjectBody>(s, id);
  if (lock && isValidId(lock->enterEvent)) sendEvent(p_, lock->enterEvent, id, nullptr, 0);
  return 0;
}

void Renderer::drawCentredText(Surface& s, int x, int y, int height, const std::string& text) {
  if (text.empty()) return;
  Point extent = s.textExtent(text, height, kFontFace, kFontWeight);
  s.text(x, y - extent.y / 2, text, height, kFontFace, kFontWeight, AlignCentre, toColorRef(0xFFFFFF));
}

void Renderer::drawAnimation(Surface& s, uint16_t animation, int cx, int ay, uint32_t t) {
  const Pen white{true, toColorRef(0xFFFFFF), 1, LineStyle::Solid};
  const Brush whiteFill{true, toColorRef(0xFFFFFF)};
  if (animation == 1) {  // three dots
    double u = (t % 1500) * 2.0 + 2000;
    for (int k = 0; k < 3; ++k) {
      double x = cx - 30 + 30 * k;
      double r = (std::sin(std::numbers::pi * (u - 1000 * k) / 1500) + 1.2) * 5;
      s.ellipse(static_cast<int>(x - r), static_cast<int>(ay - r), static_cast<int>(x + r), static_cast<int>(ay + r),
                white, whiteFill);
    }
  } else if (animation == 2) {  // spinner
    static const float dirs[8][2] = {{0, -1}, {0.707f, -0.707f}, {1, 0},  {0.707f, 0.707f},
                                     {0, 1},  {-0.707f, 0.707f}, {-1, 0}, {-0.707f, -0.707f}};
    int k = 7 - static_cast<int>((t % 1500) / 187);
    for (int i = 0; i < 8; ++i) {
      int r = k + 4;
      int x = static_cast<int>(cx + 40.0f * dirs[i][0]), y = static_cast<int>(ay + 40.0f * dirs[i][1]);
      s.ellipse(x - r, y - r, x + r, y + r, white, whiteFill);
      if (++k == 8) k = 0;
    }
  } else if (animation == 0 || animation <= 7) {  // chevrons
    static const Point sets[5][3] = {{{-20, 0}, {0, -20}, {20, 0}},
                                     {{-20, 0}, {0, -20}, {0, 20}},
                                     {{-20, 0}, {20, 0}, {0, 20}},
                                     {{0, -20}, {20, 0}, {0, 20}},
                                     {{0, -20}, {20, 0}, {-20, 0}}};
    int tt = static_cast<int>(t % 1500), phase = tt / 375, f = tt % 375;
    Pen thick{true, toColorRef(0xFFFFFF), 5, LineStyle::Solid};
    for (int i = 0; i < 3; ++i) {
      const Point a = sets[phase][i], b = sets[phase + 1][i];
      int x = cx + a.x + (b.x - a.x) * f / 375, y = ay + a.y + (b.y - a.y) * f / 375;
      s.polyline({{x - 20, y}, {x, y + 20}, {x + 20, y}, {x, y - 20}, {x - 20, y}}, thick);
    }
  }
}

void Renderer::drawLock(uint32_t id) {
  platform::logf("REDO Lock: Redrawing Lock Object %u\n", id);
  const LockObjectBody* lock = bodyOf<LockObjectBody>(p_.state, id);
  if (!lock) return;
  auto s = backBuffer();
  if (!s) return;
  ClientState& st = p_.state;
  int w = s->width(), h = s->height(), cx = w / 2, cy = h / 2;
  int ay = cy;
  if (lock->lockFlags & 0x80) ay -= 40;
  if (isValidId(lock->messageText)) ay -= 40;
  // The frozen display, dimmed, is the same in every frame of the lock: it
  // is composed once and copied from then on (where the surface's pixels are
  // its own size, as they are at a pixel ratio of 1).
  if (dimmedFrom_ == st.lockImage.get() && dimmedLock_.width == static_cast<uint32_t>(w) &&
      dimmedLock_.height == static_cast<uint32_t>(h)) {
    blendPixels(*s, 0, 0, &dimmedLock_);
  } else {
    blendPixels(*s, 0, 0, st.lockImage.get());
    PixelBuffer dim;
    dim.width = static_cast<uint32_t>(w);
    dim.height = static_cast<uint32_t>(h);
    dim.pixels.assign(size_t(w) * h * 4, 0);
    for (size_t i = 3; i < dim.pixels.size(); i += 4) dim.pixels[i] = 180;
    blendPixels(*s, 0, 0, &dim);
    s->copyPixels(dimmedLock_);
    dimmedFrom_ = st.lockImage.get();
  }
  uint32_t t = now();
  drawAnimation(*s, lock->animation, cx, ay, t);
  int y = ay + 60;
  if ((lock->lockFlags & 0x80) && lock->timeoutSeconds) {
    // Rounded to the nearest second; once the time is up it shows 0, never wraps.
    uint32_t elapsed = (t - st.lockStartTick + 500) / 1000;
    uint32_t left = elapsed >= lock->timeoutSeconds ? 0 : lock->timeoutSeconds - elapsed;
    char text[32];
    std::snprintf(text, sizeof text, "%u secs", left);
    drawCentredText(*s, cx, y, 20, text);
    y = ay + 120;
  }
  if (isValidId(lock->messageText))
    if (const char* message = textOf(st, lock->messageText)) drawCentredText(*s, cx, y, 30, message);
  if (isValidId(lock->unlockText)) {
    s->roundRect(cx - 100, cy + 75, cx + 100, cy + 125, 25, 25, Pen{true, toColorRef(0x8080FF), 1},
                 Brush{true, 0xFF1010});
    if (const char* label = textOf(st, lock->unlockText)) drawCentredText(*s, cx, cy + 100, 30, label);
  }
  present(std::move(s));
  ui_.enablePageBox(false);
  ui_.enableNextPage(false);
  ui_.enablePrevPage(false);
  // The lock holds the user: BACK does nothing until it ends.
  ui_.enableBack(false);
  std::vector<DisplayTarget> targets;
  if (isValidId(lock->unlockText) && w > 0 && h > 0) {
    // The unlock button, in view units.
    auto ux = [w](int px) { return static_cast<uint32_t>(std::clamp(px, 0, w) * 65535LL / w); };
    auto uy = [h](int px) { return static_cast<uint32_t>(std::clamp(px, 0, h) * 65535LL / h); };
    DisplayTarget unlock;
    unlock.x = ux(cx - 100);
    unlock.y = uy(cy + 75);
    unlock.width = ux(cx + 100) - unlock.x;
    unlock.height = uy(cy + 125) - unlock.y;
    const char* label = textOf(st, lock->unlockText);
    unlock.name = label ? label : "";
    if (unlock.width && unlock.height) targets.push_back(std::move(unlock));
  }
  ui_.showTargets(targets);
}

void Renderer::refreshLock() {
  ClientState& s = p_.state;
  if (s.activeLock > kMaxValidId) return;
  drawLock(s.activeLock);
  const LockObjectBody* lock = bodyOf<LockObjectBody>(s, s.activeLock);
  if (!lock) return;
  if (now() - s.lockStartTick >= uint32_t{lock->timeoutSeconds} * 1000u) leaveLock(kNoId, 1);
}

int32_t Renderer::lockButtonHit(uint32_t id) {
  ClientState& s = p_.state;
  const LockObjectBody* lock =
      objectType(s, id) == static_cast<int32_t>(ObjectType::LockObject) ? bodyOf<LockObjectBody>(s, id) : nullptr;
  if (!lock || !isValidId(lock->unlockText)) return -1;
  const ViewRect& v = s.viewRect;
  int64_t w = v.right - v.left, h = v.bottom - v.top, cx = w / 2, cy = h / 2;
  int64_t px = w * std::atomic_ref<uint32_t>(s.clickX).load() / 65535;
  int64_t py = h * std::atomic_ref<uint32_t>(s.clickY).load() / 65535;
  if (cx - 100 <= px && px < cx + 100 && cy + 75 <= py && py < cy + 125 && s.activeLock != kNoLock) {
    drawLock(s.activeLock);
    if (objectBody(s, s.activeLock)) leaveLock(kNoId, 2);
  }
  return -1;
}

int Renderer::leaveLock(uint32_t target, int reason) {
  ClientState& s = p_.state;
  if (s.activeLock > kMaxValidId) return 1;
  uint32_t lockId = s.activeLock;
  const LockObjectBody* found = bodyOf<LockObjectBody>(s, lockId);
  if (!found) return 0;
  const LockObjectBody lock = *found;
  s.activeLock = kNoLock;
  uint32_t event = kNoId, next = kNoId;
  auto backOrHome = [&] {
    uint32_t popped = popBack(s);
    return isValidId(popped) ? popped : s.homeScreen;
  };
  switch (reason) {
    case 0:
      event = lock.releaseEvent;
      next = isValidId(target) ? target : lock.releaseScreen;
      break;
    case 1:
      event = lock.timeoutEvent;
      next = isValidId(lock.timeoutScreen) ? lock.timeoutScreen : backOrHome();
      break;
    default:
      event = lock.unlockEvent;
      next = isValidId(lock.unlockScreen) ? lock.unlockScreen : backOrHome();
      break;
  }
  if (isValidId(event)) sendEvent(p_, event, lockId, nullptr, 0);
  int32_t nextType = isValidId(next) ? objectType(s, next) : -1;
  if (nextType != static_cast<int32_t>(ObjectType::PasswordPrompt) &&
      nextType != static_cast<int32_t>(ObjectType::Popup) && nextType != static_cast<int32_t>(ObjectType::LockObject))
    s.lockImage.reset();
  if (isValidId(next) && display_) display_->goToScreen(next);
  return 0;
}

}  // namespace okt
