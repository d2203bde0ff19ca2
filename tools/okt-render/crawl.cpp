#include "crawl.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdio>
#include <deque>
#include <set>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/loopback_link.h"
#include "headless.h"
#include "platform/log.h"
#include "presentation/renderer.h"
#include "protocol/wire.h"
#include "shell/display_view.h"

namespace okt::render {
namespace {

// One step of a path from home: a press at a point, the next menu page, or
// the answer to the dialog the step before it opens.
struct Step {
  enum class Kind { Press, NextPage, Answer };
  Kind kind = Kind::Press;
  uint32_t x = 0, y = 0;   // view units
  std::string answerKind;  // "popup", "password"
  std::string answer;
  std::string label;  // as the sheet shows it
};
using Path = std::vector<Step>;

// A pop-up, prompt or editor that opened with no answer for it.
struct SeenDialog {
  UnansweredDialog dialog;
  bool comparedHere = false;  // a prompt the client checks itself
  std::string password;       // and the password it expects
};

// What a path led to.
struct Visit {
  PixelBuffer frame;
  std::vector<std::pair<DisplayTarget, std::string>> targets;  // and what each is ("button", "row 2" ...)
  std::vector<SeenDialog> dialogs;
  uint32_t screen = kNoId;
  int32_t type = -1;
  uint32_t page = 0, lastPage = 0;
};

struct Entry {
  std::string path;
  std::string what;     // the display's kind and id, or the dialog
  std::string picture;  // empty for a dialog
  uint32_t object = kNoId;
  bool dialog = false;
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string pathText(const Path& path) {
  std::string out = "home";
  for (const Step& s : path) out += " \u2192 " + s.label;
  return out;
}

const char* typeName(int32_t type) {
  switch (type) {
    case ObjectType::Screen: return "Screen";
    case ObjectType::Menu: return "Menu";
    case ObjectType::PasswordPrompt: return "Password prompt";
    case ObjectType::Popup: return "Pop-up";
    case ObjectType::LockObject: return "Lock screen";
    default: return "Object";
  }
}

// What a target on the current display is, for the path's labels.
std::string targetKind(const ClientState& s, const DisplayTarget& t) {
  if (t.kind == DisplayTarget::Kind::MenuRow)
    return "row " + std::to_string((t.y - MenuLayout::kFirstRow) / MenuLayout::kRowPitch + 1);
  if (objectType(s, s.currentScreen) == static_cast<int32_t>(ObjectType::LockObject)) return "unlock";
  if (const auto* screen = bodyOf<ScreenBody>(s, s.currentScreen))
    for (const Placement& p : screen->children)
      if (p.x == t.x && p.y == t.y) {
        switch (objectType(s, p.objectId)) {
          case ObjectType::Gauge: return "gauge";
          case ObjectType::TextBox: return "value";
          default: return "button";
        }
      }
  return "button";
}

// Connects a fresh client to a fresh device and walks the path.
Visit walk(const emu::DeviceDescription& device, const CrawlOptions& o, const Path& path) {
  HeadlessClient c(o.width, o.height);
  emu::Emulator emulator(device);
  emu::LoopbackLink link(emulator, [&](const uint8_t* b, size_t n) { queueNotification(c.p, b, n); });
  // No one watches the presses, only where each leads: a press ends as soon
  // as the device has answered it.
  c.engine.pressMs = 20;
  c.engine.deviceQuiet = [&link] { return link.waitIdle(0); };
  c.p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) { return link.write(b, n); };
  auto settle = [&](uint32_t ms) { c.settle(ms, [&] { return link.waitIdle(1); }); };
  // The answers for the dialogs an action opens go ahead of the action.
  auto queueAnswers = [&](size_t from) {
    for (size_t k = from; k < path.size() && path[k].kind == Step::Kind::Answer; ++k)
      c.host.answer(path[k].answerKind, path[k].answer);
  };

  c.engine.startControlThread();
  c.engine.startClientThread();
  link.start();
  queueAnswers(0);
  c.engine.postControl(ControlFlag::CONNECT);
  settle(100);
  for (size_t i = 0; i < path.size(); ++i) {
    const Step& step = path[i];
    if (step.kind == Step::Kind::Answer) continue;
    queueAnswers(i + 1);
    if (step.kind == Step::Kind::NextPage) {
      c.engine.postControl(ControlFlag::NEXT_PAGE);
      settle(20);
    } else {
      c.engine.setClick(step.x, step.y);
      settle(c.engine.pressMs + 60);  // the press, then its target or dialog
    }
  }

