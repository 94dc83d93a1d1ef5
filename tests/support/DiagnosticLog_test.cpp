#include "support/DiagnosticLog.h"

#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

TEST(DiagnosticLogTest, TheSwitchIsFoundInEveryFormAndLeavesTheOtherPositionsAlone) {
  struct Case {
    const char* line;
    const char* path;
    const char* rest;  // the parameters without the switch, joined by "|"
  } cases[] = {
      {"setup.exe /s", "", "setup.exe|/s"},
      {"setup.exe /LOG=\"C:\\a b\\x.log\" /repair KxApp", "C:\\a b\\x.log",
       "setup.exe|/repair|KxApp"},
      {"setup.exe \"/log=C:\\a b\\x.log\"", "C:\\a b\\x.log", "setup.exe"},
      {"setup.exe /repair -log C:\\x.log KxApp", "C:\\x.log", "setup.exe|/repair|KxApp"},
      // A switch after it is no file: the log switch alone goes.
      {"setup.exe /log /s", "", "setup.exe|/s"},
      {"setup.exe /s /log", "", "setup.exe|/s"},
      {"setup.exe /logfile=x /s", "", "setup.exe|/logfile=x|/s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(diag::LogPathIn(c.line), c.path);
    std::string rest;
    for (const std::string& param : diag::ParamsWithoutLog(c.line)) {
      rest += (rest.empty() ? "" : "|") + param;
    }
    EXPECT_EQ(rest, c.rest);
  }
}

TEST(DiagnosticLogTest, LinesOfBothThreadsArriveWholeAndNothingIsWrittenWhenClosed) {
  ScratchFolder scratch("diaglog");
  const std::string path = scratch.Path() + "run.log";
  diag::Line("before");
  { diag::Phase nowhere("unseen"); }
  ASSERT_TRUE(diag::Open(path));
  {
    diag::Phase phase("copy");
    std::thread worker([] {
      for (int i = 0; i < 200; ++i) diag::Linef("from the worker %d\nstill one line", i);
    });
    for (int i = 0; i < 200; ++i) diag::Linef("from main %d", i);
    worker.join();
    phase.Ended(false);
  }
  diag::Close("exit code -1");
  diag::Line("after");
  const std::string text = ReadFileText(path);
  EXPECT_EQ(text.find("before"), std::string::npos);
  EXPECT_EQ(text.find("unseen"), std::string::npos);
  EXPECT_EQ(text.find("after"), std::string::npos);
  int worker = 0, main = 0;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    ASSERT_GE(line.size(), 19u) << line;
    const std::string body = line.substr(19);
    if (line.compare(13, 4, "work") == 0) {
      ++worker;
      EXPECT_EQ(body.find("from the worker "), 0u) << line;
      EXPECT_NE(body.find(" still one line"), std::string::npos) << line;
    } else if (body.find("from main") == 0) {
      ++main;
    }
  }
  EXPECT_EQ(start, text.size()) << "the last line is whole";
  EXPECT_EQ(worker, 200);
  EXPECT_EQ(main, 200);
  EXPECT_NE(text.find("main  begin copy\r\n"), std::string::npos);
  EXPECT_NE(text.find("main  end copy: failed ("), std::string::npos);
  EXPECT_NE(text.find("main  exit code -1\r\n"), std::string::npos);
}

}  // namespace
