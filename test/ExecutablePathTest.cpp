#include <mach-o/dyld.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ExecutablePathTest, SizeQueryProtocol) {
  std::uint32_t needed = 0;
  ASSERT_EQ(-1, _NSGetExecutablePath(nullptr, &needed));
  ASSERT_GT(needed, 1u);

  // One byte short: refused, the size restated, the buffer left alone.
  std::vector<char> small(needed - 1, 'x');
  std::uint32_t size = needed - 1;
  EXPECT_EQ(-1, _NSGetExecutablePath(small.data(), &size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(std::vector<char>(needed - 1, 'x'), small);

  std::vector<char> exact(needed, 'x');
  size = needed;
  ASSERT_EQ(0, _NSGetExecutablePath(exact.data(), &size));
  EXPECT_EQ(needed - 1, std::strlen(exact.data()));

  struct stat reported;
  struct stat running;
  ASSERT_EQ(0, stat(exact.data(), &reported)) << exact.data();
#if defined(__linux__)
  ASSERT_EQ(0, stat("/proc/self/exe", &running));
  EXPECT_EQ(running.st_dev, reported.st_dev);
  EXPECT_EQ(running.st_ino, reported.st_ino);
#endif
}

}  // namespace
