#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
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

// The frame of a dialog template: caption, OK (id 1) and Cancel (id 2) in a
// row below the controls, on the sides the template gives them. Sizes come
// from the layout: the frame is as large as its contents and its caption.
class TemplateDialog : public QDialog {
 public:
  explicit TemplateDialog(const DialogTemplate& frame, QWidget* parent = nullptr);
  QPushButton* okButton() { return ok_; }
  QPushButton* cancelButton() { return cancel_; }

 protected:
  // The controls go here, above the buttons.
  QVBoxLayout* body() { return body_; }
  // Adds the buttons once the controls are made, so that Tab reaches the
  // controls first.
  void addButtons();

  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;

 private:
  DialogTemplate frame_;
  QVBoxLayout* top_;
  QVBoxLayout* body_;
};

// A variable's editor: the controls of its kind, filled from the record and
// stored back into it on OK. A field that does not hold a number keeps the
// dialog open with a word about it, and nothing is stored.
class EditorDialog : public TemplateDialog {
 public:
  EditorDialog(EditorKind kind, const DialogTemplate& frame, EditorRecord& record, QWidget* parent = nullptr);
  QLineEdit* field(int i) { return fields_[static_cast<size_t>(i)]; }
  QSlider* slider() { return slider_; }
  QLabel* sliderLabel() { return sliderLabel_; }
  QListWidget* list() { return list_; }
  QCheckBox* day(int i) { return days_[static_cast<size_t>(i)]; }
  QLabel* problem() { return problem_; }
  // The number the slider shows (its position counts from the minimum).
  int64_t sliderNumber() const;

 protected:
  void accept() override;

 private:
  // A centred field wide enough for its text, each of `widest`, and `minimumUnits` dialog units.
  QLineEdit* addField(const QString& text, const QStringList& widest, int minimumUnits);
  void addFieldRow(const QStringList& names, const QString& separator, const QList<uint32_t>& values);
  void addSlider();
  void addList();
  void addWeekdays();
  std::optional<std::array<int64_t, 3>> readFields();

  EditorKind kind_;
  EditorRecord& record_;
  std::array<QLineEdit*, 3> fields_{};
  QSlider* slider_ = nullptr;
  int64_t sliderMinimum_ = 0;
  QLabel* sliderLabel_ = nullptr;
  QListWidget* list_ = nullptr;
  std::array<QCheckBox*, 7> days_{};
  QLabel* problem_ = nullptr;
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
  QLabel* message() { return message_; }
  QLabel* icon() { return icon_; }

 private:
  int32_t selected_ = -1;
  QLabel* icon_ = nullptr;
  QLabel* message_ = nullptr;
  QList<QPushButton*> buttons_;
};

}  // namespace okt
