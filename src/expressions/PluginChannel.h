// PluginChannel: how the expression and text services reach the plug-ins without depending on
// the plug-in host. The host installs its channel once plug-ins can be loaded; until then, and in
// the tools, the channel of no plug-ins answers: every broadcast answers 0 and a call to one
// plug-in answers 0 (a plug-in function then gives the empty text).
//
// The block allocator is the one the plug-ins share through the allocation commands: blocks are
// zero-filled and any thread may allocate and free them. It knows every block it handed out, so
// that a pointer a plug-in hands back is checked before the engine reads or frees it.
//
// Event numbers are those of the plug-in SDK (kxplugin.h), the one place that numbers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kxplugin.h"

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
// Frees a block of AllocMem. Null, and anything AllocMem did not hand out (or that was freed
// already), is ignored: such a pointer can only come from a plug-in that got it wrong.
void FreeMem(void* block);
// The bytes of block (at least 1); 0 when block is no live block of AllocMem.
size_t AllocatedSize(const void* block);
