// Install: the installation run, the one operation that changes the machine. It walks the
// project database in a fixed order of phases (programs before, old references, removed files,
// files copied on a worker thread, the uninstaller, COM servers, registry values, INI values,
// fonts, shortcuts, environment variables, programs after, the registration for maintenance),
// records every change in the action list, and tells the plug-ins before and after every list
// and item.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "kxplugin.h"

class TkxComponent;
class TkxPackage;
class TXMLObject;

// The code of an item list (KX_LIST_FILES to KX_LIST_PROGRAMS of the plug-in interface), which
// the item events carry in the high word of their first argument.
using TItemList = int32_t;

// The run's progress and file state, written by the worker while it copies, read by the main
// thread and the plug-in commands.
struct TInstallProgress {
  std::atomic<int64_t> TotalBytes{0};
  std::atomic<int64_t> BytesDone{0};
  std::atomic<int64_t> CurrentFileSize{0};
  std::atomic<int64_t> CurrentFileDone{0};
  std::atomic<int> VersionAnswer{1};  // the last answer to a version conflict, 1 to 4
  std::string LastDestination;        // worker only while it runs
};
TInstallProgress& InstallProgress();

// Adds bytes to the current file and the whole run and tells the plug-ins (EV_FILEINSTALLPROGRESS,
// percentages rounded half to even; 100 when there is nothing to count).
void ReportFileProgress(int64_t bytes);

// The install folder with a trailing backslash, as the run computed it at its start.
const std::string& InstallFolder();

// Where a component's item texts are expanded: its package, or the main database without one.
const TXMLObject* ContextOf(TkxPackage* package);

// Calls handler for each component of the main database in order, with the package whose
// FileName is the component's Package (case ignored; nullptr when none). False as soon as a
// handler is; true, stopping, when the run was suspended after a handler.
using TComponentHandler = std::function<bool(TkxPackage* package, TkxComponent& component)>;
bool ForEachComponent(const TComponentHandler& handler);

// Item events: the list code goes in the high word of the first argument.
bool BeforeProcessItems(TItemList list);  // true: the plug-ins let the list run
void AfterProcessItems(TItemList list);
bool BeforeProcessItem(TItemList list, const void* record);  // true: the item is not skipped
void AfterProcessItem(TItemList list, const void* record);

// The whole run; true for success (also when suspended for a reboot).
bool RunInstallation();
