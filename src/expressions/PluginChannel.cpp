#include "expressions/PluginChannel.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

class TNoPlugins : public TkxPluginChannel {
 public:
  intptr_t Broadcast(int32_t, intptr_t, intptr_t, bool) override { return 0; }
  intptr_t BroadcastNamed(const std::string&, intptr_t, intptr_t, bool) override { return 0; }
  intptr_t SendToPlugin(const void*, int32_t, intptr_t, intptr_t) override { return 0; }
};

TNoPlugins noPlugins;
std::atomic<TkxPluginChannel*> installed{nullptr};

// The live blocks with their sizes. Never destroyed: a plug-in may free a block while the
// process ends.
struct TBlocks {
  std::mutex mutex;
  std::unordered_map<const void*, size_t> sizes;
};
TBlocks& Blocks() {
  static TBlocks* blocks = new TBlocks;
  return *blocks;
}

}  // namespace

TkxPluginChannel& PluginChannel() {
  TkxPluginChannel* channel = installed.load();
  return channel ? *channel : noPlugins;
}

void SetPluginChannel(TkxPluginChannel* channel) { installed.store(channel); }

void* AllocMem(size_t size) {
  const size_t bytes = size ? size : 1;
  void* block = std::calloc(bytes, 1);
  if (!block) return nullptr;
  TBlocks& blocks = Blocks();
  try {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    blocks.sizes[block] = bytes;
  } catch (const std::bad_alloc&) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void FreeMem(void* block) {
  if (!block) return;
  TBlocks& blocks = Blocks();
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    if (blocks.sizes.erase(block) == 0) return;
  }
  std::free(block);
}

size_t AllocatedSize(const void* block) {
  TBlocks& blocks = Blocks();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  auto found = blocks.sizes.find(block);
  return found == blocks.sizes.end() ? 0 : found->second;
}
