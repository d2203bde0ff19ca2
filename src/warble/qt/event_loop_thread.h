#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class QObject;
class QThread;

namespace okt::warble_qt {

// The Qt event loop the library's Bluetooth objects live on. When the host
// program has a Qt application, the loop is a QThread of that application;
// otherwise the library makes its own application object on a thread of its
// own. Completion handlers, notifications and scan results are called here.
class EventLoopThread {
 public:
  EventLoopThread() = default;
  ~EventLoopThread();
  EventLoopThread(const EventLoopThread&) = delete;
  EventLoopThread& operator=(const EventLoopThread&) = delete;

  // Runs `task` on the loop, later.
  void post(std::function<void()> task);
  // Runs `task` on the loop and waits for it (at once when already there).
  void runAndWait(const std::function<void()>& task);
  bool onLoopThread() const;
  // An object living on the loop (the context of queued calls).
  QObject* context();
  // Runs on the loop just before it ends (to delete what lives there).
  void setLastTask(std::function<void()> last) { last_ = std::move(last); }
  // Ends the loop; nothing is posted afterwards. When the loop belongs to
  // the host's application, this happens at the latest when that
  // application object is destroyed.
  void stop();
  // Called on the loop after the first use of a part of Qt (`part` names
  // it: the scan, a connection): at the program's end, the library's own
  // loop is to end before the globals that part made on it are destroyed.
  // Exit handlers run in the reverse order of their registration, and Qt
  // makes its Bluetooth globals on first use, after the loop registered its
  // own; they would be destroyed on the exiting thread while the loop still
  // delivers their D-Bus signals. Registers the loop's exit handler again,
  // once per part. A loop of the host's application ends with the
  // application, before any exit handler, and needs none.
  void endBeforeGlobalsOf(const char* part);

 private:
  void start();

  std::mutex mutex_;
  bool started_ = false;
  bool stopped_ = false;
  QObject* context_ = nullptr;
  QThread* qthread_ = nullptr;  // the host's application is the loop's owner
  std::thread ownThread_;       // the library's own application
  std::thread::id loopThreadId_;
  std::function<void()> last_;
  bool own_ = false;  // the library's own application; set before the loop runs
  std::mutex exitMutex_;
  std::set<std::string> exitParts_;
};

}  // namespace okt::warble_qt
