// The main window and the main thread: sends from other threads reach the handler on the main
// thread while it waits in any of its waits, a send on the main thread is a plain call, and a send
// without a window never hangs. The same source runs on the host layer and under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "os/os.h"

namespace {

constexpr char kClassName[] = "KxTestMainWindow";
constexpr auto kPatience = std::chrono::seconds(20);

// A record of our own: the handler answers twice its value.
struct Record {
  int value = 0;
};

class MainWindowTest : public testing::Test {
 protected:
  ~MainWindowTest() override {
    // Releases any sender still blocked, then lets it end.
    os::DestroyMainWindow();
    for (std::thread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
  }

  os::MainWindowResult Create() {
    os::MainWindowHandlers handlers;
    handlers.crossThread = [this](void* record) { return Serve(static_cast<Record*>(record)); };
    return os::CreateMainWindow(kClassName, nullptr, handlers);
  }

  intptr_t Serve(Record* record) {
    if (std::this_thread::get_id() != mainThread_) ++offMainThread_;
    if (nested_ && record->value == 1) {
      Record inner{50};
      EXPECT_EQ(os::SendToMainThread(&inner), 100);  // a plain call, even inside a send
    }
    ++served_;
    return record->value * 2;
  }

  // Starts a worker that sends each of records and keeps the answers.
  void SendFromWorker(std::vector<Record>& records, std::vector<intptr_t>& answers) {
    answers.assign(records.size(), -1);
    workers_.emplace_back([&records, &answers] {
      for (size_t index = 0; index < records.size(); ++index) {
        answers[index] = os::SendToMainThread(&records[index]);
      }
    });
  }

  // Repeats one wait of the main thread until expected sends were served, or patience runs out.
  bool WaitUntilServed(int expected, const std::function<void()>& wait) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (served_ < expected && std::chrono::steady_clock::now() < deadline) wait();
    return served_ == expected;
  }

