#include "plugins/PlugImpl.h"

#include <cstring>
#include <exception>
#include <memory>

#include "expressions/PluginChannel.h"
#include "os/os.h"
#include "plugins/CtrlHandler.h"
#include "plugins/KXPlugins.h"
#include "support/DiagnosticLog.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

// The predefined messages: the events, then the commands, each in the order of their numbers.
constexpr int32_t kPredefinedRanges[][2] = {{EV_SETSTARTUPINFO, EV_QUERYREBOOT},
                                            {CM_ABORTINSTALL, CM_ADDLOGRECORD}};

bool OnMainThread() { return os::IsMainThread(); }
// A record the main window never served (there is none, or it went away meanwhile) is still ours.
intptr_t HandToMainThread(TCrossThreadRecord* record) {
  bool delivered = false;
  const intptr_t answer = os::SendToMainThread(record, &delivered);
  if (!delivered) delete record;
  return answer;
}

// An error of the engine met while serving a plug-in's call must not travel into the plug-in,
// which is C and cannot catch it: it is shown, and the call answers 0.
void ReportEntryError(const char* what) noexcept {
  try {
    ShowErrorBox(what);
  } catch (...) {
  }
}

template <class Call>
auto Guarded(Call call) noexcept -> decltype(call()) {
  try {
    return call();
  } catch (const std::exception& error) {
    ReportEntryError(error.what());
  } catch (...) {
    ReportEntryError("Unknown error in a plug-in command.");
  }
  return 0;
}

int32_t KXAPI MessageCodeEntry(int32_t, const char* name) {
  return Guarded([name] { return name ? MessageCode(name) : 0; });
}

kx_ptr KXAPI CommandEntry(int32_t sender, int32_t number, kx_ptr first, kx_ptr second,
                          int32_t toAll) {
  return Guarded([=] { return ExecuteCommand(sender, number, first, second, toAll != 0); });
}

kx_ptr KXAPI NamedCommandEntry(int32_t sender, const char* name, kx_ptr first, kx_ptr second,
                               int32_t toAll) {
  return Guarded([=]() -> kx_ptr {
    if (!name) return 0;
    return ExecuteCommand(sender, MessageCode(name), first, second, toAll != 0);
  });
}

// A function's result text must be a live block of the allocator; anything else is no result.
// A block the plug-in filled to its end gets its terminating zero in a copy, so that reading the
// text never runs past the block.
intptr_t CheckedFunctionResult(intptr_t answer) {
  void* block = reinterpret_cast<void*>(answer);
  const size_t size = AllocatedSize(block);
  if (size == 0) return 0;
  if (std::memchr(block, 0, size)) return answer;
  void* copy = AllocMem(size + 1);
  if (copy) std::memcpy(copy, block, size);
  FreeMem(block);
  return reinterpret_cast<intptr_t>(copy);
}

class THostChannel : public TkxPluginChannel {
 public:
  intptr_t Broadcast(int32_t event, intptr_t first, intptr_t second, bool toAll) override {
    return ::Broadcast(event, first, second, toAll);
  }
  intptr_t BroadcastNamed(const std::string& name, intptr_t first, intptr_t second,
                          bool toAll) override {
    return ::BroadcastNamed(name, first, second, toAll);
  }
  intptr_t SendToPlugin(const void* owner, int32_t event, intptr_t first,
                        intptr_t second) override {
    TPlugin* plugin = Plugins().FindByIdentity(reinterpret_cast<uintptr_t>(owner));
    if (!plugin) return 0;
    const intptr_t answer = ::SendToPlugin(*plugin, event, first, second);
    return event == EV_CALCFUNCTION ? CheckedFunctionResult(answer) : answer;
  }
};

}  // namespace

TMsgStore::TMsgStore() {
  for (const auto& [first, last] : kPredefinedRanges) {
    for (int32_t number = first; number <= last; ++number) {
      const char* name = kx_message_name(number);
      if (*name) entries_.emplace_back(name, number);
    }
  }
}

