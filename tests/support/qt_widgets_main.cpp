// GoogleTest main for suites with Qt widgets, run without a display unless
// a platform is named (QT_QPA_PLATFORM=xcb under Xvfb, for a screenshot).
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