  const std::thread::id mainThread_ = std::this_thread::get_id();
  std::atomic<int> served_{0};
  std::atomic<int> offMainThread_{0};
  bool nested_ = false;
  std::vector<std::thread> workers_;
};

// A program that runs for a while, so that the main thread waits for it.
std::string SleeperCommand(int milliseconds) {
  return "\"" + std::string(KX_TEST_SLEEPER) + "\" " + std::to_string(milliseconds);
}

struct MainThreadWait {
  const char* name;
  bool forProgram;                          // the wait is for a running program
  std::function<void(os::Process&)> round;  // one round of the wait
};

const MainThreadWait kMainThreadWaits[] = {
    {"PumpMessages", false, [](os::Process&) { os::PumpMessages(); }},
    {"Sleep", false, [](os::Process&) { os::Sleep(50); }},
    {"ProcessWait", true, [](os::Process& program) { program.Wait(50); }},
};

class MainThreadWaitTest : public MainWindowTest,
                           public testing::WithParamInterface<MainThreadWait> {};

TEST_P(MainThreadWaitTest, AWorkersSendIsServedOnTheMainThread) {
  const MainThreadWait& wait = GetParam();
  ASSERT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
  std::vector<Record> records = {{21}};
  std::vector<intptr_t> answers;
  SendFromWorker(records, answers);
  os::Process program;
  if (wait.forProgram) {
    program = os::CreateProcess(SleeperCommand(3000), "", os::kShowHidden);
    ASSERT_TRUE(program.IsValid()) << os::LastErrorMessage();
  }
  ASSERT_TRUE(WaitUntilServed(1, [&] { wait.round(program); }));
  if (wait.forProgram) {
    EXPECT_FALSE(program.Wait(0)) << "served only once the program ended";
  }
  workers_.back().join();
  workers_.clear();
  EXPECT_EQ(answers[0], 42);
  EXPECT_EQ(offMainThread_, 0);
  if (program.IsValid()) {
    EXPECT_TRUE(program.Wait(60000));
  }
}

INSTANTIATE_TEST_SUITE_P(Waits, MainThreadWaitTest, testing::ValuesIn(kMainThreadWaits),
                         [](const testing::TestParamInfo<MainThreadWait>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(MainWindowTest, SeveralWorkersSendAtOnce) {
  ASSERT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
  constexpr int kWorkers = 4;
  constexpr int kSends = 50;
  std::vector<std::vector<Record>> records(kWorkers);
  std::vector<std::vector<intptr_t>> answers(kWorkers);
  for (int worker = 0; worker < kWorkers; ++worker) {
    for (int send = 0; send < kSends; ++send) records[worker].push_back({worker * 1000 + send});
    SendFromWorker(records[worker], answers[worker]);
  }
  EXPECT_TRUE(WaitUntilServed(kWorkers * kSends, [] { os::Sleep(20); }));
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  workers_.clear();
  for (int worker = 0; worker < kWorkers; ++worker) {
    for (int send = 0; send < kSends; ++send) {
      EXPECT_EQ(answers[worker][send], 2 * (worker * 1000 + send));
    }
  }
  EXPECT_EQ(offMainThread_, 0);
}

TEST_F(MainWindowTest, ASendOnTheMainThreadIsAPlainCall) {
  ASSERT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
  EXPECT_TRUE(os::IsMainThread());
  Record record{1};
  nested_ = true;
  bool delivered = false;
  EXPECT_EQ(os::SendToMainThread(&record, &delivered), 2);
  EXPECT_TRUE(delivered);
  EXPECT_EQ(served_, 2);
  // The same, reached from a worker's send.
  std::vector<Record> records = {{1}};
  std::vector<intptr_t> answers;
  SendFromWorker(records, answers);
  EXPECT_TRUE(WaitUntilServed(4, [] { os::Sleep(20); }));
  workers_.back().join();
  EXPECT_EQ(answers[0], 2);
  EXPECT_EQ(offMainThread_, 0);
}

TEST_F(MainWindowTest, WithoutAWindowASendAnswersZeroAtOnce) {
  auto sendFromMain = [] {
    Record record{5};
    bool delivered = true;
    intptr_t answer = os::SendToMainThread(&record, &delivered);
    return answer == 0 && !delivered;
  };
  auto sendFromWorker = [] {
    bool undelivered = false;
    std::thread([&undelivered] {
      Record record{5};
      bool delivered = true;
      intptr_t answer = os::SendToMainThread(&record, &delivered);
      undelivered = answer == 0 && !delivered;
    }).join();  // the main thread serves nothing meanwhile: the send must not wait for it
    return undelivered;
  };
  EXPECT_EQ(os::MainWindow(), nullptr);
  EXPECT_TRUE(sendFromMain());
  EXPECT_TRUE(sendFromWorker());
  ASSERT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
  EXPECT_NE(os::MainWindow(), nullptr);
  os::DestroyMainWindow();
  EXPECT_EQ(os::MainWindow(), nullptr);
  EXPECT_TRUE(sendFromMain());
  EXPECT_TRUE(sendFromWorker());
  EXPECT_EQ(served_, 0);
}

TEST_F(MainWindowTest, ASenderWaitingWhenTheWindowGoesIsReleasedUndelivered) {
  ASSERT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
  std::atomic<bool> sending{false};
  std::atomic<bool> released{false};
  bool delivered = true;
  intptr_t answer = -1;
  Record record{8};
  workers_.emplace_back([&] {
    sending = true;
    answer = os::SendToMainThread(&record, &delivered);
    released = true;
  });
  // A wait that serves nothing, so that the send is still waiting when the window goes.
  while (!sending) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(released);
  os::DestroyMainWindow();
  // Without any further wait of the main thread.
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!released && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(released);
  EXPECT_EQ(answer, 0);
  EXPECT_FALSE(delivered);
  EXPECT_EQ(served_, 0);
}

TEST_F(MainWindowTest, OneMainWindowAtATime) {
  ASSERT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
  os::WindowHandle first = os::MainWindow();
  // Its class is registered while it lives: a second one is refused, the first one untouched.
  EXPECT_EQ(os::CreateMainWindow(kClassName, nullptr, {}), os::MainWindowResult::kClassRefused);
  EXPECT_NE(os::LastErrorMessage().find(kClassName), std::string::npos) << os::LastErrorMessage();
  EXPECT_EQ(os::MainWindow(), first);
  Record record{4};
  EXPECT_EQ(os::SendToMainThread(&record), 8);
  // Once it is gone, the class can be registered again.
  os::DestroyMainWindow();
  EXPECT_EQ(Create(), os::MainWindowResult::kCreated) << os::LastErrorMessage();
}

TEST_F(MainWindowTest, ClassNamesWindowsRefusesAreRefused) {
  for (const std::string& name : {std::string(), std::string(300, 'K')}) {
    EXPECT_EQ(os::CreateMainWindow(name, nullptr, {}), os::MainWindowResult::kClassRefused);
    EXPECT_EQ(os::MainWindow(), nullptr);
  }
}

}  // namespace
