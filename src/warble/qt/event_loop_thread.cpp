#include "warble/qt/event_loop_thread.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace okt::warble_qt {

namespace {
EventLoopThread* hostLoop = nullptr;  // the loop that must end with the host's application
EventLoopThread* ownLoop = nullptr;   // the loop running the library's own application
void stopHostLoop() {
  if (hostLoop) hostLoop->stop();
}
void stopOwnLoop() {
  if (ownLoop) ownLoop->stop();
}

// A value one thread hands to another that waits for it. A mutex and a
// condition variable rather than std::promise: a future's wait ends inside
// libstdc++, where ThreadSanitizer does not see the hand-over, and reports
// everything the waiter then does with the loop's objects.
template <typename T>
class Handoff {
 public:
  void set(T value) {
    // Notified under the lock: the waiter, once woken, ends the Handoff's life.
    std::lock_guard<std::mutex> lock(mutex_);
    value_ = std::move(value);
    cv_.notify_all();
  }
  T get() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return value_.has_value(); });
    return *value_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::optional<T> value_;
};
}  // namespace

EventLoopThread::~EventLoopThread() { stop(); }

void EventLoopThread::start() {
  // Called with mutex_ held.
  if (started_) return;
  started_ = true;
  if (QCoreApplication::instance()) {
    qthread_ = new QThread;
    qthread_->setObjectName("okt-warble-qt");
    qthread_->start();
    context_ = new QObject;
    context_->moveToThread(qthread_);
    Handoff<std::thread::id> id;
    QMetaObject::invokeMethod(
        context_, [&id] { id.set(std::this_thread::get_id()); }, Qt::QueuedConnection);
    loopThreadId_ = id.get();
    hostLoop = this;
    qAddPostRoutine(stopHostLoop);
    return;
  }
  own_ = true;
  Handoff<QObject*> ready;
  ownThread_ = std::thread([&ready, self = this] {
    static int argc = 1;
    static char name[] = "okt-warble-qt";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // The loop must end before Qt's own globals do at the program's end:
    // made now, after the application and the system bus connection, the
    // exit handler runs before theirs.
    QDBusConnection::systemBus();
    ownLoop = self;
    std::atexit(stopOwnLoop);
    auto* context = new QObject;
    ready.set(context);
    app.exec();
    delete context;
  });
  loopThreadId_ = ownThread_.get_id();
  context_ = ready.get();
}

QObject* EventLoopThread::context() {
  std::lock_guard<std::mutex> lock(mutex_);
  start();
  return context_;
}

bool EventLoopThread::onLoopThread() const { return std::this_thread::get_id() == loopThreadId_; }

void EventLoopThread::post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_) return;
  start();
  QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void EventLoopThread::runAndWait(const std::function<void()>& task) {
  Handoff<bool> done;
  bool here;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    start();
    here = onLoopThread();
    // Posted under the lock, so that stop() cannot end the loop between the
    // check and the post: a task posted before stop() runs before it.
    if (!here)
      QMetaObject::invokeMethod(
          context_,
          [&] {
            task();
            done.set(true);
          },
          Qt::QueuedConnection);
  }
  if (here)
    task();
  else
    done.get();
}

void EventLoopThread::endBeforeGlobalsOf(const char* part) {
  if (!own_) return;
  std::lock_guard<std::mutex> lock(exitMutex_);
  if (exitParts_.insert(part).second) std::atexit(stopOwnLoop);
}

void EventLoopThread::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || stopped_) {
      stopped_ = true;
      return;
    }
  }
  if (last_) runAndWait(last_);
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  if (qthread_) {
    if (hostLoop == this) hostLoop = nullptr;
    QObject* context = context_;
    QMetaObject::invokeMethod(
        context, [context] { delete context; }, Qt::BlockingQueuedConnection);
    qthread_->quit();
    qthread_->wait();
    delete qthread_;
    qthread_ = nullptr;
  } else if (ownThread_.joinable()) {
    if (ownLoop == this) ownLoop = nullptr;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    ownThread_.join();
  }
  context_ = nullptr;
}

}  // namespace okt::warble_qt
