#include "dialogs/qt/dialogs.h"

#include <QFontMetrics>
#include <QImage>
#include <QIntValidator>
#include <QPainter>
#include <QRegularExpressionValidator>

#include "platform/log.h"

namespace okt {

namespace {

int baseX(const QWidget* w) {
  return QFontMetrics(w->font()).horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
}
int baseY(const QWidget* w) { return QFontMetrics(w->font()).height(); }

QString fromUtf16(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

int dialogX(const QWidget* w, int units) { return units * baseX(w) / 4; }
int dialogY(const QWidget* w, int units) { return units * baseY(w) / 8; }

TemplateDialog::TemplateDialog(const DialogTemplate& frame, QWidget* parent) : QDialog(parent) {
  setWindowTitle(fromUtf16(frame.caption));
  setFixedSize(dialogX(this, frame.cx), dialogY(this, frame.cy));
  for (const DialogItem& item : frame.items) {
    auto* b = new QPushButton(QString::fromStdString(item.text), this);
    b->setGeometry(dialogX(this, item.x), dialogY(this, item.y), dialogX(this, item.cx), dialogY(this, item.cy));
    if (item.id == kIdOk) {
      ok_ = b;
      b->setDefault(true);
      connect(b, &QPushButton::clicked, this, &QDialog::accept);
    } else if (item.id == kIdCancel) {
      cancel_ = b;
      connect(b, &QPushButton::clicked, this, &QDialog::reject);
    }
  }
}

QLineEdit* EditorDialog::addField(int x, int y, int width, const QString& text) {
  auto* f = new QLineEdit(text, this);
  f->setAlignment(Qt::AlignCenter);
  f->setGeometry(dialogX(this, x), dialogY(this, y), dialogX(this, width), 24);  // heights are pixels
  return f;
}

void EditorDialog::addLabel(int x, int y, int width, const QString& text) {
  auto* l = new QLabel(text, this);
  l->setGeometry(dialogX(this, x), dialogY(this, y), dialogX(this, width), 24);
}

EditorDialog::EditorDialog(EditorKind kind, const DialogTemplate& frame, EditorRecord& record, QWidget* parent)
    : TemplateDialog(frame, parent), kind_(kind), record_(record) {
  const uint32_t v = record.value;
  switch (kind) {
    case EditorKind::Number: fields_[0] = addField(10, 10, 110, QString::number(v)); break;
    case EditorKind::Text: fields_[0] = addField(10, 10, 110, QString::fromUtf8(record.text.c_str())); break;
    case EditorKind::Slider: {
      SliderSetup s = sliderSetup(record);
      slider_ = new QSlider(Qt::Horizontal, this);
      slider_->setGeometry(dialogX(this, 10), dialogY(this, 10), dialogX(this, 110), 30);
      slider_->setRange(s.minimum, s.maximum);
      slider_->setPageStep(1);
      slider_->setTickInterval(s.tickFrequency);
      slider_->setTickPosition(QSlider::TicksBelow);
      slider_->setValue(s.position);
      sliderLabel_ = new QLabel(this);
      sliderLabel_->setGeometry(dialogX(this, 10), dialogY(this, 40), dialogX(this, 110), 24);
      auto show = [this](int position) { sliderLabel_->setText(QString("Value: %1").arg(static_cast<unsigned>(position))); };
      show(slider_->value());
      connect(slider_, &QSlider::valueChanged, this, show);
      break;
    }
    case EditorKind::HourMinute:
      addLabel(10, 10, 45, "hour");
      addLabel(70, 10, 45, "min");
      addLabel(60, 11, 5, ":");
      fields_[0] = addField(10, 20, 40, QString::number((v >> 8) & 0xFF));
      fields_[1] = addField(70, 20, 40, QString::number(v & 0xFF));
      break;
    case EditorKind::Time:
    case EditorKind::Date: {
      bool date = kind == EditorKind::Date;
      const char* names[3] = {date ? "day" : "hour", date ? "month" : "min", date ? "year" : "sec"};
      const char* sep = date ? "/" : ":";
      for (int i = 0; i < 3; ++i) {
        addLabel(10 + 35 * i, 10, 45, names[i]);
        fields_[static_cast<size_t>(i)] = addField(10 + 35 * i, 20, 25, QString::number((v >> (16 - 8 * i)) & 0xFF));
      }
      addLabel(40, 21, 5, sep);
      addLabel(75, 21, 5, sep);
      break;
    }
    case EditorKind::List: {
      list_ = new QListWidget(this);
      list_->setGeometry(dialogX(this, 10), dialogY(this, 5), dialogX(this, 110), 100);
      for (const std::string& e : record.choices) list_->addItem(QString::fromUtf8(e.c_str()).left(1023));
      if (v < static_cast<uint32_t>(list_->count())) list_->setCurrentRow(static_cast<int>(v));
      break;
    }
    case EditorKind::Weekday: {
      const char* names[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
      for (int i = 0; i < 7; ++i) {
        addLabel(10 + 15 * i, 10, 45, names[i]);
        auto* box = new QCheckBox(this);
        box->setGeometry(dialogX(this, 10 + 15 * i), dialogY(this, 20), dialogX(this, 10), 24);
        box->setChecked((v >> i) & 1);
        days_[static_cast<size_t>(i)] = box;
      }
      break;
    }
    case EditorKind::None: break;
  }
}

void EditorDialog::accept() {
  auto number = [&](int i) { return numberFromText(fields_[static_cast<size_t>(i)]->text().toStdString()); };
  switch (kind_) {
    case EditorKind::Number: record_.value = number(0); break;
    case EditorKind::Text: record_.text = fields_[0]->text().toUtf8().left(kEditorTextBytes - 3).toStdString(); break;
    case EditorKind::Slider: record_.value = static_cast<uint32_t>(slider_->value()); break;
    case EditorKind::HourMinute: record_.value = packHourMinute(number(0), number(1)); break;
    case EditorKind::Time:
    case EditorKind::Date: record_.value = packThree(number(0), number(1), number(2)); break;
    case EditorKind::List: record_.value = listChoice(list_->currentRow()); break;
    case EditorKind::Weekday: {
      std::array<bool, 7> checked{};
      for (size_t i = 0; i < 7; ++i) checked[i] = days_[i]->isChecked();
      record_.value = weekdayBits(checked);
      break;
    }
    case EditorKind::None: break;
  }
  record_.applied = 1;
  QDialog::accept();
}

PasswordDialog::PasswordDialog(const DialogTemplate& frame, const PasswordRequest& r, QWidget* parent)
    : TemplateDialog(frame, parent), allowed_(r.allowedChars) {
  label_ = new QLabel(QString::fromUtf8(r.label.c_str()).left(1023), this);
  label_->setAlignment(Qt::AlignCenter);
  label_->setGeometry(dialogX(this, 10), dialogY(this, 8), dialogX(this, 220), 24);
  entry_ = new QLineEdit(this);
  entry_->setAlignment(Qt::AlignCenter);
  entry_->setGeometry(dialogX(this, 80), dialogY(this, 25), dialogX(this, 80), 24);
  PasswordField f = passwordField(r.options, r.allowedChars, r.maxLength);
  if (!f.showCancel) cancel_->hide();
  if (f.masked) entry_->setEchoMode(QLineEdit::Password);
  if (f.digitsOnly) entry_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), entry_));
  if (f.maxLength) entry_->setMaxLength(f.maxLength);
  connect(entry_, &QLineEdit::textEdited, this, [this, f](const QString& text) {
    // Typed capitals become lower case (or the other way) where the prompt asks for it.
    if (f.lowerCase && text != text.toLower()) entry_->setText(text.toLower());
    if (f.upperCase && text != text.toUpper()) entry_->setText(text.toUpper());
  });
  connect(entry_, &QLineEdit::textChanged, this, [this](const QString& text) { changed(text); });
  entry_->setFocus();
}

void PasswordDialog::changed(const QString& text) {
  std::string now = text.toUtf8().left(1023).toStdString();
  if (now == accepted_) return;
  if (passwordCharsAllowed(allowed_, now))
    accepted_ = now;
  else
    entry_->setText(QString::fromUtf8(accepted_.c_str()));  // undo the offending change
  platform::logf("STR: %s\n", accepted_.c_str());
}

PopupDialog::PopupDialog(const PopupRequest& request, IconRenderer icons, QWidget* parent)
    : QDialog(parent), request_(request), icons_(std::move(icons)) {
  setWindowTitle(request.title.empty() ? QString("Pop-up") : QString::fromUtf8(request.title.c_str()).left(128));
  setFixedSize(dialogX(this, 250), dialogY(this, 80));
  auto places = popupButtonPlaces(static_cast<int>(request.buttonLabels.size()));
  for (size_t i = 0; i < places.size(); ++i) {
    auto* b = new QPushButton(QString::fromUtf8(request.buttonLabels[i].c_str()).left(1023), this);
    b->setGeometry(dialogX(this, places[i].x), dialogY(this, 50), dialogX(this, places[i].width), 30);
    int index = static_cast<int>(i);
    // Only the first eight buttons answer.
    if (index < 8)
      connect(b, &QPushButton::clicked, this, [this, index] {
        selected_ = index;
        accept();
      });
    buttons_.push_back(b);
  }
}

void PopupDialog::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter p(this);
  if (request_.iconId >= 0xFF1000 && request_.iconId <= 0xFFFFFE && icons_) {
    if (auto icon = icons_(request_.iconId, 80)) {
      QImage img(icon->pixels.data(), static_cast<int>(icon->width), static_cast<int>(icon->height),
                 static_cast<int>(icon->width) * 4, QImage::Format_RGBA8888);
      p.drawImage(10, 10, img);
    }
  }
  if (!request_.message.empty()) {
    QFont font("Helvetica");
    font.setPixelSize(18);
    font.setWeight(static_cast<QFont::Weight>(500));
    p.setFont(font);
    p.setPen(Qt::black);
    // Lines break only where the message has line breaks; each is centred.
    QRect box(dialogX(this, 180), dialogY(this, 20), 100, 150);
    p.drawText(box, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, QString::fromUtf8(request_.message.c_str()).left(1023));
  }
}

}  // namespace okt
