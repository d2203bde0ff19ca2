#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/shared_library.h"

namespace okt {

namespace fs = std::filesystem;

TEST(Paths, TheExecutableIsInItsFolder) {
  std::string dir = platform::executableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::exists(fs::path(dir) / OKT_TEST_EXECUTABLE_NAME)) << dir;
}

TEST(SharedLibrary, FailuresCarryTheLoadersReason) {
  std::string reason;
  EXPECT_EQ(platform::openSharedLibrary(platform::sharedLibraryName("no-such-okt-library"), reason), nullptr);
  EXPECT_NE(reason.find("no-such-okt-library"), std::string::npos) << reason;
}

}  // namespace okt