  Visit v;
  v.frame = c.host.frame();
  std::vector<DisplayTarget> targets = c.host.targets();
  std::vector<UnansweredDialog> dialogs = c.host.unanswered();
  c.engine.withTables([&](ClientState& s) {
    v.screen = s.currentScreen;
    v.type = objectType(s, s.currentScreen);
    v.page = s.menuPage;
    v.lastPage = s.menuPageCount;
    for (DisplayTarget& t : targets) v.targets.push_back({t, targetKind(s, t)});
    for (UnansweredDialog& d : dialogs) {
      SeenDialog seen;
      seen.dialog = std::move(d);
      if (const auto* prompt = seen.dialog.kind == UnansweredDialog::Kind::Password
                                   ? bodyOf<PasswordPromptBody>(s, seen.dialog.id)
                                   : nullptr) {
        seen.comparedHere = prompt->options & 0x08;
        seen.password = prompt->password;
      }
      v.dialogs.push_back(std::move(seen));
    }
  });
  c.host.closeDialogs();
  c.engine.shutdown();
  link.stop();
  return v;
}

std::string hashOf(const PixelBuffer& f) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (uint8_t b : f.pixels) h = (h ^ b) * 1099511628211ull;
  char text[48];
  std::snprintf(text, sizeof text, "%ux%u:%016llx", f.width, f.height, static_cast<unsigned long long>(h));
  return text;
}

// Editors carry no object: each press that opens one is its own.
std::string dialogKey(const UnansweredDialog& d, const std::string& path) {
  switch (d.kind) {
    case UnansweredDialog::Kind::Popup: return "popup " + std::to_string(d.id);
    case UnansweredDialog::Kind::Password: return "password " + std::to_string(d.id);
    case UnansweredDialog::Kind::Edit: return "editor " + path;
  }
  return {};
}

std::string describe(const UnansweredDialog& d) {
  switch (d.kind) {
    case UnansweredDialog::Kind::Popup: {
      std::string out = "Pop-up " + std::to_string(d.id) + " " + quoted(d.title) + ": " + d.message;
      for (const std::string& b : d.buttons) out += " [" + b + "]";
      return out;
    }
    case UnansweredDialog::Kind::Password:
      return "Password prompt " + std::to_string(d.id) + " " + quoted(d.title) + ": " + d.message;
    case UnansweredDialog::Kind::Edit:
      return "Editor " + quoted(d.title) + " of " + d.message + " (cancelled: values are not tried)";
  }
  return {};
}

// The ways on from a dialog: each pop-up button; a prompt's right and wrong
// password when the client checks it, else one entry the device judges.
std::vector<Step> answersFor(const SeenDialog& s) {
  std::vector<Step> out;
  auto add = [&](const char* kind, std::string answer, std::string label) {
    out.push_back({Step::Kind::Answer, 0, 0, kind, std::move(answer), std::move(label)});
  };
  if (s.dialog.kind == UnansweredDialog::Kind::Popup) {
    for (size_t k = 0; k < s.dialog.buttons.size(); ++k)
      add("popup", std::to_string(k), "pop-up button " + quoted(s.dialog.buttons[k]));
  } else if (s.dialog.kind == UnansweredDialog::Kind::Password) {
    if (s.comparedHere) {
      add("password", s.password, "password " + quoted(s.password));
      add("password", s.password + "x", "wrong password " + quoted(s.password + "x"));
    } else {
      add("password", "crawl", "password " + quoted("crawl"));
    }
  }
  return out;
}

std::string html(const std::string& s) { return QString::fromStdString(s).toHtmlEscaped().toStdString(); }

bool writeSheet(const std::string& file, const std::string& device, const std::vector<Entry>& entries, size_t limit,
                bool cut) {
  std::string out =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + html(device) +
      ": displays</title>\n<style>body{font-family:sans-serif}figure{display:inline-block;vertical-align:top;"
      "width:320px;margin:8px}img{max-width:300px;border:1px solid #888}.dialog{border:1px dashed #888;"
      "padding:8px}figcaption{font-size:small}</style></head><body>\n<h1>" +
      html(device) + "</h1>\n<p>" + std::to_string(entries.size()) +
      " displays and dialogs, reached from home by clicks, breadth first" +
      (cut ? " (stopped at the limit of " + std::to_string(limit) + ")" : "") + ".</p>\n";
  for (const Entry& e : entries) {
    out += "<figure data-object=\"" + std::to_string(e.object) + "\">";
    if (e.dialog)
      out += "<div class=\"dialog\">" + html(e.what) + "</div>";
    else
      out +=
          "<a href=\"" + html(e.picture) + "\"><img src=\"" + html(e.picture) + "\" alt=\"" + html(e.what) + "\"></a>";
    out += "<figcaption><b class=\"path\">" + html(e.path) + "</b><br>" + html(e.dialog ? "dialog" : e.what) +
           "</figcaption></figure>\n";
  }
  out += "</body></html>\n";
  QFile f(QString::fromStdString(file));
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         f.write(out.data(), static_cast<qint64>(out.size())) == static_cast<qint64>(out.size());
}

}  // namespace

