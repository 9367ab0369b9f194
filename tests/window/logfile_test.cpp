// The log writer on its own: names, encoding, appending, write-through and
// failures, without a window.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "form/logfile.h"

namespace rilvano {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public test::TempDirTest {};

TEST(LogFileName, TakesTheFirstFourCharactersOfThePortName) {
  struct Case {
    const char* port;
    const char* name;
  };
  for (const Case& c : {Case{"COM3:", "Rilvano_log_COM3.txt"}, Case{"COM10:", "Rilvano_log_COM1.txt"},
                        Case{"COM1:", "Rilvano_log_COM1.txt"}, Case{"", "Rilvano_log_.txt"},
                        Case{"C", "Rilvano_log_C.txt"}, Case{"ПОРТ12", "Rilvano_log_ПОРТ.txt"},
                        Case{"\\\\.\\COM3", "Rilvano_log_\\\\.\\.txt"}, Case{"a/b:", "Rilvano_log_a/b:.txt"}}) {
    EXPECT_EQ(LogFileName(c.port), c.name) << c.port;
  }
}

TEST_F(LogFileTest, FailuresCarryTheirNumberAndARussianReason) {
  LogFileWriter log;
  LogError error;
  EXPECT_FALSE(log.Open((Dir() / "missing" / "log.txt").string(), error));
  EXPECT_EQ(error.number, kLogOpenError);
  EXPECT_NE(error.description.find("путь не найден"), std::string::npos) << error.description;
  EXPECT_FALSE(log.IsOpen());

  EXPECT_FALSE(log.WriteLine("x", error));  // nothing open
  EXPECT_EQ(error.number, kLogWriteError);

  ASSERT_TRUE(log.Open("/dev/full", error));
  EXPECT_FALSE(log.WriteLine("x", error));
  EXPECT_EQ(error.number, kLogWriteError);
  EXPECT_NE(error.description.find("нет места на диске"), std::string::npos) << error.description;
  EXPECT_FALSE(log.WriteItem("x", error));
  EXPECT_TRUE(log.WriteItem("", error));  // nothing to write, nothing to fail

  // Opening again lets go of the old file first.
  const fs::path path = Dir() / "log.txt";
  ASSERT_TRUE(log.Open(path.string(), error));
  EXPECT_EQ(log.Path(), path.string());
  EXPECT_TRUE(log.WriteLine("ok", error));
  EXPECT_EQ(test::ReadFileBytes(path), "ok\r\n");
}

// A folder the user may not write to has its own reason, not a bare error
// number. Root writes anywhere, so an unprivileged child tries it.
TEST_F(LogFileTest, UnwritableFolderSaysAccessIsDenied) {
  const fs::path locked = Dir() / "locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(Dir().c_str(), 0755), 0);  // the child must reach it
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const int result = test::InChild([&] {
    ::close(pipeFds[0]);
    if (!test::DropRoot()) return 100;
    LogFileWriter log;
    LogError error;
    if (log.Open((locked / "log.txt").string(), error)) return 1;
    const std::string text = std::to_string(error.number) + " " + error.description;
    return ::write(pipeFds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 101;
  });
  ::close(pipeFds[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  ASSERT_EQ(result, 0) << text;
  EXPECT_EQ(text.rfind(std::to_string(kLogOpenError) + " ", 0), 0u) << text;
  EXPECT_NE(text.find("доступ запрещён"), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(locked / "log.txt"));
}

}  // namespace
}  // namespace rilvano
