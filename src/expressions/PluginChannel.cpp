#include "expressions/PluginChannel.h"

#include <atomic>
#include <cstdlib>

namespace {

class TNoPlugins : public TkxPluginChannel {
 public:
  intptr_t Broadcast(int32_t, intptr_t, intptr_t, bool) override { return 0; }
  intptr_t BroadcastNamed(const std::string&, intptr_t, intptr_t, bool) override { return 0; }
  intptr_t SendToPlugin(const void*, int32_t, intptr_t, intptr_t) override { return 0; }
};

TNoPlugins noPlugins;
std::atomic<TkxPluginChannel*> installed{nullptr};

}  // namespace

TkxPluginChannel& PluginChannel() {
  TkxPluginChannel* channel = installed.load();
  return channel ? *channel : noPlugins;
}

void SetPluginChannel(TkxPluginChannel* channel) { installed.store(channel); }

void* AllocMem(size_t size) { return std::calloc(size ? size : 1, 1); }

void FreeMem(void* block) { std::free(block); }