int crawl(const emu::DeviceDescription& description, const CrawlOptions& o) {
  // Sixty connections' log lines would bury the progress: they are dropped.
  struct QuietLog {
    platform::LogSink previous = platform::setLogSink([](const std::string&) {});
    ~QuietLog() { platform::setLogSink(previous); }
  } quiet;
  // Held still, a display a timer changes (a sweeping gauge) is one display.
  emu::DeviceDescription device = description;
  device.timers.clear();
  QDir dir(QString::fromStdString(o.outDir));

  std::deque<Path> pending{Path{}};
  std::set<std::string> seen;      // pictures' hashes, locks, dialogs
  std::set<std::string> expanded;  // displays (and menu pages) already pressed through
  std::vector<Entry> entries;
  size_t walked = 0;
  auto full = [&] { return entries.size() >= o.limit; };

  // Paths that lead to displays already seen cost a walk each and find
  // nothing: they are bounded too, so the limit bounds the time taken.
  constexpr size_t kWalksPerEntry = 20;
  while (!pending.empty() && !full() && walked < kWalksPerEntry * o.limit) {
    Path path = std::move(pending.front());
    pending.pop_front();
    std::string where = pathText(path);
    std::fprintf(stderr, "crawl: [%zu found, %zu to try] %s\n", entries.size(), pending.size(), where.c_str());
    Visit v = walk(device, o, path);
    ++walked;
    if (v.frame.empty()) {
      if (path.empty()) {
        std::fprintf(stderr, "okt-render: the device drew nothing\n");
        return 1;
      }
      continue;
    }

    for (const SeenDialog& d : v.dialogs) {
      if (full() || !seen.insert(dialogKey(d.dialog, where)).second) continue;
      entries.push_back({where, describe(d.dialog), {}, d.dialog.id, true});
      for (Step& answer : answersFor(d)) {
        Path next = path;
        next.push_back(std::move(answer));
        pending.push_back(std::move(next));
      }
    }

    // A lock screen animates by itself: it is one display whatever its frame.
    bool lock = v.type == static_cast<int32_t>(ObjectType::LockObject);
    std::string key = lock ? "lock " + std::to_string(v.screen) : hashOf(v.frame);
    if (!full() && seen.insert(key).second) {
      char name[48];
      std::snprintf(name, sizeof name, "display-%03zu.png", entries.size() + 1);
      std::string what = std::string(typeName(v.type)) + " " + std::to_string(v.screen);
      if (v.type == static_cast<int32_t>(ObjectType::Menu))
        what += ", page " + std::to_string(v.page + 1) + " of " + std::to_string(v.lastPage + 1);
      if (!toImage(v.frame).save(dir.filePath(name))) {
        std::fprintf(stderr, "okt-render: cannot write %s\n", qPrintable(dir.filePath(name)));
        return 1;
      }
      entries.push_back({where, what, name, v.screen, false});
    }

    // A display is pressed through once for each set of places to press:
    // one the device rebuilt (an object replaced) is pressed through again,
    // one whose texts only changed (a counter) is not.
    std::string layout = std::to_string(v.screen) + "/" + std::to_string(v.page);
    for (const auto& [target, kind] : v.targets)
      layout += " " + std::to_string(static_cast<int>(target.kind)) + ":" + std::to_string(target.x) + "," +
                std::to_string(target.y) + "," + std::to_string(target.width) + "x" + std::to_string(target.height);
    if (!expanded.insert(layout).second) continue;
    for (const auto& [target, kind] : v.targets) {
      auto [x, y] = targetCentre(target);
      std::string label = target.name.empty() ? kind : kind + " " + quoted(target.name);
      Path next = path;
      next.push_back({Step::Kind::Press, x, y, {}, {}, label});
      pending.push_back(std::move(next));
    }
    if (v.type == static_cast<int32_t>(ObjectType::Menu) && v.page < v.lastPage) {
      Path next = path;
      next.push_back({Step::Kind::NextPage, 0, 0, {}, {}, "page " + std::to_string(v.page + 2)});
      pending.push_back(std::move(next));
    }
  }

  std::string index = dir.filePath("index.html").toStdString();
  if (!writeSheet(index, device.name, entries, o.limit, !pending.empty())) {
    std::fprintf(stderr, "okt-render: cannot write %s\n", index.c_str());
    return 1;
  }
  std::fprintf(stderr, "crawl: %zu displays and dialogs from %zu paths%s; wrote %s\n", entries.size(), walked,
               pending.empty() ? "" : " (the limit stopped it)", index.c_str());
  return 0;
}

}  // namespace okt::render
