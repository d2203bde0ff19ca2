#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/log_capture.h"

namespace okt {

TEST(Log, FormatsLongLinesWhole) {
  test::LogCapture capture;
  std::string long_text(2000, 'x');
  platform::logf("%s|%d\n", long_text.c_str(), 42);
  EXPECT_EQ(capture.text(), long_text + "|42\n");
}

TEST(Log, LinesFromManyThreadsStayWhole) {
  test::LogCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) platform::logf("thread %d line %d end\n", t, i);
    });
  for (auto& th : threads) th.join();
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("thread ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 4), " end") << line;
  }
}

}  // namespace okt
