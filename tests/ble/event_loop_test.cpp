// The QtBluetooth library's own Qt event loop at the program's end.
#include <gtest/gtest.h>

#include <cstdlib>

#include "warble/qt/event_loop_thread.h"

namespace okt::warble_qt {
namespace {

// Stands for a global Qt makes on the loop at the first use of one of its
// parts (QtBluetooth's, on the first scan): destroyed by an exit handler
// registered when it was made, after the loop's own.
struct MadeOnTheLoop {
  EventLoopThread* loop;
  ~MadeOnTheLoop() {
    bool ran = false;
    loop->runAndWait([&] { ran = true; });  // returns at once when the loop has ended
    if (ran) std::_Exit(3);                 // destroyed while the loop could still deliver to it
  }
};

TEST(QtLoopDeathTest, EndsBeforeTheGlobalsMadeOnIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto* loop = new EventLoopThread;  // ended by its exit handler
        loop->runAndWait([loop] {
          static MadeOnTheLoop global{loop};
          loop->endBeforeGlobalsOf("the part");
        });
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace okt::warble_qt
