#include "dialogs/qt/dialogs.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QPixmap>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/log.h"

namespace okt {

namespace {

int baseX(const QWidget* w) {
  return QFontMetrics(w->font()).horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
}
int baseY(const QWidget* w) { return QFontMetrics(w->font()).height(); }

QString fromUtf16(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

// The dialogs are exactly as large as their contents: nothing is placed by
// hand, so no font or scale makes controls overlap or cuts their text.
QVBoxLayout* fixedLayout(QDialog* d) {
  auto* layout = new QVBoxLayout(d);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return layout;
}

// The window system draws the caption in the title bar beside the window's
// icon and buttons; a dialog at least this wide shows all of it.
void fitCaption(QDialog* d, QVBoxLayout* layout) {
  QFont bold = d->font();
  bold.setBold(true);
  QFontMetrics fm(bold);
  // (Window managers draw the caption larger than the dialog font, with up to four buttons.)
  int width = fm.horizontalAdvance(d->windowTitle()) * 5 / 4 + 8 * fm.height();
  QMargins m = layout->contentsMargins();
  layout->addSpacerItem(new QSpacerItem(width - m.left() - m.right(), 0, QSizePolicy::Fixed, QSizePolicy::Fixed));
}

// The buttons of a row share one width, at least `minimum`.
void sameWidth(const QList<QPushButton*>& buttons, int minimum) {
  int width = minimum;
  for (QPushButton* b : buttons) width = std::max(width, b->sizeHint().width());
  for (QPushButton* b : buttons) b->setMinimumWidth(width);
}

// How wide a line edit must be to show each of `texts` whole.
int fieldWidth(const QLineEdit* f, const QStringList& texts) {
  QFontMetrics fm(f->font());
  int text = 0;
  for (const QString& t : texts) text = std::max(text, fm.horizontalAdvance(t));
  QMargins tm = f->textMargins();
  // As the line edit measures itself: its inner margins, the cursor, then the frame.
  QSize inner(text + 2 * 2 + tm.left() + tm.right() + fm.averageCharWidth(), fm.height());
  QStyleOptionFrame opt;
  opt.initFrom(f);
  opt.lineWidth = f->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, f);
  return f->style()->sizeFromContents(QStyle::CT_LineEdit, &opt, inner, f).width();
}

QString number(int64_t n) { return QString::number(static_cast<qlonglong>(n)); }

}  // namespace

int dialogX(const QWidget* w, int units) { return units * baseX(w) / 4; }
int dialogY(const QWidget* w, int units) { return units * baseY(w) / 8; }

TemplateDialog::TemplateDialog(const DialogTemplate& frame, QWidget* parent) : QDialog(parent), frame_(frame) {
  setWindowTitle(fromUtf16(frame.caption));
  top_ = fixedLayout(this);
  body_ = new QVBoxLayout;
  top_->addLayout(body_);
  fitCaption(this, top_);
}

void TemplateDialog::addButtons() {
  // OK and Cancel keep the sides the template gives them.
  std::vector<DialogItem> items = frame_.items;
  std::stable_sort(items.begin(), items.end(), [](const DialogItem& a, const DialogItem& b) { return a.x < b.x; });
  auto* row = new QHBoxLayout;
  QList<QPushButton*> made;
  int minimum = 0;
  for (const DialogItem& item : items) {
    if (!made.isEmpty()) row->addStretch(1);
    auto* b = new QPushButton(QString::fromStdString(item.text), this);
    row->addWidget(b);
    made.push_back(b);
    minimum = std::max(minimum, dialogX(this, item.cx));
    if (item.id == kIdOk) {
      ok_ = b;
      b->setDefault(true);
      connect(b, &QPushButton::clicked, this, &QDialog::accept);
    } else if (item.id == kIdCancel) {
      cancel_ = b;
      connect(b, &QPushButton::clicked, this, &QDialog::reject);
    }
  }
  sameWidth(made, minimum);
  top_->addLayout(row);
}

QLineEdit* EditorDialog::addField(const QString& text, const QStringList& widest, int minimumUnits) {
  auto* f = new QLineEdit(text, this);
  f->setAlignment(Qt::AlignCenter);
  f->setMinimumWidth(std::max(fieldWidth(f, QStringList(widest) << text), dialogX(this, minimumUnits)));
  return f;
}

void EditorDialog::addFieldRow(const QStringList& names, const QString& separator, const QList<uint32_t>& values) {
  auto* grid = new QGridLayout;
  for (int i = 0; i < names.size(); ++i) {
    if (i > 0) grid->addWidget(new QLabel(separator, this), 1, 2 * i - 1, Qt::AlignCenter);
    grid->addWidget(new QLabel(names[i], this), 0, 2 * i, Qt::AlignHCenter | Qt::AlignBottom);
    QLineEdit* f = addField(QString::number(values[i] & 0xFF), {"255"}, 30);
    f->setFixedWidth(f->minimumWidth());
    f->setAccessibleName(names[i]);
    grid->addWidget(f, 1, 2 * i);
    fields_[static_cast<size_t>(i)] = f;
  }
  // Small fields stay together in the middle of a dialog widened by its caption.
  auto* centre = new QHBoxLayout;
  centre->addStretch(1);
  centre->addLayout(grid);
  centre->addStretch(1);
  body()->addLayout(centre);
}

void EditorDialog::addSlider() {
  SliderSetup s = sliderSetup(record_);
  sliderMinimum_ = s.minimum;
  // The slider counts from the minimum, so that any range of the type fits
  // the control and signed ranges need no special case.
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setRange(0, static_cast<int>(std::min<int64_t>(s.maximum - s.minimum, INT_MAX)));
  slider_->setPageStep(1);
  slider_->setTickInterval(s.tickFrequency);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setValue(static_cast<int>(s.position - s.minimum));
  slider_->setMinimumWidth(dialogX(this, 110));
  sliderLabel_ = new QLabel(this);
  QFontMetrics fm(sliderLabel_->font());
  sliderLabel_->setMinimumWidth(std::max(fm.horizontalAdvance("Value: " + number(s.minimum)),
                                         fm.horizontalAdvance("Value: " + number(s.maximum))));
  auto show = [this] { sliderLabel_->setText("Value: " + number(sliderNumber())); };
  show();
  connect(slider_, &QSlider::valueChanged, this, show);
  body()->addWidget(slider_);
  body()->addWidget(sliderLabel_);
}

int64_t EditorDialog::sliderNumber() const { return sliderMinimum_ + slider_->value(); }

void EditorDialog::addList() {
  list_ = new QListWidget(this);
  QFontMetrics fm(list_->font());
  int widest = 0;
  for (const std::string& choice : record_.choices) {
    QString text = QString::fromUtf8(choice.c_str()).left(1023);
    list_->addItem(text);
    widest = std::max(widest, fm.horizontalAdvance(text));
  }
  if (record_.value < static_cast<uint32_t>(list_->count())) list_->setCurrentRow(static_cast<int>(record_.value));
  // Wide enough for the choices, within reason (a longer one scrolls), and a few rows high.
  int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
  int width = widest + scrollBar + 2 * list_->frameWidth() + 2 * fm.averageCharWidth();
  list_->setMinimumWidth(std::clamp(width, dialogX(this, 110), dialogX(this, 300)));
  list_->setMinimumHeight(6 * fm.lineSpacing() + 2 * list_->frameWidth());
  body()->addWidget(list_);
}

void EditorDialog::addWeekdays() {
  static const char* const names[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  auto* grid = new QGridLayout;
  // Columns of one width with a clear gap, so that the names never run together.
  grid->setHorizontalSpacing(QFontMetrics(font()).averageCharWidth() * 2);
  for (int i = 0; i < 7; ++i) {
    grid->addWidget(new QLabel(names[i], this), 0, i, Qt::AlignHCenter);
    auto* box = new QCheckBox(this);
    box->setAccessibleName(names[i]);
    box->setChecked((record_.value >> i) & 1);
    grid->addWidget(box, 1, i, Qt::AlignHCenter);
    grid->setColumnStretch(i, 1);
    days_[static_cast<size_t>(i)] = box;
  }
  body()->addLayout(grid);
}

EditorDialog::EditorDialog(EditorKind kind, const DialogTemplate& frame, EditorRecord& record, QWidget* parent)
    : TemplateDialog(frame, parent), kind_(kind), record_(record) {
  const uint32_t v = record.value;
  switch (kind) {
    case EditorKind::Number: {
      NumberRange r = typeRange(record.type);
      fields_[0] = addField(number(numberShown(record.type, v)), {number(r.minimum), number(r.maximum)}, 110);
      body()->addWidget(fields_[0]);
      break;
    }
    case EditorKind::Text:
      fields_[0] = addField(QString::fromUtf8(record.text.c_str()), {}, 110);
      body()->addWidget(fields_[0]);
      break;
    case EditorKind::Slider: addSlider(); break;
    case EditorKind::HourMinute: addFieldRow({"hour", "min"}, ":", {v >> 8, v}); break;
    case EditorKind::Time: addFieldRow({"hour", "min", "sec"}, ":", {v >> 16, v >> 8, v}); break;
    case EditorKind::Date: addFieldRow({"day", "month", "year"}, "/", {v >> 16, v >> 8, v}); break;
    case EditorKind::List: addList(); break;
    case EditorKind::Weekday: addWeekdays(); break;
    case EditorKind::None: break;
  }
  problem_ = new QLabel("Please enter a number.", this);
  QPalette warning = problem_->palette();
  warning.setColor(QPalette::WindowText, Qt::darkRed);
  problem_->setPalette(warning);
  problem_->hide();
  body()->addWidget(problem_);
  addButtons();
  // Typing goes to the value at once, never to a button, and replaces it.
  for (QWidget* w : std::initializer_list<QWidget*>{fields_[0], slider_, list_, days_[0]})
    if (w) {
      w->setFocus();
      break;
    }
  if (fields_[0]) fields_[0]->selectAll();
}

std::optional<std::array<int64_t, 3>> EditorDialog::readFields() {
  std::array<int64_t, 3> out{};
  for (size_t i = 0; i < fields_.size() && fields_[i]; ++i) {
    std::optional<int64_t> n = parseNumber(fields_[i]->text().toStdString());
    if (!n) {
      problem_->setText("Please enter a number.");
      problem_->show();
      fields_[i]->setFocus();
      fields_[i]->selectAll();
      return std::nullopt;
    }
    out[i] = *n;
  }
  return out;
}

void EditorDialog::accept() {
  uint32_t value = record_.value;
  std::string text = record_.text;
  switch (kind_) {
    case EditorKind::Number:
    case EditorKind::HourMinute:
    case EditorKind::Time:
    case EditorKind::Date: {
      auto n = readFields();
      if (!n) return;  // stays open; nothing is stored
      if (kind_ == EditorKind::Number) {
        // A number the variable cannot hold would reach the device cut to its
        // width (-210 as 46): say what fits instead.
        NumberRange fits = typeRange(record_.type);
        if ((*n)[0] < fits.minimum || (*n)[0] > fits.maximum) {
          problem_->setText(QString("Please enter a number from %1 to %2.").arg(fits.minimum).arg(fits.maximum));
          problem_->show();
          fields_[0]->setFocus();
          fields_[0]->selectAll();
          return;
        }
      }
      auto u = [&](size_t i) { return static_cast<uint32_t>((*n)[i]); };
      if (kind_ == EditorKind::Number)
        value = numberBits(record_.type, (*n)[0]);
      else if (kind_ == EditorKind::HourMinute)
        value = packHourMinute(u(0), u(1));
      else
        value = packThree(u(0), u(1), u(2));
      break;
    }
    case EditorKind::Text: text = fields_[0]->text().toUtf8().left(kEditorTextBytes - 3).toStdString(); break;
    case EditorKind::Slider: value = numberBits(record_.type, sliderNumber()); break;
    case EditorKind::List: value = listChoice(list_->currentRow()); break;
    case EditorKind::Weekday: {
      std::array<bool, 7> checked{};
      for (size_t i = 0; i < 7; ++i) checked[i] = days_[i]->isChecked();
      value = weekdayBits(checked);
      break;
    }
    case EditorKind::None: break;
  }
  record_.value = value;
  record_.text = text;
  record_.applied = 1;
  QDialog::accept();
}

PasswordDialog::PasswordDialog(const DialogTemplate& frame, const PasswordRequest& r, QWidget* parent)
    : TemplateDialog(frame, parent), allowed_(r.allowedChars) {
  label_ = new QLabel(QString::fromUtf8(r.label.c_str()).left(1023), this);
  label_->setAlignment(Qt::AlignCenter);
  label_->setTextFormat(Qt::PlainText);
  label_->setMinimumWidth(dialogX(this, 220));
  body()->addWidget(label_);
  entry_ = new QLineEdit(this);
  entry_->setAlignment(Qt::AlignCenter);
  entry_->setMinimumWidth(dialogX(this, 80));
  body()->addWidget(entry_, 0, Qt::AlignHCenter);
  addButtons();
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

PopupDialog::PopupDialog(const PopupRequest& request, IconRenderer icons, QWidget* parent) : QDialog(parent) {
  setWindowTitle(request.title.empty() ? QString("Pop-up") : QString::fromUtf8(request.title.c_str()).left(128));
  QVBoxLayout* top = fixedLayout(this);
  auto* content = new QHBoxLayout;
  top->addLayout(content);
  if (request.iconId >= 0xFF1000 && request.iconId <= 0xFFFFFE && icons) {
    // Rendered for the screen's pixels, shown 80 wide.
    qreal ratio = devicePixelRatioF();
    if (auto icon = icons(request.iconId, static_cast<uint32_t>(std::lround(80 * ratio)))) {
      QImage image(icon->pixels.data(), static_cast<int>(icon->width), static_cast<int>(icon->height),
                   static_cast<int>(icon->width) * 4, QImage::Format_RGBA8888);
      QPixmap pixmap = QPixmap::fromImage(image);
      pixmap.setDevicePixelRatio(ratio);
      icon_ = new QLabel(this);
      icon_->setPixmap(pixmap);
      content->addWidget(icon_, 0, Qt::AlignTop);
    }
  }
  if (!request.message.empty()) {
    // Lines break only where the message has line breaks; each is centred.
    message_ = new QLabel(QString::fromUtf8(request.message.c_str()).left(1023), this);
    message_->setTextFormat(Qt::PlainText);
    message_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont font("Helvetica");
    font.setPixelSize(18);
    font.setWeight(static_cast<QFont::Weight>(500));
    message_->setFont(font);
    QPalette black = message_->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    message_->setPalette(black);
    content->addWidget(message_, 1);
  }
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (size_t i = 0; i < request.buttonLabels.size(); ++i) {
    // A device's label is shown as it is: '&' is no shortcut marker here.
    QString label = QString::fromUtf8(request.buttonLabels[i].c_str()).left(1023);
    auto* b = new QPushButton(label.replace('&', "&&"), this);
    row->addWidget(b);
    int index = static_cast<int>(i);
    // Only the first eight buttons answer.
    if (index < 8)
      connect(b, &QPushButton::clicked, this, [this, index] {
        selected_ = index;
        accept();
      });
    buttons_.push_back(b);
  }
  row->addStretch(1);
  sameWidth(buttons_, 0);
  top->addLayout(row);
  fitCaption(this, top);
}

}  // namespace okt
