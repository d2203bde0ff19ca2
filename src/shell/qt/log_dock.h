#pragma once

#include <QDockWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <mutex>
#include <string>

namespace okt {

// View → Log: the lines the program writes to its console, as they come,
// with Save. Lines may be added from any thread; they reach the text a few
// times a second, and only the newest kMaxLines are kept.
class LogDock : public QDockWidget {
 public:
  explicit LogDock(QWidget* parent = nullptr);

  void addText(const std::string& text);  // any thread
  QPlainTextEdit* text() { return text_; }
  QPushButton* saveButton() { return save_; }
  // Writes everything shown to `path`; false (and `error` says why) when it cannot.
  bool saveTo(const QString& path, QString& error) const;
  // Shows what has been added so far now, rather than at the next tick.
  void flush();

  static constexpr int kMaxLines = 5000;

 private:
  QPlainTextEdit* text_;
  QPushButton* save_;
  QTimer tick_;
  std::mutex mutex_;
  std::string pending_;
};

}  // namespace okt
