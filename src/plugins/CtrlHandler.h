// CtrlHandler: the commands that plug-ins send to the engine through its command entry, from
// CM_ABORTINSTALL (256) to CM_ADDLOGRECORD (279), and the passing on of a plug-in's own named
// messages to the other plug-ins.
//
// A command works on the sender's database: the package for which the sending plug-in was
// loaded, or the main database when the sender is no loaded plug-in; the configuration commands
// and CM_REGISTERFUNCTION answer 0 for such a sender. Texts and records go back by the buffer
// protocol of module Msg. Parameters are checked before they are read: a null text reads as the
// empty text, a null record as no record.
//
// Commands run on the thread of the plug-in that calls the command entry and take no locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kxplugin.h"

// The largest block CM_ALLOCMEM hands out. No text or record the engine and its plug-ins
// exchange comes near it, and a size read from a plug-in's garbage must not take the process's
// memory.
inline constexpr size_t kMaxPluginBlock = size_t{64} << 20;

// Runs command number for the plug-in numbered sender; its answer. An unknown number that has a
// name is broadcast to the other plug-ins when the sender is a loaded plug-in; otherwise it
// answers 0. Errors of the engine (an expression's syntax, the expansion limit) pass to the
// caller, which is the command entry.
kx_ptr ExecuteCommand(int32_t sender, int32_t number, kx_ptr first, kx_ptr second, bool toAll);

// The offered languages ("ABBREVIATION=display name") that CM_GETLANGUAGE reads: the driver's
// language list, which must outlive its use here. Null (the start): none is offered.
void SetOfferedLanguages(const std::vector<std::string>* languages);
