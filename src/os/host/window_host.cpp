// The host's main window (see os.h): no window at all, only what the engine needs of it, a queue
// of the records other threads send to the main thread. The main thread serves the queue in
// PumpMessages and in its waits (MainThread.h); a sender blocks until its record was served or
// the window went away.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "os/host/HostErrors.h"
#include "os/host/MainThread.h"
#include "os/os.h"

namespace os {
namespace {

// Windows refuses class names longer than this.
constexpr size_t kMaxClassName = 255;

// One send waiting for the main thread; it lives on the sender's stack until done.
struct PendingSend {
  void* record = nullptr;
  intptr_t answer = 0;
  bool delivered = false;
  bool done = false;
};

struct MainWindowQueue {
  std::mutex mutex;
  std::condition_variable arrived;   // the main thread waits for sends
  std::condition_variable answered;  // senders wait for their answers
  std::deque<PendingSend*> sends;
  std::set<void*> records;  // of the sends not yet answered: each is delivered once
  bool exists = false;
  // Written and read on the main thread only.
  MainWindowHandlers handlers;
};

// Never destroyed: a sender may still be blocked in it while static objects are finalised.
MainWindowQueue& Queue() {
  static MainWindowQueue* queue = new MainWindowQueue;
  return *queue;
}

// The first thread that asks is the program's main thread, since the variable below asks during
// the program's initialisation; CreateMainWindow moves it to the window's thread.
std::atomic<std::thread::id>& MainThreadId() {
  static std::atomic<std::thread::id> id{std::this_thread::get_id()};
  return id;
}
[[maybe_unused]] const bool mainThreadRecorded = (MainThreadId(), true);

// An exception cannot be let through to the wait that serves the send: the send is answered 0.
intptr_t CallCrossThreadHandler(void* record) {
  // A copy, since the handler may destroy the window and with it the handlers.
  std::function<intptr_t(void*)> handler = Queue().handlers.crossThread;
  if (!handler) return 0;
  try {
    return handler(record);
  } catch (...) {
    return 0;
  }
}

// Serves every send waiting; main thread only.
void ServeSends() {
  MainWindowQueue& queue = Queue();
  for (;;) {
    PendingSend* send = nullptr;
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      if (queue.sends.empty()) return;
      send = queue.sends.front();
      queue.sends.pop_front();
    }
    intptr_t answer = CallCrossThreadHandler(send->record);
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      send->answer = answer;
      send->delivered = true;
      send->done = true;
      queue.records.erase(send->record);
    }
    queue.answered.notify_all();
  }
}

// Set by the session-end signal, taken by the main thread where it dispatches. A lock-free atomic
// is all a signal handler may touch.
constexpr int kSessionEndSignal = SIGUSR1;
std::atomic<bool> sessionEndRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void RequestSessionEnd(int) { sessionEndRequested = true; }

void InstallSessionEndSignal() {
  struct sigaction action {};
  action.sa_handler = RequestSessionEnd;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(kSessionEndSignal, &action, nullptr);
}

// What Windows sends a window when the session ends: first the question, then the end itself,
// which ends the session only when the question was answered yes. Main thread only.
void ServeSessionEnd() {
  if (!sessionEndRequested.exchange(false)) return;
  MainWindowHandlers handlers;
  {
    std::lock_guard<std::mutex> lock(Queue().mutex);
    if (!Queue().exists) return;
    handlers = Queue().handlers;
  }
  bool mayEnd = false;
  try {
    mayEnd = handlers.queryEndSession && handlers.queryEndSession();
    if (handlers.endSession) handlers.endSession(mayEnd);
  } catch (...) {
    // As the window procedure answers FALSE for a handler that throws.
  }
}

}  // namespace

MainWindowResult CreateMainWindow(const std::string& className, IconHandle icon,
                                  MainWindowHandlers handlers) {
  MainWindowQueue& queue = Queue();
  const std::string context = "Cannot register the window class " + className;
  if (className.empty() || className.size() > kMaxClassName) {
    host::FailWith(context, "the name is empty or too long");
    return MainWindowResult::kClassRefused;
  }
  std::lock_guard<std::mutex> lock(queue.mutex);
  if (queue.exists) {
    host::FailWith(context, "the class is registered already");
    return MainWindowResult::kClassRefused;
  }
  queue.exists = true;
  queue.handlers = std::move(handlers);
  MainThreadId() = std::this_thread::get_id();
  static const bool signalInstalled = (InstallSessionEndSignal(), true);
  (void)signalInstalled;
  return MainWindowResult::kCreated;
}

void DestroyMainWindow() {
  MainWindowQueue& queue = Queue();
  MainWindowHandlers released;
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (!queue.exists) return;
    queue.exists = false;
    for (PendingSend* send : queue.sends) {
      send->done = true;
      queue.records.erase(send->record);
    }
    queue.sends.clear();
    released = std::move(queue.handlers);
    queue.handlers = {};
  }
  queue.answered.notify_all();
}

WindowHandle MainWindow() {
  MainWindowQueue& queue = Queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  return queue.exists ? &queue : nullptr;
}

bool IsMainThread() { return MainThreadId().load() == std::this_thread::get_id(); }

intptr_t SendToMainThread(void* record, bool* delivered) {
  MainWindowQueue& queue = Queue();
  if (delivered) *delivered = false;
  if (IsMainThread()) {
    if (!MainWindow()) return 0;
    if (delivered) *delivered = true;
    return CallCrossThreadHandler(record);
  }
  PendingSend send;
  send.record = record;
  std::unique_lock<std::mutex> lock(queue.mutex);
  if (!queue.exists || !queue.records.insert(record).second) return 0;
  queue.sends.push_back(&send);
  queue.arrived.notify_all();
  queue.answered.wait(lock, [&send] { return send.done; });
  if (delivered) *delivered = send.delivered;
  return send.answer;
}

bool PumpMessages() {
  if (IsMainThread()) {
    ServeSessionEnd();
    ServeSends();
  }
  return true;
}

namespace host {

void SleepServing(uint32_t milliseconds) {
  if (!IsMainThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  MainWindowQueue& queue = Queue();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    ServeSessionEnd();
    ServeSends();
    std::unique_lock<std::mutex> lock(queue.mutex);
    if (!queue.arrived.wait_until(lock, deadline, [&queue] { return !queue.sends.empty(); })) {
      return;
    }
  }
}

}  // namespace host
}  // namespace os
