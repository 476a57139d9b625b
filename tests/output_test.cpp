// The output layer on its own: what it does when a file can't be written in
// full, and what it replaces.

#include "output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;

class OutputTest : public ::testing::Test {
 protected:
  OutputTest() : dir_fd_(open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY)) {}
  ~OutputTest() override { close(dir_fd_); }

  d88test::TempDir dir_;
  int dir_fd_;
};

TEST_F(OutputTest, AFileThatCannotBeWrittenInFullIsNotLeftBehind) {
  // Files may grow to 1000 bytes at most; a write past that fails with EFBIG.
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 1000;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::vector<uint8_t> data(4096, 0x42);
  std::string error;
  bool written = d88unpack::WriteNewFile(dir_fd_, "BIG", data.data(), data.size(), &error);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "write failed: File too large");
  EXPECT_FALSE(fs::exists(dir_ / "BIG"));
}

TEST_F(OutputTest, ExistingFilesAreReplacedWhateverTheirMode) {
  {
    FILE* f = std::fopen((dir_ / "FILE").c_str(), "wb");
    std::fputs("old contents, longer than the new", f);
    std::fclose(f);
  }
  chmod((dir_ / "FILE").c_str(), 0444);
  const uint8_t data[] = {'n', 'e', 'w'};
  std::string error;
  ASSERT_TRUE(d88unpack::WriteNewFile(dir_fd_, "FILE", data, sizeof data, &error)) << error;
  EXPECT_EQ(d88test::ReadFileBytes(dir_ / "FILE"), "new");
}

TEST_F(OutputTest, SafeNames) {
  for (const char* bad : {"", ".", "..", "/", "a/b", "/etc", "x/"}) {
    EXPECT_FALSE(d88unpack::IsSafeFileName(bad)) << bad;
  }
  for (const char* good : {"...", "a.b", ".x", "\x83\x74", "a b", "-n"}) {
    EXPECT_TRUE(d88unpack::IsSafeFileName(good)) << good;
  }
}

}  // namespace
