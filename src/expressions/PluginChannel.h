// PluginChannel: how the expression and text services reach the plug-ins without depending on
// the plug-in host. The host installs its channel once plug-ins can be loaded; until then, and in
// the tools, the channel of no plug-ins answers: every broadcast answers 0 and a call to one
// plug-in answers 0 (a plug-in function then gives the empty text).
//
// The block allocator is the one the plug-ins share through the allocation commands: blocks are
// zero-filled and any thread may allocate and free them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Event numbers sent from here.
enum TkxChannelEvent : int32_t {
  EV_LANGUAGECHANGED = 7,
  EV_FEATURESTATECHANGED = 16,
  EV_INSTALLTYPECHANGED = 17,
  EV_CALCFUNCTION = 21,
};

class TkxPluginChannel {
 public:
  virtual ~TkxPluginChannel() = default;

  // Delivers the event to the plug-ins in load order; with toAll false, delivery stops at the
  // first plug-in that answers non-zero and that answer is returned.
  virtual intptr_t Broadcast(int32_t event, intptr_t first, intptr_t second, bool toAll) = 0;
  // Broadcast with the number of a named message (registered when new).
  virtual intptr_t BroadcastNamed(const std::string& name, intptr_t first, intptr_t second,
                                  bool toAll) = 0;
  // The event to one plug-in alone (the Owner of a plug-in function), on the calling thread.
  virtual intptr_t SendToPlugin(const void* plugin, int32_t event, intptr_t first,
                                intptr_t second) = 0;
};

// The installed channel; the channel of no plug-ins when none is installed. Never null.
TkxPluginChannel& PluginChannel();
// Installs a channel (nullptr: back to no plug-ins). The caller keeps it alive while installed.
void SetPluginChannel(TkxPluginChannel* channel);

// A zero-filled block of size bytes (at least one byte is allocated); null when memory is out.
void* AllocMem(size_t size);
// Frees a block of AllocMem; null is ignored.
void FreeMem(void* block);