int32_t TMsgStore::MessageCode(const std::string& name) {
  if (name.empty()) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [known, number] : entries_) {
    if (SameText(known, name)) return number;
  }
  entries_.emplace_back(name, next_);
  return next_++;
}

std::string TMsgStore::MessageName(int32_t number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [name, known] : entries_) {
    if (known == number) return name;
  }
  return std::string();
}

TMsgStore& MsgStore() {
  static TMsgStore* store = new TMsgStore;
  return *store;
}

int32_t MessageCode(const std::string& name) { return MsgStore().MessageCode(name); }

std::string MessageName(int32_t number) { return MsgStore().MessageName(number); }

intptr_t DeliverCrossThreadRecord(void* record) {
  std::unique_ptr<TCrossThreadRecord> owned(static_cast<TCrossThreadRecord*>(record));
  if (!owned) return 0;
  return BroadcastFrom(owned->Sender, owned->Number, owned->First, owned->Second, owned->ToAll);
}

intptr_t BroadcastFrom(int32_t sender, int32_t number, intptr_t first, intptr_t second,
                       bool toAll) {
  const TPluginList& list = Plugins();
  // Without plug-ins nobody would answer: the worker's many progress events need not wait for
  // the main thread. (The list changes on the main thread only, never while the worker runs.)
  if (list.Count() == 0) return 0;
  if (!OnMainThread()) {
    return HandToMainThread(new TCrossThreadRecord{sender, number, first, second, toAll});
  }
  intptr_t answer = 0;
  // By index, counted afresh each time: the plug-ins' commands run inside this loop.
  for (int index = 0; index < list.Count(); ++index) {
    TPlugin* plugin = list.PluginAt(index);
    if (!plugin || plugin->Number == sender) continue;
    answer = SendToPlugin(*plugin, number, first, second);
    if (!toAll && answer != 0) break;
  }
  return answer;
}

intptr_t Broadcast(int32_t event, intptr_t first, intptr_t second, bool toAll) {
  return BroadcastFrom(0, event, first, second, toAll);
}

intptr_t BroadcastNamed(const std::string& name, intptr_t first, intptr_t second, bool toAll) {
  return Broadcast(MessageCode(name), first, second, toAll);
}

intptr_t SendToPlugin(TPlugin& plugin, int32_t number, intptr_t first, intptr_t second) {
  // A copy: the store may grow while the plug-in runs.
  const std::string name = MessageName(number);
  auto entry = reinterpret_cast<KxEventEntry>(plugin.Info.eventEntry);
  if (name.empty() || !entry) return 0;
  TPluginCodeScope inPlugin(plugin.FileName);
  const intptr_t answer = entry(number, name.c_str(), first, second);
  if (diag::IsOpen()) {
    diag::Linef("%s(%lld, %lld) to %s: %lld", name.c_str(), static_cast<long long>(first),
                static_cast<long long>(second), ExtractFileName(plugin.FileName).c_str(),
                static_cast<long long>(answer));
  }
  return answer;
}

namespace {
thread_local const char* libraryInCall = nullptr;
}

TPluginCodeScope::TPluginCodeScope(const std::string& libraryPath) : previous_(libraryInCall) {
  libraryInCall = libraryPath.c_str();
}

TPluginCodeScope::~TPluginCodeScope() { libraryInCall = previous_; }

const char* PluginLibraryInCall() {
  const char* path = libraryInCall;
  if (!path) return nullptr;
  const char* name = path;
  for (const char* c = path; *c; ++c) {
    if (*c == '\\' || *c == '/') name = c + 1;
  }
  return name;
}

TEngineEntries EngineEntries() {
  return {reinterpret_cast<kx_ptr>(&MessageCodeEntry), reinterpret_cast<kx_ptr>(&CommandEntry),
          reinterpret_cast<kx_ptr>(&NamedCommandEntry)};
}

const void* FunctionOwnerOf(const TPlugin& plugin) {
  return reinterpret_cast<const void*>(plugin.Identity);
}

TkxPluginChannel& HostChannel() {
  static THostChannel channel;
  return channel;
}
