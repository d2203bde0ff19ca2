#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <array>
#include <functional>
#include <optional>

#include "dialogs/editors.h"
#include "dialogs/password_rules.h"
#include "platform/pixel_buffer.h"
#include "presentation/ui_host.h"

namespace okt {

// Dialog units to pixels with the dialog font's base units.
int dialogX(const QWidget* w, int units);
int dialogY(const QWidget* w, int units);

// The frame of a dialog template: caption, size, OK (id 1) and Cancel (id 2).
class TemplateDialog : public QDialog {
 public:
  explicit TemplateDialog(const DialogTemplate& frame, QWidget* parent = nullptr);
  QPushButton* okButton() { return ok_; }
  QPushButton* cancelButton() { return cancel_; }

 protected:
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// A variable's editor: the controls of its kind, filled from the record and
// stored back into it on OK.
class EditorDialog : public TemplateDialog {
 public:
  EditorDialog(EditorKind kind, const DialogTemplate& frame, EditorRecord& record, QWidget* parent = nullptr);
  QLineEdit* field(int i) { return fields_[static_cast<size_t>(i)]; }
  QSlider* slider() { return slider_; }
  QLabel* sliderLabel() { return sliderLabel_; }
  QListWidget* list() { return list_; }
  QCheckBox* day(int i) { return days_[static_cast<size_t>(i)]; }

 protected:
  void accept() override;

 private:
  QLineEdit* addField(int x, int y, int width, const QString& text);
  void addLabel(int x, int y, int width, const QString& text);

  EditorKind kind_;
  EditorRecord& record_;
  std::array<QLineEdit*, 3> fields_{};
  QSlider* slider_ = nullptr;
  QLabel* sliderLabel_ = nullptr;
  QListWidget* list_ = nullptr;
  std::array<QCheckBox*, 7> days_{};
};

// The password prompt: the entry keeps to its allowed characters; every
// accepted change is printed as "STR: <entry>".
class PasswordDialog : public TemplateDialog {
 public:
  PasswordDialog(const DialogTemplate& frame, const PasswordRequest& request, QWidget* parent = nullptr);
  QLineEdit* entryField() { return entry_; }
  QLabel* label() { return label_; }
  const std::string& entry() const { return accepted_; }

 private:
  void changed(const QString& text);

  uint16_t allowed_;
  QLineEdit* entry_;
  QLabel* label_;
  std::string accepted_;
};

// The pop-up window: icon, centred message, up to eight answering buttons.
class PopupDialog : public QDialog {
 public:
  using IconRenderer = std::function<std::optional<PixelBuffer>(uint32_t id, uint32_t width)>;
  PopupDialog(const PopupRequest& request, IconRenderer icons, QWidget* parent = nullptr);
  int32_t selectedButton() const { return selected_; }
  QList<QPushButton*> buttons() const { return buttons_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PopupRequest request_;
  IconRenderer icons_;
  int32_t selected_ = -1;
  QList<QPushButton*> buttons_;
};

}  // namespace okt
