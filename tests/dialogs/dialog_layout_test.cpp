// Every dialog, at the normal font and at twice its size, is checked for what
// makes it hard to read: controls on top of each other, controls that stick
// out of their parent, text cut by its control, a caption the frame cannot
// show. (A Qt scale factor would not do for the large case: it multiplies
// device pixels under an unchanged layout, while a larger font is what
// changes the layout.)
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QApplication>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>
#include <functional>
#include <memory>

#include "dialogs/qt/dialogs.h"
#include "support/layout_faults.h"

namespace okt {
namespace {

using test::layoutFaults;
using test::scaled;

using Maker = std::function<std::unique_ptr<QDialog>()>;

struct Kind {
  const char* name;
  Maker make;
};

std::vector<Kind> everyKind() {
  static EditorRecord record;  // the editors keep a reference; OK is never pressed on them here
  auto editor = [](EditorKind kind, uint16_t type, uint32_t value, std::function<void(EditorRecord&)> more = {}) {
    return [=]() -> std::unique_ptr<QDialog> {
      ClientState s;
      DialogTemplate frame = buildEditorTemplate(s, 0xFFFFFF);
      frame.caption = u"Modify: Maximum speed of the left-hand conveyor belt (U8)";
      record = EditorRecord{};
      record.type = type, record.value = value;
      if (more) more(record);
      return std::make_unique<EditorDialog>(kind, frame, record);
    };
  };
  auto password = [](uint16_t options, uint8_t maxLength) {
    return [=]() -> std::unique_ptr<QDialog> {
      ClientState s;
      PasswordRequest r;
      r.label = "Enter the service code printed under the battery cover";
      r.options = options, r.allowedChars = 0xF8, r.maxLength = maxLength;
      auto d = std::make_unique<PasswordDialog>(buildPasswordTemplate(s, 0xFFFFFF), r);
      d->entryField()->setText("1234");
      return d;
    };
  };
  auto popup = [](int buttons, bool icon) {
    return [=]() -> std::unique_ptr<QDialog> {
      PopupRequest r;
      r.title = "Filter change due";
      r.message = "The filter has run 2000 hours.\nChange it within a week\nto keep the warranty.";
      if (icon) r.iconId = 0xFF1000;
      for (int i = 0; i < buttons; ++i) r.buttonLabels.push_back("Option & " + std::to_string(i + 1));
      auto square = [](uint32_t, uint32_t width) {
        PixelBuffer p;
        p.width = p.height = width;
        p.pixels.assign(size_t{width} * width * 4, 0x80);
        return std::optional<PixelBuffer>(p);
      };
      return std::make_unique<PopupDialog>(r, square);
    };
  };
  return {
      {"number S32", editor(EditorKind::Number, VariableType::S32, 0x80000000)},
      {"number refusing",
       [n = editor(EditorKind::Number, VariableType::U16, 1)] {
         auto d = n();
         auto* e = static_cast<EditorDialog*>(d.get());
         e->field(0)->setText("abc");
         e->okButton()->click();  // the word about it shows under the field
         return d;
       }},
      {"text",
       editor(EditorKind::Text, VariableType::STRING, 0, [](EditorRecord& r) { r.text = "Kitchen, north wall"; })},
      {"slider S32", editor(EditorKind::Slider, VariableType::S32, 0x80000000,
                            [](EditorRecord& r) { r.minimum = 0x80000000, r.maximum = 0x80000050; })},
      {"hour and minute", editor(EditorKind::HourMinute, VariableType::HOUR_MINUTE, packHourMinute(23, 59))},
      {"time", editor(EditorKind::Time, VariableType::TIME, packThree(23, 59, 59))},
      {"date", editor(EditorKind::Date, VariableType::DATE, packThree(31, 12, 99))},
      {"list", editor(EditorKind::List, VariableType::LIST, 1,
                      [](EditorRecord& r) {
                        r.choices = {"Eco",    "Comfort", "Boost for the first hour after a cold start",
                                     "Off",    "Holiday", "Frost guard",
                                     "Manual", "Night"};
                      })},
      {"weekdays", editor(EditorKind::Weekday, VariableType::WEEKDAYS, 0x41)},
      {"password", password(0x00, 0)},
      {"password with Cancel", password(0x10, 0)},
      {"password shown, limited", password(0x50, 6)},
      {"pop-up, no buttons", popup(0, false)},
      {"pop-up, 1 button", popup(1, true)},
      {"pop-up, 3 buttons", popup(3, false)},
      {"pop-up, 8 buttons", popup(8, true)},
  };
}

class Layout : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { QApplication::setFont(scaled(normal_, GetParam())); }
  void TearDown() override { QApplication::setFont(normal_); }
  QFont normal_ = QApplication::font();
};

TEST_P(Layout, NothingOverlapsOrIsCut) {
  for (const Kind& k : everyKind()) {
    std::unique_ptr<QDialog> d = k.make();
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get())) << k.name;
    QStringList faults = layoutFaults(*d);
    EXPECT_TRUE(faults.isEmpty()) << k.name << " at " << GetParam() * 100 << " %:\n  "
                                  << faults.join("\n  ").toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, Layout, ::testing::Values(1, 2),
                         [](const auto& info) { return std::to_string(info.param * 100) + "percent"; });

// The large case is really larger: every dialog widens with its font, and
// all but the pop-up without buttons (its message has a pixel size) grow taller.
TEST(Layout, DialogsGrowWithTheirFont) {
  const QFont normal = QApplication::font();
  for (const Kind& k : everyKind()) {
    QSize sizes[2];
    for (int scale : {1, 2}) {
      QApplication::setFont(scaled(normal, scale));
      std::unique_ptr<QDialog> d = k.make();
      d->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get())) << k.name;
      sizes[scale - 1] = d->size();
    }
    EXPECT_GT(sizes[1].width(), sizes[0].width()) << k.name;
    EXPECT_GE(sizes[1].height(), sizes[0].height()) << k.name;
  }
  QApplication::setFont(normal);
}

}  // namespace
}  // namespace okt
