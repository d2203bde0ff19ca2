#pragma once

// The window system as the fuzz targets see it: frames are checked and
// dropped, dialogs are answered from the input, nothing waits for a user.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/editors.h"
#include "presentation/ui_host.h"
#include "protocol/requests.h"
#include "support/raster_surface.h"

namespace okt::fuzz {

// How the next dialogs are answered, from 24 bits of the input: bit 0 OK
// (else cancel), bits 1-8 the pop-up button (255: none), bits 9-15 the
// length of a typed entry in units of nine characters (past the 1023 an
// entry holds, past what an event carries), bits 16-23 the character it
// starts with.
struct Answers {
  uint32_t bits = 1;

  bool ok() const { return bits & 1; }
  int32_t button() const {
    uint32_t b = (bits >> 1) & 0xFF;
    return b == 0xFF ? -1 : static_cast<int32_t>(b);
  }
  std::string entry() const {
    size_t n = ((bits >> 9) & 0x7F) * 9;
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((bits >> 16) + i * 7);
    return s;
  }
};

class FuzzHost : public NullUiHost, public EditorHost {
 public:
  explicit FuzzHost(ViewRect rect) : NullUiHost(rect) {}

  Answers answers;
  uint64_t frames = 0;

  void presentFrame(const PixelBuffer& frame) override {
    // The renderer composes each frame on a surface the size of the view.
    if (frame.width != static_cast<uint32_t>(rect_.right - rect_.left) ||
        frame.height != static_cast<uint32_t>(rect_.bottom - rect_.top) ||
        frame.pixels.size() != size_t{frame.width} * frame.height * 4)
      fault("a frame of another size than the view");
    ++frames;
  }
  void showTargets(const std::vector<DisplayTarget>& targets) override {
    for (const DisplayTarget& t : targets)
      if (t.width == 0 || t.height == 0 || t.x + t.width > 65536 || t.y + t.height > 65536)
        fault("a target outside the view, or of no size");
  }
  int passwordDialog(const PasswordRequest&, std::string& entry) override {
    entry = answers.entry();
    return answers.ok() ? kDialogOk : kDialogCancel;
  }
  int popupDialog(const PopupRequest& request, int32_t& selectedButton) override {
    selectedButton = answers.button();
    if (selectedButton >= static_cast<int32_t>(request.buttonLabels.size()) + 2) selectedButton = -1;
    return answers.ok() ? kDialogOk : kDialogCancel;
  }

  // An editor answered as okt-render answers it: the typed entry cut to what
  // the record holds, or the answer's bits as the number chosen.
  int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& r) override {
    if (frame.caption.size() > kCaptionUnits) fault("an editor caption longer than the title holds");
    if (r.listTexts.size() > kListTextsMax || r.choices.size() > r.listTexts.size())
      fault("a list editor with more choices than its record holds");
    if (r.text.size() > kEditorTextBytes - 1) fault("an editor text longer than its record holds");
    if (!answers.ok()) return kIdCancel;
    if (kind == EditorKind::Text)
      r.text = answers.entry().substr(0, kEditorTextBytes - 1);
    else
      r.value = answers.bits >> 1;
    r.applied = 1;
    return kIdOk;
  }
};

// What the client sends: whole requests, never more than one holds.
inline int checkRequest(const uint8_t* bytes, uint16_t length) {
  if (!bytes || length < kRequestHeaderBytes || length > kMaxRequestBytes) fault("a request of impossible length");
  return 0;
}

}  // namespace okt::fuzz
