#include "headless.h"

#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "engine/wiring.h"
#include "images/svg_render.h"
#include "platform/qt/qt_surface.h"
#include "platform/tick.h"
#include "protocol/wire.h"

namespace okt::render {

QImage toImage(const PixelBuffer& frame) {
  QImage image(frame.pixels.data(), static_cast<int>(frame.width), static_cast<int>(frame.height),
               static_cast<qsizetype>(frame.width) * 4, QImage::Format_ARGB32);
  return image.copy();
}

void HeadlessHost::presentFrame(const PixelBuffer& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  frame_ = frame;
  ++frames_;
  if (!everyFrameDir_.isEmpty())
    toImage(frame).save(QDir(everyFrameDir_).filePath(QString("frame-%1.png").arg(frames_, 5, 10, QChar('0'))));
}

void HeadlessHost::showTargets(const std::vector<DisplayTarget>& targets) {
  std::lock_guard<std::mutex> lock(mutex_);
  targets_ = targets;
}

int HeadlessHost::passwordDialog(const PasswordRequest& request, std::string& entry) {
  std::string a;
  if (!next("password", a, {UnansweredDialog::Kind::Password, request.promptId, request.title, request.label, {}}) ||
      a == "cancel")
    return kDialogCancel;
  entry = a;
  return kDialogOk;
}

int HeadlessHost::popupDialog(const PopupRequest& request, int32_t& selected) {
  std::string a;
  if (!next("popup", a,
            {UnansweredDialog::Kind::Popup, request.popupId, request.title, request.message, request.buttonLabels}) ||
      a == "cancel")
    return kDialogCancel;
  selected = std::atoi(a.c_str());
  return kDialogOk;
}

bool HeadlessHost::nextEdit(const std::string& title, const std::string& what, std::string& value) {
  return next("edit", value, {UnansweredDialog::Kind::Edit, kNoId, title, what, {}}) && value != "cancel";
}

void HeadlessHost::answer(const std::string& kind, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back({kind, value});
}

PixelBuffer HeadlessHost::frame() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_;
}

std::vector<DisplayTarget> HeadlessHost::targets() {
  std::lock_guard<std::mutex> lock(mutex_);
  return targets_;
}

std::vector<UnansweredDialog> HeadlessHost::unanswered() {
  std::lock_guard<std::mutex> lock(mutex_);
  return unanswered_;
}

bool HeadlessHost::next(const std::string& kind, std::string& value, UnansweredDialog seen) {
  if (!allowed_) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (answers_.empty() || answers_.front().first != kind) {
    platform::logf("okt-render: no answer for the %s dialog: cancelled\n", kind.c_str());
    if (unanswered_.size() < kMaxUnanswered) unanswered_.push_back(std::move(seen));
    return false;
  }
  value = answers_.front().second;
  answers_.pop_front();
  return true;
}

namespace {

const char* editorName(EditorKind kind) {
  switch (kind) {
    case EditorKind::Slider: return "a slider";
    case EditorKind::Number: return "a number";
    case EditorKind::Text: return "a text";
    case EditorKind::Date: return "a date";
    case EditorKind::Time: return "a time";
    case EditorKind::HourMinute: return "hours and minutes";
    case EditorKind::List: return "a list";
    case EditorKind::Weekday: return "weekdays";
    default: return "a value";
  }
}

}  // namespace

int HeadlessEditor::runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& r) {
  std::string typed;
  if (!host_.nextEdit(QString::fromStdU16String(frame.caption).toStdString(), editorName(kind), typed))
    return kIdCancel;
  if (kind == EditorKind::Text)
    r.text = typed.substr(0, kEditorTextBytes - 1);
  else if (kind == EditorKind::List)
    r.value = listChoice(std::atoi(typed.c_str()));
  else if (auto n = parseNumber(typed))
    r.value = numberBits(r.type, *n);
  else {
    std::fprintf(stderr, "type: \"%s\" is not a number; nothing written\n", typed.c_str());
    return kIdCancel;  // as the window's editor refuses it
  }
  r.applied = 1;
  return kIdOk;
}

HeadlessClient::HeadlessClient(int w, int h, const QString& everyFrameDir)
    : host(w, h, everyFrameDir),
      renderer(p, host, [](int sw, int sh) { return std::make_unique<QtSurface>(sw, sh); }),
      engine(p, renderer, host),
      editor(host) {
  initQueue(p.queue);
  renderer.renderSvg = [](const char* t, uint32_t width) { return renderSvg(t, width); };
  renderer.renderIcon = [](uint32_t id, uint32_t width) { return renderIcon(id, width); };
  wireClient(p, engine, renderer, editor);
}

void HeadlessClient::settle(uint32_t atLeastMs, const std::function<bool()>& deviceQuiet) {
  platform::sleepMs(atLeastMs);
  uint32_t start = platform::tickCount();
  while (platform::tickCount() - start < 10000) {
    if (engine.settled() && deviceQuiet() && queueIsEmpty(p.queue)) break;
    platform::sleepMs(5);
  }
  platform::sleepMs(30);
}

}  // namespace okt::render
